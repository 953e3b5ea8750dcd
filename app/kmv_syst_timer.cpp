// The timer poll: overloads, cooler current limits, blinking, and a lost
// module brought back with its settings.
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"

namespace {

bool bit(int word, int b) { return ((word >> b) & 1) != 0; }

}  // namespace

short read_overload_state(short module) {
  if (module < 0 || module >= KMV_SLOTS || !act_mod[module]) return 0;
  int16_t state = 0;
  const int16_t r = KMVUSB_get_overload_state(module, &state);
  if (r == KMV_ERR_USB) return KMV_ERR_USB;
  if (r != 0) state = 0;
  short result = r;
  const int c = column_of(module);
  for (int j = 0; j < 4; ++j) {
    const short mask = static_cast<short>(1 << j);
    const bool on = (state & mask) != 0;
    if (on && !(ovld_alarm[module] & mask)) {
      ovld_alarm[module] = static_cast<short>(ovld_alarm[module] | mask);
      result = 1;
    } else if (!on) {
      ovld_alarm[module] = static_cast<short>(ovld_alarm[module] & ~mask);
    }
    SetCtrlVal(trq_panel, led_ctrls[c][j], on ? 1 : 0);
    SetCtrlAttribute(trq_panel, rst_ctrls[c][j], ATTR_VISIBLE, on ? 1 : 0);
  }
  return result;
}

short update_curr_lmt_leds(short module, short connector) {
  if (module < 0 || module >= KMV_SLOTS) return KMV_MOD_NO;
  int16_t state = 0;
  const int16_t r = KMVUSB_get_curr_lmt_state(module, &state);
  if (r != 0) state = 0;
  short result = r;
  const int c = column_of(module);
  const int first = connector < 0 ? 0 : connector, last = connector < 0 ? 3 : connector;
  for (int j = first; j <= last && j < 4; ++j) {
    const short mask = static_cast<short>(1 << j);
    const bool on = (state & mask) != 0;
    if (on && !(cool_alarm[module] & mask)) result = static_cast<short>(result | mask);
    cool_alarm[module] = static_cast<short>(on ? cool_alarm[module] | mask : cool_alarm[module] & ~mask);
    SetCtrlAttribute(trq_panel, cool_lim_ctrls[c][j], ATTR_VISIBLE, on ? 1 : 0);
  }
  return result;
}

int any_connector_param5(short module) {
  int any = 0;
  for (int id : {5, 12, 19, 26}) any |= read_int_parameter(module, id);
  return any;
}

void resend_module_parameters(short module) {
  if (module < 0 || module >= KMV_SLOTS || modusb[module] == nullptr) return;
  for (int id : {7, 14, 21, 28, 6, 13, 20, 27, 5, 12, 19, 26})
    set_usbmodule_parameter(module, id, read_parameter(modusb[module], id));
}

void sync_outputs_after_overload(short module) {
  if (module < 0 || module >= KMV_SLOTS || modusb[module] == nullptr) return;
  auto refresh = [](short i) {
    float v = 0;
    KMVUSB_get_parameter(i, KMV_PAR_DIGOUT, &v);
    set_parameter(modusb[i], KMV_PAR_DIGOUT, int_value(static_cast<int32_t>(v)));
  };
  for (short i = 0; i < KMV_SLOTS; ++i)
    if (act_mod[i] && out_enabled[i] != 0 && modusb[i] != nullptr) refresh(i);
  if (out_enabled[module] != 0) refresh(module);
  const int v = read_int_parameter(module, KMV_PAR_DIGOUT);
  const int c = column_of(module);
  for (int b = 0; b < 8; ++b) {
    const bool shown = bit(v, b) != bit(AppAttr.digout_modes[module], b + 8);
    SetCtrlVal(trq_ctrl_panel, digout_ctrls_usb[c][b], shown ? 1 : 0);
  }
}

