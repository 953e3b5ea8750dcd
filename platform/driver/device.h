#pragma once
// The kernel-driver device: opened by name, requests sent DeviceIoControl-style
// (the record in place as input, a 4-byte status word as output), closed.
// A backend answers the requests: the simulated PCI bus (QV_PCI=sim) or the
// Linux PCI bus through sysfs; with neither, the device does not exist.
#include <cstdint>
#include <memory>
#include <string>

namespace platform::driver {

// The device name the library opens.
inline constexpr const char *kDeviceName = "\\\\.\\qvdrvr1230";

// Open parameters as the library passes them (kept for the request log only).
enum : uint32_t {
  kGenericRead = 0x80000000u,
  kShareRead = 1,
  kShareWrite = 2,
  kOpenExisting = 3,
  kFlagOverlapped = 0x40000000u,
};

// What answers the driver's requests.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char *name() const = 0;
  // A new handle (>= 0) or -1 when the driver cannot be opened.
  virtual intptr_t open() = 0;
  virtual void close(intptr_t handle) = 0;
  // One request on the record in place; the status goes to *status. The
  // backend may leave *status untouched (the caller preset it).
  virtual void request(intptr_t handle, uint32_t code, void *record, uint32_t size, uint32_t *status) = 0;
};

// The backend in use. Chosen on first use: QV_PCI=sim gives the simulated bus
// (sim backend), QV_PCI=none no driver; otherwise the sysfs backend when
// /sys/bus/pci/devices can be read, else no driver.
Backend *backend();
// Replaces the backend (tests; null returns to the choice above, a backend
// made by make_absent_backend() is "no driver").
void set_backend(std::shared_ptr<Backend> b);
std::shared_ptr<Backend> make_absent_backend();

// A backend's word on why the request in progress failed (what the system
// refused: a permission, a missing file), for DrvLastReason().
void set_request_reason(const std::string &reason);

}  // namespace platform::driver

// The device calls, shaped as the platform's file calls. Handles are -1 when
// the open failed.
intptr_t DrvCreateFile(const char *name, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags);
// Sends one request; out must hold 4 bytes for the status word. Returns 1 when
// the request reached the driver.
int DrvDeviceIoControl(intptr_t handle, uint32_t code, void *in, uint32_t in_size, void *out, uint32_t out_size,
                       uint32_t *returned);
int DrvCloseHandle(intptr_t handle);
// Why the last request of this thread failed, as the backend put it; "" when
// it gave no reason.
const char *DrvLastReason(void);
