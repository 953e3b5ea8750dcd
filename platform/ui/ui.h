#pragma once
// The user-interface library: numbered panels and controls loaded from a
// resource file, attributes by number, callbacks bound by name, one event loop.
// Toolkit-neutral: without a view (headless) everything works and tests drive
// it through platform/ui/headless.h; platform/ui_qt shows it with Qt.
//
// Every call returns 0 (or a handle, index, count) on success and a negative
// UIE_* code on failure; none of them crashes on an unknown handle, control,
// attribute or a value of the wrong data type.
#include <climits>
#include <concepts>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/ui/popups.h"

// ---------------------------------------------------------------------------
// Numbers. Those the program fixes are the platform's; the rest (marked "ours")
// are this library's own and only ever used by name.

// Events.
enum {
  EVENT_NONE = 0,
  EVENT_COMMIT = 1,
  EVENT_VAL_CHANGED = 2,
  EVENT_LEFT_CLICK = 3,
  EVENT_RIGHT_CLICK = 5,
  EVENT_CLOSE = 6,  // ours: close box of a panel without a close control
  EVENT_KEYPRESS = 7,
  EVENT_GOT_FOCUS = 8,
  EVENT_LOST_FOCUS = 9,
  EVENT_TIMER_TICK = 15,
  EVENT_DROPPED = 21,
  EVENT_LEFT_CLICK_UP = 34,
  EVENT_ACTIVE_TAB_CHANGE = 40,  // ours: data 1 the old page index, data 2 the new one
  EVENT_FILESDROPPED = 1005,     // files dropped on a panel, see GetDroppedFiles
};

// Attributes of controls, panels, menu bars, monitors and the system.
enum {
  ATTR_DIMMED = 500,
  ATTR_VISIBLE = 530,
  ATTR_LEFT = 531,
  ATTR_TOP = 532,
  ATTR_WIDTH = 533,
  ATTR_HEIGHT = 540,
  ATTR_HSCROLL_OFFSET = 560,  // text box: first visible column
  ATTR_TITLE = 573,
  ATTR_CLOSE_CTRL = 592,  // panel: the control its close box commits (0 none)
  ATTR_WINDOW_ZOOM = 597,
  ATTR_FLOATING = 615,
  ATTR_SCALE_CONTENTS_ON_RESIZE = 618,
  ATTR_CTRL_MODE = 620,
  ATTR_LABEL_TEXT = 641,
  ATTR_LABEL_POINT_SIZE = 646,
  ATTR_TOOLTIP_TEXT = 652,  // hover text
  ATTR_TEXT_BGCOLOR = 674,  // colour behind the value
  ATTR_TEXT_COLOR = 680,
  ATTR_FILL_COLOR = 690,  // body of a decoration or command button, unlit LED
  ATTR_FIRST_VISIBLE_LINE = 790,  // text box
  ATTR_ON_COLOR = 921,  // toggle switch, check box and lit LED
  ATTR_LABEL_TOP = 970,
  ATTR_LABEL_LEFT = 971,
  ATTR_CHECKED = 1040,  // menu item check mark
  ATTR_ENABLED = 1271,  // timer
  ATTR_SYSTEM_1420 = 1420,  // system attribute the program clears at its end; kept, no effect

