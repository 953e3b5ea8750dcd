// KMV-100 PCI cards: parameters through the card's control word and its two
// DAC words, output enables, overload and current-limit states, the mode
// switch, close and clean-up.
#include <cstdint>
#include <cstring>

#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "pci/kmv100_ports.h"
#include "pci/plx_device.h"
#include "platform/win/strings.h"
#include "support/Util_fun_numeric.h"

KMVReadPortFun rd_byte_fun = P9050_ReadQVByte;
KMVReadPortFun rd_word_fun = P9050_ReadQVWord;
KMVWriteBytePortFun wr_byte_fun = P9050_WriteQVByte;
KMVWriteWordPortFun wr_word_fun = P9050_WriteQVWord;

namespace {

constexpr uint16_t kStrobes = 0x3000;  // both DAC load strobes inactive

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

// Where a parameter goes on the card.
enum class Target { kControl, kDacA, kDacB, kDigout };
struct Wiring {
  Target target;
  int bit;         // switch bit, or the load strobe of an analogue value
  bool on_high;    // switches: 1 = on
  bool analogue;
};

Wiring wiring(int id) {
  switch (id) {
    case KMV_PAR_C1_P12V: return {Target::kControl, 0, false, false};
    case KMV_PAR_C1_P5V: return {Target::kControl, 1, false, false};
    case KMV_PAR_C1_M5V: return {Target::kControl, 2, true, false};
    case KMV_PAR_C2_P12V: return {Target::kControl, 3, false, false};
    case KMV_PAR_C2_P5V: return {Target::kControl, 4, false, false};
    case KMV_PAR_C2_M5V: return {Target::kControl, 5, true, false};
    case KMV_PAR_C3_COOLING: return {Target::kControl, 6, true, false};
    case KMV_PAR_C2_DIGOUT: return {Target::kDigout, 8, true, false};
    case KMV_PAR_C3_P5V: return {Target::kDacA, 15, false, false};
    case KMV_PAR_C3_P12V: return {Target::kDacA, 14, false, false};
    case KMV_PAR_C3_M5V: return {Target::kDacB, 14, true, false};
    case KMV_PAR_C3_GAIN_HV: return {Target::kDacA, 12, true, true};
    case KMV_PAR_C3_COOLVOLT: return {Target::kDacA, 13, true, true};
    case KMV_PAR_C1_GAIN_HV: return {Target::kDacB, 12, true, true};
    default: return {Target::kDacB, 13, true, true};  // C3_COOLCURR
  }
}

float field(const KMVParameters &p, int id) {
  switch (id) {
    case KMV_PAR_C1_P5V: return p.C1_P5V;
    case KMV_PAR_C1_M5V: return p.C1_M5V;
    case KMV_PAR_C1_P12V: return p.C1_P12V;
    case KMV_PAR_C1_GAIN_HV: return p.C1_GAIN_HV;
    case KMV_PAR_C2_P5V: return p.C2_P5V;
    case KMV_PAR_C2_M5V: return p.C2_M5V;
    case KMV_PAR_C2_P12V: return p.C2_P12V;
    case KMV_PAR_C2_DIGOUT: return p.C2_DIGOUT;
    case KMV_PAR_C3_COOLING: return p.C3_COOLING;
    case KMV_PAR_C3_COOLVOLT: return p.C3_COOLVOLT;
    case KMV_PAR_C3_COOLCURR: return p.C3_COOLCURR;
    case KMV_PAR_C3_GAIN_HV: return p.C3_GAIN_HV;
    case KMV_PAR_C3_P5V: return p.C3_P5V;
    case KMV_PAR_C3_M5V: return p.C3_M5V;
    default: return p.C3_P12V;
  }
}

void set_switch(KMVParameters &p, int id, int16_t v) {
  switch (id) {
    case KMV_PAR_C1_P5V: p.C1_P5V = v; break;
    case KMV_PAR_C1_M5V: p.C1_M5V = v; break;
    case KMV_PAR_C1_P12V: p.C1_P12V = v; break;
    case KMV_PAR_C2_P5V: p.C2_P5V = v; break;
    case KMV_PAR_C2_M5V: p.C2_M5V = v; break;
    case KMV_PAR_C2_P12V: p.C2_P12V = v; break;
    case KMV_PAR_C2_DIGOUT: p.C2_DIGOUT = v; break;
    case KMV_PAR_C3_COOLING: p.C3_COOLING = v; break;
    case KMV_PAR_C3_P5V: p.C3_P5V = v; break;
    case KMV_PAR_C3_M5V: p.C3_M5V = v; break;
    default: p.C3_P12V = v; break;
  }
}

bool card_in_range(int16_t m) { return m >= 0 && m < KMV_MAX_MODULES; }

int16_t check_card(int16_t m) {
  if (!card_in_range(m)) return fail(KMV_MOD_NO);
  if (!kmv[m].active) return fail(KMV_NOT_ACTIVE);
  return KMV_NONE;
}

int16_t check_addressed(int16_t module) {
  if (module < -1 || module >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  if (module == -1) return kmv_active_count > 0 ? int16_t{KMV_NONE} : fail(KMV_NO_ACT_MOD);
  return kmv[module].active ? int16_t{KMV_NONE} : fail(KMV_NOT_ACTIVE);
}

uint16_t read_word(uintptr_t port) { return static_cast<uint16_t>(rd_word_fun(static_cast<QVPort>(port))); }
void write_word(uintptr_t port, uint16_t v) { wr_word_fun(static_cast<QVPort>(port), v); }

uint32_t cntrl_of(int16_t m) { return P9050_ReadReg(kmv_priv[m].device, kmv100::kCntrl); }

bool card_running(int16_t m) { return kmv_mod[m].in_use == 1 && kmv_mod[m].card_ident != 0; }

// Outputs off and marker cleared of a card this program runs.
void release_card(int16_t m) {
  disable_outputs(m, 1);
  kmv_priv[m].outputs_enabled = 0;
  if (kmv_priv[m].device != nullptr) kmv_set_in_use_marker(m, false);
  kmv_mod[m].in_use = 0;
}

}  // namespace

bool kmv_emulated() { return kmv_hardware != KMV_MODE_HARDWARE; }

void kmv_select(int16_t m) {
  kmv_data = &kmv[m];
  kmv_priv_data = &kmv_priv[m];
}

bool kmv_in_use_marker(int16_t m) {
  return kmv_priv[m].device != nullptr && (cntrl_of(m) & kmv100::kCntrlInUse) != 0;
}

void kmv_set_in_use_marker(int16_t m, bool on) {
  WDCDeviceHandle dev = kmv_priv[m].device;
  if (dev == nullptr) return;
  // Only the marker changes: the EEPROM lines stay as they are.
  const uint32_t v = P9050_ReadReg(dev, kmv100::kCntrl) & ~0x0F000000u;
  WDC_WriteAddr32(dev, 0, kmv100::kCntrl, on ? v | kmv100::kCntrlInUse : v & ~kmv100::kCntrlInUse);
}

void kmv_close_device(int16_t m) {
  if (kmv_priv[m].device != nullptr) PLX_DeviceClose(kmv_priv[m].device);
  kmv_priv[m].device = nullptr;
  kmv_priv[m].driver_handle = -1;
  kmv[m].card_ident = 0;
  kmv_mod[m].card_ident = 0;
}

void kmv_keep_driver_message(const char *text) {
  platform::copy_bounded(kmv_err_string, sizeof kmv_err_string, text != nullptr ? text : "");
}

int16_t kmv_apply_parameter(int16_t m, int16_t par_id, int16_t send, float value) {
  kmv_err = KMV_NONE;
  if (par_id < KMV_PAR_C1_P5V || par_id > KMV_PAR_C3_P12V) return fail(KMV_BAD_PAR_ID);
  KMVParameters &rec = kmv[m];
  KMVModulePrivate &p = kmv_priv[m];
  const Wiring w = wiring(par_id);
  float analogue = 0.0f;
  uint16_t v = 0;
  switch (par_id) {
    case KMV_PAR_C1_GAIN_HV:
      analogue = rec.C1_GAIN_HV = limf(value, 0.0f, static_cast<float>(p.hv_limit_c1));
      break;
    case KMV_PAR_C3_GAIN_HV:
      analogue = rec.C3_GAIN_HV = limf(value, 0.0f, static_cast<float>(p.hv_limit_c3));
      break;
    case KMV_PAR_C3_COOLVOLT:
      analogue = rec.C3_COOLVOLT = limf(value, 0.0f, 5.0f);
      break;
    case KMV_PAR_C3_COOLCURR:
      analogue = rec.C3_COOLCURR = limf(value, 0.0f, 2.0f);
      break;
    case KMV_PAR_C2_DIGOUT:
      v = limsu(kmv_truncate_u16(value), 0, 255);
      set_switch(rec, par_id, static_cast<int16_t>(v));
      break;
    default:
      v = kmv_switch_value(value);
      set_switch(rec, par_id, static_cast<int16_t>(v));
      break;
  }
  if (kmv_emulated() || send == 0) return KMV_NONE;
  if (qv_hWD == -1) qv_hWD = p.driver_handle;

  if (w.target == Target::kDigout) {
    const uint16_t c = read_word(p.ctrl_addr);
    write_word(p.ctrl_addr, static_cast<uint16_t>(v << 8 | (c & 0x00FF)));
    // What the card holds is what counts.
    rec.C2_DIGOUT = static_cast<int16_t>((read_word(p.ctrl_addr) >> 8) & 0xFF);
    return KMV_NONE;
  }
  const uintptr_t port = w.target == Target::kControl ? p.ctrl_addr : w.target == Target::kDacA ? p.dac_a_addr
                                                                                                  : p.dac_b_addr;
  const uint16_t old = read_word(port);
  if (!w.analogue) {
    const uint16_t bit = static_cast<uint16_t>(1u << w.bit);
    const bool high = (v != 0) == w.on_high;
    uint16_t word = high ? static_cast<uint16_t>(old | bit) : static_cast<uint16_t>(old & ~bit);
    if (w.target != Target::kControl) word |= kStrobes;
    write_word(port, word);
    return KMV_NONE;
  }
  const double a = analogue;
  const double scaled = par_id == KMV_PAR_C3_COOLVOLT   ? (5.0 - a) * kKmvDacScale / 5.0
                        : par_id == KMV_PAR_C3_COOLCURR ? a * kKmvDacScale / 2.0
                                                        : a * kKmvDacScale / 100.0;
  const auto word = static_cast<uint16_t>((old & 0xC000) | kmv_dac_code(scaled) | kStrobes);
  write_word(port, word);
  write_word(port, static_cast<uint16_t>(word & ~(1u << w.bit)));  // load
  write_word(port, word);
  return KMV_NONE;
}

int16_t KMV_set_parameter(int16_t module, int16_t par_id, int16_t send, float value) {
  if (const int16_t r = check_addressed(module); r != 0) return r;
  if (module >= 0) {
    kmv_select(module);
    return kmv_apply_parameter(module, par_id, send, value);
  }
  int16_t r = KMV_NONE;
  int done = 0;
  for (int16_t m = 0; m < KMV_MAX_MODULES && done < kmv_active_count; ++m) {
    if (!kmv[m].active) continue;
    kmv_select(m);
    r = kmv_apply_parameter(m, par_id, send, value);
    ++done;
  }
  return r;
}

int16_t KMV_set_parameters(int16_t module, int16_t send, const KMVParameters *rec) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (rec == nullptr) return KMV_NONE;
  const KMVParameters values = *rec;  // rec may be the card's own record
  for (int16_t id = KMV_PAR_C1_P5V; id <= KMV_PAR_C3_P12V; ++id) {
    const int16_t r = KMV_set_parameter(module, id, send, field(values, id));
    if (r < 0) return r;
  }
  return KMV_NONE;
}

