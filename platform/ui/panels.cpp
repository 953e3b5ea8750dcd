// Panels: loading, showing, attributes, child panels and tab pages.
#include <algorithm>
#include <cmath>

#include "platform/ui/internal.h"

namespace platform::ui::detail {
namespace {

int scaled(int v, int from, int to) {
  if (from <= 0) return v;
  return static_cast<int>(std::lround(static_cast<double>(v) * to / from));
}

bool is_descendant(int handle, int ancestor) {
  for (const model::Panel *p = panel(handle); p != nullptr; p = panel(p->parent)) {
    if (p->handle == ancestor) return true;
    if (p->parent == 0) break;
  }
  return false;
}

}  // namespace

void fit_pages(model::Control &tab) {
  for (int h : tab.pages) {
    model::Panel *page = panel(h);
    if (page == nullptr) continue;
    int top, left, height, width;
    model::page_geometry(tab, &top, &left, &height, &width);
    page->top = top;
    page->left = left;
    set_panel_size(*page, height, width);
    notify_panel(h);
  }
}

void resolve_position(model::Panel &p) {
  int area_top = 0, area_left = 0, area_height = 0, area_width = 0;
  if (p.parent == 0) {
    const auto &mons = state().monitors;
    const int primary = state().primary_monitor;
    const model::Monitor &m = mons[static_cast<std::size_t>(std::clamp(primary, 1, static_cast<int>(mons.size())) - 1)];
    area_top = m.top;
    area_left = m.left;
    area_height = m.height;
    area_width = m.width;
  } else if (const model::Panel *parent = panel(p.parent)) {
    area_height = parent->height;
    area_width = parent->width;
  }
  if (p.top == VAL_AUTO_CENTER) p.top = area_top + (area_height - p.height) / 2;
  if (p.left == VAL_AUTO_CENTER) p.left = area_left + (area_width - p.width) / 2;
}

void set_panel_size(model::Panel &p, int height, int width) {
  height = std::max(0, height);
  width = std::max(0, width);
  const int old_h = p.height, old_w = p.width;
  p.height = height;
  p.width = width;
  if (!p.scale_contents || (old_h == height && old_w == width)) return;
  for (model::Control &c : p.controls) {
    c.top = scaled(c.top, old_h, height);
    c.height = scaled(c.height, old_h, height);
    c.label_top = scaled(c.label_top, old_h, height);
    c.left = scaled(c.left, old_w, width);
    c.width = scaled(c.width, old_w, width);
    c.label_left = scaled(c.label_left, old_w, width);
    notify_control(p.handle, c.id);
    if (c.kind == model::Kind::tab) fit_pages(c);
  }
  for (int h : p.children) {
    model::Panel *child = panel(h);
    if (child == nullptr) continue;
    child->top = scaled(child->top, old_h, height);
    child->left = scaled(child->left, old_w, width);
    set_panel_size(*child, scaled(child->height, old_h, height), scaled(child->width, old_w, width));
    notify_panel(h);
  }
}

int add_panel(model::Panel p, int parent) {
  State &s = state();
  const int handle = s.next_handle++;
  p.handle = handle;
  p.parent = parent;
  p.children.clear();
  p.menubar = 0;
  p.active_ctrl = 0;
  model::Panel *owner = parent ? panel(parent) : nullptr;
  if (p.tab_control != 0 && owner != nullptr) {
    if (model::Control *tab = owner->control(p.tab_control)) {
      model::page_geometry(*tab, &p.top, &p.left, &p.height, &p.width);
      p.visible = true;
    }
  }
  resolve_position(p);
  for (model::Control &c : p.controls) {
    c.ticking = false;
    if (c.kind == model::Kind::timer) schedule_timer(c);
    if (c.kind == model::Kind::tab) {
      c.pages.clear();
      c.value = -1;
    }
  }
  s.panels.emplace(handle, std::move(p));
  if (owner != nullptr) {
    model::Panel &me = s.panels[handle];
    if (me.tab_control != 0) {
      if (model::Control *tab = owner->control(me.tab_control)) {
        tab->pages.push_back(handle);
        if (std::get_if<int>(&tab->value) == nullptr || std::get<int>(tab->value) < 0) tab->value = 0;
      }
    } else {
      owner->children.push_back(handle);
    }
  }
  notify_panel_added(handle);
  return handle;
}

void forget_focus(int handle) {
  State &s = state();
  if (s.active_panel != 0 && is_descendant(s.active_panel, handle)) s.active_panel = 0;
}

void remove_panel(int handle) {
  State &s = state();
  model::Panel *p = panel(handle);
  if (p == nullptr) return;
  // Children and pages first; copy the lists, removal edits them.
  std::vector<int> inner = p->children;
  for (const model::Control &c : p->controls)
    if (c.kind == model::Kind::tab) inner.insert(inner.end(), c.pages.begin(), c.pages.end());
  for (int h : inner) remove_panel(h);
  p = panel(handle);
  if (p == nullptr) return;
  forget_focus(handle);
  std::erase_if(s.popups, [handle](const State::Popup &pp) { return pp.panel == handle; });
  std::vector<int> bars;
  for (const auto &[h, m] : s.menubars)
    if (m.panel == handle) bars.push_back(h);
  for (int h : bars) s.menubars.erase(h);
  const int parent = p->parent;
  const int tab_id = p->tab_control;
  notify_panel_removed(handle);
  s.panels.erase(handle);
  if (model::Panel *owner = panel(parent)) {
    if (tab_id != 0) {
      if (model::Control *tab = owner->control(tab_id)) {
        const auto it = std::find(tab->pages.begin(), tab->pages.end(), handle);
        if (it != tab->pages.end()) {
          const int removed = static_cast<int>(it - tab->pages.begin());
          tab->pages.erase(it);
          int active = std::get_if<int>(&tab->value) ? std::get<int>(tab->value) : 0;
          if (removed < active || active >= static_cast<int>(tab->pages.size())) --active;
          if (tab->pages.empty()) active = -1;
          else active = std::max(active, 0);
          tab->value = active;
          notify_control(parent, tab_id);
        }
      }
    } else {
      std::erase(owner->children, handle);
    }
  }
}

}  // namespace platform::ui::detail

