// USB module parameters: clamp, store, and turn a value into a register bit
// or a 12-bit DAC code according to the send flag.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "support/Util_fun_numeric.h"

uint16_t kmvusb_dac_stale[4];

namespace {

constexpr int16_t kSendCacheOnly = 3;

// Register 0 bit of a connector's supply (0 = on).
int supply_bit(int kind, int c) {
  switch (kind) {
    case KMVUSB_PAR_P12V:
      return c;
    case KMVUSB_PAR_P5V:
      return 4 + c;
    default:
      return 8 + c;  // M5V
  }
}

// Emulation: a cooler change ends the connector's current limit.
void end_emulated_limit(int16_t m, int c) {
  if (!kmvusb_emulated()) return;
  kmvusb_priv[m].curr_lmt = static_cast<int16_t>(kmvusb_priv[m].curr_lmt & ~(1 << c));
  sim_curr_cnt[m] = 0;
}

float field_value(const KMVUSBParameters &rec, int par_id) {
  if (par_id == KMVUSB_PAR_DIGOUT) return rec.DIGOUT;
  const KMVUSBConnectorParameters &p = rec.connector[(par_id - 1) / 7];
  switch ((par_id - 1) % 7 + 1) {
    case KMVUSB_PAR_P5V:
      return p.P5V;
    case KMVUSB_PAR_M5V:
      return p.M5V;
    case KMVUSB_PAR_P12V:
      return p.P12V;
    case KMVUSB_PAR_GAIN_HV:
      return p.GAIN_HV;
    case KMVUSB_PAR_COOLING:
      return p.COOLING;
    case KMVUSB_PAR_COOLVOLT:
      return p.COOLVOLT;
    default:
      return p.COOLCURR;
  }
}

bool is_switch(int par_id) {
  if (par_id == KMVUSB_PAR_DIGOUT) return true;
  const int kind = (par_id - 1) % 7 + 1;
  return kind != KMVUSB_PAR_GAIN_HV && kind != KMVUSB_PAR_COOLVOLT && kind != KMVUSB_PAR_COOLCURR;
}

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

// The checks of the calls on one module 0..3.
int16_t check_module(int16_t module) {
  if (module < 0 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (!kmvusb[module].active) return fail(KMV_NOT_ACTIVE);
  return KMV_NONE;
}

}  // namespace

// A float truncated toward zero to 16 bits as an unsigned value wraps it
// (-1 -> 65535); out-of-range and NaN values saturate first instead of being
// undefined.
uint16_t kmv_truncate_u16(float v) {
  if (std::isnan(v)) return 0;
  const double t = std::clamp(std::trunc(static_cast<double>(v)), static_cast<double>(INT32_MIN),
                              static_cast<double>(INT32_MAX));
  return static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(t)));
}

uint16_t kmv_switch_value(float v) { return limsu(kmv_truncate_u16(v), 0, 1); }

// Products in double, clamped as float to the DAC range, then rounded.
uint16_t kmv_dac_code(double scaled) {
  const float f = limf(static_cast<float>(scaled), 0.0f, 4095.0f);
  return static_cast<uint16_t>(qv::round(f));
}

bool kmvusb_emulated() { return kmvusb_hardware != KMV_MODE_HARDWARE; }

unsigned short *kmvusb_regdata(int16_t m) {
  if (m < 0 || m >= KMVUSB_MAX_MODULES) return nullptr;
  const int32_t dev = kmvusb_priv[m].ftdi_index;
  if (dev < 0 || dev >= FTDI_MAX_DEVICES) return nullptr;
  return kmv_regdata[dev];
}

void kmvusb_select(int16_t m) {
  kmvusb_data = &kmvusb[m];
  kmvusb_priv_data = &kmvusb_priv[m];
}

