// The start-up information dialog: hardware or emulation, and the modules
// to use (at most two). Later the same panel is the read-only "Info" page.
#include <array>
#include <cstdio>
#include <string>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/ui.h"
#include "support/Qv_err.h"

namespace {

constexpr int kGreen = 0x8000, kRed = 0xFF0000, kBlack = 0;
constexpr const char *kVersion = "Version 1.20 , 23 March 2020, for Linux";

int dialog = 0;       // panel 9, loaded on the first call and kept
int dialog_list = 0;  // its module list (panel 14)

bool is_loaded(int panel, int resource_id) {
  int id = 0;
  return panel > 0 && GetPanelAttribute(panel, ATTR_PANEL_RESOURCE_ID, &id) == 0 && id == resource_id;
}

int list_of(int panel) { return panel == dialog ? dialog_list : trq_info_list_panel; }
int use_ctrl(int slot) { return MODLIST_USE1 + slot; }
int status_ctrl(int slot) { return MODLIST_STATUS1 - slot; }

void dim(int panel, int control, bool on) { SetCtrlAttribute(panel, control, ATTR_DIMMED, on ? 1 : 0); }

int boxes_ticked(int list) {
  int n = 0;
  for (int i = 0; i < KMV_SLOTS; ++i) {
    int v = 0;
    GetCtrlVal(list, use_ctrl(i), &v);
    n += v != 0;
  }
  return n;
}

// The dialog's text and the answer taken, for standard error when nobody is
// there to answer (unattended, or after a quit signal).
void tell_unanswered(const char *answer) {
  std::string title, text, line;
  GetPanelAttribute(dialog, ATTR_TITLE, &title);
  GetCtrlVal(dialog, INFOU_MODE_TEXT, &text);
  GetCtrlVal(dialog, INFOU_ACTIVE_TEXT, &line);
  text += "; " + line;
  for (int i = 0; i < KMV_SLOTS; ++i) {
    line.clear();
    GetCtrlVal(dialog_list, status_ctrl(i), &line);
    if (!line.empty()) text += "; " + line;
  }
  platform::ui::tell_unanswered("dialog", title, text, answer);
}

}  // namespace

int kmvusb_info_dialog(void) { return dialog; }

