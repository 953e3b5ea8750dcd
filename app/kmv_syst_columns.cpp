// The configuration page's module columns: every operator action becomes one
// value on the parameter road for the module shown in the control's column.
#include <cstring>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "platform/win/strings.h"

// Shared with the output switches' label editor and the configuration page.
int clicked_column = 0;
int label_ctrl = -1;
int label_element = -1;

namespace {

int digout_sel_ctrl = 0;
int digout_sel_column = 0;
int digout_sel_bit = 0;
int digout_sel_momentary = -1;

enum class Role { none, p5, m5, p12, gain, cooler, volt, curr, digout, set_outputs, label_editor };

struct Place {
  Role role = Role::none;
  int column = 0;
  int index = 0;  // connector 0..3, or bit 0..7
};

Place find(int control) {
  const struct {
    const int (*table)[4];
    Role role;
  } tables[] = {{p5_ctrls, Role::p5},     {m5_ctrls, Role::m5},          {p12_ctrls, Role::p12},
                {ghv_ctrls, Role::gain},  {cool_ctrls, Role::cooler},    {cool_volt_ctrls, Role::volt},
                {cool_curr_ctrls, Role::curr}};
  for (int c = 0; c < 2; ++c) {
    for (const auto &t : tables)
      for (int j = 0; j < 4; ++j)
        if (t.table[c][j] == control) return {t.role, c, j};
    for (int b = 0; b < 8; ++b)
      if (digout_ctrls_usb[c][b] == control) return {Role::digout, c, b};
  }
  if (control == CONF_SET_OUTPUTS_ONE || control == CONF_SET_OUTPUTS_TWO) return {Role::set_outputs, 0, 0};
  if (control == CONF_LABEL_EDIT) return {Role::label_editor, 0, 0};
  return {};
}

int par_id(Role role, int connector) {
  const int base = 7 * connector;
  switch (role) {
    case Role::p5: return base + 1;
    case Role::m5: return base + 2;
    case Role::p12: return base + 3;
    case Role::gain: return base + 4;
    case Role::cooler: return base + 5;
    case Role::volt: return base + 6;
    case Role::curr: return base + 7;
    default: return KMV_PAR_DIGOUT;
  }
}

short gain_limit(short module, int connector) {
  static short *const limits[4] = {gain_C1U_limit, gain_C2U_limit, gain_C3U_limit, gain_C4U_limit};
  return module >= 0 && module < KMV_SLOTS && connector >= 0 && connector < 4 ? limits[connector][module] : 0;
}

bool bit(int word, int b) { return ((word >> b) & 1) != 0; }

void clear_selection() {
  digout_sel_ctrl = 0;
  digout_sel_column = 0;
  digout_sel_bit = 0;
  digout_sel_momentary = -1;
}

void hide_label_editor() {
  SetCtrlAttribute(trq_ctrl_panel, CONF_LABEL_EDIT, ATTR_VISIBLE, 0);
  label_ctrl = -1;
  label_element = -1;
}

// Sends a new digital-output byte and shows bit b of what the module kept.
void send_digout(short module, int column, int b, int byte, bool inverted) {
  set_usbmodule_parameter(module, KMV_PAR_DIGOUT, int_value(byte));
  const bool kept = bit(read_int_parameter(module, KMV_PAR_DIGOUT), b);
  SetCtrlVal(trq_ctrl_panel, digout_ctrls_usb[column][b], kept != inverted ? 1 : 0);
}

// Output 4 (the digital outputs) always; a connector when one of its supplies is on.
bool output_wanted(short module, int output) {
  if (output == 4) return true;
  if (output < 0 || output > 3) return false;
  for (int id : volt_par_id[output])
    if (read_int_parameter(module, id) != 0) return true;
  return false;
}

// Re-evaluates the output enables of one module from its own supplies.
void set_outputs_from_supplies(short module) {
  const int column = column_of(module);
  const bool shown = module == st_trq || module == nd_trq;
  for (int k = 0; k < 5; ++k) {
    const bool wanted = output_wanted(module, k);
    const bool enabled = bit(out_enabled[module], k);
    if (wanted == enabled) continue;
    KMVUSB_enable_outputs(module, static_cast<int16_t>(k), wanted ? 1 : 0);
    if (shown) SetCtrlVal(trq_panel, con_ctrls[column][k], wanted ? 1 : 0);
    out_enabled[module] = static_cast<short>(wanted ? out_enabled[module] | (1 << k) : out_enabled[module] & ~(1 << k));
  }
}

void context_menu(int panel, int control, const Place &p) {
  const short module = module_of(p.column);
  const bool is_bit = p.role == Role::digout;
  clicked_column = p.column;
  label_ctrl = control;
  label_element = is_bit ? LABEL_DIGOUT + p.index : LABEL_GAIN + p.index;
  int left = 0, top = 0, width = 0, height = 0, label_top = 0, label_left = 0;
  GetCtrlAttribute(panel, control, ATTR_LEFT, &left);
  GetCtrlAttribute(panel, control, ATTR_TOP, &top);
  GetCtrlAttribute(panel, control, ATTR_WIDTH, &width);
  GetCtrlAttribute(panel, control, ATTR_HEIGHT, &height);
  int item = 0;
  const int modes = module >= 0 && module < KMV_SLOTS ? AppAttr.digout_modes[module] : 0;
  if (!is_bit) {
    GetCtrlAttribute(panel, control, ATTR_LABEL_TOP, &label_top);
    GetCtrlAttribute(panel, control, ATTR_LABEL_LEFT, &label_left);
    item = RunPopupMenu(label_menubar, MENU_POPUP, panel, top + height, label_left);
  } else {
    const int b = p.index;
    SetMenuBarAttribute(digout_menubar, MENU_ITEM_TOGGLE, ATTR_CHECKED, bit(modes, b) ? 0 : 1);
    SetMenuBarAttribute(digout_menubar, MENU_ITEM_MOMENTARY, ATTR_CHECKED, bit(modes, b) ? 1 : 0);
    SetMenuBarAttribute(digout_menubar, MENU_ITEM_INVERT, ATTR_CHECKED, bit(modes, b + 8) ? 1 : 0);
    item = RunPopupMenu(digout_menubar, MENU_POPUP, panel, top + height, left);
  }
  if (module < 0 || module >= KMV_SLOTS) return;
  const int b = p.index;
  int16_t &mode = AppAttr.digout_modes[module];
  switch (item) {
    case MENU_ITEM_RENAME: {
      int editor_width = 0;
      GetCtrlAttribute(panel, CONF_LABEL_EDIT, ATTR_WIDTH, &editor_width);
      const int et = is_bit ? top - 5 : label_top;
      int el = is_bit ? left - editor_width - 10 : label_left;
      if (el < 0) el = 0;
      SetCtrlAttribute(panel, CONF_LABEL_EDIT, ATTR_TOP, et);
      SetCtrlAttribute(panel, CONF_LABEL_EDIT, ATTR_LEFT, el);
      std::string text = AppAttr.labels[module][label_element];
      if (text.empty()) GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &text);
      SetCtrlVal(panel, CONF_LABEL_EDIT, text.substr(0, APPATTR_LABEL_SIZE - 1));
      SetCtrlAttribute(panel, CONF_LABEL_EDIT, ATTR_VISIBLE, 1);
      SetActiveCtrl(panel, CONF_LABEL_EDIT);
      break;
    }
    case MENU_ITEM_TOGGLE:
      if (!is_bit) break;
      mode = static_cast<int16_t>(mode & ~(1 << b));
      SetCtrlAttribute(panel, control, ATTR_ON_COLOR, toggle_colour);
      break;
    case MENU_ITEM_MOMENTARY: {
      if (!is_bit) break;
      mode = static_cast<int16_t>(mode | (1 << b));
      SetCtrlAttribute(panel, control, ATTR_ON_COLOR, momentary_colour);
      const bool inverted = bit(mode, b + 8);
      const int byte = read_int_parameter(module, KMV_PAR_DIGOUT);
      if (bit(byte, b) != inverted)
        send_digout(module, p.column, b, inverted ? byte | (1 << b) : byte & ~(1 << b), inverted);
      break;
    }
    case MENU_ITEM_INVERT: {
      if (!is_bit) break;
      mode = static_cast<int16_t>(mode ^ (1 << (b + 8)));
      const bool inverted = bit(mode, b + 8);
      const int byte = read_int_parameter(module, KMV_PAR_DIGOUT);
      if (bit(mode, b))
        send_digout(module, p.column, b, byte ^ (1 << b), inverted);  // stays at rest under the new polarity
      else
        SetCtrlVal(panel, control, bit(byte, b) != inverted ? 1 : 0);
      break;
    }
    default: break;
  }
}

}  // namespace

