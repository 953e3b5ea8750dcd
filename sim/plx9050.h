#pragma once
// A PLX PCI 9050 bridge on the simulated PCI bus: its configuration space, its
// 128-byte register file (in memory space 0 and again in I/O space 1), and the
// local bus behind it in I/O space 2. A card model (a KMV-100 with its serial
// EEPROM) attaches to the local bus and to the CNTRL register's user I/O and
// EEPROM lines; without one, the local space is a set of latches and CNTRL
// reads back what was written, with no EEPROM.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/pci_bus.h"

namespace sim {

// What sits behind the bridge's local bus (local spaces 0 to 3).
class PlxLocalDevice {
 public:
  virtual ~PlxLocalDevice() = default;
  virtual uint64_t local_read(int space, uint32_t offset, uint32_t bytes) = 0;
  virtual void local_write(int space, uint32_t offset, uint32_t bytes, uint64_t value) = 0;
};

// The lines of the CNTRL register a card is wired to: user I/O bits 0 to 11,
// EEPROM clock 24, chip select 25, data in 26, data out 27, present 28.
class PlxCntrlLines {
 public:
  virtual ~PlxCntrlLines() = default;
  // After every write of CNTRL, with the value written.
  virtual void cntrl_written(uint32_t value) = 0;
  // The value a read gives: `latched` is what was last written; the card
  // replaces the bits it drives (inputs, data out, EEPROM present).
  virtual uint32_t cntrl_read(uint32_t latched) = 0;
};

struct Plx9050Options {
  uint32_t subsystem = 0x120610B5u;  // subsystem device << 16 | subsystem vendor
  uint32_t local_space_bytes = 16;   // I/O space 2 (local space 0)
  uint32_t irq = 11;
  bool registers_in_memory = true;   // false: BAR0 absent, the registers only in I/O space 1
  // 256: the larger register file of a bus-master bridge (INTCSR at 0x68, the
  // DMA channels' registers from 0x80), for the library's master-mode calls.
  uint32_t register_bytes = 128;
};

class PlxPci9050 : public PciFunction {
 public:
  static constexpr uint32_t kIntcsr = 0x4C;
  static constexpr uint32_t kCntrl = 0x50;
  static constexpr int kRegisterBytes = 128;
  static constexpr int kMaxRegisterBytes = 256;

  explicit PlxPci9050(const Plx9050Options &options = {});

  uint64_t bar_read(int bar, uint32_t offset, uint32_t bytes) override;
  void bar_write(int bar, uint32_t offset, uint32_t bytes, uint64_t value) override;

  // The register file as the host sees it (CNTRL through the card's lines).
  uint32_t reg(uint32_t offset);
  void set_reg(uint32_t offset, uint32_t value);  // as the host writes it

  void attach_local(std::shared_ptr<PlxLocalDevice> device) { local_ = std::move(device); }
  void attach_cntrl(std::shared_ptr<PlxCntrlLines> lines) { lines_ = std::move(lines); }

  // Writes of the reset or reload bits (the card would lose its setup).
  std::vector<std::string> faults;
  // CNTRL writes in order (the EEPROM bit-bang and the in-use bit show here).
  std::vector<uint32_t> cntrl_writes;

 private:
  uint64_t reg_read(uint32_t offset, uint32_t bytes);
  void reg_write(uint32_t offset, uint32_t bytes, uint64_t value);

  std::array<uint8_t, kMaxRegisterBytes> regs_{};
  uint32_t register_bytes_ = kRegisterBytes;
  std::vector<uint8_t> local_latch_;
  std::shared_ptr<PlxLocalDevice> local_;
  std::shared_ptr<PlxCntrlLines> lines_;
};

}  // namespace sim
