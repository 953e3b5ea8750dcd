#include "support/Util_fun_registry.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ui/popups.h"
#include "platform/win/files.h"
#include "platform/win/progdir.h"
#include "platform/win/strings.h"
#include "support/File.h"
#include "support/Qv_file.h"
#include "support/Util_fun_dialogs.h"
#include "support/Util_fun_paths.h"

namespace {

// The maker's applications: short name (the registry key), executable and the
// module-type code of their files. Only the rows of this program and of its
// PCI variant are known; the others keep placeholder names and take part in
// no file identification.
struct AppRow {
  const char *short_name;
  const char *executable;
  int module_code;
  bool known;
};

#if defined(__i386__)
constexpr const char *kTrqExecutable = "trq_32";
#else
constexpr const char *kTrqExecutable = "trq_32x64";
#endif

constexpr std::array<AppRow, QV_APP_COUNT> kApps = {{
    {"QVAPP00", "qvapp00", 0, false}, {"QVAPP01", "qvapp01", 0, false}, {"QVAPP02", "qvapp02", 0, false},
    {"QVAPP03", "qvapp03", 0, false}, {"QVAPP04", "qvapp04", 0, false}, {"QVAPP05", "qvapp05", 0, false},
    {"QVAPP06", "qvapp06", 0, false}, {"QVAPP07", "qvapp07", 0, false}, {"QVAPP08", "qvapp08", 0, false},
    {"QVAPP09", "qvapp09", 0, false}, {"QVAPP10", "qvapp10", 0, false}, {"KMV", "kmv", 92, true},
    {"QVAPP12", "qvapp12", 0, false}, {"QVAPP13", "qvapp13", 0, false}, {"QVAPP14", "qvapp14", 0, false},
    {"QVAPP15", "qvapp15", 0, false}, {"QVAPP16", "qvapp16", 0, false}, {"QVAPP17", "qvapp17", 0, false},
    {"TRQ", kTrqExecutable, 104, true}, {"QVAPP19", "qvapp19", 0, false},
}};

// Model names of the module-type codes.
struct ModelRow {
  int code;
  const char *name;
};
constexpr ModelRow kModels[] = {{104, "KMV-USB"}, {92, "KMV-100"}};

bool valid_app(QVAppNumber app) { return app >= 0 && app < QV_APP_COUNT; }

// A string value that exists and is not empty, into out when given.
bool present(HKEY root, const std::string &key, const char *name, char *out = nullptr, uint32_t size = 0) {
  uint32_t n = 0;
  return RegReadString(root, key.c_str(), name, out, size, &n) == 0 && n > 0;
}

// The same through the views (option 3).
bool present_in_views(HKEY root, const std::string &key, const char *name, char *out = nullptr, uint32_t size = 0) {
  uint32_t n = 0;
  return RegReadStringExt(root, key.c_str(), name, out, size, &n, 3) == 0 && n > 0;
}

bool ends_in_separator(const char *s) {
  const size_t n = std::strlen(s);
  return n > 0 && (s[n - 1] == '/' || s[n - 1] == '\\');
}

// Directory of a full path, without its trailing separator (the root stays "/").
std::string directory_of(const std::string &full) {
  const size_t slash = full.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : full.substr(0, slash);
}

int read_in_view(HKEY root, const char *subkey, const char *name, char *buffer, uint32_t buffer_size, uint32_t *size,
                 int view) {
  int key = 0;
  if (const int r = RegOpenKeyInView(root, subkey, view, &key); r != 0) return r;
  uint32_t type = 0, n = 0;
  int r = RegQueryKeyValue(key, name, &type, &n);
  if (r == 0) {
    *size = n;
    if (type != REG_SZ && type != REG_EXPAND_SZ) r = REG_ERR_WRONG_TYPE;
    else if (buffer != nullptr) r = RegReadKeyValue(key, name, buffer, buffer_size);
  }
  RegCloseKey(key);
  return r;
}

}  // namespace

namespace qv {

const char *app_short_name(QVAppNumber app) { return valid_app(app) ? kApps[static_cast<size_t>(app)].short_name : ""; }

std::string app_key(QVAppNumber app, const char *suffix) {
  return std::string("Software\\QV\\") + app_short_name(app) + (suffix != nullptr ? suffix : "");
}

}  // namespace qv