using namespace platform::ui;
using detail::panel;
using detail::state;

int NewPanel(int parent, const char *title, int top, int left, int height, int width) {
  if (parent != 0 && panel(parent) == nullptr) return UIE_PANEL_INVALID;
  if (height < 0 || width < 0) return UIE_VALUE_INVALID;
  model::Panel p;
  p.title = title ? title : "";
  p.top = top;
  p.left = left;
  p.height = height;
  p.width = width;
  return detail::add_panel(std::move(p), parent);
}

int DiscardPanel(int handle) {
  if (panel(handle) == nullptr) return UIE_PANEL_INVALID;
  detail::remove_panel(handle);
  return 0;
}

int DisplayPanel(int handle) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  p->visible = true;
  if (p->parent == 0 && (state().popups.empty() || state().popups.back().panel == handle)) state().active_panel = handle;
  detail::notify_panel(handle);
  detail::notify_focus();
  return 0;
}

int HidePanel(int handle) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  if (p->tab_control != 0) return UIE_ATTR_NOT_VALID;  // pages show with their tab
  p->visible = false;
  detail::forget_focus(handle);
  detail::notify_panel(handle);
  return 0;
}

int SetActivePanel(int handle) {
  if (panel(handle) == nullptr) return UIE_PANEL_INVALID;
  state().active_panel = handle;
  detail::notify_focus();
  return 0;
}

int GetActivePanel(void) { return state().active_panel; }

int EnableDragAndDrop(int handle) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  p->drops = true;
  detail::notify_panel(handle);
  return 0;
}

int DisableDragAndDrop(int handle) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  p->drops = false;
  detail::notify_panel(handle);
  return 0;
}

const char *const *GetDroppedFiles(int drop) {
  auto &drops = state().drops;
  const auto it = drops.find(drop);
  return it == drops.end() ? nullptr : it->second.list.data();
}

