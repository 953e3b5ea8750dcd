#pragma once
// Points error reporting at a test's own error-text file and log, and puts
// the four globals that steer it back as they were when it goes.
#include <cstdio>
#include <string>

#include "support/Qv_err.h"

namespace testsupport {

class ErrorGlobals {
 public:
  ErrorGlobals()
      : saved_dat_(error_dat), saved_out_(error_out), saved_screen_(errmsg_to_screen), saved_file_(errmsg_to_file) {}
  ~ErrorGlobals() {
    error_dat = saved_dat_;
    error_out = saved_out_;
    errmsg_to_screen = saved_screen_;
    errmsg_to_file = saved_file_;
  }
  ErrorGlobals(const ErrorGlobals &) = delete;
  ErrorGlobals &operator=(const ErrorGlobals &) = delete;

  void point_to(const std::string &dat_path, const std::string &out_path) {
    std::snprintf(dat, sizeof dat, "%s", dat_path.c_str());
    std::snprintf(out, sizeof out, "%s", out_path.c_str());
    error_dat = dat;
    error_out = out;
  }

  char dat[260] = "";
  char out[260] = "";

 private:
  char *saved_dat_;
  char *saved_out_;
  int saved_screen_;
  int saved_file_;
};

}  // namespace testsupport
