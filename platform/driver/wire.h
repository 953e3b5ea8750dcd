#pragma once
// The driver's side of the control interface: codes and record offsets of
// both interfaces, read from raw bytes. The backends decode requests with
// these, independently of the library's record types, so a layout fault on
// either side shows up as a wrong answer in the tests.
#include <cstdint>
#include <cstring>

namespace platform::driver::wire {

enum class Interface { k32, k64 };

// The interface of this build's library.
constexpr Interface kNative = sizeof(void *) > 4 ? Interface::k64 : Interface::k32;

constexpr uint32_t code(Interface i, uint32_t function) {
  return 0x95380003u + (function + (i == Interface::k64 ? 0x400u : 0u)) * 4u;
}

// Function number of a code of interface i; false for codes of the other
// interface or that are no control code at all.
bool function_of(Interface i, uint32_t code, uint32_t *function);

struct Layout {
  uint32_t item_size;        // card item
  uint32_t kernel_bytes;     // kernel address / port width
  uint32_t mem_kernel;       // offsets in an item
  uint32_t mem_user;
  uint32_t mem_bar;
  uint32_t io_length;
  uint32_t io_bar;
  uint32_t card_size;        // WDCard
  uint32_t card_info_size;   // WDPciCardInfo
  uint32_t register_size;    // WDCardRegister
  uint32_t register_handle;  // offset of the card handle
  uint32_t xfer_command;     // WDTransfer
  uint32_t xfer_bytes;
  uint32_t xfer_auto;
  uint32_t xfer_options;
};

constexpr Layout kLayout32{48, 4, 24, 28, 32, 12, 16, 968, 984, 1112, 972, 4, 8, 12, 16};
constexpr Layout kLayout64{56, 8, 24, 32, 36, 16, 20, 1128, 1144, 1272, 1132, 8, 12, 16, 20};
constexpr const Layout &layout(Interface i) { return i == Interface::k64 ? kLayout64 : kLayout32; }

// Records of the same size in both interfaces.
enum : uint32_t {
  kVersionSize = 132,
  kSlotSize = 12,
  kScanSize = 2016,
  kScanCount = 8,
  kScanIds = 12,
  kScanSlots = 812,
  kScanOptions = 2012,
  kConfigSize = 32,
  kConfigBuffer = 12,
  kConfigOffset = 16,
  kConfigBytes = 20,
  kConfigRead = 24,
  kConfigResult = 28,
  kTransferSize = 32,
  kTransferData = 24,
  kDebugSize = 264,
  kSleepSize = 8,
  kPlugInSize = 16,
  kInterruptSize = 56,
  kCardItemsAt = 8,  // items in a WDCard
  kCardInfoCard = 16,
};

inline uint32_t get32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t get64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void put32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void put64(uint8_t *p, uint64_t v) { std::memcpy(p, &v, 8); }
// A kernel-address field of the interface's width.
inline uint64_t get_kernel(const Layout &l, const uint8_t *p) { return l.kernel_bytes == 8 ? get64(p) : get32(p); }
inline void put_kernel(const Layout &l, uint8_t *p, uint64_t v) {
  if (l.kernel_bytes == 8)
    put64(p, v);
  else
    put32(p, static_cast<uint32_t>(v));
}

}  // namespace platform::driver::wire
