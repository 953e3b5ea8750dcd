// The whole program on the headless user interface, ended as a user ends it:
// by real quit signals (also while the quit popup is open), unattended, with
// settings that cannot be stored; and roads of the main window and its pages
// on the simulated bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "platform/win/registry.h"
#include "support/Util_fun_geometry.h"
#include "support/Util_fun_registry.h"
#include "tests/app/program_fixture.h"
#include "tests/app/ui_app_fixture.h"

using testing::HasSubstr;
using testing::Not;
namespace ui = platform::ui::headless;
namespace fs = std::filesystem;
using apptest::attr;
using apptest::ival;

namespace {

int count_of(const std::string &text, const std::string &part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The quit signals as the program installs them.
class Quit : public apptest::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    install_quit_signals();
  }
  void TearDown() override {
    platform::ui::stop_quit_signals();
    std::signal(SIGXFSZ, SIG_DFL);
    platform::ui::set_unattended(false);
    platform::registry::set_read_only(HKEY_CURRENT_USER, false);
    ProgramFixture::TearDown();
  }
  static void send(int signo) { ASSERT_EQ(kill(getpid(), signo), 0); }
};

class QuitBySignal : public Quit, public testing::WithParamInterface<int> {};

// Supplies, gain and cooler of a module on: a real signal ends the run through
// the quit path, which saves, and the shut-down leaves every output off.
TEST_P(QuitBySignal, SavesAndLeavesEveryOutputOffOnTheBus) {
  two_on_the_bus();
  write_ini(apptest::two_module_ini("C1U_P5V = 1\nC1U_GAIN_HV = 20\nC1U_COOLING = 1\nC1U_COOLVOLT = 2"));
  later([this] {
    ASSERT_EQ(hardware, 1);
    ASSERT_EQ((latch("FTA", 0) >> 4) & 1, 1);  // +5 V of connector 1 off (active low)
    ui::set_value(trq_panel, MAIN_OUT_A1, 1);
    ui::set_value(trq_panel, MAIN_OUT_A1 + 4, 1);
    ASSERT_EQ((latch("FTA", 0) >> 4) & 1, 0);
    ASSERT_NE(dac("FTA", 4), 0);
    ASSERT_EQ(latch("FTA", 2) & 1, 1);  // the cooler
    EXPECT_EQ(apptest::module_mismatch(bus(), "FTA", st_trq), "");
    EXPECT_EQ(apptest::module_mismatch(bus(), "FTB", nd_trq), "");
    send(GetParam());
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
  EXPECT_EQ(platform::ui::quit_signal(), GetParam());
  for (const char *serial : {"FTA", "FTB"}) {
    SCOPED_TRACE(serial);
    EXPECT_EQ(latch(serial, 0) & 0x0FFF, 0x0FFF);  // every supply off
    EXPECT_EQ(latch(serial, 2), 0);                // coolers and digital outputs off
    for (int ch = 4; ch < 8; ++ch) EXPECT_EQ(dac(serial, ch), 0) << "gain DAC " << ch;
  }
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
  EXPECT_EQ(stored_settings().quit_outputs[0], 0x11);
  EXPECT_EQ(run_log(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitBySignal, testing::Values(SIGTERM, SIGHUP, SIGINT), [](const auto &info) {
  return std::string(info.param == SIGTERM ? "Term" : info.param == SIGHUP ? "Hup" : "Int");
});

// A signal while the operator has the quit popup open ends that popup as the
// operator left it; no second popup (which would save with its box set) opens.
TEST_F(Quit, ASignalWhileTheQuitPopupIsOpenQuitsAsItsBoxSays) {
  for (bool save : {false, true}) {
    SCOPED_TRACE(save ? "box ticked" : "box cleared");
    fs::remove(data_file("trq_auto.set"));
    ui::clear();
    platform::ui::stop_quit_signals();
    install_quit_signals();
    later([] { ui::click(trq_panel, MAIN_QUIT); });
    later([save] {
      if (!save) ui::click(GetActivePanel(), QUIT_SAVE_SETUP);
      send(SIGTERM);
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(fs::exists(data_file("trq_auto.set")), save);
    EXPECT_EQ(count_of(said, "[dialog] Quit TRQ:"), 1) << said;
    EXPECT_THAT(said, HasSubstr(save ? "-> Quit, saving the setup" : "-> Quit without saving the setup"));
    EXPECT_EQ(out_enabled[0], 0);
  }
}

// Unattended, the start-up dialog and the quit popup tell on standard error
// what they showed and the answer they took.
TEST_F(Quit, UnattendedTheStartUpDialogAndTheQuitPopupWriteTheirAnswers) {
  platform::ui::set_unattended(true);
  later([] { ui::click(trq_panel, MAIN_QUIT); });
  testing::internal::CaptureStderr();
  EXPECT_EQ(run({"-s1", "-m2", "-silent"}), 0);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_THAT(said, HasSubstr("[dialog] TRQ v.1.20:  Emulation Mode; Number of active modules = 2; M1 -  "));
  EXPECT_THAT(said, HasSubstr("No errors; M3 -  Not found; M4 -  Not found -> Start\n"));
  EXPECT_THAT(said, HasSubstr("[dialog] Quit TRQ: Quit the program? [x] Save the setup to trq_auto.set -> "
                              "Quit, saving the setup\n"));
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
}

// A module whose EEPROM checksum is bad is left out of the start and named,
// with and without the start-up dialog (-silent: in the error output only).
TEST_F(Quit, AModuleLeftOutForItsEepromChecksumIsNamed) {
  two_on_the_bus();
  bus().module("FTB")->eeprom()[3] ^= 0x5A;  // the adjust block no longer sums up
  for (bool dialog : {false, true}) {
    SCOPED_TRACE(dialog ? "start-up dialog" : "-info");
    simtest::reset_all();
    fs::remove(data_file("trq_err.out"));
    ui::clear();
    if (dialog) later([] { ui::click(kmvusb_info_dialog(), INFOU_START); });
    later([] {
      EXPECT_EQ(no_of_active_kmv, 1);
      EXPECT_EQ(act_mod[1], 0);
      quit_on_request();
    });
    if (dialog)
      EXPECT_EQ(run({"-silent"}), 0);
    else
      EXPECT_EQ(run({"-info", "-silent"}), 0);
    EXPECT_THAT(run_log(), testing::ContainsRegex("Module M2( \\(S/N [^)]*\\))? is left out: wrong EEPROM checksum"));
    EXPECT_EQ(count_of(run_log(), "wrong EEPROM checksum"), 1);
    EXPECT_THAT(run_log(), Not(HasSubstr("Module M1")));
  }
}

// Settings that cannot be stored at quit (a settings folder turned read-only)
// are reported once, naming where they were to go; the setup file is saved.
TEST_F(Quit, SettingsThatCannotBeStoredAtQuitAreReportedOnce) {
  later([] { platform::registry::set_read_only(HKEY_CURRENT_USER, true); });
  press_quit(true);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  platform::registry::set_read_only(HKEY_CURRENT_USER, false);
  EXPECT_EQ(count_of(run_log(), "The settings could not be saved in "), 1) << run_log();
  EXPECT_THAT(run_log(), HasSubstr(platform::registry::hive_file(HKEY_CURRENT_USER)));
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
  AppAttrRecord r{};
  EXPECT_NE(LoadAppSettings(QV_APP_TRQ, sizeof r, "Current", &r), 0);  // nothing was stored
}

// ---- roads of the main window and its pages -------------------------------------------------

class Roads : public apptest::ProgramFixture {};

// A latched overload on column B: its clear button pulses the connector's
// reset line and then shows the connector clear.
TEST_F(Roads, TheClearOverloadButtonResetsTheConnectorOfItsColumn) {
  two_on_the_bus();
  later([this] {
    ui::set_value(trq_panel, MAIN_OUT_B1 + 2, 1);
    bus().set_input_pins("FTB", 3, 0x0004);  // connector 3 overloaded
    ui::tick(trq_panel, MAIN_TIMER);
    ASSERT_EQ(ival(trq_panel, led_ctrls[1][2]), 1);
    ASSERT_EQ(attr(trq_panel, rst_ctrls[1][2], ATTR_VISIBLE), 1);
    ASSERT_EQ(ovld_alarm[nd_trq], 0x4);
    bus().set_input_pins("FTB", 3, 0x0000);
    bus().record_calls(true);
    sim::I2cBus &i2c = bus().module("FTB")->bus();
    i2c.clear_log();
    bus().module("FTA")->bus().clear_log();
    ASSERT_EQ(ui::click(trq_panel, rst_ctrls[1][2]), 0);
    bool pulsed = false;  // register 0 written with only bit 14 of the four reset lines low
    for (const sim::I2cTransaction &t : i2c.log())
      if (!t.read() && t.address() == sim::KmvModule::kRegisterAddress && t.bytes.size() == 2 &&
          (t.bytes[1] & 0xF0) == 0xB0)
        pulsed = true;
    EXPECT_TRUE(pulsed);
    EXPECT_TRUE(bus().module("FTA")->bus().log().empty());  // column A's module untouched
    EXPECT_EQ(ival(trq_panel, led_ctrls[1][2]), 0);
    EXPECT_EQ(attr(trq_panel, rst_ctrls[1][2], ATTR_VISIBLE), 0);
    EXPECT_EQ(ovld_alarm[nd_trq], 0);
    quit_on_request();
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
}

// An output switch renamed through its menu: the editor sits below the
// switch, Enter stores the label for the column's module, and the next run
// shows it.
TEST_F(Roads, TheOutputLabelEditorRenamesASwitchOfItsColumnsModule) {
  later([] {
    const int sw = MAIN_OUT_B1 + 1;
    ui::script_menu_choices({MENU_ITEM_RENAME});
    ASSERT_EQ(ui::right_click(trq_panel, sw), 0);
    ASSERT_EQ(attr(trq_panel, MAIN_LABEL_EDIT, ATTR_VISIBLE), 1);
    EXPECT_EQ(attr(trq_panel, MAIN_LABEL_EDIT, ATTR_TOP), attr(trq_panel, sw, ATTR_TOP) + 25);
    EXPECT_EQ(attr(trq_panel, MAIN_LABEL_EDIT, ATTR_LEFT), std::max(attr(trq_panel, sw, ATTR_LEFT) - 12, 0));
    ASSERT_EQ(ui::edit_text(trq_panel, MAIN_LABEL_EDIT, "Pump"), 0);
    ASSERT_EQ(ui::commit(trq_panel, MAIN_LABEL_EDIT), 0);
    EXPECT_STREQ(AppAttr.labels[nd_trq][LABEL_OUTPUT + 1], "Pump");
    EXPECT_STREQ(AppAttr.labels[st_trq][LABEL_OUTPUT + 1], "");
    std::string label;
    GetCtrlAttribute(trq_panel, sw, ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "Pump");
    EXPECT_EQ(attr(trq_panel, MAIN_LABEL_EDIT, ATTR_VISIBLE), 0);
  });
  press_quit(false);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  later([] {
    std::string label;
    GetCtrlAttribute(trq_panel, MAIN_OUT_B1 + 1, ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "Pump");
    quit_on_request();
  });
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
}

// All off of the two-module layout switches both modules' outputs off and
// reads column B's overload state afresh.
TEST_F(Roads, AllOffOfColumnBSwitchesBothModulesOffAndReadsBothOverloads) {
  two_on_the_bus();
  write_ini(apptest::two_module_ini() + "C1U_P5V = 1\n");  // module 2's +5 V
  later([this] {
    ASSERT_EQ(attr(trq_panel, MAIN_ALL_OFF_TWO, ATTR_VISIBLE), 1);
    for (int k : {0, 4}) ui::set_value(trq_panel, MAIN_OUT_A1 + k, 1);
    for (int k : {0, 1}) ui::set_value(trq_panel, MAIN_OUT_B1 + k, 1);
    ASSERT_EQ((latch("FTB", 0) >> 4) & 1, 0);
    bus().set_input_pins("FTB", 3, 0x0001);  // an overload no tick has seen yet
    ASSERT_EQ(ui::click(trq_panel, MAIN_ALL_OFF_TWO), 0);
    EXPECT_EQ(out_enabled[st_trq], 0);
    EXPECT_EQ(out_enabled[nd_trq], 0);
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 5; ++k) EXPECT_EQ(ival(trq_panel, con_ctrls[c][k]), 0) << c << k;
    for (const char *serial : {"FTA", "FTB"}) EXPECT_EQ(latch(serial, 0) & 0x0FFF, 0x0FFF) << serial;
    EXPECT_EQ(ival(trq_panel, led_ctrls[1][0]), 1);
    EXPECT_EQ(ovld_alarm[nd_trq], 0);
    EXPECT_EQ(attr(trq_panel, rst_ctrls[1][0], ATTR_VISIBLE), 0);
    quit_on_request();
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
}

// The window comes back where and as large as it was at quit (the size with
// scaling on).
TEST_F(Roads, TheSavedGeometryIsRestoredAtTheNextStart) {
  later([] {
    AppAttr.scale = 2;
    SetPanelAttribute(trq_panel, ATTR_TOP, 140);
    SetPanelAttribute(trq_panel, ATTR_LEFT, 260);
    SetPanelAttribute(trq_panel, ATTR_WIDTH, 960);
    SetPanelAttribute(trq_panel, ATTR_HEIGHT, 610);
  });
  press_quit(false);
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  later([] {
    int top = 0, left = 0, width = 0, height = 0;
    GetPanelAttribute(trq_panel, ATTR_TOP, &top);
    GetPanelAttribute(trq_panel, ATTR_LEFT, &left);
    GetPanelAttribute(trq_panel, ATTR_WIDTH, &width);
    GetPanelAttribute(trq_panel, ATTR_HEIGHT, &height);
    EXPECT_EQ(top, 140);
    EXPECT_EQ(left, 260);
    EXPECT_EQ(width, 960);
    EXPECT_EQ(height, 610);
    quit_on_request();
  });
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
}

// The access code typed but not entered: leaving the field hides it and
// nothing reaches the module's EEPROM.
TEST_F(Roads, TheEepromCodeFieldLosingFocusWithAWrongCodeWritesNothing) {
  two_on_the_bus();
  later([this] {
    const int p = trq_adjust_panel;
    ASSERT_EQ(ui::select_tab(trq_panel, MAIN_TAB, 2), 0);
    const auto before = bus().module("FTA")->eeprom();
    const int commits = bus().module("FTA")->eeprom_commits();
    ui::set_value(p, EEP_NAME_A, std::string("CHANGED"));
    ASSERT_EQ(ui::click(p, EEP_WRITE_A), 0);
    ASSERT_EQ(attr(p, EEP_CODE_A, ATTR_VISIBLE), 1);
    SetCtrlVal(p, EEP_CODE_A, 1234);
    ASSERT_EQ(ui::focus(p, EEP_READ_A), 0);
    EXPECT_EQ(attr(p, EEP_CODE_A, ATTR_VISIBLE), 0);
    EXPECT_EQ(bus().module("FTA")->eeprom_commits(), commits);
    EXPECT_TRUE(bus().module("FTA")->eeprom() == before);
    quit_on_request();
  });
  EXPECT_EQ(run({"-info", "-silent", "-qv"}), 0);
}

}  // namespace