int RegReadStringExt(HKEY root, const char *subkey, const char *name, char *buffer, uint32_t buffer_size,
                     uint32_t *size, int option) {
  if (subkey == nullptr || size == nullptr) return REG_ERR_NULL_ARGUMENT;
  if ((option & (REG_VIEW_DEFAULT | REG_VIEW_64)) == 0) return REG_ERR_CANT_OPEN_KEY;
  int r = REG_ERR_CANT_OPEN_KEY;
  for (const int view : {REG_VIEW_DEFAULT, REG_VIEW_64}) {
    if ((option & view) == 0) continue;
    r = read_in_view(root, subkey, name, buffer, buffer_size, size, view);
    if (r != REG_ERR_NO_KEY && r != REG_ERR_NO_VALUE) break;
  }
  return r;
}

int register_qv_app(QVAppNumber app, const char *program_path, int force, char *data_dir) {
  if (!valid_app(app)) return REG_ERR_CANT_OPEN_KEY;
  const std::string key = qv::app_key(app);
  std::string prog_dir;
  if (program_path != nullptr) {
    char prog_path[QV_PATH_SIZE];
    char full[QV_PATH_SIZE];
    if (force < 0) {
      if (!platform::copy_bounded(prog_path, sizeof prog_path, program_path)) return REG_ERR_BUFFER_TOO_SMALL;
      if (qv::_fullpath(full, program_path, sizeof full) == nullptr) return -1;
      prog_dir = directory_of(full);
    } else {
      if (const int r = GetFullPathFromProject(program_path, prog_path); r != 0) return r;
      if (GetProjectDir(full) != 0) return -1;
      prog_dir = full;
    }
    if (!present_in_views(HKEY_LOCAL_MACHINE, key, "InstallDir") || force != 0)
      RegWriteString(HKEY_LOCAL_MACHINE, key.c_str(), "InstallDir", prog_dir.c_str());  // may lack the rights
    if (!present(HKEY_CURRENT_USER, key, "FilePath") || force != 0) {
      if (const int r = RegWriteString(HKEY_CURRENT_USER, key.c_str(), "FilePath", prog_path); r != 0) return r;
    }
    if (!present(HKEY_CURRENT_USER, key, "DataDir") && force == 0) {
      char machine[QV_PATH_SIZE];
      if (present_in_views(HKEY_LOCAL_MACHINE, key, "DataDir", machine, sizeof machine)) {
        if (const int r = RegWriteString(HKEY_CURRENT_USER, key.c_str(), "DataDir", machine); r != 0) return r;
      }
    }
    if (!present(HKEY_CURRENT_USER, key, "DataDir") || force != 0) {
      std::string fallback;
      if (data_dir != nullptr && data_dir[0] != '\0') {
        fallback = data_dir;
      } else {
        std::string short_name = qv::app_short_name(app);
        StringLowerCase(short_name.data());
        fallback = platform::user_data_dir(short_name, prog_dir);
        fallback = fallback.empty() ? prog_dir : fallback + "/";
      }
      if (const int r = RegWriteString(HKEY_CURRENT_USER, key.c_str(), "DataDir", fallback.c_str()); r != 0) return r;
    }
    if (data_dir != nullptr) {
      char dir[QV_PATH_SIZE];
      uint32_t n = 0;
      if (const int r = RegReadString(HKEY_CURRENT_USER, key.c_str(), "DataDir", dir, sizeof dir, &n); r != 0) return r;
      if (!ends_in_separator(dir)) {
        if (n + 1 >= QV_PATH_SIZE) return REG_ERR_BUFFER_TOO_SMALL;  // no room for the '/'
        std::strcat(dir, "/");
      }
      std::memcpy(data_dir, dir, std::strlen(dir) + 1);
    }
    if (force < 0) return 0;
  }
  qv::load_dir_history(app, program_path != nullptr ? prog_dir.c_str() : nullptr);
  return 0;
}

