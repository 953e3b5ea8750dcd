// Event delivery, operator input, the event loop, timers, watched
// descriptors, popups and queued keystrokes.
#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/ui/internal.h"
#include "platform/win/clock.h"

using namespace platform::ui;
using detail::panel;
using detail::state;
using detail::State;
using model::Control;
using model::Kind;

namespace platform::ui::detail {
namespace {

constexpr std::size_t kLogLimit = 20000;
constexpr std::size_t kUserEventLimit = 1000;

std::size_t log_event(int p, int c, int event, int d1, int d2) {
  State &s = state();
  if (s.log.size() >= kLogLimit) {
    s.log.erase(s.log.begin(), s.log.begin() + static_cast<std::ptrdiff_t>(kLogLimit / 2));
    ++s.log_generation;
  }
  s.log.push_back(headless::Event{p, c, event, d1, d2, 0});
  return s.log.size() - 1;
}

void log_result(std::size_t index, unsigned long generation, int result) {
  State &s = state();
  if (s.log_generation == generation && index < s.log.size()) s.log[index].result = result;
}

// Counts the callbacks running, so that idle-only descriptors wait for them.
struct InCallback {
  InCallback() { ++state().callback_depth; }
  ~InCallback() { --state().callback_depth; }
  InCallback(const InCallback &) = delete;
  InCallback &operator=(const InCallback &) = delete;
};

void after_dispatch() {
  State &s = state();
  ++s.dispatched;
  if (s.view) s.view->wake();
}

bool focusable(const Control &c) {
  if (c.mode == VAL_INDICATOR) return false;
  switch (c.kind) {
    case Kind::led:
    case Kind::text_message:
    case Kind::decoration:
    case Kind::timer: return false;
    default: return true;
  }
}

bool exists(int p, int c) {
  const model::Panel *pp = panel(p);
  return pp != nullptr && (c == 0 || pp->control(c) != nullptr);
}

}  // namespace

int deliver_ctrl(int p, int c, int event, int d1, int d2) {
  model::Panel *pp = panel(p);
  Control *cc = pp ? pp->control(c) : nullptr;
  if (cc == nullptr) return 0;
  if (event == EVENT_COMMIT) cc->edited = false;
  const CtrlCallbackPtr cb = cc->callback;
  void *data = cc->callback_data;
  const unsigned long gen = state().log_generation;
  const std::size_t at = log_event(p, c, event, d1, d2);
  int r = 0;
  if (cb) {
    const InCallback busy;
    r = cb(p, c, event, data, d1, d2);
  }
  log_result(at, gen, r);
  if (event == EVENT_COMMIT) {
    auto &q = state().user_events;
    if (q.size() >= kUserEventLimit) q.pop_front();
    q.emplace_back(p, c);
  }
  after_dispatch();
  return r;
}

int deliver_panel(int p, int event, int d1, int d2) {
  model::Panel *pp = panel(p);
  if (pp == nullptr) return 0;
  const PanelCallbackPtr cb = pp->callback;
  void *data = pp->callback_data;
  const unsigned long gen = state().log_generation;
  const std::size_t at = log_event(p, 0, event, d1, d2);
  int r = 0;
  if (cb) {
    const InCallback busy;
    r = cb(p, event, data, d1, d2);
  }
  log_result(at, gen, r);
  after_dispatch();
  return r;
}

int deliver_menu(int bar, int item, int p) {
  const model::MenuBar *mb = menubar(bar);
  const model::MenuItem *mi = mb ? mb->item(item) : nullptr;
  if (mi == nullptr) return 0;
  const MenuCallbackPtr cb = mi->callback;
  void *data = mi->callback_data;
  int r = 0;
  if (cb) {
    const InCallback busy;
    r = cb(bar, item, data, p);
  }
  after_dispatch();
  return r;
}

bool commit_typed(int p, int c) {
  model::Panel *pp = panel(p);
  Control *cc = pp ? pp->control(c) : nullptr;
  if (cc == nullptr || !cc->edited) return false;
  // A typed number becomes the value only now, as a value chosen would.
  if (cc->kind == Kind::numeric) {
    store_value(*cc, cc->typed, false);
    cc->edited = false;
    notify_control(p, c);
    deliver_ctrl(p, c, EVENT_VAL_CHANGED, 0, 0);
  }
  if (exists(p, c)) deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
  return true;
}

// What was typed into the focused field, for a press that leaves it: it
// counts before the press acts, as any move of the focus; a press that
// closes a popup without its action (its close box, or its close control,
// the cancel of a dialog) drops it instead, as Escape on that control does.
// True when a commit ran: its callbacks may have changed everything.
bool leave_field(int p, int c, bool close_box) {
  const int fp = state().active_panel;
  model::Panel *fpp = panel(fp);
  if (fpp == nullptr || fpp->active_ctrl == 0 || (fp == p && fpp->active_ctrl == c)) return false;
  const model::Panel *pp = panel(p);
  const bool cancels = pp != nullptr && model::is_popup(p) && (close_box || (c != 0 && c == pp->close_ctrl));
  if (!cancels) return commit_typed(fp, fpp->active_ctrl);
  if (fp != p) return false;
  Control *cc = fpp->control(fpp->active_ctrl);
  if (cc != nullptr && cc->edited) {
    cc->edited = false;
    if (cc->kind == Kind::numeric) notify_control(fp, cc->id);  // the field shows the value again
  }
  return false;
}

bool move_focus(int p, int c) {
  State &s = state();
  model::Panel *pp = panel(p);
  if (pp == nullptr) return false;
  if (c != 0) {
    const Control *cc = pp->control(c);
    if (cc == nullptr || !focusable(*cc)) c = 0;
  }
  const int old_p = s.active_panel;
  const model::Panel *op = panel(old_p);
  int old_c = op ? op->active_ctrl : 0;
  if (op != nullptr && old_c != 0 && op->control(old_c) == nullptr) old_c = 0;
  if (old_p == p && (c == 0 || c == old_c)) return true;
  if (old_c != 0) {
    commit_typed(old_p, old_c);
    if (exists(old_p, old_c)) deliver_ctrl(old_p, old_c, EVENT_LOST_FOCUS, 0, 0);
  }
  if (old_p != p) {
    if (panel(old_p) != nullptr) deliver_panel(old_p, EVENT_LOST_FOCUS, 0, 0);
    if (!exists(p, 0)) return false;
    s.active_panel = p;
    deliver_panel(p, EVENT_GOT_FOCUS, 0, 0);
  }
  if (!exists(p, c)) return false;
  s.active_panel = p;
  if (c != 0) {
    panel(p)->active_ctrl = c;
    deliver_ctrl(p, c, EVENT_GOT_FOCUS, 0, 0);
  }
  notify_focus();
  return exists(p, c);
}

}  // namespace platform::ui::detail

