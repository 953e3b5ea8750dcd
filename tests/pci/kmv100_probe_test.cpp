// Driver start, the card count by subsystem id, the port accessors and the
// bridge's serial EEPROM, on simulated KMV-100 cards.
#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <vector>

#include "pci/kmv100_ports.h"
#include "pci/p9050_qv.h"
#include "pci/plx_eep.h"
#include "platform/win/clock.h"
#include "sim/kmv100_card.h"
#include "tests/pci/pci_fixture.h"

namespace pcitest {
namespace {

class Kmv100ProbeTest : public PciFixture {
 protected:
  void SetUp() override {
    PciFixture::SetUp();
    bus().remove(kSlot);
    plx = nullptr;
    qv_hWD = -1;
  }
  void TearDown() override {
    if (h) PLX_DeviceClose(h);
    qv_hWD = -1;
    PciFixture::TearDown();
  }
  std::shared_ptr<sim::Kmv100Card> add_card(const sim::PciSlotId &at, const sim::Kmv100Identity &id = {}) {
    return sim::add_kmv100(bus(), at, id);
  }
  void open_card(int index = 0) {
    RegisterWinDriver();
    ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, static_cast<uint32_t>(index), 16), 1) << PLX_GetLastErr();
  }
  WDCDeviceHandle h = nullptr;
};

TEST_F(Kmv100ProbeTest, CountWithoutDriverOrCards) {
  int idx[8] = {-7};
  EXPECT_EQ(P9050_CountQVCards(0x10B5, 0x9050, 0x120610B5, idx, nullptr, 8), 0);
  EXPECT_STREQ(P9050_ErrorString, "Cannot open WinDriver device\n");
  RegisterWinDriver();
  ASSERT_NE(qv_hWD, -1);
  EXPECT_EQ(P9050_CountQVCards(0x10B5, 0x9050, 0x120610B5, idx, nullptr, 8), 0);
  EXPECT_STREQ(P9050_ErrorString, "no PLX9050 cards found\n");
  EXPECT_EQ(idx[0], -7);
}

TEST_F(Kmv100ProbeTest, CountTakesMatchingSubsystemsInScanOrder) {
  add_card({0, 3, 0});
  sim::Plx9050Options other;
  other.subsystem = 0x11112222u;
  bus().add_plx9050({0, 5, 0}, other);
  add_card({1, 2, 0});
  add_card({0, 9, 0});
  bus().config_fails.insert({0, 9, 0});  // its subsystem cannot be read
  RegisterWinDriver();

  int idx[8];
  WDPciSlot slots[8];
  idx[2] = -9;
  ASSERT_EQ(P9050_CountQVCards(0x10B5, 0x9050, 0x120610B5, idx, slots, 8), 2);
  EXPECT_EQ(idx[0], 0);
  EXPECT_EQ(idx[1], 3) << "scan index among all 9050s, bus 1 last";
  EXPECT_EQ(idx[2], -9);
  EXPECT_EQ(slots[1].bus, 1u);
  EXPECT_EQ(slots[1].slot, 2u);

  EXPECT_EQ(P9050_CountQVCards(0x10B5, 0x9050, 0x120610B5, nullptr, nullptr, 0), 2) << "null arrays: count only";
  idx[0] = -5;
  EXPECT_EQ(P9050_CountQVCards(0x10B5, 0x9050, -1, idx, slots, 8), 4) << "no filter";
  EXPECT_EQ(idx[0], -5) << "no filter leaves the arrays";
  // A caller's arrays are never written beyond their capacity.
  std::array<int, 2> small{-1, -1};
  EXPECT_EQ(P9050_CountQVCards(0x10B5, 0x9050, 0x120610B5, small.data(), nullptr, 1), 1);
  EXPECT_EQ(small[1], -1);
}

