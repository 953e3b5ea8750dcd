#include "app/kmv_io_write.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win/files.h"
#include "platform/win/temp_files.h"
#include "support/Qv_err.h"
#include "support/Qv_file.h"

namespace {

// Mode bits for the new file: those of the file it replaces, else what a
// freshly created file would get.
mode_t mode_for(const char *path) {
  struct stat st {};
  if (::stat(path, &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string directory_of(const std::string &path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a save writes: the end of a chain of symbolic links (a link to a
// file not there yet names the file to make), so that the links stay.
std::string link_target(const std::string &path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string to(FILE_PATH_SIZE * 4, '\0');
    const ssize_t n = ::readlink(p.c_str(), to.data(), to.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) break;
    to.resize(static_cast<std::size_t>(n));
    p = to[0] == '/' ? to : directory_of(p) + to;
  }
  return p;
}

// Temporaries of a setup file: ".<name>.trq-XXXXXX" in its directory, the name
// cut where the whole path would not fit a file record.
constexpr std::string_view kTempMark = ".trq-";

struct TempName {
  std::string dir, stem;  // stem: the name part before the mark
  bool fits = false;
};

TempName temp_name(const std::string &target) {
  TempName t;
  t.dir = directory_of(target);
  const std::size_t fixed = t.dir.size() + 1 + kTempMark.size() + platform::kTempRandomChars;
  if (fixed + 1 >= static_cast<std::size_t>(FILE_PATH_SIZE)) return t;
  t.stem = "." + target.substr(t.dir.size()).substr(0, FILE_PATH_SIZE - 1 - fixed);
  t.fits = true;
  return t;
}

// Whether path still names the file open on fd.
bool still_named(int fd, const std::string &path) {
  struct stat a {}, b {};
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A live save holds its temporary locked; one nobody holds was left by a
// killed save and goes, when it is our own: a name another user put there
// (or swapped in) is theirs to remove.
void clear_dead_temps(const TempName &t) {
  platform::for_each_temp_of(t.dir, t.stem, kTempMark, [](const std::string &path) {
    const int fd = platform::files::open_plain(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        still_named(fd, path))
      ::unlink(path.c_str());
    ::close(fd);  // releases the lock
  });
}

// Makes and locks a temporary; the descriptor (held until the save ends), or
// -1. A temporary cleared by another save before it was locked is made anew.
int locked_temp(const TempName &t, std::string *temp) {
  for (int tries = 0; tries < 8; ++tries) {
    std::string name = t.dir + t.stem + std::string(kTempMark) + std::string(platform::kTempRandomChars, 'X');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    int r;
    do r = ::flock(fd, LOCK_EX);
    while (r != 0 && errno == EINTR);
    // Without locks on this file system no save clears it: it is safe unlocked.
    if (still_named(fd, name)) {
      *temp = name;
      return fd;
    }
    ::close(fd);
  }
  return -1;
}

void sync_directory(const std::string &dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // the rename is durable at best effort; the data already is
  ::close(fd);
}

// The temporary goes only while its name is still ours (lock: its
// descriptor); a name swapped by another user stays theirs.
int fail(FileRecord *record, const std::string &path, const std::string &temp, int code, int lock = -1) {
  unlink_qvfile(record);
  if (!temp.empty() && lock >= 0 && still_named(lock, temp)) ::unlink(temp.c_str());
  error(bfile_error_strings[code], path.c_str());
  return -1;
}

int record_code(const FileRecord *record, int fallback) {
  return record->error > 0 && record->error < BFILE_ERROR_COUNT ? record->error : fallback;
}

}  // namespace

int write_setup_file(FileRecord *record, const char *path, const char *ident, int code, const char *info,
                     const char *body, std::size_t body_size) {
  if (record == nullptr || path == nullptr || *path == '\0') return -1;
  if (record->state != FILE_STATE_EMPTY) unlink_qvfile(record);
  if (std::strlen(path) >= FILE_PATH_SIZE) return fail(record, path, "", BFILE_OPEN);
  const std::string target = link_target(path);
  struct stat st {};
  // Only a plain file is replaced: a FIFO, device or folder of that name stays.
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return fail(record, platform::files::with_kind(path), "", BFILE_OPEN);
  if (::stat(target.c_str(), &st) == 0 && ::access(target.c_str(), W_OK) != 0)
    return fail(record, path, "", BFILE_OPEN);

  const TempName names = temp_name(target);
  if (!names.fits) return fail(record, path, "", BFILE_OPEN);
  clear_dead_temps(names);
  std::string temp;
  const int lock = locked_temp(names, &temp);
  if (lock < 0) return fail(record, path, "", BFILE_OPEN);
  // Held until the temporary is renamed or removed: no other save clears it.
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock};
  ::fchmod(lock, mode_for(target.c_str()));

  // Written through the descriptor that made the temporary, never by its
  // name again: in a folder others can write, that name may be swapped for
  // a link to any file (file handles of the file layer are descriptors).
  const int handle = ::fcntl(lock, F_DUPFD_CLOEXEC, 0);
  if (create_qvfile_on(record, handle, temp.c_str()) < 0) {
    if (handle >= 0) ::close(handle);
    return fail(record, path, temp, record_code(record, BFILE_OPEN), lock);
  }
  if (put_info(record, ident, code, info) < 0) return fail(record, path, temp, record_code(record, BFILE_WRITE), lock);
  if (end_file(record) < 0) return fail(record, path, temp, record_code(record, BFILE_SEEK), lock);
  if (put_body(record, body, body_size) < 0) return fail(record, path, temp, record_code(record, BFILE_WRITE), lock);
  if (::fsync(record->handle) != 0) return fail(record, path, temp, BFILE_WRITE, lock);
  if (unlink_qvfile(record) < 0) return fail(record, path, temp, BFILE_CLOSE, lock);
  // What is renamed over the file must still be what was written.
  if (!still_named(lock, temp) || std::rename(temp.c_str(), target.c_str()) != 0)
    return fail(record, path, temp, BFILE_CREATE, lock);
  sync_directory(names.dir);
  return 0;
}
