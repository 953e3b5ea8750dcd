// Outputs, overload and current-limit states, mode switch and reconnect of
// USB modules over the fake register layer and manager.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "modules/qv_usb_fun.h"
#include "tests/modules/fake_lower.h"

namespace {

using Traffic = std::vector<std::string>;

class UsbOutputs : public fake::Fixture {
 protected:
  void SetUp() override {
    fake::Fixture::SetUp();
    start_hardware(2);
  }
};

TEST_F(UsbOutputs, SwitchOffWritesTheFixedRegisterWords) {
  struct Case {
    const char *name;
    int16_t connector, coolers;
    Traffic traffic;
  };
  const Case cases[] = {
      {"all, coolers kept", -1, 0, {"D4=0", "D5=0", "D6=0", "D7=0", "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=000B"}},
      {"all with coolers", -1, 1, {"CLR", "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=0000"}},
      {"connector 1", 1, 0, {"D5=0", "R0=FA72", "R0=DA72", "R0=FA72"}},
      {"connector 2 with coolers", 2, 1, {"D6=0", "D2=0", "D10=0", "R0=FE54", "R0=BE54", "R0=FE54", "R2=7F0B"}},
      {"digital outputs", 4, 0, {"R2=000B"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    kmv_regdata[0][0] = 0x0A50;
    kmv_regdata[0][2] = static_cast<unsigned short>(c.connector == 2 ? 0x7F0F : 0x7F0B);
    kmvusb_priv[0].overload_latch = kmvusb_priv[0].curr_lmt = 0xF;
    EXPECT_EQ(disable_outputs_usb(0, c.connector, c.coolers), 0);
    EXPECT_EQ(fake().take(), c.traffic);
    const int16_t left = c.connector == -1 ? 0 : c.connector == 4 ? 0xF : static_cast<int16_t>(0xF & ~(1 << c.connector));
    EXPECT_EQ(kmvusb_priv[0].overload_latch, left);
    EXPECT_EQ(kmvusb_priv[0].curr_lmt, left);
  }
  EXPECT_EQ(disable_outputs_usb(0, 5, 0), KMV_BAD_PAR_VAL);
  EXPECT_EQ(disable_outputs_usb(4, 0, 0), KMV_MOD_NO);
}

TEST_F(UsbOutputs, SwitchOffTriesEveryWriteAndReportsAnyFailure) {
  // The first supply-off write fails; the later ones still go out.
  fake().fault = [](const std::string &what) { return what == "R0=FFFF" ? 4 : 0; };
  EXPECT_EQ(disable_outputs_usb(0, -1, 1), KMV_ERR_USB);
  EXPECT_EQ(kmv_err, KMV_ERR_USB);
  EXPECT_EQ(fake().take(), (Traffic{"CLR", "R0=FFFF!", "R0=0FFF", "R0=FFFF!", "R2=0000"}));
  fake().fault = [](const std::string &what) { return what == "D5=0" ? 4 : 0; };
  EXPECT_EQ(disable_outputs_usb(0, 1, 0), KMV_ERR_USB);
  EXPECT_EQ(fake().take().size(), 4u);
  fake().fault = nullptr;
  EXPECT_EQ(disable_outputs_usb(0, 1, 0), 0);
}

TEST_F(UsbOutputs, EnablingSendsTheStoredValues) {
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_DIGOUT, 0, 0x3C), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, 7 + KMVUSB_PAR_P5V, 0, 1), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, 7 + KMVUSB_PAR_GAIN_HV, 0, 60.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, 7 + KMVUSB_PAR_COOLING, 0, 1), 0);
  fake().take();

  // The digital outputs: the overload clear refuses connector 4 and the call goes on.
  EXPECT_EQ(KMVUSB_enable_outputs(0, 4, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{"R2=3C02"});
  EXPECT_EQ(kmvusb_priv[0].enabled, 0x10);
  EXPECT_EQ(KMVUSB_enable_outputs(0, 4, 0), 0);
  EXPECT_EQ(fake().take(), Traffic{"R2=0002"});  // cooler bits kept
  EXPECT_EQ(kmvusb_priv[0].enabled, 0);
  EXPECT_EQ(kmvusb[0].DIGOUT, 0x3C);  // the value stays stored

  // One connector: its overload reset pulsed, then its seven values.
  EXPECT_EQ(KMVUSB_enable_outputs(0, 1, 1), 0);
  const Traffic on{"R0=FFFF", "R0=DFFF", "R0=FFFF", "R0=FFDF", "R0=FFDF", "R0=FFDF", "D5=2457", "R2=0002"};
  EXPECT_EQ(fake().take(), on);
  EXPECT_EQ(kmvusb_priv[0].enabled, 0x02);
  EXPECT_EQ(KMVUSB_enable_outputs(0, 1, 0), 0);
  EXPECT_EQ(fake().take(), (Traffic{"D5=0", "R0=FFFF", "R0=DFFF", "R0=FFFF"}));
  EXPECT_EQ(kmvusb_priv[0].enabled, 0);

  // Everything: all overloads reset, the record, both registers once.
  EXPECT_EQ(KMVUSB_enable_outputs(0, -1, 1), 0);
  EXPECT_EQ(kmvusb_priv[0].enabled, 31);
  const Traffic all{"R0=FFFF", "R0=0FFF", "R0=FFFF", "D5=2457", "R0=FFDF", "R2=3C02"};
  EXPECT_EQ(fake().take(), all);
  EXPECT_EQ(KMVUSB_enable_outputs(0, -1, 0), 0);
  EXPECT_EQ(kmvusb_priv[0].enabled, 0);
}

