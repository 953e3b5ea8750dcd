// EEPROM adjust data and gain limits of USB modules over the fake register layer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "tests/modules/fake_lower.h"

namespace {

using Traffic = std::vector<std::string>;

uint8_t byte_sum(const uint8_t *p, int n) { return static_cast<uint8_t>(std::accumulate(p, p + n, 0)); }

class UsbEeprom : public fake::Fixture {
 protected:
  void SetUp() override {
    fake::Fixture::SetUp();
    start_hardware(1);
  }
  char *image() { return reinterpret_cast<char *>(kmvusb_eep_buffer); }
};

TEST_F(UsbEeprom, TheAdjustBlockIsCheckedAndCached) {
  KMVUSBEepromData d{};
  EXPECT_EQ(KMVUSB_get_eeprom_data(0, &d), 0);
  EXPECT_STREQ(d.module_name, "KMV-USB-1");
  EXPECT_STREQ(d.serial_no, "KM10");
  EXPECT_STREQ(d.date, "01.02.2020");
  EXPECT_EQ(trqeep_valid[0], 1);
  EXPECT_TRUE(fake().take().empty());  // the start's image is valid: no read

  // One wrong byte.
  fake().eeprom[0][20] ^= 0x01;
  EXPECT_EQ(load_kmvusb_adjust_para_from_eeprom(0, image(), 1), KMV_EEP_CHKSUM);
  EXPECT_EQ(trqeep_valid[0], 0);
  EXPECT_EQ(KMVUSB_get_eeprom_data(0, &d), KMV_EEP_CHKSUM);  // not repaired by reading
  EXPECT_STREQ(d.serial_no, "KM10");                         // left as it was
  EXPECT_EQ(fake().take(), (Traffic{"E0+49", "E0+49"}));

  // A short read.
  fake().eeprom[0][20] ^= 0x01;
  fake().short_read = 48;
  EXPECT_EQ(load_kmvusb_adjust_para_from_eeprom(0, image(), 1), KMV_EEPROM_READ);
  EXPECT_EQ(kmv_err, KMV_EEPROM_READ);
  EXPECT_EQ(trqeep_valid[0], 0);
  fake().short_read = -1;
  fake().fault = [](const std::string &) { return 4; };
  EXPECT_EQ(load_kmvusb_adjust_para_from_eeprom(0, image(), 0), KMV_EEPROM_READ);
  fake().fault = nullptr;
  EXPECT_EQ(load_kmvusb_adjust_para_from_eeprom(0, image(), 0), 0);
  EXPECT_EQ(load_kmvusb_adjust_para_from_eeprom(0, nullptr, 0), KMV_OPEN_FILE);
  EXPECT_EQ(KMVUSB_get_eeprom_data(0, nullptr), 0);
  EXPECT_EQ(KMVUSB_get_eeprom_data(1, &d), KMV_NOT_ACTIVE);
}

TEST_F(UsbEeprom, WritingNeedsTheAccessCodeAndCutsTheTexts) {
  KMVUSBEepromData d{};
  std::memcpy(d.module_name, "ABCDEFGHIJKLMNOP", 16);  // sixteen characters, no terminator
  std::memcpy(d.serial_no, "1234567890123", 13);
  std::memcpy(d.date, "24.12.2024", 10);
  const std::array<uint8_t, 512> before = fake().eeprom[0];
  std::array<uint8_t, 49> image_before{};
  std::memcpy(image_before.data(), kmvusb_eep_buffer, 49);

  EXPECT_EQ(KMVUSB_write_eeprom_data(0, 8364, &d), KMV_EEP_WR_DIS);
  EXPECT_EQ(kmv_err, KMV_EEP_WR_DIS);
  EXPECT_EQ(KMVUSB_write_eeprom_data(0, 8364, nullptr), KMV_EEP_WR_DIS);
  EXPECT_TRUE(fake().take().empty());
  EXPECT_EQ(fake().eeprom[0], before);
  EXPECT_EQ(std::memcmp(image_before.data(), kmvusb_eep_buffer, 49), 0);
  EXPECT_EQ(KMVUSB_write_eeprom_data(0, KMVUSB_ACCESS_CODE, nullptr), 0);

  EXPECT_EQ(KMVUSB_write_eeprom_data(0, KMVUSB_ACCESS_CODE, &d), 0);
  EXPECT_EQ(fake().take(), (Traffic{"W0+49", "E0+49"}));
  const uint8_t *e = fake().eeprom[0].data();
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(e)), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(e[15], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(e + 16)), "1234567890123");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(e + 32)), "24.12.2024");
  EXPECT_EQ(byte_sum(e, 49), 0x55);
  EXPECT_STREQ(d.module_name, "ABCDEFGHIJKLMNO");  // what the module now holds
  EXPECT_STREQ(kmvusb_mod[0].serial_no, "12345678901");
  EXPECT_EQ(trqeep_valid[0], 1);

  fake().fault = [](const std::string &what) { return what[0] == 'W' ? 4 : 0; };
  EXPECT_EQ(KMVUSB_write_eeprom_data(0, KMVUSB_ACCESS_CODE, &d), KMV_EEPROM_WRITE);
  EXPECT_EQ(trqeep_valid[0], 0);
  fake().fault = nullptr;
  fake().short_read = 3;
  EXPECT_EQ(KMVUSB_write_eeprom_data(0, KMVUSB_ACCESS_CODE, &d), KMV_EEPROM_READ);
  fake().short_read = -1;
  EXPECT_EQ(save_kmvusb_adjust_para_in_eeprom(0, nullptr), KMV_OPEN_FILE);
}

