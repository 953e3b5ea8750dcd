// Cost of the operator program's module road with two KMV-USB modules on the
// simulated bus and the headless user interface: one timer tick, one gain
// change from the operator's commit to the DAC, one reconnect with its
// resend, and the filling of both module columns. Bus writes over both
// devices, time on the virtual clock (the transport's fixed waits), and the
// processor time the step took here.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/kmv_meas.h"
#include "bench/sim_modules.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "modules/FTDI_func.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "sim/bus.h"
#include "support/Qv_err.h"

namespace {

namespace ui = platform::ui::headless;

int noop_ctrl(int, int, int, void *, int, int) { return 0; }
int noop_panel(int, int, void *, int, int) { return 0; }
int noop_menu(int, int, void *, int) { return 0; }

// Callbacks other parts of the program bind; the bench does not run them.
const platform::ui::CallbackBinding kOthers[] = {
    {"TrqCtrlCallback", noop_ctrl},  {"PanelCallback", noop_panel},   {"TrqConf_Callback", noop_panel},
    {"LoadTrqCallback", noop_ctrl},  {"SaveTrqCallback", noop_ctrl},  {"ExitCallbackUsb", noop_ctrl},
    {"OptCtrlCallback", noop_ctrl},  {"Trqopt_Callback", noop_panel}, {"ScaleCallback", noop_menu},
    {"EnOutCallback", noop_menu},    {"FloatCallback", noop_menu},    {"TRQ_AdjustCallback", noop_ctrl},
    {"Trqeep_Callback", noop_panel}, {"Apar_Callback", noop_panel},   {"AdjustCallback", noop_ctrl},
};

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Cost {
  double writes = 0, virtual_ms = 0, cpu_us = 0;
};

// Runs step `times` times (prepare before each, not counted) and averages.
Cost measure(sim::Bus &bus, int times, const std::function<void()> &prepare, const std::function<void()> &step) {
  Cost c;
  for (int i = 0; i < times; ++i) {
    prepare();
    const uint64_t w0 = bench::total(bus).writes;
    const double t0 = platform::clock::now(), c0 = cpu_seconds();
    step();
    c.cpu_us += (cpu_seconds() - c0) * 1e6;
    c.virtual_ms += (platform::clock::now() - t0) * 1e3;
    c.writes += static_cast<double>(bench::total(bus).writes - w0);
  }
  c.writes /= times;
  c.virtual_ms /= times;
  c.cpu_us /= times;
  return c;
}

int page(const char *file, int id) {
  const int loaded = LoadPanel(trq_panel, file, id);
  if (loaded < 0) return loaded;
  const int index = InsertPanelAsTabPage(trq_panel, MAIN_TAB, -1, loaded);
  int handle = 0;
  GetPanelHandleFromTabPage(trq_panel, MAIN_TAB, index, &handle);
  DiscardPanel(loaded);
  return handle;
}

}  // namespace

