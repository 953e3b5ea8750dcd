// The EEPROM page: each shown module's identification and gain limits; the
// identification is rewritten only in production mode behind the access code.
#include <cstring>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/ui.h"
#include "support/Qv_err.h"
#include "support/Util_fun_titles.h"

KMVUSBEepromData usb_eep[4] = {};

namespace {

constexpr int kAccessCode = 8365;
int typed_code = 0;

short *const limit_arrays[4] = {gain_C1U_limit, gain_C2U_limit, gain_C3U_limit, gain_C4U_limit};

int offset_of(int column) { return column == 0 ? 0 : EEP_COLUMN_B; }

void cut15(char *text) { text[15] = '\0'; }

void report(int code) { error(kmvdll_error_id(code), 0); }

void confirm_done(int page) {
  const int popup = LoadPanel(page, KMV_MEAS_UIR, PANEL_EEP_DONE);
  if (popup > 0 && InstallPopup(popup) < 0) {
    DiscardPanel(popup);
    return;
  }
  QVDelay(1.0);
  if (popup > 0) {
    RemovePopup(0);
    DiscardPanel(popup);
  }
  ProcessSystemEvents();
  SetActivePanel(page);
}

void copy15(char *dst, const char *src) {
  std::strncpy(dst, src, 15);
  dst[15] = '\0';
}

}  // namespace

void init_adjustusb_panel(int module, int read_eeprom, KMVUSBEepromData *data) {
  if (module < 0 || module >= KMV_SLOTS || data == nullptr) return;
  const int o = offset_of(module == st_trq ? 0 : 1);
  const int p = trq_adjust_panel;
  if (read_eeprom) {
    if (const int r = KMVUSB_get_eeprom_data(static_cast<int16_t>(module), data); r < 0) {
      report(r);
      data->module_name[0] = data->serial_no[0] = data->date[0] = '\0';
    }
  }
  cut15(data->module_name);
  cut15(data->serial_no);
  cut15(data->date);
  SetCtrlAttribute(p, EEP_CODE_A + o, ATTR_VISIBLE, 0);
  SetCtrlAttribute(p, EEP_READ_A + o, ATTR_DIMMED, 0);
  SetCtrlAttribute(p, EEP_WRITE_A + o, ATTR_DIMMED, 0);
  SetCtrlVal(p, EEP_NAME_A + o, data->module_name);
  SetCtrlVal(p, EEP_SERIAL_A + o, data->serial_no);
  SetCtrlVal(p, EEP_DATE_A + o, data->date);
  typed_code = 0;
  SetCtrlVal(p, EEP_CODE_A + o, 0);
  if (!qv_production) {
    for (int c : {EEP_NAME_A, EEP_SERIAL_A, EEP_DATE_A}) SetCtrlAttribute(p, c + o, ATTR_CTRL_MODE, VAL_INDICATOR);
    SetCtrlAttribute(p, EEP_WRITE_A + o, ATTR_DIMMED, 1);
  }
  int combined = 0;
  for (int k = 0; k < 4; ++k) {
    combined |= KMVUSB_get_gain_HV_limit(static_cast<int16_t>(module), static_cast<int16_t>(k),
                                         &limit_arrays[k][module]);
    SetCtrlVal(p, EEP_LIMIT_A1 + k + o, limit_arrays[k][module]);
  }
  if (combined < 0) report(combined);
  SetActiveCtrl(p, EEP_READ_A + o);
}

int TRQ_AdjustCallback(int panel, int control, int event, void *, int, int) {
  const int column = control >= EEP_TITLE_A + EEP_COLUMN_B ? 1 : 0;
  const int c = control - offset_of(column);
  const short m = module_of(column);
  if (event == EVENT_LOST_FOCUS) {
    if (c == EEP_CODE_A) SetCtrlAttribute(panel, control, ATTR_VISIBLE, 0);
    return 0;
  }
  if (event != EVENT_COMMIT || m < 0 || m >= KMV_SLOTS) return 0;
  KMVUSBEepromData &eep = usb_eep[m];
  char text[64] = "";
  switch (c) {
    case EEP_NAME_A:
    case EEP_SERIAL_A:
    case EEP_DATE_A: {
      GetCtrlVal(panel, control, text);
      SetCtrlVal(panel, control, text);
      char *field = c == EEP_NAME_A ? eep.module_name : c == EEP_SERIAL_A ? eep.serial_no : eep.date;
      copy15(field, text);
      break;
    }
    case EEP_READ_A: {
      load_kmvusb_adjust_para_from_eeprom(m, reinterpret_cast<char *>(kmvusb_eep_buffer) + KMVUSB_EEP_SIZE * m, 1);
      if (const int r = KMVUSB_get_eeprom_data(m, &eep); r < 0) {
        report(r);
      } else {
        init_adjustusb_panel(m, 0, &eep);
        confirm_done(panel);
      }
      break;
    }
    case EEP_WRITE_A:
      SetCtrlAttribute(panel, EEP_CODE_A + offset_of(column), ATTR_VISIBLE, 1);
      SetActiveCtrl(panel, EEP_CODE_A + offset_of(column));
      break;
    case EEP_CODE_A:
      GetCtrlVal(panel, control, &typed_code);
      if (typed_code != kAccessCode) {
        MessagePopup("", "Invalid password - Access denied");
      } else if (const int r = KMVUSB_write_eeprom_data(m, kAccessCode, &eep); r < 0) {
        report(r);
      } else {
        init_adjustusb_panel(m, 0, &eep);
        confirm_done(panel);
        ProcessSystemEvents();
        SetActivePanel(panel);
      }
      break;
    default:
      if (c >= EEP_LIMIT_A1 && c < EEP_LIMIT_A1 + 4) {
        const int k = c - EEP_LIMIT_A1;
        short limit = 0;
        GetCtrlVal(panel, control, &limit);
        if (const int r = KMVUSB_set_gain_HV_limit(m, static_cast<int16_t>(k), &limit); r < 0) {
          report(r);
          break;
        }
        KMVUSB_get_gain_HV_limit(m, static_cast<int16_t>(k), &limit_arrays[k][m]);
        const int gain_id = 7 * k + 4;
        float gain = 0;
        KMVUSB_get_parameter(m, static_cast<int16_t>(gain_id), &gain);
        set_usbmodule_parameter(m, gain_id, float_value(gain));
        SetCtrlVal(trq_ctrl_panel, ghv_ctrls[m == nd_trq && m != st_trq ? 1 : 0][k], read_float_parameter(m, gain_id));
      }
      break;
  }
  return 0;
}

int Trqeep_Callback(int, int, void *, int, int) { return 0; }
