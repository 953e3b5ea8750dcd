// The module system: the globals of the data model, the parameter-set rows,
// the library's error identifiers, start-up and the one road of a value.
#include <cmath>
#include <cstring>

#include "app/kmv_syst.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"

ParameterSet *modusb[KMV_SLOTS] = {};
KMVUSBModuleInfo usbmod_info[KMV_SLOTS] = {};
short act_mod[KMV_SLOTS] = {};
short no_of_active_kmv = 0;
short total_no_of_kmv = 0;
short st_trq = 0;
short nd_trq = 0;
short mod_no = 0;
short kmv_error = 0;
int hardware = 0;
char module_type_text[20] = "KMV-USB";
int use_kmv_eeprom = 0;

unsigned char sim_switch = 0;
int sim_mod_no = -1;
int first_mod_no = 0;

short out_enabled[KMV_SLOTS] = {};
short cooling_on[KMV_SLOTS] = {};
short connection_lost[KMV_SLOTS] = {};
short ovld_alarm[KMV_SLOTS] = {};
short cool_alarm[KMV_SLOTS] = {};

namespace {

constexpr ParameterDescriptor row(char type, double max) { return {type, -1, 0.0, max, 0.0}; }

}  // namespace

#define KMV_CONNECTOR_ROWS row('B', 1), row('B', 1), row('B', 1), row('F', 100), row('B', 1), row('F', 5), row('F', 2)
const ParameterDescriptor module_par_table[KMV_PARAMETERS] = {
    row('S', 0),         KMV_CONNECTOR_ROWS, KMV_CONNECTOR_ROWS, KMV_CONNECTOR_ROWS,
    KMV_CONNECTOR_ROWS,  row('I', 255),
};
#undef KMV_CONNECTOR_ROWS

// -18..-21 are no codes of the library; they share the out-of-range name.
const char *const kmvdll_error_strings[KMVDLL_ERROR_COUNT] = {
    "KMV_NONE",        "KMV_OPEN_FILE",    "KMV_FILE_NVALID", "KMV_MEM_ALLOC",   "KMV_READ_STR",
    "KMV_NO_ACT_MOD",  "KMV_MOD_NO",       "KMV_NOT_INIT",    "KMV_NOT_ACTIVE",  "KMV_IN_USE",
    "KMV_EEPROM_READ", "KMV_EEPROM_WRITE", "KMV_EEP_CHKSUM",  "KMV_EEP_WR_DIS",  "KMV_BAD_PAR_ID",
    "KMV_BAD_PAR_VAL", "KMV_WINDRV_ERR",   "KMV_ERR_ID",      "KMV_ERR_ID",      "KMV_ERR_ID",
    "KMV_ERR_ID",      "KMV_ERR_ID",       "KMV_NO_USB_MOD",  "KMV_CONNECT_USB_MOD", "KMV_ERR_USB",
};

const char *kmvdll_error_id(int code) {
  if (code > 0 || -code >= KMVDLL_ERROR_COUNT) return "KMV_ERR_ID";
  return kmvdll_error_strings[-code];
}

ParameterValue int_value(int32_t v) {
  ParameterValue p{};
  std::memcpy(p.data, &v, sizeof v);
  return p;
}

ParameterValue float_value(float v) {
  ParameterValue p{};
  std::memcpy(p.data, &v, sizeof v);
  return p;
}

int32_t value_int(const ParameterValue &v) {
  int32_t i = 0;
  std::memcpy(&i, v.data, sizeof i);
  return i;
}

float value_float(const ParameterValue &v) {
  float f = 0;
  std::memcpy(&f, v.data, sizeof f);
  return f;
}

int32_t read_int_parameter(short module, int par_id) {
  if (module < 0 || module >= KMV_SLOTS || modusb[module] == nullptr) return 0;
  return value_int(read_parameter(modusb[module], par_id));
}

float read_float_parameter(short module, int par_id) {
  if (module < 0 || module >= KMV_SLOTS || modusb[module] == nullptr) return 0.0f;
  return value_float(read_parameter(modusb[module], par_id));
}

int create_module_parameter_sets(void) {
  for (ParameterSet *&set : modusb) {
    if (set == nullptr) set = create_parameter_set(nullptr, "module_parameters", module_par_table, nullptr, nullptr,
                                                    KMV_PARAMETERS);
    if (set == nullptr || set->built == 0) return -1;
  }
  return 0;
}

void delete_module_parameter_sets(void) {
  for (ParameterSet *&set : modusb) {
    delete_parameter_set(set);
    set = nullptr;
  }
}