void init_kmvusb_info(int panel, int first, int about, short mode) {
  const int list = list_of(panel);
  const bool emulation = mode != 0;
  int listed = 0, ok = 0;
  for (int i = 0; i < KMV_SLOTS; ++i) {
    KMVUSB_get_module_info(static_cast<int16_t>(i), &usbmod_info[i]);
    const KMVUSBModuleInfo &info = usbmod_info[i];
    SetCtrlVal(list, use_ctrl(i), act_mod[i] ? 1 : 0);
    char line[160];
    int colour = kBlack;
    if (info.type == KMV_TYPE_NONE) {
      std::snprintf(line, sizeof line, "M%d -  Not found", i + 1);
      SetCtrlAttribute(list, use_ctrl(i), ATTR_CTRL_MODE, emulation && !about ? VAL_HOT : VAL_INDICATOR);
    } else {
      if (mod_no == -1 && act_mod[i]) mod_no = static_cast<short>(i);
      SetCtrlAttribute(list, use_ctrl(i), ATTR_CTRL_MODE, about ? VAL_INDICATOR : VAL_HOT);
      get_kmv_module_type_txt(i);
      const char *type = module_type_txt[i];
      const bool port = info.port > 0;
      switch (info.init_status) {
        case 0:
          colour = act_mod[i] ? kGreen : kBlack;
          if (!emulation)
            std::snprintf(line, sizeof line, "M%d -  %s  S/N %s, COM port %d", i + 1, type, info.serial_no,
                          info.port);
          else if (act_mod[i])
            std::snprintf(line, sizeof line, "M%d -  %s  No errors", i + 1, type);
          else
            std::snprintf(line, sizeof line, "M%d -  Not found", i + 1);
          ++listed;
          ++ok;
          break;
        case -1:
          if (port)
            std::snprintf(line, sizeof line, "M%d -  %s  Init not done, S/N %s,  COM port %d", i + 1, type,
                          info.serial_no, info.port);
          else
            std::snprintf(line, sizeof line, "M%d -  %s  Init not done", i + 1, type);
          break;
        case -2:
          colour = kRed;
          if (port)
            std::snprintf(line, sizeof line, "M%d -  %s  Wrong EEPROM checksum,  COM port %d", i + 1, type,
                          info.port);
          else
            std::snprintf(line, sizeof line, "M%d -  %s  Wrong EEPROM checksum", i + 1, type);
          ++listed;
          break;
        case -4:
          colour = kRed;
          if (port)
            std::snprintf(line, sizeof line, "M%d -  %s  already in use, S/N %s,  COM port %d", i + 1, type,
                          info.serial_no, info.port);
          else
            std::snprintf(line, sizeof line, "M%d -  %s  already in use", i + 1, type);
          ++listed;
          break;
        default:
          colour = kRed;
          SetCtrlAttribute(list, use_ctrl(i), ATTR_CTRL_MODE, VAL_INDICATOR);
          std::snprintf(line, sizeof line, "M%d -  %s Unknown init. error, S/N %s, COM port %d", i + 1, type,
                        info.serial_no, info.port);
          ++listed;
          break;
      }
    }
    SetCtrlVal(list, status_ctrl(i), line);
    SetCtrlAttribute(list, status_ctrl(i), ATTR_TEXT_COLOR, colour);
  }
  no_of_ok_kmv = static_cast<short>(ok);
  const int good = no_of_active_kmv > 0 && (listed == ok || listed == 2) ? kGreen : kRed;
  SetCtrlAttribute(panel, INFOU_MODE_TEXT, ATTR_TEXT_COLOR, good);
  SetCtrlAttribute(panel, INFOU_ACTIVE_TEXT, ATTR_TEXT_COLOR, good);
  char text[60];
  std::snprintf(text, sizeof text, "Number of active modules = %d", no_of_active_kmv);
  SetCtrlVal(panel, INFOU_ACTIVE_TEXT, text);
  std::string mode_text = emulation ? " Emulation Mode" : " Hardware Mode";
  dim(panel, INFOU_START, no_of_active_kmv == 0);
  if (first && !about) {
    if (no_of_active_kmv == 0 && !hard_possible) {
      mode_text = " Entering Emulation Mode ";
      SetCtrlVal(list, use_ctrl(0), 1);
      act_mod[0] = 1;
      no_of_active_kmv = 1;
      dim(panel, INFOU_START, false);
    }
    SetCtrlAttribute(panel, INFOU_APPLY, ATTR_VISIBLE, 1);
  }
  if (about) SetCtrlAttribute(panel, INFOU_APPLY, ATTR_VISIBLE, 0);
  SetCtrlVal(panel, INFOU_INI, kmv_ini_file);
  SetCtrlVal(panel, INFOU_MODE_TEXT, mode_text);
  int dimmed = 1;
  GetCtrlAttribute(panel, INFOU_START, ATTR_DIMMED, &dimmed);
  if (!dimmed) SetActiveCtrl(panel, INFOU_START);
  if (!about) {
    KMVUSB_set_mode(mode, act_mod);
    return;
  }
  SetPanelAttribute(panel, ATTR_HEIGHT, 340);
  SetCtrlAttribute(panel, INFOU_MODE, ATTR_VISIBLE, 0);
  int leave_visible = 0;
  GetCtrlAttribute(panel, INFOU_LEAVE, ATTR_VISIBLE, &leave_visible);
  if (leave_visible) {
    SetPanelAttribute(panel, ATTR_CLOSE_CTRL, INFOU_START);
    for (int c : {INFOU_LEAVE, INFOU_APPLY, INFOU_START}) SetCtrlAttribute(panel, c, ATTR_VISIBLE, 0);
    int left = 0;
    GetCtrlAttribute(panel, INFOU_START, ATTR_LEFT, &left);
    SetCtrlAttribute(panel, INFOU_START, ATTR_LEFT, left - 130);
  }
}

