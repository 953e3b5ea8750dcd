#include "support/Qv_err.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "platform/ui/popups.h"
#include "platform/win/clock.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/app_hooks.h"

char *error_dat = nullptr;
char *error_out = nullptr;
int errmsg_to_screen = 1;
int errmsg_to_file = 1;
int GenWrFileErr = 0;
char GenWrFileErrStr[256] = "";

namespace {

constexpr size_t kTextSize = 512;  // format, message and line buffers
constexpr size_t kBoxTextSize = 517;
constexpr size_t kTitleSize = 40;
constexpr int kReportCursor = -1;

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool in_fatal_end = false;

[[noreturn]] void fatal_end(const char *message) {
  // shutdown() may itself report; a second fatal report must not loop.
  if (!in_fatal_end) {
    in_fatal_end = true;
    shutdown();
  }
  std::printf("  Fatal error - %s\n", message);
  std::fflush(stdout);
  std::exit(2);
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Appends to a terminated buffer of fixed size, dropping what does not fit.
class Appender {
 public:
  Appender(char *buf, size_t size) : buf_(buf), size_(size) { buf_[0] = '\0'; }
  void put(char c) {
    if (len_ + 1 < size_) {
      buf_[len_++] = c;
      buf_[len_] = '\0';
    }
  }
  void put(const char *s) {
    for (; *s != '\0'; ++s) put(*s);
  }
  // A '%' of a text that is not itself a format must not act as a conversion.
  void put_literal(const char *s) {
    for (; *s != '\0'; ++s) {
      if (*s == '%') {
        if (len_ + 2 >= size_) return;
        put('%');
      }
      put(*s);
    }
  }

 private:
  char *buf_;
  size_t size_;
  size_t len_ = 0;
};

// A format cut to its buffer may end inside a conversion ("%", "%l"): cut
// that off. A %n would write through an argument: drop it.
void sanitize_format(char *format) {
  for (char *p = format; *p != '\0';) {
    if (*p != '%') {
      ++p;
      continue;
    }
    if (p[1] == '%') {
      p += 2;
      continue;
    }
    char *q = p + 1;
    while (*q != '\0' && std::strchr("-+ #0123456789.*'hlLqjztI", *q) != nullptr) ++q;
    if (*q == '\0') {
      *p = '\0';
      return;
    }
    if (*q == 'n') {
      std::memmove(p, q + 1, std::strlen(q + 1) + 1);
      continue;
    }
    p = q + 1;
  }
}

// One line of the error-text file, at most 511 characters kept; the rest of
// a longer line is skipped so that it is never taken for a line of its own.
bool read_line(std::FILE *f, std::array<char, kTextSize> &line) {
  int c = std::getc(f);
  if (c == EOF) return false;
  size_t n = 0;
  while (c != EOF) {
    if (n + 1 < line.size()) line[n++] = static_cast<char>(c);
    if (c == '\n') break;
    c = std::getc(f);
  }
  line[n] = '\0';
  return true;
}

void with_report_cursor(auto &&show) {
  int old = 0;
  GetMouseCursor(&old);
  SetMouseCursor(kReportCursor);
  show();
  SetMouseCursor(old);
}

}  // namespace

int is_error_id(const char *id, const char *line, int *pos) {
  if (id == nullptr || line == nullptr) return 0;
  size_t i = 0;
  for (; id[i] != '\0'; ++i) {
    if (line[i] != id[i]) return 0;
  }
  if (line[i] != ' ') return 0;
  if (pos != nullptr) *pos = static_cast<int>(i);
  return 1;
}

char read_format(const char *id, char *format, const char *line, int pos) {
  if (format == nullptr) return 'W';
  Appender out(format, kTextSize);
  if (line == nullptr) return 'W';
  const size_t len = std::strlen(line);
  size_t p = pos < 0 ? 0 : static_cast<size_t>(pos);
  if (p > len) p = len;
  while (line[p] == ' ' || line[p] == '\t') ++p;

  // An unknown letter must not make the report fatal (nor look like '0').
  const char letter = line[p];
  const char severity = (letter == 'E' || letter == 'F' || letter == 'W') ? letter : 'W';
  out.put(severity);
  out.put(' ');
  out.put_literal(id != nullptr ? id : "");
  out.put(' ');

  const char *after = line + p + (letter != '\0' && letter != '"' ? 1 : 0);
  const char *open = std::strchr(after, '"');
  if (open == nullptr) return severity;  // no text: the report shows the key only
  const char *start = open + 1;
  const char *close = std::strchr(start, '"');
  size_t n = close != nullptr ? static_cast<size_t>(close - start) : std::strcspn(start, "\r\n");
  std::array<char, kTextSize> work{};
  if (n >= work.size()) n = work.size() - 1;
  std::memcpy(work.data(), start, n);
  work[n] = '\0';
  out.put(work.data());
  sanitize_format(format);
  return severity;
}

char search_error_id(const char *id, char *format, char *message) {
  if (id == nullptr) id = "";
  if (format != nullptr) format[0] = '\0';
  if (message == nullptr) return '0';
  message[0] = '\0';

  std::string refused;
  File f(error_dat != nullptr ? platform::files::fopen_plain(error_dat, "r", &refused) : nullptr);
  if (!f) {
    const char *text = std::strcmp(id, "MAIN_F_NOCONFIG") == 0 ? "F Cannot open configuration file"
                                                              : "F Cannot open error input file";
    if (refused.empty()) platform::copy_bounded(message, kTextSize, text);
    else std::snprintf(message, kTextSize, "%s: %s", text, refused.c_str());
    return '0';
  }
  std::array<char, kTextSize> line{};
  char severity = '\0';
  int pos = 0;
  while (read_line(f.get(), line)) {
    if (is_ascii_letter(line[0]) && is_error_id(id, line.data(), &pos)) {
      std::array<char, kTextSize> scratch{};
      severity = read_format(id, format != nullptr ? format : scratch.data(), line.data(), pos);
      break;
    }
  }
  if (severity == '\0') {
    std::snprintf(message, kTextSize, "E %s Unknown error id !", id);
    return '0';
  }
  return severity;
}

int error(const char *id, ...) {
  std::array<char, kTextSize> format{};
  std::array<char, kTextSize> message{};
  char severity = search_error_id(id, format.data(), message.data());
  if (severity != '0') {
    va_list args;
    va_start(args, id);
    std::vsnprintf(message.data(), message.size(), format.data(), args);
    va_end(args);
  }

  int result = 0;
  if (errmsg_to_screen) {
    result = output_error(message.data(), severity);
    if (result == 0) severity = 'F';
  }
  if (errmsg_to_file) {
    if (output_error_to_file(message.data(), severity) == 0) severity = 'F';
  }
  if (severity == 'F' || severity == '0') fatal_end(message.data());
  return result;
}

int output_error(const char *message, char severity) {
  char title[kTitleSize];
  platform::copy_bounded(title, sizeof title,
                         severity == 'E' ? "Error" : severity == 'F' ? "Fatal Error" : "Warning");
  char text[kBoxTextSize];
  std::snprintf(text, sizeof text, "     %s", message != nullptr ? message : "");

  int pressed = 0;
  with_report_cursor([&] {
    if (severity == 'F')  // one button, which is also the active control
      pressed = GenericMessagePopup(title, text, "Abort", "", "", nullptr, 0, VAL_GENERIC_POPUP_BTNS_CENTER,
                                    VAL_GENERIC_POPUP_BTN1, VAL_GENERIC_POPUP_BTN1, VAL_GENERIC_POPUP_BTN2);
    else
      pressed = GenericMessagePopup(title, text, "Cancel", "Continue", "", nullptr, 0, VAL_GENERIC_POPUP_BTNS_CENTER,
                                    VAL_GENERIC_POPUP_BTN2, VAL_GENERIC_POPUP_BTN2, VAL_GENERIC_POPUP_BTN2);
  });
  return pressed;
}

int output_error_to_file(const char *message, char severity) {
  const char *msg = message != nullptr ? message : "";
  if (File f{error_out != nullptr ? std::fopen(error_out, "a+") : nullptr}) {
    char stamp[32];
    platform::copy_bounded(stamp, sizeof stamp, time_stamp());
    for (char &c : stamp)
      if (c == '\n') c = ' ';
    // One report, one line: breaks inside the message become blanks.
    char line[kTextSize];
    platform::copy_bounded(line, sizeof line, msg);
    for (char &c : line)
      if (c == '\n' || c == '\r') c = ' ';
    const bool written = std::fprintf(f.get(), "%s:: %s\n", stamp, line) >= 0;
    // A full disk is a failed log, not a written one.
    if (std::fclose(f.release()) == 0 && written) return 1;
  }

  if (!errmsg_to_screen && output_error(msg, severity) == 0) return 0;
  char warning[kTextSize];
  std::snprintf(warning, sizeof warning, "Cannot open output file %s", error_out != nullptr ? error_out : "");
  return output_error(warning, 'W') == 0 ? 0 : 1;
}

char *time_stamp(void) {
  static char stamp[32];
  static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = platform::clock::wall_time();
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) tm = std::tm{};
  const int wday = tm.tm_wday >= 0 && tm.tm_wday < 7 ? tm.tm_wday : 0;
  const int mon = tm.tm_mon >= 0 && tm.tm_mon < 12 ? tm.tm_mon : 0;
  // ctime()'s form, in English whatever the locale.
  std::snprintf(stamp, sizeof stamp, "%s %s%3d %.2d:%.2d:%.2d %d\n", days[wday], months[mon], tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, 1900 + tm.tm_year);
  return stamp;
}

