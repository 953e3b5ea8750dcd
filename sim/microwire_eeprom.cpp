// The simulated Microwire serial EEPROM.
#include "sim/microwire_eeprom.h"

#include <cstdio>

#include "platform/win/clock.h"

namespace sim {

namespace {
constexpr uint32_t kSk = 1u << 24, kCs = 1u << 25, kDi = 1u << 26;
}

MicrowireEeprom::MicrowireEeprom(int address_bits)
    : words(static_cast<size_t>(1) << address_bits, 0xFFFF), address_bits_(address_bits) {}

bool MicrowireEeprom::busy() const {
  return busy_until_ >= 0.0 && platform::clock::now() < busy_until_;
}

bool MicrowireEeprom::data_out() const {
  if (!present) return true;
  if (!cs_) return true;
  // With chip select high and no command running the part shows its status.
  if (state_ == kIdle) return !busy() && !stuck_busy;
  return out_;
}

void MicrowireEeprom::lines(uint32_t cntrl) {
  if (!present) return;
  const bool cs = cntrl & kCs, sk = cntrl & kSk, di = cntrl & kDi;
  if (!cs) {
    if (cs_ && state_ == kWrite && bits_ == 16 && enabled_ && !busy()) {
      words[address_] = data_;
      stored.emplace_back(static_cast<int>(address_), data_);
      if (address_ == 0) faults.push_back("word 0 (bridge configuration) written");
      busy_until_ = platform::clock::now() + write_cycle;
    }
    state_ = kIdle;
    bits_ = 0;
    out_ = true;
    cs_ = false;
    sk_ = sk;
    return;
  }
  if (!cs_) {
    cs_ = true;
    state_ = kIdle;
    bits_ = 0;
  }
  if (sk && !sk_) clock(di);
  sk_ = sk;
}

void MicrowireEeprom::clock(bool di) {
  const uint32_t mask = (1u << address_bits_) - 1;
  switch (state_) {
    case kIdle:  // leading zeros before the start bit are ignored
      if (di && !busy()) {
        state_ = kOpcode;
        bits_ = 0;
        opcode_ = 0;
        address_ = 0;
        data_ = 0;
      }
      break;
    case kOpcode:
      opcode_ = opcode_ << 1 | (di ? 1u : 0u);
      if (++bits_ == 2) {
        state_ = kAddress;
        bits_ = 0;
      }
      break;
    case kAddress:
      address_ = (address_ << 1 | (di ? 1u : 0u)) & mask;
      if (++bits_ < address_bits_) break;
      bits_ = 0;
      if (opcode_ == 2) {  // READ: the dummy 0 first
        state_ = kRead;
        wrapped_ = false;
        out_ = false;
      } else if (opcode_ == 1) {
        state_ = kWrite;
      } else if (opcode_ == 0) {
        const uint32_t top = address_ >> (address_bits_ - 2);
        if (top == 3) enabled_ = true;
        if (top == 0) enabled_ = false;
        state_ = kDone;
      } else {
        state_ = kDone;  // ERASE is not used by the card's software
      }
      break;
    case kRead:
      if (bits_ == 0 && wrapped_) faults.push_back("sequential read ran past the last word");
      out_ = (words[address_] >> (15 - bits_)) & 1u;
      if (++bits_ == 16) {
        bits_ = 0;
        wrapped_ = address_ == mask;
        address_ = (address_ + 1) & mask;
      }
      break;
    case kWrite:
      if (bits_ < 16) {
        data_ = static_cast<uint16_t>(data_ << 1 | (di ? 1u : 0u));
        ++bits_;
      }
      break;
    case kDone:
      break;
  }
}

uint8_t MicrowireEeprom::byte(int at) const {
  const uint16_t w = words[static_cast<size_t>(at / 2) % words.size()];
  return static_cast<uint8_t>(at % 2 ? w >> 8 : w & 0xFF);
}

void MicrowireEeprom::set_byte(int at, uint8_t value) {
  uint16_t &w = words[static_cast<size_t>(at / 2) % words.size()];
  w = at % 2 ? static_cast<uint16_t>((w & 0x00FF) | value << 8) : static_cast<uint16_t>((w & 0xFF00) | value);
}

}  // namespace sim
