#include "app/kmv_io_dialogs.h"

#include <array>
#include <cstring>
#include <string>

#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_io_ident.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst_pci.h"
#include "app/kmv_syst_settings.h"
#include "platform/ui/ui.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"
#include "support/Util_fun.h"

// The main window's controls callback; present when the main window is part
// of the program.
int TrqCtrlCallback(int panel, int control, int event, void *callbackData, int eventData1, int eventData2)
    __attribute__((weak));

namespace {

constexpr const char *kKind = "*.set";
constexpr int kContentsLines = 12;
constexpr std::size_t kFieldSize = 128;

int load_panel = 0;  // loaded on first use, kept for the run
int save_panel = 0;
bool dialog_open = false;

struct DialogGuard {
  DialogGuard() { dialog_open = true; }
  ~DialogGuard() { dialog_open = false; }
};

bool has_pattern(const char *path) { return std::strpbrk(path, "*?") != nullptr; }

bool set_extension(const char *path) {
  char ext[FNSPLIT_EXT_SIZE];
  return (fnsplit(path, nullptr, nullptr, nullptr, ext) & FNSPLIT_EXTENSION) != 0 && StrICmp(ext, ".set") == 0;
}

// Relative names are completed against the dialogs' directory, which
// follows the name just entered.
void complete(char *path) { get_dir(path, data_dir, nullptr); }

// Name part and directory of the current file. Paths keep their case: the
// file system tells cases apart.
void show_name(int panel, int name_ctrl, int dir_ctrl) {
  char drive[FNSPLIT_DRIVE_SIZE], dir[FNSPLIT_DIR_SIZE], name[FNSPLIT_NAME_SIZE], ext[FNSPLIT_EXT_SIZE];
  fnsplit(setup_file_name, drive, dir, name, ext);
  SetCtrlVal(panel, name_ctrl, std::string(name) + ext);
  SetCtrlVal(panel, dir_ctrl, std::string(drive) + dir);
}

void read_name(int panel, int control) {
  char typed[FILE_PATH_SIZE] = "";
  GetCtrlVal(panel, control, typed);
  platform::copy_bounded(setup_file_name, sizeof setup_file_name, typed);
}

// The label of the chosen recent file; false when there is none.
bool read_recent(int panel, int control) {
  int index = -1;
  char label[FILE_PATH_SIZE] = "";
  if (GetCtrlIndex(panel, control, &index) < 0 || index < 0) return false;
  if (GetLabelFromIndex(panel, control, index, label) < 0) return false;
  platform::copy_bounded(setup_file_name, sizeof setup_file_name, label);
  return true;
}

// 2 the path names a file, 1 that file also exists, 0 no usable name.
int check_path() {
  const int flags = check_filepath(setup_file_name, nullptr, data_dir, ".set");
  if (flags < 0 || (flags & FNSPLIT_FILENAME) == 0) return 0;
  complete(setup_file_name);
  return FileExists(setup_file_name, nullptr) == 1 ? 1 : 2;
}

void remember(int panel, int control) { update_filehistlist(QV_APP_TRQ, panel, control, kKind, setup_file_name, 1); }

void dim_by(int panel, int button, int ok) { SetCtrlAttribute(panel, button, ATTR_DIMMED, ok ? 0 : 1); }

// The panel on first use, centred. 0 after a report when it cannot be had.
int dialog_panel(int *kept, int parent, int resource_id, const char *name) {
  int id = 0;
  if (*kept > 0 && GetPanelAttribute(*kept, ATTR_PANEL_RESOURCE_ID, &id) >= 0 && id == resource_id) return *kept;
  const int panel = LoadPanel55(parent, KMV_MEAS_UIR, resource_id);
  if (panel < 0) {
    error("LOAD_PANEL", name, 0);
    return 0;
  }
  SetPanelAttribute(panel, ATTR_TOP, VAL_AUTO_CENTER);
  SetPanelAttribute(panel, ATTR_LEFT, VAL_AUTO_CENTER);
  *kept = panel;
  return panel;
}

// Shows the panel as a popup; a panel that cannot be shown is discarded and forgotten.
bool show_popup(int *kept, const char *name) {
  if (InstallPopup(*kept) >= 0) return true;
  DiscardPanel(*kept);
  *kept = 0;
  error("DISP_PANEL", name, 0);
  return false;
}

// What differs between the variants' load dialogs.
struct LoadVariant {
  const char *identifier;
  const char *title;    // null: the panel keeps its own
  const char *message;  // null: the panel keeps its own
  void (*before_load)();
  int (*load)(const char *path, int what, int mode);
};

// What differs between the variants' save dialogs.
struct SaveVariant {
  const char *identifier;
  const char *title;  // null: the panel keeps its own
  const char *confirm_title;
  int (*save)(const char *path, char *values[]);
};

// USB: all outputs off through the main window's switch.
void usb_outputs_off() {
  if (TrqCtrlCallback != nullptr) TrqCtrlCallback(trq_panel, MAIN_ALL_OFF_ONE, EVENT_COMMIT, nullptr, 0, 0);
}

// PCI: every card's outputs off, and the alarms and enables of all eight slots cleared.
void pci_outputs_off() {
  KMV_enable_outputs(-1, 0);
  for (int m = 0; m < KMV_PCI_SLOTS; ++m) pci_ovld_alarm[m] = pci_cool_alarm[m] = pci_out_enabled[m] = 0;
}

int run_load_dialog(int parent, const LoadVariant &v) {
  if (dialog_open) return 0;  // a load asked for from outside while a dialog runs
  if (cmd_load_file) {
    if (!set_extension(client_fname)) return 0;
    platform::copy_bounded(setup_file_name, sizeof setup_file_name, client_fname);
    FakeKeystroke(VAL_F8_VKEY);  // commits the load button once the dialog runs
  }
  const int panel = dialog_panel(&load_panel, parent, PANEL_LOAD, "LOAD");
  if (panel == 0) return 0;
  DialogGuard guard;
  if (v.title != nullptr) SetPanelAttribute(panel, ATTR_TITLE, v.title);
  if (v.message != nullptr) SetCtrlVal(panel, LOAD_MESSAGE, v.message);
  complete(setup_file_name);
  show_name(panel, LOAD_NAME, LOAD_DIR);
  create_filehistlist(QV_APP_TRQ, panel, LOAD_RECENT, kKind);
  int ok = 0;
  get_setup_file_info(v.identifier, 0, setup_file_name, panel, &ok);
  if (ok) remember(panel, LOAD_RECENT);
  dim_by(panel, LOAD_LOAD, ok);
  if (!show_popup(&load_panel, "LOAD")) return 0;
  SetActiveCtrl(panel, ok ? LOAD_LOAD : LOAD_NAME);

  int result = 0;
  bool no_input = false;
  for (bool done = false; !done;) {
    dim_by(panel, LOAD_LOAD, ok);
    int event_panel = 0, control = 0;
    const int event = GetUserEvent(1, &event_panel, &control);
    if (event < 0) {  // no input will come
      no_input = true;
      break;
    }
    if (event == 0 || event_panel != panel) continue;
    char old_name[FILE_PATH_SIZE];
    std::memcpy(old_name, setup_file_name, sizeof old_name);
    int status = -1;
    switch (control) {
      case LOAD_NAME:
        read_name(panel, LOAD_NAME);
        status = check_path();
        break;
      case LOAD_RECENT:
        if (!read_recent(panel, LOAD_RECENT)) {
          std::memcpy(setup_file_name, old_name, sizeof old_name);
          break;
        }
        status = check_path();
        break;
      case LOAD_BROWSE: {
        char chosen[FILE_PATH_SIZE] = "";
        status = FileSelectPopupWithHistory(QV_APP_TRQ, data_dir, kKind, kKind, "Select a File to Load",
                                            VAL_LOAD_BUTTON, 0, 1, 1, 0, chosen, 1);
        if (status > 0) {
          platform::copy_bounded(setup_file_name, sizeof setup_file_name, chosen);
          complete(setup_file_name);
        } else {
          status = 0;
        }
        break;
      }
      case LOAD_LOAD:
        if (!ok) break;
        v.before_load();
        v.load(setup_file_name, 3, 1);
        {
          char name[FNSPLIT_NAME_SIZE], ext[FNSPLIT_EXT_SIZE];
          fnsplit(setup_file_name, nullptr, nullptr, name, ext);
          platform::copy_bounded(setup_name, sizeof setup_name, (std::string(name) + ext).c_str());
        }
        result = 1;
        done = true;
        break;
      case LOAD_CANCEL:
        done = true;
        break;
      default:
        break;
    }
    if (status < 0) continue;
    // After a change of the name.
    if (status == 2) {
      ok = 0;
      ResetTextBox(panel, LOAD_INFO, "");
      if (!has_pattern(setup_file_name)) SetCtrlVal(panel, LOAD_INFO, missing_file_text(setup_file_name).c_str());
    } else if (status == 1) {
      get_setup_file_info(v.identifier, 0, setup_file_name, panel, &ok);
    } else {
      std::memcpy(setup_file_name, old_name, sizeof old_name);
      ok = 0;
    }
    dim_by(panel, LOAD_LOAD, ok);
    if (ok) SetActiveCtrl(panel, LOAD_LOAD);
    show_name(panel, LOAD_NAME, LOAD_DIR);
    if (status != 0 && !has_pattern(setup_file_name)) remember(panel, LOAD_RECENT);
  }
  RemovePopup(0);
  // A file asked for from outside that could not be loaded, with nobody at the
  // dialog to see why: say so rather than end in silence.
  if (cmd_load_file && no_input && result == 0 && !ok)
    error(FileExists(setup_file_name, nullptr) == 0 ? "BFILE_NOTEXIST" : "INV_SETUP", setup_file_name);
  return result;
}

void run_save_dialog(int parent, const SaveVariant &v) {
  if (dialog_open) return;
  // Entries 0 to 7 are fields of the dialog, 8 and up further contents lines.
  std::array<std::array<char, kFieldSize>, IDENT_VALUE_COUNT> fields{};
  char *values[IDENT_VALUE_COUNT] = {};
  for (int i = 0; i < IDENT_LINE_COUNT; ++i) values[i] = fields[static_cast<std::size_t>(i)].data();

  const int panel = dialog_panel(&save_panel, parent, PANEL_SAVE, "SAVE");
  if (panel == 0) return;
  DialogGuard guard;
  if (v.title != nullptr) SetPanelAttribute(panel, ATTR_TITLE, v.title);
  SetCtrlVal(panel, SAVE_VERSION, "");
  SetCtrlVal(panel, SAVE_AUTHOR, "Unknown");
  SetCtrlVal(panel, SAVE_COMPANY, "Unknown");
  ResetTextBox(panel, SAVE_INFO, "");
  ResetTextBox(panel, SAVE_CONTENTS, "");
  complete(setup_file_name);
  show_name(panel, SAVE_NAME, SAVE_DIR);
  create_filehistlist(QV_APP_TRQ, panel, SAVE_RECENT, kKind);

  int ok = 0;
  get_setup_file_info(v.identifier, 1, setup_file_name, panel, &ok);
  if (FileExists(setup_file_name, nullptr) != 1) {
    char name[FNSPLIT_NAME_SIZE];
    const int flags = fnsplit(setup_file_name, nullptr, nullptr, name, nullptr);
    ok = (flags & FNSPLIT_FILENAME) != 0 && (flags & FNSPLIT_WILDCARDS) == 0 ? 2 : 0;
  }
  if (ok) remember(panel, SAVE_RECENT);
  dim_by(panel, SAVE_SAVE, ok);
  if (!show_popup(&save_panel, "SAVE")) return;
  SetActiveCtrl(panel, ok ? SAVE_SAVE : SAVE_NAME);

  for (bool done = false; !done;) {
    dim_by(panel, SAVE_SAVE, ok);
    int event_panel = 0, control = 0;
    const int event = GetUserEvent(1, &event_panel, &control);
    if (event < 0) break;
    if (event == 0 || event_panel != panel) continue;
    char old_name[FILE_PATH_SIZE];
    std::memcpy(old_name, setup_file_name, sizeof old_name);
    bool changed = false;
    switch (control) {
      case SAVE_NAME:
      case SAVE_RECENT: {
        if (control == SAVE_NAME) {
          read_name(panel, SAVE_NAME);
        } else if (!read_recent(panel, SAVE_RECENT)) {
          std::memcpy(setup_file_name, old_name, sizeof old_name);
          break;
        }
        const int status = check_path();
        if (status == 1) {
          get_setup_file_info(v.identifier, 1, setup_file_name, panel, &ok);
        } else {
          ResetTextBox(panel, SAVE_INFO, "");
          if (status == 0 || has_pattern(setup_file_name)) {
            ok = 0;
          } else {
            ok = 2;
            SetCtrlVal(panel, SAVE_INFO, missing_file_text(setup_file_name).c_str());
          }
        }
        changed = true;
        break;
      }
      case SAVE_BROWSE: {
        char chosen[FILE_PATH_SIZE] = "";
        const int status = FileSelectPopupWithHistory(QV_APP_TRQ, data_dir, kKind, kKind, "Select a File to Save",
                                                      VAL_SAVE_BUTTON, 0, 1, 1, 0, chosen, 1);
        if (status == 2) {
          ok = 2;
          platform::copy_bounded(setup_file_name, sizeof setup_file_name, chosen);
          complete(setup_file_name);
          ResetTextBox(panel, SAVE_INFO, "");
          if (!has_pattern(setup_file_name)) SetCtrlVal(panel, SAVE_INFO, missing_file_text(setup_file_name).c_str());
        } else if (status == 1) {
          platform::copy_bounded(setup_file_name, sizeof setup_file_name, chosen);
          complete(setup_file_name);
          get_setup_file_info(v.identifier, 1, setup_file_name, panel, &ok);
        } else {
          std::memcpy(setup_file_name, old_name, sizeof old_name);
        }
        show_name(panel, SAVE_NAME, SAVE_DIR);
        dim_by(panel, SAVE_SAVE, ok);
        if (ok) {
          SetActiveCtrl(panel, SAVE_SAVE);
          remember(panel, SAVE_RECENT);
        } else {
          SetActiveCtrl(panel, SAVE_CANCEL);
        }
        break;
      }
      case SAVE_SAVE: {
        if (ok == 0) break;
        if (ok == 1 && ConfirmPopup(v.confirm_title, "File exists - Overwrite ?") != 1) break;
        GetCtrlVal(panel, SAVE_VERSION, values[1], kFieldSize);
        GetCtrlVal(panel, SAVE_AUTHOR, values[5], kFieldSize);
        GetCtrlVal(panel, SAVE_COMPANY, values[6], kFieldSize);
        int lines = 0;
        GetNumTextBoxLines(panel, SAVE_CONTENTS, &lines);
        if (lines > kContentsLines) lines = kContentsLines;
        for (int i = 0; i < lines; ++i) {
          const auto k = static_cast<std::size_t>(7 + i);
          values[k] = fields[k].data();
          if (GetTextBoxLine(panel, SAVE_CONTENTS, i, values[k], kFieldSize) < 0) values[k][0] = '\0';
        }
        v.save(setup_file_name, values);
        done = true;
        break;
      }
      case SAVE_CANCEL:
        done = true;
        break;
      default:
        break;
    }
    if (!changed) continue;
    show_name(panel, SAVE_NAME, SAVE_DIR);
    dim_by(panel, SAVE_SAVE, ok);
    if (ok) {
      SetActiveCtrl(panel, SAVE_SAVE);
      remember(panel, SAVE_RECENT);
    }
  }
  RemovePopup(0);
}

}  // namespace

int manage_load_usb_panel(int parent) {
  return run_load_dialog(parent, {setupusb_identifier, "Load TRQ setup file", "Loading TRQ Setup  File will overide all device parameters",
                                  usb_outputs_off, load_usb});
}

void manage_save_usb_panel(int parent) {
  run_save_dialog(parent, {setupusb_identifier, "Save TRQ setup file", "Save TRQ setup file", save_usb});
}

int manage_load_panel(int parent) {
  return run_load_dialog(parent, {setup_identifier, nullptr, nullptr, pci_outputs_off, load});
}

void manage_save_panel(int parent) { run_save_dialog(parent, {setup_identifier, nullptr, "Save setup file", save}); }
