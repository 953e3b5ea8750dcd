// Values in their own data type, attributes, lists, text boxes, path controls,
// panel attributes and monitors.
#include <cfloat>
#include <climits>
#include <cmath>
#include <string>

#include "platform/ui/model.h"
#include "tests/platform/ui_fixture.h"

using namespace uitest;
namespace ui = platform::ui;
namespace headless = platform::ui::headless;

namespace {

using UiValues = UiTest;

// A read with a buffer of another type than the control's is refused and
// leaves the buffer alone; so is a text into a number and the reverse.
TEST_F(UiValues, ReadsNeedTheControlsOwnType) {
  const int p = load_all();
  int i = 77;
  short s = 77;
  float f = 77;
  double d = 77;
  char text[16] = "unchanged";
  struct Row {
    int control;
    bool as_int, as_short, as_float, as_double, as_text;
  };
  const Row rows[] = {
      {ALL_COUNT, true, false, false, false, false},   {ALL_LIMIT, false, true, false, false, false},
      {ALL_GAIN, false, false, true, false, false},    {ALL_VOLT, false, false, false, true, false},
      {ALL_NAME, false, false, false, false, true},    {ALL_POWER, true, false, false, false, false},
      {ALL_MODE, true, false, false, false, false},    {ALL_RECENT, false, false, false, false, true},
      {ALL_CONTENTS, false, false, false, false, true}, {ALL_LOAD, false, false, false, false, false},
      {ALL_TIMER, false, false, false, false, false},  {ALL_DECORATION, false, false, false, false, false},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(GetCtrlVal(p, r.control, &i) == 0, r.as_int) << r.control;
    EXPECT_EQ(GetCtrlVal(p, r.control, &s) == 0, r.as_short) << r.control;
    EXPECT_EQ(GetCtrlVal(p, r.control, &f) == 0, r.as_float) << r.control;
    EXPECT_EQ(GetCtrlVal(p, r.control, &d) == 0, r.as_double) << r.control;
    EXPECT_EQ(GetCtrlVal(p, r.control, text) == 0, r.as_text) << r.control;
    if (!r.as_int) {
      EXPECT_EQ(GetCtrlVal(p, r.control, &i), UIE_TYPE_MISMATCH) << r.control;
    }
  }
  // The short control never wrote an int's four bytes.
  struct {
    short value;
    short guard;
  } probe{0, 0x5A5A};
  EXPECT_EQ(GetCtrlVal(p, ALL_LIMIT, &probe.value), 0);
  EXPECT_EQ(probe.value, 90);
  EXPECT_EQ(probe.guard, 0x5A5A);

  EXPECT_EQ(SetCtrlVal(p, ALL_COUNT, "12"), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetCtrlVal(p, ALL_NAME, 12), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetCtrlVal(p, ALL_LOAD, 1), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetCtrlVal(p, 99, 1), UIE_CTRL_INVALID);
  EXPECT_EQ(SetCtrlVal(p + 999, ALL_COUNT, 1), UIE_PANEL_INVALID);
  EXPECT_EQ(GetCtrlVal(p, 99, &i), UIE_CTRL_INVALID);
  EXPECT_EQ(GetCtrlVal(p, ALL_COUNT, static_cast<int *>(nullptr)), UIE_BAD_ARGUMENT);
}

TEST_F(UiValues, NumbersTakeTheControlsTypeAndRange) {
  const int p = load_all();
  struct Case {
    int control;
    double in;
    bool integral_in;
    double expect;
  };
  const Case cases[] = {
      {ALL_COUNT, 42, true, 42},      {ALL_COUNT, 500, true, 100},      {ALL_COUNT, -3, true, 0},
      {ALL_COUNT, 41.6, false, 42},   {ALL_LIMIT, 70000, true, 100},    {ALL_LIMIT, 12, true, 12},
      {ALL_GAIN, 2.25, false, 2.25},  {ALL_GAIN, 7, true, 7},           {ALL_GAIN, 1e300, false, 10},
      {ALL_VOLT, -9, true, -5},       {ALL_VOLT, 0.125, false, 0.125},  {ALL_POWER, 5, true, 1},
      {ALL_POWER, 0, true, 0},        {ALL_ENABLE, 0.5, false, 1},
  };
  for (const Case &c : cases) {
    const int r = c.integral_in ? SetCtrlVal(p, c.control, static_cast<long long>(c.in)) : SetCtrlVal(p, c.control, c.in);
    ASSERT_EQ(r, 0) << c.control;
    int type = 0;
    GetCtrlAttribute(p, c.control, ATTR_DATA_TYPE, &type);
    double got = 0;
    if (type == VAL_INTEGER) {
      int v;
      GetCtrlVal(p, c.control, &v);
      got = v;
    } else if (type == VAL_SHORT_INTEGER) {
      short v;
      GetCtrlVal(p, c.control, &v);
      got = v;
    } else if (type == VAL_FLOAT) {
      float v;
      GetCtrlVal(p, c.control, &v);
      got = v;
    } else {
      GetCtrlVal(p, c.control, &got);
    }
    EXPECT_DOUBLE_EQ(got, c.expect) << c.control << " <- " << c.in;
  }
  EXPECT_EQ(SetCtrlVal(p, ALL_GAIN, std::nan("")), UIE_VALUE_INVALID);
  // A narrower range moves the value into it.
  EXPECT_EQ(SetCtrlVal(p, ALL_COUNT, 80), 0);
  EXPECT_EQ(SetCtrlAttribute(p, ALL_COUNT, ATTR_MAX_VALUE, 50), 0);
  int v = 0;
  GetCtrlVal(p, ALL_COUNT, &v);
  EXPECT_EQ(v, 50);
  EXPECT_EQ(SetCtrlAttribute(p, ALL_COUNT, ATTR_MIN_VALUE, 60), UIE_VALUE_INVALID);  // above the maximum
  EXPECT_EQ(SetCtrlAttribute(p, ALL_LIMIT, ATTR_MAX_VALUE, 40000), UIE_VALUE_INVALID);  // not a short
  double max = 0;
  EXPECT_EQ(GetCtrlAttribute(p, ALL_GAIN, ATTR_MAX_VALUE, &max), 0);
  EXPECT_DOUBLE_EQ(max, 10);
}

TEST_F(UiValues, TextsAreCutNotOverrun) {
  const int p = load_all();
  EXPECT_EQ(SetCtrlVal(p, ALL_NAME, "a label far too long"), 0);  // max 11
  char buf[32];
  GetCtrlVal(p, ALL_NAME, buf);
  EXPECT_STREQ(buf, "a label far");
  char small[4];
  EXPECT_EQ(GetCtrlVal(p, ALL_NAME, small), 0);
  EXPECT_STREQ(small, "a l");
  std::string whole;
  EXPECT_EQ(GetCtrlVal(p, ALL_NAME, &whole), 0);
  EXPECT_EQ(whole, "a label far");
  EXPECT_EQ(SetCtrlVal(p, ALL_STATUS, std::string("Number of active modules = 2")), 0);
  GetCtrlVal(p, ALL_STATUS, &whole);
  EXPECT_EQ(whole, "Number of active modules = 2");
  EXPECT_EQ(GetCtrlVal(p, ALL_NAME, buf, 0), UIE_BAD_ARGUMENT);
}

TEST_F(UiValues, TextBoxAppendsAndReadsByLine) {
  const int p = load_all();
  int n = 0;
  GetNumTextBoxLines(p, ALL_CONTENTS, &n);
  EXPECT_EQ(n, 2);  // the final newline starts no line
  EXPECT_EQ(SetCtrlVal(p, ALL_CONTENTS, "third"), 0);
  EXPECT_EQ(SetCtrlVal(p, ALL_CONTENTS, " line\n\nfifth"), 0);
  GetNumTextBoxLines(p, ALL_CONTENTS, &n);
  EXPECT_EQ(n, 5);
  char line[64];
  const char *want[] = {"first line", "second line", "third line", "", "fifth"};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(GetTextBoxLine(p, ALL_CONTENTS, i, line), 0);
    EXPECT_STREQ(line, want[i]);
  }
  int len = 0;
  GetTextBoxLineLength(p, ALL_CONTENTS, 2, &len);
  EXPECT_EQ(len, 10);
  EXPECT_EQ(GetTextBoxLine(p, ALL_CONTENTS, 5, line), UIE_INDEX_INVALID);
  EXPECT_EQ(GetTextBoxLine(p, ALL_CONTENTS, -1, line), UIE_INDEX_INVALID);
  EXPECT_EQ(ResetTextBox(p, ALL_CONTENTS, ""), 0);
  GetNumTextBoxLines(p, ALL_CONTENTS, &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(ResetTextBox(p, ALL_NAME, "x"), UIE_ATTR_NOT_VALID);
}

TEST_F(UiValues, ListItemsKeepTheSelection) {
  const int p = load_all();
  // Ring of ints: 0 Hardware, 200 Emulation; 200 selected.
  int index = -1, value = -1, n = 0;
  GetCtrlIndex(p, ALL_MODE, &index);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(InsertListItem(p, ALL_MODE, 0, "Off", -1), 0);
  GetCtrlIndex(p, ALL_MODE, &index);
  EXPECT_EQ(index, 2);  // still Emulation
  EXPECT_EQ(InsertListItem(p, ALL_MODE, -1, "Last", 300), 0);
  GetNumListItems(p, ALL_MODE, &n);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(InsertListItem(p, ALL_MODE, 9, "Far", 1), UIE_INDEX_INVALID);
  EXPECT_EQ(InsertListItem(p, ALL_MODE, 0, "Text", "x"), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetCtrlVal(p, ALL_MODE, 0), 0);  // selects Hardware
  GetCtrlIndex(p, ALL_MODE, &index);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(SetCtrlVal(p, ALL_MODE, 7), UIE_VALUE_INVALID);
  EXPECT_EQ(GetIndexFromValue(p, ALL_MODE, &index, 300), 0);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(GetValueFromIndex(p, ALL_MODE, 0, &value), 0);
  EXPECT_EQ(value, -1);
  char label[16];
  EXPECT_EQ(GetLabelFromIndex(p, ALL_MODE, 2, label), 0);
  EXPECT_STREQ(label, "Emulation");
  EXPECT_EQ(ReplaceListItem(p, ALL_MODE, 2, "Emul.", 201), 0);
  EXPECT_EQ(SetCtrlIndex(p, ALL_MODE, 2), 0);
  GetCtrlVal(p, ALL_MODE, &value);
  EXPECT_EQ(value, 201);
  // Deleting the selected item selects the one that takes its place.
  EXPECT_EQ(DeleteListItem(p, ALL_MODE, 2, 1), 0);
  GetCtrlIndex(p, ALL_MODE, &index);
  GetCtrlVal(p, ALL_MODE, &value);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(value, 300);
  EXPECT_EQ(DeleteListItem(p, ALL_MODE, 0, -1), 0);
  GetCtrlIndex(p, ALL_MODE, &index);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(GetCtrlVal(p, ALL_MODE, &value), UIE_INDEX_INVALID);

  // List of texts (the recent files).
  char path[64];
  GetCtrlVal(p, ALL_RECENT, path);
  EXPECT_STREQ(path, "/data/run1.set");
  EXPECT_EQ(ClearListCtrl(p, ALL_RECENT), 0);
  EXPECT_EQ(InsertListItem(p, ALL_RECENT, -1, "a.set", "/x/a.set"), 0);
  EXPECT_EQ(InsertListItem(p, ALL_RECENT, -1, "n", 5), UIE_TYPE_MISMATCH);
  GetCtrlVal(p, ALL_RECENT, path);
  EXPECT_STREQ(path, "/x/a.set");
  EXPECT_EQ(GetValueFromIndex(p, ALL_RECENT, 0, &value), UIE_TYPE_MISMATCH);
  EXPECT_EQ(InsertListItem(p, ALL_NAME, 0, "x", 1), UIE_ATTR_NOT_VALID);
}

TEST_F(UiValues, PathControlKeepsItsHistory) {
  const int p = load_all();
  // A string control becomes a path control.
  EXPECT_EQ(NewPathCtrl(p, ALL_NAME, 4, 1), 0);
  int kind = 0;
  GetCtrlAttribute(p, ALL_NAME, ATTR_CTRL_KIND, &kind);
  EXPECT_EQ(kind, CTRL_PATH);
  EXPECT_EQ(NewPathCtrl(p, ALL_COUNT, 4, 1), UIE_ATTR_NOT_VALID);
  EXPECT_EQ(SetPathCtrlAttribute(p, ALL_DIR, ATTR_PATH_CTRL_MAX_HISTORY, 3), 0);
  EXPECT_EQ(AddItemToPathCtrlHistory(p, ALL_DIR, "/data/a"), 0);
  EXPECT_EQ(AddItemToPathCtrlHistory(p, ALL_DIR, "/data/b"), 0);
  EXPECT_EQ(AddItemToPathCtrlHistory(p, ALL_DIR, "/data/run1"), 0);  // moves to the head
  const ui::model::Control *c = ui::model::find_panel(p)->control(ALL_DIR);
  EXPECT_EQ(c->history, (std::vector<std::string>{"/data/run1", "/data/b", "/data/a"}));
  EXPECT_EQ(SetPathCtrlAttribute(p, ALL_DIR, 77, 3), UIE_ATTR_INVALID);
  // The operator picks from the history.
  EXPECT_EQ(headless::select_index(p, ALL_DIR, 2), 0);
  char path[32];
  GetCtrlVal(p, ALL_DIR, path);
  EXPECT_STREQ(path, "/data/a");
}

TEST_F(UiValues, ControlAttributes) {
  const int p = load_all();
  // Set and read back every integer attribute a toggle takes.
  struct Row {
    int attribute;
    int value;
  };
  const Row rows[] = {{ATTR_DIMMED, 1},          {ATTR_VISIBLE, 0},        {ATTR_LEFT, 33},
                      {ATTR_TOP, 44},            {ATTR_WIDTH, 55},         {ATTR_HEIGHT, 22},
                      {ATTR_CTRL_MODE, 0},       {ATTR_LABEL_POINT_SIZE, 9}, {ATTR_TEXT_BGCOLOR, VAL_TRANSPARENT},
                      {ATTR_TEXT_COLOR, 0xFF0000}, {ATTR_FILL_COLOR, 0x123456}, {ATTR_ON_COLOR, 0x00FF00},
                      {ATTR_LABEL_TOP, 7},       {ATTR_LABEL_LEFT, 8},     {ATTR_SHORTCUT_KEY, 0x0500},
                      {ATTR_LABEL_VISIBLE, 0}};
  for (const Row &r : rows) {
    ASSERT_EQ(SetCtrlAttribute(p, ALL_POWER, r.attribute, r.value), 0) << r.attribute;
    int v = -1;
    ASSERT_EQ(GetCtrlAttribute(p, ALL_POWER, r.attribute, &v), 0) << r.attribute;
    EXPECT_EQ(v, r.value) << r.attribute;
  }
  // Texts.
  EXPECT_EQ(SetCtrlAttribute(p, ALL_POWER, ATTR_LABEL_TEXT, "Output 1"), 0);
  char label[6];
  EXPECT_EQ(GetCtrlAttribute(p, ALL_POWER, ATTR_LABEL_TEXT, label), 0);
  EXPECT_STREQ(label, "Outpu");
  EXPECT_EQ(SetCtrlAttribute(p, ALL_POWER, ATTR_TOOLTIP_TEXT, "Simple/Expanded View"), 0);
  // Callback data.
  int token = 0;
  EXPECT_EQ(SetCtrlAttribute(p, ALL_POWER, ATTR_CALLBACK_DATA, &token), 0);
  void *data = nullptr;
  EXPECT_EQ(GetCtrlAttribute(p, ALL_POWER, ATTR_CALLBACK_DATA, &data), 0);
  EXPECT_EQ(data, &token);
  EXPECT_EQ(SetCtrlAttribute(p, ALL_POWER, ATTR_CALLBACK_DATA, nullptr), 0);

  struct Bad {
    int control, attribute;
    int code;
  };
  const Bad bad[] = {
      {ALL_POWER, 4711, UIE_ATTR_INVALID},           {ALL_POWER, ATTR_INTERVAL, UIE_ATTR_NOT_VALID},
      {ALL_POWER, ATTR_MAX_VALUE, UIE_ATTR_NOT_VALID}, {ALL_COUNT, ATTR_ON_COLOR, UIE_ATTR_NOT_VALID},
      {ALL_POWER, ATTR_DATA_TYPE, UIE_ATTR_NOT_VALID}, {ALL_POWER, ATTR_LABEL_TEXT, UIE_TYPE_MISMATCH},
      {ALL_POWER, ATTR_CTRL_MODE, UIE_VALUE_INVALID}, {ALL_POWER, ATTR_TEXT_COLOR, UIE_VALUE_INVALID},
      {ALL_POWER, ATTR_WIDTH, UIE_VALUE_INVALID},     {99, ATTR_DIMMED, UIE_CTRL_INVALID},
  };
  for (const Bad &b : bad) {
    const int value = b.attribute == ATTR_CTRL_MODE ? 5 : b.attribute == ATTR_TEXT_COLOR ? 0x2000000 : -1;
    EXPECT_EQ(SetCtrlAttribute(p, b.control, b.attribute, value), b.code) << b.attribute;
  }
  EXPECT_EQ(SetCtrlAttribute(p, ALL_POWER, ATTR_LEFT, 1.5), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetCtrlAttribute(p, ALL_POWER, ATTR_LEFT, 5000000000LL), UIE_VALUE_INVALID);
  double real = 0;
  EXPECT_EQ(GetCtrlAttribute(p, ALL_POWER, ATTR_LEFT, &real), UIE_TYPE_MISMATCH);
  int i = 0;
  EXPECT_EQ(GetCtrlAttribute(p, ALL_POWER, ATTR_LABEL_TEXT, &i), UIE_TYPE_MISMATCH);
  EXPECT_EQ(GetCtrlAttribute(p, ALL_POWER, 4711, &i), UIE_ATTR_INVALID);

  // Timer attributes take a whole number for the interval too.
  EXPECT_EQ(SetCtrlAttribute(p, ALL_TIMER, ATTR_INTERVAL, 2), 0);
  EXPECT_EQ(GetCtrlAttribute(p, ALL_TIMER, ATTR_INTERVAL, &real), 0);
  EXPECT_DOUBLE_EQ(real, 2.0);
  EXPECT_EQ(SetCtrlAttribute(p, ALL_TIMER, ATTR_INTERVAL, 0.0), UIE_VALUE_INVALID);
  EXPECT_EQ(SetCtrlAttribute(p, ALL_TIMER, ATTR_ENABLED, 0), 0);

  // One attribute on a list of controls, stopping at the first bad one.
  EXPECT_EQ(SetAttributeForCtrls(p, ATTR_DIMMED, 1, 3, ALL_COUNT, ALL_LIMIT, ALL_GAIN), 0);
  int d1 = 0, d2 = 0;
  GetCtrlAttribute(p, ALL_COUNT, ATTR_DIMMED, &d1);
  GetCtrlAttribute(p, ALL_GAIN, ATTR_DIMMED, &d2);
  EXPECT_EQ(d1 + d2, 2);
  const int ids[] = {ALL_VOLT, 99, ALL_NAME};
  EXPECT_EQ(SetAttributeForCtrls(p, ATTR_VISIBLE, 0, ids), UIE_CTRL_INVALID);
  GetCtrlAttribute(p, ALL_NAME, ATTR_VISIBLE, &d1);
  EXPECT_EQ(d1, 1);
  EXPECT_EQ(SetAttributeForCtrls(p, ATTR_VISIBLE, 0, 4, ALL_VOLT, ALL_NAME), UIE_BAD_ARGUMENT);
}

TEST_F(UiValues, NewAndDiscardedControls) {
  const int p = NewPanel(0, "Help Panel", 10, 10, 100, 200);
  ASSERT_GT(p, 0);
  const int text = NewCtrl(p, CTRL_TEXT_MSG, 0, "", 0, 0, 20, 100);
  const int timer = NewCtrl(p, CTRL_TIMER, 0, "Help Timer", 0, 0, 0, 0);
  const int num = NewCtrl(p, CTRL_NUMERIC, VAL_SHORT_INTEGER, "n", 30, 0, 20, 60);
  EXPECT_GT(text, 0);
  EXPECT_GT(timer, text);
  EXPECT_GT(num, timer);
  EXPECT_EQ(NewCtrl(p, 99, 0, "", 0, 0, 1, 1), UIE_VALUE_INVALID);
  EXPECT_EQ(NewCtrl(p, CTRL_LED, VAL_DOUBLE, "", 0, 0, 1, 1), UIE_VALUE_INVALID);
  short s = 5;
  EXPECT_EQ(GetCtrlVal(p, num, &s), 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(SetCtrlVal(p, text, "Help text"), 0);
  EXPECT_EQ(DiscardCtrl(p, text), 0);
  EXPECT_EQ(SetCtrlVal(p, text, "x"), UIE_CTRL_INVALID);
  EXPECT_EQ(DiscardCtrl(p, text), UIE_CTRL_INVALID);
}

TEST_F(UiValues, PanelAttributes) {
  const int p = load_all();
  char title[64];
  EXPECT_EQ(SetPanelAttribute(p, ATTR_TITLE, "TRQ v.1.20  Emulation"), 0);
  EXPECT_EQ(GetPanelAttribute(p, ATTR_TITLE, title), 0);
  EXPECT_STREQ(title, "TRQ v.1.20  Emulation");
  struct Row {
    int attribute, value;
  };
  const Row rows[] = {{ATTR_TOP, 40},          {ATTR_LEFT, 50},         {ATTR_HEIGHT, 400},
                      {ATTR_WIDTH, 500},       {ATTR_WINDOW_ZOOM, 1},   {ATTR_FLOATING, VAL_FLOAT_ALWAYS},
                      {ATTR_FLOATING, 1},      {ATTR_SCALE_CONTENTS_ON_RESIZE, 1}, {ATTR_CLOSE_CTRL, ALL_LOAD},
                      {ATTR_DIMMED, 1},        {ATTR_VISIBLE, 0}};
  for (const Row &r : rows) {
    ASSERT_EQ(SetPanelAttribute(p, r.attribute, r.value), 0) << r.attribute;
    int v = -99;
    ASSERT_EQ(GetPanelAttribute(p, r.attribute, &v), 0) << r.attribute;
    EXPECT_EQ(v, r.value) << r.attribute;
  }
  EXPECT_EQ(SetPanelAttribute(p, ATTR_FLOATING, 7), UIE_VALUE_INVALID);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_WINDOW_ZOOM, 3), UIE_VALUE_INVALID);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_CLOSE_CTRL, 99), UIE_VALUE_INVALID);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_TITLE, 5), UIE_TYPE_MISMATCH);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_PANEL_PARENT, 5), UIE_ATTR_NOT_VALID);
  EXPECT_EQ(SetPanelAttribute(p, 4711, 5), UIE_ATTR_INVALID);
  EXPECT_EQ(SetPanelAttribute(p + 999, ATTR_TOP, 5), UIE_PANEL_INVALID);
  int i = 0;
  EXPECT_EQ(GetPanelAttribute(p, ATTR_TITLE, &i), UIE_TYPE_MISMATCH);
  // A page's size follows its tab control: a size asked for is taken without effect.
  int page_height = 0, height_after = 0;
  GetPanelAttribute(page(p, 0), ATTR_HEIGHT, &page_height);
  EXPECT_EQ(SetPanelAttribute(page(p, 0), ATTR_HEIGHT, 340), 0);
  EXPECT_EQ(SetPanelAttribute(page(p, 0), ATTR_WIDTH, 5), 0);
  GetPanelAttribute(page(p, 0), ATTR_HEIGHT, &height_after);
  EXPECT_EQ(height_after, page_height);
  EXPECT_EQ(SetPanelAttribute(page(p, 0), ATTR_HEIGHT, -1), UIE_VALUE_INVALID);
  EXPECT_EQ(SetPanelAttribute(page(p, 0), ATTR_TOP, 5), UIE_ATTR_NOT_VALID);
  // Centred, also by the value written as the unsigned 0x80000000.
  EXPECT_EQ(SetPanelAttribute(p, ATTR_TOP, VAL_AUTO_CENTER), 0);
  GetPanelAttribute(p, ATTR_TOP, &i);
  EXPECT_EQ(i, (1080 - 400) / 2);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_LEFT, 0x80000000), 0);
  GetPanelAttribute(p, ATTR_LEFT, &i);
  EXPECT_EQ(i, (1920 - 500) / 2);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_LEFT, 0x80000001LL), UIE_VALUE_INVALID);
}

