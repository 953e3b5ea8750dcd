// The card layer: scan, open, address-space access and close.
#include "pci/wdc_card.h"
#include "pci/owned_list.h"
#include "pci/wdc_internal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/driver/user_addr.h"

using platform::driver::UserBuffer;

namespace {

// The open cards; a handle points into this list until its close.
OwnedList<WDCDevice> &devices() {
  static OwnedList<WDCDevice> d;
  return d;
}

WDCDevice *create_device() { return devices().create(); }
void free_device(WDCDevice *dev) { devices().release(dev); }

// The common rule for a missing handle or pointer.
WDStatus null_argument(const char *what) {
  WdcSetLastErrStr("Error - %s\n", what);
  return kWdInvalidParameter;
}

bool same_slot(const WDPciSlot &a, const WDPciSlot &b) {
  return a.bus == b.bus && a.slot == b.slot && a.function == b.function;
}

// The space an access names, or null (with the error written) when the
// handle is null, the space number is out of range or the space is inactive.
const WDCAddrDesc *access_space(const char *op, WDCDeviceHandle h, uint32_t space, uint64_t offset, uint32_t bytes) {
  if (!h) {
    WDC_Err("%s: Invalid device handle\n", op);
    null_argument("Invalid device handle");
    return nullptr;
  }
  if (space >= kWdcMaxSpaces || static_cast<uint32_t>(h->spaces[space].length) == 0) {
    WDC_Err("%s: Invalid or inactive address space %lu\n", op, static_cast<unsigned long>(space));
    WdcSetLastErrStr("Error - %s\n", "Invalid or inactive address space");
    return nullptr;
  }
  const WDCAddrDesc &d = h->spaces[space];
  if (offset > d.length || bytes > d.length - offset) {
    WDC_Err("%s: Offset 0x%llx is outside address space %lu\n", op, static_cast<unsigned long long>(offset),
            static_cast<unsigned long>(space));
    WdcSetLastErrStr("Error - %s\n", "Offset outside the address space");
    return nullptr;
  }
  return &d;
}

// One block-transfer request on a space: `bytes` through the buffer, `width` at a time.
WDStatus transfer(const WDCAddrDesc &d, uint32_t offset, bool write, uint32_t width, void *buffer, uint32_t bytes,
                  bool auto_increment) {
  UserBuffer buf(buffer, bytes);
  WDTransfer t;
  std::memset(&t, 0, sizeof t);
  t.address = d.kernel + offset;
  t.command = WDTransferCommand(d.is_memory != 0, true, write, width);
  t.bytes = bytes;
  t.auto_increment = auto_increment ? 1 : 0;
  t.data.buffer = buf.addr();
  return driver_ioctl(WDCode(kWdFnTransfer), WDC_GetWDHandle(), &t, sizeof t, 0);
}

template <typename T>
WDStatus read_addr(const char *op, WDCDeviceHandle h, uint32_t space, uint32_t offset, T *value) {
  const WDCAddrDesc *d = access_space(op, h, space, offset, sizeof(T));
  if (!d) return kWdInvalidParameter;
  if (!value) return null_argument("NULL pointer to the value");
  if (d->is_memory) {
    uint64_t v = 0;
    if (!platform::driver::mmio_read(d->user + offset, sizeof(T), &v)) return kWdInvalidParameter;
    *value = static_cast<T>(v);
    return kWdSuccess;
  }
  T got{};
  const WDStatus st = transfer(*d, offset, false, sizeof got, &got, sizeof got, true);
  if (st == kWdSuccess) *value = got;
  return st;
}

template <typename T>
WDStatus write_addr(const char *op, WDCDeviceHandle h, uint32_t space, uint32_t offset, T value) {
  const WDCAddrDesc *d = access_space(op, h, space, offset, sizeof(T));
  if (!d) return kWdInvalidParameter;
  if (d->is_memory)
    return platform::driver::mmio_write(d->user + offset, sizeof(T), value) ? kWdSuccess : kWdInvalidParameter;
  return transfer(*d, offset, true, sizeof value, &value, sizeof value, true);
}

WDStatus block_access(const char *op, WDCDeviceHandle h, uint32_t space, uint32_t offset, uint32_t bytes,
                      void *buffer, uint32_t width, uint32_t options, bool write) {
  const WDCAddrDesc *d = access_space(op, h, space, offset, (options & WDC_ADDR_RW_NO_AUTOINC) ? width : bytes);
  if (!d) return kWdInvalidParameter;
  if (!buffer && bytes) return null_argument("NULL data buffer");
  return transfer(*d, offset, write, width, buffer, bytes, !(options & WDC_ADDR_RW_NO_AUTOINC));
}

// The card's ids from its configuration space, else from
// the scans that list its slot.
bool identify(WDCDevice *dev) {
  uint32_t id = 0;
  const WDStatus st = WDC_PciReadCfgBySlot(&dev->slot, 0, &id, sizeof id);
  if (st == kWdSuccess) {
    dev->vendor = id & 0xFFFF;
    dev->device = id >> 16;
    return true;
  }
  static constexpr uint32_t kOrder[] = {kWdScanRegistered, kWdScanPlain, kWdScanTopology};
  auto scan = std::make_unique<WDCPciScanResult>();
  for (uint32_t options : kOrder) {
    const WDStatus s = WDC_PciScanWithOptions(0, 0, scan.get(), options);
    if (s != kWdSuccess && s != kWdDeviceNotFound) {
      WdcSetLastErrStr("Failed scanning PCI bus. Error 0x%lx - %s\n", static_cast<unsigned long>(s), Stat2Str(s));
      return false;
    }
    if (s != kWdSuccess) continue;
    for (uint32_t i = 0; i < scan->count && i < kWdMaxScan; ++i)
      if (same_slot(scan->slots[i], dev->slot)) {
        dev->vendor = scan->ids[i].vendor;
        dev->device = scan->ids[i].device;
        return true;
      }
  }
  WdcSetLastErrStr("Failed to locate the device (bus: 0x%lx, slot: 0x%lx, function: 0x%lx)\n",
                   static_cast<unsigned long>(dev->slot.bus), static_cast<unsigned long>(dev->slot.slot),
                   static_cast<unsigned long>(dev->slot.function));
  return false;
}

// The address spaces and the interrupt from the items as registered.
void build_spaces(WDCDevice *dev) {
  const WDCard &card = dev->card.card;
  const uint32_t n = std::min(card.count, kWdMaxItems);
  for (uint32_t i = 0; i < n; ++i) {
    const WDCardItem &it = card.items[i];
    if (it.item == kItemIo && it.u.io.bar < kWdcMaxSpaces) {
      WDCAddrDesc &d = dev->spaces[it.u.io.bar];
      d = WDCAddrDesc{};
      d.bar = it.u.io.bar;
      d.item_index = i;
      d.kernel = it.u.io.port;
      d.length = it.u.io.length;
      dev->num_spaces = std::max(dev->num_spaces, it.u.io.bar + 1);
    } else if (it.item == kItemMemory && it.u.mem.bar < kWdcMaxSpaces) {
      WDCAddrDesc &d = dev->spaces[it.u.mem.bar];
      d = WDCAddrDesc{};
      d.bar = it.u.mem.bar;
      d.is_memory = 1;
      d.item_index = i;
      d.kernel = it.u.mem.kernel;
      d.user = it.u.mem.user;
      d.length = it.u.mem.length;
      dev->num_spaces = std::max(dev->num_spaces, it.u.mem.bar + 1);
    } else if (it.item == kItemInterrupt) {
      dev->interrupt.handle = it.u.interrupt.handle;
      dev->interrupt.options = it.u.interrupt.options;
    }
  }
}

// The close: interrupt, events, plug-in, registration; each failure is kept
// and the close goes on, and the first failure is the result.
WDStatus close_device(WDCDevice *dev) {
  WDStatus first = kWdSuccess;
  auto note = [&](WDStatus st) {
    if (first == kWdSuccess) first = st;
  };
  if (dev->int_enabled) {
    const WDStatus st = WDC_IntDisable(dev);
    if (st != kWdSuccess) {
      WdcSetLastErrStr("Failed disabling interrupt. Error [0x%lx - %s]\n", static_cast<unsigned long>(st),
                       Stat2Str(st));
      note(st);
    }
  }
  if (dev->events) {
    const WDStatus st = WDC_EventUnregister(dev);
    if (st != kWdSuccess) {
      WdcSetLastErrStr("Failed unregistering events. Error [0x%lx - %s]\n", static_cast<unsigned long>(st),
                       Stat2Str(st));
      note(st);
    }
  }
  if (dev->kp.handle) {
    const WDStatus st = driver_ioctl(WDCode(kWdFnKpClose), WDC_GetWDHandle(), &dev->kp, sizeof dev->kp, 0);
    if (st != kWdSuccess) {
      WdcSetLastErrStr("Failed closing Kernel PlugIn handle [" WD_PTR_FMT "]\nError [0x%lx - %s]\n",
                       reinterpret_cast<uintptr_t>(&dev->kp), static_cast<unsigned long>(st), Stat2Str(st));
      note(st);
    }
    dev->kp = WDKernelPlugIn{};
  }
  dev->kp_data = nullptr;  // the caller's; the plug-in path owns no copy
  if (dev->card.handle) {
    const WDStatus st = driver_ioctl(WDCode(kWdFnCardUnregister), WDC_GetWDHandle(), &dev->card, sizeof dev->card, 0);
    if (st != kWdSuccess) {
      WdcSetLastErrStr("Failed unregistering the device (handle " WD_PTR_FMT "). Error [0x%lx - %s]\n",
                       static_cast<uintptr_t>(dev->card.handle), static_cast<unsigned long>(st), Stat2Str(st));
      note(st);
    }
  }
  free_device(dev);
  return first;
}

}  // namespace

