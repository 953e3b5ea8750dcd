#pragma once
// Handle types of the PCI driver access that the module library keeps in its
// per-card records. Both are pointer-wide, so the 64-bit driver interface
// widens them to 64 bits.
#include <cstdint>

// One open PCI card (the card layer's record, pci/wdc_card.h).
struct WDCDevice;
typedef WDCDevice *WDCDeviceHandle;
// The process-wide handle of the open kernel driver; -1 when it is not open.
typedef intptr_t WDDriverHandle;