// ---------------------------------------------------------------------------
// Operator input.

namespace {

// The common gate of input on a control; hot: it must also take values.
int gate(int p, int c, bool hot) {
  const model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  const Control *cc = pp->control(c);
  if (cc == nullptr) return UIE_CTRL_INVALID;
  if (!model::control_operable(p, c)) return UIE_NOT_OPERABLE;
  if (hot && cc->mode != VAL_HOT) return UIE_NOT_OPERABLE;
  return 0;
}

void centre(int p, int c, int *x, int *y) {
  const Control *cc = panel(p)->control(c);
  if (*x < 0) *x = cc->left + cc->width / 2;
  if (*y < 0) *y = cc->top + cc->height / 2;
}

// A switch flipped by the operator.
void flip(int p, int c) {
  Control *cc = panel(p)->control(c);
  const int *v = std::get_if<int>(&cc->value);
  cc->value = (v && *v) ? 0 : 1;
  detail::notify_control(p, c);
  detail::deliver_ctrl(p, c, EVENT_VAL_CHANGED, 0, 0);
  if (detail::exists(p, c)) detail::deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
}

// What a click (without the mouse events) or a shortcut does to a control.
void activate(int p, int c) {
  const Control *cc = panel(p)->control(c);
  if (cc->kind == Kind::toggle || cc->kind == Kind::check_box) flip(p, c);
  else detail::deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
}

bool enter_or_space(int key) {
  const int k = key & 0xFFFF;
  return k == VAL_ENTER_VKEY || k == ' ';
}

// Controls that act on Enter themselves (a button presses, a field commits, a
// text box starts a line): an Enter shortcut, the panel's default button,
// leaves the key to them.
bool takes_enter(int p, int c) {
  if (c == 0 || !model::control_operable(p, c)) return false;
  const Control *cc = panel(p)->control(c);
  if (cc->mode != VAL_HOT) return false;
  switch (cc->kind) {
    case Kind::command_button:
    case Kind::numeric:
    case Kind::string:
    case Kind::path:
    case Kind::text_box:
    case Kind::ring:
    case Kind::list_box: return true;
    default: return false;
  }
}

// A control with that shortcut on the panel or one that holds it.
bool find_shortcut(int p, int key, int *sp, int *sc) {
  key &= 0x3FFFF;
  if (key == 0) return false;
  for (const model::Panel *pp = panel(p); pp != nullptr; pp = panel(pp->parent)) {
    for (const Control &c : pp->controls) {
      if (c.shortcut == key && c.mode == VAL_HOT && model::control_operable(pp->handle, c.id)) {
        *sp = pp->handle;
        *sc = c.id;
        return true;
      }
    }
    if (pp->parent == 0) break;
  }
  return false;
}

}  // namespace

