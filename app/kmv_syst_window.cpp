// The main window: its set-up, the output switches and the other main-panel
// controls, dropped files, the load and save buttons, the view menu items,
// and the quit path.
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "app/kmv_io_dialogs.h"
#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/ui.h"
#include "platform/win/registry.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"
#include "support/Util_fun_geometry.h"
#include "support/Util_fun_titles.h"

int done = 0;
char *status_text = nullptr;
PanelAttrEntry pnldata[1] = {};
int trq_expanded_height = 0;

namespace {

const char *const kPanelNames[] = {"Main", "Adjust"};
std::array<char, 512> status_buffer{};
int out_label_ctrl = -1;
int out_label_element = -1;

void show(int panel, int control, bool on) { SetCtrlAttribute(panel, control, ATTR_VISIBLE, on ? 1 : 0); }

// A tab page from a panel of the resource; its handle, or 0 after a report.
int insert_page(int resource_id, const char *name, int index) {
  const int loaded = LoadPanel(trq_panel, KMV_MEAS_UIR, resource_id);
  if (loaded < 0) {
    error("LOAD_PANEL", name);
    return 0;
  }
  const int at = InsertPanelAsTabPage(trq_panel, MAIN_TAB, index, loaded);
  int page = 0;
  if (at >= 0) GetPanelHandleFromTabPage(trq_panel, MAIN_TAB, at, &page);
  DiscardPanel(loaded);
  if (page <= 0) error("LOAD_PANEL", name);
  return page;
}

// The start-up dialog becomes the read-only "Info" page.
void insert_info_page() {
  int dialog = kmvusb_info_dialog();
  int id = 0;
  if (dialog <= 0 || GetPanelAttribute(dialog, ATTR_PANEL_RESOURCE_ID, &id) != 0 || id != PANEL_INFOU)
    dialog = LoadPanel(0, KMV_MEAS_UIR, PANEL_INFOU);
  if (dialog <= 0) return;
  for (int child = 0; GetPanelAttribute(dialog, ATTR_FIRST_CHILD, &child) == 0 && child > 0;) DiscardPanel(child);
  SetPanelAttribute(dialog, ATTR_TITLE, "Info");
  const int at = InsertPanelAsTabPage(trq_panel, MAIN_TAB, -1, dialog);
  if (at >= 0) GetPanelHandleFromTabPage(trq_panel, MAIN_TAB, at, &trq_info_panel);
  DiscardPanel(dialog);
  if (trq_info_panel <= 0) return;
  trq_info_list_panel = LoadPanel(trq_info_panel, KMV_MEAS_UIR, PANEL_MODLIST);
  if (trq_info_list_panel > 0) DisplayPanel(trq_info_list_panel);
  init_kmvusb_info(trq_info_panel, 0, 1, KMVUSB_get_mode());
}

void discard_window() {
  if (trq_panel > 0) DiscardPanel(trq_panel);
  for (int *bar : {&digout_menubar, &label_menubar})
    if (*bar > 0) DiscardMenuBar(*bar);
  trq_panel = trq_ctrl_panel = trq_opt_panel = trq_adjust_panel = trq_info_panel = trq_info_list_panel = 0;
  digout_menubar = label_menubar = 0;
}

void hide_out_label_editor() {
  show(trq_panel, MAIN_LABEL_EDIT, false);
  out_label_ctrl = -1;
  out_label_element = -1;
}

void all_outputs_off(int control) {
  KMVUSB_enable_outputs(-1, -1, 0);
  read_overload_state(st_trq);
  if (control == MAIN_ALL_OFF_TWO) read_overload_state(nd_trq);
  for (short m = 0; m < KMV_SLOTS; ++m) {
    if (!act_mod[m]) continue;
    const int c = column_of(m);
    out_enabled[m] = 0;
    ovld_alarm[m] = 0;
    for (int j = 0; j < 4; ++j) {
      SetCtrlVal(trq_panel, con_ctrls[c][j], 0);
      show(trq_panel, rst_ctrls[c][j], false);
      show(trq_panel, warn_ctrls[c][j], false);
      SetCtrlAttribute(trq_panel, warn_ctrls[c][j], ATTR_FILL_COLOR, VAL_TRANSPARENT);
      SetCtrlAttribute(trq_ctrl_panel, p12_ctrls[c][j], ATTR_TEXT_BGCOLOR, VAL_TRANSPARENT);
      SetCtrlAttribute(trq_ctrl_panel, ghv_ctrls[c][j], ATTR_TEXT_BGCOLOR, VAL_TRANSPARENT);
    }
    SetCtrlVal(trq_panel, con_ctrls[c][4], 0);
  }
}

void expand_or_collapse() {
  int top = 0, height = 0;
  GetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_TOP, &top);
  GetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_HEIGHT, &height);
  if (trq_scale_on_resize) set_all_panels_attr(0);
  if (trq_expanded) {
    SetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_DIMMED, 1);
    trq_expanded = 0;
    SetPanelAttribute(trq_panel, ATTR_HEIGHT, top);
  } else {
    SetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_DIMMED, 0);
    trq_expanded = 1;
    trq_expanded_height = top + height + 3;
    SetPanelAttribute(trq_panel, ATTR_HEIGHT, trq_expanded_height);
  }
  if (trq_scale_on_resize) set_all_panels_attr(1);
}

