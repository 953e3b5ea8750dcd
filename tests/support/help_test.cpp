// Hover help driven by its poll and hide timers on the virtual clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/headless.h"
#include "platform/ui/model.h"
#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "platform/win/syscolor.h"
#include "support/Util_fun_help.h"
#include "tests/testsupport/testsupport.h"

namespace {

namespace headless = platform::ui::headless;

enum { CTRL_LOAD = 2, CTRL_GAIN = 3, CTRL_RECENT = 4, CTRL_OVERLOAD = 5 };

class HoverHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::reset();
    owner = LoadPanel(0, testsupport::source_path("tests/support/data/panels.uir").c_str(), 1);
    ASSERT_GT(owner, 0);
    DisplayPanel(owner);
  }
  void TearDown() override {
    if (help != nullptr) ControlHelp_Discard(help);
    headless::reset();
  }
  // The entries as the caller hands them over: malloc'd arrays.
  void make(const std::vector<std::pair<int, const char *>> &entries, int top_level = 0) {
    const size_t n = entries.size();
    int *ids = static_cast<int *>(std::malloc(n * sizeof(int)));
    char **texts = static_cast<char **>(std::malloc(n * sizeof(char *)));
    for (size_t i = 0; i < n; ++i) {
      ids[i] = entries[i].first;
      texts[i] = entries[i].second ? strdup(entries[i].second) : nullptr;
    }
    ASSERT_EQ(ControlHelp_New(owner, ids, static_cast<int>(n), texts, &help, top_level), 0);
    ASSERT_NE(help, nullptr);
  }
  void standard(int top_level = 0) {
    make({{CTRL_LOAD, "Load a setup file"}, {-1, "skipped"}, {CTRL_GAIN, "Gain of connector 1"},
          {CTRL_OVERLOAD, "Overload"}, {CTRL_RECENT, ""}},
         top_level);
  }
  // The mouse on the centre of a control.
  void point_at(int control) {
    int t = 0, l = 0, h = 0, w = 0;
    GetCtrlAttribute(owner, control, ATTR_TOP, &t);
    GetCtrlAttribute(owner, control, ATTR_LEFT, &l);
    GetCtrlAttribute(owner, control, ATTR_HEIGHT, &h);
    GetCtrlAttribute(owner, control, ATTR_WIDTH, &w);
    headless::set_mouse(l + w / 2, t + h / 2);
  }
  // Lets time pass up to just after t (seconds of the virtual clock), so a
  // tick due at t has run whatever the rounding of the sums.
  void until(double t) { headless::advance(t + 1e-6 - platform::clock::now()); }
  int help_panel() const {
    for (int h : platform::ui::model::panel_handles())
      if (platform::ui::model::find_panel(h)->title == "Help Panel") return h;
    return 0;
  }
  std::vector<int> place() const {
    const int p = help_panel();
    int t = 0, l = 0, h = 0, w = 0;
    GetPanelAttribute(p, ATTR_TOP, &t);
    GetPanelAttribute(p, ATTR_LEFT, &l);
    GetPanelAttribute(p, ATTR_HEIGHT, &h);
    GetPanelAttribute(p, ATTR_WIDTH, &w);
    return {t, l, h, w};
  }
  std::string shown_text() const {
    const platform::ui::model::Panel *p = platform::ui::model::find_panel(help_panel());
    for (const auto &c : p->controls)
      if (c.kind == platform::ui::model::Kind::text_message) return std::get<std::string>(c.value);
    return "";
  }

  testsupport::VirtualClock clock;  // before any timer is made
  int owner = 0;
  ControlHelpObject *help = nullptr;
};