TEST_F(UiValues, ScalingContentsOnResize) {
  const int p = load_all();  // 640 x 520
  // Off: controls keep their place.
  SetPanelAttribute(p, ATTR_WIDTH, 320);
  int left = 0, width = 0;
  GetCtrlAttribute(p, ALL_VOLT, ATTR_LEFT, &left);
  EXPECT_EQ(left, 320);
  SetPanelAttribute(p, ATTR_WIDTH, 640);
  // On: they scale with the panel, tab pages with their tab control.
  SetPanelAttribute(p, ATTR_SCALE_CONTENTS_ON_RESIZE, 1);
  SetPanelAttribute(page(p, 0), ATTR_SCALE_CONTENTS_ON_RESIZE, 1);
  SetPanelAttribute(p, ATTR_WIDTH, 320);
  GetCtrlAttribute(p, ALL_VOLT, ATTR_LEFT, &left);
  GetCtrlAttribute(p, ALL_VOLT, ATTR_WIDTH, &width);
  EXPECT_EQ(left, 160);
  EXPECT_EQ(width, 45);
  int tab_width = 0, page_width = 0, speed_left = 0;
  GetCtrlAttribute(p, ALL_TAB, ATTR_WIDTH, &tab_width);
  GetPanelAttribute(page(p, 0), ATTR_WIDTH, &page_width);
  GetCtrlAttribute(page(p, 0), 3, ATTR_LEFT, &speed_left);
  EXPECT_EQ(tab_width, 210);
  EXPECT_EQ(page_width, 210 - 2 * ui::model::kTabBorder);
  EXPECT_EQ(speed_left, 59);  // 120 * 206 / 416
  // Height alone leaves the widths.
  SetPanelAttribute(p, ATTR_HEIGHT, 260);
  int top = 0;
  GetCtrlAttribute(p, ALL_TAB, ATTR_TOP, &top);
  GetCtrlAttribute(p, ALL_VOLT, ATTR_WIDTH, &width);
  EXPECT_EQ(top, 160);
  EXPECT_EQ(width, 45);
}

