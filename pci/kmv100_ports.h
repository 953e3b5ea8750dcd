#pragma once
// Where the KMV-100 card's registers sit: the local bus of its PLX 9050 is
// decoded as an I/O space in BAR2 (the card layer's address space 2), and the
// three 16-bit registers lie at fixed offsets in it. The card model of the
// simulator and the module library both take the map from here.
#include <cstdint>

namespace kmv100 {

// Address space (BAR) of the local bus.
constexpr uint32_t kLocalSpace = 2;
// Bytes of the local I/O space the card decodes.
constexpr uint32_t kLocalBytes = 16;
// Register offsets from the space's port base.
constexpr uint32_t kControl = 0x0;  // supplies, cooler, overload reset, digital outputs
constexpr uint32_t kDacA = 0x2;     // C3 supplies, C3 gain and cooler voltage
constexpr uint32_t kDacB = 0x4;     // C3 -5 V, C1 gain and cooler current

// The bridge's CNTRL register and the card inputs wired to its user I/O lines.
constexpr uint32_t kCntrl = 0x50;
constexpr uint32_t kCntrlCurrentLimit = 1u << 2;  // 0 = connector 3 at its cooler current limit
constexpr uint32_t kCntrlOverload1 = 1u << 5;     // 0 = overload on connector 1
constexpr uint32_t kCntrlInUse = 1u << 7;         // 1 = a program has the card started
constexpr uint32_t kCntrlOverload3 = 1u << 11;    // 0 = overload on connector 3

// PCI identification of the card.
constexpr uint32_t kVendor = 0x10B5;
constexpr uint32_t kDevice = 0x9050;
constexpr uint32_t kSubsystem = 0x120610B5u;

}  // namespace kmv100
