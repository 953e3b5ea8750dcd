// Loading panels and menu bars from the resource file.
#include <string>

#include "platform/ui/model.h"
#include "platform/win/progdir.h"
#include "tests/platform/ui_fixture.h"

using namespace uitest;
namespace ui = platform::ui;
namespace headless = platform::ui::headless;

namespace {

class UiResource : public UiTest {
 protected:
  testsupport::TempDir dir;
  // A resource file of one panel with the given controls (a JSON list).
  std::string file(const std::string &controls, const std::string &panel_extra = "") {
    return dir.write("r.uir", R"({"panels": [{"id": 7, "width": 200, "height": 100)" + panel_extra +
                                  R"(, "controls": )" + controls + "}]}");
  }
  int load(const std::string &path, int id = 7) { return LoadPanel(0, path.c_str(), id); }
};

TEST_F(UiResource, LoadsEveryKindWithItsAttributes) {
  const int p = LoadPanel(0, resource().c_str(), PNL_ALL);
  ASSERT_GT(p, 0) << ui::last_error_detail();
  const ui::model::Panel *panel = ui::model::find_panel(p);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->name, "ALL");
  EXPECT_EQ(panel->title, "All controls");
  EXPECT_FALSE(panel->visible);  // until DisplayPanel
  int top = 0, left = 0;
  GetPanelAttribute(p, ATTR_TOP, &top);
  GetPanelAttribute(p, ATTR_LEFT, &left);
  EXPECT_EQ(top, (1080 - 520) / 2);  // centred on the monitor
  EXPECT_EQ(left, (1920 - 640) / 2);

  struct Row {
    int control;
    int kind;
    int data_type;
  };
  const Row rows[] = {
      {ALL_LOAD, CTRL_COMMAND_BUTTON, VAL_NO_TYPE}, {ALL_POWER, CTRL_TOGGLE, VAL_INTEGER},
      {ALL_ENABLE, CTRL_CHECK_BOX, VAL_INTEGER},    {ALL_COUNT, CTRL_NUMERIC, VAL_INTEGER},
      {ALL_LIMIT, CTRL_NUMERIC, VAL_SHORT_INTEGER}, {ALL_GAIN, CTRL_NUMERIC, VAL_FLOAT},
      {ALL_VOLT, CTRL_NUMERIC, VAL_DOUBLE},         {ALL_NAME, CTRL_STRING, VAL_STRING},
      {ALL_STATUS, CTRL_TEXT_MSG, VAL_STRING},      {ALL_CONTENTS, CTRL_TEXT_BOX, VAL_STRING},
      {ALL_OVERLOAD, CTRL_LED, VAL_INTEGER},        {ALL_MODE, CTRL_RING, VAL_INTEGER},
      {ALL_RECENT, CTRL_LIST_BOX, VAL_STRING},      {ALL_TAB, CTRL_TAB, VAL_INTEGER},
      {ALL_TIMER, CTRL_TIMER, VAL_NO_TYPE},         {ALL_DIR, CTRL_PATH, VAL_STRING},
      {ALL_DECORATION, CTRL_DECORATION, VAL_NO_TYPE},
  };
  for (const Row &r : rows) {
    int kind = 0, type = -1;
    EXPECT_EQ(GetCtrlAttribute(p, r.control, ATTR_CTRL_KIND, &kind), 0) << r.control;
    EXPECT_EQ(GetCtrlAttribute(p, r.control, ATTR_DATA_TYPE, &type), 0) << r.control;
    EXPECT_EQ(kind, r.kind) << r.control;
    EXPECT_EQ(type, r.data_type) << r.control;
  }