TEST_F(UiValues, MonitorsAndScreen) {
  headless::set_monitors({{0, 0, 0, 1920, 1080}, {0, 0, 1920, 1280, 1024}}, 2);
  int n = 0, first = 0, primary = 0, next = -1, left = 0, width = 0, h = 0, w = 0;
  EXPECT_EQ(GetSystemAttribute(ATTR_NUM_MONITORS, &n), 0);
  EXPECT_EQ(n, 2);
  GetSystemAttribute(ATTR_FIRST_MONITOR, &first);
  GetSystemAttribute(ATTR_PRIMARY_MONITOR, &primary);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(primary, 2);
  GetMonitorAttribute(first, ATTR_NEXT_MONITOR, &next);
  EXPECT_EQ(next, 2);
  GetMonitorAttribute(next, ATTR_NEXT_MONITOR, &next);
  EXPECT_EQ(next, 0);
  GetMonitorAttribute(2, ATTR_LEFT, &left);
  GetMonitorAttribute(2, ATTR_WIDTH, &width);
  EXPECT_EQ(left, 1920);
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(GetMonitorAttribute(3, ATTR_LEFT, &left), UIE_VALUE_INVALID);
  EXPECT_EQ(GetMonitorAttribute(1, ATTR_TITLE, &left), UIE_ATTR_INVALID);
  GetScreenSize(&h, &w);
  EXPECT_EQ(h, 1024);
  EXPECT_EQ(w, 1280);
  // A centred panel opens on the primary monitor.
  const int p = LoadPanel(0, resource().c_str(), PNL_POPUP);
  GetPanelAttribute(p, ATTR_LEFT, &left);
  EXPECT_EQ(left, 1920 + (1280 - 300) / 2);
  // System attribute 1420 is kept; the monitor ones are read only.
  EXPECT_EQ(SetSystemAttribute(ATTR_SYSTEM_1420, 0), 0);
  EXPECT_EQ(SetSystemAttribute(ATTR_NUM_MONITORS, 3), UIE_ATTR_NOT_VALID);
  EXPECT_EQ(GetSystemAttribute(4711, &n), UIE_ATTR_INVALID);
  EXPECT_EQ(SetSleepPolicy(3), 0);
  EXPECT_EQ(SetSleepPolicy(9), UIE_VALUE_INVALID);
}

