#pragma once
// The panel model behind the calls of ui.h, read by the views (Qt) and by
// tests. Views never change it directly: operator input goes through input.h.
// Pointers returned here are valid until the next call that changes the model
// (any ui.h call or operator input); look up again after a callback ran.
#include <string>
#include <variant>
#include <vector>

#include "platform/ui/ui.h"

namespace platform::ui::model {

enum class Kind : int {
  command_button = CTRL_COMMAND_BUTTON,
  toggle = CTRL_TOGGLE,
  check_box = CTRL_CHECK_BOX,
  numeric = CTRL_NUMERIC,
  string = CTRL_STRING,
  text_message = CTRL_TEXT_MSG,
  text_box = CTRL_TEXT_BOX,
  led = CTRL_LED,
  ring = CTRL_RING,
  list_box = CTRL_LIST_BOX,
  tab = CTRL_TAB,
  timer = CTRL_TIMER,
  path = CTRL_PATH,
  decoration = CTRL_DECORATION,
};
// The resource file's name of a kind ("command_button", ...), and back (false when unknown).
const char *kind_name(Kind kind);
bool kind_from_name(const std::string &name, Kind *kind);

// Kinds that show their label beside the control (a button shows it on its face).
bool label_outside(Kind kind);

// A value in one of the data types; monostate for kinds without a value.
using Value = std::variant<std::monostate, int, short, float, double, std::string>;
int data_type_of(const Value &v);

struct ListItem {
  std::string label;
  Value value;
};

// Tab control geometry: pages fill the control below its row of tabs.
constexpr int kTabBarHeight = 24;
constexpr int kTabBorder = 2;

struct Control {
  int id = 0;
  Kind kind = Kind::decoration;
  int data_type = VAL_NO_TYPE;
  int top = 0, left = 0, width = 0, height = 0;
  std::string label;
  int label_top = 0, label_left = 0, label_size = 0;  // size 0: the view's default
  bool label_visible = true;
  bool dimmed = false, visible = true;
  int mode = VAL_HOT;
  Value value;
  // Typed by the operator and not yet committed: Enter or the focus leaving commits it.
  // A text is the value at once; a number waits in typed until then.
  bool edited = false;
  Value typed;
  double min = 0, max = 0;  // numeric range, in the control's type
  int precision = 2;
  int max_length = 0;  // string, path: 0 = no limit
  std::vector<ListItem> items;  // ring, list box
  int index = -1;               // selected item
  std::vector<std::string> history;  // path control, most recent first
  int max_history = 10, visible_history = 4;
  bool directories_only = false;
  std::vector<int> pages;  // tab control: page panel handles in order
  double interval = 1.0;   // timer
  bool enabled = true;
  double next_due = 0;
  bool ticking = false;
  int text_color = 0x000000, back_color = VAL_TRANSPARENT, fill_color = 0xD4D0C8, on_color = 0x00C000;
  std::string tooltip;
  std::string text_font;  // "" the view's
  int text_size = 0;      // 0 the view's
  int shortcut = 0;
  int first_line = 0, hscroll = 0;
  std::string callback_name;
  CtrlCallbackPtr callback = nullptr;
  void *callback_data = nullptr;
};

struct Panel {
  int handle = 0;
  int resource_id = 0;
  std::string name, file;
  int parent = 0;
  int tab_control = 0;  // a tab page: the tab control of the parent that holds it
  std::string title;
  int top = 0, left = 0, width = 0, height = 0;
  bool visible = false, dimmed = false;
  int zoom = VAL_NO_ZOOM;
  int floating = VAL_FLOAT_NEVER;
  bool scale_contents = false;
  int close_ctrl = 0;
  int back_color = 0xECE9D8;
  // Window decoration as GetPanelBoundingRect counts it: the view draws child
  // panels without either, a window manager frames top-level ones.
  bool titlebar_visible = true;
  int titlebar_thickness = 0, frame_thickness = 0;
  std::vector<Control> controls;  // in resource order, which is the tab order
  int active_ctrl = 0;
  std::string callback_name;
  PanelCallbackPtr callback = nullptr;
  void *callback_data = nullptr;
  bool drops = false;
  int menubar = 0;  // the menu bar shown in the panel (0 none)
  std::vector<int> children;  // child panels (not tab pages), in load order

  const Control *control(int id) const;
  Control *control(int id);
};

struct MenuItem {
  int id = 0;
  std::string label;
  bool checked = false, dimmed = false;
  std::string callback_name;
  MenuCallbackPtr callback = nullptr;
  void *callback_data = nullptr;
};

struct Menu {
  int id = 0;
  std::string label;
  bool dimmed = false;
  std::vector<MenuItem> items;
};

struct MenuBar {
  int handle = 0;
  int resource_id = 0;
  int panel = 0;  // loaded for this panel, discarded with it (0: none)
  bool context = false;  // only run as popup menus, never shown in a panel
  std::vector<Menu> menus;

  const MenuItem *item(int id) const;
  const Menu *menu(int id) const;
};

struct Monitor {
  int id = 0;
  int top = 0, left = 0, width = 0, height = 0;
};

const Panel *find_panel(int handle);
const MenuBar *find_menubar(int handle);
// Every panel, in the order of their handles.
std::vector<int> panel_handles();
int active_panel();
int top_popup();  // 0 when none is installed
bool is_popup(int panel);  // installed with InstallPopup
// Shown on screen: displayed itself, its parents too, and the active page where it is a tab page.
bool shown(int panel);
// Operator input may reach the panel: shown, not dimmed and not behind a popup.
bool accepts_input(int panel);
// The control takes operator input (visible, not dimmed, on a panel that accepts input).
bool control_operable(int panel, int control);

const std::vector<Monitor> &monitors();
int primary_monitor();
// A view reports the screens it has; tests set their own (headless.h).
void set_monitors(std::vector<Monitor> list, int primary);

// Position and size a page of a tab control takes.
void page_geometry(const Control &tab, int *top, int *left, int *height, int *width);

}  // namespace platform::ui::model