void rename_output(int panel, int control) {
  const int column = control < MAIN_OUT_B1 ? 0 : 1;
  const int element = control - (column == 0 ? MAIN_OUT_A1 : MAIN_OUT_B1);
  int left = 0, top = 0, width = 0, height = 0;
  GetCtrlAttribute(panel, control, ATTR_LEFT, &left);
  GetCtrlAttribute(panel, control, ATTR_TOP, &top);
  GetCtrlAttribute(panel, control, ATTR_WIDTH, &width);
  GetCtrlAttribute(panel, control, ATTR_HEIGHT, &height);
  clicked_column = column;
  if (RunPopupMenu(label_menubar, MENU_POPUP, panel, top + height, left) != MENU_ITEM_RENAME) return;
  out_label_ctrl = control;
  out_label_element = element;
  SetCtrlAttribute(panel, MAIN_LABEL_EDIT, ATTR_TOP, top + 25);
  SetCtrlAttribute(panel, MAIN_LABEL_EDIT, ATTR_LEFT, std::max(left - 12, 0));
  const char *stored = AppAttr.labels[module_of(column)][LABEL_OUTPUT + element];
  std::string text = stored;
  if (text.empty()) GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &text);
  SetCtrlVal(panel, MAIN_LABEL_EDIT, text);
  show(panel, MAIN_LABEL_EDIT, true);
  SetActiveCtrl(panel, MAIN_LABEL_EDIT);
}

}  // namespace

void init_option_panel(int first) {
  if (first) {
    NewPathCtrl(trq_opt_panel, OPT_DIR, 4, 1);
    SetPathCtrlAttribute(trq_opt_panel, OPT_DIR, ATTR_PATH_CTRL_MAX_HISTORY, 32);
    set_startup_output_boxes();
  }
  SetCtrlVal(trq_opt_panel, OPT_DIR, pdata_dir);
  SetCtrlVal(trq_opt_panel, OPT_SCALE, AppAttr.scale - 1);
  SetCtrlVal(trq_opt_panel, OPT_FLOAT, AppAttr.float_mode == -50 ? 1 : 0);
  for (int k = 0; k < 5; ++k) SetCtrlVal(trq_opt_panel, OPT_START_A1 + k, (AppAttr.start_outputs[st_trq] >> k) & 1);
  if (no_of_active_kmv != 1)
    for (int k = 0; k < 5; ++k)
      SetCtrlVal(trq_opt_panel, OPT_START_B1 + k, (AppAttr.start_outputs[nd_trq] >> k) & 1);
}