  // ours
  ATTR_INTERVAL = 20001,          // timer, seconds (double)
  ATTR_MIN_VALUE = 20002,         // numeric: int/short controls as int, float/double as double
  ATTR_MAX_VALUE = 20003,
  ATTR_PRECISION = 20004,         // numeric float/double: digits after the point
  ATTR_MAX_ENTRY_LENGTH = 20005,  // string, path: characters (0 = no limit)
  ATTR_DATA_TYPE = 20006,         // read only: VAL_INTEGER ...
  ATTR_CTRL_KIND = 20007,         // read only: CTRL_COMMAND_BUTTON ...
  ATTR_SHORTCUT_KEY = 20008,      // key code that commits the control
  ATTR_CALLBACK_NAME = 20009,     // read only: name bound in the resource
  ATTR_CALLBACK_DATA = 20010,     // void *
  ATTR_LABEL_VISIBLE = 20011,
  ATTR_PANEL_PARENT = 20012,      // read only: parent panel (0 top-level)
  ATTR_FIRST_CHILD = 20013,       // read only: first child panel (0 none)
  ATTR_NEXT_PANEL = 20014,        // read only: next sibling (0 none)
  ATTR_PANEL_RESOURCE_ID = 20015, // read only
  ATTR_PANEL_MENU_BAR = 20016,    // read only: the menu bar shown in the panel (0 none)
  ATTR_ITEM_NAME = 20017,         // menu item label
  ATTR_NUM_MONITORS = 20018,      // system
  ATTR_FIRST_MONITOR = 20019,     // system
  ATTR_PRIMARY_MONITOR = 20020,   // system
  ATTR_NEXT_MONITOR = 20021,      // monitor (0 after the last)
  ATTR_FIRST_TOP_PANEL = 20022,   // system: first top-level panel (walk with ATTR_NEXT_PANEL)
  ATTR_NUM_CHILDREN = 20023,      // read only
  ATTR_TITLEBAR_VISIBLE = 20024,  // panel
  ATTR_TITLEBAR_THICKNESS = 20025,  // panel: pixels of its title bar while visible
  ATTR_FRAME_THICKNESS = 20026,   // panel: pixels of its frame
  ATTR_TEXT_FONT = 20027,         // control: font name of its value text ("" the view's)
  ATTR_TEXT_POINT_SIZE = 20028,   // control: point size of its value text (0 the view's)
};

// Print attributes (SetPrintAttribute): kept by number for the printing of a
// view; 1300 to 1310 and 1327.
enum {
  ATTR_ORIENTATION = 1300,        // VAL_PORTRAIT or VAL_LANDSCAPE
  ATTR_PRINT_AREA_WIDTH = 1301,   // -1 the whole paper, 0 scaled to the height
  ATTR_PRINT_AREA_HEIGHT = 1302,  // -1 the whole paper, 0 scaled to the width
};
enum { VAL_PORTRAIT = 1, VAL_LANDSCAPE = 2 };

// Values.
enum {
  VAL_TRANSPARENT = 0x1000000,  // a colour: nothing painted
  VAL_AUTO_CENTER = INT_MIN,    // top or left of a panel: centred
  VAL_INDICATOR = 0,            // ATTR_CTRL_MODE: shows only
  VAL_HOT = 1,                  // ATTR_CTRL_MODE: operable
  VAL_NO_ZOOM = 0,
  VAL_MINIMIZE = 1,
  VAL_MAXIMIZE = 2,
  VAL_FLOAT_NEVER = 0,
  VAL_FLOAT_APP_ACTIVE = 1,  // an ordinary window
  VAL_FLOAT_ALWAYS = -50,    // stays above the others
};

// Data types of control values (ours).
enum { VAL_INTEGER = 1, VAL_SHORT_INTEGER = 2, VAL_FLOAT = 3, VAL_DOUBLE = 4, VAL_STRING = 5, VAL_NO_TYPE = 0 };

// Control kinds, ATTR_CTRL_KIND (ours).
enum {
  CTRL_COMMAND_BUTTON = 1,
  CTRL_TOGGLE = 2,
  CTRL_CHECK_BOX = 3,
  CTRL_NUMERIC = 4,
  CTRL_STRING = 5,
  CTRL_TEXT_MSG = 6,
  CTRL_TEXT_BOX = 7,
  CTRL_LED = 8,
  CTRL_RING = 9,
  CTRL_LIST_BOX = 10,
  CTRL_TAB = 11,
  CTRL_TIMER = 12,
  CTRL_PATH = 13,
  CTRL_DECORATION = 14,
};