TEST_F(UsbEeprom, GainLimitsComeFromTheirCheckedBlock) {
  struct Case {
    const char *what;
    std::array<uint8_t, 4> bytes;
    bool valid;
    std::array<int16_t, 4> limits;
  };
  const Case cases[] = {
      {"valid", {80, 90, 100, 60}, true, {80, 90, 100, 60}},
      {"wrong check byte", {80, 90, 100, 60}, false, {100, 100, 100, 100}},
      {"zero", {0, 100, 100, 100}, true, {0, 100, 100, 100}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fake().set_limit_block(0, c.bytes, c.valid);
    trqlim_valid[0] = 0;
    for (int16_t k = 0; k < 4; ++k) {
      int16_t limit = -1;
      EXPECT_EQ(KMVUSB_get_gain_HV_limit(0, k, &limit), 0);
      EXPECT_EQ(limit, c.limits[k]);
      EXPECT_EQ(kmvusb_priv[0].hv_limit[k], c.limits[k]);
    }
    // Read once while valid, every time while not.
    EXPECT_EQ(fake().take().size(), c.valid ? 1u : 4u);
  }
  int16_t limit = 0;
  EXPECT_EQ(KMVUSB_get_gain_HV_limit(0, 4, &limit), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_get_gain_HV_limit(0, 0, nullptr), KMV_BAD_PAR_VAL);
  EXPECT_EQ(KMVUSB_get_gain_HV_limit(2, 0, &limit), KMV_NOT_ACTIVE);
  trqlim_valid[0] = 0;
  fake().fault = [](const std::string &) { return 4; };
  kmvusb_priv[0].hv_limit[1] = 77;
  EXPECT_EQ(KMVUSB_get_gain_HV_limit(0, 1, &limit), KMV_EEPROM_READ);
  EXPECT_EQ(kmvusb_priv[0].hv_limit[1], 77);
}

TEST_F(UsbEeprom, SettingALimitWritesTheBlockOnlyWhenItChanges) {
  int16_t limit = 100;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 2, &limit), 0);
  EXPECT_TRUE(fake().take().empty());
  limit = 65;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 2, &limit), 0);
  EXPECT_EQ(fake().take(), (Traffic{"W100+5", "E100+5"}));
  EXPECT_EQ(limit, 65);
  EXPECT_EQ(kmvusb_priv[0].hv_limit[2], 65);
  const uint8_t *l = fake().eeprom[0].data() + 100;
  EXPECT_EQ(l[2], 65);
  EXPECT_EQ(byte_sum(l, 5), 0x55);
  EXPECT_EQ(trqlim_valid[0], 1);

  // The byte cannot hold more: refused, where it would have wrapped to 0.
  for (int16_t bad : {int16_t{256}, int16_t{-1}, int16_t{1000}}) {
    limit = bad;
    EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 2, &limit), KMV_BAD_PAR_VAL) << bad;
    EXPECT_EQ(kmvusb_priv[0].hv_limit[2], 65);
  }
  EXPECT_TRUE(fake().take().empty());

  // A failed write keeps the limit in force and *limit as it was.
  fake().fault = [](const std::string &what) { return what[0] == 'W' ? 4 : 0; };
  limit = 30;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 2, &limit), KMV_EEPROM_WRITE);
  EXPECT_EQ(limit, 30);
  EXPECT_EQ(kmvusb_priv[0].hv_limit[2], 65);
  // A read-back whose check fails gives the default.
  fake().fault = nullptr;
  fake().short_read = -1;
  fake().fault = [](const std::string &what) {
    if (what == "E100+5") fake::lower().eeprom[0][104] ^= 0xFF;
    return 0;
  };
  limit = 30;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 2, &limit), 0);
  EXPECT_EQ(limit, 100);
  EXPECT_EQ(trqlim_valid[0], 0);
}

