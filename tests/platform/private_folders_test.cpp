// Folders the program makes for its data and settings are the user's alone,
// whatever the umask; folders already there keep their modes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/win/own_folder.h"
#include "platform/win/progdir.h"
#include "platform/win/registry.h"
#include "tests/testsupport/testsupport.h"

namespace {

mode_t mode_of(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class PrivateFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    old_umask_ = ::umask(002);
    ASSERT_EQ(::chmod(home_.path().c_str(), 0755), 0);
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "QV_REGISTRY_DIR"}) {
      const char *v = ::getenv(name);
      saved_.push_back({name, v != nullptr, v != nullptr ? v : ""});
    }
    ::setenv("HOME", home_.path().c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("QV_REGISTRY_DIR");
  }
  void TearDown() override {
    ::umask(old_umask_);
    for (const Saved &s : saved_) {
      if (s.set) ::setenv(s.name, s.value.c_str(), 1);
      else ::unsetenv(s.name);
    }
  }
  struct Saved {
    const char *name;
    bool set;
    std::string value;
  };
  testsupport::TempDir home_;
  mode_t old_umask_ = 022;
  std::vector<Saved> saved_;
};

TEST_F(PrivateFolders, TheDataFolderAndTheSettingsFolderAreMadeForTheUserAlone) {
  const std::string home = home_.path();
  ASSERT_EQ(::mkdir((home + "/.local").c_str(), 0775), 0);  // there before: left as it is
  EXPECT_EQ(platform::user_data_dir("trq"), home + "/.local/share/qv/trq");
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, "Software\\QV\\TRQ", "DataDir", "/x/"), 0);
  const struct {
    const char *folder;
    mode_t mode;
  } cases[] = {
      {"", 0755},
      {"/.local", 0775},
      {"/.local/share", 0700},
      {"/.local/share/qv", 0700},
      {"/.local/share/qv/trq", 0700},
      {"/.config", 0700},
      {"/.config/qv", 0700},
  };
  for (const auto &c : cases) EXPECT_EQ(mode_of(home + c.folder), c.mode) << c.folder;
}

TEST(MakePrivateFolders, SaysWhyWhereNoFolderCanBeMade) {
  testsupport::TempDir dir;
  const std::string file = dir.write("plain", "x");
  std::error_code ec;
  EXPECT_FALSE(platform::make_private_folders(file, ec));
  EXPECT_EQ(ec, std::errc::not_a_directory);
  EXPECT_FALSE(platform::make_private_folders(file + "/below", ec));
  EXPECT_EQ(ec, std::errc::not_a_directory);
  EXPECT_TRUE(platform::make_private_folders(dir.file("a/b/"), ec)) << ec.message();
  EXPECT_EQ(mode_of(dir.file("a/b")), 0700u);
}

}  // namespace
