// KMV-100 PCI cards through the module library: start from the ini file over
// the simulated PCI bus, parameters, outputs, overloads, current limit,
// EEPROM data and gain limits, mode switching, and emulation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "pci/kmv100_ports.h"
#include "pci/plx_32w123c15.h"
#include "pci/p9050_qv.h"
#include "platform/driver/sim_backend.h"
#include "sim/kmv100_card.h"
#include "tests/testsupport/testsupport.h"

namespace {

constexpr sim::PciSlotId kSlotA{0, 3, 0};  // serial 5
constexpr sim::PciSlotId kSlotB{1, 2, 0};  // serial 3

void reset_library() {
  KMV_close();
  kmv_initialised = 0;
  KMV_force_mode(-1, 0, 0);
  WDC_DriverClose();
  qv_hWD = -1;
  kmv_err_string[0] = '\0';
}

class PciCards : public testing::Test {
 protected:
  void SetUp() override {
    reset_library();
    scope_ = std::make_unique<platform::driver::SimPciScope>();
    a = sim::add_kmv100(bus(), kSlotA, {"81000000005", "01.02.2020", 100, 100});
    b = sim::add_kmv100(bus(), kSlotB, {"81000000003", "03.04.2021", 80, 90});
  }
  void TearDown() override {
    reset_library();
    scope_.reset();
    kmv_rand = std::rand;
  }
  sim::PciBus &bus() { return scope_->bus(); }
  uint32_t cntrl(const sim::PciSlotId &at) { return sim::kmv100_bridge(bus(), at).reg(kmv100::kCntrl); }
  std::string ini(const std::string &body) { return dir_.write("kmv.ini", "; KMV100 card configuration\n" + body); }
  // Both cards active, in hardware.
  std::string two_cards(const std::string &extra = "") {
    return ini("[KMV_BASE]\nSIMULATION = 0\n[KMV_MODULE1]\nKMV_ACTIVE = 1\nC2_DIGOUT = 200\nC1_GAIN_HV = 90\n" + extra +
               "[KMV_MODULE2]\nACTIVE = 1\nC3_GAIN_HV = 95\nC3_COOLVOLT = 2.5\n");
  }

  testsupport::VirtualClock clock_;
  testsupport::TempDir dir_;
  std::unique_ptr<platform::driver::SimPciScope> scope_;
  std::shared_ptr<sim::Kmv100Card> a, b;
};

TEST_F(PciCards, TwoCardsStartNumberedBySerialNumber) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0) << kmv_err_string;
  EXPECT_EQ(kmv_initialised, 1);
  EXPECT_EQ(no_of_kmv_modules, 2);
  EXPECT_EQ(kmv_active_count, 2);
  struct Expect {
    int slot;
    const char *serial;
    int bus, pci_slot;
  };
  for (const Expect &e : {Expect{0, "81000000003", 1, 2}, Expect{1, "81000000005", 0, 3}}) {
    KMVModuleInfo info{};
    ASSERT_EQ(KMV_get_module_info(static_cast<int16_t>(e.slot), &info), 0);
    EXPECT_STREQ(info.serial_no, e.serial);
    EXPECT_EQ(info.type, KMV_TYPE_PCI);
    EXPECT_EQ(info.pci_bus, e.bus);
    EXPECT_EQ(info.pci_slot, e.pci_slot);
    EXPECT_EQ(info.in_use, 1);
    EXPECT_EQ(info.init_status, 0);
    EXPECT_NE(info.card_ident, 0);
  }
  EXPECT_TRUE(cntrl(kSlotA) & kmv100::kCntrlInUse);
  EXPECT_TRUE(cntrl(kSlotB) & kmv100::kCntrlInUse);
  // Slot 0 is card B: its limits come from its EEPROM; its ini values only stored.
  int16_t limit = 0;
  EXPECT_EQ(KMV_get_gain_HV_limit(0, 0, &limit), 0);
  EXPECT_EQ(limit, 80);
  EXPECT_EQ(KMV_get_gain_HV_limit(0, 1, &limit), 0);
  EXPECT_EQ(limit, 90);
  EXPECT_FLOAT_EQ(kmv[0].C1_GAIN_HV, 80.0f) << "clamped to the card's limit";
  EXPECT_EQ(kmv[0].C2_DIGOUT, 200) << "a digital-output byte of 200 is kept";
  // The start leaves every output off, cooler included.
  const sim::Kmv100Outputs o = b->outputs();
  EXPECT_FALSE(o.c1_p5v || o.c1_m5v || o.c1_p12v || o.c2_p5v || o.c3_p5v || o.c3_m5v || o.c3_cooling);
  EXPECT_EQ(o.digout, 0);
  EXPECT_GE(b->overload_resets, 1);
  EXPECT_TRUE(a->eeprom.faults.empty());
  EXPECT_TRUE(b->eeprom.faults.empty());

  EXPECT_EQ(KMV_close(), 2);
  EXPECT_FALSE(cntrl(kSlotA) & kmv100::kCntrlInUse) << "the marker goes with the close";
  EXPECT_EQ(KMV_close(), 1);
}

