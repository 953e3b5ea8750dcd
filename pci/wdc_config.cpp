// Configuration-space access by slot and by open card.
#include <cstdio>
#include <cstring>

#include "pci/wdc_card.h"
#include "pci/wdc_services.h"
#include "platform/driver/user_addr.h"

namespace {

WDStatus config_access(const WDPciSlot *slot, uint32_t offset, void *data, uint32_t bytes, bool read) {
  if (!slot || !data) {
    WdcSetLastErrStr("Error - %s\n", !slot ? "NULL pointer to the slot" : "NULL data buffer");
    return kWdInvalidParameter;
  }
  platform::driver::UserBuffer buf(data, bytes);
  WDPciConfigAccess rec;
  std::memset(&rec, 0, sizeof rec);
  rec.slot = *slot;
  rec.buffer = buf.addr();
  rec.offset = offset;
  rec.bytes = bytes;
  rec.read = read ? 1 : 0;
  WDStatus st = driver_ioctl(WDCode(kWdFnPciConfig), WDC_GetWDHandle(), &rec, sizeof rec, 0);
  // A request that went through but whose access failed is a failure too.
  if (st == kWdSuccess && rec.result != 0) st = kWdOperationFailed;
  if (st != kWdSuccess) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "Error 0x%lx - %s\n", static_cast<unsigned long>(st),
                  WdFailureText(st).c_str());
    WdcSetLastErrStr("WDC_PciReadWriteCfgBySlot: Failed %s %ld bytes %s offset0x%lx.\n%s",
                     read ? "reading" : "writing", static_cast<long>(bytes), read ? "from" : "to",
                     static_cast<unsigned long>(offset), reason);
    WDC_Err("%s", WdcGetLastErrStr());
  }
  return st;
}

}  // namespace

WDStatus WDC_PciReadCfgBySlot(const WDPciSlot *slot, uint32_t offset, void *data, uint32_t bytes) {
  return config_access(slot, offset, data, bytes, true);
}

WDStatus WDC_PciWriteCfgBySlot(const WDPciSlot *slot, uint32_t offset, const void *data, uint32_t bytes) {
  return config_access(slot, offset, const_cast<void *>(data), bytes, false);
}

namespace {

template <typename T>
WDStatus read_slot(const WDPciSlot *slot, uint32_t offset, T *value) {
  if (!value) {
    WdcSetLastErrStr("Error - %s\n", "NULL data buffer");
    return kWdInvalidParameter;
  }
  return WDC_PciReadCfgBySlot(slot, offset, value, sizeof(T));
}

template <typename T>
WDStatus write_slot(const WDPciSlot *slot, uint32_t offset, T value) {
  return WDC_PciWriteCfgBySlot(slot, offset, &value, sizeof(T));
}

const WDPciSlot *slot_of(WDCDeviceHandle handle) {
  if (!handle) WdcSetLastErrStr("Error - %s\n", "Invalid device handle");
  return handle ? &handle->slot : nullptr;
}

}  // namespace

WDStatus WDC_PciReadCfg(WDCDeviceHandle h, uint32_t offset, void *data, uint32_t bytes) {
  const WDPciSlot *s = slot_of(h);
  return s ? WDC_PciReadCfgBySlot(s, offset, data, bytes) : kWdInvalidParameter;
}
WDStatus WDC_PciWriteCfg(WDCDeviceHandle h, uint32_t offset, const void *data, uint32_t bytes) {
  const WDPciSlot *s = slot_of(h);
  return s ? WDC_PciWriteCfgBySlot(s, offset, data, bytes) : kWdInvalidParameter;
}

WDStatus WDC_PciReadCfgBySlot8(const WDPciSlot *s, uint32_t o, uint8_t *v) { return read_slot(s, o, v); }
WDStatus WDC_PciReadCfgBySlot16(const WDPciSlot *s, uint32_t o, uint16_t *v) { return read_slot(s, o, v); }
WDStatus WDC_PciReadCfgBySlot32(const WDPciSlot *s, uint32_t o, uint32_t *v) { return read_slot(s, o, v); }
WDStatus WDC_PciReadCfgBySlot64(const WDPciSlot *s, uint32_t o, uint64_t *v) { return read_slot(s, o, v); }
WDStatus WDC_PciWriteCfgBySlot8(const WDPciSlot *s, uint32_t o, uint8_t v) { return write_slot(s, o, v); }
WDStatus WDC_PciWriteCfgBySlot16(const WDPciSlot *s, uint32_t o, uint16_t v) { return write_slot(s, o, v); }
WDStatus WDC_PciWriteCfgBySlot32(const WDPciSlot *s, uint32_t o, uint32_t v) { return write_slot(s, o, v); }
WDStatus WDC_PciWriteCfgBySlot64(const WDPciSlot *s, uint32_t o, uint64_t v) { return write_slot(s, o, v); }

#define TRQ_CFG_BY_HANDLE(bits)                                                             \
  WDStatus WDC_PciReadCfg##bits(WDCDeviceHandle h, uint32_t o, uint##bits##_t *v) {        \
    const WDPciSlot *s = slot_of(h);                                                        \
    return s ? read_slot(s, o, v) : kWdInvalidParameter;                                    \
  }                                                                                         \
  WDStatus WDC_PciWriteCfg##bits(WDCDeviceHandle h, uint32_t o, uint##bits##_t v) {        \
    const WDPciSlot *s = slot_of(h);                                                        \
    return s ? write_slot(s, o, v) : kWdInvalidParameter;                                   \
  }
TRQ_CFG_BY_HANDLE(8)
TRQ_CFG_BY_HANDLE(16)
TRQ_CFG_BY_HANDLE(32)
TRQ_CFG_BY_HANDLE(64)
#undef TRQ_CFG_BY_HANDLE