int font_size_for_text(const char *text) {
  const size_t n = text ? std::strlen(text) : 0;
  if (n < 7) return 14;
  if (n <= 8) return 13;
  if (n == 9) return 11;
  return 9;
}

void set_connector_enabled(int column, int connector, int on) {
  if (column < 0 || column > 1 || connector < 0 || connector > 3) return;
  SetCtrlAttribute(trq_ctrl_panel, cool_volt_ctrls[column][connector], ATTR_DIMMED, on ? 0 : 1);
  SetCtrlAttribute(trq_ctrl_panel, cool_curr_ctrls[column][connector], ATTR_DIMMED, on ? 0 : 1);
}

int check_connector_params(int column, int output) { return output_wanted(module_of(column), output) ? 1 : 0; }

void release_momentary_output(void) {
  if (digout_sel_momentary <= 0 || digout_sel_ctrl == 0) return;
  const short module = module_of(digout_sel_column);
  const int b = digout_sel_bit;
  if (module >= 0 && module < KMV_SLOTS) {
    const bool inverted = bit(AppAttr.digout_modes[module], b + 8);
    const int byte = read_int_parameter(module, KMV_PAR_DIGOUT);
    send_digout(module, digout_sel_column, b, inverted ? byte | (1 << b) : byte & ~(1 << b), inverted);
  }
  clear_selection();
}