TEST_F(PciCards, EveryParameterReachesTheCardPorts) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  ASSERT_EQ(KMV_enable_outputs(1, 1), 0);  // card A
  struct Case {
    int16_t id;
    float value, stored;
    bool (*check)(const sim::Kmv100Outputs &);
  };
  const Case cases[] = {
      {KMV_PAR_C1_P5V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c1_p5v; }},
      {KMV_PAR_C1_M5V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c1_m5v; }},
      {KMV_PAR_C1_P12V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c1_p12v; }},
      {KMV_PAR_C2_P5V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c2_p5v; }},
      {KMV_PAR_C2_M5V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c2_m5v; }},
      {KMV_PAR_C2_P12V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c2_p12v; }},
      {KMV_PAR_C3_COOLING, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c3_cooling; }},
      {KMV_PAR_C3_P5V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c3_p5v; }},
      {KMV_PAR_C3_M5V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c3_m5v; }},
      {KMV_PAR_C3_P12V, 1, 1, [](const sim::Kmv100Outputs &o) { return o.c3_p12v; }},
      {KMV_PAR_C1_P5V, 0.9f, 0, [](const sim::Kmv100Outputs &o) { return !o.c1_p5v; }},
      {KMV_PAR_C1_M5V, 0, 0, [](const sim::Kmv100Outputs &o) { return !o.c1_m5v; }},
      {KMV_PAR_C3_P12V, 0, 0, [](const sim::Kmv100Outputs &o) { return !o.c3_p12v; }},
      {KMV_PAR_C2_DIGOUT, 300, 255, [](const sim::Kmv100Outputs &o) { return o.digout == 255; }},
      {KMV_PAR_C2_DIGOUT, 0xA5, 0xA5, [](const sim::Kmv100Outputs &o) { return o.digout == 0xA5; }},
      {KMV_PAR_C1_GAIN_HV, 50, 50, [](const sim::Kmv100Outputs &o) { return o.c1_gain == 2048; }},
      {KMV_PAR_C3_GAIN_HV, 150, 100, [](const sim::Kmv100Outputs &o) { return o.c3_gain == 4095; }},
      {KMV_PAR_C3_COOLVOLT, 0, 0, [](const sim::Kmv100Outputs &o) { return o.c3_coolvolt == 4095; }},
      {KMV_PAR_C3_COOLVOLT, 5, 5, [](const sim::Kmv100Outputs &o) { return o.c3_coolvolt == 0; }},
      {KMV_PAR_C3_COOLCURR, 2, 2, [](const sim::Kmv100Outputs &o) { return o.c3_coolcurr == 4095; }},
      {KMV_PAR_C3_COOLCURR, 0, 0, [](const sim::Kmv100Outputs &o) { return o.c3_coolcurr == 0; }},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(KMV_set_parameter(1, c.id, 1, c.value), 0) << c.id;
    float back = -1;
    ASSERT_EQ(KMV_get_parameter(1, c.id, &back), 0);
    EXPECT_FLOAT_EQ(back, c.stored) << c.id;
    EXPECT_TRUE(c.check(a->outputs())) << "id " << c.id << " value " << c.value;
  }
  // Analogue values: the word with both strobes high, its strobe low, high again;
  // the supply bits of the word are kept.
  a->writes.clear();
  ASSERT_EQ(KMV_set_parameter(1, KMV_PAR_C3_GAIN_HV, 1, 50), 0);
  ASSERT_EQ(a->writes.size(), 3u);
  // C3 +5 V is on (bit 15 low), C3 +12 V off (bit 14 high).
  EXPECT_EQ(a->writes[0], std::make_pair(kmv100::kDacA, uint16_t{0x7000 | 2048}));
  EXPECT_EQ(a->writes[1].second, uint16_t{0x6000 | 2048});
  EXPECT_EQ(a->writes[2].second, uint16_t{0x7000 | 2048});
  EXPECT_EQ(KMV_set_parameter(1, 17, 1, 1), KMV_BAD_PAR_ID);
  EXPECT_EQ(KMV_set_parameter(1, 1, 1, 1), KMV_BAD_PAR_ID);
  EXPECT_EQ(KMV_get_parameter(1, 1, nullptr), 0) << "no value pointer, no id check";
  EXPECT_EQ(KMV_set_parameter(8, 2, 1, 1), KMV_MOD_NO);
}

