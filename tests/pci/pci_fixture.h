#pragma once
// Tests of the PCI driver access over the simulated PCI bus, on the virtual clock.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pci/plx_32w123c15.h"
#include "platform/driver/sim_backend.h"
#include "platform/driver/wire.h"
#include "sim/pci_bus.h"
#include "sim/plx9050.h"
#include "tests/testsupport/testsupport.h"

namespace pcitest {

namespace wire = platform::driver::wire;

// The driver closed, debug options back to their start value, no backend.
void reset_library();

class PciFixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  sim::PciBus &bus() { return scope_->bus(); }
  // Starts the library (PLX_LibInit) and forgets the requests so far.
  void start();
  // The bus's requests without the debug-monitor ones.
  std::vector<const sim::PciRequest *> requests() const;
  std::vector<uint32_t> functions() const;
  // Cards the simulated driver holds registered.
  size_t registered() { return scope_->server().registered(); }

  static constexpr sim::PciSlotId kSlot{0, 14, 0};
  sim::PlxPci9050 *plx = nullptr;  // the card at kSlot
  size_t live_at_start = 0;        // user ranges before the test

 private:
  testsupport::VirtualClock clock_;
  std::unique_ptr<platform::driver::SimPciScope> scope_;
};

// Little-endian fields of a logged record.
uint32_t u32(const sim::PciRequest &r, uint32_t offset);
uint64_t u64(const sim::PciRequest &r, uint32_t offset);

}  // namespace pcitest
