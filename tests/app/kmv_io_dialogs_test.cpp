// The load and save dialogs as the operator (or a request from outside) drives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/kmv_io_dialogs.h"
#include "app/kmv_io_files.h"
#include "app/kmv_io_globals.h"
#include "app/kmv_io_ident.h"
#include "app/kmv_meas.h"
#include "app/kmv_syst.h"
#include "platform/ui/headless.h"
#include "platform/ui/popups.h"
#include "platform/ui/ui.h"
#include "platform/win/progdir.h"
#include "support/Qv_file.h"
#include "support/Util_fun.h"
#include "tests/app/app_fixture.h"
#include "tests/app/setup_files.h"
#include "tests/support/string_lists.h"

using testing::HasSubstr;
namespace headless = platform::ui::headless;

namespace {

class SetupDialogs : public apptest::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    setenv("QV_REGISTRY_DIR", reg.path().c_str(), 1);
    platform::set_program_dir(testsupport::source_path("resources"));
    headless::reset();
    platform::ui::headless::clear();
    ASSERT_GE(start_emulation(1), 0);
    snprintf(data_dir, sizeof data_dir, "%s/", dir_.path().c_str());
    snprintf(setup_file_name, sizeof setup_file_name, "%s", dir_.file("trq_auto.set").c_str());
    cmd_load_file = 0;
  }
  void TearDown() override {
    headless::reset();
    platform::ui::headless::clear();
    platform::set_program_dir("");
    unsetenv("QV_REGISTRY_DIR");
    cmd_load_file = 0;
    AppFixture::TearDown();
  }
  // A setup file with the gain of connector 1 at gain.
  std::string saved(const std::string &name, float gain) {
    const float before = read_float_parameter(0, 4);
    set_usbmodule_parameter(0, 4, float_value(gain));
    const std::string path = dir_.file(name);
    EXPECT_EQ(save_usb(path.c_str(), nullptr), 0);
    set_usbmodule_parameter(0, 4, float_value(before));
    return path;
  }
  // The panel of the dialog that is open.
  static int dialog() { return GetActivePanel(); }
  std::string text_box(int panel, int control) {
    int n = 0;
    GetNumTextBoxLines(panel, control, &n);
    std::string out;
    for (int i = 0; i < n; ++i) {
      char line[300] = "";
      GetTextBoxLine(panel, control, i, line);
      out += std::string(line) + "\n";
    }
    return out;
  }

  testsupport::TempDir reg;
};

TEST_F(SetupDialogs, ALoadFromOutsideRunsWithoutTheOperator) {
  snprintf(client_fname, sizeof client_fname, "%s", saved("Beam.SET", 33.0f).c_str());
  cmd_load_file = 1;
  EXPECT_EQ(manage_load_usb_panel(0), 1);
  EXPECT_EQ(read_float_parameter(0, 4), 33.0f);
  EXPECT_STREQ(setup_name, "Beam.SET");
  EXPECT_EQ(error_log(), "");
}

TEST_F(SetupDialogs, ALoadFromOutsideOfAnotherKindOfFileDoesNothing) {
  for (const char *name : {"notes.txt", "noext"}) {
    snprintf(client_fname, sizeof client_fname, "%s", dir_.write(name, "x").c_str());
    cmd_load_file = 1;
    EXPECT_EQ(manage_load_usb_panel(0), 0) << name;
  }
  EXPECT_TRUE(headless::shown().empty());
  EXPECT_EQ(GetActivePanel(), 0);
  EXPECT_EQ(error_log(), "");
}