int find_qv_app(QVAppNumber app, char *path, int keep) {
  if (path == nullptr || !valid_app(app)) return REG_ERR_NULL_ARGUMENT;
  const std::string key = qv::app_key(app);
  char found[QV_PATH_SIZE] = "";
  uint32_t n = 0;
  int r = RegReadString(HKEY_CURRENT_USER, key.c_str(), "FilePath", found, sizeof found, &n);
  if (r != 0 || n == 0) r = RegReadStringExt(HKEY_LOCAL_MACHINE, key.c_str(), "FilePath", found, sizeof found, &n, 3);
  std::string candidate = path;
  if (r == 0 && n > 0) {
    candidate = found;
    if (FileExists(found, nullptr) == 1 && keep == 0) {
      std::memcpy(path, found, std::strlen(found) + 1);
      return 0;
    }
  } else {
    if (app == 10) return r != 0 ? r : REG_ERR_NO_VALUE;
    char install[QV_PATH_SIZE];
    if (present_in_views(HKEY_LOCAL_MACHINE, key, "InstallDir", install, sizeof install)) {
      std::string exe = install;
      if (!ends_in_separator(install)) exe += "/";
      exe += kApps[static_cast<size_t>(app)].executable;
      if (exe.size() < QV_PATH_SIZE && FileExists(exe.c_str(), nullptr) == 1) {
        candidate = exe;
        if (keep == 0) {
          std::memcpy(path, exe.c_str(), exe.size() + 1);
          RegWriteString(HKEY_CURRENT_USER, key.c_str(), "FilePath", exe.c_str());
          return 0;
        }
      }
    }
  }
  char drive[FNSPLIT_DRIVE_SIZE], dir[FNSPLIT_DIR_SIZE], name[FNSPLIT_NAME_SIZE], ext[FNSPLIT_EXT_SIZE];
  fnsplit(candidate.c_str(), drive, dir, name, ext);
  const std::string start = std::string(drive) + dir;
  const std::string spec = std::string(name) + ext;
  char chosen[QV_PATH_SIZE] = "";
  if (FileSelectPopup(start.c_str(), spec.c_str(), "*", "Find QV Executable Name", VAL_OK_BUTTON, 0, 0, 1, 0,
                      chosen) <= 0)
    return -1;
  std::memcpy(path, chosen, std::strlen(chosen) + 1);
  RegWriteString(HKEY_CURRENT_USER, key.c_str(), "FilePath", chosen);
  return 0;
}

int find_data_dir(int mode, const char *short_name, char *out) {
  if (short_name == nullptr || out == nullptr) return -1;
  const std::string key = std::string("Software\\QV\\") + short_name;
  char machine[QV_PATH_SIZE] = "", user[QV_PATH_SIZE] = "";
  if (!present_in_views(HKEY_LOCAL_MACHINE, key, "DataDir", machine, sizeof machine)) return -1;
  const bool have_user = present(HKEY_CURRENT_USER, key, "DataDir", user, sizeof user);
  int state;
  const char *result;
  if (have_user && std::strcmp(user, machine) == 0) {
    state = 4;
    result = user;
  } else if (have_user && mode != 2) {
    state = 3;
    result = mode == 1 ? machine : user;
  } else {
    state = RegWriteString(HKEY_CURRENT_USER, key.c_str(), "DataDir", machine) == 0 ? 4 : 2;
    result = machine;
  }
  if (result[0] != '\0') std::memcpy(out, result, std::strlen(result) + 1);
  return state;
}

int check_qv_file_type(const char *path) {
  if (path == nullptr) return -1;
  char ext[FNSPLIT_EXT_SIZE];
  fnsplit(path, nullptr, nullptr, nullptr, ext);
  const bool setup = StrICmp(ext, ".set") == 0;
  if (!setup && StrICmp(ext, ".sdt") != 0) return -1;
  FileRecord record{};
  create_empty_file(&record);
  if (open_qvfile(&record, path, nullptr) < 0) {
    const int code = record.error;
    unlink_qvfile(&record);
    return -code;
  }
  int found = -1;
  for (int app = 0; app < QV_APP_COUNT && found < 0; ++app) {
    const AppRow &row = kApps[static_cast<size_t>(app)];
    if (app == 1 || (app >= 8 && app <= 10) || !row.known) continue;
    // The identification forms of setup and of setup-and-data files.
    const std::string ident = std::string("\x04") + row.short_name + (setup ? " Setup File" : " Data File") + "\x04";
    if (valid_qvfile(&record, ident.c_str(), 0) > 0) found = app;
  }
  unlink_qvfile(&record);
  return found;
}

int get_app_ident(QVAppNumber app, int key) { return valid_app(app) ? kApps[static_cast<size_t>(app)].module_code : 0; }

void get_srv_name(int code, char *name) {
  if (name == nullptr) return;
  name[0] = '\0';
  for (const ModelRow &m : kModels) {
    if (m.code == code) platform::copy_bounded(name, 21, m.name);
  }
}