// Key codes: a character in the low byte, or a virtual key in the second byte,
// modifiers above the low 16 bits.
enum {
  VAL_ASCII_KEY_MASK = 0x00FF,
  VAL_VKEY_MASK = 0xFF00,
  VAL_BACKSPACE_VKEY = 0x0100,
  VAL_TAB_VKEY = 0x0200,
  VAL_DELETE_VKEY = 0x0300,
  VAL_ESC_VKEY = 0x0400,
  VAL_ENTER_VKEY = 0x0500,  // commits the control that has the focus
  VAL_UP_ARROW_VKEY = 0x0600,
  VAL_DOWN_ARROW_VKEY = 0x0700,
  VAL_LEFT_ARROW_VKEY = 0x0800,
  VAL_RIGHT_ARROW_VKEY = 0x0900,
  VAL_HOME_VKEY = 0x0A00,
  VAL_END_VKEY = 0x0B00,
  VAL_PAGE_UP_VKEY = 0x0C00,
  VAL_PAGE_DOWN_VKEY = 0x0D00,
  VAL_INSERT_VKEY = 0x0E00,
  VAL_F1_VKEY = 0x1100,  // F1 .. F12 = 0x1100 .. 0x1C00
  VAL_F8_VKEY = 0x1800,
  VAL_F12_VKEY = 0x1C00,
  VAL_SHIFT_MODIFIER = 0x10000,
  VAL_MENUKEY_MODIFIER = 0x20000,  // Ctrl
};

// Errors.
enum {
  UIE_FAILURE = -1,
  UIE_PANEL_INVALID = -2,
  UIE_CTRL_INVALID = -3,
  UIE_MENUBAR_INVALID = -4,
  UIE_MENU_ITEM_INVALID = -5,
  UIE_ATTR_INVALID = -6,        // no such attribute
  UIE_ATTR_NOT_VALID = -7,      // not an attribute of this control kind or panel, or read only
  UIE_VALUE_INVALID = -8,
  UIE_TYPE_MISMATCH = -9,       // value or buffer of another data type than the control's
  UIE_FILE_NOT_FOUND = -10,
  UIE_RESOURCE_FORMAT = -11,
  UIE_PANEL_NOT_FOUND = -12,    // no panel of that number in the resource file
  UIE_MENUBAR_NOT_FOUND = -13,
  UIE_CALLBACK_NOT_REGISTERED = -14,
  UIE_INDEX_INVALID = -15,
  UIE_NOT_OPERABLE = -16,       // operator input refused: hidden, dimmed, indicator, behind a popup
  UIE_NO_POPUP = -17,
  UIE_NOT_RUNNING = -18,
  UIE_NO_INPUT = -19,           // a waiting loop without a view ran out of events
  UIE_NO_VIEW = -20,
  UIE_BAD_ARGUMENT = -21,
};

// Callbacks, bound by name (platform::ui::register_callbacks).
typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData, int eventData1,
                               int eventData2);
typedef int (*PanelCallbackPtr)(int panel, int event, void *callbackData, int eventData1, int eventData2);
typedef int (*MenuCallbackPtr)(int menuBar, int menuItem, void *callbackData, int panel);

