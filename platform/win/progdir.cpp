#include "platform/win/progdir.h"

#include "platform/win/own_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace platform {
namespace {
// Set by the tests: a folder to pretend, or "" for one that cannot be found.
std::optional<std::string> override_dir;

std::string exe_dir() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Why the data folder is not used and where the data goes instead: said once.
void tell_fallback(const std::string &why, const std::string &fallback) {
  static bool told = false;
  if (told) return;
  told = true;
  if (fallback.empty())
    std::fprintf(stderr, "%s, and the program's own folder cannot be found: data files cannot be kept.\n",
                 why.c_str());
  else
    std::fprintf(stderr, "%s: data files go to %s%s\n", why.c_str(), fallback.c_str(),
                 fallback.back() == '/' ? "" : "/");
}

// The user's home has no folder: why, in a few words.
std::string no_home() {
  const char *home = std::getenv("HOME");
  const std::string env = home == nullptr || home[0] == '\0' ? std::string("HOME is unset")
                                                              : "HOME (" + std::string(home) + ") is not a full path";
  return "No home folder (" + env + " and user " + std::to_string(getuid()) + " has no passwd entry)";
}
}  // namespace

std::string program_dir() { return override_dir ? *override_dir : exe_dir(); }

void set_program_dir(const std::string &dir) {
  if (dir.empty()) override_dir.reset();
  else override_dir = dir;
}

void set_program_dir_unknown() { override_dir = std::string(); }

std::string home_dir() {
  // A relative one would lie below whatever folder is current, and the
  // program works from its own.
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  if (const passwd *pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/')
    return pw->pw_dir;
  return {};
}

std::string user_data_dir(const std::string &app, const std::string &fallback) {
  std::string base;
  const char *x = std::getenv("XDG_DATA_HOME");
  if (x != nullptr && x[0] == '/') {
    base = x;
  } else if (const std::string home = home_dir(); !home.empty()) {
    base = home + "/.local/share";
  } else {
    tell_fallback(no_home(), fallback);
    return {};
  }
  const std::string dir = base + "/qv/" + app;
  std::error_code made;
  if (!make_private_folders(dir, made)) {
    tell_fallback("Data folder " + dir + " cannot be made" + (made ? " (" + made.message() + ")" : std::string()),
                  fallback);
    return {};
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    tell_fallback("Data folder " + dir + " cannot be written", fallback);
    return {};
  }
  return dir;
}

std::string user_data_dir(const std::string &app) { return user_data_dir(app, program_dir()); }
}  // namespace platform

namespace {
int copy_out(const std::string &s, char dir[]) {
  constexpr size_t kMax = 260;
  if (s.empty() || s.size() >= kMax) return -1;
  std::memcpy(dir, s.c_str(), s.size() + 1);
  return 0;
}
}  // namespace

int GetProjectDir(char dir[]) { return copy_out(platform::program_dir(), dir); }

int GetDir(char dir[]) {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) == nullptr) return -1;
  return copy_out(buf, dir);
}

int SetDir(const char dir[]) { return (dir != nullptr && chdir(dir) == 0) ? 0 : -1; }

int SetDrive(int drive) { return drive >= 0 && drive < 26 ? 0 : -1; }

int GetFullPathFromProject(const char name[], char full[]) {
  if (name == nullptr || full == nullptr || name[0] == '\0') return -1;
  const std::string n = name;
  if (n[0] == '/') return copy_out(n, full);
  const auto sep = n.find_last_of("/\\");
  const std::string file = sep == std::string::npos ? n : n.substr(sep + 1);
  const std::string dir = platform::program_dir();
  if (file.empty() || dir.empty()) return -1;
  return copy_out(dir == "/" ? dir + file : dir + "/" + file, full);
}
