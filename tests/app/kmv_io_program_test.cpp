// Setup files on the whole program's roads: the automatic file from one run
// to the next as the module count changes, and start files that are not there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/kmv_io_files.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "app/kmv_syst_settings.h"
#include "app/kmvusb_main.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "tests/app/program_fixture.h"

using testing::HasSubstr;
using testing::Not;
namespace ui = platform::ui::headless;

namespace {

class ProgramSetupFiles : public apptest::ProgramFixture {
 protected:
  // Quits through the Quit button, saving the automatic file.
  void quit_saving() {
    later([] { ui::click(trq_panel, MAIN_QUIT); });
    later([] { ui::click(GetActivePanel(), QUIT_QUIT); });
  }
  std::string auto_file() const { return testsupport::read_file(data_file("trq_auto.set")); }
};

// Two modules, quit, one module: the first block comes back to module 1 and
// the next quit writes it under #MP1 again, not module 2's settings.
TEST_F(ProgramSetupFiles, FromTwoModulesToOneTheFirstBlockComesBack) {
  later([] {
    ASSERT_EQ(no_of_active_kmv, 2);
    set_usbmodule_parameter(st_trq, 4, float_value(11.5f));   // gain HV, connector 1
    set_usbmodule_parameter(st_trq, 6, float_value(1.25f));   // cooler voltage
    set_usbmodule_parameter(st_trq, 29, int_value(3));        // digital outputs
    set_usbmodule_parameter(nd_trq, 4, float_value(77.0f));
    set_usbmodule_parameter(nd_trq, 6, float_value(4.5f));
    set_usbmodule_parameter(nd_trq, 29, int_value(200));
  });
  quit_saving();
  ASSERT_EQ(run({"-s1", "-m2", "-info", "-silent"}), 0);
  ASSERT_THAT(auto_file(), HasSubstr("#MP1 [MP_C1U_GAIN_HV,F,11.5]"));
  ASSERT_THAT(auto_file(), HasSubstr("#MP2 [MP_C1U_GAIN_HV,F,77]"));

  later([] {
    ASSERT_EQ(no_of_active_kmv, 1);
    EXPECT_EQ(read_float_parameter(st_trq, 4), 11.5f);
    EXPECT_EQ(read_float_parameter(st_trq, 6), 1.25f);
    EXPECT_EQ(read_int_parameter(st_trq, 29), 3);
  });
  quit_saving();
  ASSERT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  const std::string saved = auto_file();
  EXPECT_THAT(saved, HasSubstr("#MP1 [MP_C1U_GAIN_HV,F,11.5]"));
  EXPECT_THAT(saved, HasSubstr("#MP1 [MP_C1U_COOLVOLT,F,1.25]"));
  EXPECT_THAT(saved, HasSubstr("#MP1 [MP_C5U_DIGOUT,I,3]"));
  EXPECT_THAT(saved, Not(HasSubstr("#MP2")));
  EXPECT_EQ(run_log(), "");
}

// Two modules on the bus, quit, then only the second one: it becomes M1 and
// takes the first block, saved from the other module, and the operator hears
// so once, with both serial numbers. Its own file at the next start says nothing.
TEST_F(ProgramSetupFiles, TheSecondModuleAloneTakesTheFirstBlockAndHearsWhose) {
  two_on_the_bus();
  later([] {
    ASSERT_EQ(no_of_active_kmv, 2);
    set_usbmodule_parameter(st_trq, 4, float_value(11.5f));  // gain HV, connector 1
    set_usbmodule_parameter(st_trq, 29, int_value(3));       // digital outputs
    set_usbmodule_parameter(nd_trq, 4, float_value(77.0f));
    set_usbmodule_parameter(nd_trq, 29, int_value(200));
  });
  quit_saving();
  ASSERT_EQ(run({"-info", "-silent"}), 0);
  ASSERT_THAT(auto_file(), HasSubstr("#MP1 [MP_SNU,S,KM0010]"));
  ASSERT_THAT(auto_file(), HasSubstr("#MP2 [MP_SNU,S,KM0020]"));
  ASSERT_EQ(run_log(), "");

  simtest::reset_all();
  bus().unplug("FTA");
  later([] {
    ASSERT_EQ(no_of_active_kmv, 1);
    EXPECT_EQ(st_trq, 0);
    EXPECT_STREQ(usbmod_info[st_trq].serial_no, "KM0020");
    EXPECT_EQ(read_float_parameter(st_trq, 4), 11.5f);
    EXPECT_EQ(read_int_parameter(st_trq, 29), 3);
  });
  quit_saving();
  ASSERT_EQ(run({"-info", "-silent"}), 0);
  const std::string log = run_log();
  EXPECT_THAT(log, HasSubstr("SETUP_OTHER_MODULE Setup values saved from module S/N KM0010 were applied to M1 "
                             "(S/N KM0020)"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  const std::string saved = auto_file();
  EXPECT_THAT(saved, HasSubstr("#MP1 [MP_SNU,S,KM0020]"));
  EXPECT_THAT(saved, HasSubstr("#MP1 [MP_C1U_GAIN_HV,F,11.5]"));
  EXPECT_THAT(saved, Not(HasSubstr("#MP2")));

  simtest::reset_all();
  later([] { quit_on_request(); });
  ASSERT_EQ(run({"-info", "-silent"}), 0);
  EXPECT_EQ(run_log(), log);
}

TEST_F(ProgramSetupFiles, AStartFileThatIsNotThereIsReportedAsMissing) {
  const std::string missing = home_.file("Nowhere");
  later([] { quit_on_request(); });
  ASSERT_EQ(run({"-s1", "-m1", "-info", "-silent", "-l" + missing}), 0);
  EXPECT_THAT(run_log(), HasSubstr("BFILE_NOTEXIST File does not exist: " + missing + ".set"));
}

// A relative name after -l is looked for in the program's directory.
TEST_F(ProgramSetupFiles, ARelativeStartFileIsTakenFromTheProgramsDirectory) {
  later([&] {
    set_usbmodule_parameter(st_trq, 4, float_value(42.0f));
    EXPECT_EQ(save_usb(prog_.file("rel.set").c_str(), nullptr), 0);
    quit_on_request();
  });
  ASSERT_EQ(run({"-s1", "-m1", "-info", "-silent"}), 0);
  std::filesystem::remove(data_file("trq_auto.set"));
  later([] {
    EXPECT_EQ(read_float_parameter(st_trq, 4), 42.0f);
    quit_on_request();
  });
  ASSERT_EQ(run({"-s1", "-m1", "-info", "-silent", "-lrel"}), 0);
  EXPECT_EQ(run_log(), "");
}

}  // namespace
