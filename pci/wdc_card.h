#pragma once
// The card layer: scanning the bus, opening a card (registering its resources
// with the driver and building its address spaces), register access by
// address space, and closing.
#include <cstdint>
#include <memory>

#include "pci/wdc_driver.h"

constexpr uint32_t kWdcMaxSpaces = 20;

// One address space of an open card.
struct WDCAddrDesc {
  uint32_t bar;
  uint32_t is_memory;
  uint32_t item_index;  // the card item it came from
  uint32_t reserved;
  uint64_t length;
  WDKernelAddr kernel;  // the port base of an I/O space, the kernel address of a memory space
  WDUserAddr user;      // the process's mapping of a memory space
};

struct WDCInterruptThread;  // the wait thread's state
struct WDCEventState;       // registered events

// The card layer's record of one open card.
struct WDCDevice {
  WDCDevice();
  ~WDCDevice();
  WDCDevice(const WDCDevice &) = delete;
  WDCDevice &operator=(const WDCDevice &) = delete;

  uint32_t vendor = 0;
  uint32_t device = 0;
  WDPciSlot slot{};
  uint32_t num_spaces = 0;
  WDCAddrDesc spaces[kWdcMaxSpaces]{};
  WDCardRegister card{};
  WDKernelPlugIn kp{};
  void *kp_data = nullptr;
  // Interrupt: handle and options from the card's interrupt item.
  WDInterrupt interrupt{};
  bool int_enabled = false;
  const WDTransfer *int_commands = nullptr;
  uint32_t int_command_count = 0;
  std::unique_ptr<WDCInterruptThread> int_thread;
  std::unique_ptr<WDCEventState> events;
  void *context = nullptr;  // the caller's (PLX cards: PLXDeviceContext)
};

// The card layer's scan result.
struct WDCPciScanResult {
  uint32_t count;
  WDPciId ids[kWdMaxScan];
  WDPciSlot slots[kWdMaxScan];
};

// Options of the block accesses.
enum : uint32_t { WDC_ADDR_RW_NO_AUTOINC = 0x4 };

WDStatus WDC_PciScanDevices(uint32_t vendor, uint32_t device, WDCPciScanResult *result);
WDStatus WDC_PciGetDeviceInfo(WDPciCardInfo *info);
WDStatus WDC_PciDeviceOpen(WDCDeviceHandle *out, const WDPciCardInfo *info, void *context);
WDStatus WDC_PciDeviceClose(WDCDeviceHandle handle);
void *WDC_GetDevContext(WDCDeviceHandle handle);
// The space's length (low 32 bits); 0 inactive.
uint32_t WDC_AddrSpaceIsActive(WDCDeviceHandle handle, uint32_t space);

WDStatus WDC_ReadAddr8(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint8_t *value);
WDStatus WDC_ReadAddr16(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint16_t *value);
WDStatus WDC_ReadAddr32(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint32_t *value);
WDStatus WDC_ReadAddr64(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint64_t *value);
WDStatus WDC_WriteAddr8(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint8_t value);
WDStatus WDC_WriteAddr16(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint16_t value);
WDStatus WDC_WriteAddr32(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint32_t value);
WDStatus WDC_WriteAddr64(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint64_t value);
// width: the access width in bytes (1, 2, 4, 8).
WDStatus WDC_ReadAddrBlock(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint32_t bytes, void *buffer,
                           uint32_t width, uint32_t options);
WDStatus WDC_WriteAddrBlock(WDCDeviceHandle handle, uint32_t space, uint32_t offset, uint32_t bytes,
                            const void *buffer, uint32_t width, uint32_t options);
// Block commands in the array carry user addresses of their buffers
// (platform/driver/user_addr.h).
WDStatus WDC_MultiTransfer(WDTransfer *transfers, uint32_t count);

// The scans of the card layer by scan option (plain, by topology, registered cards).
WDStatus WDC_PciScanWithOptions(uint32_t vendor, uint32_t device, WDCPciScanResult *result, uint32_t options);
// Configuration access by slot, one request (further forms in wdc_services.h).
WDStatus WDC_PciReadCfgBySlot(const WDPciSlot *slot, uint32_t offset, void *data, uint32_t bytes);
WDStatus WDC_PciWriteCfgBySlot(const WDPciSlot *slot, uint32_t offset, const void *data, uint32_t bytes);

// Interrupts and events (wdc_services.cpp), used by the close.
WDStatus WDC_IntDisable(WDCDeviceHandle handle);
int WDC_IntIsEnabled(WDCDeviceHandle handle);
WDStatus WDC_EventUnregister(WDCDeviceHandle handle);
int WDC_EventIsRegistered(WDCDeviceHandle handle);
