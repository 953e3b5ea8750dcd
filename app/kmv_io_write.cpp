#include "app/kmv_io_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

void sync_directory(const std::string &dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // the rename is durable at best effort; the data already is
  ::close(fd);
}

int fail(FileRecord *record, const char *path, const std::string &temp, int code) {
  unlink_qvfile(record);
  if (!temp.empty()) std::remove(temp.c_str());
  error(bfile_error_strings[code], path);
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
  struct stat st {};
  if (::stat(path, &st) == 0 && (S_ISDIR(st.st_mode) || ::access(path, W_OK) != 0))
    return fail(record, path, "", BFILE_OPEN);

  std::string temp = directory_of(path) + ".trq-XXXXXX";
  if (temp.size() >= FILE_PATH_SIZE) return fail(record, path, "", BFILE_OPEN);
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail(record, path, "", BFILE_OPEN);
  ::fchmod(fd, mode_for(path));
  ::close(fd);

  if (create_qvfile(record, temp.c_str(), nullptr) < 0) return fail(record, path, temp, record_code(record, BFILE_OPEN));
  if (put_info(record, ident, code, info) < 0) return fail(record, path, temp, record_code(record, BFILE_WRITE));
  if (end_file(record) < 0) return fail(record, path, temp, record_code(record, BFILE_SEEK));
  if (put_body(record, body, body_size) < 0) return fail(record, path, temp, record_code(record, BFILE_WRITE));
  // File handles of the file layer are the system's descriptors.
  if (::fsync(record->handle) != 0) return fail(record, path, temp, BFILE_WRITE);
  if (unlink_qvfile(record) < 0) return fail(record, path, temp, BFILE_CLOSE);
  if (std::rename(temp.c_str(), path) != 0) return fail(record, path, temp, BFILE_CREATE);
  sync_directory(directory_of(path));
  return 0;
}