int manage_meas_panel(void) {
  SetSleepPolicy(3);
  status_text = status_buffer.data();
  init_panel_structures(pnldata, 1, kPanelNames);
  AppAttr = AppAttrRecord{};
  LoadAppSettings(QV_APP_TRQ, sizeof AppAttr, "Current", &AppAttr);
  set_appattr_defaults();

  trq_panel = LoadPanelAndSettings(0, KMV_MEAS_UIR, PANEL_MAIN_USB, 1, QV_APP_TRQ, pnldata);
  if (trq_panel <= 0) {
    trq_panel = 0;
    error("LOAD_PANEL", "MAIN_USB");
    status_text = nullptr;
    return -1;
  }
  int screen_h = 0, screen_w = 0;
  GetScreenSize(&screen_h, &screen_w);
  const bool restored = pnldata[0].state == PANEL_STATE_RESTORED;
  SetPanelAttribute(trq_panel, ATTR_TOP, restored ? pnldata[0].value.top : VAL_AUTO_CENTER);
  SetPanelAttribute(trq_panel, ATTR_LEFT, restored ? pnldata[0].value.left : VAL_AUTO_CENTER);
  SetCtrlAttribute(trq_panel, MAIN_VIEW, ATTR_TOOLTIP_TEXT, "Simple/Expanded View");
  SetPanelTitle(trq_panel, "TRQ v.1.20");
  SetPanelAttribute(trq_panel, ATTR_FLOATING, AppAttr.float_mode);

  struct Page {
    int *handle, id, index;
    const char *name;
  };
  for (const Page &p : {Page{&trq_ctrl_panel, PANEL_CONF, 0, "CONF"}, Page{&trq_opt_panel, PANEL_TRQOPT, -1, "TRQOPT"},
                        Page{&trq_adjust_panel, PANEL_TRQEEP, -1, "TRQEEP"}}) {
    if (*p.handle > 0) continue;
    *p.handle = insert_page(p.id, p.name, p.index);
    if (*p.handle <= 0) {
      discard_window();
      status_text = nullptr;
      return -1;
    }
    if (p.handle == &trq_ctrl_panel) {
      GetCtrlAttribute(trq_ctrl_panel, CONF_MOMENTARY_SAMPLE, ATTR_ON_COLOR, &momentary_colour);
      GetCtrlAttribute(trq_ctrl_panel, CONF_TOGGLE_SAMPLE, ATTR_ON_COLOR, &toggle_colour);
      SetCtrlAttribute(trq_ctrl_panel, CONF_MOMENTARY_SAMPLE, ATTR_ON_COLOR, toggle_colour);
    }
  }
  insert_info_page();

  SetActiveTabPage(trq_panel, MAIN_TAB, 0);
  initialize_ctrl_panel(1);
  init_adjustusb_panel(st_trq, 1, &usb_eep[st_trq]);
  if (no_of_active_kmv > 1) init_adjustusb_panel(nd_trq, 1, &usb_eep[nd_trq]);
  GetCtrlAttribute(trq_panel, MAIN_WARN_A1, ATTR_FILL_COLOR, &warn_color);
  act_warn_color = warn_color;
  digout_menubar = LoadMenuBar(0, KMV_MEAS_UIR, MENUBAR_DIGOUT);
  label_menubar = LoadMenuBar(0, KMV_MEAS_UIR, MENUBAR_LABEL);
  init_option_panel(1);

  for (short i = 0; i < KMV_SLOTS; ++i)
    if (act_mod[i]) {
      KMVUSB_enable_outputs(i, -1, 0);
      out_enabled[i] = 0;
    }
  // Only modules in use paint their switches: a slot not in use may hold
  // labels of its own that must not end up on column B.
  for (short i = 0; i < KMV_SLOTS; ++i) {
    if (!act_mod[i]) continue;
    const int c = column_of(i);
    for (int k = 0; k < 5; ++k) {
      SetCtrlVal(trq_panel, con_ctrls[c][k], (out_enabled[i] >> k) & 1);
      const char *label = AppAttr.labels[i][LABEL_OUTPUT + k];
      if (label[0] != '\0') SetCtrlAttribute(trq_panel, con_ctrls[c][k], ATTR_LABEL_TEXT, label);
    }
    read_overload_state(i);
  }
  trq_scale_on_resize = AppAttr.scale - 1;
  set_all_panels_attr(trq_scale_on_resize);
  if (restored) {
    int height = std::min<int>(pnldata[0].value.height, screen_h);
    int width = pnldata[0].value.width;
    if (no_of_active_kmv == 1) width = static_cast<int>(std::lround(width * 470.0 / 915.0));
    width = std::min(width, screen_w);
    if (trq_scale_on_resize) {
      SetPanelAttribute(trq_panel, ATTR_HEIGHT, height);
      SetPanelAttribute(trq_panel, ATTR_WIDTH, width);
    }
  }
  GetPanelAttribute(trq_panel, ATTR_HEIGHT, &trq_expanded_height);
  SetCtrlAttribute(trq_panel, MAIN_TIMER, ATTR_ENABLED, 1);
  EnableDragAndDrop(trq_panel);
  if (DisplayPanel(trq_panel) < 0) {
    error("DISP_PANEL", "MAIN");
    discard_window();
    status_text = nullptr;
    return -1;
  }
  SetMouseCursor(-1);
  done = 0;
  if (cmd_load_file) {
    LoadTrqCallback(trq_opt_panel, OPT_LOAD, EVENT_COMMIT, nullptr, 0, 0);
    cmd_load_file = 0;
  }
  RunUserInterface();
  discard_window();
  status_text = nullptr;
  return 0;
}

