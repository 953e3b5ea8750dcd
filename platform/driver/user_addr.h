#pragma once
// User-mode addresses in driver records. The records keep every user-mode
// pointer in 32 bits (configuration buffers, block-transfer buffers, the
// mapping of a memory space). A 32-bit process puts its real address there; a
// 64-bit one cannot, so it puts a token: an address in a private 32-bit space
// where each registered range has a window. The backends resolve both the same
// way, through this table, and refuse an address no live range covers.
//
// Memory spaces of a card are windows too: an access goes to the real mapping
// (volatile loads and stores) or, for a simulated card, to its register model.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform::driver {

// A memory space that is not plain memory (a simulated card's registers).
class MmioTarget {
 public:
  virtual ~MmioTarget() = default;
  virtual uint64_t read(uint32_t offset, uint32_t bytes) = 0;
  virtual void write(uint32_t offset, uint32_t bytes, uint64_t value) = 0;
};

// Registers a caller's buffer for the length of one request; 0 for a null or
// empty buffer. release() with the address returned.
uint32_t user_addr_register(void *buffer, size_t bytes);
void user_addr_release(uint32_t addr);
// The host bytes behind [addr, addr + bytes), or null when no registered plain
// range covers them all.
uint8_t *user_addr_resolve(uint32_t addr, size_t bytes);

// A window for a memory space: host memory (a real mapping) or a target.
uint32_t mmio_map_host(void *host, size_t bytes);
uint32_t mmio_map_target(std::shared_ptr<MmioTarget> target, size_t bytes);
void mmio_unmap(uint32_t addr);
// One access of 1, 2, 4 or 8 bytes; false when no window covers it.
bool mmio_read(uint32_t addr, uint32_t bytes, uint64_t *value);
bool mmio_write(uint32_t addr, uint32_t bytes, uint64_t value);

// Number of live ranges and windows (tests check that nothing leaks).
size_t user_addr_live();

// A caller's buffer registered for one request.
class UserBuffer {
 public:
  UserBuffer(void *buffer, size_t bytes) : addr_(user_addr_register(buffer, bytes)) {}
  ~UserBuffer() { user_addr_release(addr_); }
  UserBuffer(const UserBuffer &) = delete;
  UserBuffer &operator=(const UserBuffer &) = delete;
  uint32_t addr() const { return addr_; }

 private:
  uint32_t addr_;
};

}  // namespace platform::driver
