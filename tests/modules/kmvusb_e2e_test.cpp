// The USB module library end to end: library, manager, transport and the
// simulated modules on the simulated bus.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/qv_usb_fun.h"
#include "tests/modules/sim_fixture.h"
#include "tests/testsupport/testsupport.h"

namespace {

constexpr const char *kIni =
    "; KMVUSB configuration\n"
    "[KMVUSB_BASE]\n"
    "SIMULATION_USB = 0\n"
    "[KMVUSB_MODULE1]\n"
    "KMVUSB_ACTIVE = 1\n"
    "C1U_P5V = 1\n"
    "C1U_M5V = 1\n"
    "C1U_GAIN_HV = 75.5\n"
    "C1U_COOLING = 1\n"
    "C1U_COOLVOLT = 2.5\n"
    "C1U_COOLCURR = 1.0\n"
    "C3U_P12V = 1\n"
    "C3U_GAIN_HV = 20\n"
    "C5U_DIGOUT = 0x5A\n"
    "[KMVUSB_MODULE2]\n"
    "KMVUSB_ACTIVE = 1\n"
    "C2U_COOLING = 1\n"
    "C2U_COOLVOLT = 4\n"
    "C2U_COOLCURR = 0.5\n";

class UsbEndToEnd : public simtest::SimFixture {
 protected:
  void SetUp() override {
    simtest::SimFixture::SetUp();
    start_two_modules(kIni);
  }
};

TEST_F(UsbEndToEnd, TheIniFileStartsBothModules) {
  KMVUSBModuleInfo a{}, b{};
  ASSERT_EQ(KMVUSB_get_module_info(0, &a), 0);
  ASSERT_EQ(KMVUSB_get_module_info(1, &b), 0);
  EXPECT_STREQ(a.serial_no, "KM0010");
  EXPECT_STREQ(b.serial_no, "KM0020");
  EXPECT_EQ(a.init_status, 0);
  EXPECT_EQ(b.init_status, 0);
  EXPECT_EQ(a.connected, 1);
  EXPECT_EQ(int32_t{kmvusb_priv[0].device_no}, 1);  // FTA is the second device on the bus
  EXPECT_EQ(int32_t{kmvusb_priv[1].device_no}, 0);
  EXPECT_EQ(kmvusb_priv[0].hv_limit[0], 80);
  EXPECT_EQ(kmvusb_active_count, 2);
  EXPECT_EQ(usb_dev[0].connected + usb_dev[1].connected, 2);

  // Outputs are off; the coolers run as configured.
  EXPECT_EQ(latch("FTA", 0), 0xFFFF);
  EXPECT_EQ(latch("FTA", 2) & 0x00FF, 0x0001);
  EXPECT_EQ(dac("FTA", 0), 2048);   // 2.5 V
  EXPECT_EQ(dac("FTA", 8), 2048);   // 1 A
  EXPECT_EQ(dac("FTA", 4), 0);      // the gain waits for the enable
  EXPECT_EQ(dac("FTA", 1), 4095);   // 0 V
  EXPECT_EQ(latch("FTB", 2) & 0x00FF, 0x0002);
  EXPECT_EQ(dac("FTB", 1), 819);    // 4 V
  EXPECT_EQ(dac("FTB", 9), 1024);   // 0.5 A
  float gain = 0;
  ASSERT_EQ(KMVUSB_get_parameter(0, KMVUSB_PAR_GAIN_HV, &gain), 0);
  EXPECT_FLOAT_EQ(gain, 75.5f);

  // The identification as the EEPROM holds it.
  KMVUSBEepromData d{};
  ASSERT_EQ(KMVUSB_get_eeprom_data(1, &d), 0);
  EXPECT_STREQ(d.module_name, "KMV-USB-2");
  EXPECT_STREQ(d.date, "03.04.2021");
  EXPECT_TRUE(bus().module("FTA")->bus().violations().empty());
}

TEST_F(UsbEndToEnd, EnabledOutputsReachTheModule) {
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  EXPECT_EQ(latch("FTA", 0) & 0x0111, 0x0001);  // +5 V and -5 V on, +12 V off
  EXPECT_EQ(dac("FTA", 4), 3092);               // 75.5 %
  ASSERT_EQ(KMVUSB_enable_outputs(0, 4, 1), 0);
  EXPECT_EQ(latch("FTA", 2) >> 8, 0x5A);
  // A gain change while enabled goes straight out; connector 2 is still off.
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 100.0f), 0);
  EXPECT_EQ(dac("FTA", 4), 3276);  // its limit of 80 %
  ASSERT_EQ(KMVUSB_set_parameter(0, 14 + KMVUSB_PAR_GAIN_HV, 0, 50.0f), 0);
  EXPECT_EQ(dac("FTA", 6), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 2, 1), 0);
  EXPECT_EQ(dac("FTA", 6), 2048);
  EXPECT_EQ(latch("FTA", 0) & 0x0444, 0x0440);  // +12 V on, +5 V and -5 V off

  ASSERT_EQ(KMVUSB_enable_outputs(-1, -1, 0), 0);
  EXPECT_EQ(latch("FTA", 0), 0xFFFF);
  EXPECT_EQ(dac("FTA", 4), 0);
  EXPECT_EQ(dac("FTA", 6), 0);
  EXPECT_EQ(latch("FTA", 2), 0x0001);  // the cooler stays, the digital outputs go
  EXPECT_EQ(dac("FTA", 0), 2048);
}