namespace platform::ui {

struct CallbackBinding {
  const char *name;
  std::variant<CtrlCallbackPtr, PanelCallbackPtr, MenuCallbackPtr> function;
};
// Adds the names (a later binding of a name replaces the earlier one). A
// resource that names an unregistered callback fails to load.
void register_callbacks(std::span<const CallbackBinding> table);
void clear_callbacks();

// Watches a file descriptor on the event loop: the callback runs on the loop
// whenever the descriptor is readable (or hung up). Returns an id > 0.
// when_idle: only RunUserInterface runs it, and only while no callback runs
// (no modal loop inside one either); until then the descriptor waits unread.
using FdCallback = std::function<void(int fd)>;
int watch_fd(int fd, FdCallback callback, bool when_idle = false);
void unwatch_fd(int id);

// Text of the last failure of a resource load (which file, panel, control, key).
const std::string &last_error_detail();

// The program runs without a view and without an operator (QV_UI=headless
// outside tests). Then waiting loops block on the real clock until the next
// timer or a watched descriptor (instead of stopping when no test script is
// left); a popup nobody scripted takes its default (MessagePopup OK,
// ConfirmPopup and GenericMessagePopup their Enter button, file and directory
// dialogs nothing chosen) and writes its title, text and answer to standard
// error; a waiting GetUserEvent (a modal dialog's loop) serves what is
// pending (queued keys, due timers, descriptors) and then returns
// UIE_NO_INPUT, as no operator will answer. The program decides what its own
// dialogs do.
void set_unattended(bool on);
bool unattended();
// A dialog of the program's own that takes an answer nobody gave writes it
// to standard error as the popups do: unattended, or after a quit signal
// (else nothing is written).
void tell_unanswered(const std::string &kind, const std::string &title, const std::string &message,
                     const std::string &answer);

// SIGINT, SIGTERM and SIGHUP end the program in order: the signal handler only marks
// the request; the loop (headless or Qt) then runs handler(signal) as one of
// its callbacks, or without a handler ends every RunUserInterface with 0.
// From then on a waiting GetUserEvent returns UIE_NO_INPUT and popups take
// their defaults without waiting (a Qt dialog open at that moment closes), so
// a quit path can run unasked. Further signals count as the same request.
using QuitSignalHandler = std::function<void(int signal)>;
int quit_on_signals(QuitSignalHandler handler = {});
void stop_quit_signals();  // the signals' earlier handling again
int quit_signal();         // the signal received (0 none)
int quit_signal_fd();      // readable once a signal arrived (-1 none); views wait on it too

// False when QV_UI=headless asks for no view.
bool view_wanted();

namespace detail {
// Whole numbers: the integer types and the unscoped enums of the constants above.
template <class T>
concept Integer = std::is_integral_v<T> || (std::is_enum_v<T> && std::is_convertible_v<T, int>);
int set_ctrl_val_integer(int panel, int control, long long value);
int set_ctrl_val_real(int panel, int control, double value);
int set_ctrl_val_text(int panel, int control, std::string_view value);
int set_ctrl_attr_integer(int panel, int control, int attribute, long long value);
int set_ctrl_attr_real(int panel, int control, int attribute, double value);
int set_ctrl_attr_text(int panel, int control, int attribute, std::string_view value);
int set_ctrl_attr_pointer(int panel, int control, int attribute, void *value);
int set_panel_attr_integer(int panel, int attribute, long long value);
int set_panel_attr_text(int panel, int attribute, std::string_view value);
int set_panel_attr_pointer(int panel, int attribute, void *value);
int set_menu_attr_integer(int menubar, int item, int attribute, long long value);
int set_menu_attr_text(int menubar, int item, int attribute, std::string_view value);
int insert_list_item(int panel, int control, int index, const char *label, long long ivalue, double rvalue,
                     const char *svalue, int which);
int replace_list_item(int panel, int control, int index, const char *label, long long ivalue, double rvalue,
                      const char *svalue, int which);
int set_attribute_for_ctrls(int panel, int attribute, long long value, std::span<const int> controls);
}  // namespace detail

}  // namespace platform::ui

// ---------------------------------------------------------------------------
// Panels.

// Loads panel number resource_id from the resource file; parent 0 makes a
// top-level panel, a panel handle a child of it. Returns the new handle (> 0).
int LoadPanel(int parent, const char *file, int resource_id);
// A new empty panel (top-level when parent is 0).
int NewPanel(int parent, const char *title, int top, int left, int height, int width);
int DiscardPanel(int panel);  // with its children and tab pages
int DisplayPanel(int panel);
int HidePanel(int panel);
int SetActivePanel(int panel);
int GetActivePanel(void);
int InstallPopup(int panel);  // modal: input only reaches this panel until RemovePopup
int RemovePopup(int remove_all = 0);
int EnableDragAndDrop(int panel);
int DisableDragAndDrop(int panel);
// The paths of a drop (event data 1 of EVENT_FILESDROPPED, data 2 their count),
// a null-terminated list valid while the panel callback runs; NULL otherwise.
const char *const *GetDroppedFiles(int drop);