TEST_F(UsbEeprom, ALimitChangeAppliesTheStoredGainAsItIs) {
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 0, 72.6f), 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  fake().take();
  int16_t limit = 50;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 0, &limit), 0);
  EXPECT_FLOAT_EQ(kmvusb[0].connector[0].GAIN_HV, 50.0f);
  EXPECT_EQ(fake().take(), (Traffic{"W100+5", "E100+5", "D4=2048"}));

  // A raise keeps a fractional gain.
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 1, 33.7f), 0);
  fake().take();
  limit = 90;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 0, &limit), 0);
  EXPECT_FLOAT_EQ(kmvusb[0].connector[0].GAIN_HV, 33.7f);
  EXPECT_EQ(fake().take(), (Traffic{"W100+5", "E100+5"}));  // the same code

  // Only this connector's enable bit sends: connector 1 disabled, 0 enabled.
  ASSERT_EQ(KMVUSB_set_parameter(0, 7 + KMVUSB_PAR_GAIN_HV, 0, 80.0f), 0);
  limit = 60;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(0, 1, &limit), 0);
  EXPECT_FLOAT_EQ(kmvusb[0].connector[1].GAIN_HV, 60.0f);
  EXPECT_EQ(fake().take(), (Traffic{"W100+5", "E100+5"}));
  EXPECT_EQ(kmv_regdata[0][4 + 5], 0);
}

class UsbEepromEmulation : public fake::Fixture {};

TEST_F(UsbEepromEmulation, IdentificationIsMadeUpAndNothingIsTouched) {
  start_emulation(2);
  KMVUSBEepromData d{};
  EXPECT_EQ(KMVUSB_get_eeprom_data(1, &d), 0);
  EXPECT_STREQ(d.module_name, "KMV-USB-2");
  EXPECT_STREQ(d.serial_no, "000002");
  EXPECT_STREQ(d.date, "08.05.2019");
  EXPECT_EQ(KMVUSB_write_eeprom_data(1, KMVUSB_ACCESS_CODE, &d), 0);
  int16_t limit = 40;
  EXPECT_EQ(KMVUSB_set_gain_HV_limit(1, 3, &limit), 0);
  EXPECT_EQ(limit, 40);
  EXPECT_EQ(kmvusb_priv[1].hv_limit[3], 40);
  limit = 0;
  EXPECT_EQ(KMVUSB_get_gain_HV_limit(1, 3, &limit), 0);
  EXPECT_EQ(limit, 40);
  EXPECT_TRUE(fake().take().empty());
}

}  // namespace
