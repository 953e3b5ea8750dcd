// What the operator types counts when the field is left, and the keys of a
// dialog: Enter for its default button, Escape for its cancel button.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/ui_fixture.h"

using namespace uitest;
namespace headless = platform::ui::headless;

namespace {

using UiTyped = UiTest;

std::vector<std::pair<int, int>> commits() {
  std::vector<std::pair<int, int>> out;
  for (const Ev &e : headless::events())
    if (e.event == EVENT_COMMIT) out.emplace_back(e.panel, e.control);
  return out;
}

std::vector<std::pair<int, int>> user_events() {
  std::vector<std::pair<int, int>> out;
  int p = 0, c = 0;
  while (GetUserEvent(0, &p, &c) == EVENT_COMMIT) out.emplace_back(p, c);
  return out;
}

TEST_F(UiTyped, ATypedTextCommitsBeforeTheClickThatLeavesTheField) {
  const int p = load_all();
  ASSERT_EQ(headless::edit_text(p, ALL_NAME, "new1"), 0);
  headless::clear_events();
  while (GetUserEvent(0, nullptr, nullptr) == EVENT_COMMIT) {
  }
  ASSERT_EQ(headless::click(p, ALL_LOAD), 0);
  const std::vector<Ev> want = {
      {p, ALL_NAME, EVENT_COMMIT, 0, 0},      {p, ALL_LOAD, EVENT_LEFT_CLICK, 35, 65},
      {p, ALL_NAME, EVENT_LOST_FOCUS, 0, 0},  {p, ALL_LOAD, EVENT_GOT_FOCUS, 0, 0},
      {p, ALL_LOAD, EVENT_COMMIT, 0, 0},      {p, ALL_LOAD, EVENT_LEFT_CLICK_UP, 35, 65},
  };
  EXPECT_EQ(sent(), want);
  // A dialog waiting with GetUserEvent takes the name first, then the button.
  EXPECT_EQ(user_events(), (std::vector<std::pair<int, int>>{{p, ALL_NAME}, {p, ALL_LOAD}}));
  std::string name;
  GetCtrlVal(p, ALL_NAME, &name);
  EXPECT_EQ(name, "new1");
}

TEST_F(UiTyped, EveryWayOfLeavingAFieldCommitsWhatWasTyped) {
  const int p = load_all();
  const int other = LoadPanel(0, resource().c_str(), PNL_PAGE);
  ASSERT_GT(other, 0);
  ASSERT_EQ(DisplayPanel(other), 0);
  const struct {
    const char *how;
    std::function<void()> leave;
  } cases[] = {
      {"a click on a button", [p] { headless::click(p, ALL_LOAD); }},
      {"a click on a switch", [p] { headless::click(p, ALL_POWER); }},
      {"the focus moved (Tab)", [p] { headless::focus(p, ALL_COUNT); }},
      {"a key on another control", [p] { headless::key(p, ALL_ENABLE, 'x'); }},
      {"a right click elsewhere", [p] { headless::right_click(p, ALL_GAIN); }},
      {"a value chosen elsewhere", [p] { headless::select_index(p, ALL_MODE, 1); }},
      {"a press on the panel beside its controls", [p] { headless::click(p, 0); }},
      {"a press on another panel", [other] { headless::click(other, 0); }},
      {"the window's close box", [p] { headless::close_panel(p); }},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(headless::edit_text(p, ALL_NAME, std::string("via ") + c.how), 0);
    headless::clear_events();
    c.leave();
    const auto got = commits();
    if (got.empty()) {
      ADD_FAILURE() << "nothing committed: " << c.how;
      continue;
    }
    EXPECT_EQ(got.front(), std::make_pair(p, int(ALL_NAME))) << c.how;
    EXPECT_EQ(std::count(got.begin(), got.end(), std::make_pair(p, int(ALL_NAME))), 1) << c.how;
  }
}

TEST_F(UiTyped, OnlyATextTypedAndNotYetCommittedCommitsOnLeaving) {
  const int p = load_all();
  const struct {
    const char *what;
    std::function<void()> before;
  } cases[] = {
      {"nothing typed", [p] { headless::focus(p, ALL_NAME); }},
      {"typed, then Enter", [p] {
         headless::edit_text(p, ALL_NAME, "Lab");
         headless::key(p, ALL_NAME, VAL_ENTER_VKEY);
       }},
      {"typed, then the program set the field", [p] {
         headless::edit_text(p, ALL_NAME, "Lab");
         SetCtrlVal(p, ALL_NAME, "prog");
       }},
      {"typed, then the program moved the focus", [p] {
         headless::edit_text(p, ALL_NAME, "Lab");
         SetActiveCtrl(p, ALL_COUNT);
       }},
      {"lines typed into a text box", [p] { headless::edit_text(p, ALL_CONTENTS, "a\nb\n"); }},
  };
  for (const auto &c : cases) {
    c.before();
    headless::clear_events();
    headless::click(p, ALL_LOAD);
    EXPECT_EQ(commits(), (std::vector<std::pair<int, int>>{{p, ALL_LOAD}})) << c.what;
    headless::focus(p, ALL_COUNT);
  }
}

TEST_F(UiTyped, ATypedNumberBecomesAValueWhenTheFieldIsLeft) {
  const int p = load_all();  // Gain: float 0..10
  float before = 0, g = 0;
  GetCtrlVal(p, ALL_GAIN, &before);
  ASSERT_EQ(headless::edit_text(p, ALL_GAIN, "7.5"), 0);
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, before);  // not yet the value
  EXPECT_EQ(sent(), (std::vector<Ev>{{p, ALL_GAIN, EVENT_GOT_FOCUS, 0, 0}}));
  headless::clear_events();
  headless::click(p, ALL_LOAD);
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, 7.5f);
  const std::vector<Ev> head = {{p, ALL_GAIN, EVENT_VAL_CHANGED, 0, 0}, {p, ALL_GAIN, EVENT_COMMIT, 0, 0}};
  const std::vector<Ev> got = sent();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(std::vector<Ev>(got.begin(), got.begin() + 2), head);
  // Enter does the same; out of range comes to the nearest end; no number is refused.
  ASSERT_EQ(headless::edit_text(p, ALL_GAIN, "99"), 0);
  headless::clear_events();
  headless::key(p, ALL_GAIN, VAL_ENTER_VKEY);
  EXPECT_EQ(sent(), (std::vector<Ev>{{p, ALL_GAIN, EVENT_KEYPRESS, VAL_ENTER_VKEY, 0}, head[0], head[1]}));
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, 10.0f);
  for (const char *bad : {"", "1,5", "abc", "3x"}) EXPECT_EQ(headless::edit_text(p, ALL_GAIN, bad), UIE_VALUE_INVALID) << bad;
}