TEST_F(Kmv100ProbeTest, PortAccessorsSignExtendAndFailWithoutDriver) {
  auto card = add_card({0, 3, 0});
  open_card();
  const QVPort base = h->spaces[kmv100::kLocalSpace].kernel;
  ASSERT_NE(base, 0u);
  EXPECT_EQ(P9050_WriteQVWord(base + kmv100::kDacB, 0x8000), kWdSuccess);
  EXPECT_EQ(P9050_ReadQVWord(base + kmv100::kDacB), -32768);
  EXPECT_EQ(P9050_WriteQVByte(base + kmv100::kControl, 0xFF), kWdSuccess);
  EXPECT_EQ(P9050_ReadQVByte(base + kmv100::kControl), -1);
  EXPECT_EQ(card->control() & 0xFF, 0xFF);
  EXPECT_EQ(P9050_WriteQVDword(base, 0x12345678u), kWdSuccess);
  EXPECT_EQ(P9050_ReadQVDword(base), 0x12345678u);

  const WDDriverHandle kept = qv_hWD;
  qv_hWD = -1;
  bus().log.clear();
  EXPECT_EQ(P9050_ReadQVWord(base), 0);
  EXPECT_EQ(P9050_WriteQVWord(base, 1), 0xFFFFFFFFu);
  EXPECT_TRUE(bus().log.empty()) << "no request without a driver";
  qv_hWD = kept;
}

TEST_F(Kmv100ProbeTest, DriverVersionAndPlainCounts) {
  add_card({0, 3, 0});
  EXPECT_EQ(P9050_CountCards(0x10B5, 0x9050), 0);
  RegisterWinDriver();
  EXPECT_EQ(GetWinDriverVersion(), 1230);
  EXPECT_EQ(P9050_CountCards(0x10B5, 0x9050), 1);
  EXPECT_EQ(P9050_CountCards(0x10B5, 0x9054), 0);
  EXPECT_STREQ(P9050_ErrorString, "no cards found\n");
  EXPECT_EQ(P9050_Count_180_HOF_Cards(0x10B5, 0x9050, 0x120610B5, nullptr, nullptr, 0), 0);
  bus().driver_absent = true;
  EXPECT_EQ(GetWinDriverVersion(), -1);
}

// The 180-HOF cards: each card of the subsystem is opened and classed by the
// length of its space 1 and its number of spaces.
TEST_F(Kmv100ProbeTest, HofCardsAreClassedBySpaceOneAndSpaceCount) {
  constexpr uint16_t kVendor = 0x11E3, kDevice = 0x1B;
  constexpr uint32_t kSubsystem = 0x121111E3u;
  struct Card {
    sim::PciSlotId at;
    uint32_t subsystem, length1;
    bool space2;
  };
  const Card cards[] = {
      {{0, 2, 0}, kSubsystem, 0x800000, true},    // kind 0: above 4 MiB, three spaces
      {{0, 3, 0}, kSubsystem, 0x400000, true},    // kind 1: exactly 4 MiB, whatever the spaces
      {{0, 4, 0}, kSubsystem, 0x800000, false},   // above 4 MiB with two spaces: no kind
      {{0, 5, 0}, 0x12341234u, 0x800000, true},   // another subsystem: not looked at
      {{0, 6, 0}, kSubsystem, 0x400000, false},   // kind 1
      {{0, 7, 0}, kSubsystem, 0x1000, true},      // below: no kind
      {{0, 8, 0}, kSubsystem, 0x1000000, true},   // kind 0
  };
  for (const Card &c : cards) {
    auto f = std::make_shared<sim::PciPlainFunction>(kVendor, kDevice, c.subsystem);
    f->bars[0] = {true, 128, 0};
    f->bars[1] = {true, c.length1, 0};
    if (c.space2) f->bars[2] = {false, 64, 0};
    bus().add(c.at, f);
  }
  RegisterWinDriver();
  struct Want {
    int kind;
    std::vector<int> indexes;
    std::vector<uint32_t> slots;
  };
  for (const Want &w : {Want{0, {0, 6}, {2, 8}}, Want{1, {1, 4}, {3, 6}}}) {
    int idx[8];
    WDPciSlot slots[8] = {};
    std::fill(std::begin(idx), std::end(idx), -1);
    const int n = P9050_Count_180_HOF_Cards(kVendor, kDevice, static_cast<int>(kSubsystem), idx, slots, w.kind);
    ASSERT_EQ(n, 2) << w.kind;
    EXPECT_EQ(std::vector<int>(idx, idx + 3), (std::vector<int>{w.indexes[0], w.indexes[1], -1})) << w.kind;
    EXPECT_EQ(slots[0].slot, w.slots[0]) << w.kind;
    EXPECT_EQ(slots[1].slot, w.slots[1]) << w.kind;
  }
  EXPECT_EQ(registered(), 0u) << "every card opened for its class is closed again";
  EXPECT_EQ(P9050_Count_180_HOF_Cards(kVendor, kDevice, 0x121111E4, nullptr, nullptr, 0), 0) << "only one subsystem";
}

