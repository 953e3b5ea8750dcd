// Cost of each transport operation against the simulated module: USB writes,
// bytes, reply polls and the time on the (virtual) clock, beside the bus's
// physical minimum (SCL clocks at 200 kHz).
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/win/clock.h"
#include "sim/bus.h"

namespace {

struct Op {
  const char *name;
  std::function<int()> run;
};

}  // namespace

int main() {
  platform::clock::use_virtual(true);
  auto bus = std::make_shared<sim::Bus>();
  bus->add_module("KMV00001");
  platform::d2xx::SimBusScope scope(bus);
  sim::FtdiDevice &dev = *bus->device("KMV00001");

  int n = 0;
  if (GetFtdiDevices(5, &n) != 0 || n != 1) {
    std::fprintf(stderr, "no simulated module found\n");
    return 1;
  }
  unsigned char block[49];
  for (int i = 0; i < 49; ++i) block[i] = static_cast<unsigned char>(i * 5);
  unsigned char back[49];
  unsigned short value = 0;
  int done = 0;
  const std::vector<Op> ops = {
      {"open (MPSSE set-up)", [] { return OpenDevice(0, 0); }},
      {"register write", [] { return KMV_set_register(0, 0, 0x0F0F); }},
      {"register read (reg 1)", [&] { return KMV_get_register(0, 1, &value); }},
      {"DAC write", [] { return KMV_set_dac_chan(0, 3, 2048); }},
      {"DAC clear", [] { return KMV_clear_all_dacs(0); }},
      {"EEPROM read 49 B", [&] { return KMV_ReadUserEEP(0, back, 0, 49, &done, 0); }},
      {"EEPROM write 49 B", [&] { return KMV_WriteUserEEP(0, block, 0, 49); }},
  };

  std::printf("%-24s %8s %8s %8s %8s %12s %12s %8s\n", "operation", "writes", "bytes", "polls", "reads",
              "time (ms)", "bus min (ms)", "ratio");
  for (const Op &op : ops) {
    dev.stats() = sim::DeviceStats{};
    const uint64_t pulses0 = dev.i2c().clock_pulses();
    const double t0 = platform::clock::now();
    const int r = op.run();
    const double ms = (platform::clock::now() - t0) * 1000.0;
    const double bus_ms = static_cast<double>(dev.i2c().clock_pulses() - pulses0) / 200.0;  // 200 kHz
    const sim::DeviceStats &s = dev.stats();
    if (r != 0) {
      std::printf("%-24s failed: %d\n", op.name, r);
      return 1;
    }
    std::printf("%-24s %8llu %8llu %8llu %8llu %12.1f %12.3f %8.0f\n", op.name,
                static_cast<unsigned long long>(s.writes), static_cast<unsigned long long>(s.bytes_written),
                static_cast<unsigned long long>(s.queue_polls), static_cast<unsigned long long>(s.reads), ms, bus_ms,
                bus_ms > 0 ? ms / bus_ms : 0.0);
  }
  CloseDevice(0);
  return 0;
}
