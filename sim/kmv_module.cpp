#include "sim/kmv_module.h"

#include <cstdio>

#include "platform/win/clock.h"

namespace sim {

// One 16-bit register: written low byte then high byte, read back the same way.
class KmvModule::RegisterSlave : public I2cSlave {
 public:
  RegisterSlave(KmvModule &m, int reg) : m_(m), reg_(reg) {}
  bool start(bool) override {
    index_ = 0;
    return true;
  }
  bool write(uint8_t b) override {
    if (index_ % 2 == 0) {
      low_ = b;
    } else {
      const uint16_t old = m_.latch_[reg_];
      m_.latch_[reg_] = static_cast<uint16_t>(b << 8 | low_);
      m_.latch_changed(reg_, old, m_.latch_[reg_]);
    }
    ++index_;
    return true;
  }
  uint8_t read() override {
    const uint16_t v = m_.latch_[reg_] & m_.pins_[reg_];
    const uint8_t b = index_ % 2 == 0 ? static_cast<uint8_t>(v & 0xFF) : static_cast<uint8_t>(v >> 8);
    ++index_;
    return b;
  }

 private:
  KmvModule &m_;
  int reg_;
  int index_ = 0;
  uint8_t low_ = 0;
};

// Frames of three bytes: channel, 0xC0 | code >> 6, (code << 2) & 0xFF.
class KmvModule::DacSlave : public I2cSlave {
 public:
  explicit DacSlave(KmvModule &m) : m_(m) {}
  bool start(bool read) override {
    n_ = 0;
    return !read;
  }
  bool write(uint8_t b) override {
    frame_[n_++] = b;
    if (n_ == 3) {
      n_ = 0;
      const uint8_t ch = frame_[0];
      if (ch > 15 || (frame_[1] & 0xC0) != 0xC0 || (frame_[2] & 0x03) != 0) {
        char buf[80];
        std::snprintf(buf, sizeof buf, "DAC frame %02X %02X %02X malformed", frame_[0], frame_[1], frame_[2]);
        m_.bus_.violation(buf);
        return ch <= 15;
      }
      m_.dac_in_[ch] = static_cast<uint16_t>((frame_[1] & 0x3F) << 6 | frame_[2] >> 2);
    }
    return true;
  }
  uint8_t read() override { return 0xFF; }
  void abort() override { n_ = 0; }
  void stop() override {
    if (n_ != 0) m_.bus_.violation("DAC frame cut short");
    n_ = 0;
  }

 private:
  KmvModule &m_;
  std::array<uint8_t, 3> frame_{};
  int n_ = 0;
};

// A 512-byte EEPROM in two banks: a write sets the address, then fills one
// 16-byte page (its low four address bits wrap), committed at STOP; the chip
// then stays busy for its write cycle and does not acknowledge its address.
class KmvModule::EepromSlave : public I2cSlave {
 public:
  EepromSlave(KmvModule &m, int bank, int *pointer) : m_(m), bank_(bank), pointer_(*pointer) {}
  bool start(bool read) override {
    if (m_.eeprom_busy()) return false;
    reading_ = read;
    got_address_ = false;
    page_.clear();
    if (read) pointer_ = bank_ << 8 | (pointer_ & 0xFF);
    return true;
  }
  bool write(uint8_t b) override {
    if (!got_address_) {
      pointer_ = bank_ << 8 | b;
      got_address_ = true;
      return true;
    }
    page_.push_back(b);
    return true;
  }
  uint8_t read() override {
    const uint8_t b = m_.eeprom_[pointer_];
    pointer_ = (pointer_ + 1) % kEepromSize;
    return b;
  }
  void stop() override {
    if (reading_ || page_.empty()) return;
    const int page_base = pointer_ & ~0x0F;
    int offset = pointer_ & 0x0F;
    for (uint8_t b : page_) {
      m_.eeprom_[page_base + offset] = b;
      offset = (offset + 1) & 0x0F;
    }
    if (page_.size() > 16) m_.bus_.violation("EEPROM page write of more than 16 bytes");
    page_.clear();
    ++m_.eeprom_commits_;
    m_.eeprom_busy_until_ = platform::clock::now() + kEepromWriteCycle;
  }
  void abort() override { page_.clear(); }

 private:
  KmvModule &m_;
  int bank_;
  int &pointer_;
  bool reading_ = false;
  bool got_address_ = false;
  std::vector<uint8_t> page_;
};

KmvModule::KmvModule(I2cBus &bus) : bus_(bus) {
  eeprom_.fill(0xFF);
  // A quiet module: no overload (register 3 bits 0..3 high = overload) and no
  // current limit (register 1 bits 0..3 low = limit).
  pins_.fill(0xFFFF);
  pins_[3] = 0xFFF0;
  latch_.fill(0xFFFF);
  for (int r = 0; r < 4; ++r) {
    slaves_.push_back(std::make_unique<RegisterSlave>(*this, r));
    bus_.attach(static_cast<uint8_t>(kRegisterAddress + r), slaves_.back().get());
  }
  slaves_.push_back(std::make_unique<DacSlave>(*this));
  bus_.attach(kDacAddress, slaves_.back().get());
  for (int bank = 0; bank < 2; ++bank) {
    slaves_.push_back(std::make_unique<EepromSlave>(*this, bank, &eeprom_pointer_));
    bus_.attach(static_cast<uint8_t>(kEepromAddress + bank), slaves_.back().get());
  }
}

KmvModule::~KmvModule() { bus_.detach_all(); }

void KmvModule::set_input_pins(int reg, uint16_t pins) {
  if (reg >= 0 && reg < 4) pins_[reg] = pins;
}
uint16_t KmvModule::input_pins(int reg) const { return reg >= 0 && reg < 4 ? pins_[reg] : 0; }
uint16_t KmvModule::register_latch(int reg) const { return reg >= 0 && reg < 4 ? latch_[reg] : 0; }
uint16_t KmvModule::dac_output(int ch) const { return ch >= 0 && ch < 16 ? dac_out_[ch] : 0; }
uint16_t KmvModule::dac_input(int ch) const { return ch >= 0 && ch < 16 ? dac_in_[ch] : 0; }

void KmvModule::load_eeprom(int address, const std::vector<uint8_t> &bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) eeprom_[(address + i) % kEepromSize] = bytes[i];
}

bool KmvModule::eeprom_busy() const { return platform::clock::now() < eeprom_busy_until_; }

void KmvModule::latch_changed(int reg, uint16_t old_value, uint16_t new_value) {
  if (reg != 1) return;
  // Bit 14 low then high loads the DAC outputs; bit 13 low then high clears them.
  const auto fell = [&](uint16_t bit) { return (old_value & bit) && !(new_value & bit); };
  const auto rose = [&](uint16_t bit) { return !(old_value & bit) && (new_value & bit); };
  if (fell(0x4000)) load_armed_ = true;
  if (fell(0x2000)) clear_armed_ = true;
  if (rose(0x4000) && load_armed_) {
    load_armed_ = false;
    dac_out_ = dac_in_;
    ++dac_loads_;
  }
  if (rose(0x2000) && clear_armed_) {
    clear_armed_ = false;
    dac_in_.fill(0);
    dac_out_.fill(0);
    ++dac_clears_;
  }
}

void KmvModule::power_cycle() {
  latch_.fill(0xFFFF);
  dac_in_.fill(0);
  dac_out_.fill(0);
  load_armed_ = clear_armed_ = false;
  eeprom_busy_until_ = -1.0;
  bus_.reset();
}

}  // namespace sim
