// Controls: values in their own data type, attributes, lists, text boxes,
// path controls.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "platform/ui/internal.h"

using namespace platform::ui;
using detail::panel;
using model::Control;
using model::Kind;
using model::Value;

namespace platform::ui {
namespace model {
bool label_outside(Kind kind) {
  switch (kind) {
    case Kind::toggle:
    case Kind::check_box:
    case Kind::numeric:
    case Kind::string:
    case Kind::text_box:
    case Kind::led:
    case Kind::ring:
    case Kind::list_box:
    case Kind::path: return true;
    default: return false;
  }
}
}  // namespace model

namespace detail {

bool kind_has_data_type(Kind kind) {
  return kind == Kind::numeric || kind == Kind::ring || kind == Kind::list_box;
}

void default_range(int data_type, double *min, double *max) {
  switch (data_type) {
    case VAL_SHORT_INTEGER: *min = -32768; *max = 32767; break;
    case VAL_FLOAT: *min = -FLT_MAX; *max = FLT_MAX; break;
    case VAL_DOUBLE: *min = -DBL_MAX; *max = DBL_MAX; break;
    default: *min = INT_MIN; *max = INT_MAX; break;
  }
}

Value default_value(Kind kind, int data_type) {
  switch (kind) {
    case Kind::toggle:
    case Kind::check_box:
    case Kind::led: return 0;
    case Kind::tab: return -1;
    case Kind::string:
    case Kind::text_message:
    case Kind::text_box:
    case Kind::path: return std::string();
    case Kind::numeric:
      switch (data_type) {
        case VAL_SHORT_INTEGER: return static_cast<short>(0);
        case VAL_FLOAT: return 0.0f;
        case VAL_DOUBLE: return 0.0;
        default: return 0;
      }
    default: return std::monostate{};
  }
}

void default_label_position(Control &c) {
  if (c.kind == Kind::check_box) {
    c.label_top = c.top + (c.height - 15) / 2;
    c.label_left = c.left + c.width + 4;
  } else {
    c.label_top = c.top - 16;
    c.label_left = c.left;
  }
}

}  // namespace detail
}  // namespace platform::ui

namespace {

// A number as it was handed in, before it takes the control's type.
struct Number {
  bool integral = true;
  long long i = 0;
  double r = 0;
};

bool number_of(const Value &v, Number *n) {
  switch (v.index()) {
    case 1: *n = {true, std::get<int>(v), 0}; return true;
    case 2: *n = {true, std::get<short>(v), 0}; return true;
    case 3: *n = {false, 0, std::get<float>(v)}; return true;
    case 4: *n = {false, 0, std::get<double>(v)}; return true;
    default: return false;
  }
}

// The number in the data type, coerced to [min, max].
int coerce(int data_type, double min, double max, const Number &n, Value *out) {
  if (!n.integral && std::isnan(n.r)) return UIE_VALUE_INVALID;
  if (data_type == VAL_INTEGER || data_type == VAL_SHORT_INTEGER) {
    long long x;
    if (n.integral) {
      x = n.i;
    } else {
      const double r = std::clamp(std::round(n.r), min, max);
      x = static_cast<long long>(r);
    }
    x = std::clamp(x, static_cast<long long>(min), static_cast<long long>(max));
    if (data_type == VAL_SHORT_INTEGER) *out = static_cast<short>(x);
    else *out = static_cast<int>(x);
    return 0;
  }
  if (data_type == VAL_FLOAT || data_type == VAL_DOUBLE) {
    double x = n.integral ? static_cast<double>(n.i) : n.r;
    x = std::clamp(x, min, max);
    if (data_type == VAL_FLOAT) *out = static_cast<float>(x);
    else *out = x;
    return 0;
  }
  return UIE_TYPE_MISMATCH;
}

bool same_value(const Value &a, const Value &b) {
  if (a.index() != b.index()) return false;
  return a == b;
}

std::string cut(std::string text, int max_length) {
  if (max_length > 0 && text.size() > static_cast<std::size_t>(max_length))
    text.resize(static_cast<std::size_t>(max_length));
  return text;
}

// The item value a list control takes from a number or text.
int list_value(const Control &c, const Value &in, Value *out) {
  if (c.data_type == VAL_STRING) {
    const std::string *s = std::get_if<std::string>(&in);
    if (s == nullptr) return UIE_TYPE_MISMATCH;
    *out = *s;
    return 0;
  }
  Number n;
  if (!number_of(in, &n)) return UIE_TYPE_MISMATCH;
  double min, max;
  detail::default_range(c.data_type, &min, &max);
  return coerce(c.data_type, min, max, n, out);
}

}  // namespace

