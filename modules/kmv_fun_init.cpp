// USB module start: the ini file, the device scan with its slot assignment,
// emulated numbering and the start of each module.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "modules/qv_usb_fun.h"
#include "platform/win/strings.h"
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_parfile.h"

namespace {

constexpr int kKeys = 30;
// The key of each parameter id in a module section.
constexpr const char *kModuleKeys[kKeys] = {
    "KMVUSB_ACTIVE", "C1U_P5V",     "C1U_M5V",      "C1U_P12V",     "C1U_GAIN_HV",  "C1U_COOLING",
    "C1U_COOLVOLT",  "C1U_COOLCURR", "C2U_P5V",     "C2U_M5V",      "C2U_P12V",     "C2U_GAIN_HV",
    "C2U_COOLING",   "C2U_COOLVOLT", "C2U_COOLCURR", "C3U_P5V",     "C3U_M5V",      "C3U_P12V",
    "C3U_GAIN_HV",   "C3U_COOLING",  "C3U_COOLVOLT", "C3U_COOLCURR", "C4U_P5V",     "C4U_M5V",
    "C4U_P12V",      "C4U_GAIN_HV",  "C4U_COOLING",  "C4U_COOLVOLT", "C4U_COOLCURR", "C5U_DIGOUT",
};
constexpr const char *kBaseKeys[1] = {"SIMULATION_USB"};

constexpr KMVUSBModuleInfo kEmptySlot{KMV_TYPE_NONE, 0, 0, -1, {}};

// init_status of a slot after its start.
constexpr int16_t kStatusStarted = 0;
constexpr int16_t kStatusEepromBad = -2;     // EEPROM block unreadable
constexpr int16_t kStatusAbsent = -4;        // not present or not connected; made inactive
constexpr int16_t kStatusConnectFailed = -9;

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

bool emulation_word(int16_t word) { return word != KMV_MODE_HARDWARE; }

void zero_slot(int m) {
  kmvusb_mod[m] = kEmptySlot;
  kmvusb[m] = KMVUSBParameters{};
  kmvusb_priv[m] = KMVUSBModulePrivate{};
}

// The values of a slot before its section is read.
void set_defaults(int m) {
  kmvusb_orig[m] = KMVUSBParameters{};
  KMVUSBModulePrivate p{};
  p.device_no = -1;
  p.ftdi_index = -1;
  for (int c = 0; c < 4; ++c) p.hv_limit[c] = 100;
  if (emulation_word(kmvusb_hardware)) {
    p.device_no = m;
    p.ftdi_index = m;
  } else if (m < no_of_kmvusb_modules) {
    p.device_no = kmvusb_priv[m].device_no;
    p.ftdi_index = kmvusb_priv[m].ftdi_index;
  }
  kmvusb_priv_orig[m] = p;
}

// The keys of slot m's section; a missing key leaves its default.
void read_module_section(FILE *f, int m) {
  char pattern[24];
  std::snprintf(pattern, sizeof pattern, "KMVUSB_MODULE%d", m + 1);
  KMVIniSection sec(pattern, kKeys, kModuleKeys);
  const int32_t pos = sec.find(f);
  if (pos < 0) return;

  const int32_t active = sec.read_active(f, pos);
  KMVUSBParameters &rec = kmvusb_orig[m];
  rec.active = static_cast<int16_t>(lim(active, 0, 1));
  kmvusb_priv_orig[m].setup_active = rec.active;
  if (rec.active == 1) ++kmvusb_active_count;

  for (int c = 0; c < 4; ++c) {
    KMVUSBConnectorParameters &p = rec.connector[c];
    const auto read_switch = [&](int kind) { return sec.read_int(f, pos, 7 * c + kind, 0, 1); };
    const auto read_float = [&](int kind, float max) { return sec.read_float(f, pos, 7 * c + kind, max); };
    p.P5V = read_switch(KMVUSB_PAR_P5V);
    p.M5V = read_switch(KMVUSB_PAR_M5V);
    p.P12V = read_switch(KMVUSB_PAR_P12V);
    p.GAIN_HV = read_float(KMVUSB_PAR_GAIN_HV, 100.0f);
    p.COOLING = read_switch(KMVUSB_PAR_COOLING);
    p.COOLVOLT = read_float(KMVUSB_PAR_COOLVOLT, 5.0f);
    p.COOLCURR = read_float(KMVUSB_PAR_COOLCURR, 2.0f);
  }
  rec.DIGOUT = sec.read_byte(f, pos, KMVUSB_PAR_DIGOUT);
}

// Reads the base and module sections. 0, or the failure to return.
int16_t read_ini(const char *path) {
  KMVIniSection base("KMVUSB_BASE", 1, kBaseKeys);
  FILE *f = nullptr;
  int32_t pos = -1;
  const int16_t r = kmv_open_ini(path, "KMVUSB", base, &f, &pos, &kmvusb_force_mode_word, &kmvusb_hardware,
                                 KMVUSB_MODE_EMULATION);
  if (r != 0) return r;
  for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    set_defaults(m);
    read_module_section(f, m);
  }
  std::fclose(f);
  return KMV_NONE;
}

