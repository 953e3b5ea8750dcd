// The whole program on the headless user interface: start-up, the main
// window's switches and pages, setup files through the window, the quit path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/headless.h"
#include "platform/ui/popups.h"
#include "platform/ui/ui.h"
#include "platform/win/registry.h"
#include "support/Util_fun_geometry.h"
#include "support/Util_fun_registry.h"
#include "tests/app/program_fixture.h"
#include "tests/app/ui_app_fixture.h"

using testing::HasSubstr;
namespace ui = platform::ui::headless;
namespace fs = std::filesystem;
using apptest::attr;
using apptest::ival;

namespace {

enum { kConf = 0, kOptions = 1, kEeprom = 2, kInfo = 3 };
void show_page(int index) { ASSERT_EQ(ui::select_tab(trq_panel, MAIN_TAB, index), 0); }

std::string text(int panel, int control) {
  std::string s;
  GetCtrlVal(panel, control, &s);
  return s;
}

class Program : public apptest::ProgramFixture {};

TEST_F(Program, EmulationWithTwoModulesRunsAndQuitsSavingEverything) {
  later([] {
    EXPECT_EQ(no_of_active_kmv, 2);
    EXPECT_EQ(hardware, 0);
    EXPECT_EQ(attr(trq_panel, MAIN_OUT_B1, ATTR_VISIBLE), 1);
    EXPECT_EQ(attr(trq_panel, MAIN_ALL_OFF_ONE, ATTR_VISIBLE), 0);
    EXPECT_EQ(attr(trq_panel, MAIN_TIMER, ATTR_ENABLED), 1);
    EXPECT_EQ(ui::set_value(trq_panel, MAIN_OUT_A1 + 2, 1), 0);
  });
  later([] { EXPECT_EQ(out_enabled[st_trq], 4); });
  press_quit(true);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
  EXPECT_EQ(stored_settings().quit_outputs[0], 4);
  PanelAttrEntry geometry{};
  snprintf(geometry.name, sizeof geometry.name, "Main");
  EXPECT_EQ(get_panel_attr_from_registry(QV_APP_TRQ, &geometry), 0);
  for (short e : out_enabled) EXPECT_EQ(e, 0);
  EXPECT_EQ(trq_panel, 0);  // the window is gone
  EXPECT_EQ(run_log(), "");
}

TEST_F(Program, QuitWithTheBoxClearedSavesSettingsButNoSetupFile) {
  press_quit(false);
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_FALSE(fs::exists(data_file("trq_auto.set")));
  EXPECT_EQ(stored_settings().scale, 1);
}

TEST_F(Program, CancelKeepsTheProgramRunningWithItsOutputs) {
  later([] { ui::set_value(trq_panel, MAIN_OUT_A1, 1); });
  later([] { ui::click(trq_panel, MAIN_QUIT); });
  later([] { ui::click(GetActivePanel(), QUIT_CANCEL); });
  later([] {
    EXPECT_EQ(out_enabled[st_trq], 1);
    EXPECT_EQ(attr(trq_panel, MAIN_TIMER, ATTR_ENABLED), 1);
  });
  press_quit(true);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
}

TEST_F(Program, QuitWhileMinimisedDoesNothing) {
  later([] {
    SetPanelAttribute(trq_panel, ATTR_WINDOW_ZOOM, VAL_MINIMIZE);
    EXPECT_EQ(ExitCallbackUsb(trq_panel, MAIN_QUIT, EVENT_COMMIT, nullptr, 0, 0), 0);
    EXPECT_EQ(GetActivePanel(), trq_panel);  // no popup
    EXPECT_EQ(done, 0);
  });
  run({"-s1", "-m1", "-info", "-silent"});
  EXPECT_FALSE(fs::exists(data_file("trq_auto.set")));
}

TEST_F(Program, AllOffAndTheViewToggle) {
  later([] {
    ui::set_value(trq_panel, MAIN_OUT_A1, 1);
    ui::set_value(trq_panel, MAIN_OUT_A1 + 4, 1);
    ui::click(trq_panel, MAIN_ALL_OFF_ONE);
    EXPECT_EQ(out_enabled[st_trq], 0);
    EXPECT_EQ(ival(trq_panel, MAIN_OUT_A1), 0);
    EXPECT_EQ(ival(trq_panel, MAIN_OUT_A1 + 4), 0);
    int expanded = 0;
    GetPanelAttribute(trq_panel, ATTR_HEIGHT, &expanded);
    ui::click(trq_panel, MAIN_VIEW);
    EXPECT_EQ(trq_expanded, 0);
    int collapsed = 0;
    GetPanelAttribute(trq_panel, ATTR_HEIGHT, &collapsed);
    EXPECT_EQ(collapsed, attr(trq_panel, MAIN_TAB, ATTR_TOP));
  });
  press_quit(true);
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  // Stored with the expanded height and the two-column width.
  PanelAttrEntry g{};
  snprintf(g.name, sizeof g.name, "Main");
  ASSERT_EQ(get_panel_attr_from_registry(QV_APP_TRQ, &g), 0);
  EXPECT_EQ(g.value.height, trq_expanded_height);
  EXPECT_GT(g.value.width, 800);
}

TEST_F(Program, SetupFilesThroughTheOptionsPageButtonsAndADrop) {
  const std::string mine = home_.file("mine.set");
  later([] {
    set_usbmodule_parameter(st_trq, 4, float_value(21.0f));
    show_page(kOptions);
    EXPECT_EQ(ui::click(trq_opt_panel, OPT_SAVE), 0);
  });
  later([&] { EXPECT_EQ(ui::set_value(GetActivePanel(), SAVE_NAME, mine), 0); });
  later([] { ui::click(GetActivePanel(), SAVE_SAVE); });
  later([&] {
    EXPECT_TRUE(fs::exists(mine));
    set_usbmodule_parameter(st_trq, 4, float_value(5.0f));
    EXPECT_EQ(ui::click(trq_opt_panel, OPT_LOAD), 0);
  });
  later([&] { ui::set_value(GetActivePanel(), LOAD_NAME, mine); });
  later([] { ui::click(GetActivePanel(), LOAD_LOAD); });
  later([&] {
    EXPECT_EQ(read_float_parameter(st_trq, 4), 21.0f);
    float shown = 0;
    GetCtrlVal(trq_ctrl_panel, ghv_ctrls[0][0], &shown);
    EXPECT_EQ(shown, 21.0f);  // the columns were filled again
    // A drop: only the first file counts; a file of another kind is ignored.
    set_usbmodule_parameter(st_trq, 4, float_value(7.0f));
    ui::drop_files(trq_panel, {home_.write("notes.txt", "x"), mine});
    EXPECT_EQ(read_float_parameter(st_trq, 4), 7.0f);
    ui::drop_files(trq_panel, {mine, home_.write("notes.txt", "x")});
    EXPECT_EQ(read_float_parameter(st_trq, 4), 21.0f);
    GetCtrlVal(trq_ctrl_panel, ghv_ctrls[0][0], &shown);
    EXPECT_EQ(shown, 21.0f);
    EXPECT_EQ(cmd_load_file, 0);
  });
  press_quit(false);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_EQ(run_log(), "");
}

TEST_F(Program, ADroppedPathTooLongIsRefused) {
  later([] {
    ui::drop_files(trq_panel, {"/" + std::string(300, 'a') + ".set"});
    ASSERT_EQ(platform::ui::headless::shown().size(), 1u);
    EXPECT_THAT(platform::ui::headless::shown()[0].message, HasSubstr("too long"));
  });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
}

TEST_F(Program, TheStartFileOfTheCommandLineIsAppliedButTheQuitSavesTheAutomaticOne) {
  const std::string start = home_.file("Start.set");
  later([&] {
    set_usbmodule_parameter(st_trq, 4, float_value(33.0f));
    EXPECT_EQ(save_usb(start.c_str(), nullptr), 0);
    quit_on_request();
  });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  fs::remove(data_file("trq_auto.set"));
  later([] {
    EXPECT_EQ(read_float_parameter(st_trq, 4), 33.0f);
    quit_on_request();
  });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent", "-l" + home_.file("Start")}), 0);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
}

// ---- options page ----------------------------------------------------------------------

TEST_F(Program, TheDataDirectoryMovesWithItsFiles) {
  const std::string fresh = home_.file("Setups");
  const std::string plain = home_.write("plain", "not a directory");
  fs::create_directories(data_file(""));
  home_.write("data/qv/trq/trq_err.out", "old report\n");
  later([] { ui::click(trq_panel, MAIN_QUIT); });  // writes trq_auto.set into the first directory
  later([] { ui::click(GetActivePanel(), QUIT_CANCEL); });
  later([&] {
    save_usb(auto_set_file, nullptr);
    platform::ui::headless::script_answers({1});  // create it: yes
    show_page(kOptions);
    EXPECT_EQ(ui::set_value(trq_opt_panel, OPT_DIR, fresh), 0);
    EXPECT_EQ(std::string(pdata_dir), fresh + "/");
    EXPECT_EQ(text(trq_opt_panel, OPT_DIR), fresh + "/");
    EXPECT_TRUE(fs::is_directory(fresh));
    EXPECT_TRUE(fs::exists(fresh + "/trq_auto.set"));
    EXPECT_EQ(testsupport::read_file(fresh + "/trq_err.out"), "old report\n");
    EXPECT_EQ(std::string(auto_set_file), fresh + "/trq_auto.set");
    EXPECT_EQ(std::string(error_out), fresh + "/trq_err.out");
    char stored[300] = "";
    RegReadString(HKEY_CURRENT_USER, qv::app_key(QV_APP_TRQ).c_str(), "DataDir", stored, sizeof stored, nullptr);
    EXPECT_EQ(std::string(stored), fresh + "/");
    // A regular file is never taken.
    platform::ui::headless::clear();
    ui::set_value(trq_opt_panel, OPT_DIR, plain);
    ASSERT_EQ(platform::ui::headless::shown().size(), 1u);
    EXPECT_THAT(platform::ui::headless::shown()[0].message, HasSubstr("not a directory"));
    EXPECT_EQ(std::string(pdata_dir), fresh + "/");
    EXPECT_EQ(text(trq_opt_panel, OPT_DIR), fresh + "/");
    // A directory the operator does not want created.
    platform::ui::headless::script_answers({2});
    ui::set_value(trq_opt_panel, OPT_DIR, home_.file("other"));
    EXPECT_FALSE(fs::exists(home_.file("other")));
    EXPECT_EQ(std::string(pdata_dir), fresh + "/");
    // The same directory again changes nothing.
    show_page(kOptions);
    EXPECT_EQ(ui::set_value(trq_opt_panel, OPT_DIR, fresh), 0);
    EXPECT_EQ(std::string(pdata_dir), fresh + "/");
    fs::remove(fresh + "/trq_auto.set");
  });
  press_quit(true);
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_TRUE(fs::exists(fresh + "/trq_auto.set"));
}

TEST_F(Program, ScalingFloatingAndStartOutputsOfTheOptionsPage) {
  later([] {
    show_page(kOptions);
    EXPECT_EQ(ui::set_value(trq_opt_panel, OPT_SCALE, 1), 0);
    EXPECT_EQ(AppAttr.scale, 2);
    EXPECT_EQ(trq_scale_on_resize, 1);
    int scaling = 0;
    GetPanelAttribute(trq_ctrl_panel, ATTR_SCALE_CONTENTS_ON_RESIZE, &scaling);
    EXPECT_EQ(scaling, 1);
    // The menu item keeps the record, the setting in force and the box in step.
    ScaleCallback(label_menubar, MENU_ITEM_SCALE, nullptr, trq_panel);
    EXPECT_EQ(AppAttr.scale, 1);
    EXPECT_EQ(trq_scale_on_resize, 0);
    EXPECT_EQ(ival(trq_opt_panel, OPT_SCALE), 0);
    // The view toggle does not switch scaling back on.
    ui::click(trq_panel, MAIN_VIEW);
    ui::click(trq_panel, MAIN_VIEW);
    GetPanelAttribute(trq_ctrl_panel, ATTR_SCALE_CONTENTS_ON_RESIZE, &scaling);
    EXPECT_EQ(scaling, 0);
    EXPECT_EQ(trq_expanded, 1);
    ScaleCallback(label_menubar, MENU_ITEM_SCALE, nullptr, trq_panel);
    EXPECT_EQ(AppAttr.scale, 2);
    EXPECT_EQ(ival(trq_opt_panel, OPT_SCALE), 1);

    EXPECT_EQ(ui::set_value(trq_opt_panel, OPT_FLOAT, 1), 0);
    int floating = 0;
    GetPanelAttribute(trq_panel, ATTR_FLOATING, &floating);
    EXPECT_EQ(floating, -50);
    FloatCallback(label_menubar, MENU_ITEM_FLOAT, nullptr, trq_panel);
    EXPECT_EQ(AppAttr.float_mode, 1);

    // Output 2 of column B locked at start: its connector's controls only show.
    ui::set_value(trq_opt_panel, OPT_START_B1 + 2, 1);
    EXPECT_EQ(AppAttr.start_outputs[nd_trq], 4);
    EXPECT_EQ(attr(trq_ctrl_panel, ghv_ctrls[1][2], ATTR_CTRL_MODE), VAL_INDICATOR);
    EXPECT_EQ(attr(trq_ctrl_panel, ghv_ctrls[1][1], ATTR_CTRL_MODE), VAL_HOT);
  });
  press_quit(false);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_EQ(stored_settings().scale, 2);
  EXPECT_EQ(stored_settings().start_outputs[1], 4);
  later([] {
    EXPECT_EQ(ival(trq_opt_panel, OPT_SCALE), 1);
    EXPECT_EQ(ival(trq_opt_panel, OPT_START_B1 + 2), 1);
    EXPECT_EQ(attr(trq_ctrl_panel, ghv_ctrls[1][2], ATTR_CTRL_MODE), VAL_INDICATOR);
  });
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
}

// ---- EEPROM page -------------------------------------------------------------------------

TEST_F(Program, TheEepromPageWithAndWithoutProductionMode) {
  for (bool production : {false, true}) {
    SCOPED_TRACE(production ? "-qv" : "no -qv");
    simtest::reset_all();
    two_on_the_bus();
    platform::ui::headless::clear();
    later([production] {
      const int p = trq_adjust_panel;
      show_page(kEeprom);
      EXPECT_EQ(text(p, EEP_NAME_A), "KMV-USB-1");
      EXPECT_EQ(text(p, EEP_SERIAL_A), "KM0010");
      EXPECT_EQ(attr(p, EEP_WRITE_A, ATTR_DIMMED), production ? 0 : 1);
      EXPECT_EQ(attr(p, EEP_NAME_A, ATTR_CTRL_MODE), production ? VAL_HOT : VAL_INDICATOR);
      // Gain limits need no code.
      EXPECT_EQ(ui::set_value(p, EEP_LIMIT_A1 + 1, 40), 0);
      EXPECT_EQ(gain_C2U_limit[st_trq], 40);
      if (!production) return;
      ui::set_value(p, EEP_NAME_A, std::string("ABCDEFGHIJKLMNOPQRST"));
      EXPECT_STREQ(usb_eep[st_trq].module_name, "ABCDEFGHIJKLMNO");
      ui::click(p, EEP_WRITE_A);
      EXPECT_EQ(attr(p, EEP_CODE_A, ATTR_VISIBLE), 1);
      ui::set_value(p, EEP_CODE_A, 1234);
      ASSERT_EQ(platform::ui::headless::shown().size(), 1u);
      EXPECT_EQ(platform::ui::headless::shown()[0].message, "Invalid password - Access denied");
      ui::set_value(p, EEP_CODE_A, 8365);
      EXPECT_EQ(attr(p, EEP_CODE_A, ATTR_VISIBLE), 0);
      // Read back from the module.
      usb_eep[st_trq] = KMVUSBEepromData{};
      ui::click(p, EEP_READ_A);
      EXPECT_EQ(text(p, EEP_NAME_A), "ABCDEFGHIJKLMNO");
    });
    later([] { quit_on_request(); });
    if (production)
      EXPECT_EQ(run({"-info", "-silent", "-qv"}), 0);
    else
      EXPECT_EQ(run({"-info", "-silent"}), 0);
    EXPECT_EQ(run_log(), "");
  }
}

// ---- start-up ------------------------------------------------------------------------------

TEST_F(Program, TheStartUpDialogKeepsAtMostTwoModules) {
  // The dialog takes each tick when it next waits.
  static int dialog = 0, list = 0;
  later([] {
    dialog = GetActivePanel();
    GetPanelAttribute(dialog, ATTR_FIRST_CHILD, &list);
    EXPECT_EQ(ival(list, MODLIST_USE1), 1);
    EXPECT_EQ(ival(list, MODLIST_USE1 + 1), 1);
    ui::click(list, MODLIST_USE1 + 2);
  });
  later([] {
    EXPECT_EQ(ival(list, MODLIST_USE1 + 2), 0);  // a third box is cleared at once
    ui::click(list, MODLIST_USE1);               // slot 1 off, then slot 3 on
  });
  later([] { ui::click(list, MODLIST_USE1 + 2); });
  later([] {
    EXPECT_EQ(ival(list, MODLIST_USE1 + 2), 1);
    EXPECT_EQ(ui::click(dialog, INFOU_START), 0);
  });
  later([] {
    EXPECT_EQ(no_of_active_kmv, 2);
    EXPECT_EQ(act_mod[0], 0);
    EXPECT_EQ(st_trq, 1);
    EXPECT_EQ(nd_trq, 2);
    quit_on_request();
  });
  EXPECT_EQ(run({"-s1", "-m2", "-silent"}), 0);
}

TEST_F(Program, NoModuleInHardwareOpensTheDialogInEmulation) {
  later([] {
    const int dialog = GetActivePanel();
    int list = 0;
    GetPanelAttribute(dialog, ATTR_FIRST_CHILD, &list);
    EXPECT_EQ(text(dialog, INFOU_MODE_TEXT), " Entering Emulation Mode ");
    EXPECT_EQ(ival(dialog, INFOU_MODE), 200);
    EXPECT_EQ(ival(list, MODLIST_USE1), 1);
    EXPECT_EQ(attr(dialog, INFOU_START, ATTR_DIMMED), 0);
    ui::click(dialog, INFOU_START);
  });
  later([] {
    EXPECT_EQ(hardware, 0);
    EXPECT_EQ(no_of_active_kmv, 1);
    quit_on_request();
  });
  EXPECT_EQ(run({"-silent"}), 0);
}

TEST_F(Program, WithoutAnOperatorTheDialogStartsWhatItPreselected) {
  // Nothing scripted: the dialog starts, the window runs until input runs out.
  EXPECT_EQ(run({"-s1", "-m2", "-silent"}), 0);
  EXPECT_EQ(no_of_active_kmv, 2);
}

TEST_F(Program, LeavingTheDialogEndsTheRun) {
  later([] { ui::click(GetActivePanel(), INFOU_LEAVE); });
  EXPECT_EQ(run({"-s1", "-m2", "-silent"}), -1);
}

// -info takes at most two modules and fills their sets, also when a found
// module was left out by the ini file.
TEST_F(Program, InfoTakesTwoModulesAndFillsTheirSets) {
  two_on_the_bus();
  add_module("FTC", 3, "KMV-USB-3", "KM0030");
  write_ini(apptest::two_module_ini("C1U_GAIN_HV = 12") + "[KMVUSB_MODULE3]\nKMVUSB_ACTIVE = 1\n");
  later([] {
    EXPECT_EQ(no_of_active_kmv, 2);
    EXPECT_EQ(act_mod[2], 0);
    EXPECT_EQ(read_float_parameter(st_trq, 4), 12.0f);
    quit_on_request();
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
  simtest::reset_all();
  two_on_the_bus();
  add_module("FTC", 3, "KMV-USB-3", "KM0030");
  write_ini(apptest::two_module_ini("C1U_GAIN_HV = 12"));  // module 3 found, not active
  later([] {
    EXPECT_EQ(no_of_active_kmv, 2);
    EXPECT_EQ(read_float_parameter(st_trq, 4), 12.0f);
    quit_on_request();
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
}

TEST_F(Program, NoModuleWithInfoEndsTheRun) {
  EXPECT_EQ(run({"-info"}), -1);
  EXPECT_THAT(run_log(), HasSubstr("No active modules"));
}

// Column B shows only a module in use: a slot not in use keeps its labels.
TEST_F(Program, OutputLabelsComeOnlyFromModulesInUse) {
  AppAttrRecord r{};
  r.scale = 1;
  r.float_mode = 1;
  snprintf(r.labels[2][0], APPATTR_LABEL_SIZE, "GHOST");
  snprintf(r.labels[0][1], APPATTR_LABEL_SIZE, "Beam");
  ASSERT_EQ(SaveAppSettings(QV_APP_TRQ, sizeof r, "Current", &r), 0);
  later([] {
    std::string label;
    GetCtrlAttribute(trq_panel, MAIN_OUT_B1, ATTR_LABEL_TEXT, &label);
    EXPECT_NE(label, "GHOST");
    GetCtrlAttribute(trq_panel, MAIN_OUT_A1 + 1, ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "Beam");
  });
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
}

TEST_F(Program, PanelsThatCannotBeLoaded) {
  struct Case {
    int panel;
    const char *report;
    int result;
  };
  for (const Case &c : {Case{PANEL_MAIN_USB, "Cannot load panel MAIN_USB", -1},
                        Case{PANEL_TRQEEP, "Cannot load panel TRQEEP", -1},
                        Case{PANEL_QUIT, "Cannot load panel QUIT", 0}}) {
    SCOPED_TRACE(c.report);
    fs::remove(data_file("trq_err.out"));
    fs::remove(data_file("trq_auto.set"));
    fs::copy_file(testsupport::source_path("resources/kmv_meas.uir"), prog_.file("kmv_meas.uir"),
                  fs::copy_options::overwrite_existing);
    drop_panels({c.panel});
    later([] { ui::click(trq_panel, MAIN_QUIT); });  // no popup: quits with saving
    EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), c.result);
    EXPECT_THAT(run_log(), HasSubstr(c.report));
    EXPECT_EQ(fs::exists(data_file("trq_auto.set")), c.result == 0);
  }
}

}  // namespace

namespace {

// The bus the run command starts on: both modules start in hardware mode.
TEST_F(Program, TheRunCommandsSimulatedBusHoldsTwoWorkingModules) {
  std::string why;
  ASSERT_TRUE(sim::load_description(bus(), testsupport::source_path("resources/two_kmvusb.sim"), &why)) << why;
  later([] {
    EXPECT_EQ(hardware, 1);
    EXPECT_EQ(no_of_active_kmv, 2);
    EXPECT_STREQ(module_type_txt[0], "KMV-USB");
    EXPECT_EQ(text(trq_adjust_panel, EEP_SERIAL_A + EEP_COLUMN_B), "SN0002");
    quit_on_request();
  });
  EXPECT_EQ(run({"-info", "-silent", "-f" + testsupport::source_path("resources/kmvusb_two.ini")}), 0);
  EXPECT_EQ(run_log(), "");
}

// A data directory removed since it was registered is made again.
TEST_F(Program, AMissingDataDirectoryIsMadeAgain) {
  later([] { quit_on_request(); });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  fs::remove_all(data_file(""));
  later([] { quit_on_request(); });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
}

}  // namespace
