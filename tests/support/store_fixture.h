#pragma once
// A registry store, a program directory and a data home of their own for each
// test, and a clean headless user interface.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>

#include <string>

#include "platform/ui/headless.h"
#include "platform/ui/popups.h"
#include "platform/ui/ui.h"
#include "platform/win/progdir.h"
#include "platform/win/registry.h"
#include "platform/win/strings.h"
#include "support/Util_fun.h"
#include "tests/testsupport/testsupport.h"

namespace storetest {

constexpr const char *kKey = "Software\\QV\\TRQ";
constexpr const char *kDialogKey = "Software\\QV\\TRQ\\FileDialog";
constexpr const char *kOpenedKey = "Software\\QV\\TRQ\\OpenedFiles";

inline std::string user_string(const char *key, const std::string &name, int *result = nullptr) {
  char buf[400] = "";
  uint32_t size = 0;
  const int r = RegReadString(HKEY_CURRENT_USER, key, name.c_str(), buf, sizeof buf, &size);
  if (result != nullptr) *result = r;
  return r == 0 ? std::string(buf) : std::string("<missing>");
}

inline std::string machine_string(const char *key, const std::string &name) {
  char buf[400] = "";
  uint32_t size = 0;
  return RegReadString(HKEY_LOCAL_MACHINE, key, name.c_str(), buf, sizeof buf, &size) == 0 ? std::string(buf)
                                                                                            : std::string("<missing>");
}

inline void set_user(const char *key, const std::string &name, const std::string &value) {
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, key, name.c_str(), value.c_str()), 0);
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QV_REGISTRY_DIR", reg.path().c_str(), 1);
    setenv("XDG_DATA_HOME", data_home.path().c_str(), 1);
    platform::set_program_dir(program.path());
    platform::ui::headless::reset();
    filedir_history_count = 0;
    FileSelectPopup_visible = 0;
  }
  void TearDown() override {
    platform::ui::headless::reset();
    platform::registry::set_read_only(HKEY_CURRENT_USER, false);
    platform::registry::set_read_only(HKEY_LOCAL_MACHINE, false);
    platform::set_program_dir("");
    unsetenv("QV_REGISTRY_DIR");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(platform::registry::open_keys(), 0);
  }

  testsupport::TempDir reg, data_home, program, work;
};

}  // namespace storetest
