// System attributes, monitors, mouse, panel pictures and error texts.
#include <algorithm>

#include "platform/ui/internal.h"

using namespace platform::ui;
using detail::state;

int GetSystemAttribute(int attribute, int *value) {
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  const auto &s = state();
  switch (attribute) {
    case ATTR_NUM_MONITORS: *value = static_cast<int>(s.monitors.size()); return 0;
    case ATTR_FIRST_MONITOR: *value = s.monitors.empty() ? 0 : 1; return 0;
    case ATTR_PRIMARY_MONITOR: *value = s.primary_monitor; return 0;
    case ATTR_FIRST_TOP_PANEL:
      *value = 0;
      for (const auto &[h, p] : s.panels) {
        if (p.parent == 0) {
          *value = h;
          break;
        }
      }
      return 0;
    case ATTR_SYSTEM_1420: {
      const auto it = s.system_attrs.find(attribute);
      *value = it == s.system_attrs.end() ? 0 : it->second;
      return 0;
    }
    default: return UIE_ATTR_INVALID;
  }
}

int SetSystemAttribute(int attribute, int value) {
  switch (attribute) {
    case ATTR_SYSTEM_1420: state().system_attrs[attribute] = value; return 0;
    case ATTR_NUM_MONITORS:
    case ATTR_FIRST_MONITOR:
    case ATTR_PRIMARY_MONITOR:
    case ATTR_FIRST_TOP_PANEL: return UIE_ATTR_NOT_VALID;
    default: return UIE_ATTR_INVALID;
  }
}

int GetMonitorAttribute(int monitor, int attribute, int *value) {
  const auto &mons = state().monitors;
  if (monitor < 1 || monitor > static_cast<int>(mons.size())) return UIE_VALUE_INVALID;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  const model::Monitor &m = mons[static_cast<std::size_t>(monitor - 1)];
  switch (attribute) {
    case ATTR_TOP: *value = m.top; return 0;
    case ATTR_LEFT: *value = m.left; return 0;
    case ATTR_WIDTH: *value = m.width; return 0;
    case ATTR_HEIGHT: *value = m.height; return 0;
    case ATTR_NEXT_MONITOR: *value = monitor < static_cast<int>(mons.size()) ? monitor + 1 : 0; return 0;
    default: return UIE_ATTR_INVALID;
  }
}

int GetScreenSize(int *height, int *width) {
  const auto &s = state();
  const model::Monitor &m = s.monitors[static_cast<std::size_t>(s.primary_monitor - 1)];
  if (height) *height = m.height;
  if (width) *width = m.width;
  return 0;
}

int GetRelativeMouseState(int panel, int control, int *x, int *y, int *left_button) {
  const model::Panel *p = detail::panel(panel);
  if (p == nullptr) return UIE_PANEL_INVALID;
  const model::Control *c = control != 0 ? p->control(control) : nullptr;
  if (control != 0 && c == nullptr) return UIE_CTRL_INVALID;
  auto &s = state();
  int mx = s.mouse_x, my = s.mouse_y, button = s.mouse_button;
  if (s.view != nullptr && !s.view->mouse(panel, &mx, &my, &button)) return UIE_FAILURE;
  if (c != nullptr) {
    mx -= c->left;
    my -= c->top;
  }
  if (x) *x = mx;
  if (y) *y = my;
  if (left_button) *left_button = button;
  return 0;
}

int SavePanelDisplayToFile(int panel, int area_top, int area_left, int area_height, int area_width,
                           const char *path) {
  if (detail::panel(panel) == nullptr) return UIE_PANEL_INVALID;
  if (path == nullptr || *path == '\0' || area_height < 0 || area_width < 0) return UIE_BAD_ARGUMENT;
  View *v = state().view;
  if (v == nullptr) return UIE_NO_VIEW;
  return v->save_image(panel, area_top, area_left, area_height, area_width, path);
}

int GetTextDisplaySize(const char *text, const char *font, int point_size, int *height, int *width) {
  if (text == nullptr || point_size < 0) return UIE_BAD_ARGUMENT;
  const std::string t = text, f = font ? font : "";
  int h = 0, w = 0;
  View *v = state().view;
  if (v == nullptr || !v->text_size(t, f, point_size, &h, &w)) {
    const int size = point_size > 0 ? point_size : 13;
    int lines = 1, longest = 0, run = 0;
    for (const char c : t) {
      if (c == '\n') {
        ++lines;
        run = 0;
      } else {
        longest = std::max(longest, ++run);
      }
    }
    w = (longest * size * 6 + 9) / 10;
    h = (lines * size * 3 + 1) / 2;
  }
  if (height) *height = h;
  if (width) *width = w;
  return 0;
}

namespace {
bool print_attribute(int attribute) { return (attribute >= 1300 && attribute <= 1310) || attribute == 1327; }
}  // namespace

int SetPrintAttribute(int attribute, int value) {
  if (!print_attribute(attribute)) return UIE_ATTR_INVALID;
  if (attribute == ATTR_ORIENTATION && value != VAL_PORTRAIT && value != VAL_LANDSCAPE) return UIE_VALUE_INVALID;
  state().print_attrs[attribute] = value;
  return 0;
}

int GetPrintAttribute(int attribute, int *value) {
  if (!print_attribute(attribute)) return UIE_ATTR_INVALID;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  const auto &a = state().print_attrs;
  const auto it = a.find(attribute);
  *value = it != a.end() ? it->second : attribute == ATTR_ORIENTATION ? VAL_PORTRAIT : 0;
  return 0;
}

const char *GetUILErrorString(int code) {
  switch (code) {
    case 0: return "No error";
    case UIE_FAILURE: return "The operation failed";
    case UIE_PANEL_INVALID: return "The panel handle is invalid";
    case UIE_CTRL_INVALID: return "The control does not exist on the panel";
    case UIE_MENUBAR_INVALID: return "The menu bar handle is invalid";
    case UIE_MENU_ITEM_INVALID: return "The menu or menu item does not exist";
    case UIE_ATTR_INVALID: return "The attribute does not exist";
    case UIE_ATTR_NOT_VALID: return "The attribute is not valid here or cannot be set";
    case UIE_VALUE_INVALID: return "The value is not valid for the attribute or control";
    case UIE_TYPE_MISMATCH: return "The value is not of the control's or attribute's data type";
    case UIE_FILE_NOT_FOUND: return "The resource file cannot be opened";
    case UIE_RESOURCE_FORMAT: return "The resource file is not well formed";
    case UIE_PANEL_NOT_FOUND: return "The resource file holds no panel of that number";
    case UIE_MENUBAR_NOT_FOUND: return "The resource file holds no menu bar of that number";
    case UIE_CALLBACK_NOT_REGISTERED: return "The resource names a callback that is not registered";
    case UIE_INDEX_INVALID: return "The index is out of range";
    case UIE_NOT_OPERABLE: return "The control or panel does not take input now";
    case UIE_NO_POPUP: return "No popup is installed";
    case UIE_NOT_RUNNING: return "The user interface is not running";
    case UIE_NO_INPUT: return "No more input";
    case UIE_NO_VIEW: return "No view is shown";
    case UIE_BAD_ARGUMENT: return "An argument is missing or out of range";
    default: return "Unknown user interface error";
  }
}
