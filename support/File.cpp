#include "support/File.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win/files.h"
#include "support/Qv_err.h"
#include "support/large_file.h"

// error identifiers
const char *const bfile_error_strings[BFILE_ERROR_COUNT] = {
    "BFILE_CLOSED", "BFILE_EXIST",  "BFILE_NOTEXIST", "BFILE_OVERFLOW", "BFILE_EMPTY", "BFILE_NOTEMPTY",
    "BFILE_OPEN",   "BFILE_CREATE", "BFILE_REMOVE",   "BFILE_EOF",      "BFILE_REOPEN", "BFILE_CLOSE",
    "BFILE_TELL",   "BFILE_SEEK",   "BFILE_READ",     "BFILE_WRITE",    "IO_ERR_USCMD",
};

namespace {
// One system call moves at most this much.
constexpr int64_t kMaxCall = 0x7FFFFFFF;
// A failed large read is tried again in pieces of this size.
constexpr int64_t kRetryPiece = 0x2000000;
// Bytes of GenWrFileErrStr this object may fill.
constexpr size_t kGenWrFileErrStrUse = 64;

// The library-error break is off while a guard lives, and back on afterwards
// when it was on before.
class QuietLibraryErrors {
 public:
  QuietLibraryErrors() : was_on_(GetBreakOnLibraryErrors()) { DisableBreakOnLibraryErrors(); }
  ~QuietLibraryErrors() {
    if (was_on_) EnableBreakOnLibraryErrors();
  }
  QuietLibraryErrors(const QuietLibraryErrors &) = delete;
  QuietLibraryErrors &operator=(const QuietLibraryErrors &) = delete;

 private:
  int was_on_;
};

int fail(FileRecord *r, int code) {
  r->error = code;
  return -1;
}

// The checks every operation on an open file makes: state 0 "BFILE_EMPTY",
// state 2 code 0, both refused.
bool is_open(FileRecord *r) {
  if (r == nullptr) return false;
  if (r->state == FILE_STATE_OPEN) return true;
  r->error = r->state == FILE_STATE_EMPTY ? BFILE_EMPTY : BFILE_CLOSED;
  return false;
}

bool fits_path(const char *path) { return path != nullptr && std::strlen(path) < FILE_PATH_SIZE; }

void set_path(FileRecord *r, const char *path) {
  const size_t n = std::strlen(path);
  std::memcpy(r->path, path, n + 1);
}

bool read_only(const char *path) {
  int ro = 0;
  return GetFileAttrs(path, &ro, nullptr, nullptr, nullptr) >= 0 && ro != 0;
}

// Opens an existing file as is: read/write unless it is read-only or that
// fails, then read-only.
int open_as_is(const char *path) {
  int h = -1;
  if (!read_only(path)) h = OpenFile(path, VAL_READ_WRITE, VAL_OPEN_AS_IS, VAL_BINARY);
  if (h < 0) h = OpenFile(path, VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_BINARY);
  return h;
}

void latch_write_error() {
  if (GenWrFileErr != 0) return;
  int code = GetFmtIOError();
  if (code == 0) code = FMT_IO_ERROR;
  GenWrFileErr = code;
  std::snprintf(GenWrFileErrStr, kGenWrFileErrStrUse, "%s", GetFmtIOErrorString(code));
}
}  // namespace

int create_empty_file(FileRecord *record) {
  if (record == nullptr) return 0;
  record->state = FILE_STATE_EMPTY;
  record->error = BFILE_CLOSED;
  record->path[0] = '\0';
  record->header = nullptr;
  return 1;
}

int create_file_class(FileRecord *record, const char *path) {
  if (record == nullptr) return 0;
  record->header = nullptr;
  if (!fits_path(path) || !exist_file(path)) {
    record->state = FILE_STATE_EMPTY;
    record->error = BFILE_OPEN;
    return 0;
  }
  const int h = read_only(path) ? OpenFile(path, VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_BINARY)
                                : OpenFile(path, VAL_READ_WRITE, VAL_OPEN_AS_IS, VAL_BINARY);
  set_path(record, path);
  if (h < 0) {
    record->state = FILE_STATE_EMPTY;
    record->error = BFILE_OPEN;
  } else {
    record->handle = h;
    record->state = FILE_STATE_OPEN;
    record->error = BFILE_CLOSED;
  }
  return 1;
}

int open_file(FileRecord *record, const char *path) {
  if (record == nullptr) return -1;
  if (record->state != FILE_STATE_EMPTY) return fail(record, BFILE_NOTEMPTY);
  if (!fits_path(path) || !exist_file(path)) {
    record->state = FILE_STATE_EMPTY;
    return fail(record, BFILE_OPEN);
  }
  QuietLibraryErrors quiet;
  const int h = open_as_is(path);
  if (h < 0) return fail(record, BFILE_OPEN);
  record->handle = h;
  record->state = FILE_STATE_OPEN;
  record->error = BFILE_CLOSED;
  set_path(record, path);
  return h;
}

