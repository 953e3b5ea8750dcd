// The module columns and the timer on the simulated USB bus: what the
// operator does reaches the module's registers and DAC, and a lost module
// comes back with what the parameter sets hold.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "platform/ui/headless.h"
#include "tests/app/ui_app_fixture.h"

namespace ui = platform::ui::headless;

namespace {

class ModuleRoad : public apptest::UiAppFixture {
 protected:
  void SetUp() override {
    UiAppFixture::SetUp();
    ASSERT_EQ(start_hardware(), 0);
    open_window();
  }
  // What the output switch of the main window does (its callback lives elsewhere).
  void enable(short module, int output) {
    KMVUSB_enable_outputs(module, static_cast<int16_t>(output), 1);
    out_enabled[module] = static_cast<short>(out_enabled[module] | (1 << output));
  }
  uint16_t reg0(const char *serial) { return bus().register_latch(serial, 0); }
  uint16_t dac(const char *serial, int channel) { return bus().dac_output(serial, channel); }
  // A few values of every kind on both modules, outputs partly enabled.
  void configure() {
    enable(0, 0);
    enable(0, 4);
    enable(1, 1);
    ASSERT_EQ(ui::click(conf(), p5_ctrls[0][0]), 0);
    ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[0][0], 62.5f), 0);
    ASSERT_EQ(ui::click(conf(), cool_ctrls[0][1]), 0);
    ASSERT_EQ(ui::set_value(conf(), cool_volt_ctrls[0][1], 2.5f), 0);
    ASSERT_EQ(ui::set_value(conf(), cool_curr_ctrls[0][1], 0.75f), 0);
    ASSERT_EQ(ui::click(conf(), digout_ctrls_usb[0][3]), 0);
    ASSERT_EQ(ui::click(conf(), m5_ctrls[1][1]), 0);
    ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[1][1], 33.0f), 0);
    ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[1][2], 44.0f), 0);  // stored only: outputs off
  }
};

TEST_F(ModuleRoad, PlusFiveOfConnectorOneReachesItsRegisterBit) {
  enable(0, 0);
  ASSERT_EQ(reg0("FTA") & (1 << 4), 1 << 4);  // active low: off
  ASSERT_EQ(ui::click(conf(), p5_ctrls[0][0]), 0);
  EXPECT_EQ(reg0("FTA") & (1 << 4), 0);
  EXPECT_EQ(read_int_parameter(0, 1), 1);
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
}

TEST_F(ModuleRoad, AGainChangeReachesItsDacChannelWithinTheLimit) {
  enable(0, 0);
  ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[0][0], 62.5f), 0);
  EXPECT_EQ(dac("FTA", 4), std::lround(62.5 * 4095.1 / 100));
  EXPECT_FLOAT_EQ(read_float_parameter(0, 4), 62.5f);
  // Connector 1 of this module is limited to 80 %: the control springs back.
  ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[0][0], 90.0f), 0);
  EXPECT_FLOAT_EQ(fval(conf(), ghv_ctrls[0][0]), 62.5f);
  EXPECT_FLOAT_EQ(read_float_parameter(0, 4), 62.5f);
  EXPECT_EQ(dac("FTA", 4), std::lround(62.5 * 4095.1 / 100));
}

TEST_F(ModuleRoad, ValuesSetWhileOutputsAreDisabledReachTheModuleWhenEnabled) {
  const uint16_t before = reg0("FTA");
  const uint64_t writes = device_writes();
  ASSERT_EQ(ui::click(conf(), p5_ctrls[0][1]), 0);
  ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[0][1], 40.0f), 0);
  ASSERT_EQ(ui::click(conf(), digout_ctrls_usb[0][2]), 0);
  EXPECT_EQ(device_writes(), writes);
  EXPECT_EQ(reg0("FTA"), before);
  EXPECT_EQ(dac("FTA", 5), 0);
  EXPECT_EQ(read_int_parameter(0, 8), 1);
  EXPECT_FLOAT_EQ(read_float_parameter(0, 11), 40.0f);
  enable(0, 1);
  enable(0, 4);
  EXPECT_EQ(reg0("FTA") & (1 << 5), 0);
  EXPECT_EQ(dac("FTA", 5), std::lround(40.0 * 4095.1 / 100));
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
}

