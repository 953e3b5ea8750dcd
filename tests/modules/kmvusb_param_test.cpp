// Parameters of USB modules over the fake register layer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "tests/modules/fake_lower.h"

namespace {

using Traffic = std::vector<std::string>;

class UsbParameters : public fake::Fixture {
 protected:
  void SetUp() override {
    fake::Fixture::SetUp();
    start_hardware(1);
  }
  static int16_t id(int c, int kind) { return static_cast<int16_t>(7 * c + kind); }
  static float stored(int16_t par) {
    float v = -99.0f;
    EXPECT_EQ(KMVUSB_get_parameter(0, par, &v), 0);
    return v;
  }
};

TEST_F(UsbParameters, ValuesBecomeClampedStoredValuesAndDacCodes) {
  kmvusb_priv[0].hv_limit[2] = 80;
  struct Case {
    int c, kind;
    float value, stored;
    const char *dac;  // the write it causes with send 1 ("" none)
  };
  const Case cases[] = {
      {2, KMVUSB_PAR_GAIN_HV, 150.0f, 80.0f, "D6=3276"},  // limit 80
      {0, KMVUSB_PAR_GAIN_HV, 50.0f, 50.0f, "D4=2048"},
      {1, KMVUSB_PAR_GAIN_HV, -3.0f, 0.0f, ""},  // code 0 is already in the cache
      {3, KMVUSB_PAR_GAIN_HV, 100.0f, 100.0f, "D7=4095"},
      {0, KMVUSB_PAR_COOLVOLT, 2.5f, 2.5f, "D0=2048"},
      {0, KMVUSB_PAR_COOLVOLT, 5.0f, 5.0f, "D0=0"},
      {1, KMVUSB_PAR_COOLVOLT, 7.3f, 5.0f, "D1=0"},
      {0, KMVUSB_PAR_COOLCURR, 2.0f, 2.0f, "D8=4095"},
      {1, KMVUSB_PAR_COOLCURR, 1.0f, 1.0f, "D9=2048"},
      {0, KMVUSB_PAR_COOLCURR, 0.0f, 0.0f, "D8=10"},  // never below the code of 5 mA
      {0, KMVUSB_PAR_COOLVOLT, 0.0f, 0.0f, "D0=4095"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(std::to_string(k.c) + "/" + std::to_string(k.kind) + " " + std::to_string(k.value));
    EXPECT_EQ(KMVUSB_set_parameter(0, id(k.c, k.kind), 1, k.value), 0);
    EXPECT_FLOAT_EQ(stored(id(k.c, k.kind)), k.stored);
    EXPECT_EQ(fake().take(), k.dac[0] ? Traffic{k.dac} : Traffic{});
  }
}

TEST_F(UsbParameters, SwitchesTruncateAndClamp) {
  const struct {
    float value;
    float stored;
  } cases[] = {{0.9f, 0}, {1.0f, 1}, {-1.0f, 1}, {65536.0f, 0}, {7.0f, 1}, {NAN, 0}, {3e9f, 1}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.value);
    EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_P5V, 0, k.value), 0);
    EXPECT_EQ(stored(KMVUSB_PAR_P5V), k.stored);
  }
  const struct {
    float value;
    float stored;
  } digout[] = {{300.0f, 255}, {-1.0f, 255}, {17.8f, 17}, {255.0f, 255}};
  for (const auto &k : digout) {
    SCOPED_TRACE(k.value);
    EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_DIGOUT, 0, k.value), 0);
    EXPECT_EQ(stored(KMVUSB_PAR_DIGOUT), k.stored);
  }
  EXPECT_TRUE(fake().take().empty());
}

