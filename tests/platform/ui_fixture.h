#pragma once
// The test resource, its callbacks and a clean library for each test.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "tests/testsupport/testsupport.h"

namespace uitest {

// Panels and controls of tests/platform/data/ui_test.uir.
enum { PNL_ALL = 1, PNL_POPUP = 2, PNL_PAGE = 3 };
enum {
  ALL_LOAD = 2, ALL_POWER = 3, ALL_ENABLE = 4, ALL_COUNT = 5, ALL_LIMIT = 6, ALL_GAIN = 7, ALL_VOLT = 8,
  ALL_NAME = 9, ALL_STATUS = 10, ALL_CONTENTS = 11, ALL_OVERLOAD = 12, ALL_MODE = 13, ALL_RECENT = 14,
  ALL_TAB = 15, ALL_TIMER = 16, ALL_DIR = 17, ALL_DECORATION = 18, ALL_CLOSE = 19,
};
enum { POPUP_QUIT = 2, POPUP_CANCEL = 3, POPUP_SAVE = 4 };
enum { MB_MAIN = 1, MENU_FILE = 1, ITEM_SCALE = 2, ITEM_QUIT = 3, MENU_COLUMN = 4, ITEM_RENAME = 5,
       ITEM_TOGGLE = 6, ITEM_MOMENTARY = 7, ITEM_INVERTED = 8 };

// What the callbacks do beyond being recorded in headless::events(); their
// result is the hook's (0 without one).
inline std::function<int(int panel, int control, int event, int d1, int d2)> ctrl_hook;
inline std::function<int(int panel, int event, int d1, int d2)> panel_hook;
inline std::function<int(int panel, int control)> timer_hook;
struct MenuCall {
  int menubar, item, panel;
};
inline std::vector<MenuCall> menu_calls;

inline int TestCtrl(int panel, int control, int event, void *, int d1, int d2) {
  return ctrl_hook ? ctrl_hook(panel, control, event, d1, d2) : 0;
}
inline int TestPanel(int panel, int event, void *, int d1, int d2) {
  return panel_hook ? panel_hook(panel, event, d1, d2) : 0;
}
inline int TestTimer(int panel, int control, int event, void *, int, int) {
  return timer_hook && event == EVENT_TIMER_TICK ? timer_hook(panel, control) : 0;
}
inline int TestMenu(int menubar, int item, void *, int panel) {
  menu_calls.push_back({menubar, item, panel});
  return 0;
}

inline std::string resource() { return testsupport::source_path("tests/platform/data/ui_test.uir"); }

inline void register_test_callbacks() {
  static const platform::ui::CallbackBinding table[] = {
      {"TestCtrl", TestCtrl}, {"TestPanel", TestPanel}, {"TestTimer", TestTimer}, {"TestMenu", TestMenu}};
  platform::ui::register_callbacks(table);
}

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ui::headless::reset();
    register_test_callbacks();
    ctrl_hook = nullptr;
    panel_hook = nullptr;
    timer_hook = nullptr;
    menu_calls.clear();
  }
  void TearDown() override {
    platform::ui::headless::reset();
    ctrl_hook = nullptr;
    panel_hook = nullptr;
    timer_hook = nullptr;
  }
  // Loads and shows the panel of all controls.
  int load_all() {
    const int p = LoadPanel(0, resource().c_str(), PNL_ALL);
    EXPECT_GT(p, 0) << platform::ui::last_error_detail();
    EXPECT_EQ(DisplayPanel(p), 0);
    platform::ui::headless::clear_events();
    return p;
  }
  int page(int p, int index) {
    int h = 0;
    EXPECT_EQ(GetPanelHandleFromTabPage(p, ALL_TAB, index, &h), 0);
    return h;
  }
};

using Ev = platform::ui::headless::Event;

// The events sent since the last clear, without their results.
inline std::vector<Ev> sent() {
  std::vector<Ev> out = platform::ui::headless::events();
  for (Ev &e : out) e.result = 0;
  return out;
}

}  // namespace uitest
