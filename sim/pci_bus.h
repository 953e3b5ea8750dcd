#pragma once
// The simulated PCI bus behind the simulated kernel driver: functions at
// bus/slot/function with their configuration space and address spaces, the
// port and memory decode, and the driver's switches for tests (absent driver,
// version, injected statuses, failing configuration reads) with its request
// log and debug monitor.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace sim {

struct PciSlotId {
  uint32_t bus = 0;
  uint32_t slot = 0;
  uint32_t function = 0;
  auto operator<=>(const PciSlotId &) const = default;
};

struct PciBar {
  bool memory = false;
  uint32_t size = 0;  // 0: not present
  uint64_t base = 0;  // bus address or port, set by the bus
};

// One function on the bus.
class PciFunction {
 public:
  PciFunction();
  virtual ~PciFunction() = default;
  PciFunction(const PciFunction &) = delete;
  PciFunction &operator=(const PciFunction &) = delete;

  // Configuration space (256 bytes). Writes to the identification and BARs
  // are ignored, as the hardware's read-only fields are.
  virtual void config_read(uint32_t offset, uint8_t *data, uint32_t bytes);
  virtual void config_write(uint32_t offset, const uint8_t *data, uint32_t bytes);
  uint32_t config32(uint32_t offset);
  // Sets configuration bytes as the hardware (or the bus assigning BARs) does.
  void set_config(uint32_t offset, uint32_t value, uint32_t bytes);

  // An access of 1, 2, 4 or 8 bytes to an address space.
  virtual uint64_t bar_read(int bar, uint32_t offset, uint32_t bytes) = 0;
  virtual void bar_write(int bar, uint32_t offset, uint32_t bytes, uint64_t value) = 0;

  std::array<PciBar, 6> bars{};
  uint32_t irq = 0;            // interrupt line, 0 none
  uint32_t irq_options = 0x01;  // level-sensitive

 protected:
  std::array<uint8_t, 256> config_{};
};

// A plain function with RAM behind its BARs (other devices on the bus).
class PciPlainFunction : public PciFunction {
 public:
  PciPlainFunction(uint16_t vendor, uint16_t device, uint32_t subsystem);
  uint64_t bar_read(int bar, uint32_t offset, uint32_t bytes) override;
  void bar_write(int bar, uint32_t offset, uint32_t bytes, uint64_t value) override;

 private:
  std::map<std::pair<int, uint32_t>, uint8_t> ram_;
};

// One request as the simulated driver saw it.
struct PciRequest {
  uint32_t function = 0;  // 0: a code the driver did not know
  std::vector<uint8_t> record;  // as the driver left it
  uint32_t status = 0;
};

class PlxPci9050;
struct Plx9050Options;

class PciBus {
 public:
  PciBus() = default;
  PciBus(const PciBus &) = delete;
  PciBus &operator=(const PciBus &) = delete;

  // Places a function; the bus assigns its BAR addresses.
  PciFunction &add(const PciSlotId &at, std::shared_ptr<PciFunction> f);
  PlxPci9050 &add_plx9050(const PciSlotId &at);
  PlxPci9050 &add_plx9050(const PciSlotId &at, const Plx9050Options &options);
  void remove(const PciSlotId &at);
  std::shared_ptr<PciFunction> at(const PciSlotId &at) const;
  // In bus/slot/function order.
  std::vector<PciSlotId> slots() const;

  // Port decode; an unclaimed port reads all ones.
  uint64_t port_read(uint64_t port, uint32_t bytes);
  void port_write(uint64_t port, uint32_t bytes, uint64_t value);

  // An interrupt of the function (delivered by the driver backend).
  void raise_interrupt(const PciSlotId &at);
  std::function<void(const PciSlotId &)> on_interrupt;

  // ---- the simulated driver's switches ----
  bool driver_absent = false;
  uint32_t driver_version = 1230;
  // Status of a scan that found nothing (0 or 0x2000000F).
  uint32_t scan_no_match_status = 0;
  // A second registration of a registered card fails with 0x2000000E.
  bool exclusive_registration = false;
  // Configuration accesses to these slots report failure.
  std::set<PciSlotId> config_fails;
  // The next requests of a function answer these statuses instead.
  void inject(uint32_t function, uint32_t status, int times = 1);
  bool take_injected(uint32_t function, uint32_t *status);

  std::vector<PciRequest> log;
  std::vector<std::string> monitor;  // debug-monitor lines
  // Requests of one function in the log.
  std::vector<const PciRequest *> requests(uint32_t function) const;
  size_t count(uint32_t function) const { return requests(function).size(); }

 private:
  std::map<PciSlotId, std::shared_ptr<PciFunction>> functions_;
  std::map<uint32_t, std::deque<uint32_t>> injected_;
  uint64_t next_memory_ = 0xFEB00000u;
  uint64_t next_port_ = 0xD000u;
};

}  // namespace sim
