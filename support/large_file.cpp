#define _FILE_OFFSET_BITS 64  // 64-bit positions in the 32-bit build too
#include "support/large_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/ui/popups.h"
#include "platform/win/files.h"

static_assert(sizeof(off_t) == 8, "file positions must be 64 bits wide");

namespace {
// The system's "already exists" answer, which counts as success where read.
constexpr uint32_t kAlreadyExists = 183;
constexpr int64_t kMaxPerCall = 1 << 30;

uint32_t last_error = 0;
std::array<char, 128> op_name{};
std::array<char, 256> message{};

void set_error(uint32_t code, const char *name) {
  last_error = code;
  std::snprintf(op_name.data(), op_name.size(), "%s", name);
}

int fail(const char *name) {
  set_error(static_cast<uint32_t>(errno != 0 ? errno : EIO), name);
  return -1;
}

// A file that must be a plain one (no waiting on a FIFO).
int open_regular(const char *path, int flags) { return platform::files::open_plain(path, flags); }
}  // namespace

int OpenLargeFile(const char *path, int mode, int action) {
  int flags = O_RDONLY;
  if (mode == 0) flags = O_RDWR | O_CREAT;
  if (mode == 2) flags = O_WRONLY | O_CREAT;
  const int fd = open_regular(path, flags);
  if (fd < 0) return fail("OpenLargeFile");
  set_error(0, "OpenLargeFile");
  if (mode != 1) {
    const bool ok = action == 1 ? ::lseek(fd, 0, SEEK_END) >= 0 : (action != 0 || ::ftruncate(fd, 0) == 0);
    if (!ok) {
      fail("OpenLargeFile");
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

int CloseLargeFile(int handle) { return handle >= 0 && ::close(handle) == 0 ? 0 : -1; }

int64_t ReadLargeFile(int handle, void *buffer, int64_t count) {
  if (buffer == nullptr || count < 0) {
    errno = EINVAL;
    return fail("ReadLargeFile");
  }
  auto *p = static_cast<char *>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t ask = count - done < kMaxPerCall ? count - done : kMaxPerCall;
    const ssize_t n = ::read(handle, p + done, static_cast<size_t>(ask));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("ReadLargeFile");
    if (n == 0) break;
    done += n;
  }
  last_error = 0;
  return done;
}

int64_t WriteLargeFile(int handle, const void *buffer, int64_t count) {
  if (buffer == nullptr || count < 0) {
    errno = EINVAL;
    return fail("WriteLargeFile");
  }
  const auto *p = static_cast<const char *>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t ask = count - done < kMaxPerCall ? count - done : kMaxPerCall;
    const ssize_t n = ::write(handle, p + done, static_cast<size_t>(ask));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return fail("WriteLargeFile");
    }
    done += n;
  }
  last_error = 0;
  return done;
}

int SetFilePtr64(int handle, uint32_t unit, int32_t count, int origin) {
  const int64_t move = static_cast<int64_t>(unit) * static_cast<int64_t>(count);
  int whence = SEEK_SET;
  if (origin == 1) whence = SEEK_CUR;
  else if (origin == 2) whence = SEEK_END;
  else if (origin != 0) {
    errno = EINVAL;
    return fail("SetFilePtr64");
  }
  if (::lseek(handle, static_cast<off_t>(move), whence) < 0) return fail("SetFilePtr64");
  return 0;
}

uint32_t GetLastLargeFileErr(void) {
  if (last_error == kAlreadyExists) last_error = 0;
  return last_error;
}

char *GetLargeFileErrorString(uint32_t code) {
  if (code == 0) {
    message[0] = '\0';
  } else {
    std::snprintf(message.data(), message.size(), "%s failed with error %d: %s", op_name.data(),
                  static_cast<int>(last_error), std::strerror(static_cast<int>(code)));
  }
  return message.data();
}

uint32_t CheckLastLargeFileErr(void) {
  const uint32_t code = GetLastLargeFileErr();
  if (code == 0) return 0;
  int cursor = 0;
  GetMouseCursor(&cursor);
  SetMouseCursor(-1);
  MessagePopup("File Access Error", GetLargeFileErrorString(code));
  SetMouseCursor(cursor);
  last_error = 0;
  return code;
}

int GetFileSize64(const char *path, int64_t *size) {
  if (size != nullptr) *size = 0;
  const int fd = open_regular(path, O_RDONLY);
  if (fd < 0) return -1;
  struct stat st {};
  const bool ok = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (size != nullptr) *size = ok ? static_cast<int64_t>(st.st_size) : -1;
  return ok ? 0 : -1;
}

int FileExists64(const char *path, int64_t *size) { return GetFileSize64(path, size) == 0 ? 1 : 0; }

int SDK_Beep(int frequency, int duration) {
  (void)frequency;
  (void)duration;
  return 0;
}