TEST_F(UiValues, PanelWalkAndBoundingRect) {
  const int a = load_all();
  const int b = LoadPanel(0, resource().c_str(), PNL_POPUP);
  const int child = LoadPanel(a, resource().c_str(), PNL_PAGE);
  int first = 0, next = 0;
  GetSystemAttribute(ATTR_FIRST_TOP_PANEL, &first);
  EXPECT_EQ(first, a);
  GetPanelAttribute(a, ATTR_NEXT_PANEL, &next);
  EXPECT_EQ(next, b);
  GetPanelAttribute(b, ATTR_NEXT_PANEL, &next);
  EXPECT_EQ(next, 0);
  GetPanelAttribute(child, ATTR_NEXT_PANEL, &next);
  EXPECT_EQ(next, 0);
  int top, left, height, width;
  EXPECT_EQ(GetCtrlBoundingRect(a, ALL_POWER, &top, &left, &height, &width), 0);
  EXPECT_EQ(top, 30 - 16);  // the label above
  EXPECT_EQ(left, 130);
  EXPECT_EQ(height, 24 + 16);
  EXPECT_EQ(GetCtrlBoundingRect(a, ALL_LOAD, &top, &left, &height, &width), 0);
  EXPECT_EQ(top, 22);  // a button's label is on its face
  EXPECT_EQ(height, 26);
}

}  // namespace
