// The PCI variant's module system: card sets, start and the value road.
#include "app/kmv_syst_pci.h"

#include "app/kmv_syst.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"

ParameterSet *mod[KMV_PCI_SLOTS] = {};
KMVModuleInfo mod_info[KMV_PCI_SLOTS] = {};
short pci_act_mod[KMV_PCI_SLOTS] = {};
short pci_out_enabled[KMV_PCI_SLOTS] = {};
short pci_cooling_on[KMV_PCI_SLOTS] = {};
short pci_ovld_alarm[KMV_PCI_SLOTS] = {};
short pci_cool_alarm[KMV_PCI_SLOTS] = {};

namespace {

constexpr ParameterDescriptor row(char type, double max) { return {type, -1, 0.0, max, 0.0}; }

bool is_float(int index) { return index == 4 || index == 10 || index == 11 || index == 12; }
constexpr int kCooling = KMV_PAR_C3_COOLING - 1;

// The library record's field of set index 1..15.
float record_value(const KMVParameters &p, int index) {
  float v = 0.0f;
  switch (index + 1) {
    case KMV_PAR_C1_P5V: v = p.C1_P5V; break;
    case KMV_PAR_C1_M5V: v = p.C1_M5V; break;
    case KMV_PAR_C1_P12V: v = p.C1_P12V; break;
    case KMV_PAR_C1_GAIN_HV: v = p.C1_GAIN_HV; break;
    case KMV_PAR_C2_P5V: v = p.C2_P5V; break;
    case KMV_PAR_C2_M5V: v = p.C2_M5V; break;
    case KMV_PAR_C2_P12V: v = p.C2_P12V; break;
    case KMV_PAR_C2_DIGOUT: v = p.C2_DIGOUT; break;
    case KMV_PAR_C3_COOLING: v = p.C3_COOLING; break;
    case KMV_PAR_C3_COOLVOLT: v = p.C3_COOLVOLT; break;
    case KMV_PAR_C3_COOLCURR: v = p.C3_COOLCURR; break;
    case KMV_PAR_C3_GAIN_HV: v = p.C3_GAIN_HV; break;
    case KMV_PAR_C3_P5V: v = p.C3_P5V; break;
    case KMV_PAR_C3_M5V: v = p.C3_M5V; break;
    default: v = p.C3_P12V; break;
  }
  return v;
}

ParameterValue typed(int index, float v) {
  return is_float(index) ? float_value(v) : int_value(static_cast<int32_t>(v));
}

}  // namespace

const ParameterDescriptor pci_par_table[KMV_PCI_PARAMETERS] = {
    row('S', 0),   row('B', 1), row('B', 1), row('B', 1), row('F', 100), row('B', 1), row('B', 1), row('B', 1),
    row('I', 255), row('B', 1), row('F', 5), row('F', 2), row('F', 100), row('B', 1), row('B', 1), row('B', 1),
};

int create_pci_parameter_sets(void) {
  for (ParameterSet *&set : mod) {
    if (set == nullptr)
      set = create_parameter_set(nullptr, "module_parameters", pci_par_table, nullptr, nullptr, KMV_PCI_PARAMETERS);
    if (set == nullptr || set->built == 0) return -1;
  }
  return 0;
}

void delete_pci_parameter_sets(void) {
  for (ParameterSet *&set : mod) {
    delete_parameter_set(set);
    set = nullptr;
  }
}

int init_system(const char *ini_path) {
  platform::copy_bounded(module_type_text, sizeof module_type_text, "KMV-100");
  use_kmv_eeprom = 1;
  int r = 0;
  if (ini_path != nullptr) {
    if (sim_switch != 0)
      KMV_force_mode(sim_switch, static_cast<int16_t>(sim_mod_no), static_cast<int16_t>(first_mod_no));
    r = KMV_init(ini_path);
    no_of_active_kmv = 0;
    total_no_of_kmv = 0;
    for (int i = 0; i < KMV_PCI_SLOTS; ++i) {
      KMV_get_module_info(static_cast<int16_t>(i), &mod_info[i]);
      if (mod_info[i].type != KMV_TYPE_NONE) ++total_no_of_kmv;
      pci_act_mod[i] = mod_info[i].init_status == 0 ? 1 : 0;
      if (pci_act_mod[i] && no_of_active_kmv++ == 0) mod_no = static_cast<short>(i);
    }
    if (r == KMV_OPEN_FILE || r == KMV_FILE_NVALID || r == KMV_MEM_ALLOC || r == KMV_READ_STR) {
      error(kmvdll_error_id(r));
      return -5;
    }
    if (total_no_of_kmv == 0 || total_no_of_kmv != no_of_active_kmv) return -1;
  }
  bool first = true;
  for (int i = 0; i < KMV_PCI_SLOTS; ++i) {
    if (!pci_act_mod[i] || mod[i] == nullptr) continue;
    if (first) mod_no = static_cast<short>(i);
    first = false;
    KMVParameters rec{};
    KMV_get_parameters(static_cast<int16_t>(i), &rec);
    ParameterValue serial{};
    platform::copy_bounded(serial.data, sizeof serial.data, mod_info[i].serial_no);
    set_parameter(mod[i], 0, serial);
    for (int k = 1; k < KMV_PCI_PARAMETERS; ++k) set_parameter(mod[i], k, typed(k, record_value(rec, k)));
  }
  return r;
}

int set_module_parameter(short module, int par_id, ParameterValue value) {
  kmv_error = 0;
  if (module < 0 || module >= KMV_PCI_SLOTS || mod[module] == nullptr) {
    kmv_error = KMV_MOD_NO;
    error(kmvdll_error_id(kmv_error));
    return kmv_error;
  }
  int s = 0;
  if (par_id >= 1 && par_id < KMV_PCI_PARAMETERS) {
    const float sent = is_float(par_id) ? value_float(value) : static_cast<float>(value_int(value));
    // Any enabled output of the card lets every value through, the cooler's too.
    kmv_error = KMV_set_parameter(module, static_cast<int16_t>(par_id + 1), pci_out_enabled[module], sent);
    float back = sent;
    KMV_get_parameter(module, static_cast<int16_t>(par_id + 1), &back);
    const ParameterValue stored = typed(par_id, back);
    s = set_parameter(mod[module], par_id, stored);
    if (par_id == kCooling) pci_cooling_on[module] = static_cast<short>(value_int(stored));
  } else if (!(par_id == 0 && hardware == 1)) {
    s = set_parameter(mod[module], par_id, value);
  }
  if (kmv_error != 0) {
    error(kmvdll_error_id(kmv_error));
    if (s == 0) s = kmv_error;
  }
  return s;
}

ParameterValue read_module_parameter(int module, short par_id) {
  if (module < 0 || module >= KMV_PCI_SLOTS || mod[module] == nullptr) return ParameterValue{};
  return read_parameter(mod[module], par_id);
}