int GetPanelAttribute(int panel, int attribute, int *value);
int GetPanelAttribute(int panel, int attribute, char *buffer, std::size_t size);
int GetPanelAttribute(int panel, int attribute, std::string *value);
int GetPanelAttribute(int panel, int attribute, void **value);
template <std::size_t N>
int GetPanelAttribute(int panel, int attribute, char (&buffer)[N]) {
  return GetPanelAttribute(panel, attribute, buffer, N);
}
template <platform::ui::detail::Integer T>
int SetPanelAttribute(int panel, int attribute, T value) {
  return platform::ui::detail::set_panel_attr_integer(panel, attribute, static_cast<long long>(value));
}
inline int SetPanelAttribute(int panel, int attribute, const char *value) {
  return value ? platform::ui::detail::set_panel_attr_text(panel, attribute, value) : UIE_BAD_ARGUMENT;
}
inline int SetPanelAttribute(int panel, int attribute, const std::string &value) {
  return platform::ui::detail::set_panel_attr_text(panel, attribute, value);
}
inline int SetPanelAttribute(int panel, int attribute, void *value) {
  return platform::ui::detail::set_panel_attr_pointer(panel, attribute, value);
}
inline int SetPanelAttribute(int panel, int attribute, std::nullptr_t) {
  return platform::ui::detail::set_panel_attr_pointer(panel, attribute, nullptr);
}

int InstallPanelCallback(int panel, PanelCallbackPtr callback, void *callback_data);

// Tab pages: copies of panels inside a tab control, each with its own handle.
// index -1 appends. Returns the index of the new page.
int InsertPanelAsTabPage(int panel, int tab_control, int index, int panel_to_insert);
int GetPanelHandleFromTabPage(int panel, int tab_control, int index, int *page_panel);
int SetActiveTabPage(int panel, int tab_control, int index);
int GetActiveTabPage(int panel, int tab_control, int *index);
int GetNumTabPages(int panel, int tab_control, int *count);

// ---------------------------------------------------------------------------
// Controls.

// A control of the given kind (CTRL_...) and data type (VAL_..., 0 for the kind's own).
int NewCtrl(int panel, int kind, int data_type, const char *label, int top, int left, int height, int width);
int DiscardCtrl(int panel, int control);
int InstallCtrlCallback(int panel, int control, CtrlCallbackPtr callback, void *callback_data);
int SetActiveCtrl(int panel, int control);
int GetActiveCtrl(int panel);
// Top, left, height and width of a control with its label.
int GetCtrlBoundingRect(int panel, int control, int *top, int *left, int *height, int *width);

// Values in the control's own data type. A number is converted into a numeric,
// switch or list control (and coerced to its range); a text needs a text
// control. A read needs a buffer of exactly the control's type: anything else is
// UIE_TYPE_MISMATCH and leaves the buffer unchanged. Texts are cut to the buffer.
// A text box appends what is set; ring and list boxes select the item of that value.
template <platform::ui::detail::Integer T>
int SetCtrlVal(int panel, int control, T value) {
  return platform::ui::detail::set_ctrl_val_integer(panel, control, static_cast<long long>(value));
}
template <std::floating_point T>
int SetCtrlVal(int panel, int control, T value) {
  return platform::ui::detail::set_ctrl_val_real(panel, control, static_cast<double>(value));
}
inline int SetCtrlVal(int panel, int control, const char *value) {
  return value ? platform::ui::detail::set_ctrl_val_text(panel, control, value) : UIE_BAD_ARGUMENT;
}
inline int SetCtrlVal(int panel, int control, const std::string &value) {
  return platform::ui::detail::set_ctrl_val_text(panel, control, value);
}
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, short *value);
int GetCtrlVal(int panel, int control, float *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlVal(int panel, int control, char *buffer, std::size_t size);
int GetCtrlVal(int panel, int control, std::string *value);
template <std::size_t N>
int GetCtrlVal(int panel, int control, char (&buffer)[N]) {
  return GetCtrlVal(panel, control, buffer, N);
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value);
int GetCtrlAttribute(int panel, int control, int attribute, double *value);
int GetCtrlAttribute(int panel, int control, int attribute, char *buffer, std::size_t size);
int GetCtrlAttribute(int panel, int control, int attribute, std::string *value);
int GetCtrlAttribute(int panel, int control, int attribute, void **value);
template <std::size_t N>
int GetCtrlAttribute(int panel, int control, int attribute, char (&buffer)[N]) {
  return GetCtrlAttribute(panel, control, attribute, buffer, N);
}
template <platform::ui::detail::Integer T>
int SetCtrlAttribute(int panel, int control, int attribute, T value) {
  return platform::ui::detail::set_ctrl_attr_integer(panel, control, attribute, static_cast<long long>(value));
}
template <std::floating_point T>
int SetCtrlAttribute(int panel, int control, int attribute, T value) {
  return platform::ui::detail::set_ctrl_attr_real(panel, control, attribute, static_cast<double>(value));
}
inline int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
  return value ? platform::ui::detail::set_ctrl_attr_text(panel, control, attribute, value) : UIE_BAD_ARGUMENT;
}
inline int SetCtrlAttribute(int panel, int control, int attribute, const std::string &value) {
  return platform::ui::detail::set_ctrl_attr_text(panel, control, attribute, value);
}
inline int SetCtrlAttribute(int panel, int control, int attribute, void *value) {
  return platform::ui::detail::set_ctrl_attr_pointer(panel, control, attribute, value);
}
inline int SetCtrlAttribute(int panel, int control, int attribute, std::nullptr_t) {
  return platform::ui::detail::set_ctrl_attr_pointer(panel, control, attribute, nullptr);
}

