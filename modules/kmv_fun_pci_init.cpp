// KMV-100 PCI card start: the driver, the card count by subsystem id with the
// cards numbered by serial number, the ini file, emulated numbering and the
// start of each card with its in-use marker.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "pci/kmv100_ports.h"
#include "pci/plx_device.h"
#include "pci/plx_eep.h"
#include "platform/win/strings.h"
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_parfile.h"

uint32_t plx_open_options = 16;
int cardNum[8];
WDDriverHandle orig_hWD = -1;
int kmv_bus_list[8];
int kmv_bus_count = 0;

namespace {

constexpr int kKeys = 17;
constexpr const char *kModuleKeys[kKeys] = {
    "KMV_ACTIVE", "PCI_BUS_NO", "C1_P5V",     "C1_M5V",      "C1_P12V",     "C1_GAIN_HV",
    "C2_P5V",     "C2_M5V",     "C2_P12V",    "C2_DIGOUT",   "C3_COOLING",  "C3_COOLVOLT",
    "C3_COOLCURR", "C3_GAIN_HV", "C3_P5V",    "C3_M5V",      "C3_P12V",
};
constexpr const char *kBaseKeys[2] = {"SIMULATION", "PLX_OPEN"};

constexpr KMVModuleInfo kEmptySlot{KMV_TYPE_NONE, -1, -1, 0, -1, 0, {}};

// init_status of a card after its start.
constexpr int16_t kStatusEepromBad = -2;
constexpr int16_t kStatusOpenFailed = -3;
constexpr int16_t kStatusInUse = -4;

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

// Opens card index `index`; the reason of a failure is kept for KMV_WINDRV_ERR.
WDCDeviceHandle open_card(int index) {
  WDCDeviceHandle h = nullptr;
  if (P9050_Open(&h, kmv100::kVendor, kmv100::kDevice, static_cast<uint32_t>(index), plx_open_options) != 1) {
    kmv_keep_driver_message(PLX_GetLastErr());
    return nullptr;
  }
  // The card's registers are ports in its local I/O space.
  const WDCAddrDesc &local = h->spaces[kmv100::kLocalSpace];
  if (h->num_spaces <= kmv100::kLocalSpace || local.is_memory || local.length < kmv100::kLocalBytes ||
      local.kernel == 0) {
    kmv_keep_driver_message("KMV-100: the card's local space (BAR2) is not an I/O space");
    PLX_DeviceClose(h);
    return nullptr;
  }
  return h;
}

// The identity value of an open card: its control-register port, as 16 bits.
int16_t identity_of(WDCDeviceHandle h) {
  return static_cast<int16_t>(h->spaces[kmv100::kLocalSpace].kernel + kmv100::kControl);
}

// The decimal number from the text's third character, 0 when there is none.
uint32_t number_in(const char *text) {
  uint64_t v = 0;
  for (size_t i = 2; i < std::strlen(text) && text[i] >= '0' && text[i] <= '9' && v <= UINT32_MAX; ++i)
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
}

void count_cards() {
  for (int m = 0; m < KMV_MAX_MODULES; ++m) kmv_mod[m] = kEmptySlot;
  int indexes[KMV_MAX_MODULES] = {};
  WDPciSlot slots[KMV_MAX_MODULES] = {};
  int n = P9050_CountQVCards(static_cast<int>(kmv100::kVendor), static_cast<int>(kmv100::kDevice),
                             static_cast<int>(kmv100::kSubsystem), indexes, slots, KMV_MAX_MODULES);
  n = std::clamp(n, 0, KMV_MAX_MODULES);
  no_of_kmv_modules = orig_no_of_kmv_modules = static_cast<int16_t>(n);
  std::memcpy(orig_kmv_mod, kmv_mod, sizeof orig_kmv_mod);

  kmv_bus_count = 0;
  for (int d = 0; d < n; ++d) {
    const int bus = static_cast<int>(slots[d].bus);
    if (std::find(kmv_bus_list, kmv_bus_list + kmv_bus_count, bus) == kmv_bus_list + kmv_bus_count)
      kmv_bus_list[kmv_bus_count++] = bus;
  }
  // At most eight entries: a plain insertion sort.
  for (int i = 1; i < kmv_bus_count; ++i)
    for (int j = i; j > 0 && kmv_bus_list[j - 1] > kmv_bus_list[j]; --j) std::swap(kmv_bus_list[j - 1], kmv_bus_list[j]);

  struct Found {
    char serial[13] = {};
    int32_t number = 0;
    int16_t ident = 0;
    int16_t status = -1;  // a failed open goes with its card, not with the count index
    bool taken = false;
  };
  std::array<Found, KMV_MAX_MODULES> found{};
  for (int d = 0; d < n; ++d) {
    // Each card read by its own index in the count.
    cardNum[d] = indexes[d];
    uint32_t number = 0;
    if (get_kmv_serial_number(static_cast<int16_t>(d), &number, found[d].serial) > 0) {
      found[d].number = static_cast<int32_t>(number);
    } else {
      found[d].serial[0] = '\0';
    }
    found[d].ident = orig_kmv_mod[d].card_ident;
    found[d].status = kmv_mod[d].init_status;
  }
  for (int slot = 0; slot < n; ++slot) {
    int best = -1;
    for (int d = 0; d < n; ++d)
      if (!found[d].taken && (best < 0 || found[d].number < found[best].number)) best = d;
    found[best].taken = true;
    KMVModuleInfo &s = kmv_mod[slot];
    cardNum[slot] = indexes[best];
    platform::copy_bounded(s.serial_no, sizeof s.serial_no, found[best].serial);
    s.pci_slot = static_cast<int16_t>(slots[best].slot);
    s.pci_bus = static_cast<int16_t>(slots[best].bus);
    s.type = KMV_TYPE_PCI;
    s.card_ident = found[best].ident;
    s.init_status = found[best].status;
  }
  std::memcpy(orig_kmv_mod, kmv_mod, sizeof orig_kmv_mod);
}

void set_defaults(int m) {
  kmv_orig[m] = KMVParameters{};
  KMVModulePrivate p{};
  p.pci_bus_no = -1;
  p.driver_handle = -1;
  p.hv_limit_c1 = 100;
  p.hv_limit_c3 = 100;
  kmv_priv_orig[m] = p;
}

void read_card_section(FILE *f, int m) {
  char pattern[24];
  std::snprintf(pattern, sizeof pattern, "KMV_MODULE%d", m + 1);
  KMVIniSection sec(pattern, kKeys, kModuleKeys);
  const int32_t pos = sec.find(f);
  if (pos < 0) return;
  KMVParameters &rec = kmv_orig[m];
  const auto read_int = [&](int id, int lo, int hi) { return sec.read_int(f, pos, id, lo, hi); };
  const auto read_float = [&](int id, float max) { return sec.read_float(f, pos, id, max); };
  kmv_priv_orig[m].pci_bus_no = sec.read_int(f, pos, 1, -1, 7, -1);
  const int32_t active = sec.read_active(f, pos);
  rec.active = static_cast<int16_t>(lim(active, 0, 1));
  kmv_priv_orig[m].setup_active = rec.active;
  if (rec.active == 1) ++kmv_active_count;

  rec.C1_P5V = read_int(KMV_PAR_C1_P5V, 0, 1);
  rec.C1_M5V = read_int(KMV_PAR_C1_M5V, 0, 1);
  rec.C1_P12V = read_int(KMV_PAR_C1_P12V, 0, 1);
  rec.C1_GAIN_HV = read_float(KMV_PAR_C1_GAIN_HV, 100.0f);
  rec.C2_P5V = read_int(KMV_PAR_C2_P5V, 0, 1);
  rec.C2_M5V = read_int(KMV_PAR_C2_M5V, 0, 1);
  rec.C2_P12V = read_int(KMV_PAR_C2_P12V, 0, 1);
  rec.C2_DIGOUT = sec.read_byte(f, pos, KMV_PAR_C2_DIGOUT);
  rec.C3_COOLING = read_int(KMV_PAR_C3_COOLING, 0, 1);
  rec.C3_COOLVOLT = read_float(KMV_PAR_C3_COOLVOLT, 5.0f);
  rec.C3_COOLCURR = read_float(KMV_PAR_C3_COOLCURR, 2.0f);
  rec.C3_GAIN_HV = read_float(KMV_PAR_C3_GAIN_HV, 100.0f);
  rec.C3_P5V = read_int(KMV_PAR_C3_P5V, 0, 1);
  rec.C3_M5V = read_int(KMV_PAR_C3_M5V, 0, 1);
  rec.C3_P12V = read_int(KMV_PAR_C3_P12V, 0, 1);
}

int16_t read_ini(const char *path) {
  KMVIniSection base("KMV_BASE", 2, kBaseKeys);
  FILE *f = nullptr;
  int32_t pos = -1;
  const int16_t r =
      kmv_open_ini(path, "KMV100", base, &f, &pos, &kmv_force_mode_word, &kmv_hardware, KMV_MODE_EMULATION);
  if (r != 0) return r;
  int32_t options = 16;
  if (get_parameter(f, base.get(), pos, 1, &options, 'I') == 1) plx_open_options = static_cast<uint32_t>(options);
  for (int m = 0; m < KMV_MAX_MODULES; ++m) {
    set_defaults(m);
    read_card_section(f, m);
  }
  std::fclose(f);
  return KMV_NONE;
}

void default_selection() {
  if (kmv_force_mode_word >= 0) kmv_hardware = kmv_force_mode_word;
  if (!kmv_emulated()) no_of_kmv_modules = orig_no_of_kmv_modules;
  for (int m = 0; m < KMV_MAX_MODULES; ++m) set_defaults(m);
  kmv_default_slots(KMV_MAX_MODULES, kmv_force_first, kmv_force_count, [](int m) {
    kmv_orig[m].active = 1;
    kmv_priv_orig[m].setup_active = 1;
    ++kmv_active_count;
  });
}

void number_emulated_cards() {
  // Only the numbered slots hold emulated cards, whatever the count found.
  for (KMVModuleInfo &slot : kmv_mod) slot = kEmptySlot;
  no_of_kmv_modules = 0;
  const auto take = [](int m) {
    kmv_mod[m].type = KMV_TYPE_PCI;
    kmv_mod[m].pci_slot = static_cast<int16_t>(m + 10);
    ++no_of_kmv_modules;
  };
  kmv_number_emulated(KMV_MAX_MODULES, kmv_force_first, kmv_force_count,
                      [](int m) -> int16_t & { return kmv_orig[m].active; }, take);
}

// A card configured for one bus of the list sits on that bus.
bool on_configured_bus(int m) {
  const int16_t want = kmv_priv_orig[m].pci_bus_no;
  if (want < 0) return true;
  // An index past the list names no bus.
  return want < kmv_bus_count && kmv_mod[m].pci_bus == kmv_bus_list[want];
}

// Gives back every card a former start left open.
void release_open_cards() {
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    if (kmv_priv[m].device == nullptr) continue;
    if (kmv_mod[m].in_use == 1) {
      disable_outputs(m, 1);
      kmv_set_in_use_marker(m, false);
    }
    kmv_mod[m].in_use = 0;
    kmv_close_device(m);
  }
}

}  // namespace