namespace platform::ui::detail {

int store_value(Control &c, const Value &v, bool append_text) {
  switch (c.kind) {
    case Kind::toggle:
    case Kind::check_box:
    case Kind::led: {
      Number n;
      if (!number_of(v, &n)) return UIE_TYPE_MISMATCH;
      if (!n.integral && std::isnan(n.r)) return UIE_VALUE_INVALID;
      c.value = (n.integral ? n.i != 0 : n.r != 0.0) ? 1 : 0;
      return 0;
    }
    case Kind::numeric: {
      Number n;
      if (!number_of(v, &n)) return UIE_TYPE_MISMATCH;
      Value out;
      const int r = coerce(c.data_type, c.min, c.max, n, &out);
      if (r == 0) c.value = out;
      return r;
    }
    case Kind::string:
    case Kind::text_message:
    case Kind::path:
    case Kind::text_box: {
      const std::string *s = std::get_if<std::string>(&v);
      if (s == nullptr) return UIE_TYPE_MISMATCH;
      if (c.kind == Kind::text_box && append_text) {
        std::get<std::string>(c.value) += *s;
      } else {
        c.value = c.kind == Kind::text_message || c.kind == Kind::text_box ? *s : cut(*s, c.max_length);
      }
      return 0;
    }
    case Kind::ring:
    case Kind::list_box: {
      Value want;
      const int r = list_value(c, v, &want);
      if (r != 0) return r;
      for (std::size_t i = 0; i < c.items.size(); ++i) {
        if (same_value(c.items[i].value, want)) {
          c.index = static_cast<int>(i);
          return 0;
        }
      }
      return UIE_VALUE_INVALID;
    }
    case Kind::tab: {
      Number n;
      if (!number_of(v, &n) || !n.integral) return UIE_TYPE_MISMATCH;
      if (n.i < 0 || n.i >= static_cast<long long>(c.pages.size())) return UIE_INDEX_INVALID;
      c.value = static_cast<int>(n.i);
      return 0;
    }
    default: return UIE_TYPE_MISMATCH;  // buttons, timers and decorations hold no value
  }
}

namespace {

int set_value(int panel_handle, int control, const Value &v) {
  model::Panel *p = panel(panel_handle);
  if (p == nullptr) return UIE_PANEL_INVALID;
  Control *c = p->control(control);
  if (c == nullptr) return UIE_CTRL_INVALID;
  const int r = store_value(*c, v, true);
  if (r == 0) c->edited = false;  // the program's value replaces what was typed
  if (r == 0) notify_control(panel_handle, control);
  return r;
}

}  // namespace

int set_ctrl_val_integer(int p, int c, long long value) {
  if (value >= INT_MIN && value <= INT_MAX) return set_value(p, c, static_cast<int>(value));
  return set_value(p, c, static_cast<double>(value));
}
int set_ctrl_val_real(int p, int c, double value) { return set_value(p, c, value); }
int set_ctrl_val_text(int p, int c, std::string_view value) { return set_value(p, c, std::string(value)); }

}  // namespace platform::ui::detail

// ---------------------------------------------------------------------------
// Reading values.

namespace {

const Control *find(int panel_handle, int control, int *error) {
  const model::Panel *p = panel(panel_handle);
  if (p == nullptr) {
    *error = UIE_PANEL_INVALID;
    return nullptr;
  }
  const Control *c = p->control(control);
  if (c == nullptr) *error = UIE_CTRL_INVALID;
  return c;
}

Control *find_mut(int panel_handle, int control, int *error) {
  return const_cast<Control *>(find(panel_handle, control, error));
}

// The value GetCtrlVal reads: the selected item's for lists.
int current_value(const Control &c, const Value **out) {
  if (c.kind == Kind::ring || c.kind == Kind::list_box) {
    if (c.index < 0 || c.index >= static_cast<int>(c.items.size())) return UIE_INDEX_INVALID;
    *out = &c.items[static_cast<std::size_t>(c.index)].value;
    return 0;
  }
  if (std::holds_alternative<std::monostate>(c.value)) return UIE_TYPE_MISMATCH;
  *out = &c.value;
  return 0;
}

template <class T>
int read_typed(int p, int control, T *value) {
  int err = 0;
  const Control *c = find(p, control, &err);
  if (c == nullptr) return err;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  const Value *v = nullptr;
  if (const int r = current_value(*c, &v); r != 0) return r;
  const T *typed = std::get_if<T>(v);
  if (typed == nullptr) return UIE_TYPE_MISMATCH;
  *value = *typed;
  return 0;
}

void copy_out(const std::string &text, char *buffer, std::size_t size) {
  const std::size_t n = std::min(text.size(), size - 1);
  text.copy(buffer, n);
  buffer[n] = '\0';
}

}  // namespace

int GetCtrlVal(int p, int c, int *value) { return read_typed(p, c, value); }
int GetCtrlVal(int p, int c, short *value) { return read_typed(p, c, value); }
int GetCtrlVal(int p, int c, float *value) { return read_typed(p, c, value); }
int GetCtrlVal(int p, int c, double *value) { return read_typed(p, c, value); }
int GetCtrlVal(int p, int c, std::string *value) { return read_typed(p, c, value); }

