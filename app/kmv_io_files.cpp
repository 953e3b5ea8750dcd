#include "app/kmv_io_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/kmv_io_body.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_io_ident.h"
#include "app/kmv_io_write.h"
#include "platform/win/files.h"
#include "support/Qv_err.h"
#include "support/Qv_file.h"
#include "support/Util_fun.h"

namespace {

// The record goes back to empty however the operation ends.
struct Release {
  ~Release() { unlink_qvfile(setup_file); }
};

int file_error(const char *path) {
  const int code = setup_file->error > 0 && setup_file->error < BFILE_ERROR_COUNT ? setup_file->error : BFILE_OPEN;
  error(bfile_error_strings[code], platform::files::with_kind(path).c_str());
  return -1;
}

// A buffer of size bytes and a few zero bytes behind them, or empty after a report.
bool allocate(std::vector<char> *buffer, std::size_t size) {
  try {
    buffer->assign(size + 16, '\0');
    return true;
  } catch (const std::bad_alloc &) {
    error("NOT_ALLOC", "setup");
    return false;
  }
}

// The load of either variant: its identifier and the body's applier.
int load_file(const char *path, int what, int mode, const char *identifier, void (*apply)(char *, int)) {
  if (path == nullptr || *path == '\0') return -1;
  if (setup_file->state != FILE_STATE_EMPTY) unlink_qvfile(setup_file);
  // The first start has no automatic setup file yet: nothing to say then.
  struct stat st {};
  if (::stat(path, &st) != 0 && errno == ENOENT) {
    if (mode != 2) error("BFILE_NOTEXIST", path);
    return -1;
  }
  Release release;
  if (open_qvfile(setup_file, path, nullptr) < 0) return file_error(path);
  // A file cut short (a full disk, a copy broken off) is applied not at all.
  if (qv_sections_whole(setup_file) == 0) {
    error("SETUP_DAMAGED", path);
    return -1;
  }
  if (valid_qvfile(setup_file, identifier, 0) == 0) {
    error("INV_SETUP", path);
    return -1;
  }
  int size = 0;
  if (what == 3) size = get_body(setup_file, nullptr);
  if (what == 1) size = get_info(setup_file, nullptr, identifier);
  if (size <= 0) return -1;
  std::vector<char> buffer;
  if (!allocate(&buffer, static_cast<std::size_t>(size))) return -1;
  if (what == 3) {
    if (get_body(setup_file, buffer.data()) > 0) apply(buffer.data(), mode == 1 ? 2 : mode);
  } else {
    get_info(setup_file, buffer.data(), identifier);
  }
  return 0;
}

// The save of either variant: identifier, module-type code and body writer.
int save_file(const char *path, char *values[], const char *identifier, int code, int (*store)(char *)) {
  if (path == nullptr || *path == '\0') return -1;
  IdentLine lines[IDENT_LINE_COUNT];
  fillfilehdr(path, lines, values);

  // Identification list: the eight lines, then further contents lines. An
  // empty line would end the list early, so empty lines are left out.
  std::string info;
  for (const IdentLine &l : lines) info.append(l.text).push_back('\0');
  if (values != nullptr)
    for (int i = 8; i < IDENT_VALUE_COUNT && values[i] != nullptr; ++i)
      if (values[i][0] != '\0') info.append(values[i], strnlen(values[i], sizeof lines[0].text - 1)).push_back('\0');
  info.push_back('\0');

  const int n = store(nullptr);
  std::vector<char> body;
  if (!allocate(&body, static_cast<std::size_t>(n))) return -1;
  const int written = store(body.data());
  return write_setup_file(setup_file, path, identifier, code, info.c_str(), body.data(),
                          static_cast<std::size_t>(written));
}

}  // namespace

int load_usb(const char *path, int what, int mode) {
  return load_file(path, what, mode, setupusb_identifier, load_usbsetup);
}

int save_usb(const char *path, char *values[]) {
  return save_file(path, values, setupusb_identifier, get_app_ident(QV_APP_TRQ, 200) << 4, store_usbsetup);
}

int load(const char *path, int what, int mode) { return load_file(path, what, mode, setup_identifier, load_setup); }

int save(const char *path, char *values[]) {
  return save_file(path, values, setup_identifier, get_app_ident(QV_APP_KMV, 100) << 4, store_setup);
}