namespace platform::ui::detail {

int deliver_key(int p, int c, int key, bool control_action) {
  if (c != 0 && exists(p, c)) {
    if (deliver_ctrl(p, c, EVENT_KEYPRESS, key, 0) == 1) return 1;
  }
  int sp = 0, sc = 0;
  const bool own_enter = (key & 0x3FFFF) == VAL_ENTER_VKEY && exists(p, c) && takes_enter(p, c);
  if (exists(p, 0) && !own_enter && find_shortcut(p, key, &sp, &sc)) {
    activate(sp, sc);
    return 0;
  }
  if (!control_action || c == 0 || !exists(p, c) || gate(p, c, true) != 0) return 0;
  const Control *cc = panel(p)->control(c);
  const int k = key & 0xFFFF;
  switch (cc->kind) {
    case Kind::command_button:
    case Kind::toggle:
    case Kind::check_box:
      if (enter_or_space(key)) activate(p, c);
      break;
    case Kind::numeric:
    case Kind::string:
    case Kind::path:
    case Kind::ring:
    case Kind::list_box:
      if (k == VAL_ENTER_VKEY && !commit_typed(p, c)) deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
      break;
    default: break;
  }
  return 0;
}

}  // namespace platform::ui::detail

namespace platform::ui::input {

int press(int p, int c, int x, int y) {
  if (c == 0) {
    // On the panel itself, beside its controls.
    const model::Panel *pp = panel(p);
    if (pp == nullptr) return UIE_PANEL_INVALID;
    if (!model::accepts_input(p)) return UIE_NOT_OPERABLE;
    // The focused field is left, here as in another panel.
    if (detail::leave_field(p, 0, false) && (!detail::exists(p, 0) || !model::accepts_input(p)))
      return UIE_NOT_OPERABLE;
    state().pressed = {p, 0};
    detail::deliver_panel(p, EVENT_LEFT_CLICK, y < 0 ? pp->height / 2 : y, x < 0 ? pp->width / 2 : x);
    return 0;
  }
  if (const int r = gate(p, c, false); r != 0) return r;
  if (detail::leave_field(p, c, false)) {
    if (const int r = gate(p, c, false); r != 0) return r;
  }
  centre(p, c, &x, &y);
  state().pressed = {p, c};
  detail::deliver_ctrl(p, c, EVENT_LEFT_CLICK, y, x);
  if (!detail::exists(p, c) || !detail::move_focus(p, c)) return 0;
  if (gate(p, c, true) != 0) return 0;
  const Kind k = panel(p)->control(c)->kind;
  if (k == Kind::toggle || k == Kind::check_box) flip(p, c);
  return 0;
}

int release(int p, int c, int x, int y) {
  if (!detail::exists(p, c)) return detail::exists(p, 0) ? UIE_CTRL_INVALID : UIE_PANEL_INVALID;
  const bool was_pressed = state().pressed == std::pair<int, int>{p, c};
  state().pressed = {0, 0};
  if (!was_pressed) return UIE_NOT_OPERABLE;
  if (c == 0) {
    const model::Panel *pp = panel(p);
    detail::deliver_panel(p, EVENT_LEFT_CLICK_UP, y < 0 ? pp->height / 2 : y, x < 0 ? pp->width / 2 : x);
    return 0;
  }
  centre(p, c, &x, &y);
  if (panel(p)->control(c)->kind == Kind::command_button && gate(p, c, true) == 0)
    detail::deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
  if (detail::exists(p, c)) detail::deliver_ctrl(p, c, EVENT_LEFT_CLICK_UP, y, x);
  return 0;
}

int click(int p, int c) {
  if (const int r = press(p, c); r != 0) return r;
  if (!detail::exists(p, c)) return 0;
  const int r = release(p, c);
  return r == UIE_NOT_OPERABLE ? 0 : r;
}

int right_click(int p, int c, int x, int y) {
  if (const int r = gate(p, c, false); r != 0) return r;
  centre(p, c, &x, &y);
  // The focus moves first, so that a control the callback makes active (a
  // label editor opened from a context menu) keeps the focus.
  if (!detail::move_focus(p, c) || !detail::exists(p, c)) return 0;
  detail::deliver_ctrl(p, c, EVENT_RIGHT_CLICK, y, x);
  return 0;
}

int key(int p, int c, int key_code, bool control_action) {
  if (c == 0) {
    if (panel(p) == nullptr) return UIE_PANEL_INVALID;
    if (!model::accepts_input(p)) return UIE_NOT_OPERABLE;
    return detail::deliver_key(p, 0, key_code, control_action);
  }
  if (const int r = gate(p, c, false); r != 0) return r;
  if (!detail::move_focus(p, c)) return 0;
  return detail::deliver_key(p, c, key_code, control_action);
}

int focus(int p, int c) {
  if (c == 0) {
    if (panel(p) == nullptr) return UIE_PANEL_INVALID;
    if (!model::accepts_input(p)) return UIE_NOT_OPERABLE;
  } else if (const int r = gate(p, c, false); r != 0) {
    return r;
  }
  detail::move_focus(p, c);
  return 0;
}

int set_value(int p, int c, const model::Value &value) {
  if (const int r = gate(p, c, true); r != 0) return r;
  const Control *cc = panel(p)->control(c);
  if (cc->kind == Kind::tab) {
    const int *i = std::get_if<int>(&value);
    return i ? select_tab(p, c, *i) : UIE_TYPE_MISMATCH;
  }
  // Check the value before any event goes out.
  Control trial = *cc;
  if (const int r = detail::store_value(trial, value, false); r != 0) return r;
  if (!detail::move_focus(p, c)) return 0;
  Control *now = panel(p)->control(c);
  if (gate(p, c, true) != 0) return 0;
  detail::store_value(*now, value, false);
  now->edited = false;
  detail::notify_control(p, c);
  detail::deliver_ctrl(p, c, EVENT_VAL_CHANGED, 0, 0);
  if (detail::exists(p, c)) detail::deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
  return 0;
}

int edit_text(int p, int c, const std::string &text) {
  if (const int r = gate(p, c, true); r != 0) return r;
  const Kind k = panel(p)->control(c)->kind;
  if (k != Kind::string && k != Kind::path && k != Kind::text_box && k != Kind::numeric) return UIE_TYPE_MISMATCH;
  model::Value typed = text;
  if (k == Kind::numeric) {
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0') return UIE_VALUE_INVALID;
    typed = v;
    Control trial = *panel(p)->control(c);
    if (const int r = detail::store_value(trial, typed, false); r != 0) return r;
  }
  if (!detail::move_focus(p, c) || gate(p, c, true) != 0) return 0;
  Control *cc = panel(p)->control(c);
  // A text box keeps its lines until the program reads them; one-line fields
  // and numbers commit on Enter or when the focus leaves them.
  cc->edited = k != Kind::text_box;
  if (k == Kind::numeric) {
    // Not yet the value (as in a spin box without keyboard tracking).
    cc->typed = typed;
    detail::notify_control(p, c);
    return 0;
  }
  detail::store_value(*cc, typed, false);
  detail::notify_control(p, c);
  detail::deliver_ctrl(p, c, EVENT_VAL_CHANGED, 0, 0);
  return 0;
}

int commit(int p, int c) {
  if (const int r = gate(p, c, true); r != 0) return r;
  if (!detail::commit_typed(p, c)) detail::deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
  return 0;
}

int select_index(int p, int c, int index) {
  if (const int r = gate(p, c, true); r != 0) return r;
  const Control *cc = panel(p)->control(c);
  int n;
  if (cc->kind == Kind::ring || cc->kind == Kind::list_box) n = static_cast<int>(cc->items.size());
  else if (cc->kind == Kind::path) n = static_cast<int>(cc->history.size());
  else return UIE_ATTR_NOT_VALID;
  if (index < 0 || index >= n) return UIE_INDEX_INVALID;
  if (!detail::move_focus(p, c) || gate(p, c, true) != 0) return 0;
  Control *now = panel(p)->control(c);
  if (now->kind == Kind::path) {
    if (index >= static_cast<int>(now->history.size())) return 0;
    now->value = now->history[static_cast<std::size_t>(index)];
  } else {
    if (index >= static_cast<int>(now->items.size())) return 0;
    now->index = index;
  }
  detail::notify_control(p, c);
  detail::deliver_ctrl(p, c, EVENT_VAL_CHANGED, 0, 0);
  if (detail::exists(p, c)) detail::deliver_ctrl(p, c, EVENT_COMMIT, 0, 0);
  return 0;
}

int select_tab(int p, int c, int index) {
  if (const int r = gate(p, c, false); r != 0) return r;
  Control *cc = panel(p)->control(c);
  if (cc->kind != Kind::tab) return UIE_ATTR_NOT_VALID;
  if (index < 0 || index >= static_cast<int>(cc->pages.size())) return UIE_INDEX_INVALID;
  const int old = std::get<int>(cc->value);
  if (old == index) return 0;
  cc->value = index;
  detail::notify_control(p, c);
  detail::deliver_ctrl(p, c, EVENT_ACTIVE_TAB_CHANGE, old, index);
  return 0;
}

int close_panel(int p) {
  const model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  if (!model::accepts_input(p)) return UIE_NOT_OPERABLE;
  // The close box commits its control, shown or not, but not when dimmed:
  // then it does nothing, and what was typed stays.
  const Control *close = pp->close_ctrl ? pp->control(pp->close_ctrl) : nullptr;
  if (close != nullptr && close->dimmed) return 0;
  // It leaves the focused field as a press on that control would.
  if (detail::leave_field(p, pp->close_ctrl, true)) {
    pp = panel(p);
    if (pp == nullptr || !model::accepts_input(p)) return 0;
    close = pp->close_ctrl ? pp->control(pp->close_ctrl) : nullptr;
    if (close != nullptr && close->dimmed) return 0;
  }
  if (close != nullptr) {
    detail::deliver_ctrl(p, close->id, EVENT_COMMIT, 0, 0);
    return 0;
  }
  detail::deliver_panel(p, EVENT_CLOSE, 0, 0);
  return 0;
}

int drop_files(int p, const std::vector<std::string> &paths) {
  const model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  if (!pp->drops || !model::accepts_input(p) || paths.empty()) return UIE_NOT_OPERABLE;
  State &s = state();
  const int id = s.next_drop++;
  detail::Drop &d = s.drops[id];
  d.paths = paths;
  for (const std::string &path : d.paths) d.list.push_back(path.c_str());
  d.list.push_back(nullptr);
  detail::deliver_panel(p, EVENT_FILESDROPPED, id, static_cast<int>(paths.size()));
  state().drops.erase(id);
  return 0;
}

int pick_menu_item(int bar, int item) {
  const model::MenuBar *mb = detail::menubar(bar);
  if (mb == nullptr) return UIE_MENUBAR_INVALID;
  const model::MenuItem *mi = mb->item(item);
  if (mi == nullptr) return UIE_MENU_ITEM_INVALID;
  const model::Panel *shown_in = panel(mb->panel);
  if (shown_in == nullptr || shown_in->menubar != bar || !model::accepts_input(mb->panel) || mi->dimmed)
    return UIE_NOT_OPERABLE;
  for (const model::Menu &m : mb->menus)
    for (const model::MenuItem &i : m.items)
      if (i.id == item && m.dimmed) return UIE_NOT_OPERABLE;
  detail::deliver_menu(bar, item, mb->panel);
  return 0;
}

int panel_geometry(int p, int top, int left, int height, int width) {
  model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  if (height < 0 || width < 0 || top == VAL_AUTO_CENTER || left == VAL_AUTO_CENTER) return UIE_VALUE_INVALID;
  if (pp->tab_control == 0) {
    pp->top = top;
    pp->left = left;
  }
  detail::set_panel_size(*pp, height, width);
  detail::notify_panel(p);
  return 0;
}

int panel_zoom(int p, int zoom) {
  model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  if (zoom != VAL_NO_ZOOM && zoom != VAL_MINIMIZE && zoom != VAL_MAXIMIZE) return UIE_VALUE_INVALID;
  pp->zoom = zoom;
  detail::notify_panel(p);
  return 0;
}

int activate_panel(int p) {
  if (panel(p) == nullptr) return UIE_PANEL_INVALID;
  if (!model::accepts_input(p)) return UIE_NOT_OPERABLE;
  detail::move_focus(p, 0);
  return 0;
}

}  // namespace platform::ui::input