int GetCtrlVal(int p, int c, char *buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return UIE_BAD_ARGUMENT;
  std::string text;
  const int r = read_typed(p, c, &text);
  if (r == 0) copy_out(text, buffer, size);
  return r;
}

// ---------------------------------------------------------------------------
// Attributes.

namespace {

using AttrValue = std::variant<int, double, std::string, void *>;

enum AttrType { kInt, kReal, kText, kPointer, kRange };

struct AttrInfo {
  int attribute;
  AttrType type;
  bool read_only;
};

constexpr AttrInfo kCtrlAttrs[] = {
    {ATTR_DIMMED, kInt, false},          {ATTR_VISIBLE, kInt, false},        {ATTR_LEFT, kInt, false},
    {ATTR_TOP, kInt, false},             {ATTR_WIDTH, kInt, false},          {ATTR_HEIGHT, kInt, false},
    {ATTR_HSCROLL_OFFSET, kInt, false},  {ATTR_CTRL_MODE, kInt, false},      {ATTR_LABEL_TEXT, kText, false},
    {ATTR_LABEL_POINT_SIZE, kInt, false}, {ATTR_TOOLTIP_TEXT, kText, false}, {ATTR_TEXT_BGCOLOR, kInt, false},
    {ATTR_TEXT_COLOR, kInt, false},      {ATTR_FILL_COLOR, kInt, false},     {ATTR_FIRST_VISIBLE_LINE, kInt, false},
    {ATTR_ON_COLOR, kInt, false},        {ATTR_LABEL_TOP, kInt, false},      {ATTR_LABEL_LEFT, kInt, false},
    {ATTR_ENABLED, kInt, false},         {ATTR_INTERVAL, kReal, false},      {ATTR_MIN_VALUE, kRange, false},
    {ATTR_MAX_VALUE, kRange, false},     {ATTR_PRECISION, kInt, false},      {ATTR_MAX_ENTRY_LENGTH, kInt, false},
    {ATTR_DATA_TYPE, kInt, true},        {ATTR_CTRL_KIND, kInt, true},       {ATTR_SHORTCUT_KEY, kInt, false},
    {ATTR_CALLBACK_NAME, kText, true},   {ATTR_CALLBACK_DATA, kPointer, false}, {ATTR_LABEL_VISIBLE, kInt, false},
    {ATTR_TEXT_FONT, kText, false},      {ATTR_TEXT_POINT_SIZE, kInt, false},
};

const AttrInfo *attr_info(int attribute) {
  for (const AttrInfo &a : kCtrlAttrs)
    if (a.attribute == attribute) return &a;
  return nullptr;
}

bool numeric_type(int t) { return t == VAL_FLOAT || t == VAL_DOUBLE; }

// The attributes that belong to some kinds only.
bool valid_for(const Control &c, int attribute) {
  switch (attribute) {
    case ATTR_ENABLED:
    case ATTR_INTERVAL: return c.kind == Kind::timer;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE:
    case ATTR_PRECISION: return c.kind == Kind::numeric;
    case ATTR_MAX_ENTRY_LENGTH: return c.kind == Kind::string || c.kind == Kind::path;
    case ATTR_FIRST_VISIBLE_LINE: return c.kind == Kind::text_box;
    case ATTR_HSCROLL_OFFSET: return c.kind == Kind::text_box || c.kind == Kind::string;
    case ATTR_ON_COLOR: return c.kind == Kind::toggle || c.kind == Kind::check_box || c.kind == Kind::led;
    default: return true;
  }
}

int get_attr(const Control &c, int attribute, AttrValue *out) {
  const AttrInfo *info = attr_info(attribute);
  if (info == nullptr) return UIE_ATTR_INVALID;
  if (!valid_for(c, attribute)) return UIE_ATTR_NOT_VALID;
  switch (attribute) {
    case ATTR_DIMMED: *out = c.dimmed ? 1 : 0; break;
    case ATTR_VISIBLE: *out = c.visible ? 1 : 0; break;
    case ATTR_LEFT: *out = c.left; break;
    case ATTR_TOP: *out = c.top; break;
    case ATTR_WIDTH: *out = c.width; break;
    case ATTR_HEIGHT: *out = c.height; break;
    case ATTR_HSCROLL_OFFSET: *out = c.hscroll; break;
    case ATTR_CTRL_MODE: *out = c.mode; break;
    case ATTR_LABEL_TEXT: *out = c.label; break;
    case ATTR_LABEL_POINT_SIZE: *out = c.label_size; break;
    case ATTR_TOOLTIP_TEXT: *out = c.tooltip; break;
    case ATTR_TEXT_BGCOLOR: *out = c.back_color; break;
    case ATTR_TEXT_COLOR: *out = c.text_color; break;
    case ATTR_FILL_COLOR: *out = c.fill_color; break;
    case ATTR_FIRST_VISIBLE_LINE: *out = c.first_line; break;
    case ATTR_ON_COLOR: *out = c.on_color; break;
    case ATTR_LABEL_TOP: *out = c.label_top; break;
    case ATTR_LABEL_LEFT: *out = c.label_left; break;
    case ATTR_ENABLED: *out = c.enabled ? 1 : 0; break;
    case ATTR_INTERVAL: *out = c.interval; break;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE: {
      const double v = attribute == ATTR_MIN_VALUE ? c.min : c.max;
      if (numeric_type(c.data_type)) *out = v;
      else *out = static_cast<int>(v);
      break;
    }
    case ATTR_PRECISION: *out = c.precision; break;
    case ATTR_MAX_ENTRY_LENGTH: *out = c.max_length; break;
    case ATTR_DATA_TYPE: *out = c.data_type; break;
    case ATTR_CTRL_KIND: *out = static_cast<int>(c.kind); break;
    case ATTR_SHORTCUT_KEY: *out = c.shortcut; break;
    case ATTR_CALLBACK_NAME: *out = c.callback_name; break;
    case ATTR_CALLBACK_DATA: *out = c.callback_data; break;
    case ATTR_LABEL_VISIBLE: *out = c.label_visible ? 1 : 0; break;
    case ATTR_TEXT_FONT: *out = c.text_font; break;
    case ATTR_TEXT_POINT_SIZE: *out = c.text_size; break;
    default: return UIE_ATTR_INVALID;
  }
  return 0;
}

bool colour_ok(long long v) { return v >= 0 && v <= VAL_TRANSPARENT; }

int set_range(Control &c, int attribute, double v) {
  if (std::isnan(v)) return UIE_VALUE_INVALID;
  double lo, hi;
  detail::default_range(c.data_type, &lo, &hi);
  if (v < lo || v > hi) return UIE_VALUE_INVALID;
  if (!numeric_type(c.data_type)) v = std::round(v);
  const double new_min = attribute == ATTR_MIN_VALUE ? v : c.min;
  const double new_max = attribute == ATTR_MAX_VALUE ? v : c.max;
  if (new_min > new_max) return UIE_VALUE_INVALID;
  c.min = new_min;
  c.max = new_max;
  Value keep = c.value;
  detail::store_value(c, keep, false);  // the value moves into the new range
  return 0;
}

int set_attr(int panel_handle, Control &c, int attribute, const AttrValue &in) {
  const AttrInfo *info = attr_info(attribute);
  if (info == nullptr) return UIE_ATTR_INVALID;
  if (!valid_for(c, attribute) || info->read_only) return UIE_ATTR_NOT_VALID;
  // Type of what was handed in against the attribute's.
  const bool is_int = std::holds_alternative<int>(in);
  const bool is_real = std::holds_alternative<double>(in);
  switch (info->type) {
    case kInt:
      if (!is_int) return UIE_TYPE_MISMATCH;
      break;
    case kReal:
    case kRange:
      if (!is_int && !is_real) return UIE_TYPE_MISMATCH;
      break;
    case kText:
      if (!std::holds_alternative<std::string>(in)) return UIE_TYPE_MISMATCH;
      break;
    case kPointer:
      if (!std::holds_alternative<void *>(in)) return UIE_TYPE_MISMATCH;
      break;
  }
  const int iv = is_int ? std::get<int>(in) : 0;
  const double rv = is_int ? iv : is_real ? std::get<double>(in) : 0.0;
  bool geometry = false;
  switch (attribute) {
    case ATTR_DIMMED: c.dimmed = iv != 0; break;
    case ATTR_VISIBLE: c.visible = iv != 0; break;
    // The label moves with its control.
    case ATTR_LEFT:
      c.label_left += iv - c.left;
      c.left = iv;
      geometry = true;
      break;
    case ATTR_TOP:
      c.label_top += iv - c.top;
      c.top = iv;
      geometry = true;
      break;
    case ATTR_WIDTH:
    case ATTR_HEIGHT:
      if (iv < 0) return UIE_VALUE_INVALID;
      (attribute == ATTR_WIDTH ? c.width : c.height) = iv;
      geometry = true;
      break;
    case ATTR_HSCROLL_OFFSET:
      if (iv < 0) return UIE_VALUE_INVALID;
      c.hscroll = iv;
      break;
    case ATTR_CTRL_MODE:
      if (iv != VAL_INDICATOR && iv != VAL_HOT) return UIE_VALUE_INVALID;
      c.mode = iv;
      break;
    case ATTR_LABEL_TEXT: c.label = std::get<std::string>(in); break;
    case ATTR_LABEL_POINT_SIZE:
      if (iv < 0 || iv > 200) return UIE_VALUE_INVALID;
      c.label_size = iv;
      break;
    case ATTR_TOOLTIP_TEXT: c.tooltip = std::get<std::string>(in); break;
    case ATTR_TEXT_BGCOLOR:
    case ATTR_TEXT_COLOR:
    case ATTR_FILL_COLOR:
    case ATTR_ON_COLOR: {
      if (!colour_ok(iv)) return UIE_VALUE_INVALID;
      int &slot = attribute == ATTR_TEXT_BGCOLOR ? c.back_color
                  : attribute == ATTR_TEXT_COLOR ? c.text_color
                  : attribute == ATTR_FILL_COLOR ? c.fill_color
                                                 : c.on_color;
      slot = iv;
      break;
    }
    case ATTR_FIRST_VISIBLE_LINE:
      if (iv < 0) return UIE_VALUE_INVALID;
      c.first_line = iv;
      break;
    case ATTR_LABEL_TOP: c.label_top = iv; break;
    case ATTR_LABEL_LEFT: c.label_left = iv; break;
    case ATTR_ENABLED:
      c.enabled = iv != 0;
      if (c.enabled) detail::schedule_timer(c);
      break;
    case ATTR_INTERVAL:
      if (!(rv > 0.0) || !std::isfinite(rv)) return UIE_VALUE_INVALID;
      c.interval = rv;
      detail::schedule_timer(c);
      break;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE:
      if (const int r = set_range(c, attribute, rv); r != 0) return r;
      break;
    case ATTR_PRECISION:
      if (iv < 0 || iv > 15) return UIE_VALUE_INVALID;
      c.precision = iv;
      break;
    case ATTR_MAX_ENTRY_LENGTH:
      if (iv < 0) return UIE_VALUE_INVALID;
      c.max_length = iv;
      c.value = cut(std::get<std::string>(c.value), iv);
      break;
    case ATTR_SHORTCUT_KEY:
      if (iv < 0) return UIE_VALUE_INVALID;
      c.shortcut = iv;
      break;
    case ATTR_CALLBACK_DATA: c.callback_data = std::get<void *>(in); break;
    case ATTR_LABEL_VISIBLE: c.label_visible = iv != 0; break;
    case ATTR_TEXT_FONT: c.text_font = std::get<std::string>(in); break;
    case ATTR_TEXT_POINT_SIZE:
      if (iv < 0 || iv > 200) return UIE_VALUE_INVALID;
      c.text_size = iv;
      break;
    default: return UIE_ATTR_INVALID;
  }
  if (geometry && c.kind == Kind::tab) detail::fit_pages(c);
  detail::notify_control(panel_handle, c.id);
  return 0;
}

int set_ctrl_attr(int p, int control, int attribute, const AttrValue &v) {
  int err = 0;
  Control *c = find_mut(p, control, &err);
  if (c == nullptr) return err;
  return set_attr(p, *c, attribute, v);
}

bool attribute_is_real_capable(int attribute) {
  const AttrInfo *info = attr_info(attribute);
  return info != nullptr && info->type == kRange;
}

template <class T>
int get_ctrl_attr(int p, int control, int attribute, T *value) {
  int err = 0;
  const Control *c = find(p, control, &err);
  if (c == nullptr) return err;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  AttrValue v;
  if (const int r = get_attr(*c, attribute, &v); r != 0) return r;
  if constexpr (std::is_same_v<T, double>) {
    if (const int *i = std::get_if<int>(&v); i != nullptr && attribute_is_real_capable(attribute)) {
      *value = *i;
      return 0;
    }
  }
  const T *typed = std::get_if<T>(&v);
  if (typed == nullptr) return UIE_TYPE_MISMATCH;
  *value = *typed;
  return 0;
}

}  // namespace

