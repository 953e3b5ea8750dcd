// PCMCIA and ISA cards in the card layer. The driver's PCMCIA records are
// ours in the sizes the interface fixes; no driver here serves them.
#include <cstdio>
#include <cstring>
#include <memory>

#include "pci/wdc_internal.h"
#include "pci/wdc_pcmcia.h"
#include "platform/driver/user_addr.h"

static_assert(sizeof(WDPcmciaScanResult) == 76);
static_assert(sizeof(WDPcmciaConfigAccess) == 28);
static_assert(sizeof(WDPcmciaControl) == 16);

namespace {

WDStatus attrib_access(WDCDeviceHandle h, uint32_t offset, void *data, uint32_t bytes, bool read) {
  if (!h || !data) {
    WdcSetLastErrStr("Error - %s\n", !h ? "Invalid device handle" : "NULL data buffer");
    return kWdInvalidParameter;
  }
  platform::driver::UserBuffer buf(data, bytes);
  WDPcmciaConfigAccess rec{};
  rec.slot = {static_cast<uint8_t>(h->slot.bus), static_cast<uint8_t>(h->slot.function), {0, 0}};
  rec.offset = offset;
  rec.buffer = buf.addr();
  rec.bytes = bytes;
  rec.read = read ? 1 : 0;
  WDStatus st = driver_ioctl(WDCode(kWdFnPcmciaConfig), WDC_GetWDHandle(), &rec, sizeof rec, 0);
  if (st == kWdSuccess && rec.result) st = kWdOperationFailed;
  if (st != kWdSuccess) {
    char reason[128];
    std::snprintf(reason, sizeof reason, "Error 0x%lx - %s\n", static_cast<unsigned long>(st), Stat2Str(st));
    WdcSetLastErrStr(
        "WDC_PcmciaReadWriteAttribSpace: Failed %s %ld bytes %s offset0x%lx of the PCMCIA attribute space.\n%s",
        read ? "reading" : "writing", static_cast<long>(bytes), read ? "from" : "to",
        static_cast<unsigned long>(offset), reason);
    WDC_Err("%s", WdcGetLastErrStr());
  }
  return st;
}

WDStatus control(WDCDeviceHandle h, uint8_t speed, uint8_t width, uint8_t access, uint16_t vpp) {
  if (!h) {
    WdcSetLastErrStr("Error - %s\n", "Invalid device handle");
    return kWdInvalidParameter;
  }
  WDPcmciaControl rec{};
  rec.slot = {static_cast<uint8_t>(h->slot.bus), static_cast<uint8_t>(h->slot.function), {0, 0}};
  rec.speed = speed;
  rec.width = width;
  rec.access = access;
  rec.vpp = vpp;
  return driver_ioctl(WDCode(kWdFnPcmciaControl), WDC_GetWDHandle(), &rec, sizeof rec, 0);
}

bool identify_pcmcia(WDCDevice *dev) {
  WDPcmciaScanResult scan{};
  if (WDC_PcmciaScanDevices(0, 0, &scan) == kWdSuccess)
    for (uint32_t i = 0; i < scan.count && i < kWdPcmciaMaxScan; ++i)
      if (scan.slots[i].socket == dev->slot.bus && scan.slots[i].function == dev->slot.function) {
        dev->vendor = scan.ids[i].manufacturer;
        dev->device = scan.ids[i].card;
        return true;
      }
  WdcSetLastErrStr("Failed to locate the device (socket: 0x%x, function: 0x%x)\n",
                   static_cast<unsigned>(dev->slot.bus), static_cast<unsigned>(dev->slot.function));
  return false;
}

}  // namespace

WDStatus WDC_PcmciaReadAttribSpace(WDCDeviceHandle h, uint32_t offset, void *data, uint32_t bytes) {
  return attrib_access(h, offset, data, bytes, true);
}

WDStatus WDC_PcmciaWriteAttribSpace(WDCDeviceHandle h, uint32_t offset, const void *data, uint32_t bytes) {
  return attrib_access(h, offset, const_cast<void *>(data), bytes, false);
}

WDStatus WDC_PcmciaSetWindow(WDCDeviceHandle h, uint8_t speed, uint8_t width, uint8_t access) {
  return control(h, speed, width, access, 0);
}

WDStatus WDC_PcmciaSetVpp(WDCDeviceHandle h, uint16_t vpp) { return control(h, 0, 0, 0, vpp); }

WDStatus WDC_PcmciaScanDevices(uint16_t manufacturer, uint16_t card, WDPcmciaScanResult *result) {
  if (!result) {
    WdcSetLastErrStr("Error - %s\n", "NULL pointer to device scan results struct");
    return kWdInvalidParameter;
  }
  std::memset(result, 0, sizeof *result);
  result->search_manufacturer = manufacturer;
  result->search_card = card;
  const WDStatus st = driver_ioctl(WDCode(kWdFnPcmciaScan), WDC_GetWDHandle(), result, sizeof *result, 0);
  if (st != kWdSuccess) {
    WDC_Err("WDC_PcmciaScanDevices: Failed scanning PCMCIA bus. Error 0x%lx - %s\n", static_cast<unsigned long>(st),
            Stat2Str(st));
    return st;
  }
  WDC_Trace("WDC_PcmciaScanDevices: PCMCIA bus scanned successfully.\nFound %ld matching cards (manufacturer ID 0x%lx, "
            "device ID 0x%lx)\n",
            static_cast<long>(result->count), static_cast<unsigned long>(manufacturer),
            static_cast<unsigned long>(card));
  return kWdSuccess;
}

WDStatus WDC_PcmciaGetDeviceInfo(WDPcmciaCardInfo *info) {
  if (!info) {
    WdcSetLastErrStr("Error - %s\n", "NULL device information pointer");
    return kWdInvalidParameter;
  }
  return driver_ioctl(WDCode(kWdFnPcmciaCardInfo), WDC_GetWDHandle(), info, sizeof *info, 0);
}

WDStatus WDC_PcmciaDeviceOpen(WDCDeviceHandle *out, const WDPcmciaCardInfo *info, void *context) {
  if (!out || !info) {
    WdcSetLastErrStr("Error - %s\n", !out ? "NULL device handle pointer" : "NULL device information pointer");
    return kWdInvalidParameter;
  }
  const WDPciSlot slot{info->slot.socket, 0, info->slot.function};
  return wdc_device_open(out, slot, info->card, context, identify_pcmcia, "WDC_PcmciaDeviceOpen");
}

WDStatus WDC_IsaDeviceOpen(WDCDeviceHandle *out, const WDCard *card, void *context) {
  if (!out || !card) {
    WdcSetLastErrStr("Error - %s\n", !out ? "NULL device handle pointer" : "NULL device information pointer");
    return kWdInvalidParameter;
  }
  return wdc_device_open(out, WDPciSlot{}, *card, context, nullptr, "WDC_IsaDeviceOpen");
}

WDStatus WDC_PcmciaDeviceClose(WDCDeviceHandle h) { return wdc_device_close(h, "WDC_PcmciaDeviceClose: Erorr %s"); }
WDStatus WDC_IsaDeviceClose(WDCDeviceHandle h) { return wdc_device_close(h, "WDC_IsaDeviceClose: Error %s"); }
