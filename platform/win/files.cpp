#define _FILE_OFFSET_BITS 64  // 64-bit positions in the 32-bit build too
#include "platform/win/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

static_assert(sizeof(off_t) == 8, "file positions must be 64 bits wide");

namespace {
int last_code = FMT_IO_NO_ERROR;
int break_on_errors = 1;
int commit_mode = 1;
platform::files::FaultHook fault_hook;

int code_of_errno(int e) {
  switch (e) {
    case 0: return FMT_IO_NO_ERROR;
    case EMFILE:
    case ENFILE: return FMT_IO_TOO_MANY_FILES;
    case ENOENT:
    case ENOTDIR: return FMT_IO_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return FMT_IO_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FMT_IO_DISK_FULL;
    case EBADF: return FMT_IO_BAD_HANDLE;
    default: return FMT_IO_ERROR;
  }
}

int fail_errno() {
  last_code = code_of_errno(errno);
  if (last_code == FMT_IO_NO_ERROR) last_code = FMT_IO_ERROR;
  return -1;
}

int succeed() {
  last_code = FMT_IO_NO_ERROR;
  return 0;
}

// Asks the test hook about a call; true when the call is to fail.
bool injected(platform::files::Op op, int handle, int64_t count, int64_t *limit) {
  if (!fault_hook) return false;
  const platform::files::Fault f = fault_hook(op, handle, count);
  if (f.fail) {
    last_code = f.code;
    return true;
  }
  if (limit != nullptr && f.limit >= 0 && f.limit < *limit) *limit = f.limit;
  return false;
}

// One system call moves at most this much, so a count fits ssize_t on i386.
constexpr int64_t kMaxPerCall = 1 << 30;

bool stat_path(const char *path, struct stat *st) { return path != nullptr && ::stat(path, st) == 0; }

int refuse(const char *path, mode_t mode, std::string *refused) {
  if (refused != nullptr) *refused = std::string(path) + " is " + platform::files::kind_of(mode) + ", not a plain file";
  errno = S_ISDIR(mode) ? EISDIR : EINVAL;
  return -1;
}
}  // namespace

namespace platform::files {

const char *kind_of(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFREG: return nullptr;
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFLNK: return "a symbolic link";
    default: return "no plain file";
  }
}

int open_plain_at(int dir, const char *path, int flags, std::string *refused, unsigned create_mode) {
  if (refused != nullptr) refused->clear();
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return -1;
  }
  // A look first, so that a device is not even opened.
  struct stat st {};
  const int look = (flags & O_NOFOLLOW) != 0 ? AT_SYMLINK_NOFOLLOW : 0;
  if (::fstatat(dir, path, &st, look) == 0 && !S_ISREG(st.st_mode)) return refuse(path, st.st_mode, refused);
  const int fd = ::openat(dir, path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(create_mode));
  if (fd < 0) {
    // A socket, or a FIFO without reader opened for writing, swapped in after the look.
    const int e = errno;
    if (e == ENXIO && ::fstatat(dir, path, &st, look) == 0 && !S_ISREG(st.st_mode))
      return refuse(path, st.st_mode, refused);
    errno = e;
    return -1;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int e = errno;
    const mode_t mode = st.st_mode;
    ::close(fd);
    if (mode == 0) {
      errno = e;
      return -1;
    }
    return refuse(path, mode, refused);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int open_plain(const char *path, int flags, std::string *refused) {
  return open_plain_at(AT_FDCWD, path, flags, refused);
}

FILE *fopen_plain(const char *path, const char *mode, std::string *refused) {
  if (refused != nullptr) refused->clear();
  if (mode == nullptr || *mode == '\0') {
    errno = EINVAL;
    return nullptr;
  }
  const bool update = std::string_view(mode).find('+') != std::string_view::npos;
  int flags = update ? O_RDWR : O_RDONLY;
  if (mode[0] == 'w') flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
  const int fd = open_plain(path, flags, refused);
  if (fd < 0) return nullptr;
  FILE *f = ::fdopen(fd, mode);
  if (f == nullptr) {
    const int e = errno;
    ::close(fd);
    errno = e;
  }
  return f;
}

std::string with_kind(const char *path) {
  if (path == nullptr) return "";
  struct stat st {};
  const char *kind = ::stat(path, &st) == 0 ? kind_of(st.st_mode) : nullptr;
  return kind == nullptr ? std::string(path) : std::string(path) + " (" + kind + ", not a plain file)";
}

}  // namespace platform::files