int16_t kmvusb_write_dac(int16_t m, int channel, uint16_t code, bool always) {
  unsigned short *regs = kmvusb_regdata(m);
  if (regs == nullptr) return KMV_ERR_USB;
  const uint16_t bit = static_cast<uint16_t>(1u << channel);
  if (!always && regs[4 + channel] == code && (kmvusb_dac_stale[m] & bit) == 0) return KMV_NONE;
  if (kmvusb_lower.set_dac_chan(kmvusb_priv[m].ftdi_index, static_cast<unsigned char>(channel), code) != 0)
    return KMV_ERR_USB;
  kmvusb_dac_stale[m] = static_cast<uint16_t>(kmvusb_dac_stale[m] & ~bit);
  return KMV_NONE;
}

int16_t kmvusb_apply_parameter(int16_t m, int16_t par_id, int16_t send, float value) {
  kmv_err = KMV_NONE;
  if (par_id < 1 || par_id > KMVUSB_PAR_DIGOUT) return fail(KMV_BAD_PAR_ID);
  KMVUSBParameters &rec = kmvusb[m];
  const int dev = kmvusb_priv[m].ftdi_index;
  unsigned short *regs = kmvusb_regdata(m);
  int r = 0;

  if (par_id == KMVUSB_PAR_DIGOUT) {
    const uint16_t v = limsu(kmv_truncate_u16(value), 0, 255);
    rec.DIGOUT = static_cast<int16_t>(v);
    if (send != 0) {
      if (regs == nullptr) return fail(KMV_ERR_USB);
      const auto word = static_cast<unsigned short>(v << 8 | (regs[2] & 0x00FF));
      if (send == kSendCacheOnly) {
        regs[2] = word;
      } else {
        r = kmvusb_lower.set_register(dev, 2, word);
      }
    }
    return r != 0 ? fail(KMV_ERR_USB) : int16_t{KMV_NONE};
  }

  const int c = (par_id - 1) / 7;
  const int kind = (par_id - 1) % 7 + 1;
  KMVUSBConnectorParameters &p = rec.connector[c];
  switch (kind) {
    case KMVUSB_PAR_P5V:
    case KMVUSB_PAR_M5V:
    case KMVUSB_PAR_P12V: {
      const uint16_t v = kmv_switch_value(value);
      if (kind == KMVUSB_PAR_P5V) {
        p.P5V = static_cast<int16_t>(v);
      } else if (kind == KMVUSB_PAR_M5V) {
        p.M5V = static_cast<int16_t>(v);
      } else {
        p.P12V = static_cast<int16_t>(v);
      }
      if (send == 0) break;
      if (regs == nullptr) return fail(KMV_ERR_USB);
      const int bit = supply_bit(kind, c);
      if (send == kSendCacheOnly) {
        regs[0] = static_cast<unsigned short>(v ? regs[0] & ~(1u << bit) : regs[0] | 1u << bit);
      } else {
        r = kmvusb_lower.set_bit_in_register(dev, 0, bit, static_cast<short>(1 - v));
      }
      break;
    }
    case KMVUSB_PAR_COOLING: {
      const uint16_t v = kmv_switch_value(value);
      p.COOLING = static_cast<int16_t>(v);
      if (regs == nullptr) return fail(KMV_ERR_USB);
      if (send == kSendCacheOnly) {
        regs[2] = static_cast<unsigned short>(v ? regs[2] | 1u << c : regs[2] & ~(1u << c));
      } else {
        r = kmvusb_lower.set_bit_in_register(dev, 2, c, static_cast<short>(v));
      }
      end_emulated_limit(m, c);
      break;
    }
    case KMVUSB_PAR_GAIN_HV: {
      const float v = limf(value, 0.0f, static_cast<float>(kmvusb_priv[m].hv_limit[c]));
      p.GAIN_HV = v;
      if (send != 0) r = kmvusb_write_dac(m, 4 + c, kmv_dac_code(static_cast<double>(v) * kKmvDacScale / 100.0), false);
      break;
    }
    case KMVUSB_PAR_COOLVOLT: {
      const float v = limf(value, 0.0f, 5.0f);
      p.COOLVOLT = v;
      r = kmvusb_write_dac(m, c, kmv_dac_code((5.0 - static_cast<double>(v)) * kKmvDacScale / 5.0), false);
      if (v == 0.0f) end_emulated_limit(m, c);
      break;
    }
    default: {  // COOLCURR: the code never goes below that of 5 mA
      const float v = limf(value, 0.0f, 2.0f);
      p.COOLCURR = v;
      r = kmvusb_write_dac(m, 8 + c, kmv_dac_code(std::max(static_cast<double>(v), 0.005) * kKmvDacScale / 2.0), false);
      if (v == 0.0f) end_emulated_limit(m, c);
      break;
    }
  }
  return r != 0 ? fail(KMV_ERR_USB) : int16_t{KMV_NONE};
}

