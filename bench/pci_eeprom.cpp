// The bridge's bit-banged serial EEPROM on the real clock over a simulated
// KMV-100 card: time and CPU per read, and the shortest set-up and clock-high
// times the EEPROM saw at its clock edges (a 93C46 needs about 1 us). An
// argument sets the part's minimum in microseconds (0: no timing check).
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "pci/p9050_qv.h"
#include "pci/plx_32w123c15.h"
#include "pci/plx_device.h"
#include "pci/plx_eep.h"
#include "platform/driver/sim_backend.h"
#include "platform/win/clock.h"
#include "sim/kmv100_card.h"

namespace {

double cpu_now() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char **argv) {
  platform::driver::SimPciScope scope;
  const sim::PciSlotId at{0, 3, 0};
  auto card = sim::add_kmv100(scope.bus(), at);
  sim::PlxPci9050 &plx = sim::kmv100_bridge(scope.bus(), at);
  if (argc > 1) card->eeprom.min_edge_gap = std::atof(argv[1]) * 1e-6;
  std::printf("the part's minimum set-up and clock-high time: %.3f us\n", card->eeprom.min_edge_gap * 1e6);
  RegisterWinDriver();
  WDCDeviceHandle h = nullptr;
  if (P9050_Open(&h, 0x10B5, 0x9050, 0, 16) != 1) {
    std::fprintf(stderr, "no simulated card: %s\n", PLX_GetLastErr());
    return 1;
  }
  struct Op {
    const char *name;
    int16_t offset, count;
  };
  const Op ops[] = {{"read 2 B (gain limits)", 100, 2}, {"read 28 B (adjust block)", 100, 28},
                    {"read 128 B (all)", 0, 128}};
  constexpr int kRuns = 20;
  std::printf("%-26s %9s %11s %11s %11s %12s %8s %7s\n", "operation", "CNTRL wr", "time (us)", "CPU (us)",
              "setup (us)", "SK high (us)", "refused", "failed");
  for (const Op &op : ops) {
    uint16_t buf[64];
    double wall = 0, cpu = 0;
    size_t writes = 0;
    int failed = 0;
    card->eeprom.shortest_setup = card->eeprom.shortest_high = 1e9;
    card->eeprom.refused_edges = 0;
    for (int i = 0; i < kRuns; ++i) {
      plx.cntrl_writes.clear();
      const double t0 = platform::clock::now(), c0 = cpu_now();
      if (read_pci_eep(h, 0x9050, 128, op.offset, op.count, buf) != 0) ++failed;
      wall += platform::clock::now() - t0;
      cpu += cpu_now() - c0;
      writes = plx.cntrl_writes.size();
    }
    std::printf("%-26s %9zu %11.1f %11.1f %11.3f %12.3f %8d %4d/%d\n", op.name, writes, wall / kRuns * 1e6,
                cpu / kRuns * 1e6, card->eeprom.shortest_setup * 1e6, card->eeprom.shortest_high * 1e6,
                card->eeprom.refused_edges, failed, kRuns);
  }
  PLX_DeviceClose(h);
  return 0;
}
