#pragma once
// The PLX layer: opening a PLX bridge card (9050 target, 9054 master) by
// scan index or slot, its per-card context with the register offsets, its
// 32-bit registers in address space 0, and closing.
#include <cstdint>
#include <vector>

#include "pci/wdc_card.h"
#include "pci/wd_os.h"

constexpr uint32_t kPlxVendor = 0x10B5;

// The result handed to a PLX interrupt handler.
struct PLXIntResult {
  uint32_t count;    // interrupts so far
  uint32_t lost;     // interrupts the waiter missed
  uint32_t stopped;  // the interrupt was disabled
  uint32_t intcsr;   // INTCSR as the first transfer command read it
  uint8_t dma_status;  // DMA form: the channel's status byte
  uint8_t reserved[3];
};
static_assert(sizeof(PLXIntResult) == 20);

typedef void (*PLX_INT_HANDLER)(WDCDeviceHandle device, PLXIntResult *result);
typedef void (*PLX_EVENT_HANDLER)(WDCDeviceHandle device, uint32_t action);

struct PLXDmaStruct;

// The PLX layer's context of one open card.
struct PLXDeviceContext {
  uint32_t vendor;  // for messages only; the open leaves them 0
  uint32_t device;
  uint32_t master;  // 0 target (9050), 1 master (9054)
  std::vector<WDTransfer> int_commands;
  uint8_t int_pos_intcsr;  // positions of the two status reads among them
  uint8_t int_pos_dma;
  PLX_INT_HANDLER int_handler;
  void *int_data;
  PLX_EVENT_HANDLER event_handler;
  PLXDmaStruct *int_dma;  // the DMA the interrupt serves (master mode)
  uint32_t intcsr;      // register offsets
  uint32_t cntrl;
  uint32_t prot_area;   // EEPROM protected-area register
  uint32_t remap_base;  // local-space remap registers
};

// Target mode (9050) and master mode (9054) register offsets.
enum : uint32_t {
  kP9050Intcsr = 0x4C,
  kP9050Cntrl = 0x50,
  kP9050ProtArea = 0x4E,
  kP9050Remap = 0x14,
  kP9054Intcsr = 0x68,
  kP9054Cntrl = 0x6C,
  kP9054ProtArea = 0x0E,
  kP9054Remap = 0x04,
};

// 1 opened, 0 failed (the reason in PLX_GetLastErr).
int P9050_Open(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options);
int P9050_Open_diag(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options);
int P9054_Open(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, uint32_t options);
WDStatus PLX_DeviceOpen(WDCDeviceHandle *out, uint32_t vendor, uint32_t device, uint32_t index, int master);
WDStatus PLX_DeviceOpenBySlot(WDCDeviceHandle *out, const WDPciSlot *slot, int master);
int PLX_IsMaster(WDCDeviceHandle handle);
void PLX_DeviceClose(WDCDeviceHandle handle);
// The register of space 0 (all ones when it cannot be read).
uint32_t P9050_ReadReg(WDCDeviceHandle handle, uint32_t offset);
uint32_t P9050_ReadPCIReg(WDCDeviceHandle handle, uint32_t offset);
WDStatus P9050_WritePCIReg(WDCDeviceHandle handle, uint32_t offset, uint32_t value);
int P9050_IsAddrSpaceActive(WDCDeviceHandle handle, uint32_t space);

// The PLX interrupt disable (plx_lib.cpp), used by the close.
WDStatus PLX_IntDisable(WDCDeviceHandle handle);
int PLX_IntIsEnabled(WDCDeviceHandle handle);