// Without a file: the forced or default module selection.
void default_selection() {
  if (kmvusb_force_mode_word >= 0) kmvusb_hardware = kmvusb_force_mode_word;
  if (!emulation_word(kmvusb_hardware)) no_of_kmvusb_modules = orig_no_of_kmvusb_modules;
  // Every slot starts from its defaults, so none stays active from an earlier start.
  for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) set_defaults(m);
  kmv_default_slots(KMVUSB_MAX_MODULES, kmvusb_force_first, kmvusb_force_count, [](int m) {
    kmvusb_orig[m].active = 1;
    kmvusb_priv_orig[m].setup_active = 1;
    ++kmvusb_active_count;
  });
}

void number_emulated_modules() {
  no_of_kmvusb_modules = 0;
  const auto take = [](int m) {
    kmvusb_mod[m].type = kmvusb_hardware;
    kmvusb_mod[m].port = static_cast<int16_t>(m + 10);
    ++no_of_kmvusb_modules;
  };
  kmv_number_emulated(KMVUSB_MAX_MODULES, kmvusb_force_first, kmvusb_force_count,
                      [](int m) -> int16_t & { return kmvusb_orig[m].active; }, take);
}

struct Candidate {
  int32_t device_no = -1;
  int32_t ftdi_index = -1;
  int16_t port = 0;
  char serial[12] = {};
  uint32_t number = 0;
  int32_t variant = 0;
  bool taken = false;
};

// The untaken candidate with the lowest serial number (the earlier one on a
// tie), of the variant when it is not 0; -1 when there is none.
int lowest(const std::array<Candidate, KMVUSB_MAX_MODULES> &c, int n, int variant) {
  int best = -1;
  for (int k = 0; k < n; ++k) {
    if (c[k].taken || (variant != 0 && c[k].variant != variant)) continue;
    if (best < 0 || c[k].number < c[best].number) best = k;
  }
  return best;
}

void device_scan() {
  std::fill(std::begin(trqeep_valid), std::end(trqeep_valid), 0);
  std::fill(std::begin(trqlim_valid), std::end(trqlim_valid), 0);
  for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) zero_slot(m);

  int n = kmvusb_lower.find_devices(5);
  // The slots take four modules; further devices stay unused.
  n = n < 0 ? 0 : n > KMVUSB_MAX_MODULES ? KMVUSB_MAX_MODULES : n;
  no_of_kmvusb_modules = orig_no_of_kmvusb_modules = static_cast<int16_t>(n);
  std::memcpy(orig_kmvusb_mod, kmvusb_mod, sizeof orig_kmvusb_mod);
  if (n == 0) return;

  std::array<Candidate, KMVUSB_MAX_MODULES> cand{};
  int found = 0;
  for (int i = 0; i < QVUSB_FTDI_DEVICES && found < n; ++i) {
    if (usb_dev[i].kind != 5) continue;
    Candidate &c = cand[found];
    c.device_no = i;
    c.ftdi_index = usb_dev[i].device_no;
    c.port = static_cast<int16_t>(usb_dev[i].com_port);
    kmvusb_priv[found].device_no = kmvusb_priv_orig[found].device_no = c.device_no;
    kmvusb_priv[found].ftdi_index = kmvusb_priv_orig[found].ftdi_index = c.ftdi_index;
    ++found;
  }
  for (int k = 0; k < found; ++k) {
    char text[17] = {};
    if (get_kmvusb_serial_number(static_cast<int16_t>(k), &cand[k].number, text, &cand[k].variant) != 0) {
      cand[k].number = 0;
      cand[k].variant = 0;
    } else {
      platform::copy_bounded(cand[k].serial, sizeof cand[k].serial, text);
    }
  }

  const auto assign = [&](int slot, int k) {
    Candidate &c = cand[k];
    KMVUSBModuleInfo &s = kmvusb_mod[slot];
    std::memcpy(s.serial_no, c.serial, sizeof s.serial_no);
    s.type = KMV_TYPE_USB;
    s.port = c.port;
    kmvusb_priv[slot].device_no = kmvusb_priv_orig[slot].device_no = c.device_no;
    kmvusb_priv[slot].ftdi_index = kmvusb_priv_orig[slot].ftdi_index = c.ftdi_index;
    c.taken = true;
  };
  // Variant 1 and 2 modules alternate from slot 0 while both are left.
  int slot = 0, want = 1;
  for (; slot < found; ++slot, want = 3 - want) {
    const int k = lowest(cand, found, want);
    if (k < 0) break;
    assign(slot, k);
  }
  for (; slot < found; ++slot) assign(slot, lowest(cand, found, 0));
  std::memcpy(orig_kmvusb_mod, kmvusb_mod, sizeof orig_kmvusb_mod);
}

}  // namespace