namespace platform::ui::detail {
int set_ctrl_attr_integer(int p, int c, int attribute, long long value) {
  if (value < INT_MIN || value > INT_MAX) {
    const AttrInfo *info = attr_info(attribute);
    if (info != nullptr && (info->type == kReal || info->type == kRange))
      return set_ctrl_attr(p, c, attribute, static_cast<double>(value));
    int err = 0;
    if (find(p, c, &err) == nullptr) return err;
    return info == nullptr ? UIE_ATTR_INVALID : UIE_VALUE_INVALID;
  }
  return set_ctrl_attr(p, c, attribute, static_cast<int>(value));
}
int set_ctrl_attr_real(int p, int c, int attribute, double value) { return set_ctrl_attr(p, c, attribute, value); }
int set_ctrl_attr_text(int p, int c, int attribute, std::string_view value) {
  return set_ctrl_attr(p, c, attribute, std::string(value));
}
int set_ctrl_attr_pointer(int p, int c, int attribute, void *value) { return set_ctrl_attr(p, c, attribute, value); }

int set_attribute_for_ctrls(int p, int attribute, long long value, std::span<const int> controls) {
  if (panel(p) == nullptr) return UIE_PANEL_INVALID;
  for (int c : controls)
    if (const int r = set_ctrl_attr_integer(p, c, attribute, value); r != 0) return r;
  return 0;
}
}  // namespace platform::ui::detail

