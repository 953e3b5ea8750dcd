// Cost of the KMVUSB_* calls against two simulated modules: USB writes, bytes,
// reply polls and reads over both devices, the time on the (virtual) clock,
// and the processor time the call took here.
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/sim_modules.h"
#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/win/clock.h"
#include "sim/bus.h"

namespace {

using bench::clear;
using bench::total;

struct Op {
  const char *name;
  std::function<int()> run;
};

}  // namespace

int main() {
  platform::clock::use_virtual(true);
  auto bus = std::make_shared<sim::Bus>();
  bench::add_two_modules(*bus);
  platform::d2xx::SimBusScope scope(bus);

  float gain = 40.0f;
  const std::vector<Op> ops = {
      {"init, two modules", [] {
         KMVUSB_force_mode(0, 2, 1);
         return KMVUSB_init(nullptr);
       }},
      {"set supply (+5 V)", [] { return KMVUSB_set_parameter(0, KMVUSB_PAR_P5V, 1, 1.0f); }},
      {"set gain", [&] { return KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, gain += 1.0f); }},
      {"set gain, unchanged", [&] { return KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, gain); }},
      {"set cooler voltage", [] { return KMVUSB_set_parameter(0, KMVUSB_PAR_COOLVOLT, 1, 3.0f); }},
      {"set cooler switch", [] { return KMVUSB_set_parameter(0, KMVUSB_PAR_COOLING, 1, 1.0f); }},
      {"enable one connector", [] { return KMVUSB_enable_outputs(0, 1, 1); }},
      {"enable all (one module)", [] { return KMVUSB_enable_outputs(0, -1, 1); }},
      {"enable all (both)", [] { return KMVUSB_enable_outputs(-1, -1, 1); }},
      {"disable all (both)", [] { return KMVUSB_enable_outputs(-1, -1, 0); }},
      {"get overload state", [] {
         int16_t s = 0;
         return KMVUSB_get_overload_state(0, &s);
       }},
      {"get current-limit state", [] {
         int16_t s = 0;
         return KMVUSB_get_curr_lmt_state(0, &s);
       }},
      {"reconnect", [&] {
         bus->unplug("KMV00001");
         bus->replug("KMV00001", -1, true);
         clear(*bus);
         return KMVUSB_reconnect(0);
       }},
      {"resend after reconnect", [] {
         // 5 enables, then the 12 cooler values, as the operator program does.
         for (int16_t k = 0; k < 5; ++k)
           if (const int r = KMVUSB_enable_outputs(0, k, 1); r != 0) return r;
         for (int kind : {KMVUSB_PAR_COOLCURR, KMVUSB_PAR_COOLVOLT, KMVUSB_PAR_COOLING})
           for (int c = 0; c < 4; ++c) {
             const auto id = static_cast<int16_t>(7 * c + kind);
             float v = 0;
             KMVUSB_get_parameter(0, id, &v);
             if (const int r = KMVUSB_set_parameter(0, id, 1, v); r != 0) return r;
           }
         return 0;
       }},
  };

  std::printf("%-26s %8s %8s %8s %8s %14s %10s\n", "call", "writes", "bytes", "polls", "reads", "virtual (ms)",
              "cpu (us)");
  for (const Op &op : ops) {
    clear(*bus);
    const double t0 = platform::clock::now();
    const auto c0 = std::chrono::steady_clock::now();
    const int r = op.run();
    const auto c1 = std::chrono::steady_clock::now();
    const double ms = (platform::clock::now() - t0) * 1000.0;
    if (r != 0) {
      std::printf("%-26s failed: %d\n", op.name, r);
      return 1;
    }
    const sim::DeviceStats s = total(*bus);
    std::printf("%-26s %8llu %8llu %8llu %8llu %14.1f %10.0f\n", op.name, static_cast<unsigned long long>(s.writes),
                static_cast<unsigned long long>(s.bytes_written), static_cast<unsigned long long>(s.queue_polls),
                static_cast<unsigned long long>(s.reads), ms,
                std::chrono::duration<double, std::micro>(c1 - c0).count());
  }
  KMVUSB_close();
  return 0;
}