void KMVUSB_force_mode(int16_t mode, int16_t count, int16_t first) {
  kmvusb_force_mode_word = mode;
  kmvusb_force_count = count;
  kmvusb_force_first = static_cast<int16_t>(first - 1);
}

int16_t get_kmvusb_serial_number(int16_t k, uint32_t *number, char *text, int32_t *variant) {
  if (text == nullptr) return -1;
  if (k < 0 || k >= KMVUSB_MAX_MODULES) return fail(KMV_MOD_NO);
  if (kmvusb_emulated()) {
    std::snprintf(text, 17, "000%d", k + 1);
    if (number) *number = static_cast<uint32_t>(k + 1);
    if (variant) *variant = k % 2 + 1;
    return KMV_NONE;
  }
  uint8_t *image = kmvusb_eep_buffer + KMVUSB_EEP_SIZE * k;
  const int16_t r = load_kmvusb_adjust_para_from_eeprom(k, reinterpret_cast<char *>(image), 1);
  if (r != 0) return r;
  std::memcpy(text, image + kmvusb_eep_par[1].offset, 16);
  text[16] = '\0';
  if (number) {
    // The decimal from the third character on; 0 when there is none.
    uint64_t v = 0;
    for (size_t i = 2; i < std::strlen(text) && text[i] >= '0' && text[i] <= '9' && v <= UINT32_MAX; ++i)
      v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    *number = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  }
  if (variant) {
    char name[17] = {};
    std::memcpy(name, image + kmvusb_eep_par[0].offset, 16);
    *variant = std::strstr(name, "-1") ? 1 : std::strstr(name, "-2") ? 2 : 0;
  }
  return KMV_NONE;
}

int16_t kmvusb_start_module(int16_t m) {
  kmvusb[m] = kmvusb_orig[m];
  kmvusb_priv[m] = kmvusb_priv_orig[m];
  kmvusb_select(m);
  KMVUSBModuleInfo &slot = kmvusb_mod[m];
  const bool emulated = kmvusb_emulated();
  bool connect_failed = false;

  if (emulated) {
    kmvusb[m].active = kmvusb_orig[m].active = 1;
    slot.connected = 1;
    kmvusb_priv[m].device_no = kmvusb_priv[m].ftdi_index = m;
  } else {
    if (slot.type == KMV_TYPE_NONE || kmvusb_active_count >= no_of_kmvusb_modules) {
      kmvusb[m].active = 0;
      slot = kEmptySlot;
      return KMV_NOT_INIT;
    }
    const int32_t dev = kmvusb_priv[m].device_no;
    const bool in_table = dev >= 0 && dev < QVUSB_MAX_DEVICES;
    const int16_t r = in_table ? kmvusb_lower.connect_device(static_cast<int16_t>(dev)) : int16_t{QVUSB_DEV_NO};
    if (r != 0) {
      slot.init_status = kStatusConnectFailed;
      connect_failed = true;
    } else {
      slot.type = KMV_TYPE_USB;
    }
    // What the manager holds, also after a failed connect.
    slot.connected = in_table ? usb_dev[dev].connected : int16_t{0};
    ++kmvusb_active_count;
    if (slot.connected < 1) {
      slot.init_status = kStatusAbsent;
      kmvusb[m].active = 0;
      return KMV_NONE;
    }
  }

  uint8_t *image = kmvusb_eep_buffer + KMVUSB_EEP_SIZE * m;
  const int16_t eep = load_kmvusb_adjust_para_from_eeprom(m, reinterpret_cast<char *>(image), 1);
  kmv_err = KMV_NONE;
  if (eep != 0) {
    slot.init_status = kStatusEepromBad;
  } else if (slot.serial_no[0] == '\0') {
    if (emulated) {
      std::snprintf(slot.serial_no, sizeof slot.serial_no, "000%d", m + 1);
    } else {
      char text[12] = {};
      std::memcpy(text, image + kmvusb_eep_par[1].offset, 11);
      std::memcpy(slot.serial_no, text, sizeof slot.serial_no);
    }
  }
  if (!connect_failed && eep == 0 && (slot.init_status == -1 || emulated)) slot.init_status = kStatusStarted;

  disable_outputs_usb(m, -1, 1);
  kmvusb_priv[m].enabled = 0;
  for (int16_t c = 0; c < 4; ++c) {
    int16_t limit = 100;
    kmv_err = KMVUSB_get_gain_HV_limit(m, c, &limit);
  }
  kmv_err = KMVUSB_set_parameters(m, 0, &kmvusb[m]);
  return kmv_err;
}