int16_t KMV_get_parameters(int16_t module, KMVParameters *out) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (out != nullptr) *out = kmv[module];
  return KMV_NONE;
}

int16_t KMV_get_parameter(int16_t module, int16_t par_id, float *value) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (value == nullptr) return KMV_NONE;
  if (par_id < KMV_PAR_C1_P5V || par_id > KMV_PAR_C3_P12V) return fail(KMV_BAD_PAR_ID);
  *value = field(kmv[module], par_id);
  return KMV_NONE;
}

void disable_outputs(int16_t module, int16_t with_cooler) {
  if (!card_in_range(module)) return;
  KMVModulePrivate &p = kmv_priv[module];
  p.overload_latch = 0;
  p.curr_lmt = 0;
  if (kmv_emulated()) {
    sim_ovld_cnt[module] = 0;
    sim_curr_cnt[module] = 0;
    return;
  }
  if (p.device == nullptr) return;  // no card behind the slot
  write_word(p.dac_a_addr, 0xF000);
  write_word(p.dac_a_addr, with_cooler ? 0xC000 : 0xE000);
  write_word(p.dac_a_addr, 0xF000);
  write_word(p.dac_b_addr, 0x3000);
  write_word(p.dac_b_addr, with_cooler ? 0x0000 : 0x2000);
  write_word(p.dac_b_addr, 0x3000);
  uint16_t c = 0x1B;
  if (!with_cooler) c |= read_word(p.ctrl_addr) & 0x40;
  write_word(p.ctrl_addr, c);
  write_word(p.ctrl_addr, c | 0x80);
  write_word(p.ctrl_addr, c);
}