// A press on the panel beside the field: the number counts before the panel
// hears of the click, and the focus stays in the field.
TEST_F(UiTyped, APressBesideTheControlsCommitsATypedNumber) {
  const int p = load_all();
  ASSERT_EQ(headless::edit_text(p, ALL_GAIN, "7.5"), 0);
  headless::clear_events();
  ASSERT_EQ(headless::press(p, 0, 5, 6), 0);
  const std::vector<Ev> want = {{p, ALL_GAIN, EVENT_VAL_CHANGED, 0, 0},
                                {p, ALL_GAIN, EVENT_COMMIT, 0, 0},
                                {p, 0, EVENT_LEFT_CLICK, 6, 5}};
  EXPECT_EQ(sent(), want);
  float g = 0;
  GetCtrlVal(p, ALL_GAIN, &g);
  EXPECT_FLOAT_EQ(g, 7.5f);
  EXPECT_EQ(GetActiveCtrl(p), ALL_GAIN);
  headless::clear_events();
  headless::release(p, 0, 5, 6);
  headless::click(p, 0);
  EXPECT_TRUE(commits().empty());  // committed once
}

// A popup's close control is its cancel: a press on it, or on the close box,
// drops what was typed in the popup, as Escape does; any other press in the
// popup, and the same control of a panel that is no popup, commits it
// (here: counts it for the next move of the focus).
TEST_F(UiTyped, APopupsCloseControlDropsWhatWasTyped) {
  const int p = load_all();  // its close control: Close
  const struct {
    const char *how;
    bool popup;
    std::function<void()> act;
    bool commits;
  } cases[] = {
      {"a click on the popup's close control", true, [p] { headless::click(p, ALL_CLOSE); }, false},
      {"the popup's close box", true, [p] { headless::close_panel(p); }, false},
      {"a click on another button of the popup", true, [p] { headless::click(p, ALL_LOAD); }, true},
      {"a press beside the popup's controls", true, [p] { headless::click(p, 0); }, true},
      {"a click on the close control of a window", false, [p] { headless::click(p, ALL_CLOSE); }, true},
      // A close box that does nothing leaves the text to the next move of the focus.
      {"the popup's close box, its close control dimmed", true, [p] {
         SetCtrlAttribute(p, ALL_CLOSE, ATTR_DIMMED, 1);
         headless::close_panel(p);
         SetCtrlAttribute(p, ALL_CLOSE, ATTR_DIMMED, 0);
       }, true},
  };
  for (const auto &c : cases) {
    SetCtrlVal(p, ALL_GAIN, 1.0f);
    ASSERT_EQ(DisplayPanel(p), 0);  // a popup removed is hidden
    if (c.popup) {
      ASSERT_EQ(InstallPopup(p), 0) << c.how;
    }
    ASSERT_EQ(headless::edit_text(p, ALL_NAME, "typed"), 0);
    ASSERT_EQ(headless::edit_text(p, ALL_GAIN, "7.5"), 0);  // the focus leaves the name, which commits
    headless::clear_events();
    c.act();
    headless::focus(p, ALL_COUNT);  // a later move of the focus does not bring it back
    const auto got = commits();
    EXPECT_EQ(std::count(got.begin(), got.end(), std::make_pair(p, int(ALL_GAIN))), c.commits ? 1 : 0) << c.how;
    float g = 0;
    GetCtrlVal(p, ALL_GAIN, &g);
    EXPECT_FLOAT_EQ(g, c.commits ? 7.5f : 1.0f) << c.how;
    if (c.popup) RemovePopup(0);
  }
}