// ---------------------------------------------------------------------------
// Timers and descriptors.

namespace platform::ui::detail {

void schedule_timer(Control &c) { c.next_due = platform::clock::now() + c.interval; }

int run_tick(int p, int c, bool manual) {
  Control *cc = panel(p) ? panel(p)->control(c) : nullptr;
  if (cc == nullptr) return panel(p) ? UIE_CTRL_INVALID : UIE_PANEL_INVALID;
  if (cc->kind != Kind::timer) return UIE_ATTR_NOT_VALID;
  if (!cc->enabled || cc->ticking) return UIE_NOT_OPERABLE;
  const double due = cc->next_due;
  cc->ticking = true;
  deliver_ctrl(p, c, EVENT_TIMER_TICK, 0, 0);
  cc = panel(p) ? panel(p)->control(c) : nullptr;
  if (cc == nullptr) return 0;
  cc->ticking = false;
  // The next tick keeps the rhythm; ticks missed while busy are not made up.
  const double now = platform::clock::now();
  double next = due + cc->interval;
  if (manual) next = now + cc->interval;
  else if (next <= now) next = now + cc->interval - std::fmod(now - due, cc->interval);
  if (cc->next_due == due) cc->next_due = next;  // unless the callback re-armed it
  return 0;
}

}  // namespace platform::ui::detail

