// The confirmation, file and directory popups without a view.
#include <string>

#include "tests/platform/ui_fixture.h"

using platform::ui::headless::shown;
namespace headless = platform::ui::headless;

namespace {

using UiPopups = uitest::UiTest;

TEST_F(UiPopups, ConfirmAnswersYesOrNo) {
  headless::script_answers({0, 5});
  EXPECT_EQ(ConfirmPopup("", "File exists - Overwrite ?"), 0);
  EXPECT_EQ(ConfirmPopup("", "again"), 1);  // any other answer is yes
  EXPECT_EQ(ConfirmPopup("", "unscripted"), 1);  // its Enter button
  ASSERT_EQ(shown().size(), 3u);
  EXPECT_EQ(shown()[0].kind, "confirm");
  EXPECT_EQ(shown()[0].message, "File exists - Overwrite ?");
  EXPECT_EQ(shown()[0].buttons, (std::vector<std::string>{"Yes", "No"}));
}

TEST_F(UiPopups, FileSelectTellsExistingFromNew) {
  testsupport::TempDir dir;
  const std::string existing = dir.write("run1.set", "x");
  char path[260] = "garbage";
  headless::script_path(existing);
  EXPECT_EQ(FileSelectPopup(dir.path().c_str(), "*.set", "*.set", "Select a File to Load", VAL_LOAD_BUTTON, 0, 1,
                            1, 0, path),
            VAL_EXISTING_FILE_SELECTED);
  EXPECT_EQ(std::string(path), existing);
  headless::script_path(dir.file("new.set"));
  EXPECT_EQ(FileSelectPopup(dir.path().c_str(), "*.set", "*.set", "Select a File to Save", VAL_SAVE_BUTTON, 0, 1,
                            1, 0, path),
            VAL_NEW_FILE_SELECTED);
  EXPECT_EQ(std::string(path), dir.file("new.set"));
  // Cancelled, unscripted, and a default that is only a pattern: nothing.
  headless::script_answers({0, 1});
  EXPECT_EQ(FileSelectPopup(dir.path().c_str(), "*.set", "", "t", 0, 0, 0, 1, 0, path), VAL_NO_FILE_SELECTED);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(FileSelectPopup(dir.path().c_str(), "*.set", "", "t", 0, 0, 0, 1, 0, path), VAL_NO_FILE_SELECTED);
  EXPECT_EQ(FileSelectPopup(dir.path().c_str(), "*.set", "", "t", 0, 0, 0, 1, 0, path), VAL_NO_FILE_SELECTED);
  // The default name is taken when it is a plain name.
  headless::script_answers({1});
  EXPECT_EQ(FileSelectPopup(dir.path().c_str(), "run1.set", "*.set", "t", 0, 0, 0, 1, 0, path),
            VAL_EXISTING_FILE_SELECTED);
  EXPECT_EQ(std::string(path), existing);
  // A path that would not fit the caller's 260 characters is refused.
  headless::script_path("/" + std::string(300, 'a'));
  EXPECT_LT(FileSelectPopup("/", "*.set", "", "t", 0, 0, 0, 1, 0, path), 0);
  EXPECT_STREQ(path, "");
  const auto &last = shown().back();
  EXPECT_EQ(last.kind, "file");
  EXPECT_EQ(shown()[0].title, "Select a File to Load");
  EXPECT_EQ(shown()[0].buttons[0], "Load");
  EXPECT_TRUE(shown()[0].restrict_extension);
  EXPECT_EQ(FileSelectPopup("/", "*", "", "t", 0, 0, 0, 1, 0, nullptr), -1);
}

TEST_F(UiPopups, DirSelect) {
  char path[260];
  headless::script_path("/data/new");
  EXPECT_EQ(DirSelectPopup("/data", "Select Setup Files Directory", 1, 1, path), VAL_DIRECTORY_SELECTED);
  EXPECT_STREQ(path, "/data/new");
  headless::script_answers({0});
  EXPECT_EQ(DirSelectPopup("/data", "t", 1, 1, path), VAL_NO_DIRECTORY_SELECTED);
  EXPECT_EQ(DirSelectPopup("/data", "t", 1, 1, path), VAL_NO_DIRECTORY_SELECTED);
  EXPECT_EQ(shown()[0].kind, "dir");
  EXPECT_TRUE(shown()[0].allow_make_directory);
  EXPECT_EQ(AddToFilePopupDirHistory("/a"), 0);
  EXPECT_EQ(AddToFilePopupDirHistory("/b"), 0);
  EXPECT_EQ(AddToFilePopupDirHistory("/a"), 0);
  EXPECT_EQ(headless::dir_history(), (std::vector<std::string>{"/a", "/b"}));
}

}  // namespace