// ---- callbacks of the main window ------------------------------------------------------

int LoadTrqCallback(int panel, int control, int event, void *, int, int) {
  if (event != EVENT_COMMIT || panel != trq_opt_panel) return 0;
  if (manage_load_usb_panel(panel) != 0) initialize_ctrl_panel(0);
  return 0;
}

int SaveTrqCallback(int panel, int control, int event, void *, int, int) {
  if (event != EVENT_COMMIT || panel != trq_opt_panel) return 0;
  manage_save_usb_panel(panel);
  return 0;
}

int PanelCallback(int panel, int event, void *, int event_data1, int) {
  if (event == EVENT_LOST_FOCUS) {
    hide_out_label_editor();
  } else if (event == EVENT_FILESDROPPED) {
    const char *const *files = GetDroppedFiles(event_data1);
    if (files == nullptr || files[0] == nullptr) return 0;
    if (!platform::copy_bounded(client_fname, sizeof client_fname, files[0])) {
      client_fname[0] = '\0';
      MessagePopup("Load setup file", "The dropped file's path is too long to be loaded.");
      return 0;
    }
    cmd_load_file = 1;
    LoadTrqCallback(trq_opt_panel, OPT_LOAD, EVENT_COMMIT, nullptr, 0, 0);
    cmd_load_file = 0;
  }
  return 0;
}

int TrqCtrlCallback(int panel, int control, int event, void *, int, int) {
  if (event == EVENT_COMMIT) {
    if (control >= MAIN_OUT_A1 && control < MAIN_OUT_B1 + 5) {
      const short m = control < MAIN_OUT_B1 ? st_trq : nd_trq;
      const int output = control - (control < MAIN_OUT_B1 ? MAIN_OUT_A1 : MAIN_OUT_B1);
      int value = 0;
      GetCtrlVal(panel, control, &value);
      KMVUSB_enable_outputs(m, static_cast<int16_t>(output), static_cast<int16_t>(value));
      if (value)
        out_enabled[m] = static_cast<short>(out_enabled[m] | (1 << output));
      else
        out_enabled[m] = static_cast<short>(out_enabled[m] & ~(1 << output));
    } else if (control == MAIN_ALL_OFF_ONE || control == MAIN_ALL_OFF_TWO) {
      all_outputs_off(control);
    } else if (control >= MAIN_RESET_A1 && control < MAIN_RESET_B1 + 4) {
      const int c = control < MAIN_RESET_B1 ? 0 : 1;
      const int connector = control - (c == 0 ? MAIN_RESET_A1 : MAIN_RESET_B1);
      const short m = module_of(c);
      if (KMVUSB_clear_overload(m, static_cast<int16_t>(connector)) == 0) {
        SetCtrlVal(panel, led_ctrls[c][connector], 0);
        show(panel, control, false);
        ovld_alarm[m] = static_cast<short>(ovld_alarm[m] & ~(1 << connector));
      }
    } else if (control == MAIN_VIEW) {
      expand_or_collapse();
    } else if (control == MAIN_LABEL_EDIT) {
      if (out_label_element < 0 || out_label_element > 4) return 0;
      char text[APPATTR_LABEL_SIZE] = "";
      GetCtrlVal(panel, MAIN_LABEL_EDIT, text);
      platform::copy_bounded(AppAttr.labels[module_of(clicked_column)][LABEL_OUTPUT + out_label_element],
                             APPATTR_LABEL_SIZE, text);
      SetCtrlAttribute(panel, out_label_ctrl, ATTR_LABEL_TEXT, text);
      SetActiveCtrl(panel, out_label_ctrl);
      hide_out_label_editor();
    }
  } else if (event == EVENT_RIGHT_CLICK) {
    if (control >= MAIN_OUT_A1 && control < MAIN_OUT_B1 + 5) rename_output(panel, control);
  } else if (event == EVENT_LOST_FOCUS && control == MAIN_LABEL_EDIT) {
    hide_out_label_editor();
  }
  return 0;
}

