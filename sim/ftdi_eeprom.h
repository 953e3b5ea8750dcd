#pragma once
// The EEPROM of a simulated FTDI chip: words as the chip's vendor requests
// read and write them, laid out as D2XX and libftdi1 expect (product record,
// string descriptors, user area behind them, checksum word last).
#include <cstdint>
#include <vector>

#include "platform/d2xx/eeprom_layout.h"

namespace sim {

class FtdiEeprom {
 public:
  // 128 bytes for full-speed chips, 256 for high-speed ones (by D2XX chip type).
  explicit FtdiEeprom(uint32_t chip_type = 8);

  int size() const { return static_cast<int>(image_.size()); }
  int words() const { return size() / 2; }
  // Word addresses wrap at the chip's size, as a 93Cxx does.
  uint16_t read_word(int address) const;
  void write_word(int address, uint16_t value);
  // Every word 0xFFFF.
  void erase();
  const std::vector<uint8_t> &bytes() const { return image_; }
  // Changes since the image was last laid out from a record.
  uint64_t writes() const { return writes_; }

  // Lays a product record and user-area bytes out; false (image unchanged)
  // when the strings do not fit.
  bool program(const platform::d2xx::ProductRecord &r, const std::vector<uint8_t> &user);
  // The record, or false for a blank or damaged image.
  bool decode(platform::d2xx::ProductRecord *r) const;
  bool checksum_ok() const { return platform::d2xx::eeprom_layout::checksum_ok(image_); }
  // The user area's bytes (empty when the image holds no strings).
  std::vector<uint8_t> user_data() const;
  // Writes bytes at the start of the user area and fixes the checksum; false
  // when they do not fit.
  bool write_user_data(const uint8_t *data, size_t length);

 private:
  std::vector<uint8_t> image_;
  uint64_t writes_ = 0;
};

}  // namespace sim