TEST_F(UsbOutputs, EnableChecksAndStopsAtTheFirstFailingModule) {
  EXPECT_EQ(KMVUSB_enable_outputs(4, 0, 1), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_enable_outputs(0, 5, 1), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_enable_outputs(0, -2, 1), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_enable_outputs(2, 0, 1), KMV_NOT_ACTIVE);
  EXPECT_EQ(kmv_err, KMV_NOT_ACTIVE);
  EXPECT_TRUE(fake().take().empty());

  // Module 0's first write fails: module 1 is left as it was.
  fake().fault = [](const std::string &what) { return what == "D4=0" ? 4 : 0; };
  EXPECT_EQ(KMVUSB_enable_outputs(-1, 0, 0), KMV_ERR_USB);
  const Traffic t = fake().take();
  EXPECT_EQ(t.size(), 4u);
  fake().fault = nullptr;
  EXPECT_EQ(KMVUSB_enable_outputs(-1, 2, 1), 0);
  EXPECT_EQ(kmvusb_priv[0].enabled, 4);
  EXPECT_EQ(kmvusb_priv[1].enabled, 4);
  kmvusb_active_count = 0;
  EXPECT_EQ(KMVUSB_enable_outputs(-1, 2, 1), KMV_NO_ACT_MOD);
}

TEST_F(UsbOutputs, ClearOverloadPulsesTheResetBits) {
  kmv_regdata[1][0] = 0x0123;
  kmvusb_priv[1].overload_latch = 0xF;
  EXPECT_EQ(KMVUSB_clear_overload(1, 3), 0);
  EXPECT_EQ(fake().take(), (Traffic{"R0=F123", "R0=7123", "R0=F123"}));
  EXPECT_EQ(kmvusb_priv[1].overload_latch, 0x7);
  EXPECT_EQ(KMVUSB_clear_overload(-1, -1), 0);
  EXPECT_EQ(fake().take(), (Traffic{"R0=FFFF", "R0=0FFF", "R0=FFFF", "R0=F123", "R0=0123", "R0=F123"}));
  EXPECT_EQ(kmvusb_priv[1].overload_latch, 0);

  EXPECT_EQ(KMVUSB_clear_overload(1, 4), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_clear_overload(-2, 0), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_clear_overload(3, 0), KMV_NOT_ACTIVE);
  kmvusb_priv[1].overload_latch = 0x2;
  fake().fault = [](const std::string &what) { return what == "R0=F123" ? 4 : 0; };
  EXPECT_EQ(KMVUSB_clear_overload(1, 1), KMV_ERR_USB);
  EXPECT_EQ(kmvusb_priv[1].overload_latch, 0x2);  // kept: the pulse did not go out
}

