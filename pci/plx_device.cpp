// The PLX layer: open by index or slot, registers, close.
#include "pci/plx_device.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "pci/owned_list.h"
#include "pci/wdc_services.h"

namespace {

// Kept as the library always kept them; nothing reads them.
uint32_t g_open_device_id = 0;
uint32_t g_open_options = 0;

// The open cards' contexts; a context lives until its card's close.
OwnedList<PLXDeviceContext> &contexts() {
  static OwnedList<PLXDeviceContext> c;
  return c;
}

PLXDeviceContext *new_context() { return contexts().create(); }
void free_context(PLXDeviceContext *ctx) { contexts().release(ctx); }

int open_common(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options, int master) {
  g_open_device_id = vendor == kPlxVendor ? device : 0;
  g_open_options = options;
  return PLX_DeviceOpen(out, vendor, device, index, master) == kWdSuccess ? 1 : 0;
}

}  // namespace

int P9050_Open(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options) {
  return open_common(out, vendor, device, index, options, 0);
}

int P9050_Open_diag(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options) {
  return open_common(out, vendor, device, index, options, 0);
}

int P9054_Open(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options) {
  return open_common(out, vendor, device, index, options, 1);
}

WDStatus PLX_DeviceOpen(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, int master) {
  auto scan = std::make_unique<WDCPciScanResult>();
  std::memset(scan.get(), 0, sizeof *scan);
  const WDStatus st = WDC_PciScanDevices(vendor, device, scan.get());
  if (st != kWdSuccess) {
    PLX_SetLastErr("PLX_DeviceOpen: Failed scanning the PCI bus.\nError: 0x%lx - %s\n",
                   static_cast<unsigned long>(st), Stat2Str(st));
    return st;
  }
  // unsigned: a negative index from a caller fails here too
  if (scan->count == 0 || index >= scan->count) {
    PLX_SetLastErr(
        "PLX_DeviceOpen: No matching PLX device was found for search criteria (Vendor ID 0x%lX, Device ID 0x%lX, "
        "Card Nmuber %ld)\n",
        static_cast<unsigned long>(vendor), static_cast<unsigned long>(device), static_cast<long>(index));
    return kWdDeviceNotFound;
  }
  return PLX_DeviceOpenBySlot(out, &scan->slots[index], master);
}

WDStatus PLX_DeviceOpenBySlot(WDCDeviceHandle *out, const WDPciSlot *slot, int master) {
  if (!out || !slot) {
    PLX_SetLastErr("PLX_DeviceOpenBySlot: Error - NULL %s\n", !out ? "device handle pointer" : "slot pointer");
    return kWdInvalidParameter;
  }
  auto info = std::make_unique<WDPciCardInfo>();
  std::memset(info.get(), 0, sizeof *info);
  info->slot = *slot;
  WDStatus st = WDC_PciGetDeviceInfo(info.get());
  if (st != kWdSuccess) {
    PLX_SetLastErr(
        "PLX_DeviceOpenBySlot: Failed retrieving the device's resources information.\nError 0x%lx - %s\n",
        static_cast<unsigned long>(st), WdFailureText(st).c_str());
    return st;
  }
  PLXDeviceContext *ctx = new_context();
  WDCDeviceHandle dev = nullptr;
  st = WDC_PciDeviceOpen(&dev, info.get(), ctx);
  if (st != kWdSuccess) {
    PLX_SetLastErr("Failed opening a WDC device handle. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
                   WdFailureText(st).c_str());
    free_context(ctx);
    return st;
  }
  bool active = false;
  for (uint32_t i = 0; i < dev->num_spaces && !active; ++i) active = WDC_AddrSpaceIsActive(dev, i) != 0;
  if (!active) {
    PLX_SetLastErr("Device does not have any active memory or I/O address spaces\n");
    PLX_DeviceClose(dev);
    *out = nullptr;
    return kWdInvalidParameter;
  }
  ctx->master = master ? 1 : 0;
  if (master) {
    ctx->intcsr = kP9054Intcsr;
    ctx->cntrl = kP9054Cntrl;
    ctx->prot_area = kP9054ProtArea;
    ctx->remap_base = kP9054Remap;
    uint32_t v = 0;
    if (WDC_ReadAddr32(dev, 0, ctx->intcsr, &v) == kWdSuccess) WDC_WriteAddr32(dev, 0, ctx->intcsr, v & ~0x1000u);
  } else {
    ctx->intcsr = kP9050Intcsr;
    ctx->cntrl = kP9050Cntrl;
    ctx->prot_area = kP9050ProtArea;
    ctx->remap_base = kP9050Remap;
  }
  *out = dev;
  return kWdSuccess;
}

int PLX_IsMaster(WDCDeviceHandle handle) {
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(handle));
  return ctx ? static_cast<int>(ctx->master) : 0;
}

void PLX_DeviceClose(WDCDeviceHandle handle) {
  if (!handle) {
    PLX_SetLastErr("PLX_DeviceClose: Error - NULL device handle\n");
    return;
  }
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(handle));
  if (ctx && WDC_IntIsEnabled(handle)) {
    const WDStatus st = PLX_IntDisable(handle);
    if (st != kWdSuccess)
      PLX_SetLastErr("Failed disabling interrupts. Error 0x%lx - %s\n", static_cast<unsigned long>(st), Stat2Str(st));
  }
  const WDStatus st = WDC_PciDeviceClose(handle);
  if (st != kWdSuccess)
    PLX_SetLastErr("Failed closing a WDC device handle (0x" WD_PTR_FMT "). Error 0x%lx - %s\n",
                   reinterpret_cast<uintptr_t>(handle), static_cast<unsigned long>(st), Stat2Str(st));
  if (ctx) free_context(ctx);
}

uint32_t P9050_ReadReg(WDCDeviceHandle handle, uint32_t offset) {
  uint32_t v = 0xFFFFFFFFu;
  WDC_ReadAddr32(handle, 0, offset, &v);
  return v;
}

uint32_t P9050_ReadPCIReg(WDCDeviceHandle handle, uint32_t offset) {
  uint32_t v = 0xFFFFFFFFu;
  WDC_PciReadCfg32(handle, offset, &v);
  return v;
}

WDStatus P9050_WritePCIReg(WDCDeviceHandle handle, uint32_t offset, uint32_t value) {
  return WDC_PciWriteCfg32(handle, offset, value);
}

int P9050_IsAddrSpaceActive(WDCDeviceHandle handle, uint32_t space) {
  if (!handle || space >= handle->num_spaces || space >= kWdcMaxSpaces) return 0;
  return handle->spaces[space].kernel != 0 || handle->spaces[space].user != 0;
}
