// USB module outputs, overload and current-limit states, mode switch and
// reconnect.
#include <cstdint>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"

namespace {

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

int16_t bit16(int c) { return static_cast<int16_t>(1 << c); }

// Module checks of the calls that take -1 for every active module.
int16_t check_addressed(int16_t module) {
  if (module == -1) return kmvusb_active_count > 0 ? int16_t{KMV_NONE} : fail(KMV_NO_ACT_MOD);
  return kmvusb[module].active ? int16_t{KMV_NONE} : fail(KMV_NOT_ACTIVE);
}

// Runs op on the addressed active modules in slot order (for -1 at most
// kmvusb_active_count of them) and stops at its first non-zero result.
template <typename Op>
int16_t for_addressed(int16_t module, Op op) {
  int done = 0;
  for (int16_t m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    if (module != -1 && m != module) continue;
    if (!kmvusb[m].active) continue;
    if (const int16_t r = op(m); r != 0) return r;
    if (module == -1 && ++done >= kmvusb_active_count) break;
  }
  return KMV_NONE;
}

// The register layer in hardware for one manager call, then back.
int16_t disconnect_in_hardware(int16_t m) {
  kmvusb_lower.set_trq_mode(0, 0);
  const int16_t r = kmvusb_lower.disconnect_device(static_cast<int16_t>(kmvusb_priv[m].device_no));
  kmvusb_lower.set_trq_mode(kmvusb_emulated() ? 5 : 0, 0);
  return r;
}

int16_t enable_one(int16_t m, int16_t connector, int16_t enable) {
  KMVUSBModulePrivate &p = kmvusb_priv[m];
  if (connector == -1) {
    if (enable == 0) {
      const int16_t r = disable_outputs_usb(m, -1, 0);
      p.enabled = 0;
      return r;
    }
    KMVUSB_clear_overload(m, -1);
    const int16_t r = KMVUSB_set_parameters(m, 1, &kmvusb[m]);
    if (r == 0) p.enabled = 31;
    return r;
  }
  if (enable == 0) {
    const int16_t r = disable_outputs_usb(m, connector, 0);
    if (r == 0) p.enabled = static_cast<int16_t>(p.enabled & ~bit16(connector));
    return r;
  }
  // For the digital outputs (4) the overload clear refuses and changes nothing.
  KMVUSB_clear_overload(m, connector);
  const int16_t r = setusb_parameters(m, connector, 1, &kmvusb[m]);
  if (r == 0) p.enabled = static_cast<int16_t>(p.enabled | bit16(connector));
  return r;
}

}  // namespace