TEST_F(PciCards, StoredOnlyWhileOutputsAreOffAndSentWhenEnabled) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  a->writes.clear();
  ASSERT_EQ(KMV_set_parameter(1, KMV_PAR_C1_P5V, 0, 1), 0);
  ASSERT_EQ(KMV_set_parameter(1, KMV_PAR_C3_COOLING, 0, 1), 0);
  EXPECT_TRUE(a->writes.empty()) << "send 0 stores only";
  ASSERT_EQ(KMV_enable_outputs(1, 1), 0);
  EXPECT_TRUE(a->outputs().c1_p5v);
  EXPECT_TRUE(a->outputs().c3_cooling);
  EXPECT_EQ(a->outputs().c3_gain, 3890) << "round(95 * 4095.1 / 100)";
  EXPECT_EQ(a->outputs().c3_coolvolt, 2048) << "round((5 - 2.5) * 4095.1 / 5)";

  // Off without the cooler: supplies and digital outputs off, bit 6 kept.
  ASSERT_EQ(KMV_enable_outputs(1, 0), 0);
  EXPECT_FALSE(a->outputs().c1_p5v);
  EXPECT_TRUE(a->outputs().c3_cooling);
  EXPECT_EQ(a->outputs().c3_gain, 0);
  EXPECT_EQ(a->outputs().c3_coolvolt, 2048) << "the cooler keeps its voltage";
  EXPECT_EQ(kmv[1].C1_P5V, 1) << "the settings are kept";

  EXPECT_EQ(KMV_enable_outputs(-1, 1), 0);
  EXPECT_EQ(b->outputs().c1_gain, 3276) << "90 clamped to the card's limit 80";
  EXPECT_EQ(b->outputs().digout, 200);
  EXPECT_EQ(KMV_enable_outputs(-1, 0), 0);
  EXPECT_EQ(b->outputs().digout, 0);
}

TEST_F(PciCards, OverloadLatchAndItsResetPulse) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  int16_t state = -1;
  ASSERT_EQ(KMV_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 0);
  a->trip_overload(3);
  ASSERT_EQ(KMV_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 2);
  a->trip_overload(1, true);
  ASSERT_EQ(KMV_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 3);

  const int pulses = a->overload_resets;
  a->writes.clear();
  ASSERT_EQ(KMV_clear_overload(1), 0);
  EXPECT_EQ(a->overload_resets, pulses + 1);
  ASSERT_EQ(a->writes.size(), 3u) << "bit 7 low, high, low";
  EXPECT_EQ(a->writes[0].second & 0x80, 0);
  EXPECT_EQ(a->writes[1].second & 0x80, 0x80);
  ASSERT_EQ(KMV_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 1) << "the persistent fault trips again";
  a->end_overload(1);
  ASSERT_EQ(KMV_clear_overload(-1), 0);
  ASSERT_EQ(KMV_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 0);

  EXPECT_EQ(KMV_get_overload_state(8, &state), KMV_MOD_NO);
  EXPECT_EQ(KMV_get_overload_state(2, &state), KMV_NOT_ACTIVE);
}

TEST_F(PciCards, CurrentLimitInput) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  int16_t state = -1;
  ASSERT_EQ(KMV_get_curr_lmt_state(0, &state), 0);
  EXPECT_EQ(state, 0);
  b->current_limit = true;
  ASSERT_EQ(KMV_get_curr_lmt_state(0, &state), 0);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(KMV_get_curr_lmt_state(-1, &state), KMV_MOD_NO);
}

