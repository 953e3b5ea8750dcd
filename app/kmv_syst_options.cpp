// The options page: the data directory with the files that live in it,
// panel scaling, the floating window and the outputs locked at start.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/ui.h"
#include "platform/win/files.h"
#include "platform/win/registry.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"
#include "support/Util_fun_registry.h"

namespace {

const char *make_dir_text(int code) {
  switch (code) {
    case DIR_IO_PATH_NOT_FOUND: return "One of the path components not found";
    case DIR_IO_ERROR: return "General I/O error occurred";
    case DIR_IO_NO_MEMORY: return "Insufficient memory to complete the operation";
    case DIR_IO_INVALID_PATH: return "Invalid path";
    case DIR_IO_ACCESS_DENIED: return "Access denied";
    case DIR_IO_DISK_FULL: return "Disk is full";
    case DIR_IO_EXISTS: return "Directory or file already exists with same pathname";
    default: return "";
  }
}

void show_current_dir() { SetCtrlVal(trq_opt_panel, OPT_DIR, pdata_dir); }

bool is_directory(const char *path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const char *path) {
  struct stat st {};
  return stat(path, &st) == 0;
}

// The data directory moves: the automatic setup file and the error-output
// file go with it.
void take_directory(std::string dir) {
  if (dir.empty()) return;
  if (dir.back() != '/' && dir.back() != '\\') dir += '/';
  if (dir == pdata_dir) return;
  if (dir.size() + std::strlen("trq_auto.set") >= sizeof pdata_dir) {
    MessagePopup("Error", "The directory's path is too long.");
    show_current_dir();
    return;
  }
  AddItemToPathCtrlHistory(trq_opt_panel, OPT_DIR, dir.c_str());
  if (RegWriteString(HKEY_CURRENT_USER, qv::app_key(QV_APP_TRQ).c_str(), "DataDir", dir.c_str()) < 0) {
    show_current_dir();
    return;
  }
  CVI_CopyFile(auto_set_file, (dir + "trq_auto.set").c_str());
  if (error_out != nullptr) CVI_CopyFile(error_out, (dir + "trq_err.out").c_str());
  platform::copy_bounded(pdata_dir, sizeof pdata_dir, dir.c_str());
  show_current_dir();
  set_data_dir_files();
}

void typed_directory() {
  char text[FILE_PATH_SIZE] = "";
  GetCtrlVal(trq_opt_panel, OPT_DIR, text);
  // A regular file (or anything else that is no directory) is never a data directory.
  if (exists(text) && !is_directory(text)) {
    MessagePopup("Error", "The selected path is not a directory.");
    show_current_dir();
    return;
  }
  if (!exists(text)) {
    const int answer = GenericMessagePopup("Warning", "Selected directory does not exist\n  Do you want to create it?",
                                           "Yes", "Cancel", nullptr, nullptr, 0, VAL_GENERIC_POPUP_BTNS_CENTER,
                                           VAL_GENERIC_POPUP_BTN1, VAL_GENERIC_POPUP_BTN1, VAL_GENERIC_POPUP_BTN2);
    if (answer != VAL_GENERIC_POPUP_BTN1) {
      show_current_dir();
      return;
    }
    if (const int r = MakeDir(text); r != 0) {
      MessagePopup("Error", make_dir_text(r));
      show_current_dir();
      return;
    }
  }
  take_directory(text);
}

}  // namespace

void dim_output_controls(int column, int output, int enabled) {
  if (column < 0 || column > 1 || output < 0 || output > 4) return;
  const int mode = enabled ? VAL_INDICATOR : VAL_HOT;
  if (output == 4) {
    for (int ctl : digout_ctrls_usb[column]) SetCtrlAttribute(trq_ctrl_panel, ctl, ATTR_CTRL_MODE, mode);
    return;
  }
  for (const auto *table : {p12_ctrls, p5_ctrls, m5_ctrls, ghv_ctrls, cool_ctrls, cool_curr_ctrls, cool_volt_ctrls})
    SetCtrlAttribute(trq_ctrl_panel, table[column][output], ATTR_CTRL_MODE, mode);
}

void set_startup_output_boxes(void) {
  for (int k = 0; k < 5; ++k) {
    const int bit = (AppAttr.start_outputs[st_trq] >> k) & 1;
    SetCtrlVal(trq_opt_panel, OPT_START_A1 + k, bit);
    dim_output_controls(0, k, bit);
  }
  if (no_of_active_kmv == 1) return;
  for (int k = 0; k < 5; ++k) {
    const int bit = (AppAttr.start_outputs[nd_trq] >> k) & 1;
    SetCtrlVal(trq_opt_panel, OPT_START_B1 + k, bit);
    dim_output_controls(1, k, bit);
  }
}

int OptCtrlCallback(int panel, int control, int event, void *, int, int) {
  if (event != EVENT_COMMIT) return 0;
  int value = 0;
  switch (control) {
    case OPT_DIR:
      typed_directory();
      break;
    case OPT_BROWSE: {
      char path[FILE_PATH_SIZE] = "";
      if (DirSelectPopup(pdata_dir, "Select Setup Files Directory", 1, 1, path) == VAL_DIRECTORY_SELECTED) {
        if (is_directory(path))
          take_directory(path);
        else
          MessagePopup("Error", "The selected path is not a directory.");
      }
      break;
    }
    case OPT_SCALE:
      GetCtrlVal(panel, control, &value);
      trq_scale_on_resize = value != 0;
      AppAttr.scale = trq_scale_on_resize + 1;
      SetMenuBarAttribute(label_menubar, MENU_ITEM_SCALE, ATTR_CHECKED, trq_scale_on_resize);
      set_all_panels_attr(trq_scale_on_resize);
      break;
    case OPT_FLOAT:
      GetCtrlVal(panel, control, &value);
      AppAttr.float_mode = value ? -50 : 1;
      SetMenuBarAttribute(label_menubar, MENU_ITEM_FLOAT, ATTR_CHECKED, value != 0);
      SetPanelAttribute(trq_panel, ATTR_FLOATING, AppAttr.float_mode);
      break;
    default:
      if ((control >= OPT_START_A1 && control < OPT_START_A1 + 5) ||
          (control >= OPT_START_B1 && control < OPT_START_B1 + 5)) {
        const int column = control < OPT_START_B1 ? 0 : 1;
        const int k = control - (column == 0 ? OPT_START_A1 : OPT_START_B1);
        const short m = module_of(column);
        GetCtrlVal(panel, control, &value);
        if (value)
          AppAttr.start_outputs[m] = static_cast<int16_t>(AppAttr.start_outputs[m] | (1 << k));
        else
          AppAttr.start_outputs[m] = static_cast<int16_t>(AppAttr.start_outputs[m] & ~(1 << k));
        dim_output_controls(column, k, value);
      }
      break;
  }
  return 0;
}

int Trqopt_Callback(int, int, void *, int, int) { return 0; }
