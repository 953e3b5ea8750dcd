// The operator program's run: paths, command-line switches, registration,
// the module system, the start-up dialog, the automatic setup file, the main
// window until quit, and shut-down.
#include "app/kmvusb_main.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_syst.h"
#include "app/qv_dde.h"
#include "platform/ui/ui.h"
#include "platform/win/own_folder.h"
#include "platform/win/progdir.h"
#include "platform/win/strings.h"
#include "support/Qv_err.h"
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_paths.h"
#include "support/Util_fun_registry.h"

int qv_app_type = QV_APP_TRQ;
int qv_production = 0;
int server = 1;
int server_active = 0;
int client_active = 0;
short silent_start = 0;
int trq_expanded = 1;
char pdata_dir[FILE_PATH_SIZE] = "";
char kmv_ini_file[FILE_PATH_SIZE] = "";
char auto_set_file[FILE_PATH_SIZE] = "";
short in_use[4] = {};
char module_type_txt[4][20] = {};
int hard_possible = 0;
short no_of_ok_kmv = 0;
int info_switch = 0;
int reg_switch = 0;

namespace {

char error_dat_path[FILE_PATH_SIZE] = "";
char error_out_path[FILE_PATH_SIZE] = "";

bool join(char *out, const char *a, const char *b) {
  return std::snprintf(out, FILE_PATH_SIZE, "%s%s", a, b) < static_cast<int>(FILE_PATH_SIZE);
}

bool number_after(const char *text, int *value) {
  char *end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text) return false;
  *value = static_cast<int>(std::clamp(v, -100000L, 100000L));
  return true;
}

bool word_is(const char *text, const char *word) { return StrICmp(text, word) == 0; }

// "-f<name>": the module library's ini file.
int ini_switch(const char *name) {
  if (name[0] == '\0') return 0;
  char path[FILE_PATH_SIZE];
  const int flags = fnsplit(name, nullptr, nullptr, nullptr, nullptr);
  const bool fits = (flags & (FNSPLIT_DRIVE | FNSPLIT_DIRECTORY)) ? platform::copy_bounded(path, sizeof path, name)
                                                                 : join(path, data_dir, name);
  if (!fits || (!(flags & FNSPLIT_EXTENSION) && !join(path, std::string(path).c_str(), ".ini"))) {
    std::fprintf(stderr, "-f: the ini-file name is too long (at most %d characters): %s\n", FILE_PATH_SIZE - 1, name);
    return -1;
  }
  platform::copy_bounded(kmv_ini_file, sizeof kmv_ini_file, path);
  return 0;
}

// "-l<file>": the setup file applied at start.
int load_switch(const char *name) {
  char path[FILE_PATH_SIZE];
  char ext[FNSPLIT_EXT_SIZE];
  bool fits = platform::copy_bounded(path, sizeof path, name);
  if (fits && !(fnsplit(path, nullptr, nullptr, nullptr, ext) & FNSPLIT_EXTENSION))
    fits = join(path, std::string(path).c_str(), ".set");
  if (!fits) {
    std::fprintf(stderr, "-l: the setup-file name is too long (at most %d characters): %s\n", FILE_PATH_SIZE - 1,
                 name);
    return -1;
  }
  fnsplit(path, nullptr, nullptr, nullptr, ext);
  if (StrICmp(ext, ".set") != 0) return 0;
  platform::copy_bounded(client_fname, sizeof client_fname, path);
  platform::copy_bounded(auto_set_file, sizeof auto_set_file, path);
  SplitPath(path, nullptr, nullptr, setup_name);
  return 0;
}

}  // namespace

int read_switches(int argc, char *argv[]) {
  int result = 0;
  for (int a = 1; a < argc; ++a) {
    const char *arg = argv[a];
    if (arg == nullptr || arg[0] != '-' || arg[1] == '\0') continue;
    const char *value = arg + 2;
    int n = 0;
    switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
      case 'f':
        if (std::isdigit(static_cast<unsigned char>(value[0]))) {
          number_after(value, &n);
          first_mod_no = lim(n, 0, 4);
        } else if (ini_switch(value) != 0) {
          result = -1;
        }
        break;
      case 'i':
        if (word_is(value, "nfo")) {
          info_switch = 1;
          break;
        }
        [[fallthrough]];  // anything else after "-i" counts as -m
      case 'm':
        if (number_after(value, &n)) sim_mod_no = n;
        sim_mod_no = lim(sim_mod_no, 1, 2);
        break;
      case 'l':
        if (load_switch(value) != 0) result = -1;
        break;
      case 'r':
        if (word_is(value, "eg")) reg_switch = 1;
        break;
      case 's':
        if (word_is(value, "ilent"))
          silent_start = 1;
        else if (number_after(value, &n))
          sim_switch = 200;
        break;
      case 'q':
        if (value[0] == 'v') qv_production = 1;
        break;
      default:
        break;
    }
  }
  return result;
}

