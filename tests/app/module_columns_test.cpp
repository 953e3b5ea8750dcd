// The module columns in emulation: digital-output bit modes, context menus,
// the label editor, output re-evaluation, the cooler controls and the column
// layout for one or two modules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "platform/ui/headless.h"
#include "tests/app/ui_app_fixture.h"

namespace ui = platform::ui::headless;

namespace {

class ModuleColumns : public apptest::UiAppFixture {
 protected:
  void open(int count = 2, int first = 1) {
    ASSERT_GE(start_emulation(count, first), 0);
    open_window();
  }
  int byte(short m) { return read_int_parameter(m, KMV_PAR_DIGOUT); }
  int bit_ctrl(int column, int b) { return digout_ctrls_usb[column][b]; }
  std::string label(int panel, int control) {
    std::string t;
    GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &t);
    return t;
  }
};

TEST_F(ModuleColumns, AnInvertedBitShowsTheLogicalNotOfItsOutput) {
  open();
  AppAttr.digout_modes[0] = 1 << (3 + 8);
  set_module_controls(0);
  EXPECT_EQ(ival(conf(), bit_ctrl(0, 3)), 1);  // output 0 shown as on
  EXPECT_EQ(ival(conf(), bit_ctrl(0, 2)), 0);
  ASSERT_EQ(ui::click(conf(), bit_ctrl(0, 3)), 0);
  EXPECT_EQ(ival(conf(), bit_ctrl(0, 3)), 0);
  EXPECT_EQ(byte(0), 0x08);  // only that bit: no higher bits from a negation
  ASSERT_EQ(ui::click(conf(), bit_ctrl(0, 3)), 0);
  EXPECT_EQ(byte(0), 0x00);
  EXPECT_EQ(byte(1), 0x00);  // the other column's module is untouched
}

// A commit that comes without a click or focus of its own (the selection
// belongs to another control, or none is left) takes the bit's stored mode.
TEST_F(ModuleColumns, ACommitWithoutItsOwnSelectionUsesTheStoredMode) {
  open();
  AppAttr.digout_modes[1] = 1 << (6 + 8);  // column B bit 6 inverted
  set_module_controls(1);
  ASSERT_EQ(ui::focus(conf(), ghv_ctrls[0][0]), 0);  // selection cleared
  SetCtrlVal(conf(), bit_ctrl(0, 2), 1);
  ASSERT_EQ(ui::commit(conf(), bit_ctrl(0, 2)), 0);
  EXPECT_EQ(byte(0), 0x04);  // a normal bit: on means on
  ASSERT_EQ(ui::click(conf(), bit_ctrl(0, 2)), 0);  // selects a normal bit (and turns it off)
  ASSERT_EQ(byte(0), 0x00);
  SetCtrlVal(conf(), bit_ctrl(1, 6), 0);
  ASSERT_EQ(ui::commit(conf(), bit_ctrl(1, 6)), 0);
  EXPECT_EQ(byte(1), 0x40);  // inverted: shown off means output on
  EXPECT_EQ(ival(conf(), bit_ctrl(1, 6)), 0);
}

