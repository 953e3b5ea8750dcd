// Time from a load request to the values set: the program runs unattended on
// the run command's two simulated KMV-USB modules (real clock, the transport's
// fixed waits included), or on two emulated ones; a setup file of two modules
// is loaded into it, alternately two files so every load changes values. The
// server answers once the load has set every value, so the time a request
// takes is the time to the values set:
//   trq_remote   the command as a script runs it (process start included);
//   client call  ConnectToDDEServer + ClientDDEWrite + Disconnect from here.
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/kmv_io_files.h"
#include "app/kmv_syst.h"
#include "platform/dde/dde.h"
#include "support/Qv_err.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kLoads = 20;

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

pid_t start(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int wait_exit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Two setup files of emulated modules with different values in every
// parameter the bench changes.
bool write_setup_files(const std::string &dir, const std::string files[2]) {
  static char dat[] = TRQ_SOURCE_DIR "/resources/kmv_err.dat";
  static std::string out = dir + "/bench_err.out";
  error_dat = dat;
  error_out = out.data();
  errmsg_to_screen = 0;
  if (create_module_parameter_sets() != 0) return false;
  sim_switch = 200;
  sim_mod_no = 2;
  first_mod_no = 1;
  const std::string ini = dir + "/emulated.ini";
  std::FILE *f = std::fopen(ini.c_str(), "w");
  if (f == nullptr) return false;
  std::fputs("[KMVUSB_BASE]\nSIMULATION_USB = 1\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n"
             "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n",
             f);
  std::fclose(f);
  if (init_usbsystem(ini.c_str()) < 0) return false;
  for (int k = 0; k < 2; ++k) {
    for (short m = 0; m < 2; ++m)
      for (int c = 0; c < 4; ++c) {
        const int base = 1 + 7 * c;  // +5 V of connector c+1; gain +3, cooler voltage +5, current +6
        set_usbmodule_parameter(m, base, int_value(k));
        set_usbmodule_parameter(m, base + 3, float_value(k ? 40.0f + c : 10.0f + c));
        set_usbmodule_parameter(m, base + 5, float_value(k ? 2.5f : 1.0f));
        set_usbmodule_parameter(m, base + 6, float_value(k ? 1.5f : 0.5f));
      }
    if (save_usb(files[k].c_str(), nullptr) != 0) return false;
  }
  return true;
}

struct Figures {
  double min = 0, median = 0, max = 0;
};

Figures figures(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v.front(), v[v.size() / 2], v.back()};
}

bool run(const char *what, std::vector<std::string> args, const std::string &runtime, const std::string files[2]) {
  args.insert(args.begin(), TRQ_PROGRAM);
  const auto started = Clock::now();
  const pid_t program = start(args);
  const std::string sock = runtime + "/qv-dde/kmv-usb.sock";
  while (access(sock.c_str(), F_OK) != 0) {
    if (waitpid(program, nullptr, WNOHANG) == program || ms_since(started) > 30000) {
      std::fprintf(stderr, "%s: the program did not start\n", what);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<double> command, call;
  for (int i = 0; i < kLoads; ++i) {
    const auto t = Clock::now();
    if (wait_exit(start({TRQ_REMOTE, "load", files[i % 2]})) != 0) {
      std::fprintf(stderr, "%s: trq_remote load failed\n", what);
      return false;
    }
    command.push_back(ms_since(t));
  }
  for (int i = 0; i < kLoads; ++i) {
    std::string file = files[i % 2];
    const auto t = Clock::now();
    int handle = -1;
    int r = ConnectToDDEServer(&handle, "KMV-USB", "DDE Data Exchange", nullptr, nullptr);
    if (r == 0) r = ClientDDEWrite(handle, "File_Name", DDE_TEXT, file.data(), file.size(), 20000);
    DisconnectFromDDEServer(handle);
    if (r != 0) {
      std::fprintf(stderr, "%s: the load request failed (%d)\n", what, r);
      return false;
    }
    call.push_back(ms_since(t));
  }
  const int quit = wait_exit(start({TRQ_REMOTE, "quit"}));
  const int status = wait_exit(program);
  const Figures a = figures(command), b = figures(call);
  std::printf("%-26s trq_remote load  %7.1f ms median (%.1f .. %.1f)\n", what, a.median, a.min, a.max);
  std::printf("%-26s client call      %7.1f ms median (%.1f .. %.1f)\n", "", b.median, b.min, b.max);
  if (quit != 0 || status != 0) std::fprintf(stderr, "%s: quit %d, program exit %d\n", what, quit, status);
  return quit == 0 && status == 0;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/bench_remote.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  for (const char *d : {"/rt", "/data", "/cfg", "/reg"}) fs::create_directory(dir + d);
  chmod((dir + "/rt").c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", (dir + "/rt").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/cfg").c_str(), 1);
  setenv("QV_REGISTRY_DIR", (dir + "/reg").c_str(), 1);
  setenv("QV_UI", "headless", 1);
  const std::string files[2] = {dir + "/a.set", dir + "/b.set"};
  bool ok = write_setup_files(dir, files);
  if (!ok) std::fprintf(stderr, "cannot write the setup files\n");
  std::printf("load of a two-module setup file, %d loads each (wall clock)\n", kLoads);
  if (ok) {
    setenv("QV_D2XX", TRQ_SOURCE_DIR "/resources/two_kmvusb.sim", 1);
    ok = run("two simulated modules", {"-f" TRQ_SOURCE_DIR "/resources/kmvusb_two.ini"}, dir + "/rt", files);
    unsetenv("QV_D2XX");
  }
  if (ok) ok = run("two emulated modules", {"-s1", "-m2"}, dir + "/rt", files);
  delete_module_parameter_sets();
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