int MainCtrlCallback(int panel, int control, int event, void *callback_data, int event_data1, int event_data2) {
  const Place p = find(control);
  const short module = module_of(p.column);
  switch (event) {
    case EVENT_COMMIT:
      switch (p.role) {
        case Role::p5:
        case Role::m5:
        case Role::p12:
        case Role::cooler: {
          int v = 0;
          GetCtrlVal(panel, control, &v);
          set_usbmodule_parameter(module, par_id(p.role, p.index), int_value(v));
          if (p.role == Role::cooler) {
            set_connector_enabled(p.column, p.index, v);
            if (v) {
              update_curr_lmt_leds(module, static_cast<short>(p.index));
            } else {
              SetCtrlAttribute(trq_panel, cool_lim_ctrls[p.column][p.index], ATTR_VISIBLE, 0);
              if (module >= 0 && module < KMV_SLOTS)
                cool_alarm[module] = static_cast<short>(cool_alarm[module] & ~(1 << p.index));
            }
          }
          break;
        }
        case Role::digout: {
          if (module < 0 || module >= KMV_SLOTS) break;
          const int b = p.index;
          // The bit's own stored mode, never a selection left by another control.
          const bool inverted = bit(AppAttr.digout_modes[module], b + 8);
          int v = 0;
          GetCtrlVal(panel, control, &v);
          const int level = (v != 0) != inverted ? 1 : 0;
          const int byte = read_int_parameter(module, KMV_PAR_DIGOUT);
          send_digout(module, p.column, b, (byte & ~(1 << b)) | (level << b), inverted);
          break;
        }
        case Role::set_outputs:
          for (short m = 0; m < KMV_SLOTS; ++m)
            if (act_mod[m]) set_outputs_from_supplies(m);
          break;
        case Role::label_editor: {
          if (label_element < LABEL_DIGOUT || label_element > LABEL_GAIN + 3) break;
          const short m = module_of(clicked_column);
          char text[APPATTR_LABEL_SIZE] = {};
          GetCtrlVal(panel, CONF_LABEL_EDIT, text);
          if (m >= 0 && m < KMV_SLOTS)
            platform::copy_bounded(AppAttr.labels[m][label_element], APPATTR_LABEL_SIZE, text);
          SetCtrlAttribute(panel, label_ctrl, ATTR_LABEL_TEXT, text);
          if (label_element < LABEL_GAIN)
            SetCtrlAttribute(panel, label_ctrl, ATTR_LABEL_POINT_SIZE, font_size_for_text(text));
          SetActiveCtrl(panel, label_ctrl);
          hide_label_editor();
          break;
        }
        default: break;
      }
      return 0;
    case EVENT_VAL_CHANGED: {
      if (p.role != Role::gain && p.role != Role::volt && p.role != Role::curr) return 0;
      float v = 0;
      GetCtrlVal(panel, control, &v);
      const int id = par_id(p.role, p.index);
      if (p.role != Role::gain || (v >= 0.0f && v <= gain_limit(module, p.index)))
        set_usbmodule_parameter(module, id, float_value(v));
      SetCtrlVal(panel, control, read_float_parameter(module, id));
      return 0;
    }
    case EVENT_LEFT_CLICK:
    case EVENT_GOT_FOCUS:
      if (p.role == Role::digout && module >= 0 && module < KMV_SLOTS) {
        digout_sel_ctrl = control;
        digout_sel_column = p.column;
        digout_sel_bit = p.index;
        digout_sel_momentary = bit(AppAttr.digout_modes[module], p.index) ? 1 : 0;
      } else {
        clear_selection();
      }
      return 0;
    case EVENT_LEFT_CLICK_UP:
      if (digout_sel_momentary > 0 && digout_sel_ctrl != 0) release_momentary_output();
      return 0;
    case EVENT_KEYPRESS: {
      // By the bit's own mode: its selection ends with each release while it keeps the focus.
      const int key = event_data1 & 0xFFFF;
      const bool momentary = p.role == Role::digout && module >= 0 && module < KMV_SLOTS &&
                             bit(AppAttr.digout_modes[module], p.index);
      return momentary && (key == VAL_ENTER_VKEY || key == ' ') ? 1 : 0;
    }
    case EVENT_RIGHT_CLICK:
      if (p.role == Role::digout || p.role == Role::gain) context_menu(panel, control, p);
      return 0;
    case EVENT_LOST_FOCUS:
      if (p.role == Role::label_editor) hide_label_editor();
      return 0;
    default: return 0;
  }
}