void dim_module_column(unsigned short column, int dim) {
  if (column > 1) return;
  const int c = column;
  SetCtrlAttribute(trq_panel, con_ctrls[c][4], ATTR_DIMMED, dim);
  SetCtrlAttribute(trq_panel, c == 0 ? MAIN_ALL_OFF_ONE : MAIN_ALL_OFF_TWO, ATTR_DIMMED, dim);
  for (int j = 0; j < 4; ++j)
    for (int ctl : {con_ctrls[c][j], led_ctrls[c][j], rst_ctrls[c][j], cool_lim_ctrls[c][j], warn_ctrls[c][j]})
      SetCtrlAttribute(trq_panel, ctl, ATTR_DIMMED, dim);
  for (int ctl : digout_ctrls_usb[c]) SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_DIMMED, dim);
  for (int j = 0; j < 4; ++j)
    for (int ctl : {p12_ctrls[c][j], p5_ctrls[c][j], m5_ctrls[c][j], ghv_ctrls[c][j], cool_ctrls[c][j],
                    cool_curr_ctrls[c][j], cool_volt_ctrls[c][j]})
      SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_DIMMED, dim);
  for (int ctl : conf_column_ctrls[c]) SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_DIMMED, dim);
  // Undimming gives the cooler values back their own state: usable only with the cooler on.
  if (!dim) {
    const short m = module_of(c);
    for (int j = 0; j < 4; ++j) set_connector_enabled(c, j, read_int_parameter(m, 7 * j + 5));
  }
  // The window keeps its geometry: a lost column B stays in sight with its indicator.
  const int first = c == 0 ? EEP_TITLE_A : EEP_TITLE_A + EEP_COLUMN_B;
  for (int ctl = first; ctl < first + 13; ++ctl) SetCtrlAttribute(trq_adjust_panel, ctl, ATTR_DIMMED, dim);
}

int TimerCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2) {
  short overload = 0;
  for (short i = 0; i < KMV_SLOTS; ++i) {
    if (!act_mod[i]) continue;
    const int c = column_of(i);
    const short r = read_overload_state(i);
    if (r == KMV_ERR_USB) {
      if (!connection_lost[i]) {
        connection_lost[i] = 1;
        dim_module_column(static_cast<unsigned short>(c), 1);
        SetCtrlAttribute(trq_panel, c == 0 ? MAIN_LOST_A : MAIN_LOST_B, ATTR_VISIBLE, 1);
      } else if (KMVUSB_reconnect(i) == 0) {
        connection_lost[i] = 0;
        dim_module_column(static_cast<unsigned short>(c), 0);
        SetCtrlAttribute(trq_panel, c == 0 ? MAIN_LOST_A : MAIN_LOST_B, ATTR_VISIBLE, 0);
        for (int16_t k = 0; k < 5; ++k) KMVUSB_enable_outputs(i, k, static_cast<int16_t>((out_enabled[i] >> k) & 1));
        resend_module_parameters(i);
      }
    } else {
      overload = static_cast<short>(overload | r);
    }
    if (any_connector_param5(i)) update_curr_lmt_leds(i, -1);
  }
  int zoom = 0;
  if (overload != 0 && GetPanelAttribute(trq_panel, ATTR_WINDOW_ZOOM, &zoom) == 0 && zoom == VAL_MINIMIZE)
    SetPanelAttribute(trq_panel, ATTR_WINDOW_ZOOM, VAL_NO_ZOOM);
  act_warn_color = act_warn_color == warn_color ? VAL_TRANSPARENT : warn_color;
  for (short i = 0; i < KMV_SLOTS; ++i) {
    if (!act_mod[i]) continue;
    const int c = column_of(i);
    for (int j = 0; j < 4; ++j) {
      const int w = warn_ctrls[c][j];
      int visible = 0;
      GetCtrlAttribute(trq_panel, w, ATTR_VISIBLE, &visible);
      if (bit(ovld_alarm[i], j)) {
        if (!visible) {
          SetCtrlAttribute(trq_panel, w, ATTR_VISIBLE, 1);
          sync_outputs_after_overload(i);
        }
        SetCtrlAttribute(trq_panel, w, ATTR_FILL_COLOR, act_warn_color);
        SetCtrlAttribute(trq_ctrl_panel, p12_ctrls[c][j], ATTR_TEXT_BGCOLOR, act_warn_color);
        SetCtrlAttribute(trq_ctrl_panel, ghv_ctrls[c][j], ATTR_TEXT_BGCOLOR, act_warn_color);
      } else if (visible) {
        SetCtrlAttribute(trq_panel, w, ATTR_VISIBLE, 0);
        SetCtrlAttribute(trq_ctrl_panel, p12_ctrls[c][j], ATTR_TEXT_BGCOLOR, VAL_TRANSPARENT);
        SetCtrlAttribute(trq_ctrl_panel, ghv_ctrls[c][j], ATTR_TEXT_BGCOLOR, VAL_TRANSPARENT);
        sync_outputs_after_overload(i);
      }
    }
  }
  return 1;
}
