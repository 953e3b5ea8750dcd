#pragma once
// Test API of the headless backend: operator input (input.h, re-exported
// here), scripted input for modal loops, timers, monitors, and logs of what
// the callbacks received. Popup answers are scripted in popups.h.
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/ui/input.h"

namespace platform::ui::headless {

using input::click;
using input::close_panel;
using input::commit;
using input::drop_files;
using input::edit_text;
using input::focus;
using input::key;
using input::pick_menu_item;
using input::press;
using input::release;
using input::right_click;
using input::select_index;
using input::select_tab;
using input::set_value;

// Every event sent to a callback (and those for which no callback was bound):
// control 0 for panel events, the callback's result (0 without a callback).
struct Event {
  int panel = 0;
  int control = 0;
  int event = 0;
  int data1 = 0;
  int data2 = 0;
  int result = 0;
  bool operator==(const Event &) const = default;
};
const std::vector<Event> &events();
void clear_events();

// Operator actions that run, one each time, when a loop waits for input
// (RunUserInterface, GetUserEvent with wait). A waiting loop that has nothing
// left to run stops: GetUserEvent returns UIE_NO_INPUT, RunUserInterface too.
void later(std::function<void()> action);
std::size_t pending_actions();
bool stalled();  // the last waiting loop stopped for want of input

// With running on, a waiting loop without scripted actions waits for timers
// and watched descriptors (on the virtual clock time jumps to the next tick);
// it still stops when neither exists.
void set_running(bool on);

// One tick of a timer control now (UIE_NOT_OPERABLE when it is disabled).
int tick(int panel, int control);
// Virtual clock: lets time pass, every timer ticking when it is due. Returns
// the number of ticks, UIE_FAILURE on the real clock.
int advance(double seconds);

// Answers of the next RunPopupMenu calls (item ids; 0 = the operator closed
// the menu). Unscripted menus answer 0.
void script_menu_choices(std::initializer_list<int> items);
struct MenuShown {
  int menubar = 0, menu = 0, panel = 0, top = 0, left = 0, answer = 0;
};
const std::vector<MenuShown> &menus_shown();

// Screens for GetMonitorAttribute and centring (the default: one 1920 x 1080 at 0,0).
void set_monitors(std::vector<model::Monitor> list, int primary = 1);
// Pointer position for GetRelativeMouseState (panel coordinates; button 1 = down).
void set_mouse(int x, int y, int left_button = 0);

// Discards every panel and menu bar; clears scripts, queued keys, user events,
// logs, watched descriptors, popup answers; restores the default monitor.
// Registered callbacks stay.
void reset();

}  // namespace platform::ui::headless
