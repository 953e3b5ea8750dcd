// The library's operating-system layer over POSIX and the C++ thread library.
#include "pci/wd_os.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "pci/wdc_driver.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"

namespace {

struct ThreadRecord {
  std::thread thread;
  std::atomic<bool> running{true};
};

struct OsEvent {
  std::mutex m;
  std::condition_variable cv;
  bool signalled = false;
};

struct OsMutex {
  std::mutex m;
};

}  // namespace

WDStatus ThreadStart(HANDLE *thread, HANDLER_FUNC function, void *data) {
  if (!thread || !function) return kWdInvalidParameter;
  auto rec = std::make_unique<ThreadRecord>();
  ThreadRecord *r = rec.get();
  try {
    // The platform's default stack: 4096 bytes is below what Linux allows.
    r->thread = std::thread([r, function, data] {
      function(data);
      r->running.store(false);
    });
  } catch (const std::system_error &) {
    return kWdInsufficientResources;
  }
  *thread = rec.release();
  return kWdSuccess;
}

void ThreadWait(HANDLE thread) {
  auto *r = static_cast<ThreadRecord *>(thread);
  if (!r) return;
  std::unique_ptr<ThreadRecord> owned(r);
  // join waits as the running-flag poll did, and frees the thread
  if (owned->thread.joinable()) owned->thread.join();
}

void ThreadStop(HANDLE thread) { ThreadWait(thread); }

WDStatus OsEventCreate(HANDLE *event) {
  if (!event) return kWdInsufficientResources;
  *event = std::make_unique<OsEvent>().release();
  return kWdSuccess;
}

void OsEventClose(HANDLE event) { std::unique_ptr<OsEvent> gone(static_cast<OsEvent *>(event)); }

WDStatus OsEventWait(HANDLE event, uint32_t seconds) {
  auto *e = static_cast<OsEvent *>(event);
  if (!e) return kWdInternalError;
  std::unique_lock<std::mutex> lock(e->m);
  if (seconds == 0xFFFFFFFFu) {
    e->cv.wait(lock, [e] { return e->signalled; });
  } else if (!e->cv.wait_for(lock, std::chrono::seconds(seconds), [e] { return e->signalled; })) {
    return kWdTimeout;
  }
  e->signalled = false;  // auto-reset
  return kWdSuccess;
}

WDStatus OsEventSignal(HANDLE event) {
  auto *e = static_cast<OsEvent *>(event);
  if (!e) return kWdInternalError;
  {
    std::lock_guard<std::mutex> g(e->m);
    e->signalled = true;
  }
  e->cv.notify_one();
  return kWdSuccess;
}

WDStatus OsEventReset(HANDLE event) {
  const WDStatus st = OsEventWait(event, 0);
  return st == kWdTimeout ? kWdSuccess : st;
}

WDStatus OsMutexCreate(HANDLE *mutex) {
  if (!mutex) return kWdInsufficientResources;
  *mutex = std::make_unique<OsMutex>().release();
  return kWdSuccess;
}

void OsMutexClose(HANDLE mutex) { std::unique_ptr<OsMutex> gone(static_cast<OsMutex *>(mutex)); }

WDStatus OsMutexLock(HANDLE mutex) {
  auto *m = static_cast<OsMutex *>(mutex);
  if (!m) return kWdInvalidParameter;
  m->m.lock();
  return kWdSuccess;
}

WDStatus OsMutexUnlock(HANDLE mutex) {
  auto *m = static_cast<OsMutex *>(mutex);
  if (!m) return kWdInvalidParameter;
  m->m.unlock();
  return kWdSuccess;
}

int SleepWrapper(uint32_t microseconds) {
  const WDDriverHandle h = WD_OpenDevice();
  if (h == -1) return -1;
  WDSleep rec{microseconds, 0};
  const WDStatus st = driver_ioctl(WDCode(kWdFnSleep), h, &rec, sizeof rec, 0);
  WD_CloseDevice(h);
  return static_cast<int>(st);
}

