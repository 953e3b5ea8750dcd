#include "platform/win/own_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

FolderCheck say(FolderCheck result, std::string *why, const std::string &text) {
  if (why != nullptr) *why = text;
  return result;
}

}  // namespace

FolderCheck own_folder(const std::string &path, int needs, std::string *why) {
  if ((needs & kFolderCreate) != 0 && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return say(FolderCheck::system_error, why, "cannot create " + path + ": " + std::strerror(errno));
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return say(FolderCheck::missing, why, path + " does not exist");
    return say(FolderCheck::system_error, why, "cannot examine " + path + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) return say(FolderCheck::not_own, why, path + " is not a folder of this user (not a folder)");
  if (st.st_uid != geteuid())
    return say(FolderCheck::not_own, why,
               path + " is not a folder of this user (it belongs to user " + std::to_string(st.st_uid) + ")");
  const mode_t open = (needs & kFolderPrivate) != 0 ? 077 : 022;
  if ((st.st_mode & open) == 0) return FolderCheck::ok;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  // Ours alone to use: closing it again is safe.
  if ((needs & kFolderPrivate) != 0 && chmod(path.c_str(), 0700) == 0) return FolderCheck::ok;
  return say(FolderCheck::open_to_others, why, path + " is open to other users (mode " + mode + ")");
}

}  // namespace platform