TEST_F(ModuleColumns, AMomentaryBitIsActiveOnlyWhileHeldAndIgnoresKeys) {
  open();
  ui::script_menu_choices({MENU_ITEM_MOMENTARY});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(AppAttr.digout_modes[0], 1 << 1);
  EXPECT_EQ(attr(conf(), bit_ctrl(0, 1), ATTR_ON_COLOR), momentary_colour);
  ASSERT_EQ(ui::press(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(byte(0), 0x02);
  ASSERT_EQ(ui::release(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(byte(0), 0x00);
  EXPECT_EQ(ival(conf(), bit_ctrl(0, 1)), 0);
  ASSERT_EQ(ui::focus(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(ui::key(conf(), bit_ctrl(0, 1), ' '), 1);
  EXPECT_EQ(ui::key(conf(), bit_ctrl(0, 1), VAL_ENTER_VKEY), 1);
  EXPECT_EQ(byte(0), 0x00);
  // Inverted, a momentary bit rests at 1 and is pulled to 0 while held.
  ui::script_menu_choices({MENU_ITEM_INVERT});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(byte(0), 0x02);
  EXPECT_EQ(ival(conf(), bit_ctrl(0, 1)), 0);
  ASSERT_EQ(ui::press(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(byte(0), 0x00);
  ASSERT_EQ(ui::release(conf(), bit_ctrl(0, 1)), 0);
  EXPECT_EQ(byte(0), 0x02);
  // A toggle bit takes keys.
  EXPECT_EQ(ui::key(conf(), bit_ctrl(0, 4), ' '), 0);
}

TEST_F(ModuleColumns, TheBitMenuShowsTheModesOfTheColumnsModule) {
  open();
  AppAttr.digout_modes[1] = (1 << 5) | (1 << (5 + 8));
  ui::script_menu_choices({0, 0});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(1, 5)), 0);
  int checked[3] = {};
  for (int i = 0; i < 3; ++i)
    GetMenuBarAttribute(digout_menubar, MENU_ITEM_TOGGLE + i, ATTR_CHECKED, &checked[i]);
  EXPECT_EQ(checked[0], 0);
  EXPECT_EQ(checked[1], 1);
  EXPECT_EQ(checked[2], 1);
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(0, 5)), 0);
  for (int i = 0; i < 3; ++i)
    GetMenuBarAttribute(digout_menubar, MENU_ITEM_TOGGLE + i, ATTR_CHECKED, &checked[i]);
  EXPECT_EQ(checked[0], 1);
  EXPECT_EQ(checked[1], 0);
  EXPECT_EQ(checked[2], 0);
  // Inverting a toggle bit changes only what it shows.
  ui::script_menu_choices({MENU_ITEM_INVERT});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(0, 5)), 0);
  EXPECT_EQ(byte(0), 0);
  EXPECT_EQ(ival(conf(), bit_ctrl(0, 5)), 1);
}

TEST_F(ModuleColumns, RenamingABitOrAGainStoresTheLabelOfTheColumnsModule) {
  open();
  ui::script_menu_choices({MENU_ITEM_RENAME});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(1, 0)), 0);
  EXPECT_EQ(attr(conf(), CONF_LABEL_EDIT, ATTR_VISIBLE), 1);
  std::string text;
  GetCtrlVal(conf(), CONF_LABEL_EDIT, &text);
  EXPECT_EQ(text, "Bit 0");
  EXPECT_GE(attr(conf(), CONF_LABEL_EDIT, ATTR_LEFT), 0);
  ASSERT_EQ(ui::edit_text(conf(), CONF_LABEL_EDIT, "Pump"), 0);
  ASSERT_EQ(ui::commit(conf(), CONF_LABEL_EDIT), 0);
  EXPECT_STREQ(AppAttr.labels[1][LABEL_DIGOUT + 0], "Pump");
  EXPECT_STREQ(AppAttr.labels[0][LABEL_DIGOUT + 0], "");
  EXPECT_EQ(label(conf(), bit_ctrl(1, 0)), "Pump");
  EXPECT_EQ(attr(conf(), bit_ctrl(1, 0), ATTR_LABEL_POINT_SIZE), 14);
  EXPECT_EQ(attr(conf(), CONF_LABEL_EDIT, ATTR_VISIBLE), 0);

  ui::script_menu_choices({MENU_ITEM_RENAME});
  ASSERT_EQ(ui::right_click(conf(), ghv_ctrls[0][2]), 0);
  ASSERT_EQ(ui::edit_text(conf(), CONF_LABEL_EDIT, "PMT gain"), 0);
  ASSERT_EQ(ui::commit(conf(), CONF_LABEL_EDIT), 0);
  EXPECT_STREQ(AppAttr.labels[0][LABEL_GAIN + 2], "PMT gain");
  EXPECT_EQ(label(conf(), ghv_ctrls[0][2]), "PMT gain");

  // Leaving the editor without Enter (a click elsewhere) commits the typed label too.
  ui::script_menu_choices({MENU_ITEM_RENAME});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(0, 7)), 0);
  ASSERT_EQ(ui::edit_text(conf(), CONF_LABEL_EDIT, "Valve"), 0);
  ASSERT_EQ(ui::focus(conf(), ghv_ctrls[0][0]), 0);
  EXPECT_EQ(attr(conf(), CONF_LABEL_EDIT, ATTR_VISIBLE), 0);
  EXPECT_STREQ(AppAttr.labels[0][LABEL_DIGOUT + 7], "Valve");
  EXPECT_EQ(label(conf(), bit_ctrl(0, 7)), "Valve");

  // The editor opened and left untouched changes nothing.
  ui::script_menu_choices({MENU_ITEM_RENAME});
  ASSERT_EQ(ui::right_click(conf(), bit_ctrl(0, 6)), 0);
  ASSERT_EQ(ui::click(conf(), ghv_ctrls[0][0]), 0);
  EXPECT_EQ(attr(conf(), CONF_LABEL_EDIT, ATTR_VISIBLE), 0);
  EXPECT_STREQ(AppAttr.labels[0][LABEL_DIGOUT + 6], "");
  EXPECT_EQ(label(conf(), bit_ctrl(0, 6)), "Bit 6");
}

