// The simulated KMV-100 card.
#include "sim/kmv100_card.h"

#include <algorithm>

#include "pci/kmv100_ports.h"

namespace sim {

namespace {
constexpr uint32_t kEepromLines = 0x1F000000u;  // SK, CS, DI, DO, present
constexpr uint32_t kDataOut = 1u << 27, kPresent = 1u << 28;

uint8_t check_byte(const uint8_t *bytes, int n) {
  unsigned sum = 0;
  for (int i = 0; i < n; ++i) sum += bytes[i];
  return static_cast<uint8_t>(0x55u - sum);
}
}  // namespace

Kmv100Card::Kmv100Card() {
  // Power-up: every supply off, strobes inactive.
  regs_[0] = 0x001B;
  regs_[1] = 0xF000;
  regs_[2] = 0x3000;
  program({});
}

void Kmv100Card::program(const Kmv100Identity &id) {
  for (int b = 0; b < 100; ++b) eeprom.set_byte(b, static_cast<uint8_t>(b == 0 ? 0x50 : b == 1 ? 0x90 : b * 7 + 3));
  uint8_t block[28] = {};
  block[0] = id.limit_c1;
  block[1] = id.limit_c3;
  std::copy_n(id.serial.begin(), std::min<size_t>(id.serial.size(), 11), block + 2);
  std::copy_n(id.date.begin(), std::min<size_t>(id.date.size(), 11), block + 14);
  block[26] = check_byte(block + 2, 24);
  const uint8_t limits[2] = {block[0], block[1]};
  block[27] = check_byte(limits, 2);
  for (int i = 0; i < 28; ++i) eeprom.set_byte(100 + i, block[i]);
}

uint64_t Kmv100Card::local_read(int space, uint32_t offset, uint32_t bytes) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) {
    const uint32_t at = offset + i;
    uint8_t b = 0xFF;
    if (space == 0 && at < 2 * regs_.size()) b = static_cast<uint8_t>(regs_[at / 2] >> (8 * (at % 2)));
    v |= uint64_t{b} << (8 * i);
  }
  return v;
}

void Kmv100Card::local_write(int space, uint32_t offset, uint32_t bytes, uint64_t value) {
  if (space != 0) return;
  const auto before = regs_;
  for (uint32_t i = 0; i < bytes; ++i) {
    const uint32_t at = offset + i;
    if (at >= 2 * regs_.size()) continue;
    uint16_t &r = regs_[at / 2];
    const uint8_t b = static_cast<uint8_t>(value >> (8 * i));
    r = at % 2 ? static_cast<uint16_t>((r & 0x00FF) | b << 8) : static_cast<uint16_t>((r & 0xFF00) | b);
  }
  // Each register touched takes its new value at once.
  for (uint32_t at = offset & ~1u; at < offset + bytes && at < 2 * regs_.size(); at += 2) {
    writes.emplace_back(at, regs_[at / 2]);
    register_written(static_cast<int>(at / 2), before[at / 2]);
  }
}

void Kmv100Card::register_written(int index, uint16_t old) {
  const uint16_t w = regs_[index];
  const uint16_t code = w & 0x0FFF;
  if (index * 2 == static_cast<int>(kmv100::kControl)) {
    if ((old & 0x80) && !(w & 0x80)) {  // the reset pulse ends
      ++overload_resets;
      for (int k = 0; k < 2; ++k) latched_[k] = persistent_[k];
    }
  } else if (index * 2 == static_cast<int>(kmv100::kDacA)) {
    if (!(w & 0x1000)) codes_[1] = code;
    if (!(w & 0x2000)) codes_[2] = code;
  } else if (index * 2 == static_cast<int>(kmv100::kDacB)) {
    if (!(w & 0x1000)) codes_[0] = code;
    if (!(w & 0x2000)) codes_[3] = code;
  }
}

void Kmv100Card::cntrl_written(uint32_t value) { eeprom.lines(value); }

uint32_t Kmv100Card::cntrl_read(uint32_t latched) {
  uint32_t v = latched & ~(kEepromLines & ~0x07000000u);  // SK, CS, DI read back as written
  v &= ~(kmv100::kCntrlCurrentLimit | kmv100::kCntrlOverload1 | kmv100::kCntrlOverload3);
  if (!current_limit) v |= kmv100::kCntrlCurrentLimit;
  if (!latched_[0]) v |= kmv100::kCntrlOverload1;
  if (!latched_[1]) v |= kmv100::kCntrlOverload3;
  if (eeprom.data_out()) v |= kDataOut;
  if (eeprom.present) v |= kPresent;
  return v;
}

void Kmv100Card::trip_overload(int connector, bool persistent) {
  const int k = connector == 1 ? 0 : 1;
  latched_[k] = true;
  persistent_[k] = persistent;
}

void Kmv100Card::end_overload(int connector) { persistent_[connector == 1 ? 0 : 1] = false; }

Kmv100Outputs Kmv100Card::outputs() const {
  const uint16_t c = regs_[0], a = regs_[1], b = regs_[2];
  Kmv100Outputs o{};
  o.c1_p12v = !(c & 0x01);
  o.c1_p5v = !(c & 0x02);
  o.c1_m5v = c & 0x04;
  o.c2_p12v = !(c & 0x08);
  o.c2_p5v = !(c & 0x10);
  o.c2_m5v = c & 0x20;
  o.c3_cooling = c & 0x40;
  o.digout = static_cast<uint8_t>(c >> 8);
  o.c3_p5v = !(a & 0x8000);
  o.c3_p12v = !(a & 0x4000);
  o.c3_m5v = b & 0x4000;
  o.c1_gain = codes_[0];
  o.c3_gain = codes_[1];
  o.c3_coolvolt = codes_[2];
  o.c3_coolcurr = codes_[3];
  return o;
}

std::shared_ptr<Kmv100Card> add_kmv100(PciBus &bus, const PciSlotId &at, const Kmv100Identity &id) {
  Plx9050Options options;
  options.subsystem = kmv100::kSubsystem;
  options.local_space_bytes = kmv100::kLocalBytes;
  PlxPci9050 &plx = bus.add_plx9050(at, options);
  auto card = std::make_shared<Kmv100Card>();
  card->program(id);
  plx.attach_local(card);
  plx.attach_cntrl(card);
  // Power-up: user I/O idle, the in-use marker clear, the EEPROM lines low.
  plx.set_reg(kmv100::kCntrl, plx.reg(kmv100::kCntrl) & 0x00000FFFu & ~kmv100::kCntrlInUse);
  plx.cntrl_writes.clear();
  return card;
}

PlxPci9050 &kmv100_bridge(PciBus &bus, const PciSlotId &at) { return static_cast<PlxPci9050 &>(*bus.at(at)); }

}  // namespace sim
