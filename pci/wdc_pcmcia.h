#pragma once
// PCMCIA and ISA cards in the card layer.
#include <cstdint>

#include "pci/wdc_card.h"

struct WDPcmciaSlot {
  uint8_t socket;
  uint8_t function;
  uint8_t reserved[2];
};

struct WDPcmciaId {
  uint16_t manufacturer;
  uint16_t card;
};

constexpr uint32_t kWdPcmciaMaxScan = 8;

struct WDPcmciaScanResult {
  uint16_t search_manufacturer;  // 0 any
  uint16_t search_card;
  uint32_t count;
  WDPcmciaId ids[kWdPcmciaMaxScan];
  WDPcmciaSlot slots[kWdPcmciaMaxScan];
  uint32_t options;
};

struct WDPcmciaConfigAccess {
  WDPcmciaSlot slot;
  uint32_t offset;
  WDUserAddr buffer;
  uint32_t bytes;
  uint32_t read;
  uint32_t mode;
  uint32_t result;
};

struct WDPcmciaControl {
  WDPcmciaSlot slot;
  uint8_t speed;
  uint8_t width;
  uint8_t access;
  uint8_t reserved;
  uint16_t vpp;
  uint16_t reserved2;
  uint32_t options;
};

#pragma pack(push, 4)
struct WDPcmciaCardInfo {
  WDPcmciaSlot slot;
  uint32_t reserved[3];
  WDCard card;
};
#pragma pack(pop)
static_assert(offsetof(WDPcmciaCardInfo, card) == 16);

WDStatus WDC_PcmciaReadAttribSpace(WDCDeviceHandle handle, uint32_t offset, void *data, uint32_t bytes);
WDStatus WDC_PcmciaWriteAttribSpace(WDCDeviceHandle handle, uint32_t offset, const void *data, uint32_t bytes);
WDStatus WDC_PcmciaSetWindow(WDCDeviceHandle handle, uint8_t speed, uint8_t width, uint8_t access);
WDStatus WDC_PcmciaSetVpp(WDCDeviceHandle handle, uint16_t vpp);
WDStatus WDC_PcmciaScanDevices(uint16_t manufacturer, uint16_t card, WDPcmciaScanResult *result);
WDStatus WDC_PcmciaGetDeviceInfo(WDPcmciaCardInfo *info);
WDStatus WDC_PcmciaDeviceOpen(WDCDeviceHandle *out, const WDPcmciaCardInfo *info, void *context);
WDStatus WDC_IsaDeviceOpen(WDCDeviceHandle *out, const WDCard *card, void *context);
WDStatus WDC_PcmciaDeviceClose(WDCDeviceHandle handle);
WDStatus WDC_IsaDeviceClose(WDCDeviceHandle handle);