TEST_F(ModuleColumns, LabelSizesFollowTheTextLength) {
  const struct {
    const char *text;
    int size;
  } cases[] = {{"", 14}, {"abcdef", 14}, {"abcdefg", 13}, {"abcdefgh", 13}, {"abcdefghi", 11}, {"abcdefghij", 9}};
  for (const auto &c : cases) EXPECT_EQ(font_size_for_text(c.text), c.size) << c.text;
}

TEST_F(ModuleColumns, FillingAColumnTakesLabelsValuesAndCoolerStates) {
  open();
  std::strcpy(AppAttr.labels[1][LABEL_DIGOUT + 4], "Shutter-X12");
  std::strcpy(AppAttr.labels[1][LABEL_GAIN + 1], "Det 2");
  set_usbmodule_parameter(1, 12, int_value(1));  // cooler of connector 2
  set_usbmodule_parameter(1, 13, float_value(1.5f));
  set_usbmodule_parameter(1, 11, float_value(42.0f));
  set_module_controls(1);
  EXPECT_EQ(label(conf(), bit_ctrl(1, 4)), "Shutter-X12");
  EXPECT_EQ(attr(conf(), bit_ctrl(1, 4), ATTR_LABEL_POINT_SIZE), 9);
  EXPECT_EQ(label(conf(), ghv_ctrls[1][1]), "Det 2");
  EXPECT_EQ(label(conf(), ghv_ctrls[1][0]), "Gain HV (%)");  // an empty entry keeps the resource's
  EXPECT_FLOAT_EQ(fval(conf(), ghv_ctrls[1][1]), 42.0f);
  EXPECT_FLOAT_EQ(fval(conf(), cool_volt_ctrls[1][1]), 1.5f);
  EXPECT_EQ(ival(conf(), cool_ctrls[1][1]), 1);
  EXPECT_EQ(attr(conf(), cool_volt_ctrls[1][1], ATTR_DIMMED), 0);
  EXPECT_EQ(attr(conf(), cool_curr_ctrls[1][0], ATTR_DIMMED), 1);
}

TEST_F(ModuleColumns, OutputsFollowTheSuppliesAndTheDigitalOutputsAreAlwaysOn) {
  open();
  ASSERT_EQ(ui::click(conf(), p5_ctrls[0][0]), 0);
  ASSERT_EQ(ui::click(conf(), m5_ctrls[1][3]), 0);
  EXPECT_EQ(check_connector_params(0, 0), 1);
  EXPECT_EQ(check_connector_params(1, 0), 0);
  EXPECT_EQ(check_connector_params(1, 3), 1);
  EXPECT_EQ(check_connector_params(1, 4), 1);
  ASSERT_EQ(ui::click(conf(), CONF_SET_OUTPUTS_TWO), 0);
  EXPECT_EQ(out_enabled[0], 0x11);
  EXPECT_EQ(out_enabled[1], 0x18);
  EXPECT_EQ(ival(main_panel(), con_ctrls[0][0]), 1);
  EXPECT_EQ(ival(main_panel(), con_ctrls[0][1]), 0);
  EXPECT_EQ(ival(main_panel(), con_ctrls[1][3]), 1);
  EXPECT_EQ(ival(main_panel(), con_ctrls[1][4]), 1);
  ASSERT_EQ(ui::click(conf(), p5_ctrls[0][0]), 0);
  ASSERT_EQ(ui::click(conf(), CONF_SET_OUTPUTS_TWO), 0);
  EXPECT_EQ(out_enabled[0], 0x10);
  EXPECT_EQ(ival(main_panel(), con_ctrls[0][0]), 0);
}