TEST_F(ModuleRoad, AnOverloadLightsTheLedShowsTheResetAndBlinksTickByTick) {
  enable(0, 2);
  bus().set_input_pins("FTA", 3, 0x0004);  // connector 3
  tick();
  EXPECT_EQ(ival(main_panel(), led_ctrls[0][2]), 1);
  EXPECT_EQ(attr(main_panel(), rst_ctrls[0][2], ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(main_panel(), warn_ctrls[0][2], ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(main_panel(), rst_ctrls[0][1], ATTR_VISIBLE), 0);
  const int first = attr(main_panel(), warn_ctrls[0][2], ATTR_FILL_COLOR);
  tick();
  const int second = attr(main_panel(), warn_ctrls[0][2], ATTR_FILL_COLOR);
  tick();
  EXPECT_NE(first, second);
  EXPECT_EQ(attr(main_panel(), warn_ctrls[0][2], ATTR_FILL_COLOR), first);
  EXPECT_TRUE(first == warn_color || first == VAL_TRANSPARENT);
  EXPECT_TRUE(second == warn_color || second == VAL_TRANSPARENT);
  EXPECT_EQ(attr(conf(), p12_ctrls[0][2], ATTR_TEXT_BGCOLOR), first);
  EXPECT_EQ(attr(conf(), ghv_ctrls[0][2], ATTR_TEXT_BGCOLOR), first);
  // Over: the warning goes and the page's colours return to none.
  bus().set_input_pins("FTA", 3, 0x0000);
  tick();
  EXPECT_EQ(ival(main_panel(), led_ctrls[0][2]), 0);
  EXPECT_EQ(attr(main_panel(), rst_ctrls[0][2], ATTR_VISIBLE), 0);
  EXPECT_EQ(attr(main_panel(), warn_ctrls[0][2], ATTR_VISIBLE), 0);
  EXPECT_EQ(attr(conf(), p12_ctrls[0][2], ATTR_TEXT_BGCOLOR), VAL_TRANSPARENT);
  EXPECT_EQ(ovld_alarm[0], 0);
}

TEST_F(ModuleRoad, AnOverloadBringsAMinimisedWindowBack) {
  SetPanelAttribute(main_panel(), ATTR_WINDOW_ZOOM, VAL_MINIMIZE);
  tick();
  int zoom = -1;
  GetPanelAttribute(main_panel(), ATTR_WINDOW_ZOOM, &zoom);
  EXPECT_EQ(zoom, VAL_MINIMIZE);
  bus().set_input_pins("FTB", 3, 0x0001);
  tick();
  GetPanelAttribute(main_panel(), ATTR_WINDOW_ZOOM, &zoom);
  EXPECT_EQ(zoom, VAL_NO_ZOOM);
  EXPECT_EQ(ival(main_panel(), led_ctrls[1][0]), 1);
}

TEST_F(ModuleRoad, ACoolerAtItsLimitShowsItsIndicatorAndAModuleWithoutCoolerIsNeverAsked) {
  ASSERT_EQ(ui::click(conf(), cool_ctrls[0][0]), 0);
  bus().set_input_pins("FTA", 1, 0xFFFE);  // connector 1 at its limit (active low)
  bus().set_input_pins("FTB", 1, 0xFFF0);  // would be every connector, were it asked
  tick();
  EXPECT_EQ(attr(main_panel(), cool_lim_ctrls[0][0], ATTR_VISIBLE), 1);
  EXPECT_EQ(cool_alarm[0], 1);
  for (int j = 0; j < 4; ++j) EXPECT_EQ(attr(main_panel(), cool_lim_ctrls[1][j], ATTR_VISIBLE), 0) << j;
  EXPECT_EQ(cool_alarm[1], 0);
  // Switching the cooler off hides the indicator and clears the module's bit.
  ASSERT_EQ(ui::click(conf(), cool_ctrls[0][0]), 0);
  EXPECT_EQ(attr(main_panel(), cool_lim_ctrls[0][0], ATTR_VISIBLE), 0);
  EXPECT_EQ(cool_alarm[0], 0);
  EXPECT_EQ(attr(conf(), cool_volt_ctrls[0][0], ATTR_DIMMED), 1);
}

TEST_F(ModuleRoad, OneConnectorsCurrentLimitIsReadAlone) {
  bus().set_input_pins("FTA", 1, 0xFFFA);  // connectors 1 and 3 at their limit
  EXPECT_EQ(update_curr_lmt_leds(0, 2), 4);
  EXPECT_EQ(cool_alarm[0], 4);
  EXPECT_EQ(attr(main_panel(), cool_lim_ctrls[0][2], ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(main_panel(), cool_lim_ctrls[0][0], ATTR_VISIBLE), 0);
  EXPECT_EQ(update_curr_lmt_leds(0, 2), 0);  // no longer new
  EXPECT_EQ(update_curr_lmt_leds(0, -1), 1);
  EXPECT_EQ(cool_alarm[0], 5);
}

TEST_F(ModuleRoad, UnpluggingDimsTheColumnAndShowsTheLostIndicatorOnTheNextTick) {
  int width = 0, tab_width = 0;
  GetPanelAttribute(main_panel(), ATTR_WIDTH, &width);
  tab_width = attr(main_panel(), MAIN_TAB, ATTR_WIDTH);
  bus().unplug("FTB");
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_B, ATTR_VISIBLE), 0);
  tick();
  EXPECT_EQ(connection_lost[1], 1);
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_B, ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_A, ATTR_VISIBLE), 0);
  for (int ctl : {con_ctrls[1][0], con_ctrls[1][4], led_ctrls[1][3], int{MAIN_ALL_OFF_TWO}})
    EXPECT_EQ(attr(main_panel(), ctl, ATTR_DIMMED), 1) << ctl;
  for (int ctl : {p12_ctrls[1][0], ghv_ctrls[1][3], digout_ctrls_usb[1][7], 91, 16})
    EXPECT_EQ(attr(conf(), ctl, ATTR_DIMMED), 1) << ctl;
  EXPECT_EQ(attr(trq_adjust_panel, EEP_NAME_B, ATTR_DIMMED), 1);
  EXPECT_EQ(attr(conf(), p12_ctrls[0][0], ATTR_DIMMED), 0);
  // Column B stays on the window: no geometry changes.
  int now = 0;
  GetPanelAttribute(main_panel(), ATTR_WIDTH, &now);
  EXPECT_EQ(now, width);
  EXPECT_EQ(attr(main_panel(), MAIN_TAB, ATTR_WIDTH), tab_width);
  tick();  // still away: tried, silently
  EXPECT_EQ(connection_lost[1], 1);
}

