// Driver open and close, the request routine, last-message buffers and debug output.
#include "pci/wdc_driver.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>

#include "platform/driver/device.h"
#include "platform/win/strings.h"

namespace {

constexpr char kLibraryBanner[] = "TRQ PCI access 12.30 (Linux)";

WDDriverHandle g_driver = -1;
uint32_t g_debug_options = WDC_DBG_DEFAULT;
FILE *g_debug_file = nullptr;
char g_plx_text[255];
char g_card_text[256];
// The driver's reason for the outcome of this thread's last request (debug
// texts aside); the interrupt thread sends requests of its own.
thread_local std::string g_reason;

void end_debug_file() {
  if (!g_debug_file) return;
  if (g_debug_file == stderr)
    std::fflush(stderr);
  else
    std::fclose(g_debug_file);
  g_debug_file = nullptr;
}

bool have_stderr() { return stderr && ::fcntl(2, F_GETFD) != -1; }

void debug_out(uint32_t level, const char *format, va_list args) {
  WDDebugText rec;
  std::memset(&rec, 0, sizeof rec);
  va_list copy;
  va_copy(copy, args);
  std::vsnprintf(rec.text, 255, format, copy);  // at most 254 characters
  va_end(copy);
  if (g_debug_options & WDC_DBG_OUT_DBM) {
    rec.level = level;
    rec.section = kWdDebugSectionAll;
    driver_ioctl(WDCode(kWdFnDebugText), g_driver, &rec, sizeof rec, 0);
  }
  if ((g_debug_options & WDC_DBG_OUT_FILE) && g_debug_file) {
    std::fputs(rec.text, g_debug_file);
    std::fflush(g_debug_file);
  }
}

}  // namespace

WDDriverHandle WD_OpenDevice(void) {
  using namespace platform::driver;
  return DrvCreateFile(kDeviceName, kGenericRead, kShareRead | kShareWrite, kOpenExisting, kFlagOverlapped);
}

void WD_CloseDevice(WDDriverHandle handle) {
  if (handle != -1) DrvCloseHandle(handle);
}

WDStatus driver_ioctl(uint32_t code, WDDriverHandle handle, void *record, uint32_t size, int open_per_call) {
  // A failure's debug line must not wipe the reason of the failure.
  const bool keeps_reason = code == WDCode(kWdFnDebugText);
  if (!keeps_reason) g_reason.clear();
  if (open_per_call) handle = WD_OpenDevice();
  WDStatus status = kWdError;
  if (handle == -1) return kWdNoDriverHandle;
  uint32_t returned = 0;
  DrvDeviceIoControl(handle, code, record, size, &status, sizeof status, &returned);
  if (!keeps_reason) g_reason = DrvLastReason();
  if (open_per_call) WD_CloseDevice(handle);
  return status;
}

std::string WdFailureText(WDStatus status) {
  std::string text = Stat2Str(status);
  if (status != kWdSuccess && !g_reason.empty()) text += ": " + g_reason;
  return text;
}

void WDC_Err(const char *format, ...) {
  if (!(g_debug_options & WDC_DBG_LEVEL_ERR)) return;
  va_list args;
  va_start(args, format);
  debug_out(kWdDebugLevelError, format, args);
  va_end(args);
}

void WDC_Trace(const char *format, ...) {
  if (!(g_debug_options & WDC_DBG_LEVEL_TRACE)) return;
  va_list args;
  va_start(args, format);
  debug_out(kWdDebugLevelTrace, format, args);
  va_end(args);
}

int WdcSetLastErrStr(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(g_card_text, sizeof g_card_text, format, args);
  va_end(args);
  g_card_text[sizeof g_card_text - 1] = 0;
  return static_cast<int>(std::strlen(g_card_text));
}

const char *WdcGetLastErrStr(void) { return g_card_text; }

void PLX_SetLastErr(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(g_plx_text, sizeof g_plx_text, format, args);
  va_end(args);
}

const char *PLX_GetLastErr(void) { return g_plx_text; }