int GetCtrlAttribute(int p, int c, int attribute, int *value) { return get_ctrl_attr(p, c, attribute, value); }
int GetCtrlAttribute(int p, int c, int attribute, double *value) { return get_ctrl_attr(p, c, attribute, value); }
int GetCtrlAttribute(int p, int c, int attribute, std::string *value) { return get_ctrl_attr(p, c, attribute, value); }
int GetCtrlAttribute(int p, int c, int attribute, void **value) { return get_ctrl_attr(p, c, attribute, value); }
int GetCtrlAttribute(int p, int c, int attribute, char *buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return UIE_BAD_ARGUMENT;
  std::string text;
  const int r = get_ctrl_attr(p, c, attribute, &text);
  if (r == 0) copy_out(text, buffer, size);
  return r;
}

// ---------------------------------------------------------------------------
// Creating and removing controls, focus, geometry.

int NewCtrl(int p, int kind, int data_type, const char *label, int top, int left, int height, int width) {
  model::Panel *pp = panel(p);
  if (pp == nullptr) return UIE_PANEL_INVALID;
  if (kind < CTRL_COMMAND_BUTTON || kind > CTRL_DECORATION) return UIE_VALUE_INVALID;
  if (height < 0 || width < 0) return UIE_VALUE_INVALID;
  Control c;
  c.kind = static_cast<Kind>(kind);
  if (detail::kind_has_data_type(c.kind)) {
    if (data_type == VAL_NO_TYPE) data_type = VAL_INTEGER;
    if (data_type < VAL_INTEGER || data_type > VAL_STRING) return UIE_VALUE_INVALID;
    if (c.kind == Kind::numeric && data_type == VAL_STRING) return UIE_VALUE_INVALID;
  } else if (data_type != VAL_NO_TYPE) {
    return UIE_VALUE_INVALID;
  } else {
    const Value v = detail::default_value(c.kind, VAL_NO_TYPE);
    data_type = model::data_type_of(v);
  }
  c.data_type = data_type;
  c.value = detail::default_value(c.kind, data_type);
  detail::default_range(data_type, &c.min, &c.max);
  c.label = label ? label : "";
  c.top = top;
  c.left = left;
  c.height = height;
  c.width = width;
  detail::default_label_position(c);
  int id = 1;
  for (const Control &other : pp->controls) id = std::max(id, other.id + 1);
  c.id = id;
  if (c.kind == Kind::timer) detail::schedule_timer(c);
  pp->controls.push_back(std::move(c));
  detail::notify_control_added(p, id);
  return id;
}