int InstallPanelCallback(int handle, PanelCallbackPtr callback, void *callback_data) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  p->callback = callback;
  p->callback_data = callback_data;
  p->callback_name.clear();
  return 0;
}

namespace {

int next_sibling(const model::Panel &p) {
  if (p.tab_control != 0) return 0;
  if (p.parent == 0) {
    for (const auto &[h, other] : state().panels)
      if (h > p.handle && other.parent == 0) return h;
    return 0;
  }
  const model::Panel *owner = panel(p.parent);
  if (owner == nullptr) return 0;
  const auto it = std::find(owner->children.begin(), owner->children.end(), p.handle);
  if (it == owner->children.end() || it + 1 == owner->children.end()) return 0;
  return *(it + 1);
}

int panel_int(const model::Panel &p, int attribute, int *value) {
  switch (attribute) {
    case ATTR_DIMMED: *value = p.dimmed; return 0;
    case ATTR_VISIBLE: *value = p.visible; return 0;
    case ATTR_LEFT: *value = p.left; return 0;
    case ATTR_TOP: *value = p.top; return 0;
    case ATTR_WIDTH: *value = p.width; return 0;
    case ATTR_HEIGHT: *value = p.height; return 0;
    case ATTR_CLOSE_CTRL: *value = p.close_ctrl; return 0;
    case ATTR_WINDOW_ZOOM: *value = p.zoom; return 0;
    case ATTR_FLOATING: *value = p.floating; return 0;
    case ATTR_SCALE_CONTENTS_ON_RESIZE: *value = p.scale_contents; return 0;
    case ATTR_FILL_COLOR: *value = p.back_color; return 0;
    case ATTR_PANEL_PARENT: *value = p.parent; return 0;
    case ATTR_FIRST_CHILD: *value = p.children.empty() ? 0 : p.children.front(); return 0;
    case ATTR_NEXT_PANEL: *value = next_sibling(p); return 0;
    case ATTR_NUM_CHILDREN: *value = static_cast<int>(p.children.size()); return 0;
    case ATTR_PANEL_RESOURCE_ID: *value = p.resource_id; return 0;
    case ATTR_PANEL_MENU_BAR: *value = p.menubar; return 0;
    case ATTR_TITLEBAR_VISIBLE: *value = p.titlebar_visible; return 0;
    case ATTR_TITLEBAR_THICKNESS: *value = p.titlebar_thickness; return 0;
    case ATTR_FRAME_THICKNESS: *value = p.frame_thickness; return 0;
    case ATTR_TITLE:
    case ATTR_CALLBACK_NAME:
    case ATTR_CALLBACK_DATA: return UIE_TYPE_MISMATCH;
    default: return UIE_ATTR_INVALID;
  }
}

int panel_text(const model::Panel &p, int attribute, std::string *value) {
  switch (attribute) {
    case ATTR_TITLE: *value = p.title; return 0;
    case ATTR_CALLBACK_NAME: *value = p.callback_name; return 0;
    default: {
      int dummy;
      const int r = panel_int(p, attribute, &dummy);
      return r == 0 || attribute == ATTR_CALLBACK_DATA ? UIE_TYPE_MISMATCH : r;
    }
  }
}

}  // namespace

int GetPanelAttribute(int handle, int attribute, int *value) {
  const model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  int v = 0;
  const int r = panel_int(*p, attribute, &v);
  if (r == 0) *value = v;
  return r;
}

int GetPanelAttribute(int handle, int attribute, std::string *value) {
  const model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  return panel_text(*p, attribute, value);
}

int GetPanelAttribute(int handle, int attribute, char *buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return UIE_BAD_ARGUMENT;
  std::string text;
  const int r = GetPanelAttribute(handle, attribute, &text);
  if (r != 0) return r;
  const std::size_t n = std::min(text.size(), size - 1);
  text.copy(buffer, n);
  buffer[n] = '\0';
  return 0;
}