  // Defaults from the file.
  int count = 0;
  short limit = 0;
  float gain = 0;
  double volt = 0;
  char name[32] = "";
  int mode = 0, on = 0, led = 0;
  EXPECT_EQ(GetCtrlVal(p, ALL_COUNT, &count), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_LIMIT, &limit), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_GAIN, &gain), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_VOLT, &volt), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_NAME, name), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_MODE, &mode), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_ENABLE, &on), 0);
  EXPECT_EQ(GetCtrlVal(p, ALL_OVERLOAD, &led), 0);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(limit, 90);
  EXPECT_FLOAT_EQ(gain, 1.5f);
  EXPECT_DOUBLE_EQ(volt, -1.25);
  EXPECT_STREQ(name, "Detector");
  EXPECT_EQ(mode, 200);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(led, 1);

  int shortcut = 0, colour = 0, close = 0;
  std::string hover, callback;
  EXPECT_EQ(GetCtrlAttribute(p, ALL_LOAD, ATTR_SHORTCUT_KEY, &shortcut), 0);
  EXPECT_EQ(shortcut, 0x1800);
  EXPECT_EQ(GetCtrlAttribute(p, ALL_LOAD, ATTR_TOOLTIP_TEXT, &hover), 0);
  EXPECT_EQ(hover, "Loads a file");
  EXPECT_EQ(GetCtrlAttribute(p, ALL_LOAD, ATTR_CALLBACK_NAME, &callback), 0);
  EXPECT_EQ(callback, "TestCtrl");
  EXPECT_EQ(GetCtrlAttribute(p, ALL_OVERLOAD, ATTR_ON_COLOR, &colour), 0);
  EXPECT_EQ(colour, 0xFF0000);
  EXPECT_EQ(GetPanelAttribute(p, ATTR_CLOSE_CTRL, &close), 0);
  EXPECT_EQ(close, ALL_CLOSE);

  double interval = 0;
  int enabled = 0;
  EXPECT_EQ(GetCtrlAttribute(p, ALL_TIMER, ATTR_INTERVAL, &interval), 0);
  EXPECT_EQ(GetCtrlAttribute(p, ALL_TIMER, ATTR_ENABLED, &enabled), 0);
  EXPECT_DOUBLE_EQ(interval, 0.5);
  EXPECT_EQ(enabled, 1);
}

TEST_F(UiResource, TabPagesAreOwnPanels) {
  const int p = LoadPanel(0, resource().c_str(), PNL_ALL);
  ASSERT_GT(p, 0);
  int pages = 0, active = -1;
  ASSERT_EQ(GetNumTabPages(p, ALL_TAB, &pages), 0);
  EXPECT_EQ(pages, 2);
  EXPECT_EQ(GetActiveTabPage(p, ALL_TAB, &active), 0);
  EXPECT_EQ(active, 0);
  const int first = page(p, 0), second = page(p, 1);
  EXPECT_GT(first, p);
  EXPECT_NE(first, second);
  std::string title;
  GetPanelAttribute(second, ATTR_TITLE, &title);
  EXPECT_EQ(title, "Second");
  // Both pages number their controls from 2, each in its own space.
  int kind1 = 0, kind2 = 0;
  GetCtrlAttribute(first, 2, ATTR_CTRL_KIND, &kind1);
  GetCtrlAttribute(second, 2, ATTR_CTRL_KIND, &kind2);
  EXPECT_EQ(kind1, CTRL_TOGGLE);
  EXPECT_EQ(kind2, CTRL_STRING);
  int parent = 0;
  GetPanelAttribute(first, ATTR_PANEL_PARENT, &parent);
  EXPECT_EQ(parent, p);
  // Pages fill the tab control below its row of tabs.
  int height = 0, width = 0;
  GetPanelAttribute(first, ATTR_HEIGHT, &height);
  GetPanelAttribute(first, ATTR_WIDTH, &width);
  EXPECT_EQ(height, 150 - ui::model::kTabBarHeight - ui::model::kTabBorder);
  EXPECT_EQ(width, 420 - 2 * ui::model::kTabBorder);
  EXPECT_EQ(GetPanelHandleFromTabPage(p, ALL_TAB, 2, &parent), UIE_INDEX_INVALID);
  // Discarding the panel takes its pages along.
  EXPECT_EQ(DiscardPanel(p), 0);
  EXPECT_EQ(ui::model::find_panel(first), nullptr);
  EXPECT_EQ(DisplayPanel(p), UIE_PANEL_INVALID);
}