TEST_F(UsbOutputs, StatesComeFromTheInputPins) {
  int16_t state = -1;
  fake().pins[1][3] = 0xFFF5;  // register 3: overload bits, only 0..3 count
  EXPECT_EQ(KMVUSB_get_overload_state(1, &state), 0);
  EXPECT_EQ(state, 0x5);
  fake().pins[1][1] = 0xFFF6;  // register 1: current-limit inputs, active low
  EXPECT_EQ(KMVUSB_get_curr_lmt_state(1, &state), 0);
  EXPECT_EQ(state, 0x9);
  EXPECT_EQ(fake().take(), (Traffic{"r3", "r1"}));
  EXPECT_EQ(KMVUSB_get_overload_state(1, nullptr), 0);
  EXPECT_EQ(kmvusb_priv[1].overload_latch, 0x5);

  fake().fault = [](const std::string &what) { return what[0] == 'r' ? 4 : 0; };
  state = 77;
  EXPECT_EQ(KMVUSB_get_overload_state(1, &state), KMV_ERR_USB);
  EXPECT_EQ(KMVUSB_get_curr_lmt_state(1, &state), KMV_ERR_USB);
  EXPECT_EQ(state, 77);
  EXPECT_EQ(KMVUSB_get_overload_state(4, &state), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_get_curr_lmt_state(-1, &state), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_get_overload_state(2, &state), KMV_NOT_ACTIVE);
  EXPECT_EQ(KMVUSBstd_get_overload_state(2, &state), KMV_NOT_ACTIVE);
}

class UsbEmulation : public fake::Fixture {
 protected:
  void SetUp() override {
    fake::Fixture::SetUp();
    start_emulation(2);
  }
  static int16_t overload(int16_t m) {
    int16_t s = -1;
    EXPECT_EQ(KMVUSB_get_overload_state(m, &s), 0);
    return s;
  }
  static int16_t curr_lmt(int16_t m) {
    int16_t s = -1;
    EXPECT_EQ(KMVUSB_get_curr_lmt_state(m, &s), 0);
    return s;
  }
};

TEST_F(UsbEmulation, OverloadIsDrawnOnEveryFiftyFirstCallWhereGainAndOutputsAllow) {
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 0, 60.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, 7 + KMVUSB_PAR_GAIN_HV, 0, 40.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, 14 + KMVUSB_PAR_GAIN_HV, 0, 90.0f), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 1, 1), 0);  // connector 2 stays disabled
  fake::set_rand_sequence({0xFF});
  for (int i = 0; i < 50; ++i) ASSERT_EQ(overload(0), 0) << i;
  EXPECT_EQ(overload(0), 0x1);  // never connector 1 (gain 40) or 2 (disabled)
  EXPECT_EQ(sim_ovld_cnt[0], 0);
  // Latched: it stays, and the counter stands still.
  for (int i = 0; i < 200; ++i) ASSERT_EQ(overload(0), 0x1);
  EXPECT_EQ(sim_ovld_cnt[0], 0);
  EXPECT_EQ(KMVUSB_clear_overload(0, 0), 0);
  EXPECT_EQ(overload(0), 0);
  EXPECT_EQ(sim_ovld_cnt[0], 1);
  EXPECT_TRUE(fake().take().empty());
}

TEST_F(UsbEmulation, ADrawWithNothingLeftKeepsCounting) {
  ASSERT_EQ(KMVUSB_set_parameter(1, KMVUSB_PAR_GAIN_HV, 0, 80.0f), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(1, 0, 1), 0);
  fake::set_rand_sequence({0x2, 0x1});  // first draw hits only connector 1
  sim_ovld_cnt[0] = 17;
  for (int i = 0; i < 50; ++i) overload(1);
  EXPECT_EQ(overload(1), 0);
  EXPECT_EQ(sim_ovld_cnt[0], 17);  // a draw that latched nothing resets no counter
  for (int i = 0; i < 50; ++i) overload(1);
  EXPECT_EQ(overload(1), 0x1);
  EXPECT_EQ(sim_ovld_cnt[0], 0);  // a latched draw resets every slot's counter
}

TEST_F(UsbEmulation, NothingEnabledNeverOverloads) {
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 0, 100.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLING, 0, 1), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLVOLT, 0, 3.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLCURR, 0, 1.0f), 0);
  fake::set_rand_sequence({0xF});
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(overload(0), 0);
    ASSERT_EQ(curr_lmt(0), 0);
  }
}

