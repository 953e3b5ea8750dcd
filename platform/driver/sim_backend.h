#pragma once
// The driver device over the simulated PCI bus (sim/pci_bus.h).
#include <memory>

#include "platform/driver/server.h"
#include "sim/pci_bus.h"

namespace platform::driver {

// The simulated driver of interface `iface` (the build's own by default; the
// other one answers its codes only).
std::shared_ptr<RequestServer> make_sim_backend(std::shared_ptr<sim::PciBus> bus,
                                                wire::Interface iface = wire::kNative);
// The bus QV_PCI=sim gives: one KMV-100 card (PLX 9050) at bus 0, slot 14.
std::shared_ptr<RequestServer> make_sim_backend_from_env();

// The simulated bus behind the driver device while the object lives (tests).
class SimPciScope {
 public:
  explicit SimPciScope(std::shared_ptr<sim::PciBus> bus = std::make_shared<sim::PciBus>(),
                       wire::Interface iface = wire::kNative);
  ~SimPciScope();
  SimPciScope(const SimPciScope &) = delete;
  SimPciScope &operator=(const SimPciScope &) = delete;
  sim::PciBus &bus() { return *bus_; }
  RequestServer &server() { return *server_; }

 private:
  std::shared_ptr<sim::PciBus> bus_;
  std::shared_ptr<RequestServer> server_;
};

}  // namespace platform::driver
