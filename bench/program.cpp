// The operator program's own costs: start-up to the running event loop in
// emulation with two modules (headless, and on the Qt view offscreen where
// this build has it), the quit path, the resident memory over an hour of
// timer ticks on the virtual clock (the run command's two simulated modules
// beside emulation), and the resident memory of the built program after a
// minute of timer ticks on the real clock.
//   bench_program [seconds of ticks, default 60] [hours on the virtual clock, default 1]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/kmvusb_main.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "platform/win/progdir.h"
#include "sim/bus.h"
#ifdef TRQ_BENCH_QT
#include <QApplication>
#include <QTimer>

#include "platform/ui_qt/qt_start.h"
#endif

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

std::vector<char *> argv_of(std::vector<std::string> &words) {
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return argv;
}

std::vector<std::string> program_args() { return {"trq_32x64", "-s1", "-m2", "-info", "-silent"}; }

struct Timing {
  double start_ms = 0, quit_ms = 0;
};

// One run in this process: start-up until the loop first waits, then the
// quit path (headless only: the Qt quit popup would wait for an operator).
Timing run_once(bool qt) {
  Timing t;
  auto words = program_args();
  auto argv = argv_of(words);
  const auto t0 = Clock::now();
  const std::function<void()> in_loop = [&] {
    t.start_ms = ms_since(t0);
    if (qt) {
      QuitUserInterface(0);
      return;
    }
    const auto q0 = Clock::now();
    quit_on_request();
    t.quit_ms = ms_since(q0);
  };
#ifdef TRQ_BENCH_QT
  if (qt) QTimer::singleShot(0, in_loop);
#endif
  if (!qt) platform::ui::headless::later(in_loop);
  trq_main(static_cast<int>(words.size()), argv.data());
  return t;
}

long rss_kb(pid_t pid);

struct Hour {
  long start_kb = 0, end_kb = 0;
  int ticks = 0;
};

// The program in this process, headless, on the virtual clock: a minute to
// settle, then the hours of ticks; resident memory before and after them.
// modules: the run command's simulated bus (recording its traffic as tests
// do, or not), or none for emulation with two modules.
Hour run_hours(double hours, bool simulated, bool record) {
  Hour h;
  std::vector<std::string> words;
  std::shared_ptr<sim::Bus> bus;
  std::unique_ptr<platform::d2xx::SimBusScope> scope;
  if (simulated) {
    bus = std::make_shared<sim::Bus>();
    std::string why;
    if (!sim::load_description(*bus, TRQ_SOURCE_DIR "/resources/two_kmvusb.sim", &why)) {
      std::printf("  simulated bus: %s\n", why.c_str());
      return h;
    }
    bus->record_calls(record);
    scope = std::make_unique<platform::d2xx::SimBusScope>(bus);
    words = {"trq_32x64", "-f" TRQ_SOURCE_DIR "/resources/kmvusb_two.ini", "-info", "-silent"};
  } else {
    words = program_args();
  }
  auto argv = argv_of(words);
  platform::clock::use_virtual(true);
  platform::ui::headless::later([&] {
    platform::ui::headless::advance(60);
    h.start_kb = rss_kb(getpid());
    h.ticks = platform::ui::headless::advance(hours * 3600);
    h.end_kb = rss_kb(getpid());
    quit_on_request();
  });
  trq_main(static_cast<int>(words.size()), argv.data());
  platform::clock::use_virtual(false);
  return h;
}

long rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// The built program on its own, with its own registry and data directory.
pid_t spawn_program(const std::string &exe, bool qt, const fs::path &home) {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    if (v.rfind("QV_", 0) != 0 && v.rfind("XDG_", 0) != 0 && v.rfind("QT_QPA", 0) != 0) env.push_back(v);
  }
  env.push_back("QV_REGISTRY_DIR=" + (home / "reg").string());
  env.push_back("XDG_DATA_HOME=" + (home / "data").string());
  env.push_back("XDG_RUNTIME_DIR=" + home.string());
  env.push_back(qt ? "QT_QPA_PLATFORM=offscreen" : "QV_UI=headless");
  auto words = program_args();
  words[0] = exe;
  auto argv = argv_of(words);
  auto envp = argv_of(env);
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

}  // namespace