int TrqConf_Callback(int panel, int event, void *, int, int) {
  if (event == EVENT_LOST_FOCUS) {
    SetCtrlAttribute(panel, CONF_LABEL_EDIT, ATTR_VISIBLE, 0);
    label_ctrl = -1;
    label_element = -1;
  }
  if (event == EVENT_LOST_FOCUS || event == EVENT_LEFT_CLICK_UP) release_momentary_output();
  return 0;
}

// Scaling is kept in three places that must agree: the record, the setting
// in force and the options page's box.
int ScaleCallback(int menubar, int item, void *, int) {
  AppAttr.scale = AppAttr.scale == 2 ? 1 : 2;
  trq_scale_on_resize = AppAttr.scale - 1;
  SetMenuBarAttribute(menubar, item, ATTR_CHECKED, trq_scale_on_resize);
  SetCtrlVal(trq_opt_panel, OPT_SCALE, trq_scale_on_resize);
  set_all_panels_attr(trq_scale_on_resize);
  return 0;
}

int FloatCallback(int menubar, int item, void *, int) {
  AppAttr.float_mode = AppAttr.float_mode == 1 ? -50 : 1;
  SetMenuBarAttribute(menubar, item, ATTR_CHECKED, AppAttr.float_mode == -50 ? 1 : 0);
  SetPanelAttribute(trq_panel, ATTR_FLOATING, AppAttr.float_mode);
  return 0;
}

int EnOutCallback(int menubar, int item, void *, int) {
  SetMenuBarAttribute(menubar, item, ATTR_CHECKED, 1);
  return 0;
}

// ---- quit path -------------------------------------------------------------------------

void keep_output_masks(void) {
  for (int i = 0; i < KMV_SLOTS; ++i) AppAttr.quit_outputs[i] = out_enabled[i];
}

int save_panel_geometry(void) {
  if (trq_panel <= 0) return 0;
  get_panel_attr(&pnldata[0], trq_panel);
  if (!trq_expanded) {
    int top = 0, height = 0;
    GetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_TOP, &top);
    GetCtrlAttribute(trq_panel, MAIN_TAB, ATTR_HEIGHT, &height);
    trq_expanded_height = top + height + 3;
    pnldata[0].value.height = trq_expanded_height;
  }
  if (no_of_active_kmv == 1)
    pnldata[0].value.width = static_cast<int32_t>(std::lround(pnldata[0].value.width * 915.0 / 470.0));
  return SavePanelSettings(QV_APP_TRQ, 1, pnldata);
}

namespace {

void finish_quit(bool save_setup) {
  if (save_setup) save_usb(auto_set_file, nullptr);
  keep_output_masks();
  const int record = SaveAppSettings(QV_APP_TRQ, sizeof AppAttr, "Current", &AppAttr);
  const int geometry = save_panel_geometry();
  // A full or read-only settings folder: one report for the record and the geometry.
  if (const int r = record < 0 ? record : geometry; r < 0)
    error("SETTINGS_SAVE", platform::registry::hive_file(HKEY_CURRENT_USER).c_str(), GetGeneralErrorString(r));
  SetCtrlAttribute(trq_panel, MAIN_TIMER, ATTR_ENABLED, 0);
  for (short &e : out_enabled) e = 0;
  QuitUserInterface(0);
}

bool quit_popup_open = false;

// Without an operator the popup's text and the answer taken go to standard error.
void tell_quit_unanswered(int popup, int save) {
  std::string title, text, box;
  GetPanelAttribute(popup, ATTR_TITLE, &title);
  GetCtrlVal(popup, QUIT_TEXT, &text);
  GetCtrlAttribute(popup, QUIT_SAVE_SETUP, ATTR_LABEL_TEXT, &box);
  platform::ui::tell_unanswered("dialog", title, text + " [" + (save ? "x" : " ") + "] " + box,
                                save ? "Quit, saving the setup" : "Quit without saving the setup");
}

}  // namespace

