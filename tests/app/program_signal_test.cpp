// The built program, run as a user runs it: unattended with QV_UI=headless
// (and on the Qt view offscreen where it has one) on the two simulated
// modules of the run command, ended by SIGTERM, SIGINT or SIGHUP through its
// quit path; and with a file-size limit that its saves exceed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/testsupport/testsupport.h"

extern char **environ;

using testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

std::string program() {
  for (const char *name : {"/trq_32x64", "/trq_32"})
    if (fs::exists(std::string(TRQ_BINARY_DIR) + name)) return std::string(TRQ_BINARY_DIR) + name;
  return "";
}

// One run of the program in a home of its own; stderr goes to a file there.
class Started {
 public:
  // file_limit > 0: the program may write no file beyond that many bytes.
  Started(bool qt, long file_limit = 0) {
    const std::string exe = program();
    if (exe.empty()) return;
    for (char **e = environ; *e != nullptr; ++e) {
      const std::string v = *e;
      if (v.rfind("QV_", 0) == 0 || v.rfind("XDG_", 0) == 0 || v.rfind("QT_QPA", 0) == 0) continue;
      env_.push_back(v);
    }
    env_.push_back("QV_REGISTRY_DIR=" + home.file("reg"));
    env_.push_back("XDG_DATA_HOME=" + home.file("data"));
    env_.push_back("XDG_RUNTIME_DIR=" + home.path());
    env_.push_back("QV_D2XX=" + testsupport::source_path("resources/two_kmvusb.sim"));
    env_.push_back(qt ? "QT_QPA_PLATFORM=offscreen" : "QV_UI=headless");
    args_ = testsupport::program_command({exe, "-f" + testsupport::source_path("resources/kmvusb_two.ini"), "-info", "-silent"});
    std::vector<char *> argv, envp;
    for (auto &a : args_) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env_) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string err = home.file("stderr.txt");
    pid_ = fork();
    if (pid_ == 0) {  // only async-signal-safe calls up to the exec
      const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) ::dup2(fd, 2);
      if (file_limit > 0) {
        const rlimit small{static_cast<rlim_t>(file_limit), static_cast<rlim_t>(file_limit)};
        ::setrlimit(RLIMIT_FSIZE, &small);
      }
      ::signal(SIGXFSZ, SIG_DFL);  // what the program does with it is its own choice
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  }
  bool running() const { return pid_ > 0; }
  // Waits until the program's remote control takes a connection (the end of
  // the start-up; its signal handling is in place long before); false when
  // the program ended first or 60 s passed.
  bool wait_started() {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         std::chrono::steady_clock::now() < until;) {
      if (testsupport::accepts_connections(socket())) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string socket() const { return home.file("qv-dde/kmv-usb.sock"); }
  int end_with(int signo) {
    kill(pid_, signo);
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = 0;
    return status;
  }
  ~Started() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string data_file(const std::string &name) const { return home.file("data/qv/trq/" + name); }
  std::string stderr_text() const { return testsupport::read_file(home.file("stderr.txt")); }

  testsupport::TempDir home;

 private:
  std::vector<std::string> env_, args_;
  pid_t pid_ = -1;
};

struct Run {
  bool qt;
  int signal;
};

class ProgramProcess : public testing::TestWithParam<Run> {};

TEST_P(ProgramProcess, ASignalEndsTheRunThroughTheQuitPath) {
  ASSERT_FALSE(program().empty()) << "the program is not built";
#ifndef TRQ_HAVE_QT_VIEW_TEST
  if (GetParam().qt) GTEST_SKIP() << "no Qt view in this build";
#endif
  Started run(GetParam().qt);
  ASSERT_TRUE(run.running());
  ASSERT_TRUE(run.wait_started()) << run.stderr_text();
  const int status = run.end_with(GetParam().signal);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::exists(run.data_file("trq_auto.set")));
  EXPECT_EQ(testsupport::read_file(run.data_file("trq_err.out")), "");
  EXPECT_FALSE(fs::exists(run.socket()));  // the remote-control service is gone
  if (!GetParam().qt) {
    EXPECT_THAT(run.stderr_text(), HasSubstr("[dialog] Quit TRQ: Quit the program? [x] Save the setup to "
                                             "trq_auto.set -> Quit, saving the setup"));
  }
}

INSTANTIATE_TEST_SUITE_P(Views, ProgramProcess,
                         testing::Values(Run{false, SIGTERM}, Run{false, SIGINT}, Run{false, SIGHUP},
                                         Run{true, SIGTERM}),
                         [](const auto &info) {
                           const int s = info.param.signal;
                           return std::string(info.param.qt ? "Qt" : "Headless") +
                                  (s == SIGTERM ? "Term" : s == SIGINT ? "Int" : "Hup");
                         });

// Under a file-size limit smaller than the setup file the save at quit fails
// as a write (reported, the old file kept), and the program still ends
// through its quit path rather than being killed by the limit.
TEST(ProgramProcessLimits, ASaveOverTheFileSizeLimitFailsAsAWrite) {
  ASSERT_FALSE(program().empty()) << "the program is not built";
  Started run(false, 1024);  // the registration fits, the setup file (about 2 kB) does not
  ASSERT_TRUE(run.running());
  ASSERT_TRUE(run.wait_started()) << run.stderr_text();
  const int status = run.end_with(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << run.stderr_text();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(fs::exists(run.data_file("trq_auto.set")));
  const std::string log = testsupport::read_file(run.data_file("trq_err.out"));
  EXPECT_THAT(log, HasSubstr("Cannot write file " + run.data_file("trq_auto.set")));
  EXPECT_THAT(log, HasSubstr("The settings could not be saved in " + run.home.file("reg")));
  EXPECT_FALSE(fs::exists(run.socket()));
}

}  // namespace