int main(int argc, char **argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const double hours = argc > 2 ? std::atof(argv[2]) : 1.0;
  const fs::path home = fs::temp_directory_path() / ("trq_bench_program_" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("QV_REGISTRY_DIR", (home / "reg").c_str(), 1);
  setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  platform::set_program_dir(TRQ_SOURCE_DIR "/resources");
  platform::ui::register_callbacks(trq_callbacks());
  const std::string cwd = fs::current_path().string();

  std::printf("start-up to the running event loop, emulation with two modules (-s1 -m2 -info):\n");
  {
    setenv("QV_UI", "headless", 1);
    std::vector<double> start, quit;
    for (int i = 0; i < 21; ++i) {
      const Timing t = run_once(false);
      start.push_back(t.start_ms);
      quit.push_back(t.quit_ms);
    }
    std::printf("  headless: first %.1f ms, median of 21 %.1f ms\n", start[0], median(start));
    std::printf("quit path (setup file, settings, geometry, timer off), headless: median %.2f ms\n", median(quit));
  }
  std::printf("resident memory over %.3g h of timer ticks, virtual clock, headless, this process:\n", hours);
  {
    setenv("QV_UI", "headless", 1);
    const struct {
      const char *what;
      bool simulated, record;
    } runs[] = {{"emulation, two modules (-s1 -m2)", false, false},
                {"two simulated modules (the run command's bus)", true, false},
                {"the same, recording the traffic as tests do", true, true}};
    for (const auto &r : runs) {
      const Hour h = run_hours(hours, r.simulated, r.record);
      std::printf("  %-46s %6d ticks: %.1f MB -> %.1f MB (%+.2f MB)\n", r.what, h.ticks, h.start_kb / 1024.0,
                  h.end_kb / 1024.0, (h.end_kb - h.start_kb) / 1024.0);
    }
  }
#ifdef TRQ_BENCH_QT
  {
    unsetenv("QV_UI");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qargc = 1;
    static char name[] = "bench_program";
    static char *qargv[] = {name, nullptr};
    const auto q0 = Clock::now();
    platform::ui_qt::start(qargc, qargv, true);
    const double qt_start = ms_since(q0);
    std::vector<double> start;
    for (int i = 0; i < 11; ++i) start.push_back(run_once(true).start_ms);
    std::printf("  Qt offscreen: the Qt application itself %.1f ms; program first %.1f ms, median of 11 %.1f ms\n",
                qt_start, start[0], median(start));
    platform::ui_qt::stop();
  }
#endif
  fs::current_path(cwd);

  std::string exe;
  for (const char *name : {"/trq_32x64", "/trq_32"})
    if (fs::exists(std::string(TRQ_BINARY_DIR) + name)) exe = std::string(TRQ_BINARY_DIR) + name;
  if (exe.empty()) {
    std::printf("resident memory: the program is not built\n");
  } else {
    std::printf("resident memory of %s, emulation with two modules, timer ticking:\n", exe.c_str());
    struct Proc {
      const char *view;
      pid_t pid;
      long first = 0, last = 0;
    };
    std::vector<Proc> procs{{"headless", spawn_program(exe, false, home / "h")}};
#ifdef TRQ_BENCH_QT
    procs.push_back({"Qt offscreen", spawn_program(exe, true, home / "q")});
#endif
    std::this_thread::sleep_for(std::chrono::seconds(2));
    for (Proc &p : procs) p.first = rss_kb(p.pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (Proc &p : procs) {
      p.last = rss_kb(p.pid);
      kill(p.pid, SIGTERM);
      int status = 0;
      waitpid(p.pid, &status, 0);
      std::printf("  %-12s after 2 s %.1f MB, after %d s more %.1f MB (exit %d)\n", p.view, p.first / 1024.0,
                  seconds, p.last / 1024.0, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
  }
  fs::remove_all(home);
  return 0;
}
