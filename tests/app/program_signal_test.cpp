// The built program, run as a user runs it: unattended with QV_UI=headless
// (and on the Qt view offscreen where it has one), ended by SIGTERM or
// SIGINT through its quit path.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/testsupport/testsupport.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

std::string program() {
  for (const char *name : {"/trq_32x64", "/trq_32"})
    if (fs::exists(std::string(TRQ_BINARY_DIR) + name)) return std::string(TRQ_BINARY_DIR) + name;
  return "";
}

struct Run {
  bool qt;
  int signal;
};

class ProgramProcess : public testing::TestWithParam<Run> {};

TEST_P(ProgramProcess, ASignalEndsTheRunThroughTheQuitPath) {
  const std::string exe = program();
  ASSERT_FALSE(exe.empty()) << "the program is not built";
#ifndef TRQ_HAVE_QT_VIEW_TEST
  if (GetParam().qt) GTEST_SKIP() << "no Qt view in this build";
#endif
  testsupport::TempDir home;
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    if (v.rfind("QV_", 0) == 0 || v.rfind("XDG_", 0) == 0 || v.rfind("QT_QPA", 0) == 0) continue;
    env.push_back(v);
  }
  env.push_back("QV_REGISTRY_DIR=" + home.file("reg"));
  env.push_back("XDG_DATA_HOME=" + home.file("data"));
  env.push_back("XDG_RUNTIME_DIR=" + home.path());
  env.push_back(GetParam().qt ? "QT_QPA_PLATFORM=offscreen" : "QV_UI=headless");
  std::vector<std::string> args = testsupport::program_command({exe, "-s1", "-m2", "-info", "-silent"});
  std::vector<char *> argv, envp;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
  // The registration is written early in the start-up; the window follows at once.
  for (int i = 0; i < 200 && !fs::exists(home.file("reg/user.reg")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  kill(pid, GetParam().signal);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::exists(home.file("data/qv/trq/trq_auto.set")));
  EXPECT_EQ(testsupport::read_file(home.file("data/qv/trq/trq_err.out")), "");
}

INSTANTIATE_TEST_SUITE_P(Views, ProgramProcess,
                         testing::Values(Run{false, SIGTERM}, Run{false, SIGINT}, Run{true, SIGTERM}),
                         [](const auto &info) {
                           return std::string(info.param.qt ? "Qt" : "Headless") +
                                  (info.param.signal == SIGTERM ? "Term" : "Int");
                         });

}  // namespace
