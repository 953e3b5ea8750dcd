// The driver device over the chosen backend.
#include "platform/driver/device.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

#include "platform/driver/sim_backend.h"
#include "platform/driver/sysfs_backend.h"

namespace platform::driver {
namespace {

class AbsentBackend : public Backend {
 public:
  const char *name() const override { return "none"; }
  intptr_t open() override { return -1; }
  void close(intptr_t) override {}
  void request(intptr_t, uint32_t, void *, uint32_t, uint32_t *) override {}
};

struct State {
  std::mutex lock;  // the interrupt thread opens its own handles
  std::shared_ptr<Backend> backend;
};

thread_local std::string t_reason;

State &state() {
  static State s;
  return s;
}

std::shared_ptr<Backend> choose_backend() {
  const char *sel = std::getenv("QV_PCI");
  const std::string choice = sel ? sel : "";
  if (choice == "sim") return make_sim_backend_from_env();
  if (choice == "none") return make_absent_backend();
  if (::access(kSysfsPciDevices, R_OK | X_OK) == 0) return make_sysfs_backend();
  return make_absent_backend();
}

std::shared_ptr<Backend> current() {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.backend) s.backend = choose_backend();
  return s.backend;
}

}  // namespace

Backend *backend() { return current().get(); }

void set_backend(std::shared_ptr<Backend> b) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.backend = std::move(b);
}

std::shared_ptr<Backend> make_absent_backend() { return std::make_shared<AbsentBackend>(); }

void set_request_reason(const std::string &reason) { t_reason = reason; }

}  // namespace platform::driver

using namespace platform::driver;

intptr_t DrvCreateFile(const char *name, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags) {
  if (!name || std::strcmp(name, kDeviceName) != 0) return -1;
  return current()->open();
}

int DrvDeviceIoControl(intptr_t handle, uint32_t code, void *in, uint32_t in_size, void *out, uint32_t out_size,
                       uint32_t *returned) {
  if (handle < 0 || !out || out_size < sizeof(uint32_t)) return 0;
  uint32_t status = 0;
  std::memcpy(&status, out, sizeof status);
  t_reason.clear();
  current()->request(handle, code, in, in_size, &status);
  std::memcpy(out, &status, sizeof status);
  if (returned) *returned = sizeof status;
  return 1;
}

const char *DrvLastReason(void) { return t_reason.c_str(); }

int DrvCloseHandle(intptr_t handle) {
  if (handle < 0) return 0;
  current()->close(handle);
  return 1;
}
