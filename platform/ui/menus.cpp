// Menu bars and popup menus.
#include <algorithm>

#include "platform/ui/internal.h"

using namespace platform::ui;
using detail::state;

namespace {

model::MenuItem *item_of(model::MenuBar &bar, int item) {
  for (model::Menu &m : bar.menus)
    for (model::MenuItem &i : m.items)
      if (i.id == item) return &i;
  return nullptr;
}

model::Menu *menu_of(model::MenuBar &bar, int id) {
  for (model::Menu &m : bar.menus)
    if (m.id == id) return &m;
  return nullptr;
}

}  // namespace

int LoadMenuBar(int panel, const char *file, int resource_id) {
  if (panel != 0 && detail::panel(panel) == nullptr) return UIE_PANEL_INVALID;
  if (file == nullptr) return UIE_BAD_ARGUMENT;
  model::MenuBar bar;
  if (const int r = detail::load_menubar_def(file, resource_id, &bar); r < 0) return r;
  const int handle = state().next_handle++;
  bar.handle = handle;
  bar.panel = panel;
  // A panel shows one menu bar: a new one takes the place of the old, which
  // stays loaded (its handle still runs popup menus) until discarded. A
  // context-menu bar is never shown.
  const bool shown = panel != 0 && !bar.context;
  if (shown) detail::panel(panel)->menubar = handle;
  state().menubars.emplace(handle, std::move(bar));
  detail::notify_menubar(handle);
  if (shown) detail::notify_panel(panel);
  return handle;
}

int DiscardMenuBar(int menubar) {
  model::MenuBar *bar = detail::menubar(menubar);
  if (bar == nullptr) return UIE_MENUBAR_INVALID;
  const int panel = bar->panel;
  state().menubars.erase(menubar);
  detail::notify_menubar(menubar);
  if (model::Panel *p = detail::panel(panel); p != nullptr && p->menubar == menubar) {
    p->menubar = 0;
    detail::notify_panel(panel);
  }
  return 0;
}

int GetMenuBarAttribute(int menubar, int item, int attribute, int *value) {
  model::MenuBar *bar = detail::menubar(menubar);
  if (bar == nullptr) return UIE_MENUBAR_INVALID;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  if (model::MenuItem *i = item_of(*bar, item)) {
    switch (attribute) {
      case ATTR_CHECKED: *value = i->checked; return 0;
      case ATTR_DIMMED: *value = i->dimmed; return 0;
      case ATTR_ITEM_NAME: return UIE_TYPE_MISMATCH;
      default: return UIE_ATTR_INVALID;
    }
  }
  if (model::Menu *m = menu_of(*bar, item)) {
    switch (attribute) {
      case ATTR_DIMMED: *value = m->dimmed; return 0;
      case ATTR_ITEM_NAME: return UIE_TYPE_MISMATCH;
      case ATTR_CHECKED: return UIE_ATTR_NOT_VALID;
      default: return UIE_ATTR_INVALID;
    }
  }
  return UIE_MENU_ITEM_INVALID;
}

int GetMenuBarAttribute(int menubar, int item, int attribute, char *buffer, std::size_t size) {
  model::MenuBar *bar = detail::menubar(menubar);
  if (bar == nullptr) return UIE_MENUBAR_INVALID;
  if (buffer == nullptr || size == 0) return UIE_BAD_ARGUMENT;
  const std::string *label = nullptr;
  if (model::MenuItem *i = item_of(*bar, item)) label = &i->label;
  else if (model::Menu *m = menu_of(*bar, item)) label = &m->label;
  else return UIE_MENU_ITEM_INVALID;
  if (attribute == ATTR_CHECKED || attribute == ATTR_DIMMED) return UIE_TYPE_MISMATCH;
  if (attribute != ATTR_ITEM_NAME) return UIE_ATTR_INVALID;
  const std::size_t n = std::min(label->size(), size - 1);
  label->copy(buffer, n);
  buffer[n] = '\0';
  return 0;
}

namespace platform::ui::detail {

int set_menu_attr_integer(int menubar, int item, int attribute, long long value) {
  model::MenuBar *bar = detail::menubar(menubar);
  if (bar == nullptr) return UIE_MENUBAR_INVALID;
  if (model::MenuItem *i = item_of(*bar, item)) {
    switch (attribute) {
      case ATTR_CHECKED: i->checked = value != 0; break;
      case ATTR_DIMMED: i->dimmed = value != 0; break;
      case ATTR_ITEM_NAME: return UIE_TYPE_MISMATCH;
      default: return UIE_ATTR_INVALID;
    }
  } else if (model::Menu *m = menu_of(*bar, item)) {
    switch (attribute) {
      case ATTR_DIMMED: m->dimmed = value != 0; break;
      case ATTR_ITEM_NAME: return UIE_TYPE_MISMATCH;
      case ATTR_CHECKED: return UIE_ATTR_NOT_VALID;
      default: return UIE_ATTR_INVALID;
    }
  } else {
    return UIE_MENU_ITEM_INVALID;
  }
  notify_menubar(menubar);
  return 0;
}

int set_menu_attr_text(int menubar, int item, int attribute, std::string_view value) {
  model::MenuBar *bar = detail::menubar(menubar);
  if (bar == nullptr) return UIE_MENUBAR_INVALID;
  std::string *label = nullptr;
  if (model::MenuItem *i = item_of(*bar, item)) label = &i->label;
  else if (model::Menu *m = menu_of(*bar, item)) label = &m->label;
  else return UIE_MENU_ITEM_INVALID;
  if (attribute == ATTR_CHECKED || attribute == ATTR_DIMMED) return UIE_TYPE_MISMATCH;
  if (attribute != ATTR_ITEM_NAME) return UIE_ATTR_INVALID;
  *label = std::string(value);
  notify_menubar(menubar);
  return 0;
}

}  // namespace platform::ui::detail

int RunPopupMenu(int menubar, int menu, int panel, int top, int left, int, int, int, int) {
  auto &s = state();
  model::MenuBar *bar = detail::menubar(menubar);
  if (bar == nullptr) return UIE_MENUBAR_INVALID;
  const model::Menu *m = menu_of(*bar, menu);
  if (m == nullptr) return UIE_MENU_ITEM_INVALID;
  if (detail::panel(panel) == nullptr) return UIE_PANEL_INVALID;
  int answer = 0;
  if (s.view != nullptr) {
    detail::ModalBox modal;
    answer = s.view->popup_menu(menubar, menu, panel, top, left);
  } else if (!s.menu_choices.empty()) {
    answer = s.menu_choices.front();
    s.menu_choices.pop_front();
  }
  // Only an operable item of that menu counts as chosen.
  bar = detail::menubar(menubar);
  m = bar ? menu_of(*bar, menu) : nullptr;
  bool valid = false;
  if (m != nullptr && !m->dimmed)
    for (const model::MenuItem &i : m->items)
      if (i.id == answer && !i.dimmed) valid = true;
  if (!valid) answer = 0;
  if (s.menus_shown.size() < 10000)
    s.menus_shown.push_back(headless::MenuShown{menubar, menu, panel, top, left, answer});
  if (answer > 0) detail::deliver_menu(menubar, answer, panel);
  return answer;
}
