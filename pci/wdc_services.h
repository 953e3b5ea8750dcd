#pragma once
// Card-layer services beyond the card road: configuration access of every
// width, the other scans, capability scans, DMA buffers, interrupts with a
// wait thread, events, kernel plug-ins and the bus type.
#include <cstdint>

#include "pci/wdc_card.h"
#include "pci/wd_os.h"

WDStatus WDC_PciReadCfg(WDCDeviceHandle handle, uint32_t offset, void *data, uint32_t bytes);
WDStatus WDC_PciWriteCfg(WDCDeviceHandle handle, uint32_t offset, const void *data, uint32_t bytes);
WDStatus WDC_PciReadCfgBySlot8(const WDPciSlot *slot, uint32_t offset, uint8_t *value);
WDStatus WDC_PciReadCfgBySlot16(const WDPciSlot *slot, uint32_t offset, uint16_t *value);
WDStatus WDC_PciReadCfgBySlot32(const WDPciSlot *slot, uint32_t offset, uint32_t *value);
WDStatus WDC_PciReadCfgBySlot64(const WDPciSlot *slot, uint32_t offset, uint64_t *value);
WDStatus WDC_PciWriteCfgBySlot8(const WDPciSlot *slot, uint32_t offset, uint8_t value);
WDStatus WDC_PciWriteCfgBySlot16(const WDPciSlot *slot, uint32_t offset, uint16_t value);
WDStatus WDC_PciWriteCfgBySlot32(const WDPciSlot *slot, uint32_t offset, uint32_t value);
WDStatus WDC_PciWriteCfgBySlot64(const WDPciSlot *slot, uint32_t offset, uint64_t value);
WDStatus WDC_PciReadCfg8(WDCDeviceHandle handle, uint32_t offset, uint8_t *value);
WDStatus WDC_PciReadCfg16(WDCDeviceHandle handle, uint32_t offset, uint16_t *value);
WDStatus WDC_PciReadCfg32(WDCDeviceHandle handle, uint32_t offset, uint32_t *value);
WDStatus WDC_PciReadCfg64(WDCDeviceHandle handle, uint32_t offset, uint64_t *value);
WDStatus WDC_PciWriteCfg8(WDCDeviceHandle handle, uint32_t offset, uint8_t value);
WDStatus WDC_PciWriteCfg16(WDCDeviceHandle handle, uint32_t offset, uint16_t value);
WDStatus WDC_PciWriteCfg32(WDCDeviceHandle handle, uint32_t offset, uint32_t value);
WDStatus WDC_PciWriteCfg64(WDCDeviceHandle handle, uint32_t offset, uint64_t value);

WDStatus WDC_PciScanDevicesByTopology(uint32_t vendor, uint32_t device, WDCPciScanResult *result);
WDStatus WDC_PciScanRegisteredDevices(uint32_t vendor, uint32_t device, WDCPciScanResult *result);

// Capability scans: the driver's record is not exercised here (see the report).
struct WDCPciScanCapsResult {
  uint32_t count;
  struct {
    uint32_t id;
    uint32_t offset;
  } caps[100];
};
WDStatus WDC_PciScanCaps(WDCDeviceHandle handle, uint32_t cap_id, WDCPciScanCapsResult *result);
WDStatus WDC_PciScanExtCaps(WDCDeviceHandle handle, uint32_t cap_id, WDCPciScanCapsResult *result);
WDStatus WDC_PciScanCapsWithOptions(WDCDeviceHandle handle, uint32_t cap_id, WDCPciScanCapsResult *result,
                                    uint32_t options);

uint32_t WDC_GetBusType(WDCDeviceHandle handle);

// The interrupt machinery under WDC_IntEnable and the events: enable request,
// wait thread, disable request. The state is freed by the disable.
WDStatus InterruptEnable(WDCInterruptThread **state, WDDriverHandle driver, WDInterrupt *rec, INT_HANDLER handler,
                         void *data);
WDStatus InterruptDisable(WDCInterruptThread *state);
inline WDStatus InterruptThreadEnable(WDCInterruptThread **state, WDDriverHandle driver, WDInterrupt *rec,
                                      INT_HANDLER handler, void *data) {
  return InterruptEnable(state, driver, rec, handler, data);
}
inline WDStatus InterruptThreadDisable(WDCInterruptThread *state) { return InterruptDisable(state); }

// Interrupts: commands (may be null with count 0) are run by the driver at
// interrupt time; the handler runs on the wait thread.
WDStatus WDC_IntEnable(WDCDeviceHandle handle, WDTransfer *commands, uint32_t count, uint32_t options,
                       INT_HANDLER handler, void *data, int use_kernel_plugin);
WDStatus WDC_IntDisable(WDCDeviceHandle handle);
int WDC_IntIsEnabled(WDCDeviceHandle handle);
const char *WDC_IntType2Str(uint32_t type);

WDStatus WDC_EventRegister(WDCDeviceHandle handle, uint32_t actions, EVENT_HANDLER handler, void *data,
                           int use_kernel_plugin);
WDStatus WDC_EventUnregister(WDCDeviceHandle handle);
int WDC_EventIsRegistered(WDCDeviceHandle handle);

WDStatus WDC_KernelPlugInOpen(WDCDeviceHandle handle, const char *driver_name, void *data);
WDStatus WDC_CallKerPlug(WDCDeviceHandle handle, uint32_t message, void *data, uint32_t *result);
WDStatus WDC_CardCleanupSetup(WDCDeviceHandle handle, WDTransfer *commands, uint32_t count, uint32_t options);

// DMA buffers: the driver's DMA record is not exercised here (see the report).
#pragma pack(push, 4)
struct WDDma {
  uint32_t handle;
  WDUserAddr user;
  uint32_t bytes;
  uint32_t options;
  uint32_t pages;
  struct {
    uint64_t physical;
    uint32_t bytes;
  } page[1];
};
#pragma pack(pop)
static_assert(sizeof(WDDma) == 32);
enum : uint32_t { DMA_KERNEL_BUFFER_ALLOC = 0x2, DMA_FROM_DEVICE = 0x1, DMA_TO_DEVICE = 0x4 };
WDStatus WDC_DMAContigBufLock(WDCDeviceHandle handle, void **buffer, uint32_t options, uint32_t bytes,
                              WDDma **dma);
WDStatus WDC_DMASGBufLock(WDCDeviceHandle handle, void *buffer, uint32_t options, uint32_t bytes, WDDma **dma);
WDStatus WDC_SharedBufferAlloc(WDCDeviceHandle handle, uint32_t bytes, uint32_t options, void **buffer, WDDma **dma);
WDStatus WDC_DMABufUnlock(WDDma *dma);
WDStatus WDC_DMASyncCpu(WDDma *dma);
WDStatus WDC_DMASyncIo(WDDma *dma);

// Hot-swap and event records.
WDEvent *EventAlloc(uint32_t matches);
void EventFree(WDEvent *event);
WDEvent *EventDup(const WDEvent *event);
WDEvent *PciEventCreate(uint32_t vendor, uint32_t device, const WDPciSlot *slot, uint32_t options, uint32_t actions);
WDEvent *PcmciaEventCreate(uint32_t manufacturer, uint32_t card, uint32_t options, uint32_t actions);
WDEvent *UsbEventCreate(uint32_t vendor, uint32_t product, uint32_t options, uint32_t actions);
void *HSWatchAlloc(void);
void HSWatchFree(void *watch);
int HSConfigurePci(WDEvent *event);