TEST_F(UsbEmulation, CurrentLimitTogglesAndEndsWithTheCooler) {
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLING, 0, 1), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLVOLT, 0, 3.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLCURR, 0, 1.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, 7 + KMVUSB_PAR_COOLING, 0, 1), 0);  // no voltage: never limited
  ASSERT_EQ(KMVUSB_enable_outputs(0, -1, 1), 0);
  fake::set_rand_sequence({0x3});
  for (int i = 0; i < 50; ++i) ASSERT_EQ(curr_lmt(0), 0);
  EXPECT_EQ(curr_lmt(0), 0x1);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(curr_lmt(0), 0x1);
  EXPECT_EQ(curr_lmt(0), 0);  // toggled back
  for (int i = 0; i < 50; ++i) curr_lmt(0);
  EXPECT_EQ(curr_lmt(0), 0x1);
  // The cooler switched off: at once.
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLING, 1, 0), 0);
  EXPECT_EQ(kmvusb_priv[0].curr_lmt, 0);
  EXPECT_EQ(sim_curr_cnt[0], 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLING, 1, 1), 0);
  for (int i = 0; i < 50; ++i) curr_lmt(0);
  EXPECT_EQ(curr_lmt(0), 0x1);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLCURR, 1, 0.0f), 0);
  EXPECT_EQ(kmvusb_priv[0].curr_lmt, 0);
}

TEST_F(UsbEmulation, ReconnectTouchesNothing) {
  EXPECT_EQ(KMVUSB_reconnect(0), 0);
  EXPECT_EQ(KMVUSB_reconnect(3), KMV_NOT_ACTIVE);
  EXPECT_EQ(KMVUSB_reconnect(4), KMV_MOD_NO);
  EXPECT_TRUE(fake().take_calls().empty());
}

class UsbMode : public fake::Fixture {};

TEST_F(UsbMode, BeforeTheStartItIsRefusedWithoutStoring) {
  const int16_t flags[4] = {1, 0, 0, 0};
  kmv_err = 0;
  EXPECT_EQ(KMVUSB_set_mode(KMVUSB_MODE_EMULATION, flags), KMV_NOT_INIT);
  EXPECT_EQ(kmv_err, 0);
  EXPECT_EQ(KMVUSB_get_mode(), 0);
}

TEST_F(UsbMode, IntoEmulationSwitchesTheHardwareOffBeforeReleasingIt) {
  start_hardware(2);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLING, 0, 1), 0);
  fake().take();
  const int16_t flags[4] = {1, 0, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(KMVUSB_MODE_EMULATION, flags), KMVUSB_MODE_EMULATION);
  // Both modules: everything off, coolers included, then released.
  const Traffic off{"CLR", "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=0000"};
  Traffic both = off;
  both.insert(both.end(), off.begin(), off.end());
  EXPECT_EQ(fake().take(), both);
  EXPECT_EQ(fake().take_calls(), (std::vector<std::string>{"trq 5", "trq 0", "disconnect 0", "trq 5", "trq 0",
                                                           "disconnect 1", "trq 5"}));
  EXPECT_EQ(KMVUSB_get_mode(), KMVUSB_MODE_EMULATION);
  EXPECT_EQ(kmvusb_mod[0].type, KMV_TYPE_USB);
  EXPECT_EQ(kmvusb_mod[0].connected, 1);
  EXPECT_EQ(kmvusb_mod[0].init_status, 0);
  EXPECT_EQ(kmvusb_mod[0].port, 10);
  for (int j = 1; j < 4; ++j) {
    EXPECT_EQ(kmvusb_mod[j].type, KMV_TYPE_NONE);
    EXPECT_EQ(kmvusb_mod[j].connected, 0);
    EXPECT_EQ(KMVUSB_test_if_active(static_cast<int16_t>(j)), 0);
  }
  EXPECT_EQ(kmvusb_active_count, 1);
  EXPECT_EQ(usb_dev[0].connected, 0);
  EXPECT_EQ(usb_dev[1].connected, 0);

  // Back to the hardware: the slots as found, module 1 started again.
  const int16_t second[4] = {0, 1, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(0, second), 0);
  EXPECT_EQ(KMVUSB_get_mode(), 0);
  EXPECT_EQ(kmvusb_mod[1].type, KMV_TYPE_USB);
  EXPECT_EQ(kmvusb_mod[1].connected, 1);
  EXPECT_EQ(kmvusb_mod[1].init_status, 0);
  EXPECT_STREQ(kmvusb_mod[1].serial_no, "KM11");
  EXPECT_EQ(KMVUSB_test_if_active(0), 0);
  EXPECT_EQ(KMVUSB_test_if_active(1), 1);
  const std::vector<std::string> calls = fake().take_calls();
  EXPECT_EQ(calls, (std::vector<std::string>{"trq 0", "connect 1"}));
}

