// Library state, lookups, view notifications and the callback table.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/ui/internal.h"

namespace platform::ui {
namespace detail {

State &state() {
  static State s = [] {
    State init;
    init.monitors = {model::Monitor{1, 0, 0, 1920, 1080}};
    return init;
  }();
  return s;
}

model::Panel *panel(int handle) {
  auto &panels = state().panels;
  const auto it = panels.find(handle);
  return it == panels.end() ? nullptr : &it->second;
}

model::MenuBar *menubar(int handle) {
  auto &bars = state().menubars;
  const auto it = bars.find(handle);
  return it == bars.end() ? nullptr : &it->second;
}

void notify_panel_added(int p) {
  if (View *v = state().view) v->panel_added(p);
}
void notify_panel_removed(int p) {
  if (View *v = state().view) v->panel_removed(p);
}
void notify_panel(int p) {
  if (View *v = state().view) v->panel_changed(p);
}
void notify_control_added(int p, int c) {
  if (View *v = state().view) v->control_added(p, c);
}
void notify_control_removed(int p, int c) {
  if (View *v = state().view) v->control_removed(p, c);
}
void notify_control(int p, int c) {
  if (View *v = state().view) v->control_changed(p, c);
}
void notify_menubar(int m) {
  if (View *v = state().view) v->menubar_changed(m);
}
void notify_focus() {
  if (View *v = state().view) {
    const int p = state().active_panel;
    const model::Panel *pp = panel(p);
    v->focus_changed(p, pp ? pp->active_ctrl : 0);
  }
}

int fail(int code, const std::string &text) {
  state().last_error = text;
  return code;
}

CtrlCallbackPtr find_ctrl_callback(const std::string &name) {
  const auto it = state().callbacks.find(name);
  if (it == state().callbacks.end()) return nullptr;
  const auto *f = std::get_if<CtrlCallbackPtr>(&it->second.function);
  return f ? *f : nullptr;
}

PanelCallbackPtr find_panel_callback(const std::string &name) {
  const auto it = state().callbacks.find(name);
  if (it == state().callbacks.end()) return nullptr;
  const auto *f = std::get_if<PanelCallbackPtr>(&it->second.function);
  return f ? *f : nullptr;
}

MenuCallbackPtr find_menu_callback(const std::string &name) {
  const auto it = state().callbacks.find(name);
  if (it == state().callbacks.end()) return nullptr;
  const auto *f = std::get_if<MenuCallbackPtr>(&it->second.function);
  return f ? *f : nullptr;
}

bool callback_registered(const std::string &name) { return state().callbacks.count(name) != 0; }

bool blocked() { return state().modal_boxes > 0; }

ModalBox::ModalBox() { ++state().modal_boxes; }
ModalBox::~ModalBox() { --state().modal_boxes; }

}  // namespace detail

void register_callbacks(std::span<const CallbackBinding> table) {
  for (const CallbackBinding &b : table) {
    if (b.name == nullptr || *b.name == '\0') continue;
    const bool null_fn = std::visit([](auto f) { return f == nullptr; }, b.function);
    if (null_fn) continue;
    detail::state().callbacks[b.name] = detail::Callback{b.function};
  }
}

void clear_callbacks() { detail::state().callbacks.clear(); }

const std::string &last_error_detail() { return detail::state().last_error; }

bool view_wanted() {
  const char *v = std::getenv("QV_UI");
  return v == nullptr || std::strcmp(v, "headless") != 0;
}

void set_view(View *v) {
  auto &s = detail::state();
  s.view = v;
  if (v == nullptr) return;
  // Parents before children: handles grow with creation, and a child is always
  // made after its parent.
  for (const auto &[h, p] : s.panels) v->panel_added(h);
  for (const auto &[h, m] : s.menubars) v->menubar_changed(h);
}

View *view() { return detail::state().view; }

namespace model {

namespace {
struct KindName {
  Kind kind;
  const char *name;
};
constexpr KindName kKindNames[] = {
    {Kind::command_button, "command_button"}, {Kind::toggle, "toggle"},     {Kind::check_box, "check_box"},
    {Kind::numeric, "numeric"},               {Kind::string, "string"},     {Kind::text_message, "text_message"},
    {Kind::text_box, "text_box"},             {Kind::led, "led"},           {Kind::ring, "ring"},
    {Kind::list_box, "list_box"},             {Kind::tab, "tab"},           {Kind::timer, "timer"},
    {Kind::path, "path"},                     {Kind::decoration, "decoration"},
};
}  // namespace

const char *kind_name(Kind kind) {
  for (const KindName &k : kKindNames)
    if (k.kind == kind) return k.name;
  return "?";
}

bool kind_from_name(const std::string &name, Kind *kind) {
  for (const KindName &k : kKindNames) {
    if (name == k.name) {
      *kind = k.kind;
      return true;
    }
  }
  return false;
}

int data_type_of(const Value &v) {
  switch (v.index()) {
    case 1: return VAL_INTEGER;
    case 2: return VAL_SHORT_INTEGER;
    case 3: return VAL_FLOAT;
    case 4: return VAL_DOUBLE;
    case 5: return VAL_STRING;
    default: return VAL_NO_TYPE;
  }
}

const Control *Panel::control(int id) const {
  for (const Control &c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

Control *Panel::control(int id) {
  for (Control &c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

const MenuItem *MenuBar::item(int id) const {
  for (const Menu &m : menus)
    for (const MenuItem &i : m.items)
      if (i.id == id) return &i;
  return nullptr;
}

const Menu *MenuBar::menu(int id) const {
  for (const Menu &m : menus)
    if (m.id == id) return &m;
  return nullptr;
}

const Panel *find_panel(int handle) { return detail::panel(handle); }
const MenuBar *find_menubar(int handle) { return detail::menubar(handle); }

std::vector<int> panel_handles() {
  std::vector<int> out;
  for (const auto &[h, p] : detail::state().panels) out.push_back(h);
  return out;
}

int active_panel() { return detail::state().active_panel; }

int top_popup() {
  const auto &pop = detail::state().popups;
  return pop.empty() ? 0 : pop.back().panel;
}

bool is_popup(int handle) {
  for (const auto &pop : detail::state().popups)
    if (pop.panel == handle) return true;
  return false;
}

bool shown(int handle) {
  const Panel *p = find_panel(handle);
  for (int guard = 0; p != nullptr && guard < 64; ++guard) {
    if (!p->visible) return false;
    if (is_popup(p->handle)) return true;  // a popup is a window of its own
    if (p->tab_control != 0) {
      const Panel *owner = find_panel(p->parent);
      const Control *tab = owner ? owner->control(p->tab_control) : nullptr;
      if (tab == nullptr || !tab->visible) return false;
      const int *active = std::get_if<int>(&tab->value);
      const int idx = active ? *active : -1;
      if (idx < 0 || idx >= static_cast<int>(tab->pages.size()) || tab->pages[static_cast<std::size_t>(idx)] != p->handle)
        return false;
    }
    if (p->parent == 0) return true;
    p = find_panel(p->parent);
  }
  return false;
}

bool accepts_input(int handle) {
  if (detail::blocked() || !shown(handle)) return false;
  for (const Panel *p = find_panel(handle); p != nullptr; p = find_panel(p->parent)) {
    if (p->dimmed || p->zoom == VAL_MINIMIZE) return false;
    if (p->tab_control != 0) {
      // A dimmed tab control dims its pages with it.
      const Panel *owner = find_panel(p->parent);
      const Control *tab = owner ? owner->control(p->tab_control) : nullptr;
      if (tab == nullptr || tab->dimmed) return false;
    }
    if (p->parent == 0 || is_popup(p->handle)) break;
  }
  const int popup = top_popup();
  if (popup == 0) return true;
  // Behind a popup only the popup itself and what lies inside it take input.
  for (const Panel *p = find_panel(handle); p != nullptr; p = find_panel(p->parent)) {
    if (p->handle == popup) return true;
    if (p->parent == 0) break;
  }
  return false;
}

bool control_operable(int panel, int control) {
  const Panel *p = find_panel(panel);
  const Control *c = p ? p->control(control) : nullptr;
  return c != nullptr && c->visible && !c->dimmed && accepts_input(panel);
}

const std::vector<Monitor> &monitors() { return detail::state().monitors; }
int primary_monitor() { return detail::state().primary_monitor; }

void set_monitors(std::vector<Monitor> list, int primary) {
  auto &s = detail::state();
  if (list.empty()) list = {Monitor{1, 0, 0, 1920, 1080}};
  for (std::size_t i = 0; i < list.size(); ++i) list[i].id = static_cast<int>(i) + 1;
  s.monitors = std::move(list);
  s.primary_monitor = (primary >= 1 && primary <= static_cast<int>(s.monitors.size())) ? primary : 1;
}

void page_geometry(const Control &tab, int *top, int *left, int *height, int *width) {
  *top = tab.top + kTabBarHeight;
  *left = tab.left + kTabBorder;
  *height = std::max(0, tab.height - kTabBarHeight - kTabBorder);
  *width = std::max(0, tab.width - 2 * kTabBorder);
}

}  // namespace model
}  // namespace platform::ui