TEST_F(UsbEndToEnd, OverloadAndCurrentLimitComeFromThePins) {
  int16_t state = -1;
  ASSERT_EQ(KMVUSB_get_overload_state(0, &state), 0);
  EXPECT_EQ(state, 0);
  bus().set_input_pins("FTA", 3, 0x0005);
  ASSERT_EQ(KMVUSB_get_overload_state(0, &state), 0);
  EXPECT_EQ(state, 0x5);
  ASSERT_EQ(KMVUSB_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 0);
  bus().set_input_pins("FTA", 3, 0x0000);
  ASSERT_EQ(KMVUSB_clear_overload(0, -1), 0);
  EXPECT_EQ(latch("FTA", 0), 0xFFFF);
  ASSERT_EQ(KMVUSB_get_overload_state(0, &state), 0);
  EXPECT_EQ(state, 0);

  bus().set_input_pins("FTB", 1, 0xFFFD);  // connector 1 at its limit (active low)
  ASSERT_EQ(KMVUSB_get_curr_lmt_state(1, &state), 0);
  EXPECT_EQ(state, 0x2);
  ASSERT_EQ(KMVUSB_get_curr_lmt_state(0, &state), 0);
  EXPECT_EQ(state, 0);
}

TEST_F(UsbEndToEnd, AnUnpluggedModuleIsReconnectedAndGetsItsValuesBack) {
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 2, 1), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 4, 1), 0);
  const int16_t enabled = kmvusb_priv[0].enabled;
  std::array<uint16_t, 4> latches{};
  std::array<uint16_t, 12> dacs{};
  for (int r = 0; r < 4; ++r) latches[r] = latch("FTA", r);
  for (int c = 0; c < 12; ++c) dacs[c] = dac("FTA", c);
  ASSERT_EQ(dacs[4], 3092);

  bus().unplug("FTA");
  int16_t state = 0;
  EXPECT_EQ(KMVUSB_get_overload_state(0, &state), KMV_ERR_USB);
  EXPECT_EQ(KMVUSB_get_overload_state(1, &state), 0);  // the other one works on
  EXPECT_EQ(KMVUSB_reconnect(0), KMV_CONNECT_USB_MOD);
  int16_t status = 0;
  ASSERT_EQ(KMVUSB_get_init_status(0, &status), 0);
  EXPECT_EQ(status, -9);

  bus().replug("FTA", -1, true);  // it lost its power meanwhile
  EXPECT_EQ(latch("FTA", 0), 0xFFFF);
  EXPECT_EQ(dac("FTA", 4), 0);
  ASSERT_EQ(KMVUSB_reconnect(0), 0);
  ASSERT_EQ(KMVUSB_get_init_status(0, &status), 0);
  EXPECT_EQ(status, 0);

  // What the operator program sends after a reconnect: the five enables, then
  // the cooler currents, voltages and switches.
  for (int16_t k = 0; k < 5; ++k) ASSERT_EQ(KMVUSB_enable_outputs(0, k, (enabled >> k) & 1), 0) << k;
  for (int kind : {KMVUSB_PAR_COOLCURR, KMVUSB_PAR_COOLVOLT, KMVUSB_PAR_COOLING}) {
    for (int c = 0; c < 4; ++c) {
      const auto id = static_cast<int16_t>(7 * c + kind);
      float v = 0;
      ASSERT_EQ(KMVUSB_get_parameter(0, id, &v), 0);
      ASSERT_EQ(KMVUSB_set_parameter(0, id, 1, v), 0);
    }
  }
  for (int r = 0; r < 4; r += 2) EXPECT_EQ(latch("FTA", r), latches[r]) << "register " << r;
  for (int c = 0; c < 12; ++c) EXPECT_EQ(dac("FTA", c), dacs[c]) << "channel " << c;
  EXPECT_EQ(KMVUSB_get_overload_state(0, &state), 0);
  EXPECT_EQ(state, 0);
}

