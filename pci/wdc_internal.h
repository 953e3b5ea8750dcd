#pragma once
// State behind an open card's interrupt and events (card layer only).
#include <cstdint>
#include <vector>

#include "pci/wdc_card.h"
#include "pci/wd_os.h"

// The wait thread of one enabled interrupt.
struct WDCInterruptThread {
  WDDriverHandle driver = -1;
  INT_HANDLER handler = nullptr;
  void *data = nullptr;
  WDInterrupt *rec = nullptr;
  HANDLE thread = nullptr;
  std::vector<WDTransfer> commands;  // the caller's, kept for the driver
};

// Registered events of one card.
struct WDCEventState {
  std::vector<uint8_t> record;  // WDEvent with its match entries
  uint32_t handle = 0;
  EVENT_HANDLER handler = nullptr;
  void *data = nullptr;
  WDInterrupt interrupt{};  // the event's interrupt, pulled on the wait thread
  WDCInterruptThread *pull = nullptr;
};

// The open and close shared by the bus kinds: identify_card (may be null)
// fills the ids, operation names the caller in error lines.
WDStatus wdc_device_open(WDCDeviceHandle *out, const WDPciSlot &slot, const WDCard &card, void *context,
                         bool (*identify_card)(WDCDevice *), const char *operation);
WDStatus wdc_device_close(WDCDeviceHandle handle, const char *error_format);