void get_kmv_module_type_txt(int module) {
  if (module < 0 || module >= KMV_SLOTS) return;
  const KMVUSBModuleInfo &info = usbmod_info[module];
  platform::copy_bounded(module_type_txt[module], sizeof module_type_txt[module],
                         info.type == KMV_TYPE_USB ? "KMV-USB" : "unknown");
  if (info.type != KMV_TYPE_USB || (info.init_status != -1 && info.init_status != 0)) return;
  KMVUSBEepromData eep{};
  if (KMVUSB_get_eeprom_data(static_cast<int16_t>(module), &eep) >= 0) {
    char name[16];
    std::memcpy(name, eep.module_name, 15);
    name[15] = '\0';
    platform::copy_bounded(module_type_txt[module], sizeof module_type_txt[module], name);
  }
}

void shutdown(void) {
  if (server_active) {
    DeactivateServer(module_type_text);
    server_active = 0;
  }
  client_active = 0;
  kmvusb_cleanup();
}

void set_start_values(void) {
  qv_app_type = QV_APP_TRQ;
  qv_production = 0;
  server = 1;
  server_active = client_active = 0;
  silent_start = 0;
  errmsg_to_file = errmsg_to_screen = 1;
  trq_expanded = 1;
  info_switch = reg_switch = 0;
  sim_switch = 0;
  sim_mod_no = -1;
  first_mod_no = 0;
  cmd_load_file = 0;
  for (int i = 0; i < KMV_SLOTS; ++i) {
    ovld_alarm[i] = cool_alarm[i] = out_enabled[i] = cooling_on[i] = connection_lost[i] = 0;
    in_use[i] = 0;
    module_type_txt[i][0] = '\0';
  }
  auto_set_file[0] = client_fname[0] = setup_name[0] = '\0';
  error_dat = error_dat_path;
  error_out = error_out_path;
}

