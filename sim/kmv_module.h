#pragma once
// The inside of a simulated KMV-USB module: on its I2C bus the four 16-bit
// I/O registers (0x24..0x27), the 16-channel 12-bit DAC (0x54) and the
// 512-byte EEPROM (0x50 bytes 0..255, 0x51 bytes 256..511).
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/i2c.h"

namespace sim {

class KmvModule {
 public:
  static constexpr uint8_t kRegisterAddress = 0x24;
  static constexpr uint8_t kDacAddress = 0x54;
  static constexpr uint8_t kEepromAddress = 0x50;
  static constexpr int kEepromSize = 512;
  static constexpr double kEepromWriteCycle = 0.005;  // seconds busy after a page commit

  explicit KmvModule(I2cBus &bus);
  ~KmvModule();
  KmvModule(const KmvModule &) = delete;
  KmvModule &operator=(const KmvModule &) = delete;

  // Levels of the register's input pins (default: all 1 but register 3's
  // overload bits 0..3, so a new module reports no overload). The register reads
  // back latch AND pins: register 1 bits 0..3 and register 3 are the inputs.
  void set_input_pins(int reg, uint16_t pins);
  uint16_t input_pins(int reg) const;
  // The register's output latch (0xFFFF at power-on).
  uint16_t register_latch(int reg) const;
  // DAC output and input (written, not yet loaded) codes.
  uint16_t dac_output(int channel) const;
  uint16_t dac_input(int channel) const;
  int dac_loads() const { return dac_loads_; }
  int dac_clears() const { return dac_clears_; }

  std::array<uint8_t, kEepromSize> &eeprom() { return eeprom_; }
  const std::array<uint8_t, kEepromSize> &eeprom() const { return eeprom_; }
  void load_eeprom(int address, const std::vector<uint8_t> &bytes);
  bool eeprom_busy() const;
  // Page writes committed so far.
  int eeprom_commits() const { return eeprom_commits_; }

  // Loss of power: latches, DAC and bus state back to power-on; the EEPROM keeps its content.
  void power_cycle();

  I2cBus &bus() { return bus_; }

 private:
  class RegisterSlave;
  class DacSlave;
  class EepromSlave;
  void latch_changed(int reg, uint16_t old_value, uint16_t new_value);

  I2cBus &bus_;
  std::array<uint16_t, 4> latch_{};
  std::array<uint16_t, 4> pins_{};
  std::array<uint16_t, 16> dac_in_{};
  std::array<uint16_t, 16> dac_out_{};
  std::array<uint8_t, kEepromSize> eeprom_{};
  double eeprom_busy_until_ = -1.0;
  int eeprom_commits_ = 0;
  int eeprom_pointer_ = 0;  // the chip's address counter, shared by both banks
  bool load_armed_ = false;
  bool clear_armed_ = false;
  int dac_loads_ = 0;
  int dac_clears_ = 0;
  std::vector<std::unique_ptr<I2cSlave>> slaves_;
};

}  // namespace sim