TEST_F(UiResource, MenuBarLoads) {
  const int p = load_all();
  const int bar = LoadMenuBar(p, resource().c_str(), MB_MAIN);
  ASSERT_GT(bar, 0) << ui::last_error_detail();
  int checked = -1, dimmed = -1, attached = 0;
  char label[16];
  EXPECT_EQ(GetMenuBarAttribute(bar, ITEM_SCALE, ATTR_CHECKED, &checked), 0);
  EXPECT_EQ(checked, 1);
  EXPECT_EQ(GetMenuBarAttribute(bar, ITEM_INVERTED, ATTR_DIMMED, &dimmed), 0);
  EXPECT_EQ(dimmed, 1);
  EXPECT_EQ(GetMenuBarAttribute(bar, MENU_COLUMN, ATTR_ITEM_NAME, label, sizeof label), 0);
  EXPECT_STREQ(label, "Column");
  EXPECT_EQ(GetPanelAttribute(p, ATTR_PANEL_MENU_BAR, &attached), 0);
  EXPECT_EQ(attached, bar);
  EXPECT_EQ(SetMenuBarAttribute(bar, ITEM_SCALE, ATTR_CHECKED, 0), 0);
  GetMenuBarAttribute(bar, ITEM_SCALE, ATTR_CHECKED, &checked);
  EXPECT_EQ(checked, 0);
  EXPECT_EQ(SetMenuBarAttribute(bar, 99, ATTR_CHECKED, 1), UIE_MENU_ITEM_INVALID);
  EXPECT_EQ(SetMenuBarAttribute(bar, ITEM_SCALE, 4711, 1), UIE_ATTR_INVALID);
  EXPECT_EQ(SetMenuBarAttribute(bar, ITEM_SCALE, ATTR_CHECKED, "x"), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetMenuBarAttribute(bar + 100, ITEM_SCALE, ATTR_CHECKED, 1), UIE_MENUBAR_INVALID);
  EXPECT_EQ(LoadMenuBar(0, resource().c_str(), 9), UIE_MENUBAR_NOT_FOUND);
  // A bar goes with its panel.
  DiscardPanel(p);
  EXPECT_EQ(GetMenuBarAttribute(bar, ITEM_SCALE, ATTR_CHECKED, &checked), UIE_MENUBAR_INVALID);
}

TEST_F(UiResource, APanelShowsOneBarAndKeepsContextBarsBesideIt) {
  // The resource gives the panel its menu bar.
  const int p = LoadPanel(0, resource().c_str(), 4);
  ASSERT_GT(p, 0) << ui::last_error_detail();
  DisplayPanel(p);
  int shown = 0;
  EXPECT_EQ(GetPanelAttribute(p, ATTR_PANEL_MENU_BAR, &shown), 0);
  ASSERT_GT(shown, 0);
  EXPECT_EQ(headless::pick_menu_item(shown, ITEM_SCALE), 0);
  ASSERT_EQ(menu_calls.size(), 1u);
  EXPECT_EQ(menu_calls[0].panel, p);

  // Context bars load into the same panel, as often as asked, and show nothing.
  const int bits = LoadMenuBar(p, resource().c_str(), 2);
  const int gain = LoadMenuBar(p, resource().c_str(), 3);
  ASSERT_GT(bits, 0);
  ASSERT_GT(gain, 0);
  int now = 0;
  GetPanelAttribute(p, ATTR_PANEL_MENU_BAR, &now);
  EXPECT_EQ(now, shown);
  headless::script_menu_choices({3, 6});
  EXPECT_EQ(RunPopupMenu(gain, 2, p, 10, 10), 3);
  EXPECT_EQ(RunPopupMenu(bits, 2, p, 10, 10), 6);
  EXPECT_EQ(headless::pick_menu_item(bits, 6), UIE_NOT_OPERABLE);  // not in the panel's bar

  // Another shown bar takes the place of the first, which stays loaded.
  const int second = LoadMenuBar(p, resource().c_str(), MB_MAIN);
  GetPanelAttribute(p, ATTR_PANEL_MENU_BAR, &now);
  EXPECT_EQ(now, second);
  int checked = -1;
  EXPECT_EQ(GetMenuBarAttribute(shown, ITEM_SCALE, ATTR_CHECKED, &checked), 0);
  EXPECT_EQ(headless::pick_menu_item(shown, ITEM_SCALE), UIE_NOT_OPERABLE);
  EXPECT_EQ(headless::pick_menu_item(second, ITEM_SCALE), 0);

  // All go with the panel.
  DiscardPanel(p);
  for (int bar : {shown, bits, gain, second})
    EXPECT_EQ(GetMenuBarAttribute(bar, ITEM_SCALE, ATTR_CHECKED, &checked), UIE_MENUBAR_INVALID) << bar;
}

