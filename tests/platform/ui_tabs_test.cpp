// Tab pages inserted as copies, and every call with handles that do not exist.
#include <string>

#include "platform/ui/model.h"
#include "tests/platform/ui_fixture.h"

using namespace uitest;
namespace ui = platform::ui;
namespace headless = platform::ui::headless;

namespace {

using UiTabs = UiTest;

TEST_F(UiTabs, InsertedPageIsACopyWithItsOwnHandle) {
  const int p = load_all();
  const int original = LoadPanel(p, resource().c_str(), PNL_PAGE);
  SetCtrlVal(original, 3, "from the original");
  SetActiveTabPage(p, ALL_TAB, 1);
  // At the front: the active page stays the one it was.
  EXPECT_EQ(InsertPanelAsTabPage(p, ALL_TAB, 0, original), 0);
  int active = -1, pages = 0;
  GetActiveTabPage(p, ALL_TAB, &active);
  GetNumTabPages(p, ALL_TAB, &pages);
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(active, 2);
  // Appended (-1, or past the end).
  EXPECT_EQ(InsertPanelAsTabPage(p, ALL_TAB, -1, original), 3);
  EXPECT_EQ(InsertPanelAsTabPage(p, ALL_TAB, 99, original), 4);
  const int copy = page(p, 0);
  EXPECT_NE(copy, original);
  std::string title, text;
  GetPanelAttribute(copy, ATTR_TITLE, &title);
  GetCtrlVal(copy, 3, &text);
  EXPECT_EQ(title, "Inserted");  // its tab's label
  EXPECT_EQ(text, "from the original");
  // The copy lives on without the original and keeps its callbacks.
  DiscardPanel(original);
  SetActiveTabPage(p, ALL_TAB, 0);
  headless::clear_events();
  EXPECT_EQ(headless::click(copy, 2), 0);
  ASSERT_FALSE(headless::events().empty());
  EXPECT_EQ(headless::events().front().panel, copy);
  std::string callback;
  GetPanelAttribute(copy, ATTR_CALLBACK_NAME, &callback);
  EXPECT_EQ(callback, "TestPanel");
  // A page that is not the active one takes no input; discarding a page closes its tab.
  EXPECT_EQ(headless::click(page(p, 3), 2), UIE_NOT_OPERABLE);
  DiscardPanel(copy);
  GetNumTabPages(p, ALL_TAB, &pages);
  GetActiveTabPage(p, ALL_TAB, &active);
  EXPECT_EQ(pages, 4);
  EXPECT_EQ(active, 0);
  // Pages are not hidden one by one, nor inserted into a control that is no tab.
  EXPECT_EQ(HidePanel(page(p, 0)), UIE_ATTR_NOT_VALID);
  EXPECT_EQ(InsertPanelAsTabPage(p, ALL_POWER, 0, p), UIE_ATTR_NOT_VALID);
  EXPECT_EQ(InsertPanelAsTabPage(p, ALL_TAB, 0, p), UIE_VALUE_INVALID);
  EXPECT_EQ(InsertPanelAsTabPage(p, ALL_TAB, 0, 9999), UIE_PANEL_INVALID);
  EXPECT_EQ(SetActiveTabPage(p, ALL_TAB, 4), UIE_INDEX_INVALID);
  EXPECT_EQ(SetCtrlVal(p, ALL_TAB, 2), 0);  // the value of a tab control is its active page
  GetActiveTabPage(p, ALL_TAB, &active);
  EXPECT_EQ(active, 2);
}

// Every call on a panel, control or menu bar that does not exist answers with
// a negative result and touches nothing.
TEST_F(UiTabs, UnknownHandlesAreRefused) {
  const int p = load_all();
  const int bad = 9999;
  int i = 0;
  short s = 0;
  float f = 0;
  double d = 0;
  char text[8];
  std::string str;
  void *ptr = nullptr;
  const int results[] = {
      DiscardPanel(bad), DisplayPanel(bad), HidePanel(bad), SetActivePanel(bad), InstallPopup(bad),
      EnableDragAndDrop(bad), DisableDragAndDrop(bad), GetPanelAttribute(bad, ATTR_TOP, &i),
      GetPanelAttribute(bad, ATTR_TITLE, text), GetPanelAttribute(bad, ATTR_CALLBACK_DATA, &ptr),
      SetPanelAttribute(bad, ATTR_TOP, 1), SetPanelAttribute(bad, ATTR_TITLE, "x"),
      InstallPanelCallback(bad, nullptr, nullptr), InsertPanelAsTabPage(bad, ALL_TAB, 0, p),
      GetPanelHandleFromTabPage(bad, ALL_TAB, 0, &i), SetActiveTabPage(bad, ALL_TAB, 0),
      GetActiveTabPage(bad, ALL_TAB, &i), GetNumTabPages(bad, ALL_TAB, &i),
      NewCtrl(bad, CTRL_LED, 0, "", 0, 0, 1, 1), DiscardCtrl(bad, 2), InstallCtrlCallback(bad, 2, nullptr, nullptr),
      SetActiveCtrl(bad, 2), GetActiveCtrl(bad), GetCtrlBoundingRect(bad, 2, &i, &i, &i, &i),
      SetCtrlVal(bad, 2, 1), SetCtrlVal(bad, 2, 1.0), SetCtrlVal(bad, 2, "x"), GetCtrlVal(bad, 2, &i),
      GetCtrlVal(bad, 2, &s), GetCtrlVal(bad, 2, &f), GetCtrlVal(bad, 2, &d), GetCtrlVal(bad, 2, text),
      GetCtrlVal(bad, 2, &str), GetCtrlAttribute(bad, 2, ATTR_TOP, &i), GetCtrlAttribute(bad, 2, ATTR_TOP, &d),
      GetCtrlAttribute(bad, 2, ATTR_LABEL_TEXT, text), SetCtrlAttribute(bad, 2, ATTR_TOP, 1),
      SetCtrlAttribute(bad, 2, ATTR_LABEL_TEXT, "x"), SetAttributeForCtrls(bad, ATTR_DIMMED, 1, 1, 2),
      InsertListItem(bad, 2, 0, "x", 1), ReplaceListItem(bad, 2, 0, "x", 1), DeleteListItem(bad, 2, 0, 1),
      ClearListCtrl(bad, 2), GetNumListItems(bad, 2, &i), GetCtrlIndex(bad, 2, &i), SetCtrlIndex(bad, 2, 0),
      GetLabelFromIndex(bad, 2, 0, text), GetValueFromIndex(bad, 2, 0, &i), GetIndexFromValue(bad, 2, &i, 0),
      ResetTextBox(bad, 2, ""), GetNumTextBoxLines(bad, 2, &i), GetTextBoxLine(bad, 2, 0, text),
      NewPathCtrl(bad, 2, 1, 0), SetPathCtrlAttribute(bad, 2, 1, 1), AddItemToPathCtrlHistory(bad, 2, "/"),
      LoadMenuBar(bad, resource().c_str(), MB_MAIN), DiscardMenuBar(bad), GetMenuBarAttribute(bad, 2, ATTR_CHECKED, &i),
      SetMenuBarAttribute(bad, 2, ATTR_CHECKED, 1), RunPopupMenu(bad, 1, p, 0, 0),
      GetRelativeMouseState(bad, 0, &i, &i, &i), SavePanelDisplayToFile(bad, 0, 0, 0, 0, "/tmp/x.png"),
      LoadPanel(bad, resource().c_str(), PNL_PAGE),
  };
  for (std::size_t k = 0; k < std::size(results); ++k) EXPECT_LT(results[k], 0) << "call " << k;
  // The same on a control that does not exist.
  const int missing = 99;
  EXPECT_EQ(GetCtrlVal(p, missing, &i), UIE_CTRL_INVALID);
  EXPECT_EQ(SetCtrlAttribute(p, missing, ATTR_DIMMED, 1), UIE_CTRL_INVALID);
  EXPECT_EQ(InsertListItem(p, missing, 0, "x", 1), UIE_CTRL_INVALID);
  EXPECT_EQ(GetActiveTabPage(p, missing, &i), UIE_CTRL_INVALID);
  EXPECT_EQ(headless::tick(p, missing), UIE_CTRL_INVALID);
  // Nothing changed on the panel that exists.
  int count = 0;
  GetCtrlVal(p, ALL_COUNT, &count);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(SavePanelDisplayToFile(p, 0, 0, 0, 0, "/tmp/x.png"), UIE_NO_VIEW);
  EXPECT_STRNE(GetUILErrorString(UIE_TYPE_MISMATCH), GetUILErrorString(-999));
}

}  // namespace

