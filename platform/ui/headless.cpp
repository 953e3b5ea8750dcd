// The headless test API.
#include "platform/ui/headless.h"

#include "platform/ui/internal.h"
#include "platform/win/clock.h"

namespace platform::ui::headless {

using detail::state;

const std::vector<Event> &events() { return state().log; }

void clear_events() {
  state().log.clear();
  ++state().log_generation;
}

void later(std::function<void()> action) { state().script.push_back(std::move(action)); }
std::size_t pending_actions() { return state().script.size(); }
bool stalled() { return state().stalled; }
void set_running(bool on) { state().running = on; }

int tick(int panel, int control) { return detail::run_tick(panel, control, true); }

int advance(double seconds) {
  if (!platform::clock::is_virtual()) return UIE_FAILURE;
  if (!(seconds >= 0)) return UIE_BAD_ARGUMENT;
  const double target = platform::clock::now() + seconds;
  int ticks = 0;
  for (;;) {
    double due = 0;
    int p = 0, c = 0;
    bool found = false;
    for (const auto &[h, pp] : state().panels) {
      for (const model::Control &cc : pp.controls) {
        if (cc.kind != model::Kind::timer || !cc.enabled || cc.ticking) continue;
        if (!found || cc.next_due < due) {
          found = true;
          due = cc.next_due;
          p = h;
          c = cc.id;
        }
      }
    }
    if (!found || due > target) break;
    const double now = platform::clock::now();
    if (due > now) platform::clock::sleep(due - now);
    if (detail::run_tick(p, c) == 0) ++ticks;
  }
  const double now = platform::clock::now();
  if (target > now) platform::clock::sleep(target - now);
  return ticks;
}

void script_menu_choices(std::initializer_list<int> items) {
  state().menu_choices.insert(state().menu_choices.end(), items);
}

const std::vector<MenuShown> &menus_shown() { return state().menus_shown; }

void set_monitors(std::vector<model::Monitor> list, int primary) { model::set_monitors(std::move(list), primary); }

void set_mouse(int x, int y, int left_button) {
  state().mouse_x = x;
  state().mouse_y = y;
  state().mouse_button = left_button;
}

void reset() {
  auto &s = state();
  std::vector<int> top;
  for (const auto &[h, p] : s.panels)
    if (p.parent == 0) top.push_back(h);
  for (int h : top) detail::remove_panel(h);
  s.panels.clear();
  std::vector<int> bars;
  for (const auto &[h, m] : s.menubars) bars.push_back(h);
  s.menubars.clear();
  for (int h : bars) detail::notify_menubar(h);
  s.active_panel = 0;
  s.popups.clear();
  s.pressed = {0, 0};
  s.user_events.clear();
  s.fake_keys.clear();
  s.fds.clear();
  s.drops.clear();
  s.system_attrs.clear();
  s.print_attrs.clear();
  s.script.clear();
  s.running = false;
  s.unattended = false;
  s.stalled = false;
  detail::forget_quit_signal();
  clear_events();
  s.menu_choices.clear();
  s.menus_shown.clear();
  s.last_error.clear();
  s.mouse_x = s.mouse_y = s.mouse_button = 0;
  model::set_monitors({}, 1);
  detail::reset_popups();
}

}  // namespace platform::ui::headless