namespace {

// The timer due first (enabled, not running); false when none.
bool earliest_timer(double *due, int *p, int *c) {
  bool found = false;
  for (const auto &[h, pp] : state().panels) {
    for (const Control &cc : pp.controls) {
      if (cc.kind != Kind::timer || !cc.enabled || cc.ticking) continue;
      if (!found || cc.next_due < *due) {
        found = true;
        *due = cc.next_due;
        *p = h;
        *c = cc.id;
      }
    }
  }
  return found;
}

bool may_run(const detail::FdWatch &w) {
  const State &s = state();
  return !w.running && (!w.when_idle || (s.callback_depth == 0 && !s.runs.empty()));
}

// What a wait of the loop watches: the descriptors of watch_fd that may run
// now (not while their callback runs; idle watches only while the loop runs
// idle) and the quit-signal pipe. A further source of input joins the loop
// by its descriptor here, and its work in poll_fds.
std::vector<int> wait_fds() {
  std::vector<int> out;
  for (const detail::FdWatch &w : state().fds)
    if (may_run(w)) out.push_back(w.fd);
  if (const int q = quit_signal_fd(); q >= 0) out.push_back(q);
  return out;
}

// Waits with poll() until a descriptor of wait_fds() is readable or
// timeout_ms passed (-1 no limit, 0 only a look), then runs the callbacks of
// the readable watched ones. True when one ran or a quit signal arrived.
bool poll_fds(int timeout_ms) {
  State &s = state();
  std::vector<pollfd> set;
  std::vector<int> ids;  // 0: the quit-signal pipe
  for (const detail::FdWatch &w : s.fds) {
    if (!may_run(w)) continue;
    set.push_back(pollfd{w.fd, POLLIN, 0});
    ids.push_back(w.id);
  }
  if (const int q = quit_signal_fd(); q >= 0) {
    set.push_back(pollfd{q, POLLIN, 0});
    ids.push_back(0);
  }
  if (set.empty() && timeout_ms == 0) return false;
  const int n = ::poll(set.data(), set.size(), timeout_ms);  // an empty set only waits
  if (n <= 0) return false;
  bool ran = false;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (set[i].revents == 0) continue;
    if (ids[i] == 0) {  // taken at the start of the next turn
      ran = true;
      continue;
    }
    auto it = std::find_if(s.fds.begin(), s.fds.end(), [&](const detail::FdWatch &w) { return w.id == ids[i]; });
    if (it == s.fds.end()) continue;
    if (set[i].revents & POLLNVAL) {  // closed behind our back: stop watching it
      s.fds.erase(it);
      continue;
    }
    if (!may_run(*it)) continue;
    it->running = true;
    const FdCallback cb = it->callback;
    const int fd = it->fd;
    {
      const detail::InCallback busy;
      cb(fd);
    }
    auto again = std::find_if(s.fds.begin(), s.fds.end(), [&](const detail::FdWatch &w) { return w.id == ids[i]; });
    if (again != s.fds.end()) again->running = false;
    ++s.dispatched;
    if (s.view) s.view->wake();
    ran = true;
  }
  return ran;
}