int OpenFile(const char *path, int mode, int action, int type) {
  if (path == nullptr || *path == '\0') {
    last_code = FMT_IO_FILE_NOT_FOUND;
    return -1;
  }
  if (injected(platform::files::Op::open, -1, 0, nullptr)) return -1;
  int flags = O_CLOEXEC;
  switch (mode) {
    case VAL_READ_WRITE: flags |= O_RDWR; break;
    case VAL_WRITE_ONLY: flags |= O_WRONLY; break;
    default: flags |= O_RDONLY; break;
  }
  const bool writes = mode == VAL_READ_WRITE || mode == VAL_WRITE_ONLY;
  if (writes && action == VAL_TRUNCATE) flags |= O_CREAT | O_TRUNC;
  if (writes && action == VAL_APPEND) flags |= O_CREAT;
  // What is read must be a plain file; a write-only or truncating open may
  // reach a device such as /dev/full, never a folder, FIFO or socket.
  const bool device_ok = mode == VAL_WRITE_ONLY || (writes && action == VAL_TRUNCATE);
  int fd = -1;
  if (!device_ok) {
    std::string refused;
    fd = platform::files::open_plain(path, flags, &refused);
    if (fd < 0 && !refused.empty()) {
      last_code = FMT_IO_ACCESS_DENIED;
      return -1;
    }
    if (fd < 0) return fail_errno();
  } else {
    // A directory opens on Linux; the run-time engine refuses it.
    struct stat st {};
    if (stat_path(path, &st) && S_ISDIR(st.st_mode)) {
      last_code = FMT_IO_ACCESS_DENIED;
      return -1;
    }
    fd = ::open(path, flags | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) return fail_errno();
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
      ::close(fd);
      last_code = FMT_IO_ACCESS_DENIED;
      return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  if (writes && action == VAL_APPEND && ::lseek(fd, 0, SEEK_END) < 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return fail_errno();
  }
  (void)type;
  succeed();
  return fd;
}

int CloseFile(int handle) {
  if (injected(platform::files::Op::close, handle, 0, nullptr)) return -1;
  if (handle < 0 || ::close(handle) != 0) return fail_errno();
  return succeed();
}

int64_t ReadFile(int handle, void *buffer, int64_t count) {
  if (buffer == nullptr || count < 0) {
    last_code = FMT_IO_ERROR;
    return -1;
  }
  int64_t want = count;
  if (injected(platform::files::Op::read, handle, count, &want)) return -1;
  auto *p = static_cast<char *>(buffer);
  int64_t done = 0;
  while (done < want) {
    const int64_t ask = want - done < kMaxPerCall ? want - done : kMaxPerCall;
    const ssize_t n = ::read(handle, p + done, static_cast<size_t>(ask));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno();
    }
    if (n == 0) break;
    done += n;
  }
  succeed();
  return done;
}

int64_t WriteFile(int handle, const void *buffer, int64_t count) {
  if (buffer == nullptr || count < 0) {
    last_code = FMT_IO_ERROR;
    return -1;
  }
  int64_t want = count;
  if (injected(platform::files::Op::write, handle, count, &want)) return -1;
  const auto *p = static_cast<const char *>(buffer);
  int64_t done = 0;
  while (done < want) {
    const int64_t ask = want - done < kMaxPerCall ? want - done : kMaxPerCall;
    const ssize_t n = ::write(handle, p + done, static_cast<size_t>(ask));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno();
    }
    if (n == 0) break;
    done += n;
  }
  succeed();
  return done;
}

int64_t SetFilePtr(int handle, int64_t offset, int origin) {
  if (injected(platform::files::Op::seek, handle, offset, nullptr)) return -1;
  int whence = SEEK_SET;
  if (origin == 1) whence = SEEK_CUR;
  else if (origin == 2) whence = SEEK_END;
  else if (origin != 0) {
    last_code = FMT_IO_ERROR;
    return -1;
  }
  const off_t pos = ::lseek(handle, static_cast<off_t>(offset), whence);
  if (pos < 0) return fail_errno();
  succeed();
  return static_cast<int64_t>(pos);
}

int FileExists(const char *path, int64_t *size) {
  if (size != nullptr) *size = 0;
  struct stat st {};
  if (path == nullptr || *path == '\0') return 0;
  if (::stat(path, &st) != 0) return (errno == ENOENT || errno == ENOTDIR) ? 0 : -1;
  if (!S_ISREG(st.st_mode)) return 0;
  if (size != nullptr) *size = static_cast<int64_t>(st.st_size);
  return 1;
}