namespace {

// Every connector parameter of one module's library record into its set.
void fill_set(int slot, const KMVUSBParameters &rec) {
  ParameterSet *set = modusb[slot];
  if (set == nullptr) return;
  ParameterValue serial{};
  platform::copy_bounded(serial.data, sizeof serial.data, usbmod_info[slot].serial_no);
  set_parameter(set, KMV_PAR_SERIAL, serial);
  for (int k = 0; k < 4; ++k) {
    const KMVUSBConnectorParameters &c = rec.connector[k];
    const int base = 7 * k;
    set_parameter(set, base + KMVUSB_PAR_P5V, int_value(c.P5V));
    set_parameter(set, base + KMVUSB_PAR_M5V, int_value(c.M5V));
    set_parameter(set, base + KMVUSB_PAR_P12V, int_value(c.P12V));
    set_parameter(set, base + KMVUSB_PAR_GAIN_HV, float_value(c.GAIN_HV));
    set_parameter(set, base + KMVUSB_PAR_COOLING, int_value(c.COOLING));
    set_parameter(set, base + KMVUSB_PAR_COOLVOLT, float_value(c.COOLVOLT));
    set_parameter(set, base + KMVUSB_PAR_COOLCURR, float_value(c.COOLCURR));
  }
  set_parameter(set, KMV_PAR_DIGOUT, int_value(rec.DIGOUT));
}

// Column A shows the first active module, column B the last one; with a
// single module both name it, so column B never indexes past the slots.
void note_active(int slot, bool first) {
  if (first) {
    mod_no = st_trq = nd_trq = static_cast<short>(slot);
  } else {
    nd_trq = static_cast<short>(slot);
  }
}

// Truncation toward zero that cannot overflow.
int32_t truncate(float f) {
  if (!(f == f)) return 0;
  if (f >= 2147483520.0f) return INT32_MAX;
  if (f <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(f);
}

}  // namespace

int init_usbsystem(const char *ini_path) {
  platform::copy_bounded(module_type_text, sizeof module_type_text, "KMV-USB");
  use_kmv_eeprom = 1;
  int r = 0;
  if (ini_path != nullptr) {
    if (sim_switch != 0)
      KMVUSB_force_mode(sim_switch, static_cast<int16_t>(sim_mod_no), static_cast<int16_t>(first_mod_no));
    r = KMVUSB_init(ini_path);
    no_of_active_kmv = 0;
    total_no_of_kmv = 0;
    for (int i = 0; i < KMV_SLOTS; ++i) {
      KMVUSB_get_module_info(static_cast<int16_t>(i), &usbmod_info[i]);
      if (usbmod_info[i].type != KMV_TYPE_NONE) ++total_no_of_kmv;
      if (usbmod_info[i].init_status == 0) {
        note_active(i, no_of_active_kmv == 0);
        ++no_of_active_kmv;
        act_mod[i] = 1;
      } else {
        act_mod[i] = 0;
      }
    }
    if (r == KMV_OPEN_FILE) {
      error("KMV_OPEN_INI", platform::files::with_kind(ini_path).c_str());  // the file it tried
      return -5;
    }
    if (r == KMV_FILE_NVALID || r == KMV_MEM_ALLOC || r == KMV_READ_STR) {
      error(kmvdll_error_id(r));
      return -5;
    }
    if (total_no_of_kmv == 0 || total_no_of_kmv != no_of_active_kmv) return -1;
  }
  bool first = true;
  for (int i = 0; i < KMV_SLOTS; ++i) {
    if (!act_mod[i]) continue;
    KMVUSBParameters rec{};
    KMVUSB_get_parameters(static_cast<int16_t>(i), &rec);
    note_active(i, first);
    first = false;
    fill_set(i, rec);
  }
  return r;
}

int set_usbmodule_parameter(short module, int par_id, ParameterValue value) {
  kmv_error = 0;
  if (module < 0 || module >= KMV_SLOTS || modusb[module] == nullptr) {
    kmv_error = KMV_MOD_NO;
    error(kmvdll_error_id(kmv_error));
    return kmv_error;
  }
  int s = 0;
  if (par_id >= 1 && par_id <= KMV_PAR_DIGOUT) {
    const int within = par_id == KMV_PAR_DIGOUT ? 0 : (par_id - 1) % 7 + 1;  // 1..7 in its connector
    const int connector = (par_id - 1) / 7;                                   // 0..3
    const bool is_float = within == KMVUSB_PAR_GAIN_HV || within == KMVUSB_PAR_COOLVOLT ||
                          within == KMVUSB_PAR_COOLCURR;
    const bool cooler = within == KMVUSB_PAR_COOLING || within == KMVUSB_PAR_COOLVOLT ||
                        within == KMVUSB_PAR_COOLCURR;
    const float sent = is_float ? value_float(value) : static_cast<float>(value_int(value));
    int16_t flag = 1;
    if (par_id == KMV_PAR_DIGOUT)
      flag = static_cast<int16_t>(out_enabled[module] & 16);
    else if (!cooler)
      flag = static_cast<int16_t>(out_enabled[module] & (1 << connector));
    kmv_error = KMVUSB_set_parameter(module, static_cast<int16_t>(par_id), flag, sent);
    float back = sent;
    KMVUSB_get_parameter(module, static_cast<int16_t>(par_id), &back);
    s = set_parameter(modusb[module], par_id, is_float ? float_value(back) : int_value(truncate(back)));
    if (within == KMVUSB_PAR_COOLING) {
      const short bit = static_cast<short>(1 << connector);
      if (truncate(back) != 0)
        cooling_on[module] = static_cast<short>(cooling_on[module] | bit);
      else
        cooling_on[module] = static_cast<short>(cooling_on[module] & ~bit);
    }
  } else if (!(par_id == KMV_PAR_SERIAL && hardware == 1)) {
    s = set_parameter(modusb[module], par_id, value);
  }
  if (kmv_error != 0) {
    error(kmvdll_error_id(kmv_error));
    if (s == 0) s = kmv_error;
  }
  return s;
}

