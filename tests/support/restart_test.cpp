// What the program keeps in the registry survives a restart: this test program
// is started again for each run of "the program" (the RestartRun tests, which
// do nothing unless started so), sharing one store.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/store_fixture.h"

namespace {

using namespace storetest;
namespace headless = platform::ui::headless;

constexpr const char *kRunVar = "TRQ_RESTART_RUN";
constexpr const char *kProgramVar = "TRQ_RESTART_PROGRAM";
constexpr const char *kWorkVar = "TRQ_RESTART_WORK";

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? v : "";
}

std::vector<unsigned char> record() {
  std::vector<unsigned char> r(992);
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(i * 13 + 1);
  return r;
}

// One run of the program as far as the store goes: what it finds, then what
// it leaves. Returns through gtest's failures.
class RestartRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env(kRunVar).empty()) GTEST_SKIP() << "started only by Restart.*";
    platform::set_program_dir(env(kProgramVar));
    headless::reset();
    panel = NewPanel(0, "Load", 0, 0, 300, 400);
    list = NewCtrl(panel, CTRL_LIST_BOX, VAL_INTEGER, "Recent", 20, 10, 200, 300);
    const char *names[] = {"Main"};
    init_panel_structures(&geometry, 1, names);
  }
  std::string work(const std::string &name) const { return env(kWorkVar) + "/" + name; }
  std::vector<std::string> items() const {
    int n = 0;
    GetNumListItems(panel, list, &n);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
      char label[260];
      GetLabelFromIndex(panel, list, i, label);
      out.push_back(label);
    }
    return out;
  }
  int panel = 0, list = 0;
  PanelAttrEntry geometry{};
};

TEST_F(RestartRun, First) {
  char data_dir[260] = "";
  ASSERT_EQ(register_qv_app(QV_APP_TRQ, "trq_32x64", 0, data_dir), 0);
  std::filesystem::create_directories(work("runs"));
  headless::script_path(work("runs/a"));
  char path[260];
  ASSERT_EQ(FileSelectPopupWithHistory(QV_APP_TRQ, data_dir, "", "*.set", "Select a File to Save", VAL_SAVE_BUTTON,
                                       0, 0, 1, 0, path, 1),
            VAL_NEW_FILE_SELECTED);
  EXPECT_EQ(std::string(path), work("runs/a.set"));
  create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
  update_filehistlist(QV_APP_TRQ, panel, list, "*.set", path, 1);
  update_filehistlist(QV_APP_TRQ, panel, list, "*.set", work("runs/b.set").c_str(), 1);

  const int main = LoadPanelAndSettings(0, testsupport::source_path("tests/support/data/panels.uir").c_str(), 1, 1,
                                        QV_APP_TRQ, &geometry);
  ASSERT_GT(main, 0);
  EXPECT_EQ(geometry.state, PANEL_STATE_NONE);
  SetPanelAttribute(main, ATTR_TOP, 200);
  SetPanelAttribute(main, ATTR_LEFT, 300);
  SetPanelAttribute(main, ATTR_HEIGHT, 500);
  SetPanelAttribute(main, ATTR_WIDTH, 700);
  DisplayPanel(main);
  get_panel_attr(&geometry, main);
  ASSERT_EQ(SavePanelSettings(QV_APP_TRQ, 1, &geometry), 0);
  ASSERT_EQ(SaveAppSettings(QV_APP_TRQ, 992, "Current", record().data()), 0);
}

TEST_F(RestartRun, Second) {
  char data_dir[260] = "";
  ASSERT_EQ(register_qv_app(QV_APP_TRQ, "trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(std::string(data_dir), env("XDG_DATA_HOME") + "/qv/trq/");
  EXPECT_EQ(filedir_history_count, 2);
  EXPECT_EQ(headless::dir_history(), (std::vector<std::string>{env(kProgramVar), work("runs")}));
  EXPECT_EQ(user_string(kDialogKey, "FileDir2"), work("runs"));
  create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
  EXPECT_EQ(items(), (std::vector<std::string>{work("runs/b.set"), work("runs/a.set")}));
  LoadPanelAndSettings(0, testsupport::source_path("tests/support/data/panels.uir").c_str(), 1, 1, QV_APP_TRQ,
                       &geometry);
  EXPECT_EQ(geometry.state, PANEL_STATE_RESTORED);
  EXPECT_EQ(std::vector<int32_t>({geometry.value.top, geometry.value.left, geometry.value.height,
                                  geometry.value.width, geometry.value.flags}),
            std::vector<int32_t>({200, 300, 500, 700, PANEL_FLAG_VISIBLE}));
  std::vector<unsigned char> back(992, 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", back.data()), 0);
  EXPECT_EQ(back, record());
}

// After the store was cut and garbled by hand: what is sound is still there.
TEST_F(RestartRun, Damaged) {
  char data_dir[260] = "";
  ASSERT_EQ(register_qv_app(QV_APP_TRQ, "trq_32x64", 0, data_dir), 0);
  EXPECT_EQ(std::string(data_dir), env("XDG_DATA_HOME") + "/qv/trq/");
  create_filehistlist(QV_APP_TRQ, panel, list, "*.set");
  EXPECT_EQ(items(), (std::vector<std::string>{work("runs/b.set"), work("runs/a.set")}));
  std::vector<unsigned char> back(992, 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", back.data()), -1) << "the cut record is gone";
  ASSERT_EQ(SaveAppSettings(QV_APP_TRQ, 992, "Current", record().data()), 0);
  EXPECT_EQ(LoadAppSettings(QV_APP_TRQ, 992, "Current", back.data()), 0);
  EXPECT_EQ(back, record());
}

class Restart : public StoreTest {
 protected:
  // Starts this test program again for one run; its exit status.
  int run(const char *name) {
    setenv(kRunVar, name, 1);
    setenv(kProgramVar, program.path().c_str(), 1);
    setenv(kWorkVar, work.path().c_str(), 1);
    // the file itself: under an emulator /proc/self/exe of the child names the emulator
    std::vector<std::string> args = testsupport::program_command(
        {std::filesystem::read_symlink("/proc/self/exe").string(), std::string("--gtest_filter=RestartRun.") + name});
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(60);  // a run that hangs ends instead of stalling the suite
      execv(argv[0], argv.data());
      _exit(127);
    }
    unsetenv(kRunVar);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

TEST_F(Restart, EverythingStoredComesBackInTheNextRun) {
  ASSERT_EQ(run("First"), 0);
  ASSERT_EQ(run("Second"), 0);

  // Cut the file inside the record's line and put junk before it.
  const std::string file = reg.file("user.reg");
  std::string text = testsupport::read_file(file);
  const size_t record_line = text.find("\"Current\"=hex:");
  ASSERT_NE(record_line, std::string::npos);
  text.resize(record_line + 500);
  text.insert(record_line, "\x01garbage \xff line\n[Software\\QV\\TRQ\\AppSet\n\"Current\"=hex:00\n");
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  ASSERT_EQ(run("Damaged"), 0);
  EXPECT_TRUE(std::filesystem::exists(file + ".damaged"));
}

}  // namespace
