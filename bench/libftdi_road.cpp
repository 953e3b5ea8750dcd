// USB transfers per module operation on the real-device road: the module
// library on the system's libftdi1 over the libusb stand-in and two simulated
// modules. For each operation: transfers by kind, the time those transfers
// would take on a real bus (one transfer per 0.125 ms microframe at high
// speed, per 1 ms frame at full speed), and the time the operation spends in
// its own waits (the 1 ms after every command write, the reply polls, the EEPROM
// write cycle) and waiting for the chip's latency timer, on the virtual clock.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/sim_modules.h"
#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "platform/d2xx/libftdi_backend.h"
#include "platform/win/clock.h"
#include "sim/bus.h"
#include "sim/usb_bus.h"

namespace {

struct Op {
  const char *name;
  std::function<int()> run;
};

// The loader reads LD_LIBRARY_PATH once, at start: put the stand-in's folder
// first and start again.
void ensure_stand_in(char **argv) {
  const char *current = std::getenv("LD_LIBRARY_PATH");
  const std::string dir = TRQ_LIBUSB_SIM_DIR;
  if (current && std::string(current).rfind(dir, 0) == 0) return;
  const std::string path = current && *current ? dir + ":" + current : dir;
  setenv("LD_LIBRARY_PATH", path.c_str(), 1);
  execv("/proc/self/exe", argv);
  std::perror("bench_libftdi_road: restart with the libusb stand-in");
  std::exit(2);
}

}  // namespace

int main(int, char **argv) {
  ensure_stand_in(argv);
  platform::clock::use_virtual(true);
  auto api = platform::d2xx::load_libftdi_api();
  if (!api) {
    std::printf("libftdi1 cannot be loaded here: nothing to measure\n");
    return 0;
  }
  auto bus = std::make_shared<sim::Bus>();
  bench::add_two_modules(*bus);
  sim::UsbBus usb(bus);
  std::string why;
  if (!usb.attach(&why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  platform::d2xx::set_backend(platform::d2xx::make_libftdi_backend(api));

  std::vector<uint8_t> eeprom(64);
  int done = 0;
  const std::vector<Op> ops = {
      {"init, two modules", [] {
         KMVUSB_force_mode(0, 2, 1);
         return KMVUSB_init(nullptr);
       }},
      {"register write", [] { return KMV_set_register(0, 2, 0x0001); }},
      {"register read", [] {
         unsigned short v = 0;
         return KMV_get_register(0, 3, &v);
       }},
      {"DAC write (with load)", [] { return KMV_set_dac_chan(0, 4, 2048); }},
      {"EEPROM read, 49 B", [&] { return KMV_ReadUserEEP(0, eeprom.data(), 0, 49, &done, 0); }},
      {"EEPROM write, 16 B page", [&] { return KMV_WriteUserEEP(0, eeprom.data(), 192, 16); }},
      {"set gain (library)", [] { return KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 40.0f); }},
      {"timer tick, two modules", [] {
         // What the operator program's tick asks of each module: overload, then
         // the cooler current limit.
         for (int16_t m = 0; m < 2; ++m) {
           int16_t state = 0;
           if (const int r = KMVUSB_get_overload_state(m, &state); r != 0) return r;
           if (const int r = KMVUSB_get_curr_lmt_state(m, &state); r != 0) return r;
         }
         return 0;
       }},
      {"reconnect after replug", [&] {
         bus->unplug("KMV00001");
         bus->replug("KMV00001", -1, true);
         return KMVUSB_reconnect(0);
       }},
      {"reply withheld (fails)", [&] {
         bus->device("KMV00001")->withhold_replies(1);
         return KMV_set_register(0, 2, 0x0001) == -1 ? 0 : 1;
       }},
  };

  std::printf("%-24s %5s %5s %5s %6s %7s %9s %9s %10s %10s\n", "operation", "ctrl", "out", "in", "empty",
              "total", "HS (ms)", "FS (ms)", "waits (ms)", "latency");
  for (const Op &op : ops) {
    usb.clear_counts();
    const double t0 = platform::clock::now();
    const int r = op.run();
    const double elapsed = platform::clock::now() - t0;
    if (r != 0) {
      std::printf("%-24s failed: %d\n", op.name, r);
      return 1;
    }
    const sim::UsbCounts c = usb.counts();
    const double n = static_cast<double>(c.transfers());
    std::printf("%-24s %5llu %5llu %5llu %6llu %7llu %9.3f %9.1f %10.1f %10.1f\n", op.name,
                static_cast<unsigned long long>(c.control), static_cast<unsigned long long>(c.bulk_out),
                static_cast<unsigned long long>(c.bulk_in), static_cast<unsigned long long>(c.empty_in),
                static_cast<unsigned long long>(c.transfers()), n * 0.125, n * 1.0,
                (elapsed - c.latency_wait) * 1000.0, c.latency_wait * 1000.0);
  }
  std::printf(
      "\nctrl/out/in: control, bulk OUT and bulk IN transfers; empty: IN transfers that brought the status\n"
      "bytes only. HS/FS: the transfers at 0.125 ms (high speed) and 1 ms (full speed) each. waits: the\n"
      "operation's own waits on the virtual clock; latency: time IN transfers waited for the chip.\n");
  KMVUSB_close();
  platform::d2xx::set_backend(platform::d2xx::make_empty_backend());
  return 0;
}
