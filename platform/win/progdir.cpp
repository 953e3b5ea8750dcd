#include "platform/win/progdir.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace platform {
namespace {
std::string override_dir;

std::string exe_dir() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}
}  // namespace

std::string program_dir() { return override_dir.empty() ? exe_dir() : override_dir; }

void set_program_dir(const std::string &dir) { override_dir = dir; }

std::string home_dir() {
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  if (const passwd *pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != '\0')
    return pw->pw_dir;
  return {};
}

std::string user_data_dir(const std::string &app) {
  std::string base;
  const char *x = std::getenv("XDG_DATA_HOME");
  if (x != nullptr && x[0] == '/') {
    base = x;
  } else if (const std::string home = home_dir(); !home.empty()) {
    base = home + "/.local/share";
  } else {
    // Callers fall back to the program's directory: say so, once.
    static bool told = false;
    if (!told)
      std::fprintf(stderr,
                   "No home folder (HOME is unset and user %u has no passwd entry): data files go to %s/\n",
                   static_cast<unsigned>(getuid()), program_dir().c_str());
    told = true;
    return {};
  }
  std::string dir = base + "/qv/" + app;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::is_directory(dir, ec) ? dir : std::string();
}
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
