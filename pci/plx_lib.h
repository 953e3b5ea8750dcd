#pragma once
// PLX layer operations beyond the card road: interrupts and events, DMA on
// the 9054 and the Xilinx engine behind it, address-space information,
// local-bus access through the remap registers, the serial EEPROM by VPD or
// bit-banging, and the soft reset.
#include <cstdint>

#include "pci/plx_device.h"
#include "pci/wdc_services.h"

// Common check of every operation here: the handle and its PLX context.
PLXDeviceContext *PLX_Context(const char *operation, WDCDeviceHandle handle);

WDStatus PLX_IntEnable(WDCDeviceHandle handle, PLX_INT_HANDLER handler, PLXDmaStruct *dma);
WDStatus PLX_IntDisable(WDCDeviceHandle handle);
int PLX_IntIsEnabled(WDCDeviceHandle handle);
WDStatus PLX_EventRegister(WDCDeviceHandle handle, PLX_EVENT_HANDLER handler);
WDStatus PLX_EventUnregister(WDCDeviceHandle handle);
int PLX_EventIsRegistered(WDCDeviceHandle handle);

// One DMA channel's transfer.
struct PLXDmaStruct {
  WDDma *dma;        // the data buffer
  uint32_t channel;  // 0 or 1
  uint32_t from_device;
  uint32_t mode_reg;  // the channel's registers
  uint32_t cmd_reg;
};

WDStatus PLX_DMAOpen(WDCDeviceHandle handle, uint32_t local_addr, void **buffer, uint32_t options, uint32_t bytes,
                     uint32_t local_width, uint32_t channel, PLXDmaStruct **dma);
WDStatus PLX_DMAClose(WDCDeviceHandle handle, PLXDmaStruct *dma);
WDStatus PLX_DMAStart(WDCDeviceHandle handle, PLXDmaStruct *dma);
int PLX_DMAIsDone(WDCDeviceHandle handle, PLXDmaStruct *dma);
int PLX_DMAIsAborted(WDCDeviceHandle handle, PLXDmaStruct *dma);
int PLX_DMAPollCompletion(WDCDeviceHandle handle, PLXDmaStruct *dma, uint32_t expected_ms);
WDStatus PLX_DMASyncCpu(PLXDmaStruct *dma);
WDStatus PLX_DMASyncIo(PLXDmaStruct *dma);
// Sleep the expected time before polling a DMA's completion (process-wide).
extern int plx_dma_sleep_first;

uint32_t PLX_GetNumAddrSpaces(WDCDeviceHandle handle);
struct PLXAddrSpaceInfo {
  uint32_t space;  // in
  uint32_t is_active;
  char type[8];    // "Memory" or "I/O"
  char name[16];   // "BAR n"
  char desc[80];   // range or "Inactive address space"
};
int PLX_GetAddrSpaceInfo(WDCDeviceHandle handle, PLXAddrSpaceInfo *info);

WDStatus PLX_ReadAddrLocal8(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint8_t *value);
WDStatus PLX_ReadAddrLocal16(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint16_t *value);
WDStatus PLX_ReadAddrLocal32(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint32_t *value);
WDStatus PLX_ReadAddrLocal64(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint64_t *value);
WDStatus PLX_WriteAddrLocal8(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint8_t value);
WDStatus PLX_WriteAddrLocal16(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint16_t value);
WDStatus PLX_WriteAddrLocal32(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint32_t value);
WDStatus PLX_WriteAddrLocal64(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint64_t value);
WDStatus PLX_ReadAddrLocalBlock(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint32_t bytes, void *buffer,
                                uint32_t width, uint32_t options);
WDStatus PLX_WriteAddrLocalBlock(WDCDeviceHandle h, uint32_t space, uint32_t local_addr, uint32_t bytes,
                                 const void *buffer, uint32_t width, uint32_t options);

int PLX_EEPROMIsPresent(WDCDeviceHandle handle);
int PLX_EEPROM_VPD_Validate(WDCDeviceHandle handle);
WDStatus PLX_EEPROM_VPD_Read32(WDCDeviceHandle handle, uint32_t offset, uint32_t *value);
WDStatus PLX_EEPROM_VPD_Write32(WDCDeviceHandle handle, uint32_t offset, uint32_t value);
WDStatus PLX_EEPROM_RT_Read16(WDCDeviceHandle handle, uint32_t offset, uint16_t *value);
WDStatus PLX_EEPROM_RT_Write16(WDCDeviceHandle handle, uint32_t offset, uint16_t value);
WDStatus PLX_EEPROM_RT_Read32(WDCDeviceHandle handle, uint32_t offset, uint32_t *value);
WDStatus PLX_EEPROM_RT_Write32(WDCDeviceHandle handle, uint32_t offset, uint32_t value);

WDStatus PLX_SoftResetMaster(WDCDeviceHandle handle);

// 1 done, 0 failed.
int P9054_DMAReadBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes);
int P9054_DMARdWrBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device);
int P9054_DMAReadWriteBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device);
int P9054_DMAReadLargeBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes);
int P9054_DMAReadWriteLargeBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device);

// The Xilinx DMA engine in space 2: 1 when space 2 is not mapped, 0 after the access.
int XIL_ReadReg16(WDCDeviceHandle h, uint32_t offset, uint16_t *value);
int XIL_WriteReg16(WDCDeviceHandle h, uint32_t offset, uint16_t value);
int XIL_ReadReg32(WDCDeviceHandle h, uint32_t offset, uint32_t *value);
int XIL_WriteReg32(WDCDeviceHandle h, uint32_t offset, uint32_t value);
struct XILDmaStruct {
  WDDma *dma;
  uint32_t expected;  // the counter value at the end
  uint32_t to_device;
};
WDStatus XIL_DMAOpen(WDCDeviceHandle h, void *buffer, uint32_t bytes, int to_device, XILDmaStruct **dma);
WDStatus XIL_DMAStart(WDCDeviceHandle h, XILDmaStruct *dma, uint32_t mode);
int XIL_DMAIsDone(WDCDeviceHandle h, XILDmaStruct *dma);
int XIL_DMAPollCompletion(WDCDeviceHandle h, XILDmaStruct *dma, uint32_t expected_ms);
WDStatus XIL_DMAClose(WDCDeviceHandle h, XILDmaStruct *dma);
int XIL_DMAReadBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, uint32_t mode);
int XIL_DMARdWrBlock(WDCDeviceHandle h, uint32_t local_addr, void *buffer, uint32_t bytes, int to_device,
                     uint32_t mode);