int error_str(const char *message, char severity) {
  if (message == nullptr) return 0;
  char msg[kTextSize];
  platform::copy_bounded(msg, sizeof msg, message);
  output_error(msg, severity);
  const int logged = output_error_to_file(msg, severity);
  if (severity == 'F' || severity == '0') fatal_end(msg);
  return logged;
}

void Clear_GenWrFileErr(void) {
  GenWrFileErr = 0;
  GenWrFileErrStr[0] = '\0';
}

int Check_GenWrFileErr(void) {
  if (GenWrFileErr == 0) return 0;
  GenWrFileErrStr[sizeof GenWrFileErrStr - 1] = '\0';
  if (GenWrFileErrStr[0] == '\0') {
    GenWrFileErr = 0;
    return 0;
  }
  const int code = GenWrFileErr;
  char text[sizeof GenWrFileErrStr];
  platform::copy_bounded(text, sizeof text, GenWrFileErrStr);
  with_report_cursor([&] { MessagePopup("General Writing File Error", text); });
  Clear_GenWrFileErr();
  return code;
}

int Check_WriteFileErr(void) {
  const int code = errno;
  if (code != 0) {
    char text[kTextSize];
    platform::copy_bounded(text, sizeof text, std::strerror(code));
    with_report_cursor([&] { MessagePopup("Writing File Error", text); });
  }
  return code;
}