void KMV_force_mode(int16_t mode, int16_t count, int16_t first) {
  kmv_force_mode_word = mode;
  kmv_force_count = count;
  kmv_force_first = static_cast<int16_t>(first - 1);
}

int16_t get_kmv_serial_number(int16_t m, uint32_t *number, char *text) {
  if (m < 0 || m >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  WDCDeviceHandle h = kmv_priv[m].device;
  const bool opened_here = h == nullptr;
  if (opened_here) {
    h = open_card(cardNum[m]);
    if (h == nullptr) {
      kmv_mod[m].init_status = kStatusOpenFailed;
      return fail(KMV_WINDRV_ERR);
    }
    orig_kmv_mod[m].card_ident = identity_of(h);
  }
  int16_t r = 1;
  char serial[13] = {};
  if (kmv_emulated()) {
    std::snprintf(serial, sizeof serial, "000%d", m + 1);
  } else {
    uint16_t words[7] = {};
    if (read_pci_eep(h, 0x9050, KMV_EEP_SIZE, KMV_EEP_BLOCK_ADDR, 12, words) != 0) {
      r = fail(KMV_EEPROM_READ);
    } else {
      // Twelve raw bytes: an unterminated or erased field is cut at 11 characters.
      std::memcpy(serial, words, 11);
      for (char &c : serial)
        if (static_cast<unsigned char>(c) == 0xFF) c = '\0';
    }
  }
  if (opened_here) PLX_DeviceClose(h);
  if (text != nullptr) std::memcpy(text, serial, sizeof serial);
  if (number != nullptr) *number = r > 0 ? number_in(serial) : 0;
  return r;
}

int16_t kmv_start_card(int16_t m, int16_t takeover) {
  KMVModuleInfo &slot = kmv_mod[m];
  const bool emulated = kmv_emulated();
  KMVModulePrivate &p = kmv_priv[m];
  const bool kept_open = kmv[m].card_ident != 0 && p.device != nullptr;
  if (kept_open) {
    kmv[m].active = kmv_orig[m].active = 1;
  } else {
    if (p.device != nullptr) kmv_close_device(m);
    kmv[m] = kmv_orig[m];
    p = kmv_priv_orig[m];
  }
  kmv_select(m);

  if (!emulated && !kept_open) {
    if (slot.type == KMV_TYPE_NONE || m >= no_of_kmv_modules) {
      kmv[m].active = 0;
      slot = kEmptySlot;
      return fail(KMV_NOT_INIT);
    }
    WDCDeviceHandle h = open_card(cardNum[m]);
    if (h == nullptr) {
      slot.init_status = kStatusOpenFailed;
      p.driver_handle = -1;
      kmv[m].active = 0;
      return fail(KMV_WINDRV_ERR);
    }
    p.device = h;
    p.base_addr = static_cast<uintptr_t>(h->spaces[kmv100::kLocalSpace].kernel);
    p.ctrl_addr = p.base_addr + kmv100::kControl;
    p.dac_a_addr = p.base_addr + kmv100::kDacA;
    p.dac_b_addr = p.base_addr + kmv100::kDacB;
    p.driver_handle = orig_hWD;
    slot.card_ident = kmv[m].card_ident = identity_of(h);
    slot.type = KMV_TYPE_PCI;
  }

  if (!emulated && p.device != nullptr && slot.in_use == 0) {
    if (kmv_in_use_marker(m)) {
      slot.in_use = takeover ? 1 : -1;
    } else {
      slot.in_use = 1;
      kmv_set_in_use_marker(m, true);
    }
  } else if (emulated) {
    if (slot.in_use == 1 && slot.card_ident != 0 && p.device != nullptr) kmv_set_in_use_marker(m, false);
    if (p.device != nullptr) kmv_close_device(m);
    slot.in_use = 1;
    slot.card_ident = kmv[m].card_ident = 0;
  }
  if (slot.in_use == -1) {
    // Another program's card: given back, its identity kept for a take-over.
    slot.init_status = kStatusInUse;
    const int16_t ident = slot.card_ident;
    kmv_close_device(m);
    slot.card_ident = ident;
  }
  if (slot.in_use < 1) {
    kmv[m].active = 0;
    return KMV_NONE;
  }

  const int16_t eep = load_kmv_adjust_para_from_eeprom(m, reinterpret_cast<char *>(kmv_eep_buffer));
  kmv_err = KMV_NONE;
  if (eep != 0) {
    slot.init_status = kStatusEepromBad;
  } else if (slot.serial_no[0] == '\0') {
    if (emulated) {
      std::snprintf(slot.serial_no, sizeof slot.serial_no, "000%d", m + 1);
    } else {
      char text[12] = {};
      std::memcpy(text, kmv_eep_buffer + kmv_eep_par[0].offset, 11);
      std::memcpy(slot.serial_no, text, sizeof slot.serial_no);
    }
  }
  if (eep == 0 && (slot.init_status == -1 || emulated)) slot.init_status = 0;
  disable_outputs(m, 1);
  p.outputs_enabled = 0;
  if (!emulated) kmv_set_in_use_marker(m, true);
  int16_t limit = 100;
  KMV_get_gain_HV_limit(m, 0, &limit);
  KMV_get_gain_HV_limit(m, 1, &limit);
  kmv_err = KMV_set_parameters(m, 0, &kmv[m]);
  return kmv_err;
}

int16_t KMV_init(const char *ini_path) {
  // 1. Reset and count, unless started and forced into the mode it is in.
  const bool reset = kmv_initialised == 0 || kmv_force_mode_word != kmv_hardware;
  if (reset) {
    release_open_cards();
    kmv_err = KMV_NONE;
    kmv_hardware = KMV_MODE_HARDWARE;
    kmv_active_count = 0;
    no_of_kmv_modules = 0;
    std::fill(std::begin(sim_ovld_cnt), std::end(sim_ovld_cnt), 0);
    std::fill(std::begin(sim_curr_cnt), std::end(sim_curr_cnt), 0);
    for (int m = 0; m < KMV_MAX_MODULES; ++m) {
      kmv[m] = KMVParameters{};
      kmv_mod[m].in_use = 0;
    }
    if (WDC_GetWDHandle() == -1) RegisterWinDriver();
    if (qv_hWD == -1) qv_hWD = WDC_GetWDHandle();
    plx_open_options = 16;
  }
  const bool was_emulated = kmv_initialised == -1;
  if (kmv_initialised < 1 && kmv_force_mode_word >= 0) kmv_hardware = kmv_force_mode_word;
  if (reset || was_emulated) count_cards();
  // 2.
  kmv_opened = 1;
  kmv_active_count = 0;
  kmv_err_string[0] = '\0';
  for (int m = 0; m < KMV_MAX_MODULES; ++m) {
    kmv_mod[m] = orig_kmv_mod[m];
    if (kmv_priv[m].device == nullptr) kmv_mod[m].card_ident = orig_kmv_mod[m].card_ident = 0;
    kmv_orig[m].card_ident = 0;
  }
  // 3. The port accessors, where the platform's driver gives port access.
  orig_hWD = qv_hWD;
  if (kmv_platform() == 3 && orig_hWD != -1) {
    rd_byte_fun = P9050_ReadQVByte;
    rd_word_fun = P9050_ReadQVWord;
    wr_byte_fun = P9050_WriteQVByte;
    wr_word_fun = P9050_WriteQVWord;
  }
  // 4.
  if (ini_path != nullptr && ini_path[0] != '\0') {
    if (const int16_t r = read_ini(ini_path); r != 0) return r;
  } else {
    default_selection();
  }
  if (kmv_active_count == 0) return fail(KMV_NO_ACT_MOD);
  // 5.
  const bool emulated = kmv_emulated();
  if (emulated) number_emulated_cards();
  kmv_err = KMV_NONE;
  kmv_initialised = emulated ? -1 : 1;
  kmv_force_mode_word = -1;
  kmv_force_first = -1;
  kmv_force_count = 0;
  // 6, 7. Only the cards started now count as active.
  int tried = 0, running = 0;
  int16_t open_failure = KMV_NONE;
  kmv_active_count = 0;
  for (KMVParameters &p : kmv) p.active = 0;
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    if (!kmv_orig[m].active) continue;
    if (!emulated && !on_configured_bus(m)) {
      kmv_orig[m].active = 0;
      continue;
    }
    kmv[m].active = kmv_orig[m].active;
    kmv_err = kmv_start_card(m, 0);
    if (kmv_err == KMV_WINDRV_ERR) open_failure = kmv_err;
    orig_kmv_mod[m] = kmv_mod[m];
    if (kmv_mod[m].type != KMV_TYPE_NONE) ++tried;
    if (kmv[m].active) ++running;
    if (tried >= no_of_kmv_modules) break;
  }
  int active = 0;
  for (const KMVParameters &p : kmv) active += p.active ? 1 : 0;
  kmv_active_count = static_cast<int16_t>(active);
  if (running > 0) return kmv_err;
  // Nothing runs: a card the driver would not open says more than "no card".
  if (open_failure == KMV_NONE && !emulated && no_of_kmv_modules == 0 && P9050_ErrorString[0] != '\0') {
    // No card counted: the count's reason (no driver, no card) is the driver's message.
    kmv_keep_driver_message(P9050_ErrorString);
    kmv_err_string[std::strcspn(kmv_err_string, "\n")] = '\0';
    open_failure = KMV_WINDRV_ERR;
  }
  return fail(open_failure != KMV_NONE ? open_failure : int16_t{KMV_NO_ACT_MOD});
}