int16_t KMV_enable_outputs(int16_t module, int16_t enable) {
  if (const int16_t r = check_addressed(module); r != 0) return r;
  int16_t r = KMV_NONE;
  int done = 0;
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    if ((module != -1 && m != module) || !kmv[m].active) continue;
    kmv_priv[m].outputs_enabled = enable;
    if (enable != 0) {
      KMV_clear_overload(m);
      r = KMV_set_parameters(m, 1, &kmv[m]);
    } else {
      disable_outputs(m, 0);
      r = KMV_NONE;
    }
    if (module == -1 && ++done >= kmv_active_count) break;
  }
  return r;
}

int16_t KMV_clear_overload(int16_t module) {
  if (const int16_t r = check_addressed(module); r != 0) return r;
  int done = 0;
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    if ((module != -1 && m != module) || !kmv[m].active) continue;
    KMVModulePrivate &p = kmv_priv[m];
    if (!kmv_emulated() && p.device != nullptr) {
      const uint16_t e = read_word(p.ctrl_addr);
      const auto low = static_cast<uint16_t>(e & ~0x80u), high = static_cast<uint16_t>(e | 0x80u);
      if (module != -1) write_word(p.ctrl_addr, low);
      write_word(p.ctrl_addr, high);
      write_word(p.ctrl_addr, low);
    }
    p.overload_latch = 0;
    if (module == -1 && ++done >= kmv_active_count) break;
  }
  for (int16_t &n : sim_ovld_cnt) n = 0;
  return KMV_NONE;
}

