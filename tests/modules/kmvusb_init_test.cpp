// Start, slot assignment, ini file, close and clean-up of USB modules over
// the fake register layer and manager.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "modules/qv_usb_fun.h"
#include "tests/modules/fake_lower.h"
#include "support/Util_fun_parfile.h"
#include "tests/testsupport/testsupport.h"

namespace {

using Lines = std::vector<std::string>;

class UsbInit : public fake::Fixture {
 protected:
  testsupport::TempDir dir_;
  std::string ini(const std::string &body) { return dir_.write("kmvusb.ini", "; KMVUSB module configuration\n" + body); }
};

TEST_F(UsbInit, ForcedEmulationWithoutAFile) {
  KMVUSB_force_mode(KMVUSB_MODE_EMULATION, 2, 1);
  EXPECT_EQ(KMVUSB_init(nullptr), 0);
  EXPECT_EQ(KMVUSB_get_mode(), KMVUSB_MODE_EMULATION);
  EXPECT_EQ(kmvusb_initialised, -1);
  for (int16_t m = 0; m < 2; ++m) {
    SCOPED_TRACE(m);
    KMVUSBModuleInfo info{};
    EXPECT_EQ(KMVUSB_get_module_info(m, &info), 0);
    EXPECT_EQ(info.type, KMV_TYPE_USB);
    EXPECT_EQ(info.port, 10 + m);
    EXPECT_EQ(info.connected, 1);
    EXPECT_EQ(info.init_status, 0);
    EXPECT_EQ(std::string(info.serial_no), m == 0 ? "0001" : "0002");
    EXPECT_EQ(KMVUSB_test_if_active(m), 1);
  }
  for (int16_t m = 2; m < 4; ++m) {
    EXPECT_EQ(kmvusb_mod[m].type, KMV_TYPE_NONE);
    EXPECT_EQ(KMVUSB_test_if_active(m), 0);
  }
  EXPECT_EQ(kmvusb_active_count, 2);
  // No scan and no device traffic; the forced values are used up.
  EXPECT_TRUE(fake().take().empty());
  EXPECT_EQ(fake().take_calls(), Lines{"trq 5"});
  EXPECT_EQ(kmvusb_force_mode_word, -1);
  EXPECT_EQ(kmvusb_force_count, 0);
  EXPECT_EQ(kmvusb_force_first, -1);
  // The cache holds what the start sent: coolers off at 0 V and 0 A.
  EXPECT_EQ(kmv_regdata[1][4 + 0], 4095);
  EXPECT_EQ(kmv_regdata[1][4 + 8], 10);
}

TEST_F(UsbInit, HardwareWithoutAFileStartsTheFirstModule) {
  fake().add_device(0, "KM0017", "KMV-USB-1", {80, 90, 100, 60});
  fake().add_device(1, "KM0018");
  fake().found = 2;
  EXPECT_EQ(KMVUSB_init(nullptr), 0);
  EXPECT_EQ(kmvusb_initialised, 1);
  EXPECT_EQ(KMVUSB_test_if_active(0), 1);
  EXPECT_EQ(KMVUSB_test_if_active(1), 0);
  EXPECT_EQ(kmvusb_mod[0].init_status, 0);
  EXPECT_EQ(kmvusb_mod[1].type, KMV_TYPE_USB);  // found, not started
  EXPECT_EQ(kmvusb_mod[1].init_status, -1);
  EXPECT_STREQ(kmvusb_mod[0].serial_no, "KM0017");
  EXPECT_EQ(kmvusb_priv[0].hv_limit[0], 80);
  EXPECT_EQ(kmvusb_priv[0].hv_limit[3], 60);
  EXPECT_EQ(kmvusb_priv[0].enabled, 0);
  EXPECT_EQ(fake().take_calls(), (Lines{"find 5", "trq 0", "connect 0"}));
  // Scan reads of both blocks, then the start of module 0: its block again,
  // everything off, the limit block, the record with send 0.
  const Lines expected{"E0+49",  "E0+49",  "E0+49",  "CLR",    "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=0000",
                       "E100+5", "R2=0000", "D0=4095", "D8=10", "R2=0000", "D1=4095", "D9=10",  "R2=0000",
                       "D2=4095", "D10=10", "R2=0000", "D3=4095", "D11=10"};
  EXPECT_EQ(fake().take(), expected);
}

TEST_F(UsbInit, SlotsAlternateTheVariantsInSerialOrder) {
  struct Device {
    const char *name, *serial;
    bool readable;
  };
  struct Case {
    const char *what;
    std::vector<Device> devices;
    std::vector<int> slot_device;  // device index of slots 0, 1, ...
  };
  const std::vector<Case> cases = {
      {"1, 2, 1 by serial", {{"KMV-USB-1", "KM30", true}, {"KMV-USB-2", "KM20", true}, {"KMV-USB-1", "KM10", true}}, {2, 1, 0}},
      {"2, 2, 1", {{"KMV-USB-2", "KM10", true}, {"KMV-USB-2", "KM05", true}, {"KMV-USB-1", "KM90", true}}, {2, 1, 0}},
      {"equal serials: the earlier", {{"KMV-USB-1", "KM10", true}, {"KMV-USB-1", "KM10", true}}, {0, 1}},
      {"no variants: by serial", {{"KMV", "KM09", true}, {"KMV", "KM03", true}, {"KMV", "KM07", true}}, {1, 2, 0}},
      {"-12 holds -1", {{"KMV-USB-2", "KM01", true}, {"KMV-USB-12", "KM50", true}}, {1, 0}},
      {"unreadable: number 0", {{"KMV", "KM10", true}, {"KMV-USB-1", "KM20", false}, {"KMV", "KM30", true}}, {1, 0, 2}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fake::reset_library();
    fake() = fake::Lower{};
    for (size_t i = 0; i < c.devices.size(); ++i) {
      fake().add_device(static_cast<int>(i), c.devices[i].serial, c.devices[i].name);
      if (!c.devices[i].readable) fake().eeprom[i][48] ^= 0xFF;
    }
    fake().found = static_cast<int16_t>(c.devices.size());
    KMVUSB_init(nullptr);
    for (size_t s = 0; s < c.slot_device.size(); ++s) {
      SCOPED_TRACE(s);
      const int d = c.slot_device[s];
      EXPECT_EQ(int32_t{kmvusb_priv[s].device_no}, d);
      EXPECT_EQ(int32_t{kmvusb_priv_orig[s].ftdi_index}, d);
      EXPECT_EQ(orig_kmvusb_mod[s].type, KMV_TYPE_USB);
      EXPECT_STREQ(kmvusb_mod[s].serial_no, c.devices[d].readable ? c.devices[d].serial : "");
    }
  }
}

TEST_F(UsbInit, SerialNumbersAndVariants) {
  fake().add_device(0, "AB123456789012", "X-2 KMV");
  kmvusb_priv[0].ftdi_index = 0;
  uint32_t number = 9;
  int32_t variant = 9;
  char text[17] = {};
  EXPECT_EQ(get_kmvusb_serial_number(0, &number, text, &variant), 0);
  EXPECT_STREQ(text, "AB123456789012");
  EXPECT_EQ(number, UINT32_MAX);  // saturated
  EXPECT_EQ(variant, 2);
  fake().add_device(0, "A", "plain");  // shorter than three characters
  EXPECT_EQ(get_kmvusb_serial_number(0, &number, text, nullptr), 0);
  EXPECT_EQ(number, 0u);
  fake().add_device(0, "KM42x7", "KMV-USB-1");
  EXPECT_EQ(get_kmvusb_serial_number(0, &number, text, &variant), 0);
  EXPECT_EQ(number, 42u);
  EXPECT_EQ(variant, 1);
  EXPECT_EQ(get_kmvusb_serial_number(0, &number, nullptr, &variant), -1);
  fake().short_read = 10;
  EXPECT_EQ(get_kmvusb_serial_number(0, &number, text, &variant), KMV_EEPROM_READ);

  kmvusb_hardware = KMVUSB_MODE_EMULATION;
  EXPECT_EQ(get_kmvusb_serial_number(2, &number, text, &variant), 0);
  EXPECT_STREQ(text, "0003");
  EXPECT_EQ(number, 3u);
  EXPECT_EQ(variant, 1);
  EXPECT_EQ(get_kmvusb_serial_number(3, &number, text, &variant), 0);
  EXPECT_EQ(variant, 2);
}

TEST_F(UsbInit, TheIniFileGivesModeAndValues) {
  const std::string path = ini(
      "[KMVUSB_BASE]\n"
      "SIMULATION_USB = 200\n"
      "[KMVUSB_MODULE1]\n"
      "KMVUSB_ACTIVE = 1\n"
      "C1U_P5V = 1\n"
      "C1U_GAIN_HV = 150     ; clamped\n"
      "C2U_COOLVOLT = 2.5\n"
      "C3U_COOLCURR = 3\n"
      "C4U_COOLING = 1\n"
      "C5U_DIGOUT = 300\n"
      "[KMVUSB_MODULE3]\n"
      "ACTIVE = 1\n"
      "C1U_M5V = 5\n"
      "C2U_P12V = -4\n");
  EXPECT_EQ(KMVUSB_init(path.c_str()), 0);
  EXPECT_EQ(KMVUSB_get_mode(), KMVUSB_MODE_EMULATION);
  EXPECT_EQ(kmvusb_active_count, 2);
  KMVUSBParameters p{};
  ASSERT_EQ(KMVUSB_get_parameters(0, &p), 0);
  EXPECT_EQ(p.connector[0].P5V, 1);
  EXPECT_FLOAT_EQ(p.connector[0].GAIN_HV, 100.0f);
  EXPECT_FLOAT_EQ(p.connector[1].COOLVOLT, 2.5f);
  EXPECT_FLOAT_EQ(p.connector[2].COOLCURR, 2.0f);
  EXPECT_EQ(p.connector[3].COOLING, 1);
  EXPECT_EQ(p.DIGOUT, 255);
  EXPECT_EQ(kmvusb_priv_orig[0].setup_active, 1);
  ASSERT_EQ(KMVUSB_get_parameters(2, &p), 0);
  EXPECT_EQ(p.connector[0].M5V, 1);
  EXPECT_EQ(p.connector[1].P12V, 0);
  EXPECT_EQ(kmvusb_mod[2].port, 12);
  EXPECT_EQ(KMVUSB_test_if_active(1), 0);
  EXPECT_EQ(KMVUSB_test_if_active(3), 0);
  // The scan ran before the file named the mode.
  EXPECT_EQ(fake().take_calls(), (Lines{"find 5", "trq 5"}));
}

TEST_F(UsbInit, IniFileEdges) {
  struct Case {
    const char *what;
    std::string body;
    int16_t result;
  };
  const Case cases[] = {
      {"no base section", "[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n", KMV_OPEN_FILE},
      {"nothing active", "[KMVUSB_BASE]\nSIMULATION_USB = 200\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 0\n", KMV_NO_ACT_MOD},
      {"no module sections", "[KMVUSB_BASE]\nSIMULATION_USB = 200\n", KMV_NO_ACT_MOD},
      {"[KMVUSB_MODULE12] feeds slot 0", "[KMVUSB_BASE]\nSIMULATION_USB = 200\n[KMVUSB_MODULE12]\nACTIVE = 1\n", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fake::reset_library();
    EXPECT_EQ(KMVUSB_init(ini(c.body).c_str()), c.result);
  }
  EXPECT_EQ(KMVUSB_test_if_active(0), 1);

  fake::reset_library();
  EXPECT_EQ(KMVUSB_init(dir_.file("missing.ini").c_str()), KMV_OPEN_FILE);
  const std::string other = dir_.write("other.ini", "something else\n[KMVUSB_BASE]\n");
  EXPECT_EQ(KMVUSB_init(other.c_str()), KMV_FILE_NVALID);
}

TEST_F(UsbInit, AnUnknownSimulationValueLeavesTheMode) {
  fake().add_device(0, "KM0001");
  fake().found = 1;
  const std::string path = ini("[KMVUSB_BASE]\nSIMULATION_USB = 5\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\n");
  EXPECT_EQ(KMVUSB_init(path.c_str()), 0);
  EXPECT_EQ(KMVUSB_get_mode(), 0);
  EXPECT_EQ(kmvusb_initialised, 1);
}

TEST_F(UsbInit, TheOnlyModuleNotConnectingGivesNoActiveModules) {
  fake().add_device(0, "KM0001");
  fake().found = 1;
  fake().connect_result[0] = QVUSB_CONNECT;
  EXPECT_EQ(KMVUSB_init(nullptr), KMV_NO_ACT_MOD);
  EXPECT_EQ(kmv_err, KMV_NO_ACT_MOD);
  EXPECT_EQ(kmvusb_mod[0].init_status, -4);
  EXPECT_EQ(kmvusb_mod[0].connected, 0);
  EXPECT_EQ(KMVUSB_test_if_active(0), 0);
  EXPECT_EQ(kmvusb_active_count, 0);
  // Nothing found at all, likewise.
  fake::reset_library();
  fake() = fake::Lower{};
  EXPECT_EQ(KMVUSB_init(nullptr), KMV_NO_ACT_MOD);
}

TEST_F(UsbInit, AModuleWithoutADeviceGivesNotInitAlthoughAnotherRuns) {
  fake().add_device(0, "KM0001");
  fake().add_device(1, "KM0002");
  fake().found = 2;
  const std::string path = ini(
      "[KMVUSB_BASE]\nSIMULATION_USB = 0\n[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 0\n"
      "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 1\n[KMVUSB_MODULE3]\nKMVUSB_ACTIVE = 1\n");
  EXPECT_EQ(KMVUSB_init(path.c_str()), KMV_NOT_INIT);
  EXPECT_EQ(KMVUSB_test_if_active(1), 1);
  EXPECT_EQ(kmvusb_mod[1].init_status, 0);
  EXPECT_EQ(KMVUSB_test_if_active(2), 0);
  EXPECT_EQ(kmvusb_mod[2].type, KMV_TYPE_NONE);
  EXPECT_EQ(kmvusb_active_count, 1);
}

TEST_F(UsbInit, EveryStartSetsTheDefaultsOfAllSlots) {
  KMVUSB_force_mode(KMVUSB_MODE_EMULATION, 4, 1);
  ASSERT_EQ(KMVUSB_init(nullptr), 0);
  ASSERT_EQ(kmvusb_active_count, 4);
  ASSERT_EQ(KMVUSB_set_parameter(0, KMVUSB_PAR_GAIN_HV, 0, 20.0f), 0);
  // The next start forces only its first module: no other stays active.
  KMVUSB_force_mode(KMVUSB_MODE_EMULATION, 0, 3);
  ASSERT_EQ(KMVUSB_init(nullptr), 0);
  EXPECT_EQ(kmvusb_active_count, 1);
  for (int16_t m = 0; m < 4; ++m) EXPECT_EQ(KMVUSB_test_if_active(m), m == 2 ? 1 : 0) << m;
  EXPECT_EQ(kmvusb_orig[0].active, 0);
  EXPECT_FLOAT_EQ(kmvusb_orig[0].connector[0].GAIN_HV, 0.0f);
}

TEST_F(UsbInit, ModuleNumbersOutsideTheSlotsGiveMinusSix) {
  start_emulation(1);
  KMVUSBEepromData eep{};
  int16_t v16 = 50;
  float f = 0;
  char image[64] = {};
  struct Case {
    const char *call;
    int16_t result;
  };
  const Case cases[] = {
      {"set_parameters 4", KMVUSB_set_parameters(4, 0, &kmvusb[0])},
      {"setusb_parameters -1", setusb_parameters(-1, 0, 0, &kmvusb[0])},
      {"get_parameter -1", KMVUSB_get_parameter(-1, 1, &f)},
      {"get_parameters 4", KMVUSB_get_parameters(4, nullptr)},
      {"enable_outputs 4", KMVUSB_enable_outputs(4, 0, 0)},
      {"clear_overload -2", KMVUSB_clear_overload(-2, 0)},
      {"get_overload_state -1", KMVUSB_get_overload_state(-1, &v16)},
      {"get_curr_lmt_state 4", KMVUSB_get_curr_lmt_state(4, &v16)},
      {"reconnect -1", KMVUSB_reconnect(-1)},
      {"get_eeprom_data 4", KMVUSB_get_eeprom_data(4, &eep)},
      {"write_eeprom_data -1", KMVUSB_write_eeprom_data(-1, KMVUSB_ACCESS_CODE, &eep)},
      {"get_gain_HV_limit 4", KMVUSB_get_gain_HV_limit(4, 0, &v16)},
      {"set_gain_HV_limit 4", KMVUSB_set_gain_HV_limit(4, 0, &v16)},
      {"load 4", load_kmvusb_adjust_para_from_eeprom(4, image, 1)},
      {"save -1", save_kmvusb_adjust_para_in_eeprom(-1, image)},
      {"getusb_limit 4", getusb_limit(4, 0, &v16)},
      {"setusb_limit -1", setusb_limit(-1, 0, &v16)},
      {"disable_outputs_usb 4", disable_outputs_usb(4, -1, 1)},
      {"twin", static_cast<int16_t>(KMVUSBstd_get_eeprom_data(7, &eep))},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, KMV_MOD_NO) << c.call;
}

class UsbClose : public fake::Fixture {};

TEST_F(UsbClose, BeforeAStartThereIsNothingToClose) {
  EXPECT_EQ(KMVUSB_close(), 1);
  EXPECT_EQ(KMVUSBstd_close(), 1);
  EXPECT_TRUE(fake().take_calls().empty());
}

TEST_F(UsbClose, ClosingSwitchesOffReleasesAndEndsTheStart) {
  start_hardware(2);
  ASSERT_EQ(KMVUSB_enable_outputs(-1, -1, 1), 0);
  fake().take();
  EXPECT_EQ(KMVUSB_close(), 2);
  const Lines off{"CLR", "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=0000"};
  Lines both = off;
  both.insert(both.end(), off.begin(), off.end());
  EXPECT_EQ(fake().take(), both);
  EXPECT_EQ(fake().take_calls(), (Lines{"disconnect 0", "disconnect 1", "trq 0"}));
  for (int16_t m = 0; m < 4; ++m) {
    EXPECT_EQ(kmvusb_mod[m].type, KMV_TYPE_NONE);
    EXPECT_EQ(kmvusb_mod[m].init_status, -1);
    EXPECT_EQ(kmvusb_mod[m].connected, 0);
    EXPECT_EQ(orig_kmvusb_mod[m].init_status, -1);
    EXPECT_EQ(KMVUSB_test_if_active(m), 0);
    EXPECT_EQ(kmvusb_priv[m].enabled, 0);
  }
  EXPECT_EQ(kmvusb_initialised, 0);
  EXPECT_EQ(kmvusb_opened, 0);
  const int16_t flags[4] = {1, 0, 0, 0};
  EXPECT_EQ(KMVUSB_set_mode(0, flags), KMV_NOT_INIT);
  EXPECT_EQ(KMVUSB_close(), 1);
}

TEST_F(UsbClose, AfterEmulationTheRegisterLayerTalksToDevicesAgain) {
  start_emulation(2);
  ASSERT_EQ(TRQ_mode, 5);
  EXPECT_EQ(KMVUSB_close(), 2);
  EXPECT_EQ(TRQ_mode, 0);
  EXPECT_EQ(KMVUSB_get_mode(), 0);
  EXPECT_TRUE(fake().take().empty());
  KMVUSBModuleInfo info{};
  EXPECT_EQ(KMVUSB_get_module_info(0, &info), 0);
  EXPECT_EQ(info.type, KMV_TYPE_NONE);
}

TEST_F(UsbClose, CleanUpReleasesConnectedModulesAndCanRunAgain) {
  start_hardware(2);
  kmvusb_mod[1].connected = orig_kmvusb_mod[1].connected = 0;  // released earlier
  kmvusb_cleanup();
  EXPECT_EQ(fake().take(), (Lines{"CLR", "R0=FFFF", "R0=0FFF", "R0=FFFF", "R2=0000"}));
  EXPECT_EQ(fake().take_calls(), Lines{"disconnect 0"});
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(kmvusb_mod[m].connected, 0);
    EXPECT_EQ(orig_kmvusb_mod[m].connected, 0);
    EXPECT_EQ(kmvusb_mod[m].init_status, -1);
    EXPECT_EQ(orig_kmvusb_mod[m].init_status, -1);
  }
  kmvusb_cleanup();
  EXPECT_TRUE(fake().take().empty());
  EXPECT_TRUE(fake().take_calls().empty());
}

TEST_F(UsbClose, ModuleInfoReadsAnEmptySerialNumberFromTheEeprom) {
  start_hardware(1);
  kmvusb_mod[0].serial_no[0] = '\0';
  KMVUSBModuleInfo info{};
  EXPECT_EQ(KMVUSB_get_module_info(0, &info), 0);
  EXPECT_STREQ(info.serial_no, "KM10");
  EXPECT_EQ(fake().take(), Lines{"E0+49"});
}

}  // namespace

namespace {

// The example configuration: every key in every section, and it starts slot 1.
TEST(UsbExampleIni, HoldsEveryKey) {
  const std::string path = testsupport::source_path("resources/kmvusb.ini");
  std::vector<std::string> keys{"KMVUSB_ACTIVE"};
  for (int c = 1; c <= 4; ++c)
    for (const char *k : {"P5V", "M5V", "P12V", "GAIN_HV", "COOLING", "COOLVOLT", "COOLCURR"})
      keys.push_back("C" + std::to_string(c) + "U_" + k);
  keys.push_back("C5U_DIGOUT");
  std::vector<const char *> names;
  for (const std::string &k : keys) names.push_back(k.c_str());
  ASSERT_EQ(check_if_valid(path.c_str(), "KMVUSB"), 0);
  FILE *f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  const char *base_names[] = {"SIMULATION_USB"};
  ParFileSection base{0, "KMVUSB_BASE", nullptr};
  ASSERT_EQ(create_parset(&base, 1, base_names), 0);
  int32_t word = -1;
  EXPECT_EQ(get_parameter(f, &base, get_section_pos(f, &base), 0, &word, 'I'), 1);
  EXPECT_EQ(word, 0);
  std::free(base.keywords);
  for (int m = 1; m <= 4; ++m) {
    const std::string pattern = "KMVUSB_MODULE" + std::to_string(m);
    ParFileSection sec{0, pattern.c_str(), nullptr};
    ASSERT_EQ(create_parset(&sec, static_cast<int32_t>(names.size()), names.data()), 0);
    const int32_t pos = get_section_pos(f, &sec);
    ASSERT_GE(pos, 0) << pattern;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
      char value[PARFILE_MAX_LINE + 1] = {};
      EXPECT_EQ(get_parameter(f, &sec, pos, i, value, 'S'), 1) << pattern << " " << names[i];
    }
    std::free(sec.keywords);
  }
  std::fclose(f);
}

class UsbExampleStart : public fake::Fixture {};

TEST_F(UsbExampleStart, StartsTheFirstModule) {
  fake().add_device(0, "KM0001");
  fake().add_device(1, "KM0002");
  fake().found = 2;
  EXPECT_EQ(KMVUSB_init(testsupport::source_path("resources/kmvusb.ini").c_str()), 0);
  EXPECT_EQ(KMVUSB_get_mode(), 0);
  EXPECT_EQ(kmvusb_active_count, 1);
  EXPECT_EQ(KMVUSB_test_if_active(0), 1);
  EXPECT_EQ(KMVUSB_test_if_active(1), 0);
}

}  // namespace
