#pragma once
// The driver device over the Linux PCI bus in sysfs.
#include <memory>
#include <string>

#include "platform/driver/server.h"

namespace platform::driver {

inline constexpr const char *kSysfsPciDevices = "/sys/bus/pci/devices";

// The driver over the functions under `root` (a sysfs devices folder).
std::shared_ptr<RequestServer> make_sysfs_backend(const std::string &root = kSysfsPciDevices);

}  // namespace platform::driver
