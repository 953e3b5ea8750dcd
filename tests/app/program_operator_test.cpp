// The whole program as an operator uses it with keyboard and mouse: names
// typed into the setup-file dialogs and a click on their button, values typed
// into the pages' fields, the keys of the quit popup and the dialogs.
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
#include "platform/ui/model.h"
#include "platform/ui/popups.h"
#include "platform/ui/ui.h"
#include "tests/app/program_fixture.h"

namespace ui = platform::ui::headless;
namespace fs = std::filesystem;

namespace {

enum { kOptions = 1 };

class Operator : public apptest::ProgramFixture {
 protected:
  static void show_options() { ASSERT_EQ(ui::select_tab(trq_panel, MAIN_TAB, kOptions), 0); }
  static bool popup_open() { return platform::ui::model::top_popup() != 0; }
  static int box(int panel, int control) {
    int v = -1;
    GetCtrlVal(panel, control, &v);
    return v;
  }
  // The quit popup, answered with Quit and the box as it is.
  static void quit() {
    later([] { ui::click(trq_panel, MAIN_QUIT); });
    later([] { ui::click(GetActivePanel(), QUIT_QUIT); });
  }
};

TEST_F(Operator, ATypedFileNameCountsForTheClickOnSaveAndLoad) {
  const float kSaved = 21.0f, kNow = 5.0f;
  later([&] {
    save_usb(auto_set_file, nullptr);  // the preset name is an existing file
    set_usbmodule_parameter(st_trq, 4, float_value(kSaved));
    show_options();
    ASSERT_EQ(ui::click(trq_opt_panel, OPT_SAVE), 0);
  });
  later([] { ASSERT_EQ(ui::edit_text(GetActivePanel(), SAVE_NAME, "new1"), 0); });
  later([] { ASSERT_EQ(ui::click(GetActivePanel(), SAVE_SAVE), 0); });
  later([&] {
    // A new file is written at once: no question about overwriting trq_auto.set.
    EXPECT_TRUE(platform::ui::headless::shown().empty());
    EXPECT_TRUE(fs::exists(data_file("new1.set")));
    EXPECT_FALSE(popup_open());  // the dialog is done
    set_usbmodule_parameter(st_trq, 4, float_value(kNow));
    ASSERT_EQ(ui::click(trq_opt_panel, OPT_LOAD), 0);
  });
  // The preset is new1.set, a valid file; a typed name of no file must not load it.
  later([] { ASSERT_EQ(ui::edit_text(GetActivePanel(), LOAD_NAME, "missing"), 0); });
  later([] { ASSERT_EQ(ui::click(GetActivePanel(), LOAD_LOAD), 0); });
  later([&] {
    EXPECT_EQ(read_float_parameter(st_trq, 4), kNow);
    const int dialog = GetActivePanel();
    EXPECT_TRUE(popup_open());  // still open, Load dimmed
    int dimmed = 0;
    GetCtrlAttribute(dialog, LOAD_LOAD, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    // A dimmed button takes no click; Enter commits the name and lights it.
    ASSERT_EQ(ui::edit_text(dialog, LOAD_NAME, "new1"), 0);
    EXPECT_EQ(ui::click(dialog, LOAD_LOAD), UIE_NOT_OPERABLE);
    ASSERT_EQ(ui::key(dialog, LOAD_NAME, VAL_ENTER_VKEY), 0);
  });
  later([] { ASSERT_EQ(ui::click(GetActivePanel(), LOAD_LOAD), 0); });
  later([&] {
    EXPECT_EQ(read_float_parameter(st_trq, 4), kSaved);
    EXPECT_FALSE(popup_open());
  });
  quit();
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_EQ(run_log(), "");
}

TEST_F(Operator, TheDialogsAnswerEnterAndEscape) {
  later([] {
    show_options();
    ASSERT_EQ(ui::click(trq_opt_panel, OPT_SAVE), 0);
  });
  later([] {
    const int dialog = GetActivePanel();
    ASSERT_EQ(ui::edit_text(dialog, SAVE_NAME, "bykeys"), 0);
    ASSERT_EQ(ui::key(dialog, SAVE_NAME, VAL_ENTER_VKEY), 0);  // commits the name only
  });
  later([&] {
    const int dialog = GetActivePanel();
    EXPECT_FALSE(fs::exists(data_file("bykeys.set")));
    EXPECT_EQ(GetActiveCtrl(dialog), SAVE_SAVE);
    ASSERT_EQ(ui::key(dialog, SAVE_SAVE, VAL_ENTER_VKEY), 0);
  });
  later([&] {
    EXPECT_TRUE(fs::exists(data_file("bykeys.set")));
    EXPECT_FALSE(popup_open());
    ASSERT_EQ(ui::click(trq_opt_panel, OPT_LOAD), 0);
  });
  later([] {
    const int dialog = GetActivePanel();
    ASSERT_EQ(ui::edit_text(dialog, LOAD_NAME, "typed"), 0);
    ASSERT_EQ(ui::key(dialog, LOAD_NAME, VAL_ESC_VKEY), 0);
  });
  later([] { EXPECT_FALSE(popup_open()); });
  later([] { ASSERT_EQ(ui::click(trq_opt_panel, OPT_SAVE), 0); });
  later([] { ASSERT_EQ(ui::key(GetActivePanel(), 0, VAL_ESC_VKEY), 0); });
  later([] { EXPECT_FALSE(popup_open()); });
  quit();
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_FALSE(fs::exists(data_file("typed.set")));
}

TEST_F(Operator, EnterInTheQuitPopupQuitsAndSavesWithTheBoxAsItIs) {
  later([] { ui::click(trq_panel, MAIN_QUIT); });
  later([] {
    const int popup = GetActivePanel();
    EXPECT_EQ(box(popup, QUIT_SAVE_SETUP), 1);
    // The box has the focus, as a click on it would leave it.
    ASSERT_EQ(ui::key(popup, QUIT_SAVE_SETUP, VAL_ENTER_VKEY), 0);
    EXPECT_EQ(box(popup, QUIT_SAVE_SETUP), 1);
  });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
  EXPECT_EQ(trq_panel, 0);
}

TEST_F(Operator, EscapeInTheQuitPopupCancels) {
  later([] { ui::click(trq_panel, MAIN_QUIT); });
  later([] { ASSERT_EQ(ui::key(GetActivePanel(), QUIT_SAVE_SETUP, VAL_ESC_VKEY), 0); });
  later([] {
    EXPECT_FALSE(popup_open());
    EXPECT_FALSE(fs::exists(auto_set_file));
  });
  later([] { ui::click(trq_panel, MAIN_QUIT); });
  later([] { ASSERT_EQ(ui::key(GetActivePanel(), 0, VAL_ESC_VKEY), 0); });
  later([] { EXPECT_FALSE(popup_open()); });
  quit();
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
}

TEST_F(Operator, ValuesTypedIntoThePagesCountWhenTheFieldIsLeft) {
  const std::string fresh = home_.file("Typed");
  later([&] {
    // A gain typed on the configuration page, then a click on another control.
    ASSERT_EQ(ui::edit_text(trq_ctrl_panel, ghv_ctrls[0][0], "12.5"), 0);
    EXPECT_NE(read_float_parameter(st_trq, 4), 12.5f);
    ASSERT_EQ(ui::click(trq_ctrl_panel, ghv_ctrls[0][1]), 0);
    EXPECT_EQ(read_float_parameter(st_trq, 4), 12.5f);
    // The data directory typed on the options page, then Tab.
    show_options();
    platform::ui::headless::script_answers({1});  // create it: yes
    ASSERT_EQ(ui::edit_text(trq_opt_panel, OPT_DIR, fresh), 0);
    ASSERT_EQ(ui::focus(trq_opt_panel, OPT_SCALE), 0);
    EXPECT_EQ(std::string(pdata_dir), fresh + "/");
    EXPECT_TRUE(fs::is_directory(fresh));
  });
  quit();
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_TRUE(fs::exists(fresh + "/trq_auto.set"));
}

// A click beside the controls leaves the field too: on the page itself or on
// the main window around it. The module, the field and the file saved at quit agree.
TEST_F(Operator, AValueTypedCountsForAClickBesideTheControls) {
  later([] {
    const int c1 = ghv_ctrls[0][0], c2 = ghv_ctrls[0][1];
    ASSERT_EQ(ui::edit_text(trq_ctrl_panel, c1, "12.5"), 0);
    ASSERT_EQ(ui::key(trq_ctrl_panel, c1, VAL_ENTER_VKEY), 0);
    ASSERT_EQ(read_float_parameter(st_trq, 4), 12.5f);
    ASSERT_EQ(ui::edit_text(trq_ctrl_panel, c1, "7.25"), 0);
    ASSERT_EQ(ui::click(trq_ctrl_panel, 0), 0);  // the page
    EXPECT_EQ(read_float_parameter(st_trq, 4), 7.25f);
    float shown = 0;
    GetCtrlVal(trq_ctrl_panel, c1, &shown);
    EXPECT_EQ(shown, 7.25f);
    ASSERT_EQ(ui::edit_text(trq_ctrl_panel, c2, "3.5"), 0);
    ASSERT_EQ(ui::click(trq_panel, 0), 0);  // the main window beside the page
    EXPECT_EQ(read_float_parameter(st_trq, 11), 3.5f);
  });
  quit();
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  const std::string saved = testsupport::read_file(data_file("trq_auto.set"));
  EXPECT_NE(saved.find("#MP1 [MP_C1U_GAIN_HV,F,7.25]"), std::string::npos) << saved;
  EXPECT_NE(saved.find("#MP1 [MP_C2U_GAIN_HV,F,3.5]"), std::string::npos) << saved;
}

}  // namespace