int16_t KMV_get_overload_state(int16_t module, int16_t *state) {
  if (const int16_t r = check_card(module); r != 0) return r;
  KMVModulePrivate &p = kmv_priv[module];
  if (!kmv_emulated()) {
    if (p.device != nullptr) {
      const uint32_t v = cntrl_of(module);
      const auto f = static_cast<int16_t>(((v & kmv100::kCntrlOverload1) ? 0 : 1) |
                                          ((v & kmv100::kCntrlOverload3) ? 0 : 2));
      // An overload may have cleared the digital outputs.
      if (p.overload_latch == 0 && f != 0)
        kmv[module].C2_DIGOUT = static_cast<int16_t>((read_word(p.ctrl_addr) >> 8) & 0xFF);
      p.overload_latch = f;
    }
  } else {
    // Connectors 1 and 3 carry the high voltage: an overload only at a gain of at least 50 %.
    const int possible = (kmv[module].C1_GAIN_HV >= 50.0f ? 1 : 0) | (kmv[module].C3_GAIN_HV >= 50.0f ? 2 : 0);
    kmv_emulate_overload(module, &p.overload_latch, possible);
  }
  if (state != nullptr) *state = p.overload_latch;
  return KMV_NONE;
}

int16_t KMV_get_curr_lmt_state(int16_t module, int16_t *state) {
  if (const int16_t r = check_card(module); r != 0) return r;
  KMVModulePrivate &p = kmv_priv[module];
  if (!kmv_emulated()) {
    if (p.device != nullptr) p.curr_lmt = (cntrl_of(module) & kmv100::kCntrlCurrentLimit) ? 0 : 1;
  } else {
    const KMVParameters &k = kmv[module];
    if (k.C3_COOLING != 0 && k.C3_COOLVOLT != 0.0f && k.C3_COOLCURR != 0.0f) {
      if (sim_curr_cnt[module] == kmv_sim_draw_at) {
        sim_curr_cnt[module] = 0;
        if (kmv_rand() & 1) {
          p.curr_lmt = static_cast<int16_t>(p.curr_lmt ^ 1);
          for (int16_t &n : sim_curr_cnt) n = 0;
        }
      } else {
        ++sim_curr_cnt[module];
      }
    } else {
      p.curr_lmt = 0;
    }
  }
  if (state != nullptr) *state = p.curr_lmt;
  return KMV_NONE;
}