// Alarm words belong to module slots: the column's module, not the column number.
TEST_F(ModuleColumns, ACoolerSwitchedOffClearsTheAlarmBitOfItsModulesSlot) {
  ASSERT_GE(start_emulation_slots({0, 2}), 0);
  ASSERT_EQ(nd_trq, 2);
  open_window();
  ASSERT_EQ(ui::click(conf(), cool_ctrls[1][0]), 0);
  EXPECT_EQ(attr(conf(), cool_volt_ctrls[1][0], ATTR_DIMMED), 0);
  cool_alarm[2] = 0x3;
  cool_alarm[1] = 0x1;  // a slot shown in no column
  SetCtrlAttribute(main_panel(), cool_lim_ctrls[1][0], ATTR_VISIBLE, 1);
  ASSERT_EQ(ui::click(conf(), cool_ctrls[1][0]), 0);
  EXPECT_EQ(cool_alarm[2], 0x2);
  EXPECT_EQ(cool_alarm[1], 0x1);
  EXPECT_EQ(attr(main_panel(), cool_lim_ctrls[1][0], ATTR_VISIBLE), 0);
  EXPECT_EQ(attr(conf(), cool_volt_ctrls[1][0], ATTR_DIMMED), 1);
  EXPECT_EQ(attr(conf(), cool_curr_ctrls[1][0], ATTR_DIMMED), 1);
  EXPECT_EQ(read_int_parameter(2, 5), 0);
}

TEST_F(ModuleColumns, OneModuleLeavesColumnBOutOfEveryPage) {
  open(1, 4);  // the only module in the last slot
  ASSERT_EQ(st_trq, 3);
  ASSERT_EQ(nd_trq, 3);
  for (int ctl : {con_ctrls[1][0], con_ctrls[1][4], led_ctrls[1][2], rst_ctrls[1][3], cool_lim_ctrls[1][1],
                  warn_ctrls[1][0], int{MAIN_ALL_OFF_TWO}, int{MAIN_LOST_B}, int{MAIN_FRAME_B}})
    EXPECT_EQ(attr(main_panel(), ctl, ATTR_VISIBLE), 0) << ctl;
  EXPECT_EQ(attr(main_panel(), MAIN_ALL_OFF_ONE, ATTR_VISIBLE), 1);
  for (int ctl : {p12_ctrls[1][0], ghv_ctrls[1][3], cool_volt_ctrls[1][2], bit_ctrl(1, 7), 91, 95, 16})
    EXPECT_EQ(attr(conf(), ctl, ATTR_VISIBLE), 0) << ctl;
  EXPECT_EQ(attr(conf(), CONF_SET_OUTPUTS_ONE, ATTR_VISIBLE), 1);
  for (int ctl = 15; ctl <= 27; ++ctl) EXPECT_EQ(attr(trq_adjust_panel, ctl, ATTR_VISIBLE), 0) << ctl;
  for (int ctl = 13; ctl <= 17; ++ctl) EXPECT_EQ(attr(trq_opt_panel, ctl, ATTR_VISIBLE), 0) << ctl;
  // The window ends 10 units right of column A's last output switch.
  const int right = attr(main_panel(), con_ctrls[0][4], ATTR_LEFT) + attr(main_panel(), con_ctrls[0][4], ATTR_WIDTH);
  int width = 0;
  GetPanelAttribute(main_panel(), ATTR_WIDTH, &width);
  EXPECT_EQ(width, right + 10);
  EXPECT_EQ(attr(main_panel(), MAIN_TAB, ATTR_WIDTH), right + 5);
  // Column B shows nothing of the module: its set is not read there.
  set_usbmodule_parameter(3, 4, float_value(20.0f));
  set_module_controls(1);
  EXPECT_FLOAT_EQ(fval(conf(), ghv_ctrls[1][0]), 0.0f);
  set_module_controls(0);
  EXPECT_FLOAT_EQ(fval(conf(), ghv_ctrls[0][0]), 20.0f);
  // The timer polls the one module without touching column B.
  tick();
  EXPECT_EQ(attr(main_panel(), MAIN_LOST_B, ATTR_VISIBLE), 0);
}