int DiscardCtrl(int p, int control) {
  int err = 0;
  Control *c = find_mut(p, control, &err);
  if (c == nullptr) return err;
  if (c->kind == Kind::tab) {
    const std::vector<int> pages = c->pages;
    for (int h : pages) detail::remove_panel(h);
  }
  model::Panel *pp = panel(p);
  if (pp->active_ctrl == control) pp->active_ctrl = 0;
  if (pp->close_ctrl == control) pp->close_ctrl = 0;
  detail::notify_control_removed(p, control);
  std::erase_if(pp->controls, [control](const Control &x) { return x.id == control; });
  return 0;
}

int InstallCtrlCallback(int p, int control, CtrlCallbackPtr callback, void *callback_data) {
  int err = 0;
  Control *c = find_mut(p, control, &err);
  if (c == nullptr) return err;
  c->callback = callback;
  c->callback_data = callback_data;
  c->callback_name.clear();
  return 0;
}

int SetActiveCtrl(int p, int control) {
  int err = 0;
  if (find(p, control, &err) == nullptr) return err;
  // The program moves the focus: what was typed in the old control stays uncommitted.
  if (model::Control *old = panel(p)->control(panel(p)->active_ctrl); old != nullptr && old->id != control)
    old->edited = false;
  panel(p)->active_ctrl = control;
  detail::notify_focus();
  return 0;
}

int GetActiveCtrl(int p) {
  const model::Panel *pp = panel(p);
  return pp == nullptr ? UIE_PANEL_INVALID : pp->active_ctrl;
}

int GetCtrlBoundingRect(int p, int control, int *top, int *left, int *height, int *width) {
  int err = 0;
  const Control *c = find(p, control, &err);
  if (c == nullptr) return err;
  int t = c->top, l = c->left, b = c->top + c->height, r = c->left + c->width;
  if (model::label_outside(c->kind) && c->label_visible && !c->label.empty()) {
    // The label's extent as the views draw it at their default size.
    const int size = c->label_size > 0 ? c->label_size : 12;
    const int lw = static_cast<int>(c->label.size()) * size * 6 / 10;
    t = std::min(t, c->label_top);
    l = std::min(l, c->label_left);
    b = std::max(b, c->label_top + size + 3);
    r = std::max(r, c->label_left + lw);
  }
  if (top) *top = t;
  if (left) *left = l;
  if (height) *height = b - t;
  if (width) *width = r - l;
  return 0;
}

