#pragma once
// The driver's user-mode side: opening and closing the driver (one handle per
// process), the one request routine, the status texts, the last-message
// buffers of the PLX and card layers, and the debug output.
#include <cinttypes>
#include <cstdint>
#include <string>

#include "pci/wd_records.h"

// Debug options.
enum : uint32_t {
  WDC_DBG_OUT_DBM = 0x01,
  WDC_DBG_OUT_FILE = 0x02,
  WDC_DBG_LEVEL_ERR = 0x10,
  WDC_DBG_LEVEL_TRACE = 0x20,
  WDC_DBG_NONE = 0x100,
  WDC_DBG_DEFAULT = 0x21,
};

// WDC_DriverOpen option: check the driver's version.
enum : uint32_t { WDC_DRV_OPEN_CHECK_VER = 0x1 };

// The oldest driver the library works with (12.3).
constexpr uint32_t kWdRequiredVersion = 1230;

// PLX_LibInit: debug options and the driver, with the version check.
WDStatus PLX_LibInit(void);
WDStatus PLX_LibUninit(void);
WDStatus WDC_DriverOpen(uint32_t options);
WDStatus WDC_DriverClose(void);
// The process's driver handle, -1 when closed.
WDDriverHandle WDC_GetWDHandle(void);
WDStatus WDC_SetDebugOptions(uint32_t options, const char *path);
// The current debug options word.
uint32_t WDC_GetDebugOptions(void);

void WDC_Err(const char *format, ...) __attribute__((format(printf, 1, 2)));
void WDC_Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The card layer's last text (256 bytes with the terminating 0).
int WdcSetLastErrStr(const char *format, ...) __attribute__((format(printf, 1, 2)));
const char *WdcGetLastErrStr(void);
// The PLX layer's last text (255 bytes with the terminating 0).
const char *PLX_GetLastErr(void);
void PLX_SetLastErr(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Sends one request. With open_per_call the device is opened for this request
// alone and `handle` is not used.
WDStatus driver_ioctl(uint32_t code, WDDriverHandle handle, void *record, uint32_t size, int open_per_call);
// Opens the driver device as the library does; -1 when it cannot.
WDDriverHandle WD_OpenDevice(void);
void WD_CloseDevice(WDDriverHandle handle);

const char *Stat2Str(WDStatus status);
// Stat2Str of a failure, followed by the driver's reason when the last request
// gave one ("Failed to map in user space: no write access to resource0 ...").
std::string WdFailureText(WDStatus status);

// text must hold 128 characters.
WDStatus WDC_Version(char *text, uint32_t *number);
WDStatus WDC_Sleep(uint32_t microseconds, uint32_t options);

// Pointers in messages: the width of the build, upper-case hex, no "0x" of its own.
#define WD_PTR_FMT "%08" PRIXPTR