int16_t KMVUSB_set_parameter(int16_t module, int16_t par_id, int16_t send, float value) {
  if (module < -1 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (module >= 0) {
    if (!kmvusb[module].active) return fail(KMV_NOT_ACTIVE);
    kmvusb_select(module);
    return kmvusb_apply_parameter(module, par_id, send, value);
  }
  if (kmvusb_active_count <= 0) return fail(KMV_NO_ACT_MOD);
  int16_t r = KMV_NONE;
  int done = 0;
  for (int16_t m = 0; m < KMVUSB_MAX_MODULES && done < kmvusb_active_count; ++m) {
    if (!kmvusb[m].active) continue;
    kmvusb_select(m);
    r = kmvusb_apply_parameter(m, par_id, send, value);
    ++done;
  }
  return r;
}

int16_t KMVUSB_set_parameters(int16_t module, int16_t send, const KMVUSBParameters *rec) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (rec == nullptr) return KMV_NONE;
  const KMVUSBParameters values = *rec;  // rec may be the module's own record
  for (int16_t id = 1; id <= KMVUSB_PAR_DIGOUT; ++id) {
    const int16_t flag = is_switch(id) ? (send != 0 ? kSendCacheOnly : 0) : send;
    const int16_t r = KMVUSB_set_parameter(module, id, flag, field_value(values, id));
    if (r < 0) return r;
  }
  if (send != 0) {
    // The switches were collected in the cache: each register goes out once.
    unsigned short *regs = kmvusb_regdata(module);
    const int dev = kmvusb_priv[module].ftdi_index;
    if (regs == nullptr || kmvusb_lower.set_register(dev, 0, regs[0]) != 0 ||
        kmvusb_lower.set_register(dev, 2, regs[2]) != 0)
      return fail(KMV_ERR_USB);
  }
  return KMV_NONE;
}

int16_t setusb_parameters(int16_t module, int16_t connector, int16_t send, const KMVUSBParameters *rec) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (connector < 0 || connector > 4) return fail(KMV_BAD_PAR_VAL);
  if (rec == nullptr) return KMV_NONE;
  const KMVUSBParameters values = *rec;
  kmvusb_select(module);
  if (connector == 4) return kmvusb_apply_parameter(module, KMVUSB_PAR_DIGOUT, send, values.DIGOUT);
  for (int k = 1; k <= 7; ++k) {
    const auto id = static_cast<int16_t>(7 * connector + k);
    const int16_t r = kmvusb_apply_parameter(module, id, send, field_value(values, id));
    if (r < 0) return r;
  }
  return KMV_NONE;
}

int16_t KMVUSB_get_parameters(int16_t module, KMVUSBParameters *out) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (out != nullptr) *out = kmvusb[module];
  return KMV_NONE;
}

int16_t KMVUSB_get_parameter(int16_t module, int16_t par_id, float *value) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (value == nullptr) return KMV_NONE;
  if (par_id < 1 || par_id > KMVUSB_PAR_DIGOUT) return fail(KMV_BAD_PAR_ID);
  *value = field_value(kmvusb[module], par_id);
  return KMV_NONE;
}
