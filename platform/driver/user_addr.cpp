// The table of user-mode ranges and memory-space windows.
#include "platform/driver/user_addr.h"

#include <cstring>
#include <map>
#include <mutex>
#include <sys/mman.h>

namespace platform::driver {
namespace {

constexpr bool kTokens = sizeof(void *) > 4;
// Tokens live here: away from 0, so a cleared field never resolves.
constexpr uint64_t kTokenFirst = 0x00100000u;
constexpr uint64_t kTokenEnd = 0xFFF00000u;
constexpr uint64_t kTokenAlign = 0x1000u;

struct Range {
  uint64_t size = 0;
  uint8_t *host = nullptr;               // plain memory
  std::shared_ptr<MmioTarget> target;    // or a register model
  void *reservation = nullptr;           // 32-bit build: address space held for a target
  int refs = 1;
};

struct Table {
  std::mutex lock;
  std::map<uint64_t, Range> ranges;  // by base address
};

Table &table() {
  static Table t;
  return t;
}

// A free token window of `bytes`, or 0 when the space is full.
uint64_t find_gap(const std::map<uint64_t, Range> &ranges, uint64_t bytes) {
  const uint64_t need = (bytes + kTokenAlign - 1) / kTokenAlign * kTokenAlign;
  uint64_t at = kTokenFirst;
  for (const auto &[base, r] : ranges) {
    if (base >= at + need) break;
    const uint64_t end = (base + r.size + kTokenAlign - 1) / kTokenAlign * kTokenAlign;
    if (end > at) at = end + kTokenAlign;  // a guard page between windows
  }
  return at + need <= kTokenEnd ? at : 0;
}

uint32_t add(Range r, void *host_addr) {
  Table &t = table();
  std::lock_guard<std::mutex> g(t.lock);
  uint64_t base = 0;
  if (kTokens) {
    base = find_gap(t.ranges, r.size);
  } else {
    base = reinterpret_cast<uintptr_t>(host_addr);
    auto it = t.ranges.find(base);
    if (it != t.ranges.end() && it->second.size == r.size && it->second.host == r.host && !r.target) {
      ++it->second.refs;  // the same buffer in two requests at once
      return static_cast<uint32_t>(base);
    }
    if (it != t.ranges.end()) return 0;
  }
  if (base == 0) return 0;
  t.ranges.emplace(base, std::move(r));
  return static_cast<uint32_t>(base);
}

void remove(uint32_t addr) {
  if (addr == 0) return;
  Table &t = table();
  void *reservation = nullptr;
  size_t size = 0;
  {
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.ranges.find(addr);
    if (it == t.ranges.end()) return;
    if (--it->second.refs > 0) return;
    reservation = it->second.reservation;
    size = it->second.size;
    t.ranges.erase(it);
  }
  if (reservation) ::munmap(reservation, size);
}

// The range holding [addr, addr + bytes) and the offset into it.
Range *lookup(Table &t, uint64_t addr, uint64_t bytes, uint64_t *offset) {
  auto it = t.ranges.upper_bound(addr);
  if (it == t.ranges.begin()) return nullptr;
  --it;
  const uint64_t off = addr - it->first;
  if (off > it->second.size || bytes > it->second.size - off) return nullptr;
  *offset = off;
  return &it->second;
}

// The window of an access: its target, or the host bytes; the table's lock is
// not held during the access itself (a target may take its own).
bool window(uint32_t addr, uint32_t bytes, std::shared_ptr<MmioTarget> *target, uint8_t **host, uint64_t *off) {
  Table &t = table();
  std::lock_guard<std::mutex> g(t.lock);
  Range *r = lookup(t, addr, bytes, off);
  if (!r) return false;
  *target = r->target;
  *host = r->host ? r->host + *off : nullptr;
  return true;
}

}  // namespace

uint32_t user_addr_register(void *buffer, size_t bytes) {
  if (!buffer || bytes == 0) return 0;
  Range r;
  r.size = bytes;
  r.host = static_cast<uint8_t *>(buffer);
  return add(std::move(r), buffer);
}

void user_addr_release(uint32_t addr) { remove(addr); }

uint8_t *user_addr_resolve(uint32_t addr, size_t bytes) {
  Table &t = table();
  std::lock_guard<std::mutex> g(t.lock);
  uint64_t off = 0;
  Range *r = lookup(t, addr, bytes, &off);
  if (!r || !r->host) return nullptr;
  return r->host + off;
}

uint32_t mmio_map_host(void *host, size_t bytes) { return user_addr_register(host, bytes); }

uint32_t mmio_map_target(std::shared_ptr<MmioTarget> target, size_t bytes) {
  if (!target || bytes == 0) return 0;
  Range r;
  r.size = bytes;
  r.target = std::move(target);
  void *where = nullptr;
  if (!kTokens) {
    // Hold address space that no buffer can share, so the address is unique.
    where = ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (where == MAP_FAILED) return 0;
    r.reservation = where;
  }
  const uint32_t a = add(std::move(r), where);
  if (a == 0 && where) ::munmap(where, bytes);
  return a;
}

void mmio_unmap(uint32_t addr) { remove(addr); }

bool mmio_read(uint32_t addr, uint32_t bytes, uint64_t *value) {
  std::shared_ptr<MmioTarget> target;
  uint64_t off = 0;
  uint8_t *host = nullptr;
  if (!window(addr, bytes, &target, &host, &off)) return false;
  if (target) {
    *value = target->read(static_cast<uint32_t>(off), bytes);
    return true;
  }
  // Device registers: every access must reach the bus, in order.
  switch (bytes) {
    case 1: *value = *reinterpret_cast<volatile uint8_t *>(host); return true;
    case 2: *value = *reinterpret_cast<volatile uint16_t *>(host); return true;
    case 4: *value = *reinterpret_cast<volatile uint32_t *>(host); return true;
    case 8: *value = *reinterpret_cast<volatile uint64_t *>(host); return true;
    default: return false;
  }
}

bool mmio_write(uint32_t addr, uint32_t bytes, uint64_t value) {
  std::shared_ptr<MmioTarget> target;
  uint64_t off = 0;
  uint8_t *host = nullptr;
  if (!window(addr, bytes, &target, &host, &off)) return false;
  if (target) {
    target->write(static_cast<uint32_t>(off), bytes, value);
    return true;
  }
  switch (bytes) {
    case 1: *reinterpret_cast<volatile uint8_t *>(host) = static_cast<uint8_t>(value); return true;
    case 2: *reinterpret_cast<volatile uint16_t *>(host) = static_cast<uint16_t>(value); return true;
    case 4: *reinterpret_cast<volatile uint32_t *>(host) = static_cast<uint32_t>(value); return true;
    case 8: *reinterpret_cast<volatile uint64_t *>(host) = value; return true;
    default: return false;
  }
}

size_t user_addr_live() {
  Table &t = table();
  std::lock_guard<std::mutex> g(t.lock);
  return t.ranges.size();
}

}  // namespace platform::driver