namespace {

// A child panel installed as a popup is a window of its own: it takes input
// while the panel it belongs to is hidden or dimmed.
TEST_F(UiTabs, ChildPopupTakesInputOfItsOwn) {
  const int main = load_all();
  const int popup = LoadPanel(main, resource().c_str(), PNL_POPUP);
  EXPECT_EQ(headless::click(popup, POPUP_QUIT), UIE_NOT_OPERABLE);  // not shown yet
  SetPanelAttribute(main, ATTR_DIMMED, 1);
  InstallPopup(popup);
  EXPECT_EQ(headless::click(popup, POPUP_QUIT), 0);
  EXPECT_EQ(InstallPopup(popup), UIE_VALUE_INVALID);  // already installed
  RemovePopup(0);
  EXPECT_EQ(headless::click(popup, POPUP_QUIT), UIE_NOT_OPERABLE);
}

}  // namespace

TEST_F(UiTabs, ADimmedTabControlDimsItsPages) {
  const int p = load_all();
  const int first = page(p, 0);
  ASSERT_EQ(SetCtrlAttribute(p, ALL_TAB, ATTR_DIMMED, 1), 0);
  EXPECT_EQ(headless::click(first, 2), UIE_NOT_OPERABLE);
  EXPECT_EQ(headless::select_tab(p, ALL_TAB, 1), UIE_NOT_OPERABLE);
  EXPECT_FALSE(ui::model::accepts_input(first));
  SetCtrlAttribute(p, ALL_TAB, ATTR_DIMMED, 0);
  EXPECT_EQ(headless::click(first, 2), 0);
}
