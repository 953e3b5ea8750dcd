// Registration at start-up, string reads in a view, finding the program and
// the data directory, the application tables and file identification.
#include <filesystem>
#include <set>

#include "support/File.h"
#include "support/Qv_file.h"
#include "tests/support/store_fixture.h"

namespace {

using namespace storetest;
namespace headless = platform::ui::headless;

class Registration : public StoreTest {
 protected:
  std::string xdg_dir() const { return data_home.path() + "/qv/trq/"; }
  int run(const char *argv0, int force, char *data_dir) { return register_qv_app(QV_APP_TRQ, argv0, force, data_dir); }
  std::vector<std::string> history() const { return platform::ui::headless::dir_history(); }
};

TEST_F(Registration, FirstStartWritesEveryValue) {
  char data_dir[260] = "";
  ASSERT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(machine_string(kKey, "InstallDir"), program.path());
  EXPECT_EQ(user_string(kKey, "FilePath"), program.path() + "/trq_32x64");
  EXPECT_EQ(user_string(kKey, "DataDir"), xdg_dir());
  EXPECT_TRUE(std::filesystem::is_directory(xdg_dir()));
  EXPECT_EQ(user_string(kDialogKey, "FileDir1"), program.path());
  EXPECT_EQ(std::string(data_dir), xdg_dir());
  EXPECT_EQ(filedir_history_count, 1);
  EXPECT_EQ(history(), std::vector<std::string>{program.path()});
}

TEST_F(Registration, AGivenDefaultDataDirectoryGetsItsSlashOnlyInTheBuffer) {
  char data_dir[260] = "/srv/runs";
  ASSERT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(user_string(kKey, "DataDir"), "/srv/runs");
  EXPECT_STREQ(data_dir, "/srv/runs/");
  // A later start keeps the stored directory, whatever default it is given.
  std::strcpy(data_dir, "/elsewhere/");
  ASSERT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_STREQ(data_dir, "/srv/runs/");
  set_user(kKey, "DataDir", "/srv/with/slash/");
  ASSERT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_STREQ(data_dir, "/srv/with/slash/");
}

TEST_F(Registration, ALaterStartKeepsWhatIsStored) {
  set_user(kKey, "FilePath", "/old/trq");
  set_user(kKey, "DataDir", "/home/op/runs");
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "InstallDir", "/old"), 0);
  // The program directory in other letters counts as held.
  std::string upper = program.path();
  StringUpperCase(upper.data());
  set_user(kDialogKey, "FileDir1", upper);
  set_user(kDialogKey, "FileDir2", "/b");
  set_user(kDialogKey, "FileDir3", "/c");
  char data_dir[260] = "";
  ASSERT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(user_string(kKey, "FilePath"), "/old/trq");
  EXPECT_EQ(machine_string(kKey, "InstallDir"), "/old");
  EXPECT_STREQ(data_dir, "/home/op/runs/");
  EXPECT_EQ(user_string(kDialogKey, "FileDir1"), upper);
  EXPECT_EQ(filedir_history_count, 3);
  // Loaded from FileDir7 down to FileDir1, so the most recent comes first.
  EXPECT_EQ(history(), (std::vector<std::string>{upper, "/b", "/c"}));
}

TEST_F(Registration, AnotherFileDir1IsReplacedByTheProgramDirectory) {
  set_user(kDialogKey, "FileDir1", "/not/the/program");
  set_user(kDialogKey, "FileDir2", "/b");
  ASSERT_EQ(run("trq_32x64", 0, nullptr), 0);
  EXPECT_EQ(user_string(kDialogKey, "FileDir1"), program.path());
  EXPECT_EQ(filedir_history_count, 2);
}

TEST_F(Registration, TheMachineDataDirectoryIsTheUsersFirstDefault) {
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "DataDir", "/srv/qv"), 0);
  char data_dir[260] = "/given";
  ASSERT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(user_string(kKey, "DataDir"), "/srv/qv");
  EXPECT_STREQ(data_dir, "/srv/qv/");
}

