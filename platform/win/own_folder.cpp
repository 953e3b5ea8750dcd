#include "platform/win/own_folder.h"

#include <fcntl.h>
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

std::string not_own(const std::string &path, const std::string &because) {
  return path + " is not a folder of this user (" + because + ")";
}

}  // namespace

FolderCheck open_own_folder(const std::string &path, int needs, int *fd, std::string *why) {
  *fd = -1;
  if ((needs & kFolderCreate) != 0 && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return say(FolderCheck::system_error, why, "cannot create " + path + ": " + std::strerror(errno));
  // O_DIRECTORY refuses a FIFO before any wait on it; O_NOFOLLOW a link.
  int d = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // A folder of ours we may enter but not list still holds our files.
  if (d < 0 && errno == EACCES) d = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (d < 0) {
    if (errno == ENOENT) return say(FolderCheck::missing, why, path + " does not exist");
    if (errno == ELOOP || errno == ENOTDIR) return say(FolderCheck::not_own, why, not_own(path, "not a folder"));
    return say(FolderCheck::system_error, why, "cannot examine " + path + ": " + std::strerror(errno));
  }
  struct stat st{};
  FolderCheck result = FolderCheck::ok;
  const mode_t open = (needs & kFolderPrivate) != 0 ? 077 : 022;
  if (fstat(d, &st) != 0) {
    result = say(FolderCheck::system_error, why, "cannot examine " + path + ": " + std::strerror(errno));
  } else if (!S_ISDIR(st.st_mode)) {
    result = say(FolderCheck::not_own, why, not_own(path, "not a folder"));
  } else if (st.st_uid != geteuid()) {
    result = say(FolderCheck::not_own, why, not_own(path, "it belongs to user " + std::to_string(st.st_uid)));
  } else if ((st.st_mode & open) != 0 && !((needs & kFolderPrivate) != 0 && fchmod(d, 0700) == 0)) {
    // Ours alone to use: closing a private one again is safe.
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    result = say(FolderCheck::open_to_others, why, path + " is open to other users (mode " + mode + ")");
  }
  if (result != FolderCheck::ok) {
    ::close(d);
    return result;
  }
  *fd = d;
  return FolderCheck::ok;
}

bool make_private_folders(const std::string &path, std::error_code &ec) {
  ec.clear();
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      ec.assign(errno, std::generic_category());
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    ec.assign(errno, std::generic_category());
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    ec = std::make_error_code(std::errc::not_a_directory);
    return false;
  }
  return true;
}

}  // namespace platform