namespace {

// A module found but left out of the run because its EEPROM does not hold a
// valid adjust block: the operator hears which one (after -silent only the
// error output).
void report_left_out(int slot) {
  constexpr int16_t kEepromBad = -2;  // the slot's init status
  KMVUSB_get_module_info(static_cast<int16_t>(slot), &usbmod_info[slot]);
  const KMVUSBModuleInfo &info = usbmod_info[slot];
  if (act_mod[slot] || info.type == KMV_TYPE_NONE || info.init_status != kEepromBad) return;
  const int to_screen = errmsg_to_screen;
  if (silent_start) errmsg_to_screen = 0;
  char serial[sizeof info.serial_no + 8] = "";  // a damaged block may hide the serial number
  if (info.serial_no[0] != '\0') std::snprintf(serial, sizeof serial, " (S/N %.*s)", 11, info.serial_no);
  error("KMV_MOD_EEP_CHKSUM", slot + 1, serial);
  errmsg_to_screen = to_screen;
}

// The run up to the main window; 0 when the window may start.
int start_up(int argc, char *argv[]) {
  char work[FILE_PATH_SIZE];
  if (GetProjectDir(work) != 0) {
    std::printf("Unable to obtain project path\n");
    return -1;
  }
  if (!join(data_dir, work, "/")) return -1;
  SetDir(work);
  platform::copy_bounded(pdata_dir, sizeof pdata_dir, data_dir);
  join(kmv_ini_file, data_dir, "kmvusb.ini");
  if (read_switches(argc, argv) != 0) return -1;
  join(error_dat_path, data_dir, "kmv_err.dat");

  // The data directory defaults to the user's own one, not to the program's.
  pdata_dir[0] = '\0';
  const int reg = register_qv_app(qv_app_type, argc > 0 ? argv[0] : nullptr, reg_switch, pdata_dir);
  if (reg < 0 && !silent_start) {
    char text[120];
    std::snprintf(text, sizeof text, "The program could not be registered (registry error %d).", reg);
    MessagePopup("Registration Error", text);
  }
  if (pdata_dir[0] == '\0') {
    const std::string own = platform::user_data_dir("trq", work);
    platform::copy_bounded(pdata_dir, sizeof pdata_dir, own.empty() ? data_dir : (own + "/").c_str());
  }
  const size_t n = std::strlen(pdata_dir);
  if (n > 0 && pdata_dir[n - 1] != '/' && pdata_dir[n - 1] != '\\' && n + 1 < sizeof pdata_dir) {
    pdata_dir[n] = '/';
    pdata_dir[n + 1] = '\0';
  }
  // A data directory removed since it was registered is made again, so the
  // automatic setup file and the error reports have their place.
  std::error_code ignored;
  platform::make_private_folders(pdata_dir, ignored);

  const bool from_switch = auto_set_file[0] != '\0';
  char start_file[FILE_PATH_SIZE];
  platform::copy_bounded(start_file, sizeof start_file, auto_set_file);
  set_data_dir_files();
  if (from_switch) platform::copy_bounded(auto_set_file, sizeof auto_set_file, start_file);
  platform::copy_bounded(setup_file_name, sizeof setup_file_name, auto_set_file);
  SplitPath(auto_set_file, nullptr, nullptr, setup_name);

  if (create_module_parameter_sets() != 0) {
    if (!silent_start) error("KMV_PAR_SET");
    return -1;
  }
  for (short &u : in_use) u = 0;
  if (create_file_class(setup_file, auto_set_file) == 0) close_and_free(setup_file);

  if (init_usbsystem(kmv_ini_file) == -5) {
    if (!silent_start) error("INIT_FAILED");
    return -1;
  }
  hardware = KMVUSB_get_mode() == 0;

  if (!info_switch) {
    if (kmvusb_info(0, 1) == 1) return -1;
  } else {
    kmvusb_info(0, 0);
    // At most two modules run here; the library hears the selection and the
    // sets are filled for it.
    no_of_active_kmv = 0;
    for (int i = 0; i < KMV_SLOTS; ++i) {
      KMVUSB_get_module_info(static_cast<int16_t>(i), &usbmod_info[i]);
      const bool ok = usbmod_info[i].connected == 1 && usbmod_info[i].init_status == 0;
      if (ok && no_of_active_kmv < 2) {
        act_mod[i] = 1;
        ++no_of_active_kmv;
      } else {
        act_mod[i] = 0;
      }
    }
    if (no_of_active_kmv > 0) {
      KMVUSB_set_mode(KMVUSB_get_mode(), act_mod);
      init_usbsystem(nullptr);
    }
  }
  for (int i = 0; i < KMV_SLOTS; ++i) report_left_out(i);
  if (no_of_active_kmv == 0) {
    if (!silent_start) {
      error("KMV_NO_ACT_MOD");
      error("INIT_FAILED");
    }
    return -1;
  }

  hardware = KMVUSB_get_mode() == 0;
  for (int i = 0; i < KMV_SLOTS; ++i) {
    KMVUSB_get_module_info(static_cast<int16_t>(i), &usbmod_info[i]);
    get_kmv_module_type_txt(i);
  }
  // A start file named with -l is the operator's: a missing one is reported.
  load_usb(auto_set_file, 3, from_switch ? 1 : 2);
  return 0;
}

}  // namespace

void set_data_dir_files(void) {
  join(auto_set_file, pdata_dir, "trq_auto.set");
  join(error_out_path, pdata_dir, "trq_err.out");
  error_out = error_out_path;
}

void install_quit_signals(void) {
  platform::ui::quit_on_signals([](int) { quit_on_request(); });
  // Over a file-size limit a write fails and is reported; the outputs still go off.
  std::signal(SIGXFSZ, SIG_IGN);
}

int trq_main(int argc, char *argv[]) {
  set_start_values();
  int result = start_up(argc, argv);
  if (result == 0 && platform::ui::quit_signal() == 0) {
    client_active = 0;
    server_active = 0;
    if (server && ActivateServer(module_type_text) == 0) server_active = 1;

    // Whatever -l named, the quit saves into the data directory.
    set_data_dir_files();
    result = manage_meas_panel();
  }
  SetSystemAttribute(ATTR_SYSTEM_1420, 0);
  shutdown();
  delete_module_parameter_sets();
  return result;
}
