#pragma once
// The driver's side of the control interface, shared by the backends: it
// decodes each request from the raw record (platform/driver/wire.h), keeps the
// registrations, runs transfers and interrupt waits, and asks a PciHost for
// the bus itself.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/driver/device.h"
#include "platform/driver/wire.h"

namespace platform::driver {

struct PciLocation {
  uint32_t bus = 0;
  uint32_t slot = 0;
  uint32_t function = 0;
  bool operator==(const PciLocation &) const = default;
};

struct PciResource {
  enum Kind { kMemory, kIo, kInterrupt } kind = kMemory;
  uint32_t bar = 0;
  uint64_t start = 0;   // bus address or port
  uint64_t length = 0;
  uint32_t irq = 0;
  uint32_t irq_options = 0;  // kIntLevelSensitive, ...
};

// The status codes the server itself gives.
enum : uint32_t {
  kStOk = 0,
  kStInvalidHandle = 0x20000001u,
  kStNotImplemented = 0x2000000Au,
  kStResourceOverlap = 0x2000000Eu,
  kStNotFound = 0x2000000Fu,
  kStInvalidParameter = 0x2000001Bu,
  kStInvalidIoctl = 0x2000001Fu,
};

// The bus behind the driver.
class PciHost {
 public:
  virtual ~PciHost() = default;
  virtual const char *name() const = 0;
  // False: the driver is not there (its device cannot be opened).
  virtual bool present() { return true; }
  virtual uint32_t driver_version() { return 1230; }
  virtual std::string driver_text() { return "qvdrvr 12.30"; }
  // The functions on the bus in a stable order.
  virtual std::vector<PciLocation> functions() = 0;
  // Reads or writes configuration space; false when the function is missing
  // or the access failed.
  virtual bool config(const PciLocation &at, uint32_t offset, uint8_t *data, uint32_t bytes, bool write) = 0;
  // The function's vendor (low 16 bits) and device id; by default from config space.
  virtual bool ids(const PciLocation &at, uint32_t *id);
  // The function's resources in BAR order, interrupt last; false when missing.
  virtual bool resources(const PciLocation &at, std::vector<PciResource> *out) = 0;
  // Takes hold of a function for a registration (released once per claim); a status.
  virtual uint32_t claim(const PciLocation &at) { return kStOk; }
  virtual void release(const PciLocation &at) {}
  // Maps a memory space into the process: a window of platform/driver/user_addr.h.
  virtual uint32_t map_memory(const PciLocation &at, const PciResource &r, uint32_t *user) = 0;
  virtual void unmap_memory(uint32_t user) { mmio_unmap_default(user); }
  // One port access of 1, 2, 4 or 8 bytes.
  virtual uint32_t port_io(uint64_t port, uint32_t bytes, bool write, uint64_t *value) = 0;
  virtual bool interrupts_supported() { return false; }
  // Status of a scan that found nothing (a driver may answer 0x2000000F).
  virtual uint32_t scan_no_match_status() { return kStOk; }
  // Requests of the debug monitor.
  virtual void debug_text(const std::string &text, uint32_t level, uint32_t section) {}
  // Called before each request: true with *status skips the request.
  virtual bool intercept(uint32_t function, const uint8_t *record, uint32_t size, uint32_t *status) { return false; }
  // Called after each request with its record as the driver leaves it.
  virtual void log(uint32_t function, const uint8_t *record, uint32_t size, uint32_t status) {}

 protected:
  static void mmio_unmap_default(uint32_t user);
};

class RequestServer : public Backend {
 public:
  RequestServer(std::shared_ptr<PciHost> host, wire::Interface iface = wire::kNative);
  ~RequestServer() override;
  const char *name() const override { return host_->name(); }
  intptr_t open() override;
  void close(intptr_t handle) override;
  void request(intptr_t handle, uint32_t code, void *record, uint32_t size, uint32_t *status) override;

  // An interrupt of the function at `at` (simulated hardware): runs the
  // transfer commands of each enabled interrupt on it and wakes its waiter.
  void raise_interrupt(const PciLocation &at);
  // Registered cards (tests).
  size_t registered() const;

 private:
  struct Registration {
    std::optional<PciLocation> at;
    std::vector<uint32_t> windows;
    std::vector<uint32_t> interrupts;
  };
  struct Irq {
    PciLocation at;
    bool enabled = false;
    uint32_t commands = 0;  // user address of the transfer commands
    uint32_t command_count = 0;
    uint32_t count = 0;     // interrupts raised
    uint32_t seen = 0;      // interrupts handed to the waiter
    uint32_t lost = 0;
    uint64_t generation = 0;  // bumped by each disable
  };

  uint32_t dispatch(uint32_t function, uint8_t *rec, uint32_t size, std::unique_lock<std::mutex> &lock);
  uint32_t do_version(uint8_t *rec);
  uint32_t do_scan(uint8_t *rec);
  uint32_t do_config(uint8_t *rec);
  uint32_t do_card_info(uint8_t *rec);
  uint32_t do_register(uint8_t *rec);
  uint32_t do_unregister(uint8_t *rec);
  uint32_t do_transfer(uint8_t *rec);
  uint32_t do_debug(uint8_t *rec);
  uint32_t do_sleep(uint8_t *rec, std::unique_lock<std::mutex> &lock);
  uint32_t do_int_enable(uint8_t *rec);
  uint32_t do_int_disable(uint8_t *rec);
  uint32_t do_int_wait(uint8_t *rec, std::unique_lock<std::mutex> &lock);
  uint32_t transfer_one(uint64_t address, uint32_t command, uint32_t bytes, bool autoinc, uint8_t *data_field);
  void drop(uint32_t handle);

  std::shared_ptr<PciHost> host_;
  wire::Interface iface_;
  const wire::Layout &layout_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  intptr_t next_handle_ = 1;
  std::vector<intptr_t> handles_;
  uint32_t next_card_ = 0x100;
  std::map<uint32_t, Registration> cards_;
  uint32_t next_irq_ = 0x40;
  std::map<uint32_t, Irq> irqs_;
};

}  // namespace platform::driver