int GetPanelAttribute(int handle, int attribute, void **value) {
  const model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  if (attribute != ATTR_CALLBACK_DATA) {
    int dummy;
    const int r = panel_int(*p, attribute, &dummy);
    return r == UIE_ATTR_INVALID ? r : UIE_TYPE_MISMATCH;
  }
  *value = p->callback_data;
  return 0;
}

namespace platform::ui::detail {

int set_panel_attr_integer(int handle, int attribute, long long value) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  const bool fits = value >= INT_MIN && value <= INT_MAX;
  const int v = fits ? static_cast<int>(value) : 0;
  switch (attribute) {
    case ATTR_DIMMED: p->dimmed = value != 0; break;
    case ATTR_VISIBLE: return value != 0 ? DisplayPanel(handle) : HidePanel(handle);
    case ATTR_LEFT:
    case ATTR_TOP: {
      // The centring value also as the unsigned literal 0x80000000 is written.
      const bool centre = value == VAL_AUTO_CENTER || value == 0x80000000LL;
      if (!fits && !centre) return UIE_VALUE_INVALID;
      if (p->tab_control != 0) return UIE_ATTR_NOT_VALID;
      (attribute == ATTR_LEFT ? p->left : p->top) = centre ? VAL_AUTO_CENTER : v;
      resolve_position(*p);
      break;
    }
    case ATTR_WIDTH:
    case ATTR_HEIGHT:
      if (!fits || v < 0) return UIE_VALUE_INVALID;
      // A page takes the size of its tab control; a size asked for is taken
      // and has no effect.
      if (p->tab_control != 0) return 0;
      if (attribute == ATTR_WIDTH) set_panel_size(*p, p->height, v);
      else set_panel_size(*p, v, p->width);
      break;
    case ATTR_CLOSE_CTRL:
      if (v != 0 && (!fits || p->control(v) == nullptr)) return UIE_VALUE_INVALID;
      p->close_ctrl = v;
      break;
    case ATTR_WINDOW_ZOOM:
      if (v != VAL_NO_ZOOM && v != VAL_MINIMIZE && v != VAL_MAXIMIZE) return UIE_VALUE_INVALID;
      if (p->parent != 0) return UIE_ATTR_NOT_VALID;
      p->zoom = v;
      break;
    case ATTR_FLOATING:
      if (v != VAL_FLOAT_NEVER && v != VAL_FLOAT_APP_ACTIVE && v != VAL_FLOAT_ALWAYS) return UIE_VALUE_INVALID;
      p->floating = v;
      break;
    case ATTR_SCALE_CONTENTS_ON_RESIZE: p->scale_contents = value != 0; break;
    case ATTR_TITLEBAR_VISIBLE: p->titlebar_visible = value != 0; break;
    case ATTR_TITLEBAR_THICKNESS:
    case ATTR_FRAME_THICKNESS:
      if (!fits || v < 0 || v > 1000) return UIE_VALUE_INVALID;
      (attribute == ATTR_FRAME_THICKNESS ? p->frame_thickness : p->titlebar_thickness) = v;
      break;
    case ATTR_FILL_COLOR:
      if (value < 0 || value > VAL_TRANSPARENT) return UIE_VALUE_INVALID;
      p->back_color = v;
      break;
    case ATTR_TITLE:
    case ATTR_CALLBACK_DATA: return UIE_TYPE_MISMATCH;
    case ATTR_PANEL_PARENT:
    case ATTR_FIRST_CHILD:
    case ATTR_NEXT_PANEL:
    case ATTR_NUM_CHILDREN:
    case ATTR_PANEL_RESOURCE_ID:
    case ATTR_PANEL_MENU_BAR:
    case ATTR_CALLBACK_NAME: return UIE_ATTR_NOT_VALID;
    default: return UIE_ATTR_INVALID;
  }
  notify_panel(handle);
  return 0;
}