// ---- the serial EEPROM -------------------------------------------------------

class PlxEepTest : public Kmv100ProbeTest {
 protected:
  void SetUp() override {
    Kmv100ProbeTest::SetUp();
    card = add_card({0, 3, 0});
    for (int w = 0; w < 64; ++w) card->eeprom.words[w] = static_cast<uint16_t>(0x1000 + w);
    open_card();
  }
  std::shared_ptr<sim::Kmv100Card> card;
};

TEST_F(PlxEepTest, OffsetAndCountChooseTheWords) {
  struct Case {
    int16_t offset, count;
    int first, words;
  };
  const Case cases[] = {
      {127, 2, 63, 1}, {101, 2, 50, 1}, {100, 3, 50, 2}, {100, 0, 50, 0}, {100, 1, 50, 1},
      {102, 25, 51, 13}, {126, 3, 63, 1}, {0, 200, 0, 64}, {-4, 2, 0, 1},
  };
  for (const Case &c : cases) {
    std::array<uint16_t, 70> buf;
    buf.fill(0xEEEE);
    ASSERT_EQ(read_pci_eep(h, 0x9050, 128, c.offset, c.count, buf.data()), 0) << c.offset << "," << c.count;
    int n = 0;
    while (n < static_cast<int>(buf.size()) && buf[n] != 0xEEEE) ++n;
    EXPECT_EQ(n, c.words) << c.offset << "," << c.count;
    if (c.words > 0) {
      EXPECT_EQ(buf[0], 0x1000 + c.first) << c.offset << "," << c.count;
    }
  }
  EXPECT_TRUE(card->eeprom.faults.empty()) << card->eeprom.faults.front();
}

TEST_F(PlxEepTest, WritesWordsAndLeavesTheRegisterAsFound) {
  auto &plx = sim::kmv100_bridge(bus(), {0, 3, 0});
  plx.set_reg(0x50, (plx.reg(0x50) & 0xFFFF) | 0x0080);  // the in-use marker among the low bits
  const uint32_t before = plx.reg(0x50) & 0xFFFF;
  const uint16_t data[3] = {0xA55A, 0x1234, 0xBEEF};
  ASSERT_EQ(write_pci_eep(h, 0x9050, 128, 100, 5, data), 0);
  EXPECT_EQ(card->eeprom.words[50], 0xA55A) << "byte 100 is the low byte of word 50";
  EXPECT_EQ(card->eeprom.words[52], 0xBEEF);
  EXPECT_EQ(card->eeprom.words[53], 0x1000 + 53);
  EXPECT_FALSE(card->eeprom.write_enabled()) << "writes disabled again";
  EXPECT_EQ(plx.reg(0x50) & 0xFFFF, before);
  EXPECT_EQ(plx.cntrl_writes.back() & 0x07000000u, 0u) << "clock, select and data in end low";
  for (uint32_t w : plx.cntrl_writes) EXPECT_EQ(w & 0xFFFF, before);

  uint16_t back[3] = {};
  ASSERT_EQ(read_pci_eep(h, 0x9050, 128, 100, 6, back), 0);
  EXPECT_EQ(back[1], 0x1234);
  EXPECT_TRUE(plx.faults.empty());
}

TEST_F(PlxEepTest, AnOddCountAtTheEndNeverWrapsToWordZero) {
  const uint16_t data[2] = {0x7777, 0x6666};
  ASSERT_EQ(write_pci_eep(h, 0x9050, 128, 126, 3, data), 0);
  EXPECT_EQ(card->eeprom.words[63], 0x7777);
  EXPECT_EQ(card->eeprom.words[0], 0x1000);
  EXPECT_TRUE(card->eeprom.faults.empty()) << card->eeprom.faults.front();
}

TEST_F(PlxEepTest, AbsentOrBusyEepromFails) {
  card->eeprom.stuck_busy = true;
  const uint16_t data[2] = {1, 2};
  EXPECT_EQ(write_pci_eep(h, 0x9050, 128, 100, 4, data), -2);
  ASSERT_EQ(card->eeprom.stored.size(), 1u) << "no further word after the time-out";
  EXPECT_FALSE(card->eeprom.write_enabled()) << "EWDS is still sent";

  card->eeprom.present = false;
  uint16_t buf[2] = {0xEEEE, 0xEEEE};
  EXPECT_EQ(read_pci_eep(h, 0x9050, 128, 100, 2, buf), -2);
  EXPECT_EQ(buf[0], 0xEEEE);
}

