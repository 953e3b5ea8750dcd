// Cost of saving and loading a two-module setup file with the modules on the
// simulated USB bus: time per operation here, USB writes and bytes, and the
// time a load keeps the bus busy on the (virtual) clock.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/kmv_io_files.h"
#include "app/kmv_syst.h"
#include "bench/sim_modules.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/win/clock.h"
#include "sim/bus.h"
#include "support/Qv_err.h"

namespace {

// Every parameter of both modules, distinct per variant so that each load changes them all.
void set_all(int variant) {
  for (short m = 0; m < 2; ++m) {
    for (int c = 0; c < 4; ++c) {
      const int b = 7 * c;
      for (int k : {1, 2, 3, 5}) set_usbmodule_parameter(m, b + k, int_value((variant + k + c) % 2));
      set_usbmodule_parameter(m, b + 4, float_value(10.0f + 20.0f * variant + c));
      set_usbmodule_parameter(m, b + 6, float_value(1.0f + variant + 0.1f * c));
      set_usbmodule_parameter(m, b + 7, float_value(0.5f + 0.5f * variant + 0.1f * c));
    }
    set_usbmodule_parameter(m, 29, int_value(variant ? 0x55 : 0xAA));
  }
}

}  // namespace

int main() {
  platform::clock::use_virtual(true);
  static char dat[] = TRQ_SOURCE_DIR "/resources/kmv_err.dat";
  error_dat = dat;
  errmsg_to_screen = 0;
  errmsg_to_file = 0;

  auto bus = std::make_shared<sim::Bus>();
  bench::add_two_modules(*bus);
  platform::d2xx::SimBusScope scope(bus);

  char dir_template[] = "/tmp/trq-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  const std::string ini = dir + "/kmvusb.ini";
  if (std::FILE *f = std::fopen(ini.c_str(), "wb")) {
    std::fputs("[KMVUSB_BASE]\nSIMULATION_USB = 0\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n"
               "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n",
               f);
    std::fclose(f);
  }
  if (create_module_parameter_sets() != 0 || init_usbsystem(ini.c_str()) < 0 || no_of_active_kmv != 2) {
    std::printf("the two simulated modules did not start\n");
    return 1;
  }
  hardware = 1;
  // Outputs enabled: every value of a load goes to the modules.
  out_enabled[0] = out_enabled[1] = 0x1F;

  const std::string files[2] = {dir + "/a.set", dir + "/b.set"};
  for (int v = 0; v < 2; ++v) {
    set_all(v);
    if (save_usb(files[v].c_str(), nullptr) != 0) return 1;
  }

  constexpr int kRounds = 100;
  double save_us = 0, load_us = 0, load_virtual_ms = 0;
  uint64_t save_writes = 0, load_writes = 0, load_bytes = 0;
  for (int i = 0; i < kRounds; ++i) {
    bench::clear(*bus);
    auto c0 = std::chrono::steady_clock::now();
    if (save_usb(files[i % 2].c_str(), nullptr) != 0) return 1;
    auto c1 = std::chrono::steady_clock::now();
    save_us += std::chrono::duration<double, std::micro>(c1 - c0).count();
    save_writes += bench::total(*bus).writes;

    bench::clear(*bus);
    const double t0 = platform::clock::now();
    c0 = std::chrono::steady_clock::now();
    if (load_usb(files[(i + 1) % 2].c_str(), 3, 1) != 0) return 1;
    c1 = std::chrono::steady_clock::now();
    load_virtual_ms += (platform::clock::now() - t0) * 1000.0;
    load_us += std::chrono::duration<double, std::micro>(c1 - c0).count();
    const sim::DeviceStats s = bench::total(*bus);
    load_writes += s.writes;
    load_bytes += s.bytes_written;
  }
  long file_size = 0;
  if (std::FILE *f = std::fopen(files[0].c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    file_size = std::ftell(f);
    std::fclose(f);
  }
  std::printf("two-module setup file, %ld bytes, %d rounds, outputs enabled\n", file_size, kRounds);
  std::printf("%-34s %12s %12s %12s %16s\n", "operation", "time (us)", "bus writes", "bus bytes", "bus time (ms)");
  std::printf("%-34s %12.0f %12.1f %12s %16s\n", "save (write, flush, rename)", save_us / kRounds,
              static_cast<double>(save_writes) / kRounds, "-", "-");
  std::printf("%-34s %12.0f %12.1f %12.1f %16.1f\n", "load (every value changes)", load_us / kRounds,
              static_cast<double>(load_writes) / kRounds, static_cast<double>(load_bytes) / kRounds,
              load_virtual_ms / kRounds);
  for (const std::string &f : files) std::remove(f.c_str());
  std::remove(ini.c_str());
  rmdir(dir.c_str());
  kmvusb_cleanup();
  return 0;
}
