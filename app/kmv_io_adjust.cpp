// The PCI variant's adjust panel.
#include "app/kmv_io_adjust.h"

#include <cstdio>
#include <cstring>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_pci.h"
#include "platform/win/clock.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"
#include "support/Util_fun_titles.h"

int adjust_panel = 0;
int adj_mod_no = 0;
int apar_visible = 0;
KMVEepromData eep{};
short gain_C1_limit[8] = {100, 100, 100, 100, 100, 100, 100, 100};
short gain_C3_limit[8] = {100, 100, 100, 100, 100, 100, 100, 100};
int pci_main_panel = 0;

namespace {

constexpr size_t kTextMax = 11;
constexpr int kMainGainC1 = 5;  // the main window's gain controls of connectors 1 and 3
constexpr int kMainGainC3 = 20;

void report(int r) {
  if (r < 0) error(kmvdll_error_id(r), 0);
}

// A field of at most 11 characters from a text control.
void read_text(int panel, int control, char (&field)[12]) {
  char typed[256] = "";
  GetCtrlVal(panel, control, typed);
  std::memset(field, 0, sizeof field);
  std::memcpy(field, typed, strnlen(typed, kTextMax));
}

void show_text(int panel, int control, const char (&field)[12]) {
  char shown[kTextMax + 1] = {};
  std::memcpy(shown, field, strnlen(field, kTextMax));
  SetCtrlVal(panel, control, shown);
}

// One second of "EEPROM access done" over the panel.
void confirm_done() {
  const int popup = LoadPanel(adjust_panel, KMV_MEAS_UIR, PANEL_EEP_DONE);
  if (popup < 0) return;
  if (InstallPopup(popup) >= 0) {
    Delay(1.0);
    RemovePopup(0);
  }
  DiscardPanel(popup);
}

void change_limit(int panel, int control) {
  const int16_t k = control == ADJUST_LIMIT_C1 ? 0 : 1;
  short *limits = k == 0 ? gain_C1_limit : gain_C3_limit;
  const auto card = static_cast<int16_t>(adj_mod_no);
  short limit = 0;
  GetCtrlVal(panel, control, &limit);
  int16_t asked = limit;
  report(KMV_set_gain_HV_limit(card, k, &asked));
  int16_t now = limits[card];
  if (KMV_get_gain_HV_limit(card, k, &now) == 0) limits[card] = now;
  SetCtrlVal(panel, control, limits[card]);
  // The card's gain may have followed the limit: the set and the main window too.
  float gain = 0.0f;
  if (KMV_get_parameter(card, k == 0 ? KMV_PAR_C1_GAIN_HV : KMV_PAR_C3_GAIN_HV, &gain) != 0) return;
  if (mod[card] != nullptr) set_parameter(mod[card], k == 0 ? 4 : 12, float_value(gain));
  if (pci_main_panel > 0) SetCtrlVal(pci_main_panel, k == 0 ? kMainGainC1 : kMainGainC3, gain);
}

void write_identification(int panel) {
  int code = 0;
  GetCtrlVal(panel, ADJUST_CODE, &code);
  SetCtrlVal(panel, ADJUST_CODE, 0);
  SetCtrlAttribute(panel, ADJUST_CODE, ATTR_VISIBLE, 0);
  if (code != KMV_ACCESS_CODE) {
    MessagePopup("", "Invalid password - Access denied");
    return;
  }
  const int r = KMV_write_eeprom_data(static_cast<int16_t>(adj_mod_no), KMV_ACCESS_CODE, &eep);
  if (r != 0) {
    report(r);
    return;
  }
  init_adjust_panel(0, &eep);
  KMV_get_module_info(static_cast<int16_t>(adj_mod_no), &mod_info[adj_mod_no]);
  if (pci_main_panel > 0) SetPanelTitle(pci_main_panel, module_type_text);
  confirm_done();
}

const platform::ui::CallbackBinding kBindings[] = {
    {"InitAparCallback", InitAparCallback},
    {"Apar_Callback", Apar_Callback},
    {"AdjustCallback", AdjustCallback},
};

}  // namespace

