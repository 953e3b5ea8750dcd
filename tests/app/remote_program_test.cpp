// The real program, unattended and without windows, driven from outside:
// trq_remote (and the program's own client functions) load a setup file into
// it and make it quit; the trq_auto.set it saves on the way out shows what its
// modules held.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/kmv_io_files.h"
#include "app/qv_dde.h"
#include "platform/dde/dde.h"
#include "tests/app/app_fixture.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Parameters of the file loaded from outside: slot, parameter, value, float.
struct Setting {
  short slot;
  int par;
  float value;
  bool real;
};
const Setting kSettings[] = {
    {0, 1, 1, false},     // connector 1 +5 V on
    {0, 4, 42, true},     // connector 1 gain
    {0, 6, 2.5f, true},   // connector 1 cooler voltage
    {1, 17, 1, false},    // connector 3 +12 V on
    {1, 11, 17, true},    // connector 2 gain
    {1, 28, 1.5f, true},  // connector 4 cooler current limit
};

struct Outcome {
  int status = -1;  // exit status, -1 when it did not end by itself in time
  std::string output;
};

class RemoteProgram : public apptest::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    for (const char *d : {"rt", "data", "cfg", "reg"}) std::filesystem::create_directory(run_.file(d));
    chmod(run_.file("rt").c_str(), 0700);
    env_ = {{"XDG_RUNTIME_DIR", run_.file("rt")}, {"XDG_DATA_HOME", run_.file("data")},
            {"XDG_CONFIG_HOME", run_.file("cfg")}, {"QV_REGISTRY_DIR", run_.file("reg")},
            {"HOME", run_.path()}, {"QV_UI", "headless"}};
    old_runtime_ = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    setenv("XDG_RUNTIME_DIR", run_.file("rt").c_str(), 1);  // for this process's own client
    ASSERT_GE(start_emulation(2), 0);
  }
  void TearDown() override {
    if (program_ > 0) {
      kill(program_, SIGKILL);
      waitpid(program_, nullptr, 0);
    }
    if (old_runtime_.empty()) unsetenv("XDG_RUNTIME_DIR");
    else setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
    dde_handle = -1;
    AppFixture::TearDown();
  }

  // The run command's two simulated modules with their adjust data, and the
  // switch for its ini file that makes both take part.
  std::string use_simulated_modules() {
    env_["QV_D2XX"] = testsupport::source_path("resources/two_kmvusb.sim");
    return "-f" + testsupport::source_path("resources/kmvusb_two.ini");
  }

  // A setup file of this process's emulated modules holding kSettings.
  std::string setup_file(const std::string &name) {
    for (const Setting &s : kSettings)
      set_usbmodule_parameter(s.slot, s.par, s.real ? float_value(s.value) : int_value(static_cast<int>(s.value)));
    const std::string path = run_.file(name);
    EXPECT_EQ(save_usb(path.c_str(), nullptr), 0);
    for (const Setting &s : kSettings) set_usbmodule_parameter(s.slot, s.par, int_value(0));
    return path;
  }

  // The settings of a saved file that differ from kSettings ("" when none).
  std::string differences(const std::string &path) {
    for (const Setting &s : kSettings) set_usbmodule_parameter(s.slot, s.par, int_value(0));
    if (load_usb(path.c_str(), 3, 2) != 0) return "cannot load " + path;
    std::string out;
    for (const Setting &s : kSettings) {
      const float v = s.real ? read_float_parameter(s.slot, s.par) : static_cast<float>(read_int_parameter(s.slot, s.par));
      if (v != s.value)
        out += "module " + std::to_string(s.slot) + " parameter " + std::to_string(s.par) + ": " + std::to_string(v) +
               " for " + std::to_string(s.value) + "\n";
    }
    return out;
  }

  // Starts the program, has trq_remote load a setup file into it and quit it;
  // it ends with 0, and its trq_auto.set holds the file's values.
  void load_and_quit(const std::vector<std::string> &args) {
    const std::string file = setup_file("beam.set");
    start(args);
    const Outcome load = remote({"load", file});
    EXPECT_EQ(load.status, 0) << load.output;
    const Outcome quit = remote({"quit"});
    EXPECT_EQ(quit.status, 0) << quit.output;
    EXPECT_EQ(finish(), 0) << program_output();
    EXPECT_EQ(differences(auto_set()), "") << program_output();
  }

  std::string auto_set() const { return run_.file("data/qv/trq/trq_auto.set"); }

  // Starts the program and waits until its service is there.
  void start(std::vector<std::string> args) {
    args.insert(args.begin(), TRQ_PROGRAM);
    program_ = spawn(args, run_.file("program.out"));
    ASSERT_GT(program_, 0);
    const std::string sock = run_.file("rt/qv-dde/kmv-usb.sock");
    for (auto until = Clock::now() + std::chrono::seconds(30); Clock::now() < until;) {
      if (testsupport::accepts_connections(sock)) return;
      if (waitpid(program_, nullptr, WNOHANG) == program_) {
        program_ = 0;
        FAIL() << "the program ended at start-up:\n" << program_output();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "no service after 30 s:\n" << program_output();
  }

  Outcome remote(std::vector<std::string> args) {
    args.insert(args.begin(), TRQ_REMOTE);
    const std::string out = run_.file("remote.out");
    const pid_t pid = spawn(args, out);
    Outcome o;
    o.status = wait_for(pid, 60);
    o.output = testsupport::read_file(out);
    return o;
  }

  // The program's exit status once it ended by itself.
  int finish() {
    const int status = wait_for(program_, 30);
    program_ = 0;
    return status;
  }

  // What the program wrote to its standard output and error and to its error file.
  std::string program_output() const {
    return testsupport::read_file(run_.file("program.out")) +
           testsupport::read_file(run_.file("data/qv/trq/trq_err.out"));
  }

  std::map<std::string, std::string> env_;
  testsupport::TempDir run_;
  pid_t program_ = 0;

  pid_t spawn(const std::vector<std::string> &args, const std::string &out) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
      const std::string kv = *e;
      if (env_.count(kv.substr(0, kv.find('='))) == 0) env.push_back(kv);
    }
    for (const auto &[k, v] : env_) env.push_back(k + "=" + v);
    std::vector<char *> argv, envp;
    std::vector<std::string> a = testsupport::program_command(args);
    for (std::string &s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string &s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addchdir_np(&fa, run_.path().c_str());
    pid_t pid = -1;
    const int r = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return r == 0 ? pid : -1;
  }

  // Exit status, or -1 (after killing it) when it runs longer than seconds.
  static int wait_for(pid_t pid, int seconds) {
    int status = 0;
    for (auto until = Clock::now() + std::chrono::seconds(seconds); Clock::now() < until;) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

 private:
  std::string old_runtime_;
};

TEST_F(RemoteProgram, LoadThenQuitSavesTheLoadedValuesOnEmulatedModules) {
  load_and_quit({"-s1", "-m2"});
  EXPECT_FALSE(std::filesystem::exists(run_.file("rt/qv-dde/kmv-usb.sock")));  // released at shut-down
  EXPECT_EQ(remote({"quit"}).status, 3);  // no program runs
}

TEST_F(RemoteProgram, LoadThenQuitSavesTheLoadedValuesOnSimulatedModules) {
  load_and_quit({use_simulated_modules()});
}

// The client half of the remote control against the program's server.
TEST_F(RemoteProgram, TheProgramsOwnClientLoadsAndQuits) {
  std::string file = setup_file("beam.set");
  EXPECT_EQ(ClientSendData("File_Name", file.data(), static_cast<int>(file.size())), -1);  // no conversation
  EXPECT_EQ(ActivateClient("KMV-USB"), DDE_ERR_NO_SERVER);
  EXPECT_EQ(dde_handle, -1);
  start({"-s1", "-m2"});
  ASSERT_EQ(ActivateClient("KMV-USB"), 0);
  ASSERT_NE(dde_handle, -1);
  EXPECT_EQ(ActivateClient("KMV-USB"), 0);  // one conversation at a time: nothing new
  EXPECT_EQ(ClientSendData("File_Name", file.data(), static_cast<int>(file.size())), 0);
  char buffer[16] = "x";
  EXPECT_EQ(ClientGetData("Svr_Space", buffer, sizeof buffer), 0);  // accepted, nothing to read
  EXPECT_EQ(DeactivateAndQuitClient(), 0);
  EXPECT_EQ(dde_handle, -1);
  EXPECT_EQ(finish(), 0) << program_output();
  EXPECT_EQ(differences(auto_set()), "") << program_output();
}

// The same on a conversation handle of the caller's.
TEST_F(RemoteProgram, TheClientOnTheCallersHandleQuitsTheProgram) {
  start({"-s1", "-m2"});
  EXPECT_EQ(ActivateClientID("KMV-USB", nullptr), DDE_ERR_BAD_ARGUMENT);
  int handle = -1;
  ASSERT_EQ(ActivateClientID("KMV-USB", &handle), 0);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(dde_handle, -1);  // the shared conversation stays free
  EXPECT_EQ(DeactivateClientID(&handle), 0);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(DeactivateClientID(&handle), 0);  // none open: nothing to do
  ASSERT_EQ(ActivateClientID("KMV-USB", &handle), 0);
  EXPECT_EQ(DeactivateAndQuitClientID(&handle), 0);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(finish(), 0) << program_output();
}

// Requests the program refuses or ignores leave it running with its values.
TEST_F(RemoteProgram, WhatTheProgramIgnoresLeavesItRunning) {
  std::string file = setup_file("beam.set");
  start({"-s1", "-m2"});
  int first = -1;
  ASSERT_EQ(ConnectToDDEServer(&first, "KMV-USB", "DDE Data Exchange", nullptr, nullptr), 0);
  int second = -1;
  ASSERT_EQ(ConnectToDDEServer(&second, "KMV-USB", "DDE Data Exchange", nullptr, nullptr), 0);
  EXPECT_EQ(ClientDDEWrite(first, "File_Name", DDE_TEXT, file.data(), file.size(), 20000), DDE_ERR_REFUSED);
  EXPECT_EQ(ClientDDEWrite(second, "Data_End", DDE_TEXT, file.data(), file.size(), 20000), 0);
  EXPECT_EQ(ClientDDEExecute(second, "quit", 20000), 0);
  EXPECT_EQ(ClientDDEExecute(first, "Quit", 20000), DDE_ERR_REFUSED);
  DisconnectFromDDEServer(first);
  DisconnectFromDDEServer(second);
  const Outcome quit = remote({"quit"});
  EXPECT_EQ(quit.status, 0) << quit.output;
  EXPECT_EQ(finish(), 0) << program_output();
  EXPECT_NE(differences(auto_set()), "");  // nothing was loaded
}

// A second program finds the name taken, says so and runs without remote
// control; requests still reach the first one.
TEST_F(RemoteProgram, ASecondProgramRunsWithoutRemoteControl) {
  start({"-s1", "-m2"});
  std::filesystem::create_directory(run_.file("data2"));
  env_["XDG_DATA_HOME"] = run_.file("data2");  // a data directory of its own
  const std::string out = run_.file("second.out");
  const pid_t second = spawn({TRQ_PROGRAM, "-s1", "-m2"}, out);
  ASSERT_GT(second, 0);
  const std::string warning = "No remote control under the name KMV-USB";
  for (auto until = Clock::now() + std::chrono::seconds(30);
       Clock::now() < until && testsupport::read_file(out).find(warning) == std::string::npos;)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(testsupport::read_file(out).find(warning), std::string::npos) << testsupport::read_file(out);
  const Outcome quit = remote({"quit"});
  EXPECT_EQ(quit.status, 0) << quit.output;
  EXPECT_EQ(finish(), 0) << program_output();
  kill(second, SIGTERM);  // the second one ends in order too
  EXPECT_EQ(wait_for(second, 30), 0) << testsupport::read_file(out);
}

// A FIFO in place of the automatic setup file stops nothing: the start
// reports what it is, the program answers its remote control, and the save at
// quit leaves the FIFO a FIFO.
TEST_F(RemoteProgram, AFifoAutomaticSetupFileIsReportedAndTheProgramAnswers) {
  std::filesystem::create_directories(run_.file("data/qv/trq"));
  ASSERT_EQ(mkfifo(auto_set().c_str(), 0600), 0);
  const std::string file = setup_file("beam.set");
  start({"-s1", "-m2"});
  const Outcome load = remote({"load", file});
  EXPECT_EQ(load.status, 0) << load.output;
  const Outcome quit = remote({"quit"});
  EXPECT_EQ(quit.status, 0) << quit.output;
  EXPECT_EQ(finish(), 0) << program_output();
  EXPECT_NE(program_output().find(auto_set() + " (a FIFO, not a plain file)"), std::string::npos) << program_output();
  struct stat st {};
  EXPECT_TRUE(lstat(auto_set().c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// A FIFO named as the ini file ends the start as a missing one does, with
// what it is, instead of waiting for a writer that never comes.
TEST_F(RemoteProgram, AFifoIniFileEndsTheStartAsAnUnreadableOne) {
  const std::string ini = run_.file("kmvusb.ini");
  ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
  program_ = spawn({TRQ_PROGRAM, "-f" + ini, "-s1", "-m2"}, run_.file("program.out"));
  ASSERT_GT(program_, 0);
  const int status = finish();
  EXPECT_NE(status, -1) << "still waiting after 30 s";
  EXPECT_NE(status, 0);
  EXPECT_NE(program_output().find("can't open configuration file " + ini + " (a FIFO, not a plain file)"),
            std::string::npos)
      << program_output();
}

}  // namespace
