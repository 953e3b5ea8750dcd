// Error-text lookup: the input becomes the error-text file, and a few
// identifiers (fixed ones and the input's first word) are looked up in it.
// Whatever the file holds, the buffers stay terminated, the severity is one
// of E, W, F or '0', and the format keeps no broken or %n conversion.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz/scratch.h"
#include "support/Qv_err.h"

namespace {

void check_format(const char *f) {
  for (const char *p = f; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    ++p;
    while (*p != '\0' && std::strchr("-+ #0123456789.*'hlLqjztI", *p) != nullptr) ++p;
    if (*p == '\0' || *p == 'n') __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!fuzzing::write_scratch(data, size)) return 0;
  static char dat[260];
  std::snprintf(dat, sizeof dat, "%s", fuzzing::scratch_path().c_str());
  error_dat = dat;

  std::string first;
  for (size_t i = 0; i < size && i < 600 && data[i] != ' ' && data[i] != '\n' && data[i] != '\0'; ++i)
    first += static_cast<char>(data[i]);
  const char *const ids[] = {"PARMST_PIDNTFND", "MAIN_F_NOCONFIG", "A", "", first.c_str()};
  for (const char *id : ids) {
    char format[512];
    char message[512];
    std::memset(format, 'x', sizeof format);
    std::memset(message, 'x', sizeof message);
    const char s = search_error_id(id, format, message);
    if (s == '0') {
      if (std::memchr(message, '\0', sizeof message) == nullptr) __builtin_trap();
    } else {
      if (s != 'E' && s != 'W' && s != 'F') __builtin_trap();
      if (std::memchr(format, '\0', sizeof format) == nullptr) __builtin_trap();
      check_format(format);
    }
  }
  return 0;
}
