// The registry store: values of every type, sizes and codes, the text file a
// person reads, damaged files, atomic replacement and two writers at once.
#include "platform/win/registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/win/progdir.h"
#include "tests/testsupport/testsupport.h"

namespace {

constexpr const char *kKey = "Software\\QV\\TRQ";

bool put_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  return static_cast<bool>(out.flush());
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QV_REGISTRY_DIR", dir.path().c_str(), 1); }
  void TearDown() override {
    unsetenv("QV_REGISTRY_DIR");
    platform::registry::set_read_only(HKEY_CURRENT_USER, false);
    platform::registry::set_read_only(HKEY_LOCAL_MACHINE, false);
    EXPECT_EQ(platform::registry::open_keys(), 0);
  }
  std::string user_file() const { return dir.file("user.reg"); }
  std::string text() const { return testsupport::read_file(user_file()); }
  void write_user_file(const std::string &content) const { dir.write("user.reg", content); }
  // The names in the registry folder.
  std::set<std::string> names() const {
    std::set<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(dir.path())) out.insert(e.path().filename().string());
    return out;
  }
  std::string read_string(const char *key, const char *name, int *result) const {
    char buf[300] = "unchanged";
    uint32_t size = 0;
    *result = RegReadString(HKEY_CURRENT_USER, key, name, buf, sizeof buf, &size);
    return buf;
  }

  testsupport::TempDir dir;
};

TEST_F(Registry, ValuesOfEveryTypeComeBackAndNamesIgnoreCase) {
  const unsigned char bytes[] = {0x00, 0xff, 0x14, 0x0a, 0x22};
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/home/op/qv data/\"x\"\\\n\t\x01"), 0);
  ASSERT_EQ(RegWriteExpandString(HKEY_CURRENT_USER, kKey, "Path", "$HOME/qv"), 0);
  ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\OpenedFiles", "NoOfSETEntries", 4000000000u), 0);
  ASSERT_EQ(RegWriteBinary(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\PanelAttr", "Main", bytes, sizeof bytes), 0);

  char s[100];
  uint32_t size = 0, type = 0;
  ASSERT_EQ(RegReadString(HKEY_CURRENT_USER, "software\\qv\\trq", "DATADIR", s, sizeof s, &size), 0);
  EXPECT_STREQ(s, "/home/op/qv data/\"x\"\\\n\t\x01");
  EXPECT_EQ(size, std::strlen(s));
  ASSERT_EQ(RegReadString(HKEY_CURRENT_USER, "\\Software\\\\QV\\TRQ\\", "path", s, sizeof s, &size), 0);
  EXPECT_STREQ(s, "$HOME/qv");
  ASSERT_EQ(RegQueryInfoOnValue(HKEY_CURRENT_USER, kKey, "Path", &type, &size), 0);
  EXPECT_EQ(type, static_cast<uint32_t>(REG_EXPAND_SZ));
  uint32_t n = 0;
  ASSERT_EQ(RegReadULong(HKEY_CURRENT_USER, "SOFTWARE\\QV\\TRQ\\OPENEDFILES", "noofsetentries", &n), 0);
  EXPECT_EQ(n, 4000000000u);
  unsigned char back[5] = {};
  ASSERT_EQ(RegReadBinary(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\PanelAttr", "main", back, sizeof back, &size), 0);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::memcmp(back, bytes, 5), 0);

  // A write under another case replaces the value and keeps the first spelling.
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, "SOFTWARE\\qv\\trq", "datadir", "/new"), 0);
  EXPECT_NE(text().find("[Software\\QV\\TRQ]\n\"DataDir\"=sz:\"/new\"\n"), std::string::npos) << text();
  EXPECT_EQ(text().find("datadir"), std::string::npos);
}

TEST_F(Registry, TheFileIsPlainTextInTheOrderWritten) {
  const unsigned char bytes[] = {0x23, 0x00, 0x00, 0x00, 0xff};
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/home/op/"), 0);
  ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\OpenedFiles", "NoOfSETEntries", 3), 0);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\OpenedFiles", "SETFilePath1", "a\"b"), 0);
  ASSERT_EQ(RegWriteBinary(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\PanelAttr", "Main", bytes, sizeof bytes), 0);
  ASSERT_EQ(RegWriteBinary(HKEY_CURRENT_USER, "Odd[Key]%", "", bytes, 0), 0);
  const std::string t = text();
  const std::string body = t.substr(t.find("\n[") + 1);
  EXPECT_EQ(body,
            "[Software\\QV\\TRQ]\n"
            "\"DataDir\"=sz:\"/home/op/\"\n"
            "\n[Software\\QV\\TRQ\\OpenedFiles]\n"
            "\"NoOfSETEntries\"=dword:3\n"
            "\"SETFilePath1\"=sz:\"a\\\"b\"\n"
            "\n[Software\\QV\\TRQ\\PanelAttr]\n"
            "\"Main\"=hex:23,00,00,00,ff\n"
            "\n[Odd%5bKey%5d%25]\n"
            "\"\"=hex:\n");
  EXPECT_EQ(t[0], ';');
  uint32_t size = 9;
  EXPECT_EQ(RegReadBinary(HKEY_CURRENT_USER, "odd[key]%", nullptr, nullptr, 0, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(std::filesystem::status(user_file()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(Registry, SizesAndBuffers) {
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "Five", "abcde"), 0);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "Empty", ""), 0);
  char buf[8];
  uint32_t size = 0;
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, "Five", nullptr, 0, &size), 0);
  EXPECT_EQ(size, 5u);
  std::memcpy(buf, "zzzzzzz", 8);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, "Five", buf, 5, &size), REG_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(buf, "zzzzzzz");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, "Five", buf, 6, nullptr), 0);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, "Empty", buf, 1, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_STREQ(buf, "");

  // A shorter binary value fills its bytes only; a longer one is not read.
  const unsigned char four[] = {1, 2, 3, 4};
  ASSERT_EQ(RegWriteBinary(HKEY_CURRENT_USER, kKey, "Bin", four, 4), 0);
  std::array<unsigned char, 6> b{9, 9, 9, 9, 9, 9};
  EXPECT_EQ(RegReadBinary(HKEY_CURRENT_USER, kKey, "Bin", b.data(), 6, &size), 0);
  EXPECT_EQ(b, (std::array<unsigned char, 6>{1, 2, 3, 4, 9, 9}));
  b.fill(7);
  EXPECT_EQ(RegReadBinary(HKEY_CURRENT_USER, kKey, "Bin", b.data(), 3, &size), REG_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(b[0], 7);
}