WDStatus WDC_SetDebugOptions(uint32_t options, const char *path) {
  end_debug_file();
  g_debug_options = WDC_DBG_DEFAULT;
  if (options == 0) options = WDC_DBG_DEFAULT;
  if (options & WDC_DBG_NONE) {
    g_debug_options = WDC_DBG_NONE;
    return kWdSuccess;
  }
  if (!(options & (WDC_DBG_LEVEL_ERR | WDC_DBG_LEVEL_TRACE))) {
    WDC_Err(
        "WDC_SetDebugOptions: Error - You must set either the WDC_DBG_LEVEL_TRACE, WDC_DBG_LEVEL_ERR, "
        "WDC_DBG_DEFAULT or WDC_DBG_NONE debug option.\n");
    return kWdInvalidParameter;
  }
  if (options & WDC_DBG_LEVEL_TRACE) options |= WDC_DBG_LEVEL_ERR;
  if (options & WDC_DBG_OUT_FILE) {
    if (path && *path) {
      g_debug_file = std::fopen(path, "w");
      if (!g_debug_file) {
        WDC_Err(
            "WDC_SetDebugOptions: Debug init: Failed opening debug file (%s) for writing.\nDebug messages will be "
            "sent to the Debug Monitor and not to %s\n",
            path, path);
        options = (options & ~WDC_DBG_OUT_FILE) | WDC_DBG_OUT_DBM;
      }
    } else if (have_stderr()) {
      g_debug_file = stderr;
    } else {
      WDC_Trace(
          "WDC_SetDebugOptions: Debug init: Cannot access default debug output file.\nDebug messages will be sent "
          "to the Debug Monitor\n");
      options = (options & ~WDC_DBG_OUT_FILE) | WDC_DBG_OUT_DBM;
    }
  }
  if (!(options & (WDC_DBG_OUT_FILE | WDC_DBG_OUT_DBM))) {
    WDC_Err("WDC_SetDebugOptions: Error - You must set either the WDC_DBG_OUT_DBM or WDC_DBG_OUT_FILE debug flag.\n");
    return kWdInvalidParameter;
  }
  g_debug_options = options;
  WDC_Trace("WDC_SetDebugOptions: Debug options set to 0x%lx\n", static_cast<unsigned long>(options));
  return kWdSuccess;
}

uint32_t WDC_GetDebugOptions(void) { return g_debug_options; }

WDStatus WDC_DriverOpen(uint32_t options) {
  if (g_driver != -1) return kWdAlreadyDone;
  g_driver = WD_OpenDevice();
  if (g_driver == -1) return kWdInvalidHandle;
  WDC_Trace("WDC_DriverOpen: User mode version - %s\n", kLibraryBanner);
  if (options & WDC_DRV_OPEN_CHECK_VER) {
    WDVersion ver;
    std::memset(&ver, 0, sizeof ver);
    const WDStatus st = driver_ioctl(WDCode(kWdFnVersion), g_driver, &ver, sizeof ver, 0);
    if (st != kWdSuccess || ver.number < kWdRequiredVersion) {
      WDC_Err("WDC_DriverOpen: Version check failed. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
              Stat2Str(st));
      WDC_DriverClose();
      return st != kWdSuccess ? st : kWdIncorrectVersion;
    }
  }
  return kWdSuccess;
}

WDStatus WDC_DriverClose(void) {
  WDC_SetDebugOptions(WDC_DBG_NONE, nullptr);
  if (g_driver != -1) WD_CloseDevice(g_driver);
  g_driver = -1;
  return kWdSuccess;
}

WDDriverHandle WDC_GetWDHandle(void) { return g_driver; }

WDStatus PLX_LibInit(void) {
  WDStatus st = WDC_SetDebugOptions(WDC_DBG_DEFAULT, nullptr);
  if (st != kWdSuccess) {
    PLX_SetLastErr("Failed to initialize debug options for WDC library.\nError 0x%lx - %s\n",
                   static_cast<unsigned long>(st), Stat2Str(st));
    return st;
  }
  st = WDC_DriverOpen(WDC_DRV_OPEN_CHECK_VER);
  if (st != kWdSuccess) {
    PLX_SetLastErr("Failed to initialize the WDC library. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
                   Stat2Str(st));
    return st;
  }
  return kWdSuccess;
}

WDStatus PLX_LibUninit(void) {
  const WDStatus st = WDC_DriverClose();
  if (st != kWdSuccess)
    PLX_SetLastErr("Failed to uninit the WDC library. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
                   Stat2Str(st));
  return st;
}

WDStatus WDC_Version(char *text, uint32_t *number) {
  if (!text || !number) {
    WdcSetLastErrStr("Error - %s\n", "NULL pointer to version results");
    return kWdInvalidParameter;
  }
  const WDDriverHandle h = WD_OpenDevice();
  if (h == -1) return kWdInvalidHandle;
  WDVersion ver;
  std::memset(&ver, 0, sizeof ver);
  const WDStatus st = driver_ioctl(WDCode(kWdFnVersion), h, &ver, sizeof ver, 0);
  ver.text[sizeof ver.text - 1] = 0;
  platform::copy_bounded(text, sizeof ver.text, ver.text);
  *number = ver.number;
  WD_CloseDevice(h);
  return st;
}

WDStatus WDC_Sleep(uint32_t microseconds, uint32_t options) {
  WDSleep rec{microseconds, options};
  return driver_ioctl(WDCode(kWdFnSleep), g_driver, &rec, sizeof rec, 0);
}