int16_t KMV_set_mode(int16_t mode, int16_t takeover, const int16_t flags[8]) {
  if (kmv_initialised == 0) return KMV_NOT_INIT;
  if ((mode != KMV_MODE_HARDWARE && mode != KMV_MODE_EMULATION) || flags == nullptr) return fail(KMV_BAD_PAR_VAL);
  const bool from_hardware = !kmv_emulated();
  if (mode != KMV_MODE_HARDWARE && from_hardware) {
    // Leaving the hardware: its outputs go off and the cards are given back.
    for (int16_t j = 0; j < KMV_MAX_MODULES; ++j) {
      if (card_running(j)) release_card(j);
      kmv_close_device(j);
    }
  }
  if (mode == KMV_MODE_HARDWARE) {
    kmv_active_count = 0;
    if (!from_hardware)
      for (int j = 0; j < KMV_MAX_MODULES; ++j) kmv_mod[j] = orig_kmv_mod[j];
  }
  kmv_hardware = mode;

  int counted = 0;
  int16_t last_start = KMV_NONE;
  for (int16_t j = 0; j < KMV_MAX_MODULES; ++j) {
    KMVModuleInfo &slot = kmv_mod[j];
    const bool wanted = flags[j] != 0;
    if (mode != KMV_MODE_HARDWARE) {
      if (wanted) {
        slot.type = KMV_TYPE_PCI;
        slot.pci_slot = static_cast<int16_t>(j + 10);
        kmv_orig[j].active = kmv[j].active = 1;
        const int16_t r = kmv_start_card(j, takeover);
        if (r != 0) last_start = r;
        if (kmv[j].active) ++counted;
      } else {
        slot.type = KMV_TYPE_NONE;
        slot.init_status = -1;
        kmv[j].active = 0;
      }
      continue;
    }
    if (slot.type == KMV_TYPE_NONE) {
      kmv[j].active = 0;
      continue;
    }
    if (from_hardware && card_running(j)) {
      if (wanted) {
        ++counted;
        continue;
      }
      release_card(j);
      kmv_close_device(j);
    }
    if (!wanted) {
      kmv[j].active = 0;
      continue;
    }
    // A card another program holds is tried again only when it may be taken over.
    if (slot.in_use == -1 && !(takeover && slot.card_ident != 0)) continue;
    slot.in_use = 0;
    slot.init_status = -1;
    kmv_orig[j].active = kmv[j].active = 1;
    const int16_t r = kmv_start_card(j, takeover);
    if (r != 0) last_start = r;
    if (kmv[j].active) ++counted;
  }
  int active = 0;
  for (const KMVParameters &p : kmv) active += p.active ? 1 : 0;
  kmv_active_count = static_cast<int16_t>(active);
  if (counted == 0) return fail(KMV_NO_ACT_MOD);
  return last_start != 0 ? last_start : mode;
}

void kmv_cleanup(void) {
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    if (card_running(m)) release_card(m);
    kmv_mod[m].in_use = orig_kmv_mod[m].in_use = 0;
    kmv_mod[m].init_status = orig_kmv_mod[m].init_status = -1;
    // The cards are given back on every platform: nothing stays registered.
    kmv_close_device(m);
  }
}

int16_t KMV_close(void) {
  if (!kmv_opened) return 1;
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    if (card_running(m)) release_card(m);
    orig_kmv_mod[m].in_use = 0;
    orig_kmv_mod[m].type = orig_kmv_mod[m].pci_bus = orig_kmv_mod[m].pci_slot = orig_kmv_mod[m].init_status = -1;
    kmv_mod[m].init_status = -1;
  }
  kmv_hardware = KMV_MODE_HARDWARE;
  kmv_opened = 0;
  kmv_cleanup();
  kmv_initialised = 0;
  for (KMVParameters &p : kmv) p.active = 0;
  kmv_active_count = 0;
  return 2;
}