// One integer attribute on several controls; stops at the first failure.
inline int SetAttributeForCtrls(int panel, int attribute, int value, std::span<const int> controls) {
  return platform::ui::detail::set_attribute_for_ctrls(panel, attribute, value, controls);
}
// count is the number of controls that follow (0: all that follow).
template <platform::ui::detail::Integer... Ids>
int SetAttributeForCtrls(int panel, int attribute, int value, int count, Ids... controls) {
  const int ids[] = {static_cast<int>(controls)..., 0};
  const int n = static_cast<int>(sizeof...(Ids));
  if (count < 0 || count > n) return UIE_BAD_ARGUMENT;
  return platform::ui::detail::set_attribute_for_ctrls(
      panel, attribute, value, std::span<const int>(ids, static_cast<std::size_t>(count == 0 ? n : count)));
}

// Ring and list box items: label and a value of the control's data type.
// index -1 appends. Index arguments count from 0.
template <platform::ui::detail::Integer T>
int InsertListItem(int panel, int control, int index, const char *label, T value) {
  return platform::ui::detail::insert_list_item(panel, control, index, label, static_cast<long long>(value), 0,
                                                nullptr, 0);
}
template <std::floating_point T>
int InsertListItem(int panel, int control, int index, const char *label, T value) {
  return platform::ui::detail::insert_list_item(panel, control, index, label, 0, static_cast<double>(value),
                                                nullptr, 1);
}
inline int InsertListItem(int panel, int control, int index, const char *label, const char *value) {
  return platform::ui::detail::insert_list_item(panel, control, index, label, 0, 0, value, 2);
}
template <platform::ui::detail::Integer T>
int ReplaceListItem(int panel, int control, int index, const char *label, T value) {
  return platform::ui::detail::replace_list_item(panel, control, index, label, static_cast<long long>(value), 0,
                                                 nullptr, 0);
}
template <std::floating_point T>
int ReplaceListItem(int panel, int control, int index, const char *label, T value) {
  return platform::ui::detail::replace_list_item(panel, control, index, label, 0, static_cast<double>(value),
                                                 nullptr, 1);
}
inline int ReplaceListItem(int panel, int control, int index, const char *label, const char *value) {
  return platform::ui::detail::replace_list_item(panel, control, index, label, 0, 0, value, 2);
}
int DeleteListItem(int panel, int control, int index, int count);  // count -1: to the end
int ClearListCtrl(int panel, int control);
int GetNumListItems(int panel, int control, int *count);
int GetCtrlIndex(int panel, int control, int *index);  // -1 when nothing is selected
int SetCtrlIndex(int panel, int control, int index);
int GetLabelFromIndex(int panel, int control, int index, char *buffer, std::size_t size);
template <std::size_t N>
int GetLabelFromIndex(int panel, int control, int index, char (&buffer)[N]) {
  return GetLabelFromIndex(panel, control, index, buffer, N);
}
int GetValueFromIndex(int panel, int control, int index, int *value);
int GetValueFromIndex(int panel, int control, int index, double *value);
int GetIndexFromValue(int panel, int control, int *index, int value);