int init_adjust_panel(int read_eeprom, KMVEepromData *data) {
  if (adj_mod_no < 0 || adj_mod_no >= KMV_PCI_SLOTS || data == nullptr) return KMV_MOD_NO;
  const auto card = static_cast<int16_t>(adj_mod_no);
  int r = 0;
  if (read_eeprom) {
    r = KMV_get_eeprom_data(card, data);
    report(r);
  }
  if (adjust_panel <= 0) return r;
  show_text(adjust_panel, ADJUST_SERIAL, data->serial_no);
  show_text(adjust_panel, ADJUST_DATE, data->date);
  SetCtrlVal(adjust_panel, ADJUST_CARD, adj_mod_no);
  int16_t limit = 0;
  if (KMV_get_gain_HV_limit(card, 0, &limit) == 0) gain_C1_limit[card] = limit;
  if (KMV_get_gain_HV_limit(card, 1, &limit) == 0) gain_C3_limit[card] = limit;
  SetCtrlVal(adjust_panel, ADJUST_LIMIT_C1, gain_C1_limit[card]);
  SetCtrlVal(adjust_panel, ADJUST_LIMIT_C3, gain_C3_limit[card]);
  return r;
}

int InitAparCallback(int, int, void *, int) {
  if (adjust_panel <= 0) {
    adjust_panel = LoadPanel(0, KMV_MEAS_UIR, PANEL_ADJUST);
    if (adjust_panel < 0) {
      adjust_panel = 0;
      error("LOAD_PANEL", "ADJUST", 0);
      return 0;
    }
    int active = 0;
    for (short a : pci_act_mod) active += a ? 1 : 0;
    if (active == 1) {
      SetCtrlAttribute(adjust_panel, ADJUST_CARD, ATTR_VISIBLE, 0);
    } else {
      ClearListCtrl(adjust_panel, ADJUST_CARD);
      for (int n = 0; n < KMV_PCI_SLOTS; ++n) {
        if (!pci_act_mod[n]) continue;
        char label[16];
        std::snprintf(label, sizeof label, "Module %d", n + 1);
        InsertListItem(adjust_panel, ADJUST_CARD, -1, label, n);
      }
    }
    SetCtrlAttribute(adjust_panel, ADJUST_CODE, ATTR_VISIBLE, 0);
  }
  adj_mod_no = mod_no;
  init_adjust_panel(1, &eep);
  if (apar_visible) {
    SetActivePanel(adjust_panel);
  } else {
    DisplayPanel(adjust_panel);
    apar_visible = 1;
  }
  return 0;
}

int Apar_Callback(int, int event, void *, int, int) {
  if (event == EVENT_GOT_FOCUS) init_adjust_panel(0, &eep);
  return 0;
}

int AdjustCallback(int panel, int control, int event, void *, int, int) {
  if (control == ADJUST_CODE && event == EVENT_LOST_FOCUS) {
    SetCtrlAttribute(panel, ADJUST_CODE, ATTR_VISIBLE, 0);
    return 0;
  }
  if (event != EVENT_COMMIT) return 0;
  switch (control) {
    case ADJUST_SERIAL:
      read_text(panel, control, eep.serial_no);
      break;
    case ADJUST_DATE:
      read_text(panel, control, eep.date);
      break;
    case ADJUST_LIMIT_C1:
    case ADJUST_LIMIT_C3:
      change_limit(panel, control);
      break;
    case ADJUST_READ: {
      const int r = KMV_get_eeprom_data(static_cast<int16_t>(adj_mod_no), &eep);
      if (r != 0) {
        report(r);
        break;
      }
      init_adjust_panel(0, &eep);
      confirm_done();
      break;
    }
    case ADJUST_WRITE:
      SetCtrlAttribute(panel, ADJUST_CODE, ATTR_VISIBLE, 1);
      SetActiveCtrl(panel, ADJUST_CODE);
      break;
    case ADJUST_CODE:
      write_identification(panel);
      break;
    case ADJUST_CLOSE:
      HidePanel(adjust_panel);
      apar_visible = 0;
      break;
    case ADJUST_CARD: {
      int card = adj_mod_no;
      GetCtrlVal(panel, ADJUST_CARD, &card);
      if (card >= 0 && card < KMV_PCI_SLOTS) adj_mod_no = card;
      init_adjust_panel(1, &eep);
      break;
    }
    default:
      break;
  }
  return 0;
}

std::span<const platform::ui::CallbackBinding> kmv_adjust_callbacks() { return kBindings; }