int create_file(FileRecord *record, const char *path) {
  if (record == nullptr) return -1;
  if (record->state != FILE_STATE_EMPTY) return fail(record, BFILE_NOTEMPTY);
  if (!fits_path(path)) return fail(record, BFILE_OPEN);
  const int h = OpenFile(path, VAL_READ_WRITE, VAL_TRUNCATE, VAL_BINARY);
  if (h < 0) return fail(record, BFILE_OPEN);
  record->handle = h;
  record->state = FILE_STATE_OPEN;
  record->error = BFILE_CLOSED;
  set_path(record, path);
  return h;
}

int attach_file(FileRecord *record, int handle, const char *path) {
  if (record == nullptr) return -1;
  if (record->state != FILE_STATE_EMPTY) return fail(record, BFILE_NOTEMPTY);
  if (handle < 0 || !fits_path(path)) return fail(record, BFILE_OPEN);
  record->handle = handle;
  record->state = FILE_STATE_OPEN;
  record->error = BFILE_CLOSED;
  set_path(record, path);
  return handle;
}

int reopen_file(FileRecord *record) {
  if (record == nullptr) return -1;
  if (record->state == FILE_STATE_EMPTY) return fail(record, BFILE_EMPTY);
  if (record->state == FILE_STATE_OPEN) {
    record->error = BFILE_CLOSED;
    return record->handle;
  }
  QuietLibraryErrors quiet;
  const int h = open_as_is(record->path);
  if (h < 0) return fail(record, BFILE_REOPEN);
  record->handle = h;
  record->state = FILE_STATE_OPEN;
  record->error = BFILE_CLOSED;
  return h;
}

int close_file(FileRecord *record) {
  if (record == nullptr) return -1;
  if (record->state == FILE_STATE_EMPTY) return fail(record, BFILE_EMPTY);
  if (record->state == FILE_STATE_CLOSED) {
    record->error = BFILE_CLOSED;
    return 0;
  }
  // The handle is gone after a failed close too: never close it twice.
  const int r = CloseFile(record->handle);
  record->state = FILE_STATE_CLOSED;
  if (r != 0) return fail(record, BFILE_CLOSE);
  record->error = BFILE_CLOSED;
  return 0;
}

int close_and_free(FileRecord *record) {
  if (record == nullptr) return -1;
  const int r = close_file(record);
  record->state = FILE_STATE_EMPTY;
  record->path[0] = '\0';
  return r;
}

int unlink_file(FileRecord *record) { return close_and_free(record); }

int exist_file(const char *path) { return FileExists64(path, nullptr); }

int64_t seek_file(FileRecord *record, int64_t offset, int origin) {
  if (!is_open(record)) return -1;
  const int64_t pos = SetFilePtr(record->handle, offset, origin);
  if (pos < 0) return fail(record, BFILE_SEEK);
  record->error = BFILE_CLOSED;
  return pos;
}

int64_t tell_file(FileRecord *record) {
  if (!is_open(record)) return -1;
  const int64_t pos = SetFilePtr(record->handle, 0, 1);
  if (pos < 0) return fail(record, BFILE_TELL);
  record->error = BFILE_CLOSED;
  return pos;
}

int64_t rewind_file(FileRecord *record) { return seek_file(record, 0, 0); }

int64_t end_file(FileRecord *record) { return seek_file(record, 0, 2); }

int64_t size_file(FileRecord *record) {
  const int64_t here = tell_file(record);
  if (here < 0) return -1;
  if (rewind_file(record) < 0) return -1;
  const int64_t size = end_file(record);
  if (size < 0) return -1;
  if (seek_file(record, here, 0) < 0) return -1;
  return size;
}

int64_t read_file(FileRecord *record, void *buffer, int64_t count) {
  if (!is_open(record)) return -1;
  if (buffer == nullptr || count < 0) return fail(record, BFILE_READ);
  auto *p = static_cast<char *>(buffer);
  int64_t total = 0;
  int64_t last = 0;
  while (count > 0) {
    const int64_t ask = count < kMaxCall ? count : kMaxCall;
    last = ReadFile(record->handle, p, ask);
    if (last < 0 && ask > kRetryPiece) {
      // The same request again in pieces; a short piece is the end of the file.
      int64_t got = 0;
      while (got < ask) {
        const int64_t piece = ask - got < kRetryPiece ? ask - got : kRetryPiece;
        const int64_t n = ReadFile(record->handle, p + got, piece);
        if (n < 0) return fail(record, BFILE_READ);
        got += n;
        if (n < piece) break;
      }
      last = got;
    }
    if (last < 0) return fail(record, BFILE_READ);
    if (last == 0) break;
    record->error = BFILE_CLOSED;
    p += last;
    count -= last;
    total += last;
  }
  record->error = last > 0 ? BFILE_CLOSED : BFILE_EOF;
  return total;
}

