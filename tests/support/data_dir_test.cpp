// Where the data files go when the home cannot hold them: said once on
// standard error, naming the folder the callers really use.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/win/progdir.h"
#include "support/Util_fun_registry.h"
#include "tests/testsupport/testsupport.h"

namespace {

// The user the children run as: root writes anywhere, so root's children
// take a user id without a passwd entry.
uid_t child_uid() {
  if (geteuid() != 0) return geteuid();
  uid_t uid = 42420;
  while (getpwuid(uid) != nullptr) ++uid;
  return uid;
}

struct Outcome {
  int result;  // fn's, or -1
  std::string said;
};

// Runs fn in a child process as child_uid() with no HOME and no XDG folders;
// what it wrote to standard error is caught.
Outcome in_child(const std::function<int()> &fn) {
  const uid_t uid = child_uid();
  int err[2];
  if (pipe(err) != 0) return {-1, ""};
  const pid_t pid = fork();
  if (pid == 0) {
    close(err[0]);
    if (geteuid() != uid && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(100);
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "QV_REGISTRY_DIR"}) unsetenv(name);
    dup2(err[1], 2);
    _exit(fn());
  }
  close(err[1]);
  Outcome out{-1, ""};
  char buf[512];
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) out.said.append(buf, static_cast<size_t>(n));
  close(err[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) out.result = WEXITSTATUS(status);
  return out;
}

// A folder tree the child's user can pass through: a folder it cannot write
// (locked), a home whose data folder it cannot write, and a home of its own.
class DataDirFallback : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chmod(top.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    std::filesystem::create_directories(read_only + "/.local/share/qv/trq");
    ASSERT_EQ(chmod((read_only + "/.local/share/qv/trq").c_str(), 0555), 0);
    ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
    ASSERT_EQ(chown(own.c_str(), child_uid(), child_uid()), 0);
  }
  void TearDown() override { chmod((read_only + "/.local/share/qv/trq").c_str(), 0755); }

  testsupport::TempDir top;
  const std::string locked = top.file("locked");
  const std::string read_only = top.file("read_only");
  const std::string own = top.file("own");
};

// A HOME (or XDG_DATA_HOME) whose data folder cannot be made or written is
// not used; the caller's fallback is named, once.
TEST_F(DataDirFallback, AHomeThatCannotHoldTheDataSaysWhereItGoes) {
  struct Case {
    const char *what;
    std::string home;
    std::string xdg;      // XDG_DATA_HOME, "" for none
    std::string dir;      // the data folder looked for
    const char *problem;  // nullptr: it is used
  };
  const Case cases[] = {
      {"HOME missing", locked + "/absent", "", locked + "/absent/.local/share/qv/trq", "cannot be made"},
      {"HOME not writable", locked, "", locked + "/.local/share/qv/trq", "cannot be made"},
      {"data folder not writable", read_only, "", read_only + "/.local/share/qv/trq", "cannot be written"},
      {"XDG_DATA_HOME not writable", own, locked + "/data", locked + "/data/qv/trq", "cannot be made"},
      {"a home of its own", own, "", own + "/.local/share/qv/trq", nullptr},
  };
  for (const Case &c : cases) {
    const std::string expected = c.problem == nullptr ? c.dir : "";
    const Outcome out = in_child([&] {
      setenv("HOME", c.home.c_str(), 1);
      if (!c.xdg.empty()) setenv("XDG_DATA_HOME", c.xdg.c_str(), 1);
      const bool first = platform::user_data_dir("trq", "/opt/trq") == expected;
      return first && platform::user_data_dir("trq", "/opt/trq") == expected ? 0 : 1;
    });
    EXPECT_EQ(out.result, 0) << c.what;
    if (c.problem == nullptr) {
      EXPECT_EQ(out.said, "") << c.what;
      continue;
    }
    const std::string head = "Data folder " + c.dir + " " + c.problem;
    const std::string tail = ": data files go to /opt/trq/\n";
    EXPECT_EQ(out.said.rfind(head, 0), 0u) << c.what << ": " << out.said;
    EXPECT_TRUE(out.said.size() > tail.size() && out.said.compare(out.said.size() - tail.size(), tail.size(), tail) == 0)
        << c.what << ": " << out.said;
    EXPECT_EQ(std::count(out.said.begin(), out.said.end(), '\n'), 1) << c.what << ": " << out.said;
  }
}

// The registration keeps the data in the program directory it was given, and
// that is the folder named.
TEST_F(DataDirFallback, TheRegistrationNamesTheFolderItRegisters) {
  const std::string reg = own + "/reg";
  char data_dir[260] = "";
  const Outcome out = in_child([&] {
    setenv("HOME", (locked + "/absent").c_str(), 1);
    setenv("QV_REGISTRY_DIR", reg.c_str(), 1);
    if (register_qv_app(QV_APP_TRQ, "/opt/elsewhere/trq_32x64", -1, data_dir) != 0) return 1;
    return std::string(data_dir) == "/opt/elsewhere/" ? 0 : 2;
  });
  EXPECT_EQ(out.result, 0);
  const std::string tail = ": data files go to /opt/elsewhere/\n";
  EXPECT_NE(out.said.find("Data folder " + locked + "/absent/.local/share/qv/trq cannot be made"), std::string::npos)
      << out.said;
  EXPECT_TRUE(out.said.size() > tail.size() && out.said.compare(out.said.size() - tail.size(), tail.size(), tail) == 0)
      << out.said;
}

}  // namespace