// ---------------------------------------------------------------------------
// List items.

namespace {

Control *list_of(int p, int control, int *err) {
  Control *c = find_mut(p, control, err);
  if (c == nullptr) return nullptr;
  if (c->kind != Kind::ring && c->kind != Kind::list_box) {
    *err = UIE_ATTR_NOT_VALID;
    return nullptr;
  }
  return c;
}

int item_value(const Control &c, long long ivalue, double rvalue, const char *svalue, int which, Value *out) {
  if (which == 2) {
    if (svalue == nullptr) return UIE_BAD_ARGUMENT;
    return list_value(c, std::string(svalue), out);
  }
  if (which == 0) {
    if (ivalue >= INT_MIN && ivalue <= INT_MAX) return list_value(c, static_cast<int>(ivalue), out);
    return list_value(c, static_cast<double>(ivalue), out);
  }
  return list_value(c, rvalue, out);
}

}  // namespace

namespace platform::ui::detail {

int insert_list_item(int p, int control, int index, const char *label, long long ivalue, double rvalue,
                     const char *svalue, int which) {
  int err = 0;
  Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  Value v;
  if (const int r = item_value(*c, ivalue, rvalue, svalue, which, &v); r != 0) return r;
  const int n = static_cast<int>(c->items.size());
  if (index == -1) index = n;
  if (index < 0 || index > n) return UIE_INDEX_INVALID;
  c->items.insert(c->items.begin() + index, model::ListItem{label ? label : "", std::move(v)});
  if (c->index < 0) c->index = 0;
  else if (index <= c->index && n > 0) ++c->index;
  notify_control(p, control);
  return 0;
}

int replace_list_item(int p, int control, int index, const char *label, long long ivalue, double rvalue,
                      const char *svalue, int which) {
  int err = 0;
  Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return UIE_INDEX_INVALID;
  Value v;
  if (const int r = item_value(*c, ivalue, rvalue, svalue, which, &v); r != 0) return r;
  c->items[static_cast<std::size_t>(index)] = model::ListItem{label ? label : "", std::move(v)};
  notify_control(p, control);
  return 0;
}

}  // namespace platform::ui::detail

int DeleteListItem(int p, int control, int index, int count) {
  int err = 0;
  Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  const int n = static_cast<int>(c->items.size());
  if (index < 0 || index >= n) return UIE_INDEX_INVALID;
  if (count < 0 || index + count > n) count = n - index;
  c->items.erase(c->items.begin() + index, c->items.begin() + index + count);
  if (c->index >= index + count) c->index -= count;
  else if (c->index >= index) c->index = std::min(index, static_cast<int>(c->items.size()) - 1);
  if (c->items.empty()) c->index = -1;
  detail::notify_control(p, control);
  return 0;
}

int ClearListCtrl(int p, int control) {
  int err = 0;
  Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  c->items.clear();
  c->index = -1;
  detail::notify_control(p, control);
  return 0;
}

int GetNumListItems(int p, int control, int *count) {
  int err = 0;
  const Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (count == nullptr) return UIE_BAD_ARGUMENT;
  *count = static_cast<int>(c->items.size());
  return 0;
}

int GetCtrlIndex(int p, int control, int *index) {
  int err = 0;
  const Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (index == nullptr) return UIE_BAD_ARGUMENT;
  *index = c->index;
  return 0;
}

int SetCtrlIndex(int p, int control, int index) {
  int err = 0;
  Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return UIE_INDEX_INVALID;
  c->index = index;
  detail::notify_control(p, control);
  return 0;
}

int GetLabelFromIndex(int p, int control, int index, char *buffer, std::size_t size) {
  int err = 0;
  const Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (buffer == nullptr || size == 0) return UIE_BAD_ARGUMENT;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return UIE_INDEX_INVALID;
  copy_out(c->items[static_cast<std::size_t>(index)].label, buffer, size);
  return 0;
}

int GetValueFromIndex(int p, int control, int index, int *value) {
  int err = 0;
  const Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return UIE_INDEX_INVALID;
  const int *v = std::get_if<int>(&c->items[static_cast<std::size_t>(index)].value);
  if (v == nullptr) return UIE_TYPE_MISMATCH;
  *value = *v;
  return 0;
}

int GetValueFromIndex(int p, int control, int index, double *value) {
  int err = 0;
  const Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (value == nullptr) return UIE_BAD_ARGUMENT;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return UIE_INDEX_INVALID;
  const double *v = std::get_if<double>(&c->items[static_cast<std::size_t>(index)].value);
  if (v == nullptr) return UIE_TYPE_MISMATCH;
  *value = *v;
  return 0;
}