enum class Step { dispatched, idle, stalled };

// One turn of the loop: runs one pending thing, or waits when allowed.
Step step(bool may_block) {
  State &s = state();
  if (detail::take_quit_signal()) return Step::dispatched;
  // Nothing reaches the program while a view shows a modal message box.
  if (detail::blocked()) return may_block ? Step::stalled : Step::idle;
  if (!s.fake_keys.empty()) {
    const int k = s.fake_keys.front();
    s.fake_keys.pop_front();
    const int target = model::top_popup() != 0 ? model::top_popup() : s.active_panel;
    if (panel(target) != nullptr && model::accepts_input(target)) {
      int c = panel(target)->active_ctrl;
      if (c != 0 && !model::control_operable(target, c)) c = 0;
      detail::deliver_key(target, c, k);
    }
    return Step::dispatched;
  }
  double due = 0;
  int tp = 0, tc = 0;
  const bool have_timer = earliest_timer(&due, &tp, &tc);
  const double now = platform::clock::now();
  if (have_timer && due <= now) {
    detail::run_tick(tp, tc);
    return Step::dispatched;
  }
  if (poll_fds(0)) return Step::dispatched;
  if (s.view) {
    const unsigned long before = s.dispatched;
    s.view->poll();
    if (s.dispatched != before) return Step::dispatched;
  }
  if (!may_block) return Step::idle;
  if (!s.script.empty()) {
    auto action = std::move(s.script.front());
    s.script.pop_front();
    if (action) action();
    return Step::dispatched;
  }
  const bool is_virtual = platform::clock::is_virtual();
  if (s.view) {
    if (is_virtual && have_timer) {
      platform::clock::sleep(due - now);
      return Step::dispatched;
    }
    s.view->wait(have_timer && !is_virtual ? due - now : -1.0, wait_fds());
    return Step::dispatched;
  }
  // Without a view: tests stop here when their script is done; a program
  // without an operator waits for its timers and descriptors.
  if (!s.running && !s.unattended) return Step::stalled;
  if (!have_timer && wait_fds().empty()) return Step::stalled;
  if (is_virtual) {
    if (!have_timer) return Step::stalled;  // no time passes for descriptors
    platform::clock::sleep(due - now);
    return Step::dispatched;
  }
  // Blocks until the next timer is due or a descriptor is readable.
  const double wait = have_timer ? std::clamp(due - now, 0.0, 3600.0) : -1.0;
  poll_fds(wait < 0 ? -1 : static_cast<int>(std::ceil(wait * 1000.0)));
  return Step::dispatched;
}

}  // namespace