TEST_F(ModuleRoad, ReplugWithPowerLostReconnectsUndimsAndRestoresEveryValue) {
  configure();
  ASSERT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
  ASSERT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
  bus().unplug("FTB");
  tick();
  ASSERT_EQ(connection_lost[1], 1);
  bus().replug("FTB", -1, true);
  EXPECT_NE(apptest::module_mismatch(bus(), "FTB", 1), "");  // power-on state
  tick();
  EXPECT_EQ(connection_lost[1], 0);
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_B, ATTR_VISIBLE), 0);
  EXPECT_EQ(attr(conf(), p12_ctrls[1][0], ATTR_DIMMED), 0);
  EXPECT_EQ(attr(main_panel(), con_ctrls[1][1], ATTR_DIMMED), 0);
  EXPECT_EQ(attr(conf(), cool_volt_ctrls[1][0], ATTR_DIMMED), 1);  // its cooler is off
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
  tick();
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
}

// A drop-out between two ticks: the tick that finds the module gone only
// marks it lost; the reconnect waits for the next tick.
TEST_F(ModuleRoad, AModuleBackBeforeTheNextTickIsReconnectedOnlyOnTheTickAfter) {
  configure();
  bus().unplug("FTB");
  bus().replug("FTB", -1, true);
  tick();
  EXPECT_EQ(connection_lost[1], 1);
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_B, ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(conf(), p12_ctrls[1][0], ATTR_DIMMED), 1);
  EXPECT_NE(apptest::module_mismatch(bus(), "FTB", 1), "");  // nothing sent yet
  tick();
  EXPECT_EQ(connection_lost[1], 0);
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_B, ATTR_VISIBLE), 0);
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
}

// On a module that lost its power the cooler of a connector must not start
// before its limits are back: currents go out first, then voltages, then the
// switches (read from the module's I2C traffic of the reconnecting tick).
TEST_F(ModuleRoad, AReconnectSendsCoolerCurrentsThenVoltagesThenSwitches) {
  configure();  // the cooler of module 0's connector 2 is on
  bus().unplug("FTA");
  tick();
  ASSERT_EQ(connection_lost[0], 1);
  bus().replug("FTA", -1, true);
  bus().record_calls(true);
  sim::I2cBus &i2c = bus().module("FTA")->bus();
  i2c.clear_log();
  tick();
  ASSERT_EQ(connection_lost[0], 0);
  constexpr uint8_t kDac = sim::KmvModule::kDacAddress, kCoolers = sim::KmvModule::kRegisterAddress + 2;
  std::map<std::string, int> last;  // the last transaction that wrote each
  const auto &log = i2c.log();
  for (int k = 0; k < static_cast<int>(log.size()); ++k) {
    const sim::I2cTransaction &t = log[static_cast<size_t>(k)];
    if (t.read()) continue;
    if (t.address() == kCoolers && !t.bytes.empty()) last["switches"] = k;
    if (t.address() != kDac) continue;
    for (size_t b = 0; b + 2 < t.bytes.size(); b += 3) {
      if (t.bytes[b] == 8 + 1) last["current"] = k;  // DAC channels of connector 2
      if (t.bytes[b] == 1) last["voltage"] = k;
    }
  }
  ASSERT_EQ(last.size(), 3u);
  EXPECT_LT(last["current"], last["voltage"]);
  EXPECT_LT(last["voltage"], last["switches"]);
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
}

TEST_F(ModuleRoad, AModuleBackOnAnotherPortIsFoundByItsSerialNumber) {
  configure();
  bus().unplug("FTA");
  tick();
  ASSERT_EQ(connection_lost[0], 1);
  bus().replug("FTA", 1, true);  // now listed after the other module
  ASSERT_EQ(bus().index_of("FTA"), 1);
  tick();
  EXPECT_EQ(connection_lost[0], 0);
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
  // Both go on working where they now are.
  ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[0][0], 12.5f), 0);
  ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[1][1], 21.0f), 0);
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", 0), "");
  EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", 1), "");
  tick();
  EXPECT_EQ(connection_lost[0], 0);
  EXPECT_EQ(connection_lost[1], 0);
}

}  // namespace
