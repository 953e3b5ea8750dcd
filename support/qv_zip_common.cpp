// Shared parts of the zip container: progress globals, cipher, DOS time
// stamps, name conversions and the texts of the codes.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "support/qv_zip.h"
#include "support/qv_zip_internal.h"

double ZipPartDone = 0;
void (*update_zip_progress)(void) = nullptr;
int save_abort = 0;
double LoadPartDone = 0;
void (*update_load_progress)(void) = nullptr;
int load_abort = 0;

namespace qvzip {

void ZipCipher::init(std::string_view password) {
  keys_[0] = 0x12345678u;
  keys_[1] = 0x23456789u;
  keys_[2] = 0x34567890u;
  for (char c : password) update(static_cast<uint8_t>(c));
}

void ZipCipher::update(uint8_t c) {
  // The bare table step of CRC-32, without zlib's inversions.
  const z_crc_t *table = get_crc_table();
  auto crc = [table](uint32_t k, uint8_t b) { return static_cast<uint32_t>(table[(k ^ b) & 0xFFu]) ^ (k >> 8); };
  keys_[0] = crc(keys_[0], c);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFFu)) * 134775813u + 1u;
  keys_[2] = crc(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
}

void dos_stamp(int64_t seconds, uint16_t *dos_time, uint16_t *dos_date) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (static_cast<int64_t>(t) != seconds || localtime_r(&t, &tm) == nullptr) tm = {};
  int year = tm.tm_year + 1900;
  if (year < 1980) {
    tm = {};
    tm.tm_mday = 1;
    year = 1980;
  } else if (year > 2107) {
    tm = {};
    year = 2107;
    tm.tm_mon = 11;
    tm.tm_mday = 31;
    tm.tm_hour = 23;
    tm.tm_min = 59;
    tm.tm_sec = 58;
  }
  *dos_date = static_cast<uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  *dos_time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

int64_t dos_seconds(uint16_t dos_time, uint16_t dos_date) {
  struct tm tm {};
  tm.tm_year = ((dos_date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((dos_date >> 5) & 0xF) - 1;
  tm.tm_mday = dos_date & 0x1F;
  tm.tm_hour = (dos_time >> 11) & 0x1F;
  tm.tm_min = (dos_time >> 5) & 0x3F;
  tm.tm_sec = (dos_time & 0x1F) * 2;
  tm.tm_isdst = -1;
  const time_t t = mktime(&tm);
  return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

std::string to_utf8(const wchar_t *text) {
  std::string out;
  if (text == nullptr) return out;
  for (; *text != 0; ++text) {
    auto c = static_cast<uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool to_wide(std::string_view text, wchar_t *out, size_t size) {
  if (out == nullptr || size == 0) return false;
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t c = b;
    size_t len = 1;
    if (b >= 0xC2 && b <= 0xF4) {
      len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      if (i + len > text.size()) {
        len = 1;
      } else {
        c = b & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
          const auto f = static_cast<uint8_t>(text[i + k]);
          if ((f & 0xC0) != 0x80) {
            len = 1;
            c = b;
            break;
          }
          c = (c << 6) | (f & 0x3F);
        }
      }
    }
    if (n + 1 >= size) {
      out[0] = 0;
      return false;
    }
    out[n++] = static_cast<wchar_t>(c);
    i += len;
  }
  out[n] = 0;
  return true;
}

bool is_ascii(std::string_view text) {
  for (char c : text)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

const char *message(int code) {
  switch (code) {
    case ZIP_OK: return "No error";
    case ZIP_ERR_OPEN: return "The file cannot be created or opened";
    case ZIP_ERR_NOMEM: return "Not enough memory";
    case ZIP_ERR_WRITE: return "Writing failed";
    case ZIP_ERR_RESOURCE: return "The data resource is missing";
    case ZIP_ERR_NOTFOUND: return "No entry of that name in the archive";
    case ZIP_ERR_NOTZIP: return "Not a zip archive or gzip stream";
    case ZIP_ERR_READ: return "Reading failed";
    case ZIP_ERR_ENDRECORD: return "The archive's end record is inconsistent";
    case ZIP_ERR_ARGS: return "Bad argument";
    case ZIP_ERR_NOTMEM: return "The archive is not in memory of its own";
    case ZIP_ERR_MEMSIZE: return "The memory archive is too small";
    case ZIP_ERR_TOOBIG: return "Too large for a zip archive without ZIP64";
    case ZIP_ERR_NAME: return "Bad entry name";
    case ZIP_ERR_SEEK: return "The source cannot seek";
    case ZIP_ERR_UNSUPPORTED: return "Compression method or encryption not supported";
    case ZIP_ERR_CORRUPT: return "The data is corrupt";
    case ZIP_ERR_PASSWORD: return "Wrong password";
    case ZIP_ERR_ABORT: return "Aborted";
    case ZIP_ERR_FULL: return "The output buffer is too small";
    default: return "";
  }
}

int format_message(int code, char *buffer, size_t length) {
  if (buffer == nullptr || length == 0) return 0;
  const char *text = message(code);
  const size_t n = std::min(std::strlen(text), length - 1);
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int format_message(int code, wchar_t *buffer, size_t length) {
  if (buffer == nullptr || length == 0) return 0;
  const char *text = message(code);
  size_t n = 0;
  for (; text[n] != '\0' && n + 1 < length; ++n) buffer[n] = static_cast<wchar_t>(text[n]);  // ASCII texts
  buffer[n] = 0;
  return static_cast<int>(n);
}

}  // namespace qvzip

int ZipFormatMessageA(int code, char *buffer, size_t length) { return qvzip::format_message(code, buffer, length); }
int ZipFormatMessageW(int code, wchar_t *buffer, size_t length) { return qvzip::format_message(code, buffer, length); }
int UnzipFormatMessageA(int code, char *buffer, size_t length) { return qvzip::format_message(code, buffer, length); }
int UnzipFormatMessageW(int code, wchar_t *buffer, size_t length) { return qvzip::format_message(code, buffer, length); }
