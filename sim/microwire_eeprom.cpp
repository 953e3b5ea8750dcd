// The simulated Microwire serial EEPROM.
#include "sim/microwire_eeprom.h"

#include <algorithm>
#include <cstdio>

#include "platform/win/clock.h"

namespace sim {

namespace {
constexpr uint32_t kSk = 1u << 24, kCs = 1u << 25, kDi = 1u << 26;
// Times summed on the virtual clock lose a little to rounding.
constexpr double kRounding = 1e-12;
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

// DI matters only while the part takes in a command or data; during a read
// it only shifts data out.
bool MicrowireEeprom::samples_di() const { return state_ != kRead && state_ != kDone; }

void MicrowireEeprom::refuse(const char *what, double gap) {
  if (refused_edges++ == 0) {
    char text[96];
    std::snprintf(text, sizeof text, "%s %.3f us (at least %.3f us)", what, gap * 1e6, min_edge_gap * 1e6);
    faults.emplace_back(text);
  }
}

void MicrowireEeprom::lines(uint32_t cntrl) {
  if (!present) return;
  const double t = platform::clock::now();
  const bool cs = cntrl & kCs, sk = cntrl & kSk, di = cntrl & kDi;
  if (di != di_) di_changed_ = t;
  di_ = di;
  if (cs != cs_) cs_changed_ = t;
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
  if (sk && !sk_) {
    const double setup = std::min(t - cs_changed_, samples_di() ? t - di_changed_ : 1e9);
    shortest_setup = std::min(shortest_setup, setup);
    rise_taken_ = setup + kRounding >= min_edge_gap;
    if (rise_taken_) {
      sk_rose_ = t;
      clock(di);
    } else {
      refuse("clock rose after a set-up of", setup);
    }
  } else if (!sk && sk_ && rise_taken_) {
    const double high = t - sk_rose_;
    shortest_high = std::min(shortest_high, high);
    if (high + kRounding < min_edge_gap) refuse("clock fell after a high time of", high);
  }
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