namespace platform::ui {

int watch_fd(int fd, FdCallback callback, bool when_idle) {
  if (fd < 0 || !callback) return UIE_BAD_ARGUMENT;
  State &s = state();
  const int id = s.next_fd_id++;
  s.fds.push_back(detail::FdWatch{id, fd, std::move(callback), false, when_idle});
  if (s.view) s.view->wake();
  return id;
}

void unwatch_fd(int id) { std::erase_if(state().fds, [id](const detail::FdWatch &w) { return w.id == id; }); }

}  // namespace platform::ui

// ---------------------------------------------------------------------------
// Loop calls.

int RunUserInterface(void) {
  State &s = state();
  s.runs.push_back(detail::RunLevel{});
  const std::size_t level = s.runs.size();
  int result = 0;
  for (;;) {
    if (s.runs[level - 1].quit) {
      result = s.runs[level - 1].code;
      break;
    }
    const Step st = step(true);
    s.user_events.clear();
    if (st == Step::stalled) {
      s.stalled = true;
      result = UIE_NO_INPUT;
      break;
    }
  }
  s.runs.pop_back();
  return result;
}

int QuitUserInterface(int code) {
  State &s = state();
  if (s.runs.empty()) return UIE_NOT_RUNNING;
  s.runs.back().quit = true;
  s.runs.back().code = code;
  if (s.view) s.view->wake();
  return 0;
}