int GetIndexFromValue(int p, int control, int *index, int value) {
  int err = 0;
  const Control *c = list_of(p, control, &err);
  if (c == nullptr) return err;
  if (index == nullptr) return UIE_BAD_ARGUMENT;
  if (c->data_type != VAL_INTEGER) return UIE_TYPE_MISMATCH;
  for (std::size_t i = 0; i < c->items.size(); ++i) {
    if (std::get<int>(c->items[i].value) == value) {
      *index = static_cast<int>(i);
      return 0;
    }
  }
  return UIE_VALUE_INVALID;
}

// ---------------------------------------------------------------------------
// Text boxes.

namespace {

Control *text_box_of(int p, int control, int *err) {
  Control *c = find_mut(p, control, err);
  if (c == nullptr) return nullptr;
  if (c->kind != Kind::text_box) {
    *err = UIE_ATTR_NOT_VALID;
    return nullptr;
  }
  return c;
}

// Lines of a text; a final newline ends the last line rather than starting one.
std::vector<std::string_view> lines_of(const std::string &text) {
  std::vector<std::string_view> out;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) {
      out.push_back(rest);
      break;
    }
    out.push_back(rest.substr(0, nl));
    rest.remove_prefix(nl + 1);
  }
  return out;
}

}  // namespace

int ResetTextBox(int p, int control, const char *text) {
  int err = 0;
  Control *c = text_box_of(p, control, &err);
  if (c == nullptr) return err;
  c->value = std::string(text ? text : "");
  c->first_line = 0;
  detail::notify_control(p, control);
  return 0;
}

int GetNumTextBoxLines(int p, int control, int *count) {
  int err = 0;
  const Control *c = text_box_of(p, control, &err);
  if (c == nullptr) return err;
  if (count == nullptr) return UIE_BAD_ARGUMENT;
  *count = static_cast<int>(lines_of(std::get<std::string>(c->value)).size());
  return 0;
}

int GetTextBoxLine(int p, int control, int index, char *buffer, std::size_t size) {
  int err = 0;
  const Control *c = text_box_of(p, control, &err);
  if (c == nullptr) return err;
  if (buffer == nullptr || size == 0) return UIE_BAD_ARGUMENT;
  const auto lines = lines_of(std::get<std::string>(c->value));
  if (index < 0 || index >= static_cast<int>(lines.size())) return UIE_INDEX_INVALID;
  copy_out(std::string(lines[static_cast<std::size_t>(index)]), buffer, size);
  return 0;
}

int GetTextBoxLineLength(int p, int control, int index, int *length) {
  int err = 0;
  const Control *c = text_box_of(p, control, &err);
  if (c == nullptr) return err;
  if (length == nullptr) return UIE_BAD_ARGUMENT;
  const auto lines = lines_of(std::get<std::string>(c->value));
  if (index < 0 || index >= static_cast<int>(lines.size())) return UIE_INDEX_INVALID;
  *length = static_cast<int>(lines[static_cast<std::size_t>(index)].size());
  return 0;
}

// ---------------------------------------------------------------------------
// Path controls.

namespace {

Control *path_of(int p, int control, int *err) {
  Control *c = find_mut(p, control, err);
  if (c == nullptr) return nullptr;
  if (c->kind != Kind::path) {
    *err = UIE_ATTR_NOT_VALID;
    return nullptr;
  }
  return c;
}

}  // namespace

int NewPathCtrl(int p, int control, int visible_history, int directories_only) {
  int err = 0;
  Control *c = find_mut(p, control, &err);
  if (c == nullptr) return err;
  if (c->kind != Kind::string && c->kind != Kind::path) return UIE_ATTR_NOT_VALID;
  if (visible_history < 0) return UIE_VALUE_INVALID;
  c->kind = Kind::path;
  c->visible_history = visible_history;
  c->directories_only = directories_only != 0;
  detail::notify_control(p, control);
  return 0;
}

int SetPathCtrlAttribute(int p, int control, int attribute, int value) {
  int err = 0;
  Control *c = path_of(p, control, &err);
  if (c == nullptr) return err;
  if (attribute != ATTR_PATH_CTRL_MAX_HISTORY) return UIE_ATTR_INVALID;
  if (value < 1) return UIE_VALUE_INVALID;
  c->max_history = value;
  if (c->history.size() > static_cast<std::size_t>(value)) c->history.resize(static_cast<std::size_t>(value));
  detail::notify_control(p, control);
  return 0;
}

int AddItemToPathCtrlHistory(int p, int control, const char *path) {
  int err = 0;
  Control *c = path_of(p, control, &err);
  if (c == nullptr) return err;
  if (path == nullptr) return UIE_BAD_ARGUMENT;
  std::erase(c->history, std::string(path));
  c->history.insert(c->history.begin(), path);
  if (c->history.size() > static_cast<std::size_t>(c->max_history))
    c->history.resize(static_cast<std::size_t>(c->max_history));
  detail::notify_control(p, control);
  return 0;
}