TEST_F(UiResource, ChildPanelsAndLoadErrors) {
  const int main = load_all();
  const int child = LoadPanel(main, resource().c_str(), PNL_POPUP);
  ASSERT_GT(child, 0);
  int parent = 0, first = 0, n = 0;
  GetPanelAttribute(child, ATTR_PANEL_PARENT, &parent);
  GetPanelAttribute(main, ATTR_FIRST_CHILD, &first);
  GetPanelAttribute(main, ATTR_NUM_CHILDREN, &n);
  EXPECT_EQ(parent, main);
  EXPECT_EQ(first, child);
  EXPECT_EQ(n, 1);
  // Centred in its parent.
  int top = 0;
  GetPanelAttribute(child, ATTR_TOP, &top);
  EXPECT_EQ(top, (520 - 120) / 2);

  EXPECT_EQ(LoadPanel(main + 1000, resource().c_str(), PNL_POPUP), UIE_PANEL_INVALID);
  EXPECT_EQ(LoadPanel(0, resource().c_str(), 99), UIE_PANEL_NOT_FOUND);
  EXPECT_EQ(LoadPanel(0, dir.file("missing.uir").c_str(), 1), UIE_FILE_NOT_FOUND);
  EXPECT_EQ(LoadPanel(0, nullptr, 1), UIE_BAD_ARGUMENT);
}