WDCDevice::WDCDevice() = default;
WDCDevice::~WDCDevice() = default;

WDStatus WDC_PciScanWithOptions(uint32_t vendor, uint32_t device, WDCPciScanResult *result, uint32_t options) {
  WDC_Trace("WDC_PciScanDevices: Entered\n");
  if (!result) return null_argument("NULL pointer to device scan results struct");
  if (options > kWdScanRegistered) {
    WDC_Err("PciScanDevices: Error. Invalid dwOptions [0x%lx]\n", static_cast<unsigned long>(options));
    return kWdInvalidParameter;
  }
  auto scan = std::make_unique<WDPciScanResult>();
  std::memset(scan.get(), 0, sizeof *scan);
  scan->search_vendor = vendor;
  scan->search_device = device;
  scan->options = options;
  const WDStatus st = driver_ioctl(WDCode(kWdFnPciScan), WDC_GetWDHandle(), scan.get(), sizeof *scan, 0);
  if (st != kWdSuccess) {
    WDC_Err("PciScanDevices: Failed scanning PCI bus. Error [0x%lx - %s]\n", static_cast<unsigned long>(st),
            Stat2Str(st));
    return st;
  }
  std::memset(result, 0, sizeof *result);
  result->count = std::min(scan->count, kWdMaxScan);
  std::memcpy(result->ids, scan->ids, sizeof result->ids);
  std::memcpy(result->slots, scan->slots, sizeof result->slots);
  WDC_Trace("PciScanDevices: PCI bus scanned successfully.\nFound [%ld] matching cards (vendor ID [0x%lx], device ID "
            "[0x%lx])\n",
            static_cast<long>(result->count), static_cast<unsigned long>(vendor), static_cast<unsigned long>(device));
  return kWdSuccess;
}

