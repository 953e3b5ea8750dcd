// Laying out the module columns for one or two modules and filling a column
// from the parameter set of the module it shows.
#include <span>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "support/Util_fun_geometry.h"

namespace {

void hide(int panel, int control) { SetCtrlAttribute(panel, control, ATTR_VISIBLE, 0); }

bool bit(int word, int b) { return ((word >> b) & 1) != 0; }

}  // namespace

void layout_module_columns(int column) {
  if (column < 0 || column > 1) return;
  const int c = column;
  hide(trq_panel, con_ctrls[c][4]);
  hide(trq_panel, c == 1 ? MAIN_ALL_OFF_TWO : MAIN_ALL_OFF_ONE);
  for (int j = 0; j < 4; ++j)
    for (int ctl : {con_ctrls[c][j], led_ctrls[c][j], rst_ctrls[c][j], cool_lim_ctrls[c][j], warn_ctrls[c][j]})
      hide(trq_panel, ctl);
  // The column's frame, heading and connection indicator go with it.
  for (int ctl : {c == 0 ? MAIN_FRAME_A : MAIN_FRAME_B, c == 0 ? MAIN_HEAD_A : MAIN_HEAD_B,
                  c == 0 ? MAIN_LOST_A : MAIN_LOST_B})
    hide(trq_panel, ctl);
  for (int ctl : digout_ctrls_usb[c]) hide(trq_ctrl_panel, ctl);
  for (int j = 0; j < 4; ++j)
    for (int ctl : {p12_ctrls[c][j], p5_ctrls[c][j], m5_ctrls[c][j], ghv_ctrls[c][j], cool_ctrls[c][j],
                    cool_curr_ctrls[c][j], cool_volt_ctrls[c][j]})
      hide(trq_ctrl_panel, ctl);
  for (int ctl : conf_column_ctrls[c]) hide(trq_ctrl_panel, ctl);
  if (c == 1) {
    if (trq_scale_on_resize) set_all_panels_attr(0);
    int left = 0, width = 0;
    GetCtrlAttribute(trq_panel, con_ctrls[0][4], ATTR_LEFT, &left);
    GetCtrlAttribute(trq_panel, con_ctrls[0][4], ATTR_WIDTH, &width);
    SetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_WIDTH, left + width + 5);
    SetPanelAttribute(trq_panel, ATTR_WIDTH, left + width + 10);
    set_all_panels_attr(trq_scale_on_resize);
  }
  const int first = c == 0 ? EEP_TITLE_A : EEP_TITLE_A + EEP_COLUMN_B;
  for (int ctl = first; ctl < first + 13; ++ctl) hide(trq_adjust_panel, ctl);
  if (c == 1) {
    for (int ctl = OPT_START_B1; ctl < OPT_START_B1 + 5; ++ctl) hide(trq_opt_panel, ctl);
    hide(trq_opt_panel, OPT_HEAD_B);
    ShiftCtrls(trq_opt_panel, 0, -40, 1, OPT_START_CAPTION);
  }
}

void set_module_controls(int column) {
  if (column < 0 || column > 1) return;
  // With one module column B shows nothing: it stays as the resource left it.
  if (column == 1 && no_of_active_kmv < 2) return;
  const int c = column;
  const short m = module_of(c);
  if (m < 0 || m >= KMV_SLOTS || modusb[m] == nullptr) return;
  for (int j = 0; j < 4; ++j) {
    SetCtrlVal(trq_ctrl_panel, p12_ctrls[c][j], read_int_parameter(m, volt_par_id[j][0]));
    SetCtrlVal(trq_ctrl_panel, p5_ctrls[c][j], read_int_parameter(m, volt_par_id[j][1]));
    SetCtrlVal(trq_ctrl_panel, m5_ctrls[c][j], read_int_parameter(m, volt_par_id[j][2]));
  }
  short *const limits[4] = {gain_C1U_limit, gain_C2U_limit, gain_C3U_limit, gain_C4U_limit};
  for (int16_t j = 0; j < 4; ++j) KMVUSB_get_gain_HV_limit(m, j, &limits[j][m]);
  for (int j = 0; j < 4; ++j) {
    SetCtrlVal(trq_ctrl_panel, ghv_ctrls[c][j], read_float_parameter(m, 7 * j + 4));
    const char *label = AppAttr.labels[m][LABEL_GAIN + j];
    if (label[0] != '\0') SetCtrlAttribute(trq_ctrl_panel, ghv_ctrls[c][j], ATTR_LABEL_TEXT, label);
    SetCtrlVal(trq_ctrl_panel, cool_curr_ctrls[c][j], read_float_parameter(m, 7 * j + 7));
    SetCtrlVal(trq_ctrl_panel, cool_volt_ctrls[c][j], read_float_parameter(m, 7 * j + 6));
  }
  const int byte = read_int_parameter(m, KMV_PAR_DIGOUT);
  const int modes = AppAttr.digout_modes[m];
  for (int b = 0; b < 8; ++b) {
    const int ctl = digout_ctrls_usb[c][b];
    SetCtrlVal(trq_ctrl_panel, ctl, bit(byte, b) != bit(modes, b + 8) ? 1 : 0);
    const char *label = AppAttr.labels[m][LABEL_DIGOUT + b];
    if (label[0] != '\0') {
      SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_LABEL_TEXT, label);
      SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_LABEL_POINT_SIZE, font_size_for_text(label));
    }
    SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_ON_COLOR, bit(modes, b) ? momentary_colour : toggle_colour);
  }
  for (int j = 0; j < 4; ++j) {
    const int on = read_int_parameter(m, 7 * j + 5);
    SetCtrlVal(trq_ctrl_panel, cool_ctrls[c][j], on);
    set_connector_enabled(c, j, on);
  }
}

void initialize_ctrl_panel(int first) {
  if (first) {
    if (no_of_active_kmv >= 2) {
      hide(trq_panel, MAIN_ALL_OFF_ONE);
      hide(trq_ctrl_panel, CONF_SET_OUTPUTS_ONE);
    } else {
      layout_module_columns(1);
    }
  }
  set_module_controls(0);
  set_module_controls(1);
}