TEST_F(Registry, CodesForWhatIsMissingOrWrong) {
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\FileDialog", "FileDir1", "/x"), 0);
  ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, kKey, "Count", 1), 0);
  char buf[16];
  uint32_t n = 0, size = 0;
  unsigned char bin[4];
  struct Case {
    const char *what;
    int result;
    int expected;
  };
  const Case cases[] = {
      {"null subkey", RegReadString(HKEY_CURRENT_USER, nullptr, "FileDir1", buf, 16, &size), REG_ERR_NULL_ARGUMENT},
      {"null text", RegWriteString(HKEY_CURRENT_USER, kKey, "X", nullptr), REG_ERR_NULL_ARGUMENT},
      {"null number", RegReadULong(HKEY_CURRENT_USER, kKey, "Count", nullptr), REG_ERR_NULL_ARGUMENT},
      {"null data", RegWriteBinary(HKEY_CURRENT_USER, kKey, "B", nullptr, 3), REG_ERR_NULL_ARGUMENT},
      {"bad hive", RegReadString(static_cast<HKEY>(7), kKey, "Count", buf, 16, &size), REG_ERR_CANT_OPEN_KEY},
      {"bad hive write", RegWriteULong(static_cast<HKEY>(0), kKey, "Count", 1), REG_ERR_CANT_OPEN_KEY},
      {"no key", RegReadString(HKEY_CURRENT_USER, "Software\\QV\\KMV", "X", buf, 16, &size), REG_ERR_NO_KEY},
      {"no key in other hive", RegReadULong(HKEY_LOCAL_MACHINE, kKey, "Count", &n), REG_ERR_NO_KEY},
      {"parent key, no value", RegReadString(HKEY_CURRENT_USER, "Software\\QV", "X", buf, 16, &size), REG_ERR_NO_VALUE},
      {"no value", RegReadString(HKEY_CURRENT_USER, kKey, "DataDir", buf, 16, &size), REG_ERR_NO_VALUE},
      {"number as string", RegReadString(HKEY_CURRENT_USER, kKey, "Count", buf, 16, &size), REG_ERR_WRONG_TYPE},
      {"number as binary", RegReadBinary(HKEY_CURRENT_USER, kKey, "Count", bin, 4, &size), REG_ERR_WRONG_TYPE},
      {"string as number", RegReadULong(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\FileDialog", "FileDir1", &n), REG_ERR_WRONG_TYPE},
      {"key prefix is no key", RegReadULong(HKEY_CURRENT_USER, "Software\\QV\\TR", "Count", &n), REG_ERR_NO_KEY},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
}

TEST_F(Registry, OpenKeysReadTheirSnapshotAndNeedClosing) {
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "InstallDir", "/opt/trq"), 0);
  int key = 0;
  EXPECT_EQ(RegOpenKeyInView(HKEY_CURRENT_USER, kKey, 0, &key), REG_ERR_CANT_OPEN_KEY);
  EXPECT_EQ(RegOpenKeyInView(HKEY_CURRENT_USER, kKey, 1, nullptr), REG_ERR_NULL_ARGUMENT);
  EXPECT_EQ(RegOpenKeyInView(HKEY_CURRENT_USER, "Software\\Other", 1, &key), REG_ERR_NO_KEY);
  for (int view : std::initializer_list<int>{REG_VIEW_DEFAULT, REG_VIEW_64, REG_VIEW_DEFAULT | REG_VIEW_64}) {
    ASSERT_EQ(RegOpenKeyInView(HKEY_CURRENT_USER, "software\\qv\\trq", view, &key), 0);
    EXPECT_EQ(platform::registry::open_keys(), 1);
    uint32_t type = 0, size = 0;
    ASSERT_EQ(RegQueryKeyValue(key, "installdir", &type, &size), 0);
    EXPECT_EQ(type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(RegQueryKeyValue(key, "Missing", &type, &size), REG_ERR_NO_VALUE);
    ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "InstallDir", "/changed/later"), 0);
    char buf[9];
    EXPECT_EQ(RegReadKeyValue(key, "InstallDir", buf, 8), REG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(RegReadKeyValue(key, "InstallDir", buf, 9), 0);
    EXPECT_STREQ(buf, "/opt/trq");
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(RegCloseKey(key), REG_ERR_CANT_OPEN_KEY);
    ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "InstallDir", "/opt/trq"), 0);
  }
  // The parent of a key exists as a key with no values of its own.
  ASSERT_EQ(RegOpenKeyInView(HKEY_CURRENT_USER, "Software", 1, &key), 0);
  uint32_t type = 0;
  EXPECT_EQ(RegQueryKeyValue(key, "InstallDir", &type, nullptr), REG_ERR_NO_VALUE);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(Registry, HivesAreSeparateAndTheMachineHiveMayRefuseWrites) {
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "DataDir", "/srv/qv"), 0);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/home/op"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("machine.reg")));
  int r = 0;
  EXPECT_EQ(read_string(kKey, "DataDir", &r), "/home/op");
  platform::registry::set_read_only(HKEY_LOCAL_MACHINE, true);
  EXPECT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "DataDir", "/other"), REG_ERR_CANT_OPEN_KEY);
  char buf[32];
  EXPECT_EQ(RegReadString(HKEY_LOCAL_MACHINE, kKey, "DataDir", buf, sizeof buf, nullptr), 0);
  EXPECT_STREQ(buf, "/srv/qv");
  EXPECT_EQ(std::filesystem::status(dir.file("machine.reg")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

TEST_F(Registry, HiveFilesFollowTheEnvironment) {
  unsetenv("QV_REGISTRY_DIR");
  const char *old_config = getenv("XDG_CONFIG_HOME");
  const std::string saved_config = old_config ? old_config : "";
  const char *old_home = getenv("HOME");
  const std::string saved_home = old_home ? old_home : "";
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(platform::registry::hive_file(HKEY_CURRENT_USER), "/cfg/qv/user.reg");
  EXPECT_EQ(platform::registry::hive_file(HKEY_LOCAL_MACHINE), "/etc/qv/machine.reg");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(platform::registry::hive_file(HKEY_CURRENT_USER), "/home/op/.config/qv/user.reg");
  setenv("QV_REGISTRY_DIR", "/tmp/reg", 1);
  EXPECT_EQ(platform::registry::hive_file(HKEY_CURRENT_USER), "/tmp/reg/user.reg");
  EXPECT_EQ(platform::registry::hive_file(HKEY_LOCAL_MACHINE), "/tmp/reg/machine.reg");
  if (old_config) setenv("XDG_CONFIG_HOME", saved_config.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  if (old_home) setenv("HOME", saved_home.c_str(), 1);
  else unsetenv("HOME");
}

// Settings another user could have put there must not reach the program:
// a folder another user owns or may write into is neither read nor written.
TEST_F(Registry, AFolderNotPrivateToTheUserIsNeverUsed) {
  const std::string planted = "[Software\\QV\\TRQ]\n\"DataDir\"=sz:\"/their/data/\"\n";
  struct Case {
    const char *what;
    std::function<bool(const std::string &folder)> make;  // false: cannot be made here
    const char *says;
  };
  auto made_with_mode = [&](const std::string &folder, mode_t mode) {
    return mkdir(folder.c_str(), 0700) == 0 && put_file(folder + "/user.reg", planted) &&
           chmod(folder.c_str(), mode) == 0;
  };
  const Case cases[] = {
      {"open to everyone", [&](const std::string &f) { return made_with_mode(f, 0777); },
       "is open to other users (mode 0777)"},
      {"open to its group", [&](const std::string &f) { return made_with_mode(f, 0770); },
       "is open to other users (mode 0770)"},
      {"a link to a folder",
       [&](const std::string &f) { return made_with_mode(f + ".real", 0700) && symlink((f + ".real").c_str(), f.c_str()) == 0; },
       "is not a folder of this user (not a folder)"},
      {"another user's folder",
       [&](const std::string &f) {
         // Only root can give a folder away.
         return geteuid() == 0 && made_with_mode(f, 0755) && chown(f.c_str(), 4242, 4242) == 0;
       },
       "is not a folder of this user (it belongs to user 4242)"},
  };
  int n = 0;
  for (const Case &c : cases) {
    const std::string folder = dir.file("settings" + std::to_string(n++));
    if (!c.make(folder)) {
      std::printf("skipped \"%s\": it cannot be made by user %u\n", c.what, static_cast<unsigned>(geteuid()));
      continue;
    }
    setenv("QV_REGISTRY_DIR", folder.c_str(), 1);
    int r = 0;
    EXPECT_EQ(read_string(kKey, "DataDir", &r), "unchanged") << c.what;
    EXPECT_EQ(r, REG_ERR_CANT_OPEN_KEY) << c.what;
    EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/mine/"), REG_ERR_CANT_OPEN_KEY) << c.what;
    EXPECT_EQ(testsupport::read_file(folder + "/user.reg"), planted) << c.what;
    EXPECT_EQ(platform::registry::problem(HKEY_CURRENT_USER), folder + " " + c.says) << c.what;
  }
  // A folder of the user's own that only it can write is used.
  const std::string own = dir.file("own");
  ASSERT_EQ(mkdir(own.c_str(), 0755), 0);
  setenv("QV_REGISTRY_DIR", own.c_str(), 1);
  EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/mine/"), 0);
  EXPECT_EQ(platform::registry::problem(HKEY_CURRENT_USER), "");
}

// A read-only hive file is refused and reported, as a read-only setup file
// is, not silently replaced.
TEST_F(Registry, AReadOnlyHiveFileIsRefusedNotReplaced) {
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/data/"), 0);
  const std::string before = text();
  ASSERT_EQ(chmod(user_file().c_str(), 0444), 0);
  EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/other/"), REG_ERR_CANT_OPEN_KEY);
  EXPECT_EQ(RegWriteULong(HKEY_CURRENT_USER, kKey, "NoOfSETEntries", 3), REG_ERR_CANT_OPEN_KEY);
  EXPECT_EQ(text(), before);
  struct stat st{};
  ASSERT_EQ(stat(user_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(platform::registry::problem(HKEY_CURRENT_USER), user_file() + " is read-only");
  int r = -1;
  EXPECT_EQ(read_string(kKey, "DataDir", &r), "/data/");  // still read
  EXPECT_EQ(r, 0);
  ASSERT_EQ(chmod(user_file().c_str(), 0600), 0);
  EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/other/"), 0);
  EXPECT_EQ(platform::registry::problem(HKEY_CURRENT_USER), "");
}

// Runs fn in a child process as a user without a passwd entry, with no
// HOME and no XDG folders; the child's exit status (fn's result), or -1.
int as_user_without_home(uid_t uid, const std::function<int()> &fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(uid) != 0 || setuid(uid) != 0) _exit(100);
    unsetenv("HOME");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    unsetenv("QV_REGISTRY_DIR");
    _exit(fn());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Two user ids in a row that have no passwd entry.
uid_t unknown_uids() {
  uid_t uid = 42420;
  while (getpwuid(uid) != nullptr || getpwuid(uid + 1) != nullptr) ++uid;
  return uid;
}

// With no home at all the user's settings lie in a private folder made for
// that user, never in a shared one; a folder of that name that another user
// made first is not used.
TEST(RegistryWithoutHome, SettingsLieInAPrivateFolderMadeForTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can run as a user without a passwd entry";
  const uid_t uid = unknown_uids();
  const std::string own = "/tmp/qv-config-" + std::to_string(uid);
  const std::string taken = "/tmp/qv-config-" + std::to_string(uid + 1);
  std::error_code ec;
  std::filesystem::remove_all(own, ec);
  std::filesystem::remove_all(taken, ec);
  const std::string planted = "[Software\\QV\\TRQ]\n\"DataDir\"=sz:\"/their/data/\"\n";
  ASSERT_EQ(mkdir(taken.c_str(), 0755), 0);  // root's, to the other user
  ASSERT_TRUE(put_file(taken + "/user.reg", planted));

  const int first = as_user_without_home(uid, [&] {
    if (platform::registry::hive_file(HKEY_CURRENT_USER) != own + "/user.reg") return 1;
    if (RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/mine/") != 0) return 2;
    struct stat st{};
    if (lstat(own.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 0777) != 0700)
      return 3;
    return 0;
  });
  EXPECT_EQ(first, 0);
  const int second = as_user_without_home(uid + 1, [&] {
    char buf[64];
    if (RegReadString(HKEY_CURRENT_USER, kKey, "DataDir", buf, sizeof buf, nullptr) != REG_ERR_CANT_OPEN_KEY) return 1;
    if (RegWriteString(HKEY_CURRENT_USER, kKey, "DataDir", "/mine/") != REG_ERR_CANT_OPEN_KEY) return 2;
    return 0;
  });
  EXPECT_EQ(second, 0);
  EXPECT_EQ(testsupport::read_file(taken + "/user.reg"), planted);
  std::filesystem::remove_all(own, ec);
  std::filesystem::remove_all(taken, ec);
}

// Hand-damaged files: what is sound is read, nothing crashes.
TEST_F(Registry, DamagedFilesAreReadAsFarAsTheyAreSound) {
  struct Case {
    const char *what;
    std::string file;
    const char *name;
    int result;
    const char *value;
  };
  const std::string head = "[Software\\QV\\TRQ]\n\"Good\"=sz:\"yes\"\n";
  const Case cases[] = {
      {"cut in the last line", head + "\"DataDir\"=sz:\"/home/o", "DataDir", REG_ERR_NO_VALUE, nullptr},
      {"cut number is not taken", head + "\"N\"=dword:1", "N", REG_ERR_NO_VALUE, nullptr},
      {"cut in a header", head + "[Software\\QV\\TR", "Good", 0, "yes"},
      {"unclosed string", head + "\"DataDir\"=sz:\"/home/o\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"bad escape", head + "\"DataDir\"=sz:\"a\\qb\"\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"NUL escape", head + "\"DataDir\"=sz:\"a\\x00b\"\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"junk after string", head + "\"DataDir\"=sz:\"a\" b\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"unknown type", head + "\"DataDir\"=multi_sz:\"a\"\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"no equals", head + "\"DataDir\" sz:\"a\"\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"number too big", head + "\"DataDir\"=dword:4294967296\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"odd hex", head + "\"DataDir\"=hex:0,1\n", "DataDir", REG_ERR_CANT_READ_VALUE, nullptr},
      {"garbage line kept apart", head + "\x01\xff garbage\n\"DataDir\"=sz:\"ok\"\n", "DataDir", 0, "ok"},
      {"broken header hides its values", head + "[Software\\QV\\TRQ\n\"Good\"=sz:\"no\"\n", "Good", 0, "yes"},
      {"values before any key", "\"DataDir\"=sz:\"x\"\n" + head, "DataDir", REG_ERR_NO_VALUE, nullptr},
      {"CR LF and blanks", "  [Software\\QV\\TRQ]  \r\n\t\"DataDir\" = sz:\"crlf\" \r\n", "DataDir", 0, "crlf"},
      {"a later duplicate wins", head + "\"Good\"=sz:\"again\"\n", "good", 0, "again"},
      {"a header again in another case", head + "\"DataDir\"=sz:\"h\"\n[software\\qv\\trq]\n\"DataDir2\"=sz:\"merged\"\n", "DataDir2", 0, "merged"},
      {"empty file", "", "Good", REG_ERR_NO_KEY, nullptr},
      {"binary junk", std::string("\0\0\0[\0]\n\"\0\"=\n", 13), "Good", REG_ERR_NO_KEY, nullptr},
  };
  for (const Case &c : cases) {
    write_user_file(c.file);
    int r = 0;
    const std::string v = read_string(kKey, c.name, &r);
    EXPECT_EQ(r, c.result) << c.what;
    if (c.value != nullptr) {
      EXPECT_EQ(v, c.value) << c.what;
    }
  }
  write_user_file(head + "\"N\"=dword:0x1F\n");
  uint32_t n = 0;
  EXPECT_EQ(RegReadULong(HKEY_CURRENT_USER, kKey, "N", &n), 0);
  EXPECT_EQ(n, 31u);
}

TEST_F(Registry, AWriteKeepsWhatWasSoundAndACopyOfTheDamagedFile) {
  const std::string damaged =
      "[Software\\QV\\TRQ]\n\"Good\"=sz:\"yes\"\n\"Bad\"=sz:\"unclosed\n\x7f junk\n\"Cut\"=dword:1";
  write_user_file(damaged);
  ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, kKey, "New", 5), 0);
  EXPECT_EQ(testsupport::read_file(user_file() + ".damaged"), damaged);
  int r = 0;
  EXPECT_EQ(read_string(kKey, "Good", &r), "yes");
  EXPECT_EQ(r, 0);
  read_string(kKey, "Bad", &r);
  EXPECT_EQ(r, REG_ERR_CANT_READ_VALUE);
  EXPECT_NE(text().find("\n\"Bad\"=sz:\"unclosed\n"), std::string::npos) << "the damaged value stays for a person";
  EXPECT_EQ(text().find("junk"), std::string::npos);
  EXPECT_EQ(text().find("Cut"), std::string::npos);
  // Writing the damaged value replaces it.
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "bad", "mended"), 0);
  EXPECT_EQ(read_string(kKey, "Bad", &r), "mended");
}

TEST_F(Registry, WritesReplaceTheFileAndLeaveNothingBehind) {
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "A", "old"), 0);
  const std::string before = dir.file("before.reg");
  ASSERT_EQ(::link(user_file().c_str(), before.c_str()), 0);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "A", "new"), 0);
  // The old file was replaced, not rewritten in place.
  EXPECT_NE(testsupport::read_file(before).find("\"old\""), std::string::npos);
  EXPECT_NE(text().find("\"new\""), std::string::npos);
  EXPECT_EQ(names(), (std::set<std::string>{"before.reg", "user.reg", "user.reg.lock"}));

  // A hive whose file cannot be read is neither read nor overwritten.
  std::filesystem::remove(user_file());
  std::filesystem::create_directory(user_file());
  int r = 0;
  read_string(kKey, "A", &r);
  EXPECT_EQ(r, REG_ERR_CANT_OPEN_KEY);
  EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "A", "x"), REG_ERR_CANT_OPEN_KEY);
  EXPECT_TRUE(std::filesystem::is_directory(user_file()));
}

