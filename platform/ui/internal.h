#pragma once
// State shared by the files of the library; not for its users.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/headless.h"
#include "platform/ui/model.h"
#include "platform/ui/view.h"

namespace platform::ui::detail {

struct FdWatch {
  int id = 0;
  int fd = -1;
  FdCallback callback;
  bool running = false;
  bool when_idle = false;  // only from RunUserInterface, no callback running
};

struct Drop {
  std::vector<std::string> paths;
  std::vector<const char *> list;  // null-terminated, into paths
};

struct RunLevel {
  bool quit = false;
  int code = 0;
};

struct Callback {
  std::variant<CtrlCallbackPtr, PanelCallbackPtr, MenuCallbackPtr> function;
};

struct State {
  std::map<int, model::Panel> panels;
  std::map<int, model::MenuBar> menubars;
  int next_handle = 1;
  int active_panel = 0;
  struct Popup {
    int panel = 0;
    int previous_active = 0;  // active again when the popup goes
  };
  std::vector<Popup> popups;  // installed, innermost last
  std::pair<int, int> pressed{0, 0};  // control under a pressed mouse button
  std::deque<std::pair<int, int>> user_events;
  std::deque<int> fake_keys;
  std::vector<FdWatch> fds;
  int next_fd_id = 1;
  std::vector<RunLevel> runs;
  int callback_depth = 0;  // callbacks running now, nested ones included
  int modal_boxes = 0;  // message boxes shown by a view
  unsigned long dispatched = 0;
  std::vector<model::Monitor> monitors;
  int primary_monitor = 1;
  std::map<int, int> system_attrs;
  std::map<int, int> print_attrs;
  std::map<int, Drop> drops;
  int next_drop = 1;
  int mouse_x = 0, mouse_y = 0, mouse_button = 0;
  std::map<std::string, Callback> callbacks;
  std::string last_error;
  // headless
  std::deque<std::function<void()>> script;
  bool running = false;
  bool unattended = false;
  bool stalled = false;
  std::vector<headless::Event> log;
  std::deque<int> menu_choices;
  unsigned long log_generation = 0;
  std::vector<headless::MenuShown> menus_shown;
  View *view = nullptr;
};

State &state();

model::Panel *panel(int handle);
model::MenuBar *menubar(int handle);

// Notifications to the view.
void notify_panel_added(int panel);
void notify_panel_removed(int panel);
void notify_panel(int panel);
void notify_control_added(int panel, int control);
void notify_control_removed(int panel, int control);
void notify_control(int panel, int control);
void notify_menubar(int menubar);
void notify_focus();

// Delivery of one event; returns the callback's result (0 without one).
// Commits are queued as user events.
int deliver_ctrl(int panel, int control, int event, int data1, int data2);
int deliver_panel(int panel, int event, int data1, int data2);
int deliver_menu(int menubar, int item, int panel);

// Input is blocked while a view shows a modal message box.
bool blocked();
struct ModalBox {
  ModalBox();
  ~ModalBox();
  ModalBox(const ModalBox &) = delete;
  ModalBox &operator=(const ModalBox &) = delete;
};

// Panels: creation from a definition, removal.
int add_panel(model::Panel panel, int parent);  // assigns the handle; returns it
void remove_panel(int handle);
void set_panel_size(model::Panel &p, int height, int width);  // scales contents when asked
void resolve_position(model::Panel &p);  // VAL_AUTO_CENTER to coordinates
void fit_pages(model::Control &tab);  // pages follow their tab control's size
// Moves the focus to control (0: only the panel), with the events of operator input.
// Returns false when a callback discarded what the sequence works on.
bool move_focus(int panel, int control);
// Commits what the operator typed into the control and did not commit yet
// (numbers: EVENT_VAL_CHANGED first). False when nothing was typed.
bool commit_typed(int panel, int control);
// A press on control (0: the panel itself; close_box: the panel's close box)
// leaves the focused field: commits what was typed there, or drops it when
// the press closes a popup without its action. True when a commit ran.
bool leave_field(int panel, int control, bool close_box);
// A key for the panel's focused control (0 none): the callback may swallow it,
// then a shortcut or the control's own key action follows. 1 when swallowed.
int deliver_key(int panel, int control, int key, bool control_action = true);
// Resets the focus bookkeeping of a panel that goes away or is hidden.
void forget_focus(int panel);

// Schedules a timer from now.
void schedule_timer(model::Control &c);
// Runs one tick of a timer control (not while its callback runs); a manual tick
// (tests) starts the interval again from now.
int run_tick(int panel, int control, bool manual = false);

// Sets a control's value from a number or text, coerced to the control's type and
// range; UIE_* on a type the control cannot take.
int store_value(model::Control &c, const model::Value &v, bool append_text);
// Default value of a kind and data type.
model::Value default_value(model::Kind kind, int data_type);
bool kind_has_data_type(model::Kind kind);
void default_range(int data_type, double *min, double *max);
void default_label_position(model::Control &c);

// Resource loading (resource.cpp).
struct PageDef;
struct PanelDef {
  model::Panel panel;
  int menubar = 0;  // menu bar of the same file shown in the panel (0 none)
  // tab control id -> its pages
  std::map<int, std::vector<PanelDef>> pages;
};
int load_panel_def(const std::string &file, int resource_id, PanelDef *out);
int load_menubar_def(const std::string &file, int resource_id, model::MenuBar *out);
int instantiate(const PanelDef &def, int parent);
int fail(int code, const std::string &detail);  // keeps the detail, returns code

// Callback lookup by name (callbacks.cpp); null when unknown or of another kind.
CtrlCallbackPtr find_ctrl_callback(const std::string &name);
PanelCallbackPtr find_panel_callback(const std::string &name);
MenuCallbackPtr find_menu_callback(const std::string &name);
bool callback_registered(const std::string &name);

// Clears the headless popup script (popups.cpp).
void reset_popups();

// Quit signals (signals.cpp): runs the program's quit for a signal that
// arrived; true when one did. forget_quit_signal clears it (tests).
bool take_quit_signal();
void forget_quit_signal();
// A popup answered without an operator, on standard error (only when unattended
// or after a quit signal: else an operator is there to see it).
void tell_operator_absent(const std::string &kind, const std::string &title, const std::string &message,
                          const std::string &answer);

}  // namespace platform::ui::detail