TEST_F(PciCards, EepromDataWithCheckBytesAndAccessCode) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  KMVEepromData d{};
  ASSERT_EQ(KMV_get_eeprom_data(0, &d), 0);
  EXPECT_STREQ(d.serial_no, "81000000003");
  EXPECT_STREQ(d.date, "03.04.2021");

  std::strcpy(d.serial_no, "81000000077");
  std::strcpy(d.date, "05.06.2022");
  EXPECT_EQ(KMV_write_eeprom_data(0, 1234, &d), KMV_EEP_WR_DIS);
  EXPECT_TRUE(b->eeprom.stored.empty());
  ASSERT_EQ(KMV_write_eeprom_data(0, KMV_ACCESS_CODE, &d), 0);
  EXPECT_STREQ(kmv_mod[0].serial_no, "81000000077");
  unsigned sum = 0;
  for (int i = 102; i < 127; ++i) sum += b->eeprom.byte(i);
  EXPECT_EQ(sum & 0xFF, 0x55u) << "adjust block check byte";
  EXPECT_EQ((b->eeprom.byte(100) + b->eeprom.byte(101) + b->eeprom.byte(127)) & 0xFF, 0x55)
      << "the limits' check byte survives the block write";
  for (const auto &[word, value] : b->eeprom.stored) EXPECT_GE(word, 50) << "never the bridge configuration";

  KMVEepromData back{};
  ASSERT_EQ(KMV_get_eeprom_data(0, &back), 0);
  EXPECT_STREQ(back.date, "05.06.2022");
  b->eeprom.set_byte(110, 'x');
  EXPECT_EQ(KMV_get_eeprom_data(0, &back), KMV_EEP_CHKSUM);
  b->eeprom.present = false;
  EXPECT_EQ(KMV_get_eeprom_data(0, &back), KMV_EEPROM_READ);
}

TEST_F(PciCards, GainLimitsWithTheirCheckByte) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  ASSERT_EQ(KMV_enable_outputs(1, 1), 0);
  ASSERT_EQ(KMV_set_parameter(1, KMV_PAR_C1_GAIN_HV, 1, 72.6f), 0);
  int16_t limit = 60;
  ASSERT_EQ(KMV_set_gain_HV_limit(1, 0, &limit), 0);
  EXPECT_EQ(limit, 60);
  EXPECT_EQ(a->eeprom.byte(100), 60);
  EXPECT_EQ((a->eeprom.byte(100) + a->eeprom.byte(101) + a->eeprom.byte(127)) & 0xFF, 0x55);
  EXPECT_FLOAT_EQ(kmv[1].C1_GAIN_HV, 60.0f) << "the gain follows the lower limit";
  EXPECT_EQ(a->outputs().c1_gain, 2457) << "and reaches the card while enabled";
  // The adjust block is untouched by a limit write.
  KMVEepromData d{};
  EXPECT_EQ(KMV_get_eeprom_data(1, &d), 0);

  limit = 300;
  EXPECT_EQ(KMV_set_gain_HV_limit(1, 1, &limit), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMV_set_gain_HV_limit(1, 2, &limit), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMV_get_gain_HV_limit(1, 0, nullptr), KMV_BAD_PAR_VAL);
  // A wrong check byte gives the default limit.
  a->eeprom.set_byte(127, static_cast<uint8_t>(a->eeprom.byte(127) + 1));
  ASSERT_EQ(KMV_get_gain_HV_limit(1, 0, &limit), 0);
  EXPECT_EQ(limit, 100);
}

