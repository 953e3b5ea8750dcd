// kmv_meas.uir offers every panel, control and menu item the program uses,
// with the kind, data type and callback each use relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/kmv_meas.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "tests/app/ui_app_fixture.h"
#include "tests/testsupport/testsupport.h"

namespace {

struct Use {
  int panel;
  std::vector<int> controls;
  int kind;
  int data_type;         // -1: any
  const char *callback;  // nullptr: none needed
};

std::vector<int> range(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

std::vector<int> join(std::vector<int> a, const std::vector<int> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<Use> &uses() {
  static const std::vector<Use> all = {
      // main window
      {PANEL_MAIN_USB, range(2, 11), CTRL_TOGGLE, VAL_INTEGER, "TrqCtrlCallback"},
      {PANEL_MAIN_USB, join(range(12, 15), range(17, 20)), CTRL_LED, VAL_INTEGER, nullptr},
      {PANEL_MAIN_USB, {16, 21, 47}, CTRL_COMMAND_BUTTON, -1, "TrqCtrlCallback"},
      {PANEL_MAIN_USB, range(22, 29), CTRL_TEXT_MSG, -1, nullptr},
      {PANEL_MAIN_USB, range(30, 37), CTRL_COMMAND_BUTTON, -1, "TrqCtrlCallback"},
      {PANEL_MAIN_USB, range(38, 45), CTRL_DECORATION, -1, nullptr},
      {PANEL_MAIN_USB, {46}, CTRL_TAB, -1, nullptr},
      {PANEL_MAIN_USB, {48}, CTRL_COMMAND_BUTTON, -1, "ExitCallbackUsb"},
      {PANEL_MAIN_USB, {49}, CTRL_TIMER, -1, "TimerCallback"},
      {PANEL_MAIN_USB, {50, 52}, CTRL_TEXT_MSG, -1, nullptr},
      {PANEL_MAIN_USB, {51}, CTRL_STRING, VAL_STRING, "TrqCtrlCallback"},
      // configuration page
      {PANEL_CONF, join(join(range(2, 4), range(9, 11)), join(range(18, 20), range(25, 27))), CTRL_TOGGLE,
       VAL_INTEGER, "MainCtrlCallback"},
      {PANEL_CONF, join(join(range(40, 42), range(47, 49)), join(range(54, 56), range(61, 63))), CTRL_TOGGLE,
       VAL_INTEGER, "MainCtrlCallback"},
      {PANEL_CONF, {6, 13, 22, 29, 44, 51, 58, 65}, CTRL_TOGGLE, VAL_INTEGER, "MainCtrlCallback"},
      {PANEL_CONF, {5, 12, 21, 28, 43, 50, 57, 64, 7, 14, 23, 30, 45, 52, 59, 66, 8, 15, 24, 31, 46, 53, 60, 67},
       CTRL_NUMERIC, VAL_FLOAT, "MainCtrlCallback"},
      {PANEL_CONF, range(32, 39), CTRL_TOGGLE, VAL_INTEGER, "MainCtrlCallback"},
      {PANEL_CONF, range(68, 75), CTRL_TOGGLE, VAL_INTEGER, "MainCtrlCallback"},
      {PANEL_CONF, {16, 17}, CTRL_COMMAND_BUTTON, -1, "MainCtrlCallback"},
      {PANEL_CONF, {112}, CTRL_STRING, VAL_STRING, "MainCtrlCallback"},
      {PANEL_CONF, join(range(76, 111), range(113, 114)), -1, -1, nullptr},
      // EEPROM page
      {PANEL_TRQEEP, {4, 5, 6, 17, 18, 19}, CTRL_STRING, VAL_STRING, "TRQ_AdjustCallback"},
      {PANEL_TRQEEP, {7, 8, 20, 21}, CTRL_COMMAND_BUTTON, -1, "TRQ_AdjustCallback"},
      {PANEL_TRQEEP, {9, 22}, CTRL_NUMERIC, VAL_INTEGER, "TRQ_AdjustCallback"},
      {PANEL_TRQEEP, join(range(11, 14), range(24, 27)), CTRL_NUMERIC, VAL_SHORT_INTEGER, "TRQ_AdjustCallback"},
      {PANEL_TRQEEP, {2, 3, 10, 15, 16, 23}, -1, -1, nullptr},
      // options page
      {PANEL_TRQOPT, {2}, CTRL_STRING, VAL_STRING, "OptCtrlCallback"},
      {PANEL_TRQOPT, {3}, CTRL_COMMAND_BUTTON, -1, "OptCtrlCallback"},
      {PANEL_TRQOPT, join(join(range(4, 10), range(13, 17)), {}), CTRL_CHECK_BOX, VAL_INTEGER, "OptCtrlCallback"},
      {PANEL_TRQOPT, {18}, -1, -1, nullptr},
      {PANEL_TRQOPT, {19}, CTRL_COMMAND_BUTTON, -1, "SaveTrqCallback"},
      {PANEL_TRQOPT, {20}, CTRL_COMMAND_BUTTON, -1, "LoadTrqCallback"},
      // start-up dialog and module list
      {PANEL_INFOU, {6, 7, 10}, CTRL_COMMAND_BUTTON, -1, nullptr},
      {PANEL_INFOU, {8, 13, 14, 16}, CTRL_TEXT_MSG, -1, nullptr},
      {PANEL_INFOU, {9}, CTRL_RING, VAL_INTEGER, nullptr},
      {PANEL_MODLIST, range(2, 5), CTRL_CHECK_BOX, VAL_INTEGER, nullptr},
      {PANEL_MODLIST, range(6, 9), CTRL_TEXT_MSG, -1, nullptr},
      // quit popup
      {PANEL_QUIT, {2, 3}, CTRL_COMMAND_BUTTON, -1, nullptr},
      {PANEL_QUIT, {4}, CTRL_CHECK_BOX, VAL_INTEGER, nullptr},
      // setup-file dialogs
      {PANEL_LOAD, {2}, CTRL_STRING, VAL_STRING, nullptr},
      {PANEL_LOAD, {3, 5, 6}, CTRL_COMMAND_BUTTON, -1, nullptr},
      {PANEL_LOAD, {4}, CTRL_TEXT_BOX, -1, nullptr},
      {PANEL_LOAD, {7}, CTRL_LIST_BOX, VAL_INTEGER, nullptr},
      {PANEL_LOAD, {9, 10}, CTRL_TEXT_MSG, -1, nullptr},
      {PANEL_SAVE, {2, 7, 8, 9}, CTRL_STRING, VAL_STRING, nullptr},
      {PANEL_SAVE, {3, 5, 6}, CTRL_COMMAND_BUTTON, -1, nullptr},
      {PANEL_SAVE, {4, 10}, CTRL_TEXT_BOX, -1, nullptr},
      {PANEL_SAVE, {11}, CTRL_LIST_BOX, VAL_INTEGER, nullptr},
      {PANEL_SAVE, {12}, CTRL_TEXT_MSG, -1, nullptr},
      // PCI card adjust panel
      {PANEL_ADJUST, {2, 3}, CTRL_STRING, VAL_STRING, "AdjustCallback"},
      {PANEL_ADJUST, {4, 5}, CTRL_NUMERIC, VAL_SHORT_INTEGER, "AdjustCallback"},
      {PANEL_ADJUST, {6, 7, 8}, CTRL_COMMAND_BUTTON, -1, "AdjustCallback"},
      {PANEL_ADJUST, {9}, CTRL_NUMERIC, VAL_INTEGER, "AdjustCallback"},
      {PANEL_ADJUST, {10}, CTRL_RING, VAL_INTEGER, "AdjustCallback"},
  };
  return all;
}

class PanelResource : public apptest::UiAppFixture {};

TEST_F(PanelResource, EveryPanelOffersTheControlsItsPartsUse) {
  const std::string file = testsupport::source_path("resources/kmv_meas.uir");
  for (int id : {PANEL_ADJUST, PANEL_CONF, PANEL_TRQEEP, PANEL_TRQOPT, PANEL_QUIT, PANEL_INFOU, PANEL_LOAD,
                 PANEL_MAIN_USB, PANEL_MODLIST, PANEL_SAVE, PANEL_EEP_DONE}) {
    const int h = LoadPanel(0, file.c_str(), id);
    ASSERT_GT(h, 0) << "panel " << id << ": " << platform::ui::last_error_detail();
    for (const Use &u : uses()) {
      if (u.panel != id) continue;
      for (int c : u.controls) {
        int kind = 0, type = 0;
        ASSERT_EQ(GetCtrlAttribute(h, c, ATTR_CTRL_KIND, &kind), 0) << "panel " << id << " control " << c;
        if (u.kind >= 0) {
          EXPECT_EQ(kind, u.kind) << "panel " << id << " control " << c;
        }
        if (u.data_type >= 0) {
          GetCtrlAttribute(h, c, ATTR_DATA_TYPE, &type);

          EXPECT_EQ(type, u.data_type) << "panel " << id << " control " << c;
        }
        if (u.callback != nullptr) {
          std::string name;
          GetCtrlAttribute(h, c, ATTR_CALLBACK_NAME, &name);
          EXPECT_EQ(name, u.callback) << "panel " << id << " control " << c;
        }
      }
    }
    DiscardPanel(h);
  }
}

TEST_F(PanelResource, FixedDetailsOfTheDialogs) {
  const std::string file = testsupport::source_path("resources/kmv_meas.uir");
  const int load = LoadPanel(0, file.c_str(), PANEL_LOAD);
  int key = 0, dimmed = 0;
  GetCtrlAttribute(load, LOAD_LOAD, ATTR_SHORTCUT_KEY, &key);
  GetCtrlAttribute(load, LOAD_LOAD, ATTR_DIMMED, &dimmed);
  EXPECT_EQ(key, 0x1800);
  EXPECT_EQ(dimmed, 1);
  std::string text;
  GetCtrlVal(load, LOAD_MESSAGE, &text);
  EXPECT_EQ(text, "Loading TRQ Setup  File will overide all device parameters");
  // Close boxes act as cancel (quit popup, load and save dialogs) and quit (main window).
  const struct {
    int panel, control;
  } closes[] = {{PANEL_LOAD, LOAD_CANCEL}, {PANEL_SAVE, SAVE_CANCEL}, {PANEL_QUIT, QUIT_CANCEL},
                {PANEL_MAIN_USB, MAIN_QUIT}, {PANEL_INFOU, INFOU_LEAVE}};
  for (const auto &c : closes) {
    const int h = LoadPanel(0, file.c_str(), c.panel);
    int close = 0;
    GetPanelAttribute(h, ATTR_CLOSE_CTRL, &close);
    EXPECT_EQ(close, c.control) << c.panel;
  }
  const int quit = LoadPanel(0, file.c_str(), PANEL_QUIT);
  int save = 0;
  GetCtrlVal(quit, QUIT_SAVE_SETUP, &save);
  EXPECT_EQ(save, 1);
  // The label editors hold one label entry.
  const int conf = LoadPanel(0, file.c_str(), PANEL_CONF);
  const int main = LoadPanel(0, file.c_str(), PANEL_MAIN_USB);
  int len = 0;
  GetCtrlAttribute(conf, CONF_LABEL_EDIT, ATTR_MAX_ENTRY_LENGTH, &len);
  EXPECT_EQ(len, 11);
  GetCtrlAttribute(main, MAIN_LABEL_EDIT, ATTR_MAX_ENTRY_LENGTH, &len);
  EXPECT_EQ(len, 11);
  // The timer starts stopped: the window set-up starts it.
  int enabled = 1;
  GetCtrlAttribute(main, MAIN_TIMER, ATTR_ENABLED, &enabled);
  EXPECT_EQ(enabled, 0);
}

TEST_F(PanelResource, TheContextMenusOfferTheirItems) {
  const std::string file = testsupport::source_path("resources/kmv_meas.uir");
  const struct {
    int bar;
    std::vector<int> items;
  } bars[] = {{MENUBAR_DIGOUT, {MENU_ITEM_RENAME, MENU_ITEM_TOGGLE, MENU_ITEM_MOMENTARY, MENU_ITEM_INVERT}},
              {MENUBAR_LABEL, {MENU_ITEM_RENAME, MENU_ITEM_SCALE, MENU_ITEM_FLOAT, MENU_ITEM_EN_OUT}}};
  for (const auto &b : bars) {
    const int bar = LoadMenuBar(0, file.c_str(), b.bar);
    ASSERT_GT(bar, 0) << platform::ui::last_error_detail();
    for (int item : b.items) {
      int checked = -1;
      EXPECT_EQ(GetMenuBarAttribute(bar, item, ATTR_CHECKED, &checked), 0) << b.bar << " " << item;
    }
    DiscardMenuBar(bar);
  }
}

}  // namespace
