// The program with its real Qt windows (offscreen): an operator's click
// reaches the simulated module's register.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/model.h"
#include "platform/ui/ui.h"
#include "platform/ui_qt/qt_start.h"
#include "platform/ui_qt/qt_view.h"
#include "tests/app/program_fixture.h"
#include "tests/testsupport/qt_step.h"

namespace qt = platform::ui_qt;

namespace {

class ProgramQt : public apptest::ProgramFixture {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_program_qt";
    static char *argv[] = {name, nullptr};
    ASSERT_TRUE(qt::start(argc, argv, true));
  }
  static void TearDownTestSuite() { qt::stop(); }

  // One operator step that opens a popup: open() is the click that shows it
  // (the popup runs modally inside it), answer(popup) what the operator then
  // does, once the program waits in the popup. False when the step went
  // wrong; the test has failed then, naming the step.
  static bool step(const std::string &name, std::function<void(int popup)> answer,
                   const std::function<void()> &open) {
    SCOPED_TRACE(name);
    testsupport::QtStep watch(name);
    auto over = std::make_shared<bool>(false);
    bool answered = false;
    later([over, &answered, answer = std::move(answer)] {
      if (*over) return;  // the step ended without its popup
      const int popup = platform::ui::model::top_popup();
      if (popup == 0) return;
      answered = true;
      answer(popup);
    });
    open();
    *over = true;
    if (!answered) ADD_FAILURE() << "step \"" << name << "\": no popup waited for an answer";
    return answered && !watch.fired() && !::testing::Test::HasFatalFailure();
  }
};

TEST_F(ProgramQt, AClickOnThePlus5VSwitchOfConnector1SetsItsRegisterBit) {
  add_module("FTA", 1, "KMV-USB-1", "KM0010");
  add_module("FTB", 2, "KMV-USB-2", "KM0020");
  bool checked = false;
  auto clicks = [&] {
    testsupport::QtStep watch("the clicks on connector 1's outputs and +5 V");
    ASSERT_NE(qt::panel_widget(trq_panel), nullptr);
    EXPECT_TRUE(qt::panel_widget(trq_panel)->isVisible());
    // Connector 1's outputs on, then its +5 V supply on the configuration page.
    QTest::mouseClick(qt::control_widget(trq_panel, MAIN_OUT_A1), Qt::LeftButton);
    EXPECT_EQ(out_enabled[st_trq] & 1, 1);
    EXPECT_EQ((latch("FTA", 0) >> 4) & 1, 1);  // supplies are active low
    QWidget *p5 = qt::control_widget(trq_ctrl_panel, p5_ctrls[0][0]);
    ASSERT_NE(p5, nullptr);
    QTest::mouseClick(p5, Qt::LeftButton);
    EXPECT_EQ(read_int_parameter(st_trq, 1), 1);
    EXPECT_EQ((latch("FTA", 0) >> 4) & 1, 0);
    EXPECT_EQ((latch("FTB", 0) >> 4) & 1, 1);
    checked = !watch.fired();
  };
  QTimer::singleShot(0, [&] {
    clicks();
    QuitUserInterface(0);  // also after a step that went wrong
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
  EXPECT_TRUE(checked);
  EXPECT_EQ((latch("FTA", 0) >> 4) & 1, 1);  // off again after the run
}

// Typed into the dialogs' name fields, then a mouse click on their button;
// the quit popup's keys. Each dialog runs modally inside the click that
// opened it; the operator answers once the program waits in it. A step that
// goes wrong ends the run.
TEST_F(ProgramQt, TypedNamesAndTheKeysOfTheDialogs) {
  namespace fs = std::filesystem;
  auto type_into = [](int panel, int control, const char *text) {
    auto *edit = qobject_cast<QLineEdit *>(qt::control_widget(panel, control));
    ASSERT_NE(edit, nullptr);
    edit->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(edit->window()));
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->selectAll();
    QTest::keyClicks(edit, text);
  };
  auto click = [](int panel, int control) {
    return [panel, control] { QTest::mouseClick(qt::control_widget(panel, control), Qt::LeftButton); };
  };
  bool checked = false, all_done = false;
  float before_load = 0;
  auto steps = [&] {
    save_usb(auto_set_file, nullptr);  // the preset name of the save dialog exists
    set_usbmodule_parameter(st_trq, 4, float_value(21.0f));
    auto *tabs = qobject_cast<QTabWidget *>(qt::control_widget(trq_panel, MAIN_TAB));
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(1);  // the options page, as a click on its tab
    ASSERT_TRUE(qt::control_widget(trq_opt_panel, OPT_SAVE)->isVisible());
    // A question about overwriting would wait for ever: the step's watchdog fails it.
    if (!step(
        "the save dialog: new1 typed, Save clicked",
        [&](int dialog) {
          type_into(dialog, SAVE_NAME, "new1");
          QTest::mouseClick(qt::control_widget(dialog, SAVE_SAVE), Qt::LeftButton);
        },
        click(trq_opt_panel, OPT_SAVE)))
      return;
    EXPECT_TRUE(fs::exists(data_file("new1.set")));
    EXPECT_EQ(platform::ui::model::top_popup(), 0);

    set_usbmodule_parameter(st_trq, 4, float_value(5.0f));
    before_load = read_float_parameter(st_trq, 4);
    if (!step(
        "the load dialog: missing typed, Load clicked, then Escape",
        [&](int dialog) {
          type_into(dialog, LOAD_NAME, "missing");
          QTest::mouseClick(qt::control_widget(dialog, LOAD_LOAD), Qt::LeftButton);
          later([dialog] { QTest::keyClick(qt::control_widget(dialog, LOAD_NAME), Qt::Key_Escape); });
        },
        click(trq_opt_panel, OPT_LOAD)))
      return;
    EXPECT_EQ(read_float_parameter(st_trq, 4), before_load);  // new1.set was not applied
    EXPECT_EQ(platform::ui::model::top_popup(), 0);

    // The quit popup: Escape cancels, Enter quits with the box as it is.
    fs::remove(auto_set_file);
    if (!step(
        "the quit popup: Escape cancels",
        [](int popup) { QTest::keyClick(qt::control_widget(popup, QUIT_SAVE_SETUP), Qt::Key_Escape); },
        click(trq_panel, MAIN_QUIT)))
      return;
    EXPECT_EQ(platform::ui::model::top_popup(), 0);
    EXPECT_FALSE(fs::exists(auto_set_file));
    if (!step(
        "the quit popup: Return on its box quits",
        [&](int popup) {
          auto *box = qobject_cast<QCheckBox *>(qt::control_widget(popup, QUIT_SAVE_SETUP));
          ASSERT_NE(box, nullptr);
          box->setFocus();
          QTest::keyClick(box, Qt::Key_Return);
          EXPECT_TRUE(box->isChecked());
          checked = true;
        },
        click(trq_panel, MAIN_QUIT)))
      return;
    all_done = true;
  };
  QTimer::singleShot(0, [&] {
    steps();
    // A step that went wrong left the program running: end it.
    if (!all_done) QuitUserInterface(1);
  });
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
  EXPECT_EQ(run_log(), "");
}

}  // namespace