int set_panel_attr_text(int handle, int attribute, std::string_view value) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  if (attribute != ATTR_TITLE) {
    int dummy;
    const int r = panel_int(*p, attribute, &dummy);
    if (attribute == ATTR_CALLBACK_NAME) return UIE_ATTR_NOT_VALID;
    return r == UIE_ATTR_INVALID ? r : UIE_TYPE_MISMATCH;
  }
  p->title = std::string(value);
  notify_panel(handle);
  if (p->tab_control != 0) notify_control(p->parent, p->tab_control);
  return 0;
}

int set_panel_attr_pointer(int handle, int attribute, void *value) {
  model::Panel *p = panel(handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  if (attribute != ATTR_CALLBACK_DATA) {
    int dummy;
    return panel_int(*p, attribute, &dummy) == UIE_ATTR_INVALID ? UIE_ATTR_INVALID : UIE_TYPE_MISMATCH;
  }
  p->callback_data = value;
  return 0;
}

}  // namespace platform::ui::detail

// ---------------------------------------------------------------------------
// Tab pages.

namespace {

model::Control *tab_of(int handle, int tab_control, int *error) {
  model::Panel *p = panel(handle);
  if (p == nullptr) {
    *error = UIE_PANEL_INVALID;
    return nullptr;
  }
  model::Control *c = p->control(tab_control);
  if (c == nullptr) {
    *error = UIE_CTRL_INVALID;
    return nullptr;
  }
  if (c->kind != model::Kind::tab) {
    *error = UIE_ATTR_NOT_VALID;
    return nullptr;
  }
  return c;
}

}  // namespace

int InsertPanelAsTabPage(int handle, int tab_control, int index, int panel_to_insert) {
  int err = 0;
  if (tab_of(handle, tab_control, &err) == nullptr) return err;
  const model::Panel *src = panel(panel_to_insert);
  if (src == nullptr) return UIE_PANEL_INVALID;
  if (panel_to_insert == handle) return UIE_VALUE_INVALID;
  model::Panel copy = *src;  // controls, attributes and callbacks; not its child panels
  copy.tab_control = tab_control;
  copy.zoom = VAL_NO_ZOOM;
  const int page = detail::add_panel(std::move(copy), handle);
  model::Control *tab = tab_of(handle, tab_control, &err);
  // add_panel appended it; move it where it was asked for.
  const int last = static_cast<int>(tab->pages.size()) - 1;
  int at = (index < 0 || index > last) ? last : index;
  if (at != last) {
    tab->pages.pop_back();
    tab->pages.insert(tab->pages.begin() + at, page);
    int &active = std::get<int>(tab->value);
    if (last > 0 && at <= active) ++active;
  }
  detail::notify_control(handle, tab_control);
  return at;
}

int GetPanelHandleFromTabPage(int handle, int tab_control, int index, int *page_panel) {
  int err = 0;
  const model::Control *tab = tab_of(handle, tab_control, &err);
  if (tab == nullptr) return err;
  if (page_panel == nullptr) return UIE_BAD_ARGUMENT;
  if (index < 0 || index >= static_cast<int>(tab->pages.size())) return UIE_INDEX_INVALID;
  *page_panel = tab->pages[static_cast<std::size_t>(index)];
  return 0;
}

int SetActiveTabPage(int handle, int tab_control, int index) {
  int err = 0;
  model::Control *tab = tab_of(handle, tab_control, &err);
  if (tab == nullptr) return err;
  if (index < 0 || index >= static_cast<int>(tab->pages.size())) return UIE_INDEX_INVALID;
  tab->value = index;
  detail::notify_control(handle, tab_control);
  return 0;
}

int GetActiveTabPage(int handle, int tab_control, int *index) {
  int err = 0;
  const model::Control *tab = tab_of(handle, tab_control, &err);
  if (tab == nullptr) return err;
  if (index == nullptr) return UIE_BAD_ARGUMENT;
  *index = std::get<int>(tab->value);
  return 0;
}

int GetNumTabPages(int handle, int tab_control, int *count) {
  int err = 0;
  const model::Control *tab = tab_of(handle, tab_control, &err);
  if (tab == nullptr) return err;
  if (count == nullptr) return UIE_BAD_ARGUMENT;
  *count = static_cast<int>(tab->pages.size());
  return 0;
}