void vPrintDbgMessage(uint32_t level, uint32_t section, const char *format, va_list args) {
  const WDDriverHandle h = WD_OpenDevice();
  if (h == -1) return;
  WDDebugText rec;
  std::memset(&rec, 0, sizeof rec);
  std::vsnprintf(rec.text, 255, format, args);
  rec.level = level;
  rec.section = section;
  driver_ioctl(WDCode(kWdFnDebugText), h, &rec, sizeof rec, 0);
  WD_CloseDevice(h);
}

void PrintDbgMessage(uint32_t level, uint32_t section, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vPrintDbgMessage(level, section, format, args);
  va_end(args);
}

void FreeDllPtr(void **pointer) {
  if (!pointer) return;
  std::free(*pointer);
  *pointer = nullptr;
}

uint32_t GetPageSize(void) { return static_cast<uint32_t>(::sysconf(_SC_PAGESIZE)); }

uint32_t GetPageCount(const void *address, uint32_t bytes) {
  const uint64_t page = GetPageSize();
  const uint64_t in_page = reinterpret_cast<uintptr_t>(address) % page;
  return static_cast<uint32_t>((page + bytes + in_page - 1) / page);
}

int UtilGetFileSize(const char *path, uint32_t *size, char *error) {
  constexpr size_t kErrorBytes = 256;
  char scratch[kErrorBytes];
  if (!error) error = scratch;
  error[0] = 0;
  if (!path || !size) return 0;
  std::string refused;
  FILE *f = platform::files::fopen_plain(path, "rb", &refused);
  if (!f && !refused.empty()) {
    std::snprintf(error, kErrorBytes, "Failed opening %s for reading: %s\n", path, refused.c_str());
    return 0;
  }
  if (!f) {
    const int err = errno;
    char head[kErrorBytes];
    std::snprintf(head, sizeof head, "Failed opening %s for reading.\nLast error: 0x%lx", path,
                  static_cast<unsigned long>(err));
    const char *sys = std::strerror(err);
    if (sys && *sys)
      std::snprintf(error, kErrorBytes, "%s - %s", head, sys);
    else
      std::snprintf(error, kErrorBytes, "%s\n", head);
    return 0;
  }
  struct stat st {};
  const bool ok = ::fstat(::fileno(f), &st) == 0;
  if (ok) *size = static_cast<uint32_t>(st.st_size);
  if (std::fclose(f) != 0) {
    std::snprintf(error, kErrorBytes, "Failed closing file handle to %s (0x" WD_PTR_FMT ")\n", path,
                  reinterpret_cast<uintptr_t>(f));
    return 0;
  }
  return ok ? 1 : 0;
}

WDStatus UtilGetStringFromUser(char *buffer, uint32_t size, const char *prompt, const char *default_text) {
  if (!buffer || size < 2) return kWdInvalidParameter;
  std::printf("%s", prompt ? prompt : "");
  if (default_text && *default_text) std::printf(" (Default: %s)", default_text);
  std::printf(":\n > ");
  std::fflush(stdout);
  if (!std::fgets(buffer, static_cast<int>(size), stdin)) return kWdOperationFailed;
  const size_t n = std::strlen(buffer);
  if (n && buffer[n - 1] == '\n') buffer[n - 1] = 0;
  if (buffer[0] == 0) {
    if (!default_text || !*default_text) return kWdOperationFailed;
    platform::copy_bounded(buffer, size, default_text);
  }
  return kWdSuccess;
}

WDStatus UtilGetFileName(char *buffer, uint32_t size, const char *default_text) {
  return UtilGetStringFromUser(buffer, size, "Please enter the file name", default_text);
}

void UtilClrScr(void) {
  // the terminal's own clear sequence in place of a shell command
  std::fputs("\x1b[2J\x1b[H", stdout);
  std::fflush(stdout);
}