TEST_F(ModuleColumns, TwoModulesHideOnlyTheOneModuleButtons) {
  open();
  EXPECT_EQ(attr(main_panel(), MAIN_ALL_OFF_ONE, ATTR_VISIBLE), 0);
  EXPECT_EQ(attr(conf(), CONF_SET_OUTPUTS_ONE, ATTR_VISIBLE), 0);
  EXPECT_EQ(attr(main_panel(), MAIN_ALL_OFF_TWO, ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(conf(), CONF_SET_OUTPUTS_TWO, ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(conf(), p12_ctrls[1][3], ATTR_VISIBLE), 1);
  EXPECT_EQ(attr(trq_opt_panel, 17, ATTR_VISIBLE), 1);
}

TEST_F(ModuleColumns, ScalingReachesOnlyThePanelsLoaded) {
  ASSERT_GE(start_emulation(1), 0);
  trq_panel = LoadPanel(0, testsupport::source_path("resources/kmv_meas.uir").c_str(), PANEL_MAIN_USB);
  ASSERT_GT(trq_panel, 0);
  set_all_panels_attr(1);
  int scale = 0;
  GetPanelAttribute(trq_panel, ATTR_SCALE_CONTENTS_ON_RESIZE, &scale);
  EXPECT_EQ(scale, 1);
  open_window();
  set_all_panels_attr(0);
  for (int panel : {trq_panel, trq_ctrl_panel, trq_opt_panel, trq_adjust_panel}) {
    GetPanelAttribute(panel, ATTR_SCALE_CONTENTS_ON_RESIZE, &scale);
    EXPECT_EQ(scale, 0) << panel;
  }
}

TEST_F(ModuleColumns, AGainOutsideZeroToTheLimitSpringsBack) {
  open();
  gain_C3U_limit[1] = 60;
  ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[1][2], 50.0f), 0);
  EXPECT_FLOAT_EQ(read_float_parameter(1, 18), 50.0f);
  // The control itself may allow less than 0 (a resource of another range): the check still holds.
  SetCtrlAttribute(conf(), ghv_ctrls[1][2], ATTR_MIN_VALUE, -100.0);
  for (float bad : {60.5f, 99.0f, -5.0f}) {
    ASSERT_EQ(ui::set_value(conf(), ghv_ctrls[1][2], bad), 0);
    EXPECT_FLOAT_EQ(fval(conf(), ghv_ctrls[1][2]), 50.0f) << bad;
    EXPECT_FLOAT_EQ(read_float_parameter(1, 18), 50.0f) << bad;
  }
}

// A cooler value outside the library's range (the control allowing more) is
// shown as the module took it, clamped.
TEST_F(ModuleColumns, ACoolerValueOutsideTheModulesRangeIsShownClamped) {
  open();
  ASSERT_EQ(ui::click(conf(), cool_ctrls[1][0]), 0);
  SetCtrlAttribute(conf(), cool_curr_ctrls[1][0], ATTR_MAX_VALUE, 5.0);
  SetCtrlAttribute(conf(), cool_volt_ctrls[1][0], ATTR_MAX_VALUE, 9.0);
  ASSERT_EQ(ui::set_value(conf(), cool_curr_ctrls[1][0], 2.5f), 0);
  EXPECT_FLOAT_EQ(fval(conf(), cool_curr_ctrls[1][0]), 2.0f);
  EXPECT_FLOAT_EQ(read_float_parameter(1, 7), 2.0f);
  ASSERT_EQ(ui::set_value(conf(), cool_volt_ctrls[1][0], 7.5f), 0);
  EXPECT_FLOAT_EQ(fval(conf(), cool_volt_ctrls[1][0]), 5.0f);
  ASSERT_EQ(ui::set_value(conf(), cool_curr_ctrls[1][0], 1.75f), 0);  // in range: as typed
  EXPECT_FLOAT_EQ(fval(conf(), cool_curr_ctrls[1][0]), 1.75f);
}

}  // namespace