TEST_F(UiTyped, WhatWasTypedInAPopupGoesWithIt) {
  load_all();
  const int page = LoadPanel(0, resource().c_str(), PNL_PAGE);
  ASSERT_EQ(InstallPopup(page), 0);
  ASSERT_EQ(headless::edit_text(page, 3, "typed"), 0);
  ASSERT_EQ(RemovePopup(0), 0);
  ASSERT_EQ(InstallPopup(page), 0);
  headless::clear_events();
  headless::click(page, 2);
  EXPECT_EQ(commits(), (std::vector<std::pair<int, int>>{{page, 2}}));
  RemovePopup(0);
}

// The quit popup: Quit has the Enter shortcut (the default button), Cancel Escape.
class UiDialogKeys : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    main_ = load_all();
    popup_ = LoadPanel(main_, resource().c_str(), PNL_POPUP);
    ASSERT_GT(popup_, 0);
    SetCtrlAttribute(popup_, POPUP_QUIT, ATTR_SHORTCUT_KEY, VAL_ENTER_VKEY);
    SetCtrlAttribute(popup_, POPUP_CANCEL, ATTR_SHORTCUT_KEY, VAL_ESC_VKEY);
    SetCtrlVal(popup_, POPUP_SAVE, 1);
    ASSERT_EQ(InstallPopup(popup_), 0);
    headless::clear_events();
  }
  int box() const {
    int v = -1;
    GetCtrlVal(popup_, POPUP_SAVE, &v);
    return v;
  }
  int main_ = 0, popup_ = 0;
};

TEST_F(UiDialogKeys, EnterPressesTheDefaultButtonUnlessTheFocusedControlTakesEnter) {
  const struct {
    int focused;
    int key;
    int committed;
  } cases[] = {
      {POPUP_SAVE, VAL_ENTER_VKEY, POPUP_QUIT},   // the box keeps its value
      {0, VAL_ENTER_VKEY, POPUP_QUIT},            // nothing focused
      {POPUP_CANCEL, VAL_ENTER_VKEY, POPUP_CANCEL},  // a focused button presses itself
      {POPUP_SAVE, VAL_ESC_VKEY, POPUP_CANCEL},
      {POPUP_QUIT, VAL_ESC_VKEY, POPUP_CANCEL},
      {0, VAL_ESC_VKEY, POPUP_CANCEL},
  };
  for (const auto &c : cases) {
    headless::clear_events();
    if (c.focused != 0) {
      ASSERT_EQ(headless::focus(popup_, c.focused), 0);
    }
    headless::clear_events();
    EXPECT_EQ(headless::key(popup_, c.focused, c.key), 0);
    EXPECT_EQ(commits(), (std::vector<std::pair<int, int>>{{popup_, c.committed}}))
        << "focus " << c.focused << " key " << c.key;
    EXPECT_EQ(box(), 1);
  }
  // Space still ticks the box.
  headless::key(popup_, POPUP_SAVE, ' ');
  EXPECT_EQ(box(), 0);
}

TEST_F(UiDialogKeys, AFieldOrTextBoxKeepsItsEnterBesideADefaultButton) {
  RemovePopup(0);
  SetCtrlAttribute(main_, ALL_CLOSE, ATTR_SHORTCUT_KEY, VAL_ENTER_VKEY);
  const struct {
    int focused;
    std::vector<std::pair<int, int>> want;
  } cases[] = {
      {ALL_NAME, {{main_, ALL_NAME}}},   // Enter commits the field only
      {ALL_COUNT, {{main_, ALL_COUNT}}},
      {ALL_CONTENTS, {}},                // a new line
      {ALL_RECENT, {{main_, ALL_RECENT}}},
      {ALL_LOAD, {{main_, ALL_LOAD}}},
      {ALL_ENABLE, {{main_, ALL_CLOSE}}},  // a check box has no Enter of its own
      {ALL_POWER, {{main_, ALL_CLOSE}}},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(headless::focus(main_, c.focused), 0);
    headless::clear_events();
    headless::key(main_, c.focused, VAL_ENTER_VKEY);
    EXPECT_EQ(commits(), c.want) << "focus " << c.focused;
  }
}

}  // namespace