// A write clears the temporaries a killed write of the same hive left, and
// nothing a person or the other hive may have put beside it.
TEST_F(Registry, AWriteClearsWhatKilledWritesOfItsHiveLeft) {
  const std::vector<std::string> cleared = {"user.reg.tmp.Ab12Cd", "user.reg.damaged.tmp.xY98zz"};
  const std::vector<std::string> kept = {
      "user.reg.backup",        "user.reg.damaged",        "user.reg.tmp.Ab12C",  "user.reg.tmp.Ab12Cd7",
      "user.reg.tmp.Ab-2Cd",    "xuser.reg.tmp.Ab12Cd",    "user.reg.old.Ab12Cd", "machine.reg.tmp.Mn34Op",
  };
  for (const auto &n : cleared) dir.write(n, "cut");
  for (const auto &n : kept) dir.write(n, "keep");
  std::filesystem::create_directory(dir.file("user.reg.tmp.Qw56Er"));
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "A", "x"), 0);
  std::set<std::string> expected(kept.begin(), kept.end());
  expected.insert({"user.reg", "user.reg.lock", "user.reg.tmp.Qw56Er"});
  EXPECT_EQ(names(), expected);
  for (const auto &n : kept) EXPECT_EQ(testsupport::read_file(dir.file(n)), "keep") << n;

  // The machine hive's writes clear its own.
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "A", "x"), 0);
  EXPECT_EQ(names().count("machine.reg.tmp.Mn34Op"), 0u);
  EXPECT_EQ(names().count("user.reg.backup"), 1u);
}

