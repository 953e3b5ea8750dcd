// Panel pictures saved in the format asked for, whatever the file's name.
#include <gtest/gtest.h>

#include <string>

#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "platform/ui_qt/qt_start.h"
#include "support/Util_fun_titles.h"
#include "tests/testsupport/testsupport.h"

namespace {

class PanelPicture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_ui_qt";
    static char *argv[] = {name, nullptr};
    ASSERT_TRUE(platform::ui_qt::start(argc, argv, true));
  }
  static void TearDownTestSuite() { platform::ui_qt::stop(); }
  void TearDown() override { platform::ui::headless::reset(); }
};

TEST_F(PanelPicture, FormatDecidesTheEncoding) {
  const int p = NewPanel(0, "Picture", 50, 50, 120, 160);
  NewCtrl(p, CTRL_COMMAND_BUTTON, 0, "OK", 10, 10, 24, 80);
  DisplayPanel(p);
  testsupport::TempDir dir;
  struct Case {
    int format;
    const char *file;
    std::string magic;
  };
  const Case cases[] = {
      {1, "shot.img", "\xFF\xD8\xFF"},
      {2, "shot.jpg", "\x89PNG"},
      {2, "shot.PNG", "\x89PNG"},
      {7, "shot", "BM"},
  };
  for (const Case &c : cases) {
    const std::string path = dir.file(c.file);
    ASSERT_EQ(MySavePanelDisplayToFile(p, 0, 0, 0, 0, 0, path.c_str(), c.format), 0) << c.file;
    EXPECT_EQ(testsupport::read_file(path).substr(0, c.magic.size()), c.magic) << c.file;
  }
  EXPECT_EQ(MySavePanelDisplayToFile(p, 0, 0, 0, 0, 0, dir.file("no/dir/x.png").c_str(), 2), UIE_FAILURE);
  EXPECT_EQ(MySavePanelDisplayToFile(p, 0, 0, 0, 0, 0, "", 2), UIE_BAD_ARGUMENT);
}

}  // namespace