TEST_F(UsbEndToEnd, EepromWritesLandInTheModule) {
  KMVUSBEepromData d{};
  std::snprintf(d.module_name, sizeof d.module_name, "%s", "KMV-USB-1");
  std::snprintf(d.serial_no, sizeof d.serial_no, "%s", "KM0777");
  std::snprintf(d.date, sizeof d.date, "%s", "01.01.2030");
  ASSERT_EQ(KMVUSB_write_eeprom_data(0, KMVUSB_ACCESS_CODE, &d), 0);
  const auto &e = bus().module("FTA")->eeprom();
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&e[16])), "KM0777");
  EXPECT_STREQ(kmvusb_mod[0].serial_no, "KM0777");
  int16_t limit = 55;
  ASSERT_EQ(KMVUSB_set_gain_HV_limit(0, 3, &limit), 0);
  EXPECT_EQ(e[103], 55);
  trqlim_valid[0] = 0;
  ASSERT_EQ(KMVUSB_get_gain_HV_limit(0, 3, &limit), 0);
  EXPECT_EQ(limit, 55);
  EXPECT_EQ(load_kmvusb_adjust_para_from_eeprom(0, reinterpret_cast<char *>(kmvusb_eep_buffer), 1), 0);
}

TEST_F(UsbEndToEnd, EmulationAndCloseLeaveTheModulesOff) {
  ASSERT_EQ(KMVUSB_enable_outputs(-1, -1, 1), 0);
  ASSERT_NE(latch("FTA", 0), 0xFFFF);
  const int16_t flags[4] = {1, 1, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(KMVUSB_MODE_EMULATION, flags), KMVUSB_MODE_EMULATION);
  for (const char *s : {"FTA", "FTB"}) {
    EXPECT_EQ(latch(s, 0), 0xFFFF) << s;
    EXPECT_EQ(latch(s, 2), 0x0000) << s;  // coolers off too
    EXPECT_EQ(dac(s, 4), 0) << s;
    EXPECT_FALSE(bus().device(s)->is_open()) << s;
  }
  const uint64_t writes = device_writes();
  ASSERT_EQ(KMVUSB_enable_outputs(-1, -1, 1), 0);
  EXPECT_EQ(device_writes(), writes);

  EXPECT_EQ(KMVUSB_set_mode(0, flags), 0);
  EXPECT_TRUE(bus().device("FTA")->is_open());
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  EXPECT_EQ(dac("FTA", 4), 3092);
  EXPECT_EQ(KMVUSB_close(), 2);
  EXPECT_EQ(latch("FTA", 0), 0xFFFF);
  EXPECT_EQ(latch("FTA", 2), 0x0000);
  EXPECT_FALSE(bus().device("FTA")->is_open());
  EXPECT_FALSE(bus().device("FTB")->is_open());
  EXPECT_EQ(TRQ_mode, 0);
}

}  // namespace
