#include <gtest/gtest.h>

#include "platform/ui/popups.h"

using platform::ui::headless::shown;

TEST(Popups, ScriptedAnswersAndRecord) {
  platform::ui::headless::clear();
  platform::ui::headless::script_answers({1});
  EXPECT_EQ(GenericMessagePopup("Error", "     text", "Cancel", "Continue", nullptr, nullptr, 0, 0, 2, 2, 2), 1);
  // Unscripted: the Enter button.
  EXPECT_EQ(GenericMessagePopup("Warning", "x", "Cancel", "Continue", "", nullptr, 0, 0, 2, 2, 2), 2);
  EXPECT_EQ(MessagePopup("Note", "hello"), 0);
  ASSERT_EQ(shown().size(), 3u);
  EXPECT_EQ(shown()[0].title, "Error");
  EXPECT_EQ(shown()[0].buttons, (std::vector<std::string>{"Cancel", "Continue"}));
  EXPECT_EQ(shown()[1].answer, 2);
  EXPECT_EQ(shown()[2].kind, "message");
  EXPECT_EQ(GenericMessagePopup("t", "m", nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0), -1);
}

TEST(Popups, CursorIsRecordedWhileShown) {
  platform::ui::headless::clear();
  int old = 0;
  GetMouseCursor(&old);
  SetMouseCursor(-1);
  MessagePopup("a", "b");
  SetMouseCursor(old);
  EXPECT_EQ(shown().back().cursor_while_shown, -1);
}