TEST_F(Registration, ForceRewritesEveryValue) {
  set_user(kKey, "FilePath", "/old/trq");
  set_user(kKey, "DataDir", "/home/op/runs");
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "InstallDir", "/old"), 0);
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "DataDir", "/srv/qv"), 0);
  char data_dir[260] = "";
  ASSERT_EQ(run("trq_32x64", 1, data_dir), 0);
  EXPECT_EQ(machine_string(kKey, "InstallDir"), program.path());
  EXPECT_EQ(user_string(kKey, "FilePath"), program.path() + "/trq_32x64");
  EXPECT_EQ(user_string(kKey, "DataDir"), xdg_dir()) << "the machine's default is not copied when forced";
  EXPECT_EQ(std::string(data_dir), xdg_dir());
}

TEST_F(Registration, NegativeForceTakesThePathAsGivenAndSkipsTheHistory) {
  char cwd[260];
  ASSERT_EQ(GetDir(cwd), 0);
  ASSERT_EQ(SetDir(work.path().c_str()), 0);
  char data_dir[260] = "";
  ASSERT_EQ(run("bin/../tools/trq", -1, data_dir), 0);
  EXPECT_EQ(user_string(kKey, "FilePath"), "bin/../tools/trq");
  EXPECT_EQ(machine_string(kKey, "InstallDir"), work.path() + "/tools");
  EXPECT_EQ(std::string(data_dir), xdg_dir());
  EXPECT_EQ(user_string(kDialogKey, "FileDir1"), "<missing>");
  EXPECT_EQ(filedir_history_count, 0);
  EXPECT_TRUE(history().empty());
  SetDir(cwd);
}

TEST_F(Registration, WithoutAProgramPathOnlyTheHistoryIsLoaded) {
  set_user(kDialogKey, "FileDir1", "/a");
  set_user(kDialogKey, "FileDir4", "/d");
  char data_dir[260] = "untouched";
  ASSERT_EQ(run(nullptr, 0, data_dir), 0);
  EXPECT_STREQ(data_dir, "untouched");
  EXPECT_EQ(user_string(kKey, "FilePath"), "<missing>");
  EXPECT_EQ(user_string(kDialogKey, "FileDir1"), "/a");
  EXPECT_EQ(filedir_history_count, 2);
  EXPECT_EQ(history(), (std::vector<std::string>{"/a", "/d"}));
}

TEST_F(Registration, FailedWritesOfTheUsersKeysAreReturned) {
  platform::registry::set_read_only(HKEY_LOCAL_MACHINE, true);
  char data_dir[260] = "";
  EXPECT_EQ(run("trq_32x64", 0, data_dir), 0) << "a machine hive without rights is no failure";
  EXPECT_EQ(machine_string(kKey, "InstallDir"), "<missing>");
  EXPECT_EQ(std::string(data_dir), xdg_dir());

  std::filesystem::remove_all(reg.path() + "/user.reg");
  platform::registry::set_read_only(HKEY_CURRENT_USER, true);
  std::strcpy(data_dir, "kept");
  EXPECT_EQ(run("trq_32x64", 0, data_dir), REG_ERR_CANT_OPEN_KEY);
  EXPECT_STREQ(data_dir, "kept");
  EXPECT_STRNE(GetGeneralErrorString(REG_ERR_CANT_OPEN_KEY), "Unknown error");
  EXPECT_EQ(register_qv_app(QV_APP_COUNT, "trq", 0, nullptr), REG_ERR_CANT_OPEN_KEY);
  EXPECT_EQ(run("", 0, data_dir), -1) << "no program name";
}