// The part takes a clock edge only after its set-up time: the bit-bang must
// wait on the program's clock, which here is virtual, so a wait that only
// burns CPU leaves no time at all between the edges.
TEST_F(PlxEepTest, EveryClockEdgeKeepsThePartsTimes) {
  sim::MicrowireEeprom &eep = card->eeprom;
  ASSERT_EQ(eep.min_edge_gap, 1e-6);
  std::array<uint16_t, 64> buf{};
  ASSERT_EQ(read_pci_eep(h, 0x9050, 128, 0, 128, buf.data()), 0);
  EXPECT_EQ(buf[63], 0x1000 + 63);
  const uint16_t data[2] = {0x4321, 0x8765};
  ASSERT_EQ(write_pci_eep(h, 0x9050, 128, 100, 4, data), 0);
  EXPECT_EQ(eep.words[51], 0x8765);
  EXPECT_EQ(eep.refused_edges, 0);
  EXPECT_GE(eep.shortest_setup, eep.min_edge_gap);
  EXPECT_GE(eep.shortest_high, eep.min_edge_gap);
  EXPECT_TRUE(eep.faults.empty()) << eep.faults.front();
}

// The simulated part on its own: edges too soon after a line change, or a
// clock high too short, are counted; a rising one is not taken.
TEST(MicrowireTiming, EdgesTooSoonAreRefused) {
  testsupport::VirtualClock clock;
  constexpr uint32_t kSk = 1u << 24, kCs = 1u << 25, kDi = 1u << 26;
  constexpr double kStep = 1e-6;
  sim::MicrowireEeprom eep;
  eep.words[5] = 0x8001;
  // Start bit, READ 10, address 5: DI set, then the clock a step later.
  const auto send = [&](bool one, double setup, double high) {
    const uint32_t di = one ? kDi : 0;
    eep.lines(kCs | di);
    platform::clock::advance(setup);
    eep.lines(kCs | di | kSk);
    platform::clock::advance(high);
    eep.lines(kCs | di);
    platform::clock::advance(kStep);
  };
  eep.lines(kCs);
  platform::clock::advance(kStep);
  send(true, 0.0, kStep);  // the start bit with no set-up: not taken
  EXPECT_EQ(eep.refused_edges, 1);
  ASSERT_EQ(eep.faults.size(), 1u);
  EXPECT_NE(eep.faults[0].find("set-up of 0.000 us"), std::string::npos) << eep.faults[0];
  EXPECT_TRUE(eep.data_out()) << "no command started: the part shows its ready status";
  for (const bool bit : {true, true, false, false, false, false, true, false, true}) send(bit, kStep, kStep);
  EXPECT_FALSE(eep.data_out()) << "the dummy 0 after the address";
  uint32_t word = 0;
  for (int i = 0; i < 16; ++i) {
    eep.lines(kCs | kSk);
    platform::clock::advance(kStep);
    eep.lines(kCs);
    word = word << 1 | (eep.data_out() ? 1u : 0u);
  }
  EXPECT_EQ(word, 0x8001u) << "a read clocks its bits with no wait after the falling edge";
  EXPECT_EQ(eep.refused_edges, 1);
  eep.lines(kCs | kSk);
  eep.lines(kCs);  // high for no time at all
  EXPECT_EQ(eep.refused_edges, 2);
  EXPECT_EQ(eep.shortest_high, 0.0);
  EXPECT_EQ(eep.shortest_setup, 0.0);
  EXPECT_EQ(eep.faults.size(), 1u) << "only the first one is logged";
}

TEST_F(PlxEepTest, ProgrammedCardHoldsItsIdentification) {
  card->program({"81000000042", "01.02.2020", 80, 90});
  uint16_t buf[14] = {};
  ASSERT_EQ(read_pci_eep(h, 0x9050, 128, 100, 28, buf), 0);
  const auto *bytes = reinterpret_cast<const uint8_t *>(buf);
  EXPECT_EQ(bytes[0], 80);
  EXPECT_EQ(bytes[1], 90);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes + 2), 11), "81000000042");
  unsigned sum = 0;
  for (int i = 2; i < 27; ++i) sum += bytes[i];
  EXPECT_EQ(sum & 0xFF, 0x55u);
  EXPECT_EQ((bytes[0] + bytes[1] + bytes[27]) & 0xFF, 0x55);
}

}  // namespace
}  // namespace pcitest
