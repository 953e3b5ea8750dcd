#pragma once
// Fixtures of the setup-file tests: error reports into a log of the test's
// own, and setup files written the way the program writes them.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/kmv_io_ident.h"
#include "support/Qv_err.h"
#include "support/Qv_file.h"
#include "tests/support/error_globals.h"
#include "tests/support/string_lists.h"
#include "tests/testsupport/testsupport.h"

namespace setup_test {

// Reports go to a log in a fresh directory, never to a message box.
class Reports {
 public:
  explicit Reports(const testsupport::TempDir &dir) {
    globals_.point_to(testsupport::source_path("resources/kmv_err.dat"), dir.file("trq_err.out"));
    errmsg_to_screen = 0;
    errmsg_to_file = 1;
    log_path_ = dir.file("trq_err.out");
  }
  std::string log() const { return testsupport::read_file(log_path_); }
  // Number of reports in the log that hold text.
  int count(const std::string &text) const {
    const std::string l = log();
    int n = 0;
    for (size_t at = l.find(text); at != std::string::npos; at = l.find(text, at + 1)) ++n;
    return n;
  }
  void clear() const { std::filesystem::remove(log_path_); }

 private:
  testsupport::ErrorGlobals globals_;
  std::string log_path_;
};

// Names of the entries of a directory.
inline std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> out;
  for (const auto &e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Local time of a date and time, for a fixed wall clock.
inline std::time_t local_time(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// The identification lines of a setup file as the container reads them back.
inline std::vector<std::string> info_of(const std::string &path) {
  FileRecord r{0, 0, FILE_STATE_EMPTY, "", nullptr};
  if (open_qvfile(&r, path.c_str(), nullptr) != 1) return {};
  const int size = get_info(&r, nullptr, setupusb_identifier);
  std::vector<char> buf(static_cast<size_t>(size > 0 ? size : 0) + 2, '\0');
  get_info(&r, buf.data(), setupusb_identifier);
  unlink_qvfile(&r);
  return testsupport::strings(buf);
}

}  // namespace setup_test