TEST_F(Registration, ADataDirectoryWithoutRoomForItsSlashFails) {
  const std::string long_dir = "/" + std::string(258, 'd');  // 259 characters
  set_user(kKey, "DataDir", long_dir);
  char data_dir[260] = "kept";
  EXPECT_EQ(run("trq_32x64", 0, data_dir), REG_ERR_BUFFER_TOO_SMALL);
  EXPECT_STREQ(data_dir, "kept");
  set_user(kKey, "DataDir", long_dir.substr(0, 258));
  EXPECT_EQ(run("trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(std::strlen(data_dir), 259u);
  EXPECT_EQ(data_dir[258], '/');
}

TEST_F(Registration, ReadStringExtCodes) {
  set_user(kKey, "Text", "abc");
  ASSERT_EQ(RegWriteULong(HKEY_CURRENT_USER, kKey, "Number", 3), 0);
  char buf[8] = "";
  uint32_t size = 99;
  struct Case {
    const char *what;
    int result;
    int expected;
  };
  const Case cases[] = {
      {"null subkey", RegReadStringExt(HKEY_CURRENT_USER, nullptr, "Text", buf, 8, &size, 1), REG_ERR_NULL_ARGUMENT},
      {"null size", RegReadStringExt(HKEY_CURRENT_USER, kKey, "Text", buf, 8, nullptr, 1), REG_ERR_NULL_ARGUMENT},
      {"option 0", RegReadStringExt(HKEY_CURRENT_USER, kKey, "Text", buf, 8, &size, 0), REG_ERR_CANT_OPEN_KEY},
      {"option 4", RegReadStringExt(HKEY_CURRENT_USER, kKey, "Text", buf, 8, &size, 4), REG_ERR_CANT_OPEN_KEY},
      {"no key", RegReadStringExt(HKEY_CURRENT_USER, "Software\\QV\\X", "Text", buf, 8, &size, 3), REG_ERR_NO_KEY},
      {"no value", RegReadStringExt(HKEY_CURRENT_USER, kKey, "Other", buf, 8, &size, 3), REG_ERR_NO_VALUE},
      {"not a string", RegReadStringExt(HKEY_CURRENT_USER, kKey, "Number", buf, 8, &size, 2), REG_ERR_WRONG_TYPE},
      {"too small", RegReadStringExt(HKEY_CURRENT_USER, kKey, "Text", buf, 3, &size, 1), REG_ERR_BUFFER_TOO_SMALL},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
  EXPECT_EQ(size, 3u) << "the size is reported also for a buffer too small";
  for (int option : {1, 2, 3}) {
    std::memset(buf, 0, sizeof buf);
    size = 0;
    EXPECT_EQ(RegReadStringExt(HKEY_CURRENT_USER, kKey, "text", buf, 8, &size, option), 0) << option;
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(size, 3u);
  }
  size = 0;
  EXPECT_EQ(RegReadStringExt(HKEY_CURRENT_USER, kKey, "Text", nullptr, 0, &size, 3), 0);
  EXPECT_EQ(size, 3u);
}

TEST_F(Registration, FindDataDirStates) {
  const std::string key = "Software\\QV\\ABC";
  char out[260];
  struct Case {
    const char *what;
    const char *machine;  // null: none
    const char *user;     // null: none
    int mode;
    int state;
    const char *out;
    const char *user_after;
  };
  const Case cases[] = {
      {"no machine value", nullptr, "/u", 0, -1, "", "/u"},
      {"only the machine's", "/m", nullptr, 0, 4, "/m", "/m"},
      {"equal", "/m", "/m", 0, 4, "/m", "/m"},
      {"differ, mode 0", "/m", "/u", 0, 3, "/u", "/u"},
      {"differ, mode 1", "/m", "/u", 1, 3, "/m", "/u"},
      {"differ, mode 2", "/m", "/u", 2, 4, "/m", "/m"},
  };
  for (const Case &c : cases) {
    std::filesystem::remove(reg.path() + "/user.reg");
    std::filesystem::remove(reg.path() + "/machine.reg");
    if (c.machine) RegWriteString(HKEY_LOCAL_MACHINE, key.c_str(), "DataDir", c.machine);
    if (c.user) RegWriteString(HKEY_CURRENT_USER, key.c_str(), "DataDir", c.user);
    out[0] = '\0';
    EXPECT_EQ(find_data_dir(c.mode, "ABC", out), c.state) << c.what;
    EXPECT_STREQ(out, c.out) << c.what;
    EXPECT_EQ(user_string(key.c_str(), "DataDir"), c.user_after) << c.what;
  }
  RegWriteString(HKEY_LOCAL_MACHINE, key.c_str(), "DataDir", "/m");
  std::filesystem::remove(reg.path() + "/user.reg");
  platform::registry::set_read_only(HKEY_CURRENT_USER, true);
  EXPECT_EQ(find_data_dir(0, "ABC", out), 2) << "the machine's value could not be copied";
  EXPECT_EQ(find_data_dir(0, nullptr, out), -1);
}

TEST_F(Registration, FindQvAppTakesTheStoredPathOrAsks) {
  const std::string exe = program.write("trq_32x64", "");
  char path[260] = "/fallback/trq";
  // Nothing stored, no InstallDir: the dialog opens on the fallback and is cancelled.
  EXPECT_EQ(find_qv_app(QV_APP_TRQ, path, 0), -1);
  ASSERT_EQ(headless::shown().size(), 1u);
  EXPECT_EQ(headless::shown()[0].title, "Find QV Executable Name");
  EXPECT_EQ(headless::shown()[0].directory, "/fallback/");
  EXPECT_EQ(headless::shown()[0].file_spec, "trq");
  // InstallDir plus the executable's name, stored as the user's FilePath.
  ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, "InstallDir", program.path().c_str()), 0);
#if defined(__i386__)
  const std::string found = program.write("trq_32", "");
#else
  const std::string found = exe;
#endif
  EXPECT_EQ(find_qv_app(QV_APP_TRQ, path, 0), 0);
  EXPECT_EQ(std::string(path), found);
  EXPECT_EQ(user_string(kKey, "FilePath"), found);
  // A stored path that exists is taken; with keep the operator chooses.
  std::strcpy(path, "");
  EXPECT_EQ(find_qv_app(QV_APP_TRQ, path, 0), 0);
  EXPECT_EQ(std::string(path), found);
  headless::clear();
  headless::script_path(program.path() + "/other");
  EXPECT_EQ(find_qv_app(QV_APP_TRQ, path, 1), 0);
  EXPECT_EQ(std::string(path), program.path() + "/other");
  EXPECT_EQ(user_string(kKey, "FilePath"), program.path() + "/other");
  EXPECT_EQ(find_qv_app(10, path, 0), REG_ERR_NO_KEY) << "application 10 does not search";
}

TEST_F(Registration, ApplicationTables) {
  EXPECT_EQ(get_app_ident(QV_APP_TRQ, 200), 104);
  EXPECT_EQ(get_app_ident(QV_APP_TRQ, 0), 104);
  EXPECT_EQ(get_app_ident(QV_APP_KMV, 100), 92);
  EXPECT_EQ(get_app_ident(-1, 0), 0);
  char name[21] = "x";
  get_srv_name(104, name);
  EXPECT_STREQ(name, "KMV-USB");
  get_srv_name(92, name);
  EXPECT_STREQ(name, "KMV-100");
  get_srv_name(7, name);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(qv::app_key(QV_APP_TRQ, "\\PanelAttr"), "Software\\QV\\TRQ\\PanelAttr");
  std::set<std::string> names;
  for (int app = 0; app < QV_APP_COUNT; ++app) names.insert(qv::app_short_name(app));
  EXPECT_EQ(names.size(), static_cast<size_t>(QV_APP_COUNT)) << "every application has a key of its own";
  EXPECT_STREQ(qv::app_short_name(20), "");
}

TEST_F(Registration, FileTypeFromTheIdentification) {
  const auto save = [&](const std::string &name, const char *ident) {
    const std::string p = work.file(name);
    FileRecord w{};
    create_empty_file(&w);
    EXPECT_EQ(create_qvfile(&w, p.c_str(), nullptr), 1);
    const char lines[] = "TITLE : x\0\0";
    EXPECT_EQ(put_info(&w, ident, 104 << 4, lines), 0);
    EXPECT_EQ(unlink_qvfile(&w), 0);
    return p;
  };
  EXPECT_EQ(check_qv_file_type(save("a.set", "\x04TRQ Setup File\x04").c_str()), QV_APP_TRQ);
  EXPECT_EQ(check_qv_file_type(save("b.SET", "\x04TRQ Setup File\x04").c_str()), QV_APP_TRQ);
  EXPECT_EQ(check_qv_file_type(save("c.set", "\x04KMV Setup File\x04").c_str()), QV_APP_KMV);
  EXPECT_EQ(check_qv_file_type(save("d.set", "\x04XYZ Setup File\x04").c_str()), -1);
  EXPECT_EQ(check_qv_file_type(save("e.sdt", "\x04TRQ Data File\x04").c_str()), QV_APP_TRQ);
  EXPECT_EQ(check_qv_file_type(save("f.dat", "\x04TRQ Setup File\x04").c_str()), -1);
  EXPECT_EQ(check_qv_file_type(work.file("missing.set").c_str()), -BFILE_OPEN);
}

}  // namespace
