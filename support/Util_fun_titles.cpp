#include "support/Util_fun_titles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/Util_fun_paths.h"
#include "support/app_hooks.h"

namespace {

// Applies the calls in order; the first failure wins.
struct FirstError {
  int result = 0;
  void operator()(int r) {
    if (result == 0 && r < 0) result = r;
  }
};

unsigned char *lv_bytes(LStrPtr p) { return reinterpret_cast<unsigned char *>(p) + offsetof(LStr, str); }

int32_t lv_length(LStrPtr p) {
  int32_t n = 0;
  std::memcpy(&n, p, sizeof n);
  return n;
}

// The scrambler's own generator, so the sequence is the same on every build
// and no other user of the C library's generator is disturbed.
class Scrambler {
 public:
  unsigned char next() {
    state_ = state_ * 1103515245u + 12345u;
    return static_cast<unsigned char>((state_ >> 16) & 0x7FFF);
  }

 private:
  uint32_t state_ = 4711;
};

}  // namespace

int SetPanelTitle(int panel, const char *title) {
  std::string t = title != nullptr ? title : "";
  if (hardware == 0) t += "  Emulation";
  return SetPanelAttribute(panel, ATTR_TITLE, t);
}

PrintAttrRecord *DefaultPrintAttr(PrintAttrRecord *record) {
  if (record != nullptr) *record = PrintAttrRecord{1, 1, 2, 1, 2, -1, 0, -1, -1, 0, 0, 1};
  return record;
}

int SetPrintAttr(PrintAttrRecord *record) {
  if (record == nullptr) return UIE_BAD_ARGUMENT;
  PrintAttrRecord &r = *record;
  if (r.orientation == VAL_LANDSCAPE) {
    if (r.area_width == 0 && r.area_height == -1) {
      r.area_width = -1;
      r.area_height = 0;
    }
  } else if (r.area_width == -1 && r.area_height == 0) {
    r.area_width = 0;
    r.area_height = -1;
  }
  FirstError e;
  e(SetPrintAttribute(1303, r.attr_1303));
  e(SetPrintAttribute(1327, r.attr_1327));
  e(SetPrintAttribute(1308, r.attr_1308));
  e(SetPrintAttribute(1310, r.attr_1310));
  e(SetPrintAttribute(ATTR_ORIENTATION, r.orientation));
  e(SetPrintAttribute(ATTR_PRINT_AREA_WIDTH, r.area_width));
  e(SetPrintAttribute(ATTR_PRINT_AREA_HEIGHT, r.area_height));
  e(SetPrintAttribute(1306, r.attr_1306));
  e(SetPrintAttribute(1307, r.attr_1307));
  e(SetPrintAttribute(1304, -1));
  e(SetPrintAttribute(1305, -1));
  e(SetPrintAttribute(1309, -1));
  return e.result;
}

int GetPrintAttr(PrintAttrRecord *record) {
  if (record == nullptr) return UIE_BAD_ARGUMENT;
  PrintAttrRecord &r = *record;
  FirstError e;
  e(GetPrintAttribute(1303, &r.attr_1303));
  e(GetPrintAttribute(1327, &r.attr_1327));
  e(GetPrintAttribute(1308, &r.attr_1308));
  e(GetPrintAttribute(1310, &r.attr_1310));
  e(GetPrintAttribute(ATTR_ORIENTATION, &r.orientation));
  e(GetPrintAttribute(ATTR_PRINT_AREA_WIDTH, &r.area_width));
  e(GetPrintAttribute(ATTR_PRINT_AREA_HEIGHT, &r.area_height));
  e(GetPrintAttribute(1306, &r.attr_1306));
  e(GetPrintAttribute(1307, &r.attr_1307));
  return e.result;
}

int MySavePanelDisplayToFile(int panel, int scope, int area_top, int area_left, int area_height, int area_width,
                             const char *file, int format) {
  if (file == nullptr || file[0] == '\0') return UIE_BAD_ARGUMENT;
  // The view picks the encoding by the extension: a file named otherwise is
  // written under a name that has the right one and renamed.
  const char *ext = format == 1 ? ".jpg" : format == 2 ? ".png" : format == 3 ? ".tif" : ".bmp";
  char own[FNSPLIT_EXT_SIZE];
  fnsplit(file, nullptr, nullptr, nullptr, own);
  const bool tiff = format == 3 && StrICmp(own, ".tiff") == 0;
  const bool jpeg = format == 1 && StrICmp(own, ".jpeg") == 0;
  if (StrICmp(own, ext) == 0 || tiff || jpeg)
    return SavePanelDisplayToFile(panel, area_top, area_left, area_height, area_width, file);
  const std::string temporary = std::string(file) + ".part" + ext;
  const int r = SavePanelDisplayToFile(panel, area_top, area_left, area_height, area_width, temporary.c_str());
  if (r != 0) {
    std::remove(temporary.c_str());
    return r;
  }
  if (std::rename(temporary.c_str(), file) != 0) {
    std::remove(temporary.c_str());
    return UIE_FAILURE;
  }
  return 0;
}