int kmvusb_info(int about, int interactive) {
  if (!is_loaded(dialog, PANEL_INFOU)) {
    dialog = LoadPanel(0, KMV_MEAS_UIR, PANEL_INFOU);
    dialog_list = dialog > 0 ? LoadPanel(dialog, KMV_MEAS_UIR, PANEL_MODLIST) : -1;
    if (dialog <= 0 || dialog_list <= 0) {
      if (dialog > 0) DiscardPanel(dialog);
      dialog = dialog_list = 0;
      error("LOAD_PANEL", "INFOU");
      return 1;
    }
    SetCtrlVal(dialog, INFOU_VERSION, kVersion);
  }
  const short mode = KMVUSB_get_mode();
  hard_possible = mode == 0 && total_no_of_kmv != 0;
  init_kmvusb_info(dialog, 1, about, mode);
  dim(dialog, INFOU_APPLY, true);
  int selection = sim_switch != 0 ? sim_switch : mode != 0 ? mode : hard_possible ? 0 : 200;
  SetCtrlVal(dialog, INFOU_MODE, selection);
  int leave_visible = 1;
  GetCtrlAttribute(dialog, INFOU_LEAVE, ATTR_VISIBLE, &leave_visible);
  if (!leave_visible) {
    SetCtrlAttribute(dialog, INFOU_LEAVE, ATTR_VISIBLE, 1);
    SetPanelAttribute(dialog, ATTR_CLOSE_CTRL, INFOU_LEAVE);
    int left = 0;
    GetCtrlAttribute(dialog, INFOU_START, ATTR_LEFT, &left);
    SetCtrlAttribute(dialog, INFOU_START, ATTR_LEFT, left + 80);
  }
  const auto boxes_hot = [] {
    for (int i = 0; i < KMV_SLOTS; ++i) SetCtrlAttribute(dialog_list, use_ctrl(i), ATTR_CTRL_MODE, VAL_HOT);
  };
  if (selection != 0) boxes_hot();
  if (!interactive) return 0;

  DisplayPanel(dialog_list);
  if (DisplayPanel(dialog) < 0) {
    DiscardPanel(dialog);
    dialog = dialog_list = 0;
    error("DISP_PANEL", "INFOU");
    return 1;
  }
  std::array<bool, KMV_SLOTS> keep_failed{};  // ticked by the operator although its init failed
  bool asked_default = false;
  int result = 0;
  for (bool finished = false; !finished;) {
    int panel = 0, control = 0;
    if (GetUserEvent(1, &panel, &control) < 0) {
      // Nobody will answer: start with what is preselected, once.
      if (asked_default || platform::ui::quit_signal() != 0) {
        tell_unanswered("Quit");
        result = 1;
        break;
      }
      tell_unanswered("Start");
      asked_default = true;
      panel = dialog;
      control = INFOU_START;
    }
    if (panel == dialog && control == INFOU_LEAVE) {
      result = 1;
      finished = true;
    } else if (panel == dialog && control == INFOU_MODE) {
      int value = 0;
      GetCtrlVal(dialog, INFOU_MODE, &value);
      if (!hard_possible && value == 0) {
        SetCtrlVal(dialog, INFOU_MODE, selection);
      } else if (value != selection) {
        selection = value;
        sim_switch = static_cast<unsigned char>(value);
        result = 3;
        if (value != 0) boxes_hot();
        const bool none = boxes_ticked(dialog_list) == 0;
        dim(dialog, INFOU_START, none);
        dim(dialog, INFOU_APPLY, none);
      }
    } else if (panel == dialog && (control == INFOU_START || control == INFOU_APPLY)) {
      if (about) break;
      int count = 0;
      for (int i = 0; i < KMV_SLOTS; ++i) {
        int v = 0;
        GetCtrlVal(dialog_list, use_ctrl(i), &v);
        if (v && count < 2) {
          act_mod[i] = 1;
          ++count;
        } else {
          if (v) SetCtrlVal(dialog_list, use_ctrl(i), 0);
          act_mod[i] = 0;
        }
      }
      no_of_active_kmv = static_cast<short>(count);
      bool complete = true;
      if (count == 0) {
        error("KMV_NO_ACT_MOD");
        complete = false;
      } else {
        const int r = KMVUSB_set_mode(static_cast<int16_t>(selection), act_mod);
        result = r;
        for (int i = 0; i < KMV_SLOTS; ++i) {
          if (!act_mod[i]) continue;
          KMVUSB_get_module_info(static_cast<int16_t>(i), &usbmod_info[i]);
          const KMVUSBModuleInfo &info = usbmod_info[i];
          if (!info.connected || (info.init_status != 0 && !keep_failed[i])) {
            SetCtrlVal(dialog_list, use_ctrl(i), 0);
            act_mod[i] = 0;
            --no_of_active_kmv;
            complete = false;
          }
        }
        if (r >= 0) init_usbsystem(nullptr);
        selection = KMVUSB_get_mode();
        SetCtrlVal(dialog, INFOU_MODE, selection);
        keep_failed.fill(false);
        if (control == INFOU_START && complete) finished = true;
      }
      const short now = KMVUSB_get_mode();
      init_kmvusb_info(dialog, 0, about, now);
      dim(dialog, INFOU_APPLY, true);
      const bool startable =
          complete ? no_of_active_kmv > 0
                   : now == 0 && (no_of_active_kmv == total_no_of_kmv || no_of_active_kmv == 2);
      dim(dialog, INFOU_START, !startable);
    } else if (panel == dialog_list && control >= use_ctrl(0) && control <= use_ctrl(KMV_SLOTS - 1)) {
      const int i = control - use_ctrl(0);
      int v = 0;
      GetCtrlVal(dialog_list, control, &v);
      if (v && boxes_ticked(dialog_list) > 2) {
        SetCtrlVal(dialog_list, control, 0);
        v = 0;
      }
      if (v) keep_failed[i] = usbmod_info[i].connected && usbmod_info[i].init_status != 0;
      act_mod[i] = static_cast<short>(v != 0);
      no_of_active_kmv = static_cast<short>(boxes_ticked(dialog_list));
      const bool none = no_of_active_kmv == 0;
      dim(dialog, INFOU_START, none);
      dim(dialog, INFOU_APPLY, none);
    }
  }
  HidePanel(dialog);
  return result;
}
