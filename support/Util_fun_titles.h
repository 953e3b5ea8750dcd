#pragma once
// Small services around the user interface and time: window titles with the
// emulation marker, print settings kept in a record, panel pictures saved to
// image files, date and time texts, numbers with thousands delimiters, powers
// of two, the seconds timer and the delay, a file scrambler, and texts in
// length-prefixed string handles.
#include <cstddef>
#include <cstdint>

// Sets the panel's title; while the modules run in emulation (the
// application's `hardware` is 0) "  Emulation" follows it. The platform result.
int SetPanelTitle(int panel, const char *title);

// Print settings: fields 1 to 9 carry the platform's print attributes named
// beside them; the last three are the caller's.
struct PrintAttrRecord {
  int32_t attr_1303;    // default 1
  int32_t attr_1327;    // default 1
  int32_t attr_1308;    // default 2
  int32_t attr_1310;    // default 1
  int32_t orientation;  // 1300: 2 landscape; default 2
  int32_t area_width;   // 1301: -1 the whole paper, 0 scaled; default -1
  int32_t area_height;  // 1302: -1 the whole paper, 0 scaled; default 0
  int32_t attr_1306;    // default -1
  int32_t attr_1307;    // default -1
  int32_t user;         // default 0
  int16_t user_short1;  // default 0
  int16_t user_short2;  // default 1
};
static_assert(sizeof(PrintAttrRecord) == 44, "ten 32-bit fields and two 16-bit ones");

// Sets the record to the defaults and returns it.
PrintAttrRecord *DefaultPrintAttr(PrintAttrRecord *record);
// Makes the print area agree with the orientation (landscape: width 0 with
// height -1 becomes -1 and 0; otherwise -1 and 0 become 0 and -1; written back
// into the record), applies fields 1 to 9 and sets attributes 1304, 1305 and
// 1309 to -1. 0, or the first failing platform result.
int SetPrintAttr(PrintAttrRecord *record);
// Reads fields 1 to 9 from the platform; 0 or the first failing result.
int GetPrintAttr(PrintAttrRecord *record);

// Saves a picture of the panel's area (height or width 0: the whole panel)
// as JPEG (format 1), PNG (2), TIFF (3) or BMP (any other), whatever the
// file's own extension. The scope is the platform's and not used. The
// platform result (a view is needed).
int MySavePanelDisplayToFile(int panel, int scope, int area_top, int area_left, int area_height, int area_width,
                             const char *file, int format);

// The current date and time in fixed layouts, each written over the
// platform's own result buffer (the next call of the same family overwrites it):
char *MyDateStr(void);   // "YYYY-MM-DD"
char *MyDateStr1(void);  // "YY/MM/DD"
char *MyDateStr2(void);  // "YYMMDD"
char *MyTimeStr(void);   // "HHMMSS"

// value with a delimiter (0 means ',') before every group of three digits:
// 1234567 gives "1,234,567", -1000 "-1,000", 0 "0". buffer holds 28 bytes
// (INT64_MIN needs 27). Returns buffer; NULL without one.
char *IntToStringWithDelimiter(int64_t value, char *buffer, char delimiter);
// The smallest power of two not below n (1 for 0 and 1); 0 above 2^31,
// where it does not fit.
uint32_t NextPowerOfTwo(uint32_t n);
// The smallest k with 2^k not below n (0 for 0 and 1); 32 above 2^31.
int get_bits_no(uint32_t n);

// The platform's seconds counter and delay (the program's clock).
double QVTimer(void);
void QVDelay(double seconds);

// Writes each byte of the source XOR the low byte of the next number of a
// pseudo-random sequence with a fixed seed; applied to its output it gives
// the source back. 0 when the whole file was processed, -1 when a file
// cannot be opened (told on the standard output) or a read or write failed.
int scramble_file(const char *source, const char *destination);

// A length-prefixed string handle: a pointer to a pointer to a malloc'd
// block of a 32-bit length followed by that many bytes, no NUL.
struct LStr {
  int32_t cnt;
  unsigned char str[1];
};
typedef LStr *LStrPtr;
typedef LStr **LStrHandle;
enum { LV_MEMORY_FULL = 2 };  // the block could not be resized
// The handle holds text afterwards (resized when its length differs).
// 0, or LV_MEMORY_FULL (the handle unchanged); -1 for a null argument.
int CopyCStringToLVString(LStrHandle handle, const char *text);
// At most size - 1 bytes of the handle and a NUL into out.
void CopyLVStringToCString(char *out, LStrHandle handle, int size);