WDStatus WDC_PciScanDevices(uint32_t vendor, uint32_t device, WDCPciScanResult *result) {
  return WDC_PciScanWithOptions(vendor, device, result, kWdScanPlain);
}

WDStatus WDC_PciGetDeviceInfo(WDPciCardInfo *info) {
  if (!info) {
    null_argument("NULL device information pointer");
    WDC_Err("WDC_PciGetDeviceInfo: %s", WdcGetLastErrStr());
    return kWdInvalidParameter;
  }
  return driver_ioctl(WDCode(kWdFnPciCardInfo), WDC_GetWDHandle(), info, sizeof *info, 0);
}

WDStatus wdc_device_open(WDCDeviceHandle *out, const WDPciSlot &slot, const WDCard &card, void *context,
                         bool (*identify_card)(WDCDevice *), const char *operation) {
  *out = nullptr;
  WDCDevice *dev = create_device();
  dev->slot = slot;
  dev->card.card = card;
  dev->context = context;
  if (identify_card && !identify_card(dev)) {
    free_device(dev);
    WDC_Err("%s: Error %s", operation, WdcGetLastErrStr());
    return kWdInsufficientResources;
  }
  for (uint32_t i = 0; i < kWdMaxItems; ++i) dev->card.card.items[i].not_sharable = 0;
  const WDStatus st = driver_ioctl(WDCode(kWdFnCardRegister), WDC_GetWDHandle(), &dev->card, sizeof dev->card, 0);
  if (st != kWdSuccess) {
    WdcSetLastErrStr("Failed registering the device. Error [0x%lx - %s]\n", static_cast<unsigned long>(st),
                     WdFailureText(st).c_str());
    dev->card.handle = 0;
    close_device(dev);
    WDC_Err("%s: Error %s", operation, WdcGetLastErrStr());
    return st;
  }
  build_spaces(dev);
  *out = dev;
  return kWdSuccess;
}