TEST_F(UsbParameters, SendFlagDecidesWhatReachesTheModule) {
  // After the start every supply is off (register 0 all ones), coolers off.
  ASSERT_EQ(kmv_regdata[0][0], 0xFFFF);
  ASSERT_EQ(kmv_regdata[0][2], 0x0000);

  // Supplies: 0 stores only, 3 the cache only, anything else writes the bit.
  EXPECT_EQ(KMVUSB_set_parameter(0, id(1, KMVUSB_PAR_P5V), 0, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{});
  EXPECT_EQ(kmv_regdata[0][0], 0xFFFF);
  EXPECT_EQ(KMVUSB_set_parameter(0, id(1, KMVUSB_PAR_P5V), 3, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{});
  EXPECT_EQ(kmv_regdata[0][0], 0xFFDF);  // bit 4 + 1 cleared = on
  EXPECT_EQ(KMVUSB_set_parameter(0, id(2, KMVUSB_PAR_M5V), 2, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{"R0=FBDF"});  // bit 8 + 2
  EXPECT_EQ(KMVUSB_set_parameter(0, id(3, KMVUSB_PAR_P12V), 8, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{"R0=FBD7"});  // bit 3
  EXPECT_EQ(KMVUSB_set_parameter(0, id(3, KMVUSB_PAR_P12V), 1, 0), 0);
  EXPECT_EQ(fake().take(), Traffic{"R0=FBDF"});

  // The cooler switch is written whatever the flag, 3 aside.
  EXPECT_EQ(KMVUSB_set_parameter(0, id(2, KMVUSB_PAR_COOLING), 0, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{"R2=0004"});
  EXPECT_EQ(KMVUSB_set_parameter(0, id(0, KMVUSB_PAR_COOLING), 3, 1), 0);
  EXPECT_EQ(fake().take(), Traffic{});
  EXPECT_EQ(kmv_regdata[0][2], 0x0005);

  // The digital-output byte sits above the cooler bits.
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_DIGOUT, 0, 0xA5), 0);
  EXPECT_EQ(fake().take(), Traffic{});
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_DIGOUT, 16, 0xA5), 0);
  EXPECT_EQ(fake().take(), Traffic{"R2=A505"});

  // A gain is only stored with flag 0; cooler values are always written.
  EXPECT_EQ(KMVUSB_set_parameter(0, id(0, KMVUSB_PAR_GAIN_HV), 0, 40.0f), 0);
  EXPECT_EQ(KMVUSB_set_parameter(0, id(0, KMVUSB_PAR_COOLCURR), 0, 1.0f), 0);
  EXPECT_EQ(fake().take(), Traffic{"D8=2048"});
}

TEST_F(UsbParameters, AnUnchangedDacCodeIsNotWrittenAgain) {
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 33.3f), 0);
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 33.3f), 0);
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 33.30001f), 0);  // the same code
  EXPECT_EQ(fake().take(), Traffic{"D4=1364"});
}

TEST_F(UsbParameters, AWholeRecordCollectsTheSwitchesInTheCache) {
  KMVUSBParameters rec{};
  rec.connector[0].P5V = 1;
  rec.connector[1].P12V = 1;
  rec.connector[2].COOLING = 1;
  rec.connector[3].GAIN_HV = 25.0f;
  rec.connector[3].COOLVOLT = 5.0f;
  rec.DIGOUT = 0x81;
  rec.active = 1;
  EXPECT_EQ(KMVUSB_set_parameters(0, 1, &rec), 0);
  // DACs as their values change, then register 0 and register 2 once each.
  const Traffic expected{"D7=1024", "D3=0", "R0=FFED", "R2=8104"};
  EXPECT_EQ(fake().take(), expected);

  // With send 0: switches, gain and digital outputs stored only; the cooler
  // switches and DACs follow the record.
  rec.connector[3].GAIN_HV = 60.0f;
  rec.connector[3].COOLVOLT = 0.0f;
  rec.connector[2].COOLING = 0;
  EXPECT_EQ(KMVUSB_set_parameters(0, 0, &rec), 0);
  const Traffic send0{"R2=8104", "R2=8104", "R2=8100", "R2=8100", "D3=4095"};
  EXPECT_EQ(fake().take(), send0);
  EXPECT_FLOAT_EQ(stored(id(3, KMVUSB_PAR_GAIN_HV)), 60.0f);

  // The module's own record may be passed.
  EXPECT_EQ(KMVUSB_set_parameters(0, 0, &kmvusb[0]), 0);
  EXPECT_EQ(KMVUSB_set_parameters(0, 1, nullptr), 0);
}

TEST_F(UsbParameters, ConnectorParametersGoOutInIdOrder) {
  KMVUSBParameters rec = kmvusb[0];
  rec.connector[1] = KMVUSBConnectorParameters{1, 1, 0, 1, 10.0f, 2.0f, 0.5f};
  rec.DIGOUT = 3;
  EXPECT_EQ(setusb_parameters(0, 1, 1, &rec), 0);
  const Traffic expected{"R0=FFDF", "R0=FDDF", "R0=FDDF", "D5=410", "R2=0002", "D1=2457", "D9=1024"};
  EXPECT_EQ(fake().take(), expected);
  EXPECT_EQ(setusb_parameters(0, 4, 1, &rec), 0);
  EXPECT_EQ(fake().take(), Traffic{"R2=0302"});
  EXPECT_EQ(setusb_parameters(0, 5, 1, &rec), KMV_BAD_PAR_VAL);
  EXPECT_EQ(setusb_parameters(0, -1, 1, &rec), KMV_BAD_PAR_VAL);
  EXPECT_EQ(kmv_err, KMV_BAD_PAR_VAL);
}

