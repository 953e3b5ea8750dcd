// Panel decoration attributes, labels that follow their control, text fonts
// and sizes, print attributes.
#include "tests/platform/ui_fixture.h"

namespace {

using namespace uitest;

class UiTextPrint : public UiTest {};

TEST_F(UiTextPrint, PanelDecorationIsKeptAndChecked) {
  const int p = NewPanel(0, "Help Panel", 10, 10, 50, 80);
  int v = -1;
  EXPECT_EQ(GetPanelAttribute(p, ATTR_TITLEBAR_VISIBLE, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(GetPanelAttribute(p, ATTR_TITLEBAR_THICKNESS, &v), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_TITLEBAR_VISIBLE, 0), 0);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_TITLEBAR_THICKNESS, 23), 0);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_FRAME_THICKNESS, 4), 0);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_FRAME_THICKNESS, -1), UIE_VALUE_INVALID);
  EXPECT_EQ(SetPanelAttribute(p, ATTR_TITLEBAR_THICKNESS, "x"), UIE_TYPE_MISMATCH);
  GetPanelAttribute(p, ATTR_TITLEBAR_VISIBLE, &v);
  EXPECT_EQ(v, 0);
  GetPanelAttribute(p, ATTR_TITLEBAR_THICKNESS, &v);
  EXPECT_EQ(v, 23);
  GetPanelAttribute(p, ATTR_FRAME_THICKNESS, &v);
  EXPECT_EQ(v, 4);
}

TEST_F(UiTextPrint, TextFontAndSizeOfAControl) {
  const int p = NewPanel(0, "", 0, 0, 100, 100);
  const int c = NewCtrl(p, CTRL_TEXT_MSG, 0, "", 0, 0, 10, 10);
  EXPECT_EQ(SetCtrlAttribute(p, c, ATTR_TEXT_FONT, "NIAppMetaFont"), 0);
  EXPECT_EQ(SetCtrlAttribute(p, c, ATTR_TEXT_POINT_SIZE, 12), 0);
  EXPECT_EQ(SetCtrlAttribute(p, c, ATTR_TEXT_POINT_SIZE, -2), UIE_VALUE_INVALID);
  char font[32];
  int size = 0;
  EXPECT_EQ(GetCtrlAttribute(p, c, ATTR_TEXT_FONT, font), 0);
  EXPECT_STREQ(font, "NIAppMetaFont");
  EXPECT_EQ(GetCtrlAttribute(p, c, ATTR_TEXT_POINT_SIZE, &size), 0);
  EXPECT_EQ(size, 12);
}

TEST_F(UiTextPrint, MovingAControlMovesItsLabel) {
  const int p = NewPanel(0, "", 0, 0, 200, 200);
  const int c = NewCtrl(p, CTRL_NUMERIC, VAL_INTEGER, "Gain", 50, 40, 20, 60);
  int lt = 0, ll = 0;
  GetCtrlAttribute(p, c, ATTR_LABEL_TOP, &lt);
  GetCtrlAttribute(p, c, ATTR_LABEL_LEFT, &ll);
  ASSERT_EQ(SetCtrlAttribute(p, c, ATTR_TOP, 80), 0);
  ASSERT_EQ(SetCtrlAttribute(p, c, ATTR_LEFT, 10), 0);
  int t = 0, l = 0;
  GetCtrlAttribute(p, c, ATTR_LABEL_TOP, &t);
  GetCtrlAttribute(p, c, ATTR_LABEL_LEFT, &l);
  EXPECT_EQ(t, lt + 30);
  EXPECT_EQ(l, ll - 30);
  int rt = 0, rl = 0, rh = 0, rw = 0;
  GetCtrlBoundingRect(p, c, &rt, &rl, &rh, &rw);
  EXPECT_EQ(rt, t);
  EXPECT_EQ(rl, 10);
}

TEST_F(UiTextPrint, TextSizeWithoutAViewIsAnEstimate) {
  struct Case {
    const char *text;
    int points, height, width;
  };
  const Case cases[] = {
      {"Help", 12, 18, 29}, {"", 12, 18, 0}, {"ab\nlonger\n", 10, 45, 36}, {"x", 0, 20, 8},
  };
  for (const Case &c : cases) {
    int h = -1, w = -1;
    EXPECT_EQ(GetTextDisplaySize(c.text, "NIAppMetaFont", c.points, &h, &w), 0) << c.text;
    EXPECT_EQ(h, c.height) << c.text;
    EXPECT_EQ(w, c.width) << c.text;
  }
  int h = 0;
  EXPECT_EQ(GetTextDisplaySize(nullptr, "", 12, &h, &h), UIE_BAD_ARGUMENT);
}

TEST_F(UiTextPrint, PrintAttributesAreKeptByNumber) {
  int v = 0;
  EXPECT_EQ(GetPrintAttribute(ATTR_ORIENTATION, &v), 0);
  EXPECT_EQ(v, VAL_PORTRAIT);
  EXPECT_EQ(SetPrintAttribute(ATTR_ORIENTATION, VAL_LANDSCAPE), 0);
  EXPECT_EQ(SetPrintAttribute(ATTR_ORIENTATION, 7), UIE_VALUE_INVALID);
  EXPECT_EQ(SetPrintAttribute(1327, -1), 0);
  EXPECT_EQ(SetPrintAttribute(1311, 1), UIE_ATTR_INVALID);
  EXPECT_EQ(GetPrintAttribute(1299, &v), UIE_ATTR_INVALID);
  GetPrintAttribute(ATTR_ORIENTATION, &v);
  EXPECT_EQ(v, VAL_LANDSCAPE);
  GetPrintAttribute(1327, &v);
  EXPECT_EQ(v, -1);
  platform::ui::headless::reset();
  GetPrintAttribute(1327, &v);
  EXPECT_EQ(v, 0);
}

}  // namespace