int GetUserEvent(int wait, int *out_panel, int *out_control) {
  State &s = state();
  for (;;) {
    if (!s.user_events.empty()) {
      const auto [p, c] = s.user_events.front();
      s.user_events.pop_front();
      if (out_panel) *out_panel = p;
      if (out_control) *out_control = c;
      return EVENT_COMMIT;
    }
    // Without an operator (unattended, or after a quit signal) nobody's
    // answer is waited for: what is pending runs, then there is no input.
    if (wait != 0 && (quit_signal() != 0 || (s.unattended && s.view == nullptr))) {
      for (int i = 0; i < 1000 && s.user_events.empty() && step(false) == Step::dispatched; ++i) {
      }
      if (s.user_events.empty()) {
        s.stalled = true;
        return UIE_NO_INPUT;
      }
      continue;
    }
    const Step st = step(wait != 0);
    if (st == Step::stalled) {
      s.stalled = true;
      return UIE_NO_INPUT;
    }
    if (st == Step::idle && s.user_events.empty()) {
      if (out_panel) *out_panel = 0;
      if (out_control) *out_control = 0;
      return 0;
    }
  }
}

int ProcessSystemEvents(void) {
  // Bounded, so that a stream of input cannot keep the caller here.
  for (int i = 0; i < 1000 && step(false) == Step::dispatched; ++i) {
  }
  return 0;
}

int FakeKeystroke(int key) {
  if (key <= 0) return UIE_VALUE_INVALID;
  state().fake_keys.push_back(key);
  if (state().view) state().view->wake();
  return 0;
}

int SetSleepPolicy(int policy) { return policy >= 1 && policy <= 3 ? 0 : UIE_VALUE_INVALID; }

int InstallPopup(int p) {
  State &s = state();
  model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  if (pp->tab_control != 0) return UIE_ATTR_NOT_VALID;
  for (const State::Popup &pop : s.popups)
    if (pop.panel == p) return UIE_VALUE_INVALID;
  s.popups.push_back(State::Popup{p, s.active_panel});
  pp->visible = true;
  s.active_panel = p;
  s.user_events.clear();
  detail::notify_panel(p);
  detail::notify_focus();
  return 0;
}

int RemovePopup(int remove_all) {
  State &s = state();
  if (s.popups.empty()) return UIE_NO_POPUP;
  do {
    const State::Popup pop = s.popups.back();
    s.popups.pop_back();
    if (model::Panel *pp = panel(pop.panel)) {
      pp->visible = false;
      for (Control &c : pp->controls) c.edited = false;  // what was typed there is dropped
      detail::notify_panel(pop.panel);
    }
    s.active_panel = panel(pop.previous_active) ? pop.previous_active : 0;
  } while (remove_all && !s.popups.empty());
  s.user_events.clear();
  detail::notify_focus();
  return 0;
}