TEST_F(PciCards, CardInUseStartsOnlyWhenTakenOver) {
  auto &plx = sim::kmv100_bridge(bus(), kSlotA);
  plx.set_reg(kmv100::kCntrl, plx.reg(kmv100::kCntrl) | kmv100::kCntrlInUse);
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  EXPECT_EQ(kmv_mod[1].init_status, -4);
  EXPECT_EQ(kmv_mod[1].in_use, -1);
  EXPECT_EQ(kmv[1].active, 0);
  EXPECT_EQ(kmv_active_count, 1);
  EXPECT_EQ(KMV_enable_outputs(1, 1), KMV_NOT_ACTIVE);

  const int16_t flags[8] = {1, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(KMV_set_mode(0, 1, flags), 0);
  EXPECT_EQ(kmv_mod[1].in_use, 1);
  EXPECT_EQ(kmv[1].active, 1);
  EXPECT_EQ(kmv_mod[1].init_status, 0);
}

TEST_F(PciCards, DriverFailures) {
  {  // no driver: nothing counted, nothing started, and the count's reason shown
    bus().driver_absent = true;
    EXPECT_EQ(KMV_init(two_cards().c_str()), KMV_WINDRV_ERR);
    EXPECT_EQ(no_of_kmv_modules, 0);
    char text[100];
    KMV_get_error_string(KMV_WINDRV_ERR, text, sizeof text);
    EXPECT_STREQ(text, "WinDriver : Cannot open WinDriver device");
    reset_library();
    bus().driver_absent = false;
  }
  {  // a card the driver will not open
    bus().exclusive_registration = true;
    WDCDeviceHandle held[2] = {};
    RegisterWinDriver();
    for (uint32_t i = 0; i < 2; ++i) ASSERT_EQ(P9050_Open(&held[i], 0x10B5, 0x9050, i, 0), 1);
    const std::string path = ini("[KMV_BASE]\nSIMULATION = 0\n[KMV_MODULE1]\nACTIVE = 1\n");
    EXPECT_EQ(KMV_init(path.c_str()), KMV_WINDRV_ERR);
    EXPECT_EQ(kmv_mod[0].init_status, -3);
    char text[300];
    KMV_get_error_string(KMV_WINDRV_ERR, text, sizeof text);
    EXPECT_EQ(std::string(text).rfind("WinDriver : ", 0), 0u) << text;
    EXPECT_GT(std::strlen(text), std::strlen("WinDriver : "));
    EXPECT_LT(strnlen(kmv_err_string, sizeof kmv_err_string), sizeof kmv_err_string);
    for (WDCDeviceHandle h : held) PLX_DeviceClose(h);
  }
}

// Card B (serial 3, count index 1) is held by another program's
// registration: its serial read during the count fails, so it sorts first.
// The card that does start carries no status from the other card's index.
TEST_F(PciCards, ACardHeldElsewhereLeavesTheOtherOneStarted) {
  bus().exclusive_registration = true;
  RegisterWinDriver();
  WDCDeviceHandle held = nullptr;
  ASSERT_EQ(P9050_Open(&held, 0x10B5, 0x9050, 1, 0), 1);
  EXPECT_EQ(KMV_init(two_cards().c_str()), 0) << kmv_err_string;
  int16_t status = 99;
  ASSERT_EQ(KMV_get_init_status(1, &status), 0);
  EXPECT_EQ(status, 0) << "card A runs";
  EXPECT_STREQ(kmv_mod[1].serial_no, "81000000005");
  EXPECT_EQ(kmv_mod[1].in_use, 1);
  EXPECT_EQ(kmv[1].active, 1);
  EXPECT_TRUE(cntrl(kSlotA) & kmv100::kCntrlInUse);
  EXPECT_EQ(kmv_mod[0].init_status, -3) << "the held card";
  EXPECT_EQ(kmv[0].active, 0);
  EXPECT_EQ(kmv_active_count, 1);
  PLX_DeviceClose(held);
}

TEST_F(PciCards, BusFilterAndFileErrors) {
  // Card B (slot 0) sits on bus 1, the second entry of the bus list.
  ASSERT_EQ(KMV_init(ini("[KMV_BASE]\nSIMULATION = 0\n[KMV_MODULE1]\nPCI_BUS_NO = 0\nKMV_ACTIVE = 1\n"
                         "[KMV_MODULE2]\nPCI_BUS_NO = 0\nKMV_ACTIVE = 1\n")
                         .c_str()),
            0);
  EXPECT_EQ(kmv[0].active, 0) << "slot 0 is on bus 1";
  EXPECT_EQ(kmv[1].active, 1);
  reset_library();
  EXPECT_EQ(KMV_init(ini("[KMV_BASE]\n[KMV_MODULE1]\nPCI_BUS_NO = 5\nKMV_ACTIVE = 1\n").c_str()), KMV_NO_ACT_MOD)
      << "an index past the bus list names no bus";
  reset_library();
  EXPECT_EQ(KMV_init(dir_.file("missing.ini").c_str()), KMV_OPEN_FILE);
  EXPECT_EQ(KMV_init(dir_.write("other.ini", "something else\n[KMV_BASE]\n").c_str()), KMV_FILE_NVALID);
}

TEST_F(PciCards, EmulationTouchesNoCard) {
  KMV_force_mode(KMV_MODE_EMULATION, 2, 1);
  ASSERT_EQ(KMV_init(nullptr), 0);
  EXPECT_EQ(kmv_initialised, -1);
  for (int16_t m = 0; m < 2; ++m) {
    KMVModuleInfo info{};
    KMV_get_module_info(m, &info);
    EXPECT_EQ(info.type, KMV_TYPE_PCI);
    EXPECT_EQ(info.pci_slot, m + 10);
    EXPECT_EQ(info.init_status, 0);
    EXPECT_STREQ(info.serial_no, m == 0 ? "0001" : "0002");
  }
  EXPECT_FALSE(cntrl(kSlotA) & kmv100::kCntrlInUse);
  a->writes.clear();
  b->writes.clear();
  ASSERT_EQ(KMV_enable_outputs(-1, 1), 0);
  ASSERT_EQ(KMV_set_parameter(0, KMV_PAR_C1_GAIN_HV, 1, 80), 0);
  ASSERT_EQ(KMV_set_parameter(0, KMV_PAR_C3_GAIN_HV, 1, 20), 0);
  EXPECT_TRUE(a->writes.empty() && b->writes.empty());

  // A draw on the 51st call; C3's gain below 50 keeps its bit out.
  kmv_rand = [] { return 3; };
  int16_t state = -1;
  for (int i = 0; i < 50; ++i) {
    KMV_get_overload_state(0, &state);
    ASSERT_EQ(state, 0) << i;
  }
  KMV_get_overload_state(0, &state);
  EXPECT_EQ(state, 1);
  KMV_clear_overload(0);
  KMV_get_overload_state(0, &state);
  EXPECT_EQ(state, 0);

  KMVEepromData d{};
  ASSERT_EQ(KMV_get_eeprom_data(1, &d), 0);
  EXPECT_STREQ(d.serial_no, "8100000002");
  EXPECT_STREQ(d.date, "17.10.2001");
  int16_t limit = 70;
  ASSERT_EQ(KMV_set_gain_HV_limit(0, 0, &limit), 0);
  EXPECT_FLOAT_EQ(kmv[0].C1_GAIN_HV, 70.0f);
  EXPECT_TRUE(a->eeprom.stored.empty() && b->eeprom.stored.empty());

  // Current limit: only with cooling, voltage and current all set.
  int16_t lmt = -1;
  for (int i = 0; i < 60; ++i) KMV_get_curr_lmt_state(0, &lmt);
  EXPECT_EQ(lmt, 0);
  KMV_set_parameter(0, KMV_PAR_C3_COOLING, 1, 1);
  KMV_set_parameter(0, KMV_PAR_C3_COOLVOLT, 1, 2);
  KMV_set_parameter(0, KMV_PAR_C3_COOLCURR, 1, 1);
  for (int i = 0; i < 51; ++i) KMV_get_curr_lmt_state(0, &lmt);
  EXPECT_EQ(lmt, 1);
}

TEST_F(PciCards, ModeSwitchGivesTheCardsBackAndTakesThemAgain) {
  ASSERT_EQ(KMV_init(two_cards().c_str()), 0);
  ASSERT_EQ(KMV_enable_outputs(-1, 1), 0);
  const int16_t one[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(KMV_set_mode(KMV_MODE_EMULATION, 0, one), KMV_MODE_EMULATION);
  EXPECT_FALSE(cntrl(kSlotA) & kmv100::kCntrlInUse);
  EXPECT_FALSE(cntrl(kSlotB) & kmv100::kCntrlInUse);
  EXPECT_EQ(kmv_mod[0].pci_slot, 10);
  EXPECT_EQ(kmv_mod[1].type, KMV_TYPE_NONE);
  EXPECT_EQ(b->outputs().digout, 0) << "outputs off before the card is given back";

  const int16_t both[8] = {1, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(KMV_set_mode(KMV_MODE_HARDWARE, 0, both), KMV_MODE_HARDWARE);
  EXPECT_TRUE(cntrl(kSlotA) & kmv100::kCntrlInUse);
  EXPECT_EQ(kmv_active_count, 2);
  EXPECT_STREQ(kmv_mod[0].serial_no, "81000000003");
  EXPECT_EQ(KMV_set_mode(7, 0, both), KMV_BAD_PAR_VAL);
  kmv_cleanup();
  EXPECT_FALSE(cntrl(kSlotB) & kmv100::kCntrlInUse);
}

TEST_F(PciCards, StdTwinsWidenTheResult) {
  KMV_force_mode(KMV_MODE_EMULATION, 1, 1);
  EXPECT_EQ(KMVstd_init(nullptr), 0);
  EXPECT_EQ(KMVstd_set_parameter(0, 1, 0, 0), KMV_BAD_PAR_ID);
  EXPECT_EQ(KMVstd_get_overload_state(9, nullptr), KMV_MOD_NO);
  EXPECT_EQ(KMVstd_close(), 2);
}

}  // namespace