int16_t KMVUSB_init(const char *ini_path) {
  // 1. Reset, unless started and forced into the mode it is in.
  if (!(kmvusb_initialised != 0 && kmvusb_force_mode_word == kmvusb_hardware)) {
    std::fill(std::begin(trqeep_valid), std::end(trqeep_valid), 0);
    std::fill(std::begin(trqlim_valid), std::end(trqlim_valid), 0);
    kmvusb_hardware = KMV_MODE_HARDWARE;
    kmvusb_active_count = 0;
    no_of_kmvusb_modules = 0;
    std::fill(std::begin(sim_ovld_cnt), std::end(sim_ovld_cnt), 0);
    std::fill(std::begin(sim_curr_cnt), std::end(sim_curr_cnt), 0);
    for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) zero_slot(m);
  }
  std::fill(std::begin(kmvusb_dac_stale), std::end(kmvusb_dac_stale), 0);
  // 2, 3.
  if (kmvusb_initialised < 1 && kmvusb_force_mode_word >= 0) kmvusb_hardware = kmvusb_force_mode_word;
  if (!emulation_word(kmvusb_hardware)) device_scan();
  // 4.
  kmvusb_opened = 1;
  kmvusb_active_count = 0;
  kmv_err_string[0] = '\0';
  // 5, 6.
  if (ini_path != nullptr && ini_path[0] != '\0') {
    if (const int16_t r = read_ini(ini_path); r != 0) return r;
  } else {
    default_selection();
  }
  // 7.
  if (kmvusb_active_count == 0) return fail(KMV_NO_ACT_MOD);
  // 8, 9, 10.
  const bool emulated = emulation_word(kmvusb_hardware);
  kmvusb_lower.set_trq_mode(emulated ? 5 : 0, 0);
  if (emulated) number_emulated_modules();
  kmv_err = KMV_NONE;
  kmvusb_initialised = emulated ? -1 : 1;
  kmvusb_force_mode_word = -1;
  kmvusb_force_first = -1;
  kmvusb_force_count = 0;
  // 11. A module counts as started only when it runs.
  int tried = 0, running = 0;
  kmvusb_active_count = 0;
  // Only the modules started now count as active, also where the tables
  // were kept from an earlier start.
  for (KMVUSBParameters &p : kmvusb) p.active = 0;
  for (int16_t m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    if (!kmvusb_orig[m].active) continue;
    kmvusb[m].active = kmvusb_orig[m].active;
    kmv_err = kmvusb_start_module(m);
    orig_kmvusb_mod[m] = kmvusb_mod[m];
    if (kmvusb_mod[m].type != KMV_TYPE_NONE) ++tried;
    if (kmvusb[m].active) ++running;
    if (tried >= no_of_kmvusb_modules) break;
  }
  // 12, 13.
  int active = 0;
  for (const KMVUSBParameters &p : kmvusb) active += p.active ? 1 : 0;
  kmvusb_active_count = static_cast<int16_t>(active);
  return running > 0 ? kmv_err : fail(KMV_NO_ACT_MOD);
}