TEST_F(UsbParameters, ChecksComeFirstInTheirOrder) {
  float v = 0;
  EXPECT_EQ(KMVUSB_get_parameter(0, 30, &v), KMV_BAD_PAR_ID);
  EXPECT_EQ(KMVUSB_get_parameter(0, 0, &v), KMV_BAD_PAR_ID);
  EXPECT_EQ(KMVUSB_get_parameter(0, 30, nullptr), 0);  // no id check without a value
  EXPECT_EQ(KMVUSB_set_parameter(0, 30, 1, 1.0f), KMV_BAD_PAR_ID);
  EXPECT_EQ(KMVUSB_set_parameter(0, 0, 1, 1.0f), KMV_BAD_PAR_ID);
  EXPECT_EQ(kmv_err, KMV_BAD_PAR_ID);
  EXPECT_EQ(KMVUSB_set_parameter(1, 1, 1, 1.0f), KMV_NOT_ACTIVE);
  EXPECT_EQ(KMVUSB_get_parameters(1, nullptr), KMV_NOT_ACTIVE);
  EXPECT_EQ(KMVUSB_set_parameter(4, 30, 1, 1.0f), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_set_parameter(-2, 1, 1, 1.0f), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_set_parameters(-1, 1, &kmvusb[0]), KMV_MOD_NO);
  EXPECT_EQ(KMVUSB_get_parameter(-1, 1, &v), KMV_MOD_NO);
  EXPECT_EQ(kmv_err, KMV_MOD_NO);
  EXPECT_TRUE(fake().take().empty());

  KMVUSBParameters out{};
  EXPECT_EQ(KMVUSB_get_parameters(0, &out), 0);
  EXPECT_EQ(out.active, 1);
  EXPECT_EQ(KMVUSBstd_get_parameters(0, &out), 0);
  EXPECT_EQ(KMVUSBstd_set_parameter(0, 30, 0, 0), KMV_BAD_PAR_ID);
}

TEST_F(UsbParameters, AFailedWriteKeepsTheValueAndReportsTheUsbError) {
  fake().fault = [](const std::string &what) { return what[0] == 'D' ? 4 : 0; };
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 70.0f), KMV_ERR_USB);
  EXPECT_EQ(kmv_err, KMV_ERR_USB);
  EXPECT_FLOAT_EQ(stored(KMVUSB_PAR_GAIN_HV), 70.0f);
  EXPECT_EQ(kmv_regdata[0][8], 0);  // the cache keeps the old code, so a retry writes
  fake().fault = nullptr;
  EXPECT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 70.0f), 0);
  EXPECT_EQ(fake().take(), (Traffic{"D4=2867!", "D4=2867"}));
  // A whole record stops at the first failure.
  fake().fault = [](const std::string &what) { return what == "R2=0001" ? 4 : 0; };
  KMVUSBParameters rec = kmvusb[0];
  rec.connector[0].COOLING = 1;
  EXPECT_EQ(KMVUSB_set_parameters(0, 0, &rec), KMV_ERR_USB);
}

class UsbEveryModule : public fake::Fixture {};

TEST_F(UsbEveryModule, MinusOneReachesEveryActiveModule) {
  EXPECT_EQ(KMVUSB_set_parameter(-1, 5, 0, 1), KMV_NO_ACT_MOD);
  EXPECT_EQ(kmv_err, KMV_NO_ACT_MOD);
  start_emulation(2);
  EXPECT_EQ(KMVUSB_set_parameter(-1, 4, 1, 42.0f), 0);
  EXPECT_FLOAT_EQ(kmvusb[0].connector[0].GAIN_HV, 42.0f);
  EXPECT_FLOAT_EQ(kmvusb[1].connector[0].GAIN_HV, 42.0f);
  EXPECT_EQ(kmvusb_data, &kmvusb[1]);
  EXPECT_EQ(kmvusb_priv_data, &kmvusb_priv[1]);
  // Emulation touches no device but keeps the cache.
  EXPECT_TRUE(fake().take().empty());
  EXPECT_EQ(kmv_regdata[1][4 + 4], 1720);
  // The result is the last module's.
  kmvusb[1].active = 0;
  kmvusb[2].active = 1;
  kmvusb_priv[2].ftdi_index = -1;  // no device index: its writes fail
  EXPECT_EQ(KMVUSB_set_parameter(-1, 4, 1, 43.0f), KMV_ERR_USB);
}

}  // namespace