int16_t disable_outputs_usb(int16_t module, int16_t connector, int16_t with_coolers) {
  if (module < 0 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (connector < -1 || connector > 4) return fail(KMV_BAD_PAR_VAL);
  KMVUSBModulePrivate &p = kmvusb_priv[module];
  const bool emulated = kmvusb_emulated();
  if (connector == -1) {
    p.overload_latch = 0;
    p.curr_lmt = 0;
    if (emulated) {
      sim_ovld_cnt[module] = 0;
      sim_curr_cnt[module] = 0;
      return KMV_NONE;
    }
  } else if (connector < 4) {
    p.overload_latch = static_cast<int16_t>(p.overload_latch & ~bit16(connector));
    p.curr_lmt = static_cast<int16_t>(p.curr_lmt & ~bit16(connector));
  }
  if (emulated) return KMV_NONE;

  unsigned short *regs = kmvusb_regdata(module);
  if (regs == nullptr) return fail(KMV_ERR_USB);
  const int dev = p.ftdi_index;
  // A switch-off tries every write: one that fails does not keep the others on.
  bool failed = false;
  const auto reg = [&](int r, unsigned v) {
    if (kmvusb_lower.set_register(dev, r, static_cast<unsigned short>(v)) != 0) failed = true;
  };
  const auto dac_off = [&](int channel) {
    if (kmvusb_write_dac(module, channel, 0, true) != 0) failed = true;
  };

  if (connector == -1) {
    if (with_coolers) {
      if (kmvusb_lower.clear_all_dacs(dev) != 0) {
        failed = true;
      } else {
        kmvusb_dac_stale[module] = 0;
      }
    } else {
      for (int ch = 4; ch < 8; ++ch) dac_off(ch);
    }
    // Every supply off, the four overload resets pulsed low.
    reg(0, 0xFFFF);
    reg(0, 0x0FFF);
    reg(0, 0xFFFF);
    reg(2, with_coolers ? 0u : regs[2] & 0x000Fu);
  } else if (connector < 4) {
    const int c = connector;
    dac_off(4 + c);
    if (with_coolers) {
      dac_off(c);
      dac_off(8 + c);
    }
    const unsigned r = regs[0] | 0xF000u | 0x111u << c;
    reg(0, r);
    reg(0, r & ~(0x1000u << c));
    reg(0, r);
    if (with_coolers) reg(2, regs[2] & ~(1u << c));
  } else {
    reg(2, regs[2] & 0x00FFu);
  }
  return failed ? fail(KMV_ERR_USB) : int16_t{KMV_NONE};
}

int16_t KMVUSB_enable_outputs(int16_t module, int16_t connector, int16_t enable) {
  if (module < -1 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (connector < -1 || connector > 4) return fail(KMV_BAD_PAR_VAL);
  if (const int16_t r = check_addressed(module); r != 0) return r;
  return for_addressed(module, [&](int16_t m) { return enable_one(m, connector, enable); });
}

int16_t KMVUSB_clear_overload(int16_t module, int16_t connector) {
  if (module < -1 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (connector < -1 || connector > 3) return fail(KMV_BAD_PAR_VAL);
  kmv_err = KMV_NONE;
  if (const int16_t r = check_addressed(module); r != 0) return r;
  const unsigned pulse = connector >= 0 ? 0xFFFFu & ~(0x1000u << connector) : 0x0FFFu;
  const int16_t r = for_addressed(module, [&](int16_t m) -> int16_t {
    KMVUSBModulePrivate &p = kmvusb_priv[m];
    if (!kmvusb_emulated()) {
      unsigned short *regs = kmvusb_regdata(m);
      if (regs == nullptr) return fail(KMV_ERR_USB);
      const unsigned v = regs[0] | 0xF000u;
      const int dev = p.ftdi_index;
      if (kmvusb_lower.set_register(dev, 0, static_cast<unsigned short>(v)) != 0 ||
          kmvusb_lower.set_register(dev, 0, static_cast<unsigned short>(v & pulse)) != 0 ||
          kmvusb_lower.set_register(dev, 0, static_cast<unsigned short>(v)) != 0)
        return fail(KMV_ERR_USB);
    }
    p.overload_latch = connector >= 0 ? static_cast<int16_t>(p.overload_latch & ~bit16(connector)) : int16_t{0};
    return KMV_NONE;
  });
  if (r != 0) return r;
  for (int16_t &n : sim_ovld_cnt) n = 0;
  return kmv_err;
}

int16_t KMVUSB_get_overload_state(int16_t module, int16_t *state) {
  if (module < 0 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (!kmvusb[module].active) return fail(KMV_NOT_ACTIVE);
  KMVUSBModulePrivate &p = kmvusb_priv[module];
  if (!kmvusb_emulated()) {
    unsigned short v = 0;
    if (kmvusb_lower.get_register(p.ftdi_index, 3, &v) != 0) return fail(KMV_ERR_USB);
    p.overload_latch = static_cast<int16_t>(v & 0x000F);
  } else {
    // An overload only where the gain is at least 50 % and the outputs are on.
    int possible = 0;
    for (int c = 0; c < 4; ++c)
      if (kmvusb[module].connector[c].GAIN_HV >= 50.0f && (p.enabled & bit16(c)) != 0) possible |= 1 << c;
    kmv_emulate_overload(module, &p.overload_latch, possible);
  }
  if (state != nullptr) *state = p.overload_latch;
  return KMV_NONE;
}

int16_t KMVUSB_get_curr_lmt_state(int16_t module, int16_t *state) {
  if (module < 0 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (!kmvusb[module].active) return fail(KMV_NOT_ACTIVE);
  KMVUSBModulePrivate &p = kmvusb_priv[module];
  if (!kmvusb_emulated()) {
    unsigned short v = 0;
    if (kmvusb_lower.get_register(p.ftdi_index, 1, &v) != 0) return fail(KMV_ERR_USB);
    p.curr_lmt = static_cast<int16_t>(~v & 0x000F);  // the inputs are active low
  } else {
    const bool draw_now = sim_curr_cnt[module] == kmv_sim_draw_at;
    const int draw = draw_now ? kmv_rand() & 0xF : 0;
    for (int c = 0; c < 4; ++c) {
      const KMVUSBConnectorParameters &k = kmvusb[module].connector[c];
      const int16_t b = bit16(c);
      if (k.COOLING == 0 || k.COOLVOLT == 0.0f || k.COOLCURR == 0.0f || (p.enabled & b) == 0) {
        p.curr_lmt = static_cast<int16_t>(p.curr_lmt & ~b);
      } else if (draw_now && (draw & b) != 0) {
        p.curr_lmt = static_cast<int16_t>(p.curr_lmt ^ b);
      }
    }
    sim_curr_cnt[module] = draw_now ? int16_t{0} : static_cast<int16_t>(sim_curr_cnt[module] + 1);
  }
  if (state != nullptr) *state = p.curr_lmt;
  return KMV_NONE;
}

int16_t KMVUSB_set_mode(int16_t mode, const int16_t flags[4]) {
  if (kmvusb_initialised == 0) return KMV_NOT_INIT;
  // Only the two mode words; nothing changes for another value.
  if ((mode != KMV_MODE_HARDWARE && mode != KMVUSB_MODE_EMULATION) || flags == nullptr) return fail(KMV_BAD_PAR_VAL);
  const int16_t old = kmvusb_hardware;
  const bool from_hardware = old == KMV_MODE_HARDWARE;

  if (mode != KMV_MODE_HARDWARE && from_hardware) {
    // Leaving the hardware: its outputs and coolers go off while it is still reached.
    for (int16_t j = 0; j < KMVUSB_MAX_MODULES; ++j) {
      if (!kmvusb_mod[j].connected) continue;
      disable_outputs_usb(j, -1, 1);
      kmvusb_priv[j].enabled = 0;
    }
  }
  if (mode == KMV_MODE_HARDWARE) {
    kmvusb_active_count = 0;
    if (!from_hardware)
      for (int j = 0; j < KMVUSB_MAX_MODULES; ++j) kmvusb_mod[j] = orig_kmvusb_mod[j];
  }
  kmvusb_hardware = mode;
  kmvusb_lower.set_trq_mode(kmvusb_emulated() ? 5 : 0, 0);

  int counted = 0;
  int16_t last_start = KMV_NONE;
  const auto start = [&](int16_t j) {
    const int16_t r = kmvusb_start_module(j);
    if (r != 0) last_start = r;
    return r;
  };
  for (int16_t j = 0; j < KMVUSB_MAX_MODULES; ++j) {
    KMVUSBModuleInfo &slot = kmvusb_mod[j];
    const bool wanted = flags[j] != 0;
    if (mode != KMV_MODE_HARDWARE) {
      if (from_hardware && slot.connected) {
        disconnect_in_hardware(j);
        slot.connected = 0;
      }
      if (wanted) {
        slot.type = mode;
        slot.port = static_cast<int16_t>(j + 10);
        slot.connected = 1;
        kmvusb_orig[j].active = kmvusb[j].active = 1;
        kmvusb_priv[j].device_no = kmvusb_priv[j].ftdi_index = j;
        if (start(j) == 0) ++counted;
      } else {
        slot.type = KMV_TYPE_NONE;
        slot.init_status = -1;
        slot.connected = 0;
        kmvusb[j].active = 0;
      }
      continue;
    }
    if (slot.type == KMV_TYPE_NONE) {
      slot.connected = 0;
      kmvusb[j].active = 0;
      continue;
    }
    bool running = false;
    if (from_hardware && slot.connected) {
      if (wanted) {
        ++counted;
        running = true;
      } else {
        disable_outputs_usb(j, -1, 1);
        kmvusb_priv[j].enabled = 0;
        kmvusb_lower.disconnect_device(static_cast<int16_t>(kmvusb_priv[j].device_no));
        slot.connected = 0;
      }
    }
    if (!from_hardware && j < no_of_kmvusb_modules) {
      kmvusb_priv[j].device_no = kmvusb_priv_orig[j].device_no;
      kmvusb_priv[j].ftdi_index = kmvusb_priv_orig[j].ftdi_index;
    }
    if (running) continue;
    if (wanted) {
      slot.init_status = -1;
      kmvusb_orig[j].active = kmvusb[j].active = 1;
      start(j);
      if (slot.connected > 0 && kmvusb[j].active) ++counted;
    } else {
      slot.connected = 0;
      kmvusb[j].active = 0;
    }
  }

  int active = 0;
  for (const KMVUSBParameters &p : kmvusb) active += p.active ? 1 : 0;
  kmvusb_active_count = static_cast<int16_t>(active);
  if (counted == 0) return fail(KMV_NO_ACT_MOD);
  return last_start != 0 ? last_start : mode;
}

int16_t KMVUSB_reconnect(int16_t module) {
  if (module < 0 || module >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (!kmvusb[module].active) return fail(KMV_NOT_ACTIVE);
  if (kmvusb_emulated()) return KMV_NONE;  // nothing was lost
  if (kmvusb_lower.reconnect_device(static_cast<int16_t>(kmvusb_priv[module].device_no)) != 0) {
    kmvusb_mod[module].init_status = -9;  // connection failed
    return fail(KMV_CONNECT_USB_MOD);
  }
  kmvusb_mod[module].init_status = 0;
  // The module may have lost power while it was away: the values sent again
  // must reach its DAC even where the cache already holds them.
  kmvusb_dac_stale[module] = 0xFFFF;
  return KMV_NONE;
}