// Text boxes: SetCtrlVal appends, these replace and read by line.
int ResetTextBox(int panel, int control, const char *text);
int GetNumTextBoxLines(int panel, int control, int *count);
int GetTextBoxLine(int panel, int control, int index, char *buffer, std::size_t size);
template <std::size_t N>
int GetTextBoxLine(int panel, int control, int index, char (&buffer)[N]) {
  return GetTextBoxLine(panel, control, index, buffer, N);
}
int GetTextBoxLineLength(int panel, int control, int index, int *length);

// Path control: a string control with a history list of paths.
int NewPathCtrl(int panel, int control, int visible_history, int directories_only);
enum { ATTR_PATH_CTRL_MAX_HISTORY = 1 };  // SetPathCtrlAttribute: most history entries kept
int SetPathCtrlAttribute(int panel, int control, int attribute, int value);
int AddItemToPathCtrlHistory(int panel, int control, const char *path);  // goes to the head

// ---------------------------------------------------------------------------
// Menu bars and popup menus.

// Loads menu bar resource_id; with a panel handle it belongs to that panel
// (discarded with it) and is shown there in place of the bar shown before,
// which stays loaded. A bar the resource marks as a context menu is never
// shown: its menus run with RunPopupMenu only. Bars load as often as asked,
// each with a handle of its own.
int LoadMenuBar(int panel, const char *file, int resource_id);
int DiscardMenuBar(int menubar);
int GetMenuBarAttribute(int menubar, int item, int attribute, int *value);
int GetMenuBarAttribute(int menubar, int item, int attribute, char *buffer, std::size_t size);
template <platform::ui::detail::Integer T>
int SetMenuBarAttribute(int menubar, int item, int attribute, T value) {
  return platform::ui::detail::set_menu_attr_integer(menubar, item, attribute, static_cast<long long>(value));
}
inline int SetMenuBarAttribute(int menubar, int item, int attribute, const char *value) {
  return value ? platform::ui::detail::set_menu_attr_text(menubar, item, attribute, value) : UIE_BAD_ARGUMENT;
}
// Runs menu `menu` of the bar as a popup at top/left of the panel; returns the
// chosen item (0 when none). The item's callback runs too. The trailing
// rectangle is the area the menu belongs to; it is not used.
int RunPopupMenu(int menubar, int menu, int panel, int top, int left, int area_top = 0, int area_left = 0,
                 int area_height = 0, int area_width = 0);

// ---------------------------------------------------------------------------
// Event loop.

int RunUserInterface(void);  // until QuitUserInterface; returns its code
int QuitUserInterface(int code);
// The next commit (EVENT_COMMIT, with panel and control) while callbacks keep
// running; wait 0 returns 0 at once when none is pending. UIE_NO_INPUT when
// no input can come (a test script ran out, an unattended run, a quit signal).
int GetUserEvent(int wait, int *panel, int *control);
int ProcessSystemEvents(void);  // runs what is pending, never waits
// Queues a key for the active panel: it is delivered when the loop next runs,
// and commits the control whose shortcut it is.
int FakeKeystroke(int key);
int SetSleepPolicy(int policy);

// ---------------------------------------------------------------------------
// System and monitors.

int GetSystemAttribute(int attribute, int *value);
int SetSystemAttribute(int attribute, int value);
int GetMonitorAttribute(int monitor, int attribute, int *value);
int GetScreenSize(int *height, int *width);  // the primary monitor
// Mouse position relative to a panel and the left button (1 down).
int GetRelativeMouseState(int panel, int control, int *x, int *y, int *left_button);
// Saves a picture of the panel (or the area, when height and width are > 0)
// as an image file whose format follows the extension. Needs a view.
int SavePanelDisplayToFile(int panel, int area_top, int area_left, int area_height, int area_width,
                           const char *path);

// Height and width in pixels of a text (lines end in '\n') in a font and
// point size (0 the view's default); without a view an estimate of 0.6 x the
// point size per character and 1.5 x per line.
int GetTextDisplaySize(const char *text, const char *font, int point_size, int *height, int *width);

// Print attributes by number; UIE_ATTR_INVALID for another number.
int SetPrintAttribute(int attribute, int value);
int GetPrintAttribute(int attribute, int *value);

const char *GetUILErrorString(int code);
