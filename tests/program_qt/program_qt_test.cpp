// The program with its real Qt windows (offscreen): an operator's click
// reaches the simulated module's register.
#include <QApplication>
#include <QTest>
#include <QTimer>

#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_panels.h"
#include "app/kmv_syst_settings.h"
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

}  // namespace
