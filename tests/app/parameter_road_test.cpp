// The module system: parameter sets, the one road of a value, start-up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "app/kmv_syst.h"
#include "app/kmv_syst_settings.h"
#include "tests/app/app_fixture.h"

using testing::HasSubstr;

namespace {

class ParameterRoad : public apptest::AppFixture {};

TEST_F(ParameterRoad, TheSetsHoldThirtyRowsWithTheirLimits) {
  ASSERT_NE(modusb[0], nullptr);
  EXPECT_EQ(modusb[0]->count, 30);
  const struct {
    int id;
    char type;
    double max;
  } rows[] = {{0, 'S', 0}, {1, 'B', 1}, {2, 'B', 1}, {3, 'B', 1}, {4, 'F', 100}, {5, 'B', 1},
              {6, 'F', 5}, {7, 'F', 2}, {25, 'F', 100}, {28, 'F', 2}, {29, 'I', 255}};
  for (const auto &r : rows) {
    EXPECT_EQ(parameter_type(modusb[0], r.id), r.type) << r.id;
    const double max = module_par_table[r.id].max;  // copies: the rows are packed
    const int discrete = module_par_table[r.id].discrete;
    EXPECT_EQ(max, r.max) << r.id;
    EXPECT_EQ(discrete, -1) << r.id;
  }
}

TEST_F(ParameterRoad, EveryLibraryCodeHasAnIdentifier) {
  const struct {
    int code;
    const char *id;
  } codes[] = {{0, "KMV_NONE"},          {-8, "KMV_NOT_ACTIVE"},        {-17, "KMV_ERR_ID"},
               {-19, "KMV_ERR_ID"},      {-23, "KMV_CONNECT_USB_MOD"},  {-24, "KMV_ERR_USB"},
               {-25, "KMV_ERR_ID"},      {3, "KMV_ERR_ID"},             {-32768, "KMV_ERR_ID"}};
  for (const auto &c : codes) EXPECT_STREQ(kmvdll_error_id(c.code), c.id) << c.code;
}

TEST_F(ParameterRoad, EmulationStartFillsTheSetsOfTheActiveModules) {
  ASSERT_GE(start_emulation(2), 0);
  EXPECT_EQ(no_of_active_kmv, 2);
  EXPECT_EQ(st_trq, 0);
  EXPECT_EQ(nd_trq, 1);
  EXPECT_EQ(hardware, 0);
  EXPECT_STREQ(module_type_text, "KMV-USB");
  KMVUSBModuleInfo info{};
  KMVUSB_get_module_info(1, &info);
  EXPECT_STREQ(read_parameter(modusb[1], 0).data, info.serial_no);
}

// One module in the last slot: column B must still name a slot.
TEST_F(ParameterRoad, ASingleModuleInTheLastSlotLeavesBothColumnsOnIt) {
  ASSERT_GE(start_emulation(1, 4), 0);
  ASSERT_EQ(no_of_active_kmv, 1);
  EXPECT_EQ(st_trq, 3);
  EXPECT_EQ(nd_trq, 3);
  EXPECT_EQ(mod_no, 3);
  ASSERT_EQ(init_usbsystem(nullptr), 0);
  EXPECT_EQ(nd_trq, 3);
}

TEST_F(ParameterRoad, TheSetHoldsTheValueTheLibraryKept) {
  ASSERT_GE(start_emulation(2), 0);
  const struct {
    int id;
    float sent, held;
  } cases[] = {{6, 7.3f, 5.0f}, {7, -1.0f, 0.0f}, {4, 62.5f, 62.5f}, {13, 2.25f, 2.25f}};
  for (const auto &c : cases) {
    EXPECT_EQ(set_usbmodule_parameter(1, c.id, float_value(c.sent)), 0) << c.id;
    EXPECT_FLOAT_EQ(read_float_parameter(1, c.id), c.held) << c.id;
  }
  EXPECT_EQ(set_usbmodule_parameter(1, 29, int_value(0x1A5)), 0);
  EXPECT_EQ(read_int_parameter(1, 29), 255);
}

TEST_F(ParameterRoad, CoolerSwitchesFollowTheirBitInCoolingOn) {
  ASSERT_GE(start_emulation(1), 0);
  set_usbmodule_parameter(0, 19, int_value(1));
  EXPECT_EQ(cooling_on[0], 4);
  set_usbmodule_parameter(0, 5, int_value(1));
  EXPECT_EQ(cooling_on[0], 5);
  set_usbmodule_parameter(0, 19, int_value(0));
  EXPECT_EQ(cooling_on[0], 1);
}

TEST_F(ParameterRoad, TheSerialTextIsStoredOnlyInEmulation) {
  ASSERT_GE(start_emulation(1), 0);
  ParameterValue text{};
  std::strcpy(text.data, "NEW123");
  hardware = 1;
  set_usbmodule_parameter(0, 0, text);
  EXPECT_STRNE(read_parameter(modusb[0], 0).data, "NEW123");
  hardware = 0;
  set_usbmodule_parameter(0, 0, text);
  EXPECT_STREQ(read_parameter(modusb[0], 0).data, "NEW123");
}

TEST_F(ParameterRoad, ALibraryErrorIsReportedAndReturned) {
  ASSERT_GE(start_emulation(1), 0);
  EXPECT_EQ(set_usbmodule_parameter(2, 4, float_value(10.0f)), KMV_NOT_ACTIVE);
  EXPECT_EQ(kmv_error, KMV_NOT_ACTIVE);
  EXPECT_THAT(error_log(), HasSubstr("KMV_NOT_ACTIVE"));
  // A slot outside the four is refused before any table is touched.
  EXPECT_EQ(set_usbmodule_parameter(4, 4, float_value(10.0f)), KMV_MOD_NO);
  EXPECT_EQ(set_usbmodule_parameter(-1, 4, float_value(10.0f)), KMV_MOD_NO);
}

// Hardware: the send flag is the connector's enable bit.
TEST_F(ParameterRoad, SuppliesReachTheModuleOnlyWhileTheirOutputsAreEnabled) {
  ASSERT_EQ(start_hardware(), 0);
  ASSERT_EQ(no_of_active_kmv, 2);
  const uint16_t before = bus().register_latch("FTA", 0);
  const uint64_t writes = device_writes();
  EXPECT_EQ(set_usbmodule_parameter(0, 8, int_value(1)), 0);  // +5 V of connector 2
  EXPECT_EQ(read_int_parameter(0, 8), 1);
  EXPECT_EQ(device_writes(), writes);
  EXPECT_EQ(bus().register_latch("FTA", 0), before);

  KMVUSB_enable_outputs(0, 1, 1);
  out_enabled[0] = 2;
  EXPECT_NE(bus().register_latch("FTA", 0), before);  // the enable sends the stored supply
  const uint16_t enabled = bus().register_latch("FTA", 0);
  EXPECT_EQ(set_usbmodule_parameter(0, 8, int_value(0)), 0);
  EXPECT_NE(bus().register_latch("FTA", 0), enabled);
}

TEST_F(ParameterRoad, TwoFoundModulesWithOneNotStartedFillNoSet) {
  add_module("FTA", 1, "KMV-USB-1", "KM0010");
  add_module("FTB", 2, "KMV-USB-2", "KM0020");
  EXPECT_EQ(init_usbsystem(dir_.write("kmvusb.ini", "[KMVUSB_BASE]\nSIMULATION_USB = 0\n"
                                                    "[KMVUSB_MODULE1]\nKMVUSB_ACTIVE = 1\nC1U_GAIN_HV = 40\n"
                                                    "[KMVUSB_MODULE2]\nKMVUSB_ACTIVE = 0\n")
                                .c_str()),
            -1);
  EXPECT_EQ(read_float_parameter(0, 4), 0.0f);
}

TEST_F(ParameterRoad, AnUnreadableIniFileIsReportedAndGivesMinusFive) {
  EXPECT_EQ(init_usbsystem(dir_.file("missing.ini").c_str()), -5);
  EXPECT_THAT(error_log(), HasSubstr("can't open configuration file " + dir_.file("missing.ini")));
}

// ---- settings record -------------------------------------------------------------

TEST(SettingsRecord, DefaultsOnlyWhenNothingWasStored) {
  AppAttr = AppAttrRecord{};
  AppAttr.start_outputs[1] = 3;
  set_appattr_defaults();
  EXPECT_EQ(AppAttr.scale, 1);
  EXPECT_EQ(AppAttr.float_mode, 1);
  EXPECT_EQ(AppAttr.start_outputs[1], 0);

  AppAttr.scale = 2;
  AppAttr.float_mode = -50;
  AppAttr.start_outputs[1] = 3;
  set_appattr_defaults();
  EXPECT_EQ(AppAttr.scale, 2);
  EXPECT_EQ(AppAttr.float_mode, -50);
  EXPECT_EQ(AppAttr.start_outputs[1], 3);
  AppAttr = AppAttrRecord{};
}

TEST(SettingsRecord, ADamagedRecordIsReadSafely) {
  const struct {
    int scale, float_mode, want_scale, want_float;
  } cases[] = {{0, 1, 1, 1}, {3, 1, 1, 1}, {-2, -50, 1, -50}, {2, 7, 2, 1}, {2, -49, 2, 1}};
  for (const auto &c : cases) {
    AppAttr = AppAttrRecord{};
    AppAttr.scale = c.scale;
    AppAttr.float_mode = c.float_mode;
    set_appattr_defaults();
    EXPECT_EQ(AppAttr.scale, c.want_scale) << c.scale << " " << c.float_mode;
    EXPECT_EQ(AppAttr.float_mode, c.want_float) << c.scale << " " << c.float_mode;
  }
  AppAttr = AppAttrRecord{};
  AppAttr.float_mode = 1;
  std::memset(AppAttr.labels, 'x', sizeof AppAttr.labels);
  set_appattr_defaults();
  EXPECT_EQ(std::strlen(AppAttr.labels[3][19]), 11u);
  EXPECT_STREQ(AppAttr.labels[0][0], "xxxxxxxxxxx");
  AppAttr = AppAttrRecord{};
}

}  // namespace