int main() {
  setenv("QV_UI", "headless", 1);
  platform::clock::use_virtual(true);
  auto bus = std::make_shared<sim::Bus>();
  bench::add_two_modules(*bus);
  platform::d2xx::SimBusScope scope(bus);

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "trq_bench_app";
  std::filesystem::create_directories(dir);
  const std::string ini = (dir / "kmvusb.ini").string(), out = (dir / "trq_err.out").string();
  std::ofstream(ini) << "[KMVUSB_BASE]\nSIMULATION_USB = 0\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n"
                        "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n";
  std::string dat = TRQ_SOURCE_DIR "/resources/kmv_err.dat";
  error_dat = dat.data();
  error_out = const_cast<char *>(out.c_str());
  errmsg_to_screen = 0;
  errmsg_to_file = 1;

  if (create_module_parameter_sets() != 0 || init_usbsystem(ini.c_str()) != 0 || no_of_active_kmv != 2) {
    std::printf("the two simulated modules did not start\n");
    return 1;
  }
  hardware = 1;
  platform::ui::register_callbacks(kOthers);
  platform::ui::register_callbacks(kmv_syst_callbacks());
  const char *file = TRQ_SOURCE_DIR "/resources/kmv_meas.uir";
  set_appattr_defaults();
  trq_panel = LoadPanel(0, file, PANEL_MAIN_USB);
  trq_ctrl_panel = page(file, PANEL_CONF);
  trq_opt_panel = page(file, PANEL_TRQOPT);
  trq_adjust_panel = page(file, PANEL_TRQEEP);
  digout_menubar = LoadMenuBar(trq_panel, file, MENUBAR_DIGOUT);
  label_menubar = LoadMenuBar(trq_panel, file, MENUBAR_LABEL);
  if (trq_panel < 0 || trq_ctrl_panel <= 0 || trq_opt_panel <= 0 || trq_adjust_panel <= 0) {
    std::printf("kmv_meas.uir did not load: %s\n", platform::ui::last_error_detail().c_str());
    return 1;
  }
  GetCtrlAttribute(trq_panel, MAIN_WARN_A1, ATTR_FILL_COLOR, &warn_color);
  act_warn_color = warn_color;
  SetCtrlAttribute(trq_panel, MAIN_TIMER, ATTR_ENABLED, 1);
  DisplayPanel(trq_panel);
  double interval = 0;
  GetCtrlAttribute(trq_panel, MAIN_TIMER, ATTR_INTERVAL, &interval);

  // Every connector enabled, coolers on: a tick reads both overload and both current-limit states.
  for (short m : {0, 1}) {
    KMVUSB_enable_outputs(m, -1, 1);
    out_enabled[m] = 31;
    for (int c = 0; c < 4; ++c) set_usbmodule_parameter(m, 7 * c + 5, int_value(1));
  }

  const int kTimes = 200;
  struct Row {
    const char *name;
    Cost cost;
  };
  std::vector<Row> rows;
  rows.push_back({"fill both columns (first)", measure(*bus, 1, [] {}, [] { initialize_ctrl_panel(1); })});
  rows.push_back({"fill both columns", measure(*bus, kTimes, [] {}, [] { initialize_ctrl_panel(0); })});
  const auto tick = [] { ui::tick(trq_panel, MAIN_TIMER); };
  rows.push_back({"timer tick, quiet", measure(*bus, kTimes, [] {}, tick)});
  bus->set_input_pins("KMV00002", 3, 0x0005);
  bus->set_input_pins("KMV00001", 1, 0xFFFA);
  tick();
  rows.push_back({"timer tick, overload blinking", measure(*bus, kTimes, [] {}, tick)});
  bus->set_input_pins("KMV00002", 3, 0x0000);
  bus->set_input_pins("KMV00001", 1, 0xFFFF);
  tick();
  float gain = 10.0f;
  rows.push_back({"gain change, commit to DAC", measure(*bus, kTimes, [] {}, [&] {
                    gain = gain >= 90.0f ? 10.0f : gain + 0.5f;
                    if (platform::ui::input::set_value(trq_ctrl_panel, ghv_ctrls[1][2], gain) != 0) {
                      std::printf("the gain control took no input\n");
                      std::exit(1);
                    }
                  })});
  rows.push_back({"tick that reconnects, with resend", measure(
                                                          *bus, 20,
                                                          [&] {
                                                            bus->unplug("KMV00001");
                                                            tick();
                                                            bus->replug("KMV00001", -1, true);
                                                          },
                                                          tick)});
  if (connection_lost[0] != 0) {
    std::printf("the module did not come back\n");
    return 1;
  }

  std::printf("timer interval %.3f s\n", interval);
  std::printf("%-36s %10s %14s %12s\n", "step", "writes", "virtual (ms)", "cpu (us)");
  for (const Row &r : rows)
    std::printf("%-36s %10.1f %14.2f %12.1f\n", r.name, r.cost.writes, r.cost.virtual_ms, r.cost.cpu_us);
  const double tick_cpu = rows[2].cost.cpu_us * 1e-6;
  std::printf("quiet tick: %.3f %% of the interval in processor time (aim: at most 1 %%)\n",
              100.0 * tick_cpu / interval);
  std::filesystem::remove_all(dir);
  return 0;
}