WDStatus WDC_PciDeviceOpen(WDCDeviceHandle *out, const WDPciCardInfo *info, void *context) {
  if (!out || !info) {
    null_argument(!out ? "NULL device handle pointer" : "NULL device information pointer");
    WDC_Err("WDC_PciDeviceOpen: Error %s", WdcGetLastErrStr());
    return kWdInvalidParameter;
  }
  return wdc_device_open(out, info->slot, info->card, context, identify, "WDC_PciDeviceOpen");
}

WDStatus wdc_device_close(WDCDeviceHandle handle, const char *error_format) {
  if (!handle) {
    null_argument("NULL device handle");
    WDC_Err(error_format, WdcGetLastErrStr());
    return kWdInvalidParameter;
  }
  return close_device(handle);
}

WDStatus WDC_PciDeviceClose(WDCDeviceHandle handle) { return wdc_device_close(handle, "WDC_PciDeviceClose: Error %s"); }

void *WDC_GetDevContext(WDCDeviceHandle handle) { return handle ? handle->context : nullptr; }

uint32_t WDC_AddrSpaceIsActive(WDCDeviceHandle handle, uint32_t space) {
  if (!handle || space >= kWdcMaxSpaces) return 0;
  return static_cast<uint32_t>(handle->spaces[space].length);
}

WDStatus WDC_ReadAddr8(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint8_t *value) {
  return read_addr("WDC_ReadAddr8", h, space, offset, value);
}
WDStatus WDC_ReadAddr16(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint16_t *value) {
  return read_addr("WDC_ReadAddr16", h, space, offset, value);
}
WDStatus WDC_ReadAddr32(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint32_t *value) {
  return read_addr("WDC_ReadAddr32", h, space, offset, value);
}
WDStatus WDC_ReadAddr64(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint64_t *value) {
  return read_addr("WDC_ReadAddr64", h, space, offset, value);
}
WDStatus WDC_WriteAddr8(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint8_t value) {
  return write_addr("WDC_WriteAddr8", h, space, offset, value);
}
WDStatus WDC_WriteAddr16(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint16_t value) {
  return write_addr("WDC_WriteAddr16", h, space, offset, value);
}
WDStatus WDC_WriteAddr32(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint32_t value) {
  return write_addr("WDC_WriteAddr32", h, space, offset, value);
}
WDStatus WDC_WriteAddr64(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint64_t value) {
  return write_addr("WDC_WriteAddr64", h, space, offset, value);
}

WDStatus WDC_ReadAddrBlock(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint32_t bytes, void *buffer,
                           uint32_t width, uint32_t options) {
  return block_access("WDC_ReadAddrBlock", h, space, offset, bytes, buffer, width, options, false);
}

WDStatus WDC_WriteAddrBlock(WDCDeviceHandle h, uint32_t space, uint32_t offset, uint32_t bytes, const void *buffer,
                            uint32_t width, uint32_t options) {
  // the driver only reads a write's buffer
  return block_access("WDC_WriteAddrBlock", h, space, offset, bytes, const_cast<void *>(buffer), width, options, true);
}

WDStatus WDC_MultiTransfer(WDTransfer *transfers, uint32_t count) {
  if (!transfers || count == 0) return null_argument("NULL pointer to transfer commands");
  return driver_ioctl(WDCode(kWdFnMultiTransfer), WDC_GetWDHandle(), transfers,
                      static_cast<uint32_t>(count * sizeof(WDTransfer)), 0);
}
