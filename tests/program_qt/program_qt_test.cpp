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
};

TEST_F(ProgramQt, AClickOnThePlus5VSwitchOfConnector1SetsItsRegisterBit) {
  add_module("FTA", 1, "KMV-USB-1", "KM0010");
  add_module("FTB", 2, "KMV-USB-2", "KM0020");
  bool checked = false;
  QTimer::singleShot(0, [&] {
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
    checked = true;
    QuitUserInterface(0);
  });
  EXPECT_EQ(run({"-info", "-silent"}), 0);
  EXPECT_TRUE(checked);
  EXPECT_EQ((latch("FTA", 0) >> 4) & 1, 1);  // off again after the run
}

// Typed into the dialogs' name fields, then a mouse click on their button;
// the quit popup's keys. Each dialog runs modally inside the click that
// opened it, so the operator's next steps are queued before that click, a
// little later than the showing of the popup.
TEST_F(ProgramQt, TypedNamesAndTheKeysOfTheDialogs) {
  namespace fs = std::filesystem;
  constexpr int kLater = 100;  // ms
  auto type_into = [](int panel, int control, const char *text) {
    auto *edit = qobject_cast<QLineEdit *>(qt::control_widget(panel, control));
    ASSERT_NE(edit, nullptr);
    edit->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(edit->window()));
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->selectAll();
    QTest::keyClicks(edit, text);
  };
  bool checked = false;
  float before_load = 0;
  QTimer::singleShot(0, [&] {
    save_usb(auto_set_file, nullptr);  // the preset name of the save dialog exists
    set_usbmodule_parameter(st_trq, 4, float_value(21.0f));
    auto *tabs = qobject_cast<QTabWidget *>(qt::control_widget(trq_panel, MAIN_TAB));
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(1);  // the options page, as a click on its tab
    ASSERT_TRUE(qt::control_widget(trq_opt_panel, OPT_SAVE)->isVisible());
    QTimer::singleShot(kLater, [&] {
      const int dialog = platform::ui::model::top_popup();
      type_into(dialog, SAVE_NAME, "new1");
      QTest::mouseClick(qt::control_widget(dialog, SAVE_SAVE), Qt::LeftButton);
    });
    // A question about overwriting would wait for ever: fail and answer No.
    QTimer::singleShot(5000, [] {
      if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
        ADD_FAILURE() << "asked: " << box->text().toStdString();
        box->reject();
      }
    });
    QTest::mouseClick(qt::control_widget(trq_opt_panel, OPT_SAVE), Qt::LeftButton);
    EXPECT_TRUE(fs::exists(data_file("new1.set")));
    EXPECT_EQ(platform::ui::model::top_popup(), 0);

    set_usbmodule_parameter(st_trq, 4, float_value(5.0f));
    before_load = read_float_parameter(st_trq, 4);
    QTimer::singleShot(kLater, [&] {
      const int dialog = platform::ui::model::top_popup();
      type_into(dialog, LOAD_NAME, "missing");
      QTest::mouseClick(qt::control_widget(dialog, LOAD_LOAD), Qt::LeftButton);
      QTimer::singleShot(kLater, [dialog] { QTest::keyClick(qt::control_widget(dialog, LOAD_NAME), Qt::Key_Escape); });
    });
    QTest::mouseClick(qt::control_widget(trq_opt_panel, OPT_LOAD), Qt::LeftButton);
    EXPECT_EQ(read_float_parameter(st_trq, 4), before_load);  // new1.set was not applied
    EXPECT_EQ(platform::ui::model::top_popup(), 0);

    // The quit popup: Escape cancels, Enter quits with the box as it is.
    fs::remove(auto_set_file);
    QTimer::singleShot(kLater, [] {
      const int popup = platform::ui::model::top_popup();
      QTest::keyClick(qt::control_widget(popup, QUIT_SAVE_SETUP), Qt::Key_Escape);
    });
    QTest::mouseClick(qt::control_widget(trq_panel, MAIN_QUIT), Qt::LeftButton);
    EXPECT_EQ(platform::ui::model::top_popup(), 0);
    EXPECT_FALSE(fs::exists(auto_set_file));
    QTimer::singleShot(kLater, [&] {
      const int popup = platform::ui::model::top_popup();
      auto *box = qobject_cast<QCheckBox *>(qt::control_widget(popup, QUIT_SAVE_SETUP));
      ASSERT_NE(box, nullptr);
      box->setFocus();
      QTest::keyClick(box, Qt::Key_Return);
      EXPECT_TRUE(box->isChecked());
      checked = true;
    });
    QTest::mouseClick(qt::control_widget(trq_panel, MAIN_QUIT), Qt::LeftButton);
  });
  EXPECT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(fs::exists(data_file("trq_auto.set")));
  EXPECT_EQ(run_log(), "");
}

}  // namespace