// Writers killed at random moments (bounded in count and time), and one that
// its file-size limit surely stops inside its temporary file: whatever the
// timing, the next ordinary write leaves only the hive and its lock.
TEST_F(Registry, KilledWritersLeaveNothingAfterTheNextWrite) {
  const std::string padding(250, 'p');  // a longer write, more moments inside it
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "Padding", padding.c_str()), 0);
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> delay_us(0, 3000);
  auto writer = [](const char *name) {
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(20);  // a writer nobody kills ends all the same
      for (uint32_t i = 0;; ++i)
        if (RegWriteULong(HKEY_CURRENT_USER, kKey, name, i) != 0) _exit(1);
    }
    return pid;
  };
  constexpr int kRounds = 12;
  for (int round = 0; round < kRounds; ++round) {
    const std::array<pid_t, 2> pids = {writer("A"), writer("B")};
    for (const pid_t pid : pids) {
      ASSERT_GT(pid, 0);
      usleep(static_cast<useconds_t>(delay_us(rng)));
      kill(pid, SIGKILL);
    }
    for (const pid_t pid : pids) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    }
  }

  const pid_t cut = fork();
  ASSERT_GE(cut, 0);
  if (cut == 0) {
    prctl(PR_SET_DUMPABLE, 0);  // no core file for the signal below
    const rlimit no_core{0, 0}, small{64, 64};
    setrlimit(RLIMIT_CORE, &no_core);
    signal(SIGXFSZ, SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &small);
    RegWriteString(HKEY_CURRENT_USER, kKey, "Cut", "x");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(cut, &status, 0), cut);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
  EXPECT_GT(names().size(), 2u) << "the stopped writer's temporary";

  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, "After", "done"), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"user.reg", "user.reg.lock"}));
  int r = 0;
  EXPECT_EQ(read_string(kKey, "After", &r), "done");
  EXPECT_EQ(read_string(kKey, "Padding", &r), padding);
  read_string(kKey, "Cut", &r);
  EXPECT_EQ(r, REG_ERR_NO_VALUE);
}