int GetFileSize(const char *path, int64_t *size) {
  if (size != nullptr) *size = 0;
  struct stat st {};
  if (!stat_path(path, &st)) return -code_of_errno(errno == 0 ? ENOENT : errno);
  if (!S_ISREG(st.st_mode)) return -FMT_IO_FILE_NOT_FOUND;
  if (size != nullptr) *size = static_cast<int64_t>(st.st_size);
  return 0;
}

int GetFileAttrs(const char *path, int *read_only, int *system, int *hidden, int *archive) {
  for (int *p : {read_only, system, hidden, archive})
    if (p != nullptr) *p = 0;
  struct stat st {};
  if (!stat_path(path, &st)) return -code_of_errno(errno == 0 ? ENOENT : errno);
  // From the permission bits, not access(): root may write anything.
  if (read_only != nullptr) *read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

namespace {

int dir_code(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR: return DIR_IO_PATH_NOT_FOUND;
    case EEXIST: return DIR_IO_EXISTS;
    case EACCES:
    case EPERM:
    case EROFS: return DIR_IO_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return DIR_IO_DISK_FULL;
    case ENOMEM: return DIR_IO_NO_MEMORY;
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP: return DIR_IO_INVALID_PATH;
    default: return DIR_IO_ERROR;
  }
}

// Copies everything from one descriptor to the other; an errno value or 0.
int copy_data(int from, int to) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    const ssize_t n = ::read(from, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(to, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += w;
    }
  }
}

}  // namespace

int MakeDir(const char *path) {
  if (path == nullptr || *path == '\0') return DIR_IO_INVALID_PATH;
  return ::mkdir(path, 0777) == 0 ? 0 : dir_code(errno);
}

int CopyFile(const char *source, const char *target) {
  if (source == nullptr || target == nullptr || *source == '\0' || *target == '\0') return DIR_IO_INVALID_PATH;
  std::string refused;
  const int in = platform::files::open_plain(source, O_RDONLY, &refused);
  if (in < 0) return refused.empty() ? dir_code(errno) : DIR_IO_INVALID_PATH;
  struct stat src {};
  if (::fstat(in, &src) != 0) {
    ::close(in);
    return DIR_IO_INVALID_PATH;
  }
  std::string to = target;
  struct stat dst {};
  if (::stat(to.c_str(), &dst) == 0 && S_ISDIR(dst.st_mode)) {
    const std::string s = source;
    const auto sep = s.find_last_of('/');
    to += (to.back() == '/' ? "" : "/") + (sep == std::string::npos ? s : s.substr(sep + 1));
  }
  if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    ::close(in);
    return 0;
  }
  std::string temp = to + ".XXXXXX";
  const int out = ::mkstemp(temp.data());
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return dir_code(e);
  }
  int e = copy_data(in, out);
  if (e == 0 && ::fchmod(out, src.st_mode & 07777) != 0) e = errno;
  if (::close(out) != 0 && e == 0) e = errno;
  ::close(in);
  if (e == 0 && ::rename(temp.c_str(), to.c_str()) != 0) e = errno;
  if (e != 0) {
    ::unlink(temp.c_str());
    return dir_code(e);
  }
  return 0;
}

int GetFmtIOError(void) { return last_code; }

const char *GetFmtIOErrorString(int code) {
  switch (code) {
    case FMT_IO_NO_ERROR: return "No error";
    case FMT_IO_TOO_MANY_FILES: return "Too many files are open";
    case FMT_IO_ERROR: return "File I/O error";
    case FMT_IO_FILE_NOT_FOUND: return "File not found";
    case FMT_IO_ACCESS_DENIED: return "File access permission denied";
    case FMT_IO_DISK_FULL: return "Disk is full";
    case FMT_IO_BAD_HANDLE: return "Bad file handle";
    default: return "Unknown file error";
  }
}

int GetBreakOnLibraryErrors(void) { return break_on_errors; }
void DisableBreakOnLibraryErrors(void) { break_on_errors = 0; }
void EnableBreakOnLibraryErrors(void) { break_on_errors = 1; }

int SetCommitMode(int commit) { return std::exchange(commit_mode, commit != 0); }

namespace platform::files {
FaultHook set_fault_hook(FaultHook hook) { return std::exchange(fault_hook, std::move(hook)); }
}  // namespace platform::files