int ExitCallbackUsb(int panel, int control, int event, void *, int, int) {
  if (panel != trq_panel || control != MAIN_QUIT || event != EVENT_COMMIT) {
    done = 1;
    return 0;
  }
  // One quit popup at a time: a second request (a signal, the remote "Quit") lets the open one decide.
  if (quit_popup_open) return 0;
  int zoom = 0;
  GetPanelAttribute(trq_panel, ATTR_WINDOW_ZOOM, &zoom);
  if (zoom == VAL_MINIMIZE) return 0;
  const int popup = LoadPanel(trq_panel, KMV_MEAS_UIR, PANEL_QUIT);
  if (popup < 0) error("LOAD_PANEL", "QUIT");
  SetCtrlVal(popup, QUIT_SAVE_SETUP, 1);
  done = 0;
  int save = 1;
  if (InstallPopup(popup) < 0) {
    done = 1;
  } else {
    quit_popup_open = true;
    for (;;) {
      int p = 0, c = 0;
      if (GetUserEvent(1, &p, &c) < 0) {
        // Nobody will answer (an unattended run, a quit signal): quit as the box says.
        GetCtrlVal(popup, QUIT_SAVE_SETUP, &save);
        tell_quit_unanswered(popup, save);
        done = 1;
        break;
      }
      if (p != popup) continue;
      if (c == QUIT_SAVE_SETUP) GetCtrlVal(popup, QUIT_SAVE_SETUP, &save);
      if (c == QUIT_QUIT) done = 1;
      if (c == QUIT_QUIT || c == QUIT_CANCEL) break;
    }
    quit_popup_open = false;
    RemovePopup(0);
  }
  if (popup > 0) DiscardPanel(popup);
  if (done == 1) finish_quit(save != 0);
  return 0;
}

void quit_on_request(void) {
  if (trq_panel <= 0) {
    QuitUserInterface(0);
    return;
  }
  // The quit popup is open: its wait ends, unanswered, and it quits as its box says.
  if (quit_popup_open) return;
  // A minimised window does not keep a signal from ending the program.
  SetPanelAttribute(trq_panel, ATTR_WINDOW_ZOOM, VAL_NO_ZOOM);
  ExitCallbackUsb(trq_panel, MAIN_QUIT, EVENT_COMMIT, nullptr, 0, 0);
  if (done != 1) finish_quit(true);
}

// ---- name bindings of the resource's callbacks ------------------------------------------

namespace {

int unused_ctrl(int, int, int, void *, int, int) { return 0; }
int unused_panel(int, int, void *, int, int) { return 0; }
int unused_menu(int, int, void *, int) { return 0; }

const platform::ui::CallbackBinding kWindowBindings[] = {
    {"TrqCtrlCallback", TrqCtrlCallback},   {"PanelCallback", PanelCallback},
    {"TrqConf_Callback", TrqConf_Callback}, {"LoadTrqCallback", LoadTrqCallback},
    {"SaveTrqCallback", SaveTrqCallback},   {"ExitCallbackUsb", ExitCallbackUsb},
    {"OptCtrlCallback", OptCtrlCallback},   {"Trqopt_Callback", Trqopt_Callback},
    {"ScaleCallback", ScaleCallback},       {"EnOutCallback", EnOutCallback},
    {"FloatCallback", FloatCallback},       {"TRQ_AdjustCallback", TRQ_AdjustCallback},
    {"Trqeep_Callback", Trqeep_Callback},
    // The PCI card's adjust panel lies in the resource but this program never shows it.
    {"InitAparCallback", unused_menu},      {"Apar_Callback", unused_panel},
    {"AdjustCallback", unused_ctrl},
};

std::vector<platform::ui::CallbackBinding> all_bindings() {
  std::vector<platform::ui::CallbackBinding> all(std::begin(kWindowBindings), std::end(kWindowBindings));
  for (const auto &b : kmv_syst_callbacks()) all.push_back(b);
  return all;
}

}  // namespace

std::span<const platform::ui::CallbackBinding> trq_callbacks() {
  static const std::vector<platform::ui::CallbackBinding> all = all_bindings();
  return all;
}
