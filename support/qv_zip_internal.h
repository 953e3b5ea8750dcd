#pragma once
// What the zip writer and reader share: record layouts, little-endian fields,
// the traditional PKWARE cipher, DOS time stamps and name conversions.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace qvzip {

// Record signatures and sizes.
constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kDescriptorSize = 16;
constexpr size_t kCryptHeaderSize = 12;
constexpr size_t kMaxComment = 0xFFFF;

// General-purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagStrong = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionMadeBy = 0x0B17;

// Limits of the 32-bit format: the all-ones values announce ZIP64.
constexpr uint64_t kMaxSize32 = 0xFFFFFFFEu;
constexpr size_t kMaxEntries = 0xFFFE;

// gzip member.
constexpr uint8_t kGzipId1 = 0x1F;
constexpr uint8_t kGzipId2 = 0x8B;
constexpr uint8_t kGzipDeflate = 8;
constexpr uint8_t kGzipFText = 0x01, kGzipFHcrc = 0x02, kGzipFExtra = 0x04, kGzipFName = 0x08, kGzipFComment = 0x10;
constexpr uint8_t kGzipReserved = 0xE0;
constexpr size_t kGzipTrailer = 8;

inline void put16(uint8_t *b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t *b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t get16(const uint8_t *b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }
inline uint32_t get32(const uint8_t *b) {
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

// The traditional PKWARE cipher: three keys updated with every plain byte.
class ZipCipher {
 public:
  void init(std::string_view password);
  uint8_t encrypt(uint8_t plain) {
    const uint8_t c = static_cast<uint8_t>(plain ^ stream());
    update(plain);
    return c;
  }
  uint8_t decrypt(uint8_t cipher) {
    const uint8_t p = static_cast<uint8_t>(cipher ^ stream());
    update(p);
    return p;
  }

 private:
  uint8_t stream() const {
    const uint32_t t = (keys_[2] | 2u) & 0xFFFFu;
    return static_cast<uint8_t>((t * (t ^ 1u)) >> 8);
  }
  void update(uint8_t c);
  uint32_t keys_[3] = {};
};

// DOS stamp of a time in local time: years before 1980 become 1980-01-01,
// after 2107 the last stamp of 2107.
void dos_stamp(int64_t seconds, uint16_t *dos_time, uint16_t *dos_date);
// Seconds since 1970 of a DOS stamp read as local time.
int64_t dos_seconds(uint16_t dos_time, uint16_t dos_date);

// Names: wide strings are UTF-32 code points, kept as UTF-8 here.
std::string to_utf8(const wchar_t *text);
// Decodes UTF-8 (bytes that are not valid UTF-8 pass as themselves) into out
// (size wide characters with the NUL); false when it does not fit.
bool to_wide(std::string_view text, wchar_t *out, size_t size);
bool is_ascii(std::string_view text);

// The text of a code, "" for an unknown one.
const char *message(int code);
int format_message(int code, char *buffer, size_t length);
int format_message(int code, wchar_t *buffer, size_t length);

// The live objects of one kind behind the handles handed out: a stale or
// foreign pointer is recognised and refused, never used.
template <class T>
class LiveTable {
 public:
  T *add(std::unique_ptr<T> obj) {
    T *raw = obj.get();
    live_.emplace(raw, std::move(obj));
    return raw;
  }
  T *add() { return add(std::make_unique<T>()); }
  bool alive(const T *p) const { return p != nullptr && live_.count(p) != 0; }
  void remove(const T *p) { live_.erase(p); }

 private:
  std::map<const T *, std::unique_ptr<T>> live_;
};

}  // namespace qvzip