TEST_F(UiResource, RejectsMalformedFiles) {
  struct Case {
    const char *what;
    std::string text;
    int code;
    const char *detail;  // part of last_error_detail
  };
  const Case cases[] = {
      {"not JSON", "{\"panels\": [", UIE_RESOURCE_FORMAT, "not JSON"},
      {"not an object", "[1, 2]", UIE_RESOURCE_FORMAT, "not a JSON object"},
      {"unknown top key", R"({"panelz": []})", UIE_RESOURCE_FORMAT, "panelz"},
      {"panel twice", R"({"panels": [{"id": 7, "width": 1, "height": 1}, {"id": 7, "width": 1, "height": 1}]})",
       UIE_RESOURCE_FORMAT, "appears twice"},
      {"no size", R"({"panels": [{"id": 7}]})", UIE_RESOURCE_FORMAT, "height"},
      {"misspelt control key", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "toggle", "lable": "x"}]}]})",
       UIE_RESOURCE_FORMAT, "lable"},
      {"key of another kind", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "toggle", "items": []}]}]})",
       UIE_RESOURCE_FORMAT, "items"},
      {"unknown kind", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "slider"}]}]})",
       UIE_RESOURCE_FORMAT, "slider"},
      {"control twice", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "led"}, {"id": 2, "kind": "led"}]}]})",
       UIE_RESOURCE_FORMAT, "appears twice"},
      {"value outside range", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "numeric", "data_type": "short", "min": 0, "max": 100, "value": 300}]}]})",
       UIE_RESOURCE_FORMAT, "out of range"},
      {"range outside type", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "numeric", "data_type": "short", "max": 70000}]}]})",
       UIE_RESOURCE_FORMAT, "data type"},
      {"text for a number", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "numeric", "value": "5"}]}]})",
       UIE_RESOURCE_FORMAT, "whole number"},
      {"item value of another type", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "ring", "items": [{"label": "a", "value": "x"}]}]}]})",
       UIE_RESOURCE_FORMAT, "whole number"},
      {"selected value not an item", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "ring", "items": [{"label": "a", "value": 1}], "value": 2}]}]})",
       UIE_RESOURCE_FORMAT, "not the value of an item"},
      {"close control missing", R"({"panels": [{"id": 7, "width": 1, "height": 1, "close_control": 5}]})",
       UIE_RESOURCE_FORMAT, "close_control"},
      {"timer too fast", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "timer", "interval": 0}]}]})",
       UIE_RESOURCE_FORMAT, "interval"},
      {"bad colour", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "led", "on_color": "red"}]}]})",
       UIE_RESOURCE_FORMAT, "#RRGGBB"},
      {"string longer than its limit", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "string", "max_length": 3, "value": "abcd"}]}]})",
       UIE_RESOURCE_FORMAT, "max_length"},
      {"unregistered callback", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "toggle", "callback": "NoSuchCallback"}]}]})",
       UIE_CALLBACK_NOT_REGISTERED, "NoSuchCallback"},
      {"callback of another kind", R"({"panels": [{"id": 7, "width": 1, "height": 1, "callback": "TestCtrl"}]})",
       UIE_CALLBACK_NOT_REGISTERED, "as a panel callback"},
      {"unregistered page callback", R"({"panels": [{"id": 7, "width": 1, "height": 1, "controls": [
          {"id": 2, "kind": "tab", "pages": [{"title": "a", "callback": "Nope"}]}]}]})",
       UIE_CALLBACK_NOT_REGISTERED, "Nope"},
      {"wrong format", R"({"format": "other", "panels": []})", UIE_RESOURCE_FORMAT, "format"},
      {"panel's menu bar missing", R"({"panels": [{"id": 7, "width": 1, "height": 1, "menubar": 4}]})",
       UIE_MENUBAR_NOT_FOUND, "no menu bar 4"},
      {"panel's menu bar malformed", R"({"panels": [{"id": 7, "width": 1, "height": 1, "menubar": 4}],
          "menubars": [{"id": 4, "menus": [{"id": 1, "items": [{"id": 2, "callback": "Nope"}]}]}]})",
       UIE_CALLBACK_NOT_REGISTERED, "Nope"},
  };
  for (const Case &c : cases) {
    const std::string path = dir.write("bad.uir", c.text);
    EXPECT_EQ(load(path), c.code) << c.what;
    EXPECT_NE(ui::last_error_detail().find(c.detail), std::string::npos)
        << c.what << ": " << ui::last_error_detail();
  }
  // Nothing half-made stays behind.
  EXPECT_TRUE(ui::model::panel_handles().empty());
}

TEST_F(UiResource, DefaultsForWhatTheFileLeavesOut) {
  const std::string path = file(R"([
      {"id": 2, "kind": "numeric", "data_type": "float", "min": 1, "max": 10},
      {"id": 3, "kind": "check_box", "label": "Box", "top": 10, "left": 10},
      {"id": 4, "kind": "ring"},
      {"id": 5, "kind": "toggle", "shortcut": 32, "mode": "indicator"}])");
  const int p = load(path);
  ASSERT_GT(p, 0) << ui::last_error_detail();
  float v = 0;
  GetCtrlVal(p, 2, &v);
  EXPECT_FLOAT_EQ(v, 1.0f);  // zero lies below the range: its nearest end
  int label_left = 0, width = 0;
  GetCtrlAttribute(p, 3, ATTR_LABEL_LEFT, &label_left);
  GetCtrlAttribute(p, 3, ATTR_WIDTH, &width);
  EXPECT_EQ(label_left, 10 + width + 4);  // a check box's label sits on its right
  int index = 0, value = 0, mode = -1;
  GetCtrlIndex(p, 4, &index);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(GetCtrlVal(p, 4, &value), UIE_INDEX_INVALID);  // an empty ring has no value
  GetCtrlAttribute(p, 5, ATTR_CTRL_MODE, &mode);
  EXPECT_EQ(mode, VAL_INDICATOR);
}

TEST_F(UiResource, RelativeNameIsFoundBesideTheProgram) {
  dir.write("beside.uir", R"({"panels": [{"id": 3, "width": 10, "height": 10}]})");
  platform::set_program_dir(dir.path());
  const int p = LoadPanel(0, "beside.uir", 3);
  platform::set_program_dir("");
  EXPECT_GT(p, 0) << ui::last_error_detail();
}

}  // namespace