TEST_F(HoverHelp, AppearsBelowTheControlAfterHalfASecondOfRest) {
  standard();
  point_at(CTRL_LOAD);
  until(0.5);  // first poll: the rest starts
  EXPECT_EQ(ControlHelp_Active(help), 0);
  until(1.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  EXPECT_EQ(shown_text(), "Load a setup file");
  int h = 0, w = 0;
  GetTextDisplaySize("Load a setup file", "NIAppMetaFont", 12, &h, &w);
  EXPECT_EQ(place(), (std::vector<int>{20 + 24 + 8, 20 + 80 / 2, h, w}));
  int parent = 0, fill = 0, bar = 1;
  GetPanelAttribute(help_panel(), ATTR_PANEL_PARENT, &parent);
  GetPanelAttribute(help_panel(), ATTR_FILL_COLOR, &fill);
  GetPanelAttribute(help_panel(), ATTR_TITLEBAR_VISIBLE, &bar);
  EXPECT_EQ(parent, owner);
  EXPECT_EQ(fill, 0xFFFFE1) << "the system's tool-tip colour, as 0x00RRGGBB";
  EXPECT_EQ(bar, 0);
}

TEST_F(HoverHelp, TheNextControlNeedsATenthOfASecond) {
  standard();
  point_at(CTRL_LOAD);
  until(1.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  until(1.55);
  point_at(CTRL_GAIN);
  until(1.6);  // the poll sees the new control
  EXPECT_EQ(shown_text(), "Load a setup file");
  until(1.7);
  EXPECT_EQ(shown_text(), "Gain of connector 1");
  EXPECT_EQ(place()[0], 100 + 20 + 8);
}

TEST_F(HoverHelp, DisappearsAfterEightSecondsAndWhenTheMouseLeaves) {
  standard();
  point_at(CTRL_LOAD);
  until(1.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  until(8.95);
  EXPECT_EQ(ControlHelp_Active(help), 1);
  until(9.05);
  EXPECT_EQ(ControlHelp_Active(help), 0);
  until(20.0);
  EXPECT_EQ(ControlHelp_Active(help), 0) << "the same control does not show again";

  point_at(CTRL_GAIN);
  until(21.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  headless::set_mouse(-5, 40);
  until(21.6);
  EXPECT_EQ(ControlHelp_Active(help), 0);
  // Back in: a fresh rest of half a second, as at first.
  point_at(CTRL_GAIN);
  until(22.1);
  EXPECT_EQ(ControlHelp_Active(help), 0);
  until(23.1);
  EXPECT_EQ(ControlHelp_Active(help), 1);
}

TEST_F(HoverHelp, MovingOffTheControlHidesIt) {
  standard();
  point_at(CTRL_LOAD);
  until(1.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  headless::set_mouse(400, 450);  // inside the panel, on no control
  until(1.55);
  EXPECT_EQ(ControlHelp_Active(help), 0);
  point_at(CTRL_LOAD);
  until(1.8);
  EXPECT_EQ(ControlHelp_Active(help), 1) << "shown again after a tenth of a second";
}

TEST_F(HoverHelp, NearTheEdgesTheWindowMovesInside) {
  standard();
  point_at(CTRL_OVERLOAD);
  until(1.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  int h = 0, w = 0;
  GetTextDisplaySize("Overload", "NIAppMetaFont", 12, &h, &w);
  // Right edge: it ends one pixel inside; bottom: it goes above the control.
  EXPECT_EQ(place(), (std::vector<int>{560 - h - 8, 800 - w - 1, h, w}));
}

TEST_F(HoverHelp, EmptyTextsDisabledObjectsAndCoveredControlsShowNothing) {
  standard();
  point_at(CTRL_RECENT);
  until(3.0);
  EXPECT_EQ(ControlHelp_Active(help), 0) << "empty text";

  ControlHelp_Enable(help, 0);
  point_at(CTRL_LOAD);
  until(5.0);
  EXPECT_EQ(ControlHelp_Active(help), 0) << "disabled";
  ControlHelp_Enable(help, 1);
  until(5.5);
  EXPECT_EQ(ControlHelp_Active(help), 1);

  const int child = LoadPanel(owner, testsupport::source_path("tests/support/data/panels.uir").c_str(), 2);
  DisplayPanel(child);  // 10, 20, 200 x 300 lies over the Load button
  point_at(CTRL_GAIN);
  until(8.0);
  EXPECT_EQ(ControlHelp_Active(help), 0) << "covered by a child panel";
  HidePanel(child);
  until(9.0);
  EXPECT_EQ(ControlHelp_Active(help), 1);
}

TEST_F(HoverHelp, AnInactiveOrHiddenOwnerIsNotPolled) {
  standard();
  const int other = NewPanel(0, "other", 0, 0, 100, 100);
  DisplayPanel(other);
  point_at(CTRL_LOAD);
  until(3.0);
  EXPECT_EQ(ControlHelp_Active(help), 0);
  SetActivePanel(owner);
  until(4.0);
  EXPECT_EQ(ControlHelp_Active(help), 1);
}

TEST_F(HoverHelp, ATopLevelHelpFloatsOverTheDesktop) {
  standard(1);
  point_at(CTRL_LOAD);
  until(1.0);
  ASSERT_EQ(ControlHelp_Active(help), 1);
  int h = 0, w = 0, parent = -1, floating = 0;
  GetTextDisplaySize("Load a setup file", "NIAppMetaFont", 12, &h, &w);
  EXPECT_EQ(place(), (std::vector<int>{80 + 52, 40 + 60, h, w})) << "shifted by the owner's place";
  GetPanelAttribute(help_panel(), ATTR_PANEL_PARENT, &parent);
  GetPanelAttribute(help_panel(), ATTR_FLOATING, &floating);
  EXPECT_EQ(parent, 0);
  EXPECT_EQ(floating, VAL_FLOAT_ALWAYS);
  EXPECT_EQ(GetActivePanel(), owner);
  // Bounded by the desktop, not the owner.
  SetPanelAttribute(owner, ATTR_LEFT, 1870);
  until(1.5);
  point_at(CTRL_GAIN);
  until(1.8);
  EXPECT_EQ(place()[1], 1920 - place()[3] - 1);
}

TEST_F(HoverHelp, CreationAndDiscard) {
  ControlHelpObject *none = reinterpret_cast<ControlHelpObject *>(1);
  EXPECT_EQ(ControlHelp_New(0, nullptr, 0, nullptr, &none, 0), 0);
  EXPECT_EQ(none, nullptr);
  int ids[1] = {2};
  EXPECT_EQ(ControlHelp_New(9999, ids, 1, nullptr, &none, 0), UIE_PANEL_INVALID);
  EXPECT_EQ(ControlHelp_Active(nullptr), 0);
  standard();
  const int panel = help_panel();
  ASSERT_GT(panel, 0);
  ControlHelp_Discard(help);
  help = nullptr;
  int v = 0;
  EXPECT_EQ(GetPanelAttribute(panel, ATTR_VISIBLE, &v), UIE_PANEL_INVALID);
  ControlHelp_Discard(nullptr);
}

TEST(PanelBoundingRect, CountsFrameAndVisibleTitleBar) {
  headless::reset();
  const int p = NewPanel(0, "", 30, 100, 200, 300);
  PanelRect r{};
  ASSERT_EQ(GetPanelBoundingRect(p, &r), 0);
  EXPECT_EQ(std::vector<int>({r.top, r.left, r.height, r.width}), std::vector<int>({30, 100, 200, 300}));
  SetPanelAttribute(p, ATTR_TITLEBAR_THICKNESS, 23);
  SetPanelAttribute(p, ATTR_FRAME_THICKNESS, 4);
  ASSERT_EQ(GetPanelBoundingRect(p, &r), 0);
  EXPECT_EQ(std::vector<int>({r.top, r.left, r.height, r.width}), std::vector<int>({3, 96, 231, 308}));
  SetPanelAttribute(p, ATTR_TOP, 10);
  GetPanelBoundingRect(p, &r);
  EXPECT_EQ(r.top, 0) << "not above the screen";
  SetPanelAttribute(p, ATTR_TITLEBAR_VISIBLE, 0);
  GetPanelBoundingRect(p, &r);
  EXPECT_EQ(std::vector<int>({r.top, r.left, r.height, r.width}), std::vector<int>({6, 96, 208, 308}));
  EXPECT_EQ(GetPanelBoundingRect(9999, &r), UIE_PANEL_INVALID);
  EXPECT_EQ(GetPanelBoundingRect(p, nullptr), UIE_BAD_ARGUMENT);
  headless::reset();
}

TEST(SystemColours, ToolTipColoursInTheirSystemLayout) {
  EXPECT_EQ(GetSysColor(COLOR_INFOBK), 0x00E1FFFFu);
  EXPECT_EQ(GetSysColor(COLOR_INFOTEXT), 0u);
  EXPECT_EQ(GetSysColor(999), 0u);
}

}  // namespace
