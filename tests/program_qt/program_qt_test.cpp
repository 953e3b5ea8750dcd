// The program with its real Qt windows (offscreen): an operator's click
// reaches the simulated module's register.
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// A point of the panel beside its controls, near its lower right corner.
QPoint beside_the_controls(QWidget *content) {
  for (int y = content->height() - 4; y > 0; y -= 4)
    for (int x = content->width() - 4; x > 0; x -= 4)
      if (content->childAt(x, y) == nullptr) return {x, y};
  return {-1, -1};
}

// Pictures for the eye, into the folder TRQ_TEST_PICTURES names (when set).
void picture(int panel, const char *name) {
  if (const char *dir = std::getenv("TRQ_TEST_PICTURES")) {
    EXPECT_TRUE(qt::save_window(panel, QString(dir) + "/" + name + ".png"));
  }
}

// Gain A/C1 set with Enter, another value typed, then a click on the page
// beside its controls: field, module and the file saved at quit agree.
TEST_F(ProgramQt, AGainTypedCountsForAClickOnThePageBackground) {
  bool checked = false, all_done = false;
  auto steps = [&] {
    auto *box = qobject_cast<QDoubleSpinBox *>(qt::control_widget(trq_ctrl_panel, ghv_ctrls[0][0]));
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(box->isVisible());
    box->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(box->window()));
    auto type = [box](const char *text) {
      QTest::mouseClick(box, Qt::LeftButton);
      box->selectAll();
      QTest::keyClicks(box, text);
    };
    type("12");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(read_float_parameter(st_trq, 4), 12.0f);
    type("10");
    picture(trq_panel, "typed-gain-before-background-click");
    QWidget *page = qt::panel_content(trq_ctrl_panel);
    const QPoint empty = beside_the_controls(page);
    ASSERT_GE(empty.x(), 0);
    QTest::mouseClick(page, Qt::LeftButton, {}, empty);
    QApplication::processEvents();
    EXPECT_EQ(read_float_parameter(st_trq, 4), 10.0f);
    EXPECT_EQ(box->value(), 10.0);
    float shown = 0;
    GetCtrlVal(trq_ctrl_panel, ghv_ctrls[0][0], &shown);
    EXPECT_EQ(shown, 10.0f);
    picture(trq_panel, "typed-gain-after-background-click");
    if (!step(
            "the quit popup: Quit clicked",
            [&](int popup) {
              QTest::mouseClick(qt::control_widget(popup, QUIT_QUIT), Qt::LeftButton);
              checked = true;
            },
            [] { QTest::mouseClick(qt::control_widget(trq_panel, MAIN_QUIT), Qt::LeftButton); }))
      return;
    all_done = true;
  };
  QTimer::singleShot(0, [&] {
    steps();
    // A step that went wrong left the program running: end it.
    if (!all_done) QuitUserInterface(1);
  });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_TRUE(checked);
  const std::string saved = testsupport::read_file(data_file("trq_auto.set"));
  EXPECT_NE(saved.find("#MP1 [MP_C1U_GAIN_HV,F,10]"), std::string::npos) << saved;
}

// A name typed into the save dialog, then a click on Cancel or the window's
// close: no file, and the next dialog shows the name and recent list as before.
TEST_F(ProgramQt, ANameTypedIntoTheSaveDialogIsDroppedByCancel) {
  namespace fs = std::filesystem;
  struct Shown {
    std::string name;
    std::vector<std::string> recent;
  };
  auto shown = [](int dialog) {
    Shown out;
    out.name = qobject_cast<QLineEdit *>(qt::control_widget(dialog, SAVE_NAME))->text().toStdString();
    auto *list = qobject_cast<QListWidget *>(qt::control_widget(dialog, SAVE_RECENT));
    for (int i = 0; i < list->count(); ++i) out.recent.push_back(list->item(i)->text().toStdString());
    return out;
  };
  auto open_save = [] { QTest::mouseClick(qt::control_widget(trq_opt_panel, OPT_SAVE), Qt::LeftButton); };
  int done = 0;
  auto steps = [&] {
    auto *tabs = qobject_cast<QTabWidget *>(qt::control_widget(trq_panel, MAIN_TAB));
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(1);
    for (const bool close_box : {false, true}) {
      const char *typed = close_box ? "dropped2" : "dropped1";
      Shown first, next;
      if (!step(
              std::string("the save dialog: ") + typed + " typed, then " + (close_box ? "its window closed" : "Cancel clicked"),
              [&](int dialog) {
                first = shown(dialog);
                auto *edit = qobject_cast<QLineEdit *>(qt::control_widget(dialog, SAVE_NAME));
                edit->window()->activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(edit->window()));
                QTest::mouseClick(edit, Qt::LeftButton);
                edit->selectAll();
                QTest::keyClicks(edit, typed);
                if (close_box) qt::panel_widget(dialog)->close();
                else QTest::mouseClick(qt::control_widget(dialog, SAVE_CANCEL), Qt::LeftButton);
              },
              open_save))
        return;
      EXPECT_EQ(platform::ui::model::top_popup(), 0);
      EXPECT_FALSE(fs::exists(data_file(std::string(typed) + ".set")));
      if (!step(
              "the save dialog again: what it shows, then Cancel clicked",
              [&](int dialog) {
                next = shown(dialog);
                QTest::mouseClick(qt::control_widget(dialog, SAVE_CANCEL), Qt::LeftButton);
              },
              open_save))
        return;
      EXPECT_EQ(next.name, first.name) << close_box;
      EXPECT_EQ(next.recent, first.recent) << close_box;
      for (const std::string &r : next.recent) EXPECT_EQ(r.find(typed), std::string::npos) << close_box;
      ++done;
    }
  };
  QTimer::singleShot(0, [&] {
    steps();
    QuitUserInterface(0);
  });
  EXPECT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  EXPECT_EQ(done, 2);
}

}  // namespace
