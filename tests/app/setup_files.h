#pragma once
// Fixtures of the setup-file tests: error reports into a log of the test's
// own, and setup files written the way the program writes them.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Qv_err.h"
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

}  // namespace setup_test
