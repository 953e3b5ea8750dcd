// The simulated PLX PCI 9050 bridge.
#include "sim/plx9050.h"

#include <cstdio>

namespace sim {

namespace {
constexpr uint32_t kResetBits = 0x60000000u;  // CNTRL 29 reload, 30 software reset
}

PlxPci9050::PlxPci9050(const Plx9050Options &options)
    : register_bytes_(options.register_bytes > kRegisterBytes ? uint32_t{kMaxRegisterBytes} : uint32_t{kRegisterBytes}) {
  set_config(0x00, 0x905010B5u, 4);
  set_config(0x08, 0x06800001u, 4);  // bridge, other
  set_config(0x2C, options.subsystem, 4);
  set_config(0x3D, 1, 1);  // INTA
  irq = options.irq;
  if (options.registers_in_memory) bars[0] = {true, register_bytes_, 0};
  bars[1] = {false, register_bytes_, 0};
  if (options.local_space_bytes) bars[2] = {false, options.local_space_bytes, 0};
  local_latch_.assign(options.local_space_bytes, 0);
  // Local space 0 enabled; user I/O lines as outputs, idle high.
  regs_[0x14] = 0x01;
  set_reg(kCntrl, 0x00000FFFu & 0x00000DB6u);
  cntrl_writes.clear();
}

uint64_t PlxPci9050::reg_read(uint32_t offset, uint32_t bytes) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) v |= uint64_t{regs_[(offset + i) % register_bytes_]} << (8 * i);
  // CNTRL goes through the card's lines
  if (offset <= kCntrl + 3 && offset + bytes > kCntrl) {
    uint32_t latched = 0;
    for (uint32_t i = 0; i < 4; ++i) latched |= uint32_t{regs_[kCntrl + i]} << (8 * i);
    const uint32_t seen = lines_ ? lines_->cntrl_read(latched) : ((latched & ~0x18000000u) | 0x08000000u);
    for (uint32_t i = 0; i < bytes; ++i) {
      const uint32_t at = offset + i;
      if (at >= kCntrl && at < kCntrl + 4) {
        v &= ~(uint64_t{0xFF} << (8 * i));
        v |= uint64_t{(seen >> (8 * (at - kCntrl))) & 0xFF} << (8 * i);
      }
    }
  }
  return v;
}

void PlxPci9050::reg_write(uint32_t offset, uint32_t bytes, uint64_t value) {
  for (uint32_t i = 0; i < bytes; ++i) regs_[(offset + i) % register_bytes_] = static_cast<uint8_t>(value >> (8 * i));
  if (offset <= kCntrl + 3 && offset + bytes > kCntrl) {
    uint32_t cntrl = 0;
    for (uint32_t i = 0; i < 4; ++i) cntrl |= uint32_t{regs_[kCntrl + i]} << (8 * i);
    if (cntrl & kResetBits) {
      char text[64];
      std::snprintf(text, sizeof text, "CNTRL reset/reload bits written: 0x%08X", static_cast<unsigned>(cntrl));
      faults.push_back(text);
    }
    cntrl_writes.push_back(cntrl);
    if (lines_) lines_->cntrl_written(cntrl);
  }
}

uint32_t PlxPci9050::reg(uint32_t offset) { return static_cast<uint32_t>(reg_read(offset, 4)); }
void PlxPci9050::set_reg(uint32_t offset, uint32_t value) { reg_write(offset, 4, value); }

uint64_t PlxPci9050::bar_read(int bar, uint32_t offset, uint32_t bytes) {
  if (bar == 0 || bar == 1) return reg_read(offset, bytes);
  if (bar == 2) {
    if (local_) return local_->local_read(0, offset, bytes);
    uint64_t v = 0;
    for (uint32_t i = 0; i < bytes && offset + i < local_latch_.size(); ++i)
      v |= uint64_t{local_latch_[offset + i]} << (8 * i);
    return v;
  }
  return bytes == 8 ? ~0ull : (1ull << (8 * bytes)) - 1;
}

void PlxPci9050::bar_write(int bar, uint32_t offset, uint32_t bytes, uint64_t value) {
  if (bar == 0 || bar == 1) {
    reg_write(offset, bytes, value);
  } else if (bar == 2) {
    if (local_) {
      local_->local_write(0, offset, bytes, value);
      return;
    }
    for (uint32_t i = 0; i < bytes && offset + i < local_latch_.size(); ++i)
      local_latch_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

}  // namespace sim
