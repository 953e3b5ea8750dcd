#pragma once
// The FTDI chip's EEPROM image as D2XX lays it out: the product record in the
// header, the three USB string descriptors, the user area right behind them,
// and the checksum word at the end. Shared by the simulated chips and the
// libftdi1 backend, which writes raw words so that nothing it cannot decode
// is lost.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::d2xx {

// What FT_EE_Read reports and FT_EE_Program writes.
struct ProductRecord {
  uint16_t vendor_id = 0x0403;
  uint16_t product_id = 0x6014;
  std::string manufacturer = "FTDI";
  std::string description;
  std::string serial;
  uint16_t max_power_ma = 90;
  bool self_powered = false;
  bool remote_wakeup = false;
};

namespace eeprom_layout {

constexpr int kAttributes = 0x08;
constexpr int kMaxPower = 0x09;
constexpr int kStringPointers = 0x0E;

// High-speed chips carry a 93C56 (256 bytes) with the strings at 0xA0; the
// others 128 bytes with the strings at 0x18.
inline int image_size(uint32_t chip_type) { return chip_type >= 6 && chip_type <= 8 ? 256 : 128; }
inline int string_start(int size) { return size == 256 ? 0xA0 : 0x18; }

inline uint16_t word_at(const std::vector<uint8_t> &img, int byte) {
  return static_cast<uint16_t>(img[byte] | img[byte + 1] << 8);
}
inline void put_word(std::vector<uint8_t> &img, int byte, uint16_t w) {
  img[byte] = static_cast<uint8_t>(w & 0xFF);
  img[byte + 1] = static_cast<uint8_t>(w >> 8);
}

inline uint16_t checksum(const std::vector<uint8_t> &img) {
  uint16_t cs = 0xAAAA;
  const int words = static_cast<int>(img.size()) / 2;
  for (int i = 0; i < words - 1; ++i) {
    cs = static_cast<uint16_t>(cs ^ word_at(img, 2 * i));
    cs = static_cast<uint16_t>(cs << 1 | cs >> 15);
  }
  return cs;
}
inline void set_checksum(std::vector<uint8_t> &img) {
  put_word(img, static_cast<int>(img.size()) - 2, checksum(img));
}
inline bool checksum_ok(const std::vector<uint8_t> &img) {
  return img.size() >= 4 && word_at(img, static_cast<int>(img.size()) - 2) == checksum(img);
}

// Offset and byte length of string descriptor k (0 manufacturer, 1 description, 2 serial).
inline void string_place(const std::vector<uint8_t> &img, int k, int *offset, int *length) {
  const int size = static_cast<int>(img.size());
  *offset = img[kStringPointers + 2 * k] & (size - 1);
  *length = img[kStringPointers + 2 * k + 1];
}

// The user area [begin, end): behind the last string, up to the checksum word.
inline bool user_area(const std::vector<uint8_t> &img, int *begin, int *end) {
  const int size = static_cast<int>(img.size());
  if (size != 128 && size != 256) return false;
  int strings_end = 0;
  for (int k = 0; k < 3; ++k) {
    int offset = 0, length = 0;
    string_place(img, k, &offset, &length);
    if (length != 0) strings_end = std::max(strings_end, offset + length);
  }
  if (strings_end == 0 || strings_end > size - 2) return false;
  *begin = strings_end;
  *end = size - 2;
  return true;
}

inline bool read_string(const std::vector<uint8_t> &img, int k, std::string *out) {
  int offset = 0, length = 0;
  string_place(img, k, &offset, &length);
  out->clear();
  if (length == 0) return true;
  if (length < 2 || offset + length > static_cast<int>(img.size()) || img[offset + 1] != 0x03) return false;
  for (int i = offset + 2; i + 1 < offset + length; i += 2) out->push_back(static_cast<char>(img[i]));
  return true;
}

// False for an image that is blank, damaged or holds no strings.
inline bool decode(const std::vector<uint8_t> &img, ProductRecord *r) {
  if (!checksum_ok(img)) return false;
  int b = 0, e = 0;
  if (!user_area(img, &b, &e)) return false;
  r->vendor_id = word_at(img, 2);
  r->product_id = word_at(img, 4);
  r->self_powered = (img[kAttributes] & 0x40) != 0;
  r->remote_wakeup = (img[kAttributes] & 0x20) != 0;
  r->max_power_ma = static_cast<uint16_t>(img[kMaxPower] * 2);
  return read_string(img, 0, &r->manufacturer) && read_string(img, 1, &r->description) &&
         read_string(img, 2, &r->serial);
}

// Lays r out over img (header bytes other than the record's are kept), the
// user bytes behind the strings (cut to the room left, the rest zero), and a
// fresh checksum. False, and img untouched, when the strings do not fit with
// min_user bytes of user area behind them.
inline bool lay_out(std::vector<uint8_t> &img, const ProductRecord &r, const std::vector<uint8_t> &user,
                    int min_user = 0) {
  const int size = static_cast<int>(img.size());
  if (size != 128 && size != 256) return false;
  const std::string *strings[3] = {&r.manufacturer, &r.description, &r.serial};
  int at = string_start(size);
  for (const std::string *s : strings) at += 2 + 2 * static_cast<int>(s->size());
  if (at + min_user > size - 2) return false;
  for (const std::string *s : strings)
    if (2 + 2 * s->size() > 0xFF) return false;
  std::vector<uint8_t> out = img;
  put_word(out, 2, r.vendor_id);
  put_word(out, 4, r.product_id);
  out[kAttributes] = static_cast<uint8_t>(0x80 | (r.self_powered ? 0x40 : 0) | (r.remote_wakeup ? 0x20 : 0));
  out[kMaxPower] = static_cast<uint8_t>(std::min(r.max_power_ma / 2, 0xFF));
  std::fill(out.begin() + string_start(size), out.end(), 0);
  at = string_start(size);
  for (int k = 0; k < 3; ++k) {
    const std::string &s = *strings[k];
    const int length = 2 + 2 * static_cast<int>(s.size());
    out[kStringPointers + 2 * k] = static_cast<uint8_t>(size == 128 ? (at | 0x80) : at);
    out[kStringPointers + 2 * k + 1] = static_cast<uint8_t>(length);
    out[at] = static_cast<uint8_t>(length);
    out[at + 1] = 0x03;
    for (size_t i = 0; i < s.size(); ++i) out[at + 2 + 2 * i] = static_cast<uint8_t>(s[i]);
    at += length;
  }
  const size_t room = static_cast<size_t>(size - 2 - at);
  std::copy_n(user.begin(), std::min(room, user.size()), out.begin() + at);
  set_checksum(out);
  img = std::move(out);
  return true;
}

}  // namespace eeprom_layout
}  // namespace platform::d2xx