// With nobody at the dialog, a .set file that cannot be loaded is reported,
// once and by what is wrong with it, instead of ending in silence, and
// nothing is loaded.
TEST_F(SetupDialogs, ALoadFromOutsideThatCannotBeDoneIsReported) {
  const float gain = read_float_parameter(0, 4);
  const std::string whole = testsupport::read_file(saved("whole.set", 61.0f));
  const struct {
    const char *name;
    std::string content;  // empty: no such file
    std::string report;
  } cases[] = {
      {"junk.set", "junk junk\n", "INV_SETUP %s is not a setup file of this program"},
      {"missing.set", "", "BFILE_NOTEXIST File does not exist: %s"},
      {"cut.set", whole.substr(0, whole.size() - 40), "SETUP_DAMAGED Setup file %s is damaged"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.content.empty() ? dir_.file(c.name) : dir_.write(c.name, c.content);
    snprintf(client_fname, sizeof client_fname, "%s", path.c_str());
    cmd_load_file = 1;
    const std::string before = error_log();
    manage_load_usb_panel(0);
    const std::string log = error_log().substr(before.size());
    std::string report = c.report;
    report.replace(report.find("%s"), 2, path);
    EXPECT_THAT(log, HasSubstr(report));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(read_float_parameter(0, 4), gain);
  }
}

TEST_F(SetupDialogs, TheOperatorTypesANameWithoutExtension) {
  saved("run7.set", 44.0f);
  int load_dimmed = -1;
  headless::later([&] {
    const int p = dialog();
    GetCtrlAttribute(p, LOAD_LOAD, ATTR_DIMMED, &load_dimmed);  // trq_auto.set does not exist
    EXPECT_THAT(text_box(p, LOAD_INFO), HasSubstr("Selected file doesn't exist"));
    headless::set_value(p, LOAD_NAME, std::string("run7"));
  });
  headless::later([&] {
    const int p = dialog();
    EXPECT_THAT(text_box(p, LOAD_INFO), HasSubstr("Author : System"));
    char name[300] = "";
    GetCtrlVal(p, LOAD_NAME, name);
    EXPECT_STREQ(name, "run7.set");
    EXPECT_EQ(headless::click(p, LOAD_LOAD), 0);
  });
  EXPECT_EQ(manage_load_usb_panel(0), 1);
  EXPECT_EQ(load_dimmed, 1);
  EXPECT_EQ(read_float_parameter(0, 4), 44.0f);
  EXPECT_EQ(std::string(setup_file_name), dir_.file("run7.set"));
}

TEST_F(SetupDialogs, ALoadOfAFileThatIsNoSetupFileStaysDimmed) {
  dir_.write("junk.set", "junk");
  headless::later([&] { headless::set_value(dialog(), LOAD_NAME, std::string("junk.set")); });
  headless::later([&] {
    const int p = dialog();
    EXPECT_THAT(text_box(p, LOAD_INFO), HasSubstr("Selected file has not correct TRQ format"));
    EXPECT_EQ(headless::click(p, LOAD_LOAD), UIE_NOT_OPERABLE);
    headless::click(p, LOAD_CANCEL);
  });
  EXPECT_EQ(manage_load_usb_panel(0), 0);
  EXPECT_EQ(error_log(), "");
}

TEST_F(SetupDialogs, ANewNameIsSavedAtOnce) {
  set_usbmodule_parameter(0, 4, float_value(12.5f));
  headless::later([&] {
    const int p = dialog();
    headless::set_value(p, SAVE_NAME, std::string("fresh"));
  });
  headless::later([&] {
    const int p = dialog();
    headless::set_value(p, SAVE_AUTHOR, std::string("Jo"));
    std::string contents;
    for (int i = 1; i <= 15; ++i) contents += (i == 3 ? std::string() : "line " + std::to_string(i)) + "\n";
    SetCtrlVal(p, SAVE_CONTENTS, contents);
    EXPECT_EQ(headless::click(p, SAVE_SAVE), 0);
  });
  manage_save_usb_panel(0);
  EXPECT_TRUE(headless::shown().empty());  // no question for a new file
  const auto info = setup_test::info_of(dir_.file("fresh.set"));
  ASSERT_GE(info.size(), 8u);
  EXPECT_EQ(info[0], "Title : fresh");
  EXPECT_EQ(info[5], "Author : Jo");
  EXPECT_EQ(info[7], "Contents : line 1");
  // Twelve lines of the box, the empty one left out, none lost behind it.
  EXPECT_EQ(std::vector<std::string>(info.begin() + 8, info.end()),
            (std::vector<std::string>{"line 2", "line 4", "line 5", "line 6", "line 7", "line 8", "line 9",
                                      "line 10", "line 11", "line 12"}));
}

TEST_F(SetupDialogs, AnExistingFileIsOverwrittenOnlyAfterAYes) {
  const std::string path = saved("old.set", 10.0f);
  const std::string before = testsupport::read_file(path);
  snprintf(setup_file_name, sizeof setup_file_name, "%s", path.c_str());
  headless::later([&] {
    const int p = dialog();
    char author[200] = "";
    GetCtrlVal(p, SAVE_AUTHOR, author);
    EXPECT_STREQ(author, "System");  // filled from the file
    platform::ui::headless::script_answers({0});
    headless::click(p, SAVE_SAVE);
  });
  headless::later([&] { headless::click(dialog(), SAVE_CANCEL); });
  manage_save_usb_panel(0);
  ASSERT_EQ(headless::shown().size(), 1u);
  EXPECT_EQ(headless::shown()[0].message, "File exists - Overwrite ?");
  EXPECT_EQ(testsupport::read_file(path), before);

  platform::ui::headless::clear();
  set_usbmodule_parameter(0, 4, float_value(20.0f));
  headless::later([&] {
    platform::ui::headless::script_answers({1});
    headless::click(dialog(), SAVE_SAVE);
  });
  manage_save_usb_panel(0);
  set_usbmodule_parameter(0, 4, float_value(0.0f));
  ASSERT_EQ(load_usb(path.c_str(), 3, 1), 0);
  EXPECT_EQ(read_float_parameter(0, 4), 20.0f);
}

TEST_F(SetupDialogs, ARecentFileIsChosenFromTheList) {
  const std::string a = saved("a.set", 1.0f), b = saved("b.set", 2.0f);
  // Both go to the head of the recent list when shown.
  for (const std::string &p : {a, b}) {
    snprintf(setup_file_name, sizeof setup_file_name, "%s", p.c_str());
    headless::later([&] { headless::click(dialog(), LOAD_CANCEL); });
    manage_load_usb_panel(0);
  }
  headless::later([&] {
    const int p = dialog();
    char label[300] = "";
    GetLabelFromIndex(p, LOAD_RECENT, 1, label);
    EXPECT_EQ(std::string(label), a);
    headless::select_index(p, LOAD_RECENT, 1);
    headless::commit(p, LOAD_RECENT);
  });
  headless::later([&] { headless::click(dialog(), LOAD_LOAD); });
  EXPECT_EQ(manage_load_usb_panel(0), 1);
  EXPECT_EQ(read_float_parameter(0, 4), 1.0f);
}

// Cancel, clicked or the window's close box, drops a name typed and not
// committed, as Escape does: no file, the recent list and the next dialog as before.
TEST_F(SetupDialogs, ANameTypedAndThenCancelledIsDropped) {
  const struct {
    const char *what;
    bool save;
    bool close_box;
    const char *typed;
  } cases[] = {
      {"save, Cancel clicked", true, false, "dropped1"},
      {"save, close box", true, true, "dropped2"},
      {"load, Cancel clicked", false, false, "dropped3"},
      {"load, close box", false, true, "dropped4"},
  };
  for (const auto &c : cases) {
    const int name_ctrl = c.save ? int(SAVE_NAME) : int(LOAD_NAME);
    const int recent_ctrl = c.save ? int(SAVE_RECENT) : int(LOAD_RECENT);
    const int cancel_ctrl = c.save ? int(SAVE_CANCEL) : int(LOAD_CANCEL);
    auto open = [&] {
      if (c.save) manage_save_usb_panel(0);
      else manage_load_usb_panel(0);
    };
    auto shown = [&](std::string *name, std::vector<std::string> *recent) {
      char text[300] = "";
      GetCtrlVal(dialog(), name_ctrl, text);
      *name = text;
      int n = 0;
      GetNumListItems(dialog(), recent_ctrl, &n);
      recent->clear();
      for (int i = 0; i < n; ++i) {
        GetLabelFromIndex(dialog(), recent_ctrl, i, text);
        recent->emplace_back(text);
      }
    };
    const std::string before = setup_file_name;
    std::string name, name_after;
    std::vector<std::string> recent, recent_after;
    headless::later([&] {
      shown(&name, &recent);
      ASSERT_EQ(headless::edit_text(dialog(), name_ctrl, c.typed), 0);
      if (c.close_box) headless::close_panel(dialog());
      else headless::click(dialog(), cancel_ctrl);
    });
    open();
    EXPECT_FALSE(std::filesystem::exists(dir_.file(std::string(c.typed) + ".set"))) << c.what;
    EXPECT_EQ(std::string(setup_file_name), before) << c.what;
    headless::later([&] {
      shown(&name_after, &recent_after);
      headless::click(dialog(), cancel_ctrl);
    });
    open();
    EXPECT_EQ(name_after, name) << c.what;
    EXPECT_EQ(recent_after, recent) << c.what;
    for (const std::string &r : recent_after) EXPECT_EQ(r.find(c.typed), std::string::npos) << c.what;
  }
}

TEST_F(SetupDialogs, FileInformationOnTheSaveDialog) {
  const int p = LoadPanel(0, KMV_MEAS_UIR, PANEL_SAVE);
  ASSERT_GT(p, 0);
  std::string texts[IDENT_VALUE_COUNT];
  char *values[IDENT_VALUE_COUNT] = {};
  texts[1] = "3";
  texts[5] = "Ann";
  texts[6] = "Lab";
  texts[7] = "first";
  texts[8] = "second";
  for (int i : {1, 5, 6, 7, 8}) values[i] = texts[i].data();
  const std::string path = dir_.file("info.set");
  ASSERT_EQ(save_usb(path.c_str(), values), 0);

  int ok = 5;
  get_file_info(1, dir_.file("*.set").c_str(), p, &ok);
  EXPECT_EQ(ok, 5);  // a pattern names no file
  get_file_info(1, dir_.file("none.set").c_str(), p, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(text_box(p, SAVE_INFO), "Selected file doesn't exist\n");
  get_file_info(1, path.c_str(), p, &ok);
  EXPECT_EQ(ok, 1);
  char version[200] = "", author[200] = "", company[200] = "";
  GetCtrlVal(p, SAVE_VERSION, version);
  GetCtrlVal(p, SAVE_AUTHOR, author);
  GetCtrlVal(p, SAVE_COMPANY, company);
  EXPECT_STREQ(version, "3");
  EXPECT_STREQ(author, "Ann");
  EXPECT_STREQ(company, "Lab");
  EXPECT_EQ(text_box(p, SAVE_CONTENTS), "first\nsecond\n");
  EXPECT_THAT(text_box(p, SAVE_INFO), HasSubstr("Contents : first\n                second\n"));
  get_file_info(0, path.c_str(), p, &ok);
  EXPECT_EQ(ok, 1);
  get_file_info(0, dir_.write("bad.set", "bad").c_str(), p, &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(text_box(p, SAVE_INFO), "Selected file has not correct TRQ format\n");
  EXPECT_EQ(setup_file->state, FILE_STATE_EMPTY);
}

// A dialog that cannot be shown is reported and forgotten; the next one is a fresh panel.
TEST_F(SetupDialogs, ADialogThatCannotBeShownIsNotKept) {
  int first = 0;
  headless::later([&] {
    first = dialog();
    headless::click(first, LOAD_CANCEL);
  });
  EXPECT_EQ(manage_load_usb_panel(0), 0);
  ASSERT_GT(first, 0);
  ASSERT_EQ(InstallPopup(first), 0);  // already a popup: showing it again fails
  EXPECT_EQ(manage_load_usb_panel(0), 0);
  EXPECT_THAT(error_log(), HasSubstr("DISP_PANEL Cannot display panel LOAD"));
  EXPECT_EQ(headless::pending_actions(), 0u);
  int second = 0;
  headless::later([&] {
    second = dialog();
    headless::click(second, LOAD_CANCEL);
  });
  EXPECT_EQ(manage_load_usb_panel(0), 0);
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
}

TEST_F(SetupDialogs, APanelThatCannotBeLoadedIsReported) {
  platform::set_program_dir(dir_.path());  // no resource file beside the program
  testsupport::TempDir elsewhere;
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(elsewhere.path());
  EXPECT_EQ(manage_load_usb_panel(0), 0);
  manage_save_usb_panel(0);
  std::filesystem::current_path(cwd);
  EXPECT_THAT(error_log(), HasSubstr("LOAD_PANEL Cannot load panel LOAD"));
  EXPECT_THAT(error_log(), HasSubstr("LOAD_PANEL Cannot load panel SAVE"));
}

}  // namespace