int read_file_c(FileRecord *record, char *buffer, int length) {
  const int64_t start = tell_file(record);
  if (start < 0) return -1;
  if (buffer == nullptr || length < 1) return fail(record, BFILE_READ);
  // Read in place: the line ends within the bytes read, and its end mark
  // goes where it ends.
  const int64_t n = read_file(record, buffer, length);
  if (n < 0) return fail(record, BFILE_READ);
  if (n == 0) return fail(record, BFILE_EOF);
  const auto *cr = static_cast<const char *>(std::memchr(buffer, '\r', static_cast<size_t>(n)));
  int64_t kept = 0;
  int64_t skip = 0;
  int result = 0;
  if (cr != nullptr) {
    kept = cr - buffer;
    skip = 2;  // CR and the LF that follows it
    result = static_cast<int>(kept) + 1;
  } else if (n < length) {
    kept = n;  // the last line of the file, without CR LF
    result = static_cast<int>(kept) + 1;
  } else {
    kept = length - 1;
    result = -3;
  }
  buffer[kept] = '\0';
  if (seek_file(record, start + kept + skip, 0) < 0) return -1;
  record->error = BFILE_CLOSED;
  return result;
}

int64_t write_file(FileRecord *record, const void *buffer, int64_t count) {
  if (!is_open(record)) return -1;
  if (buffer == nullptr || count < 0) return fail(record, BFILE_WRITE);
  const auto *p = static_cast<const char *>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const int64_t ask = count < kMaxCall ? count : kMaxCall;
    const int64_t n = WriteFile(record->handle, p, ask);
    if (n <= 0) {  // a write that moves nothing would repeat for ever
      latch_write_error();
      return fail(record, BFILE_WRITE);
    }
    p += n;
    count -= n;
    total += n;
  }
  record->error = BFILE_CLOSED;
  return total;
}

int64_t write_file_c(FileRecord *record, const char *text) {
  if (!is_open(record)) return -1;
  if (text == nullptr) return fail(record, BFILE_WRITE);
  std::string out;
  out.reserve(std::strlen(text) + 16);
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == '\n') out.push_back('\r');
    out.push_back(*c);
  }
  return write_file(record, out.data(), static_cast<int64_t>(out.size()));
}

int64_t writef(FileRecord *record, const char *format, ...) {
  if (format == nullptr) return write_file_c(record, nullptr);
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return write_file_c(record, text);
}

int error_file(FileRecord *record) { return record != nullptr ? record->error : -1; }

int state_file(FileRecord *record) { return record != nullptr ? record->state : -1; }

int delete_file(FileRecord *record) {
  if (record == nullptr) return -1;
  int r = 0;
  if (record->state == FILE_STATE_OPEN) r = close_file(record);
  record->state = FILE_STATE_EMPTY;
  record->path[0] = '\0';
  return r;
}

int get_filename(FileRecord *record, char *out) {
  if (record == nullptr || out == nullptr) return -1;
  if (record->state == FILE_STATE_EMPTY) return fail(record, BFILE_EMPTY);
  const char *path = record->path;
  const char *from = path;
  for (const char *c = path; *c != '\0'; ++c)
    if (*c == '\\' || *c == '/') from = c;
  std::string part(from);
  const size_t dot = part.rfind('.');
  if (dot != std::string::npos) part.resize(dot);
  std::memcpy(out, part.c_str(), part.size() + 1);
  return 0;
}

int dup_file(FileRecord *record) {
  if (record == nullptr) return -1;
  if (record->state == FILE_STATE_EMPTY) return fail(record, BFILE_EMPTY);
  const int mode = read_only(record->path) ? VAL_READ_ONLY : VAL_READ_WRITE;
  return OpenFile(record->path, mode, VAL_OPEN_AS_IS, VAL_BINARY);
}

int64_t read_compressed(FileRecord *record, char *buffer, int64_t length) {
  if (!is_open(record)) return -1;
  if (buffer == nullptr || length < 1) return fail(record, BFILE_READ);
  // One byte stays free for the end mark.
  const int64_t n = read_file(record, buffer, length - 1);
  if (n < 0) return -1;
  const bool inverted = std::strstr(record->path, ".CFG") != nullptr || std::strstr(record->path, ".cfg") != nullptr;
  int64_t out = 0;
  for (int64_t i = 0; i < n; ++i) {
    char c = buffer[i];
    if (inverted) c = static_cast<char>(~c);
    if (c == '\r') continue;
    if (c == '\t') c = ' ';
    if (c == ' ' && out > 0 && buffer[out - 1] == ' ') continue;
    if (c == '\n' && out > 0 && buffer[out - 1] == '\n') continue;
    buffer[out++] = c;
  }
  buffer[out] = 1;
  return out;
}