char *MyDateStr(void) {
  // DateStr gives "MM-DD-YYYY".
  char *d = DateStr();
  const std::string s = d;
  std::snprintf(d, s.size() + 1, "%s-%s-%s", s.substr(6, 4).c_str(), s.substr(0, 2).c_str(), s.substr(3, 2).c_str());
  return d;
}

char *MyDateStr1(void) {
  char *d = DateStr();
  const std::string s = d;
  std::snprintf(d, s.size() + 1, "%s/%s/%s", s.substr(8, 2).c_str(), s.substr(0, 2).c_str(), s.substr(3, 2).c_str());
  return d;
}

char *MyDateStr2(void) {
  char *d = DateStr();
  const std::string s = d;
  std::snprintf(d, s.size() + 1, "%s%s%s", s.substr(8, 2).c_str(), s.substr(0, 2).c_str(), s.substr(3, 2).c_str());
  return d;
}

char *MyTimeStr(void) {
  // TimeStr gives "HH:MM:SS".
  char *t = TimeStr();
  const std::string s = t;
  std::snprintf(t, s.size() + 1, "%s%s%s", s.substr(0, 2).c_str(), s.substr(3, 2).c_str(), s.substr(6, 2).c_str());
  return t;
}

char *IntToStringWithDelimiter(int64_t value, char *buffer, char delimiter) {
  if (buffer == nullptr) return nullptr;
  if (delimiter == 0) delimiter = ',';
  // The magnitude as unsigned, so the most negative value has one too.
  uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string groups;
  while (magnitude >= 1000) {
    char group[8];
    std::snprintf(group, sizeof group, "%c%03u", delimiter, static_cast<unsigned>(magnitude % 1000));
    groups.insert(0, group);
    magnitude /= 1000;
  }
  std::snprintf(buffer, 28, "%s%llu%s", value < 0 ? "-" : "", static_cast<unsigned long long>(magnitude),
                groups.c_str());
  return buffer;
}

uint32_t NextPowerOfTwo(uint32_t n) {
  if (n > (1u << 31)) return 0;
  uint32_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

int get_bits_no(uint32_t n) {
  if (n > (1u << 31)) return 32;
  int k = 0;
  while ((static_cast<uint64_t>(1) << k) < n) ++k;
  return k;
}

double QVTimer(void) { return Timer(); }

void QVDelay(double seconds) { Delay(seconds); }

int scramble_file(const char *source, const char *destination) {
  if (source == nullptr || destination == nullptr) return -1;
  const int in = OpenFile(source, VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_BINARY);
  if (in < 0) {
    std::printf("\n Can't open file %s", source);
    return -1;
  }
  const int out = OpenFile(destination, VAL_WRITE_ONLY, VAL_TRUNCATE, VAL_BINARY);
  if (out < 0) {
    std::printf("\n Can't open file %s", destination);
    CloseFile(in);
    return -1;
  }
  Scrambler gen;
  unsigned char block[4096];
  int result = 0;
  for (;;) {
    const int64_t n = ReadFile(in, block, sizeof block);
    if (n < 0) {
      result = -1;
      break;
    }
    if (n == 0) break;
    for (int64_t i = 0; i < n; ++i) block[i] ^= gen.next();
    if (WriteFile(out, block, n) != n) {
      std::printf("\n Error during writing to the file ");
      result = -1;
      break;
    }
  }
  CloseFile(in);
  if (CloseFile(out) != 0 && result == 0) result = -1;
  return result;
}

int CopyCStringToLVString(LStrHandle handle, const char *text) {
  if (handle == nullptr || *handle == nullptr || text == nullptr) return -1;
  const size_t n = std::strlen(text);
  if (n > INT32_MAX - sizeof(int32_t)) return LV_MEMORY_FULL;
  if (lv_length(*handle) != static_cast<int32_t>(n)) {
    void *grown = std::realloc(*handle, offsetof(LStr, str) + (n > 0 ? n : 1));
    if (grown == nullptr) return LV_MEMORY_FULL;
    *handle = static_cast<LStrPtr>(grown);
  }
  const auto len = static_cast<int32_t>(n);
  std::memcpy(*handle, &len, sizeof len);
  std::memcpy(lv_bytes(*handle), text, n);
  return 0;
}

void CopyLVStringToCString(char *out, LStrHandle handle, int size) {
  if (out == nullptr || size <= 0) return;
  out[0] = '\0';
  if (handle == nullptr || *handle == nullptr) return;
  const int32_t len = lv_length(*handle);
  const int n = len < 0 ? 0 : (len < size - 1 ? len : size - 1);
  std::memcpy(out, lv_bytes(*handle), static_cast<size_t>(n));
  out[n] = '\0';
}