// Two processes write different values at the same moment: both keep theirs.
TEST_F(Registry, TwoWritersAtOnceLoseNothing) {
  constexpr int kPerWriter = 40;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (const char *who : {"A", "B"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      alarm(60);  // a hung writer ends the test instead of stalling it
      close(start[1]);
      char go;
      if (read(start[0], &go, 1) != 0) _exit(3);
      for (int i = 0; i < kPerWriter; ++i) {
        const std::string name = std::string(who) + std::to_string(i);
        if (RegWriteULong(HKEY_CURRENT_USER, kKey, name.c_str(), static_cast<uint32_t>(i)) != 0) _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  close(start[0]);
  close(start[1]);  // both start now
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "writer killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  for (const char *who : {"A", "B"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      const std::string name = std::string(who) + std::to_string(i);
      uint32_t n = 99;
      EXPECT_EQ(RegReadULong(HKEY_CURRENT_USER, kKey, name.c_str(), &n), 0) << name;
      EXPECT_EQ(n, static_cast<uint32_t>(i)) << name;
    }
  }
}

TEST(GeneralErrorString, EveryRegistryCodeHasItsOwnText) {
  std::set<std::string> texts;
  for (int code : std::initializer_list<int>{REG_ERR_BUFFER_TOO_SMALL, REG_ERR_NULL_ARGUMENT, REG_ERR_CANT_OPEN_KEY, REG_ERR_CANT_WRITE,
                   REG_ERR_CANT_READ_VALUE, REG_ERR_NO_VALUE, REG_ERR_WRONG_TYPE, REG_ERR_NO_KEY, 0, -1}) {
    const std::string t = GetGeneralErrorString(code);
    EXPECT_NE(t, "Unknown error") << code;
    texts.insert(t);
  }
  EXPECT_EQ(texts.size(), 10u);
  EXPECT_STREQ(GetGeneralErrorString(-12345), "Unknown error");
}

TEST(FullPathFromProject, NamesLieInTheProgramDirectory) {
  platform::set_program_dir("/opt/trq");
  struct Case {
    const char *name;
    int result;
    const char *full;
  };
  const Case cases[] = {
      {"trq_32x64", 0, "/opt/trq/trq_32x64"},
      {"./build/app/trq_32x64", 0, "/opt/trq/trq_32x64"},
      {"..\\bin\\trq.exe", 0, "/opt/trq/trq.exe"},
      {"/usr/bin/trq", 0, "/usr/bin/trq"},
      {"", -1, ""},
      {"dir/", -1, ""},
  };
  for (const Case &c : cases) {
    char full[260] = "";
    EXPECT_EQ(GetFullPathFromProject(c.name, full), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_STREQ(full, c.full) << c.name;
    }
  }
  char full[260];
  EXPECT_EQ(GetFullPathFromProject(std::string(300, 'x').c_str(), full), -1);
  platform::set_program_dir("");
}

// Sets an environment variable (nullptr: unsets it) for the object's lifetime.
class EnvFor {
 public:
  EnvFor(const char *name, const char *value) : name_(name) {
    const char *old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvFor() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
  }
  EnvFor(const EnvFor &) = delete;
  EnvFor &operator=(const EnvFor &) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

// Everything a descriptor gives until its end.
std::string read_all(int fd) {
  std::string text;
  char buf[512];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  return text;
}

// Without HOME, or with one that is not a full path (it would lie below
// whatever folder is current), the home comes from the passwd entry. What the
// test makes in that real home is removed again, so the home stays as found.
TEST(UserDataDir, WithoutHomeLiesInThePasswdEntrysHome) {
  const passwd *pw = getpwuid(getuid());
  if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] != '/' || access(pw->pw_dir, W_OK) != 0)
    GTEST_SKIP() << "this user has no passwd entry with a home it can write";
  const std::string home = pw->pw_dir;
  const std::string app = "trq-test-" + std::to_string(getpid());
  const std::string expected = home + "/.local/share/qv/" + app;
  // What the call may make, outermost first, and which of it was there before.
  const std::vector<std::string> chain = {home + "/.local", home + "/.local/share", home + "/.local/share/qv", expected};
  std::vector<bool> was;
  for (const std::string &d : chain) {
    struct stat st{};
    was.push_back(lstat(d.c_str(), &st) == 0);
  }
  ASSERT_FALSE(was.back()) << expected << " is there already";

  testsupport::TempDir cwd;
  char old_cwd[4096] = "";
  ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  {
    EnvFor data("XDG_DATA_HOME", nullptr), config("XDG_CONFIG_HOME", nullptr), reg("QV_REGISTRY_DIR", nullptr);
    for (const char *value : {static_cast<const char *>(nullptr), "", "x", "./x"}) {
      const std::string what = value == nullptr ? "HOME unset" : "HOME=" + std::string(value);
      EnvFor h("HOME", value);
      EXPECT_EQ(platform::home_dir(), home) << what;
      EXPECT_EQ(platform::user_data_dir(app), expected) << what;
      EXPECT_TRUE(std::filesystem::is_directory(expected)) << what;
      EXPECT_EQ(platform::registry::hive_file(HKEY_CURRENT_USER), home + "/.config/qv/user.reg") << what;
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(cwd.path())) << "made below the current folder";
  EXPECT_EQ(chdir(old_cwd), 0);
  for (size_t i = chain.size(); i-- > 0;)
    if (!was[i]) rmdir(chain[i].c_str());
  for (size_t i = 0; i < chain.size(); ++i) {
    struct stat st{};
    EXPECT_EQ(lstat(chain[i].c_str(), &st) == 0, was[i]) << chain[i] << " not left as found";
  }
}

// With no home at all the callers keep the data in the program's directory:
// that is said once, naming it; where the program cannot find its own
// folder, that the data cannot be kept, naming no folder. A relative HOME
// counts as none. The user has no passwd entry and may be unable to reach the
// program's real folder (an emulator resolves it with that user's rights), so
// what it sees there is asked of it.
TEST(UserDataDir, WithNoHomeAtAllSaysWhereDataGoes) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can run as a user without a passwd entry";
  const uid_t uid = unknown_uids();
  const std::string no_home = "No home folder (HOME is unset and user " + std::to_string(uid) + " has no passwd entry)";
  enum class Dir { given, unknown, real };
  struct Case {
    const char *what;
    const char *home;
    Dir dir;
    std::string says;  // for the real folder: with %s for what the user sees
  };
  const Case cases[] = {
      {"program folder known", nullptr, Dir::given, no_home + ": data files go to /opt/trq/\n"},
      {"relative HOME", "x", Dir::given,
       "No home folder (HOME (x) is not a full path and user " + std::to_string(uid) +
           " has no passwd entry): data files go to /opt/trq/\n"},
      {"program folder not found", nullptr, Dir::unknown,
       no_home + ", and the program's own folder cannot be found: data files cannot be kept.\n"},
      {"the program's real folder", nullptr, Dir::real, ""},
  };
  for (const Case &c : cases) {
    testsupport::TempDir cwd;  // a relative HOME must make nothing here
    ASSERT_EQ(chmod(cwd.path().c_str(), 0777), 0);
    int err[2], seen[2];
    ASSERT_EQ(pipe(err), 0);
    ASSERT_EQ(pipe(seen), 0);
    const int r = as_user_without_home(uid, [&] {
      if (chdir(cwd.path().c_str()) != 0) return 10;
      if (c.home != nullptr) setenv("HOME", c.home, 1);
      if (c.dir == Dir::given) platform::set_program_dir("/opt/trq");
      if (c.dir == Dir::unknown) platform::set_program_dir_unknown();
      const std::string dir = platform::program_dir();
      if (write(seen[1], dir.data(), dir.size()) != static_cast<ssize_t>(dir.size())) return 11;
      dup2(err[1], 2);
      const bool none = platform::user_data_dir("trq").empty();
      return none && platform::user_data_dir("trq").empty() ? 0 : 1;
    });
    close(err[1]);
    close(seen[1]);
    const std::string said = read_all(err[0]);
    const std::string dir = read_all(seen[0]);
    close(err[0]);
    close(seen[0]);
    EXPECT_EQ(r, 0) << c.what;
    if (c.dir == Dir::real) {
      EXPECT_EQ(said, dir.empty() ? cases[2].says : no_home + ": data files go to " + dir + "/\n") << c.what;
    } else {
      EXPECT_EQ(said, c.says) << c.what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(cwd.path())) << c.what;
  }
}

TEST(UserDataDir, IsMadeUnderTheXdgDataHome) {
  testsupport::TempDir dir;
  const char *old = getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(platform::user_data_dir("trq"), dir.path() + "/qv/trq");
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/qv/trq"));
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}

}  // namespace