TEST_F(UsbMode, InHardwareAModuleWithoutItsFlagIsSwitchedOffAndReleased) {
  start_hardware(2);
  const int16_t flags[4] = {0, 1, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(0, flags), 0);
  EXPECT_EQ(fake().take(), (Traffic{"CLR", "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=0000"}));
  EXPECT_EQ(fake().take_calls(), (std::vector<std::string>{"trq 0", "disconnect 0"}));
  EXPECT_EQ(kmvusb_mod[0].connected, 0);
  EXPECT_EQ(kmvusb[0].active, 0);
  EXPECT_EQ(kmvusb[1].active, 1);  // left running
  const int16_t none[4] = {0, 0, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(0, none), KMV_NO_ACT_MOD);
  EXPECT_EQ(kmvusb_active_count, 0);
}

TEST_F(UsbMode, OnlyTheTwoModeWordsAreTaken) {
  start_emulation(1);
  const int16_t flags[4] = {1, 1, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(100, flags), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_set_mode(0, nullptr), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_get_mode(), KMVUSB_MODE_EMULATION);
  EXPECT_EQ(kmvusb_active_count, 1);
  EXPECT_EQ(KMVUSB_set_mode(KMVUSB_MODE_EMULATION, flags), KMVUSB_MODE_EMULATION);
  EXPECT_EQ(kmvusb_active_count, 2);
  EXPECT_EQ(KMVUSBstd_set_mode(KMVUSB_MODE_EMULATION, flags), KMVUSB_MODE_EMULATION);
}

class UsbReconnect : public fake::Fixture {
 protected:
  void SetUp() override {
    fake::Fixture::SetUp();
    start_hardware(1);
  }
};

TEST_F(UsbReconnect, AFailureMarksTheModuleAndASuccessRestoresIt) {
  EXPECT_EQ(KMVUSB_reconnect(1), KMV_NOT_ACTIVE);
  EXPECT_TRUE(fake().take_calls().empty());

  fake().reconnect_result[0] = QVUSB_CONNECT;
  EXPECT_EQ(KMVUSB_reconnect(0), KMV_CONNECT_USB_MOD);
  EXPECT_EQ(kmv_err, KMV_CONNECT_USB_MOD);
  int16_t status = 0;
  EXPECT_EQ(KMVUSB_get_init_status(0, &status), 0);
  EXPECT_EQ(status, -9);

  fake().reconnect_result[0] = 0;
  EXPECT_EQ(KMVUSB_reconnect(0), 0);
  EXPECT_EQ(KMVUSB_get_init_status(0, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(fake().take_calls(), (std::vector<std::string>{"reconnect 0", "reconnect 0"}));
  EXPECT_EQ(KMVUSBstd_reconnect(0), 0);
}

TEST_F(UsbReconnect, ValuesSentAgainReachTheDacEvenWhenCached) {
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 50.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLVOLT, 1, 2.5f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLCURR, 1, 1.0f), 0);
  fake().take();
  ASSERT_EQ(KMVUSB_reconnect(0), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 50.0f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLVOLT, 1, 2.5f), 0);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_COOLCURR, 1, 1.0f), 0);
  EXPECT_EQ(fake().take(), (Traffic{"D4=2048", "D0=2048", "D8=2048"}));
  // Once written, an equal code is skipped again.
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 50.0f), 0);
  EXPECT_TRUE(fake().take().empty());
  // A failed reconnect does not mark the DACs (nothing was reopened).
  fake().reconnect_result[0] = QVUSB_CONNECT;
  kmvusb_dac_stale[0] = 0;
  EXPECT_EQ(KMVUSB_reconnect(0), KMV_CONNECT_USB_MOD);
  EXPECT_EQ(kmvusb_dac_stale[0], 0);
}

}  // namespace
