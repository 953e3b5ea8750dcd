// A program a test starts through testsupport::program_command takes the road
// the build was configured for: under the emulator where the 32-bit programs
// run emulated (chosen because the kernel refuses i386, or forced), directly
// otherwise. The kernel's /proc/<pid>/exe of the child says which program the
// process really is; an emulator fakes that link only for its own process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

constexpr const char *kChildVar = "TRQ_CHILD_ROAD";
constexpr int kUpFd = 3;  // the child writes a byte here once it runs

// The child: this test program started again by the test below. It says it
// runs and stays until its standard input ends, so that it can be looked at.
TEST(ChildRoadChild, WaitsUntilItsInputEnds) {
  if (std::getenv(kChildVar) == nullptr) GTEST_SKIP() << "started only by ChildRoad.*";
  ASSERT_EQ(write(kUpFd, "u", 1), 1);
  close(kUpFd);
  char c = 0;
  while (read(0, &c, 1) > 0) {
  }
}

TEST(ChildRoad, AStartedProgramRunsUnderTheEmulatorExactlyWhereTheRoadIsEmulated) {
  const std::string configured = TRQ_CONFIGURED_EMULATOR;  // empty: the programs run directly
  // the file itself: under an emulator /proc/self/exe names the emulated program
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string expected = fs::canonical(configured.empty() ? self : configured).string();
  const std::string road = configured.empty() ? "the native road" : "the road emulated through " + configured;

  std::vector<std::string> args = testsupport::program_command({self, "--gtest_filter=ChildRoadChild.*"});
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int up[2], input[2];
  ASSERT_EQ(pipe2(up, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  setenv(kChildVar, "1", 1);
  const pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls up to the exec
    dup2(input[0], 0);
    dup2(up[1], kUpFd);
    alarm(60);  // a child that hangs ends instead of stalling the suite
    execv(argv[0], argv.data());
    _exit(127);
  }
  unsetenv(kChildVar);
  close(up[1]);
  close(input[0]);
  ASSERT_GT(pid, 0);
  char c = 0;
  const bool started = read(up[0], &c, 1) == 1;
  close(up[0]);
  // Read while the child waits: its program is the one it runs as now.
  std::error_code ec;
  const std::string exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
  close(input[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(started) << "the child never ran on " << road << " (" << args[0] << " ended with status "
                       << (WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) << ")";
  EXPECT_EQ(exe, expected) << "on " << road << " the child should run as " << expected;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
