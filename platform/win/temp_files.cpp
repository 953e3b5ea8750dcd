#include "platform/win/temp_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

namespace platform {

bool is_temp_of(std::string_view name, std::string_view file, std::string_view mark) {
  if (name.size() != file.size() + mark.size() + kTempRandomChars) return false;
  if (name.substr(0, file.size()) != file || name.substr(file.size(), mark.size()) != mark) return false;
  for (const char c : name.substr(name.size() - kTempRandomChars))
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

void for_each_temp_of(const std::string &dir, std::string_view file, std::string_view mark,
                      const std::function<void(const std::string &path)> &each) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (is_temp_of(name, file, mark) && std::filesystem::is_regular_file(it->symlink_status(type_ec)))
      each(it->path().string());
  }
}

void for_each_temp_at(int dir_fd, std::string_view file, std::string_view mark,
                      const std::function<void(const std::string &name)> &each) {
  const int fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR *d = ::fdopendir(fd);
  if (d == nullptr) {
    ::close(fd);
    return;
  }
  std::vector<std::string> found;  // called after the listing: each may remove what it gets
  while (const dirent *e = ::readdir(d)) {
    struct stat st{};
    if (is_temp_of(e->d_name, file, mark) && ::fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode))
      found.emplace_back(e->d_name);
  }
  ::closedir(d);
  for (const std::string &name : found) each(name);
}

int make_temp_at(int dir_fd, const std::string &file, std::string_view mark, std::string *name) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random(std::random_device{}() ^ (static_cast<uint64_t>(getpid()) << 32));
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string n = file + std::string(mark);
    for (size_t i = 0; i < kTempRandomChars; ++i) n += kChars[pick(random)];
    const int fd = ::openat(dir_fd, n.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *name = std::move(n);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace platform
