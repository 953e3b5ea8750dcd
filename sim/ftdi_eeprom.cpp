#include "sim/ftdi_eeprom.h"

#include <algorithm>

namespace sim {

namespace layout = platform::d2xx::eeprom_layout;

FtdiEeprom::FtdiEeprom(uint32_t chip_type) : image_(static_cast<size_t>(layout::image_size(chip_type)), 0xFF) {}

uint16_t FtdiEeprom::read_word(int address) const {
  const int w = ((address % words()) + words()) % words();
  return layout::word_at(image_, 2 * w);
}

void FtdiEeprom::write_word(int address, uint16_t value) {
  const int w = ((address % words()) + words()) % words();
  layout::put_word(image_, 2 * w, value);
  ++writes_;
}

void FtdiEeprom::erase() {
  std::fill(image_.begin(), image_.end(), 0xFF);
  ++writes_;
}

bool FtdiEeprom::program(const platform::d2xx::ProductRecord &r, const std::vector<uint8_t> &user) {
  if (std::all_of(image_.begin(), image_.end(), [](uint8_t b) { return b == 0xFF; })) {
    // A blank chip: a plain header before the record goes on.
    std::fill(image_.begin(), image_.end(), 0);
    layout::put_word(image_, 6, size() == 256 ? 0x0900 : 0x0600);
    layout::put_word(image_, 0x0C, 0x0200);
  }
  if (!layout::lay_out(image_, r, user)) return false;
  writes_ = 0;
  return true;
}

bool FtdiEeprom::decode(platform::d2xx::ProductRecord *r) const { return layout::decode(image_, r); }

std::vector<uint8_t> FtdiEeprom::user_data() const {
  int b = 0, e = 0;
  if (!layout::user_area(image_, &b, &e)) return {};
  return std::vector<uint8_t>(image_.begin() + b, image_.begin() + e);
}

bool FtdiEeprom::write_user_data(const uint8_t *data, size_t length) {
  int b = 0, e = 0;
  if (!layout::user_area(image_, &b, &e) || length > static_cast<size_t>(e - b)) return false;
  std::copy_n(data, length, image_.begin() + b);
  layout::set_checksum(image_);
  return true;
}

}  // namespace sim
