// The resource file: a JSON document of panels and menu bars (see
// RESOURCE_FORMAT.md). Read strictly: an unknown key, a value of the wrong
// type or range, a duplicate number or an unregistered callback fails the load
// with a negative result and a detail text (last_error_detail).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/ui/internal.h"
#include "platform/win/files.h"
#include "platform/win/progdir.h"

using nlohmann::json;
using namespace platform::ui;
using model::Control;
using model::Kind;
using model::Value;

namespace platform::ui::detail {
namespace {

constexpr std::uintmax_t kMaxResourceSize = 16u << 20;

// Thrown inside the parser only; turned into a result code at its edge.
struct ParseError {
  int code;
  std::string text;
};

[[noreturn]] void bad(const std::string &where, const std::string &what, int code = UIE_RESOURCE_FORMAT) {
  throw ParseError{code, where + ": " + what};
}

std::string resolve(const std::string &file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::exists(file, ec) || fs::path(file).is_absolute()) return file;
  const std::string beside = platform::program_dir() + "/" + file;
  return fs::exists(beside, ec) ? beside : file;
}

json read_document(const std::string &file, std::string *resolved) {
  *resolved = resolve(file);
  std::string refused;
  const int fd = platform::files::open_plain(resolved->c_str(), O_RDONLY, &refused);
  if (fd < 0 && !refused.empty()) throw ParseError{UIE_FILE_NOT_FOUND, refused};
  if (fd < 0) bad(file, "cannot be opened", UIE_FILE_NOT_FOUND);
  std::string text;
  {
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) bad(file, "cannot be read", UIE_FILE_NOT_FOUND);
      if (n == 0) break;
      text.append(buf, static_cast<size_t>(n));
      if (text.size() > kMaxResourceSize) bad(file, "is larger than a resource file can be");
    }
  }
  try {
    json doc = json::parse(text);
    if (!doc.is_object()) bad(file, "the document is not a JSON object");
    return doc;
  } catch (const json::exception &e) {
    bad(file, std::string("not JSON: ") + e.what());
  }
}

void check_keys(const json &obj, const std::string &where, std::initializer_list<const char *> allowed) {
  if (!obj.is_object()) bad(where, "is not an object");
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool ok = it.key() == "comment";
    for (const char *a : allowed) ok = ok || it.key() == a;
    if (!ok) bad(where, "key '" + it.key() + "' is not known here");
  }
}

bool has(const json &obj, const char *key) { return obj.contains(key); }

long long integer(const json &v, const std::string &where, const char *key, long long lo, long long hi) {
  if (!v.is_number_integer()) bad(where, std::string("'") + key + "' must be a whole number");
  if (v.is_number_unsigned() && v.get<unsigned long long>() > static_cast<unsigned long long>(hi))
    bad(where, std::string("'") + key + "' is out of range");
  const long long x = v.get<long long>();
  if (x < lo || x > hi) bad(where, std::string("'") + key + "' is out of range");
  return x;
}

int get_int(const json &obj, const char *key, int dflt, const std::string &where, long long lo = INT_MIN,
            long long hi = INT_MAX) {
  if (!has(obj, key)) return dflt;
  return static_cast<int>(integer(obj.at(key), where, key, lo, hi));
}

double get_real(const json &obj, const char *key, double dflt, const std::string &where) {
  if (!has(obj, key)) return dflt;
  const json &v = obj.at(key);
  if (!v.is_number()) bad(where, std::string("'") + key + "' must be a number");
  return v.get<double>();
}

bool get_bool(const json &obj, const char *key, bool dflt, const std::string &where) {
  if (!has(obj, key)) return dflt;
  const json &v = obj.at(key);
  if (!v.is_boolean()) bad(where, std::string("'") + key + "' must be true or false");
  return v.get<bool>();
}

std::string get_text(const json &obj, const char *key, const std::string &dflt, const std::string &where) {
  if (!has(obj, key)) return dflt;
  const json &v = obj.at(key);
  if (!v.is_string()) bad(where, std::string("'") + key + "' must be a text");
  return v.get<std::string>();
}

// A colour: 0xRRGGBB as a number, "#RRGGBB" or "transparent".
int get_colour(const json &obj, const char *key, int dflt, const std::string &where) {
  if (!has(obj, key)) return dflt;
  const json &v = obj.at(key);
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    if (s == "transparent") return VAL_TRANSPARENT;
    unsigned int rgb = 0;
    char tail = 0;
    if (s.size() == 7 && s[0] == '#' && std::sscanf(s.c_str() + 1, "%6x%c", &rgb, &tail) == 1) return static_cast<int>(rgb);
    bad(where, std::string("'") + key + "' must be #RRGGBB or transparent");
  }
  return static_cast<int>(integer(v, where, key, 0, VAL_TRANSPARENT));
}

// A position: a number or "center".
int get_position(const json &obj, const char *key, int dflt, const std::string &where) {
  if (!has(obj, key)) return dflt;
  const json &v = obj.at(key);
  if (v.is_string() && v.get<std::string>() == "center") return VAL_AUTO_CENTER;
  return static_cast<int>(integer(v, where, key, -100000, 100000));
}

// A key code: a number, or a text "0x1800".
int get_key(const json &obj, const char *key, const std::string &where) {
  if (!has(obj, key)) return 0;
  const json &v = obj.at(key);
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    unsigned int code = 0;
    char tail = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
        std::sscanf(s.c_str() + 2, "%x%c", &code, &tail) == 1 && code <= 0x3FFFF)
      return static_cast<int>(code);
    bad(where, std::string("'") + key + "' must be a key code such as \"0x1800\"");
  }
  return static_cast<int>(integer(v, where, key, 0, 0x3FFFF));
}

const json &get_array(const json &obj, const char *key, const std::string &where) {
  static const json empty = json::array();
  if (!has(obj, key)) return empty;
  const json &v = obj.at(key);
  if (!v.is_array()) bad(where, std::string("'") + key + "' must be a list");
  return v;
}

int data_type_named(const std::string &name, const std::string &where) {
  if (name == "int") return VAL_INTEGER;
  if (name == "short") return VAL_SHORT_INTEGER;
  if (name == "float") return VAL_FLOAT;
  if (name == "double") return VAL_DOUBLE;
  if (name == "string") return VAL_STRING;
  bad(where, "data type '" + name + "' is not one of int, short, float, double, string");
}

// A value of the data type from JSON, within [min, max] for numbers.
Value value_of(const json &v, int data_type, double min, double max, const std::string &where, const char *key) {
  switch (data_type) {
    case VAL_STRING:
      if (!v.is_string()) bad(where, std::string("'") + key + "' must be a text");
      return v.get<std::string>();
    case VAL_INTEGER:
    case VAL_SHORT_INTEGER: {
      const long long x = integer(v, where, key, static_cast<long long>(min), static_cast<long long>(max));
      if (data_type == VAL_SHORT_INTEGER) return static_cast<short>(x);
      return static_cast<int>(x);
    }
    default: {
      if (!v.is_number()) bad(where, std::string("'") + key + "' must be a number");
      const double x = v.get<double>();
      if (!(x >= min && x <= max)) bad(where, std::string("'") + key + "' is out of range");
      if (data_type == VAL_FLOAT) return static_cast<float>(x);
      return x;
    }
  }
}

CtrlCallbackPtr ctrl_callback(const std::string &name, const std::string &where) {
  if (CtrlCallbackPtr f = find_ctrl_callback(name)) return f;
  bad(where, "callback '" + name + "' is not registered" +
                 (callback_registered(name) ? " as a control callback" : ""),
      UIE_CALLBACK_NOT_REGISTERED);
}

PanelCallbackPtr panel_callback(const std::string &name, const std::string &where) {
  if (PanelCallbackPtr f = find_panel_callback(name)) return f;
  bad(where, "callback '" + name + "' is not registered" +
                 (callback_registered(name) ? " as a panel callback" : ""),
      UIE_CALLBACK_NOT_REGISTERED);
}

MenuCallbackPtr menu_callback(const std::string &name, const std::string &where) {
  if (MenuCallbackPtr f = find_menu_callback(name)) return f;
  bad(where, "callback '" + name + "' is not registered" +
                 (callback_registered(name) ? " as a menu callback" : ""),
      UIE_CALLBACK_NOT_REGISTERED);
}

void default_size(Kind k, int *height, int *width) {
  switch (k) {
    case Kind::command_button: *height = 26; *width = 100; break;
    case Kind::toggle: *height = 24; *width = 60; break;
    case Kind::check_box: *height = 16; *width = 16; break;
    case Kind::led: *height = 18; *width = 18; break;
    case Kind::text_message: *height = 18; *width = 120; break;
    case Kind::text_box: *height = 80; *width = 200; break;
    case Kind::list_box: *height = 100; *width = 150; break;
    case Kind::tab: *height = 200; *width = 300; break;
    case Kind::timer: *height = 0; *width = 0; break;
    case Kind::decoration: *height = 50; *width = 100; break;
    case Kind::path: *height = 22; *width = 200; break;
    default: *height = 22; *width = 100; break;
  }
}

PanelDef parse_panel(const json &j, const std::string &where, bool page);

Control parse_control(const json &j, const std::string &panel_where, PanelDef *owner) {
  std::string where = panel_where + ", control";
  if (!j.is_object()) bad(where, "is not an object");
  if (!has(j, "id")) bad(where, "has no 'id'");
  Control c;
  c.id = static_cast<int>(integer(j.at("id"), where, "id", 1, INT_MAX));
  where += " " + std::to_string(c.id);
  const std::string kind = get_text(j, "kind", "", where);
  if (kind.empty()) bad(where, "has no 'kind'");
  if (!model::kind_from_name(kind, &c.kind)) bad(where, "kind '" + kind + "' is not known");
  const Kind k = c.kind;

  // Keys every kind takes, then those of some kinds.
  std::vector<const char *> allowed = {"id", "kind", "top", "left", "width", "height", "label", "dimmed",
                                       "visible", "callback", "hover", "shortcut", "text_color", "back_color",
                                       "fill_color", "mode", "label_top", "label_left", "label_size",
                                       "label_visible"};
  auto allow = [&](std::initializer_list<const char *> keys) { allowed.insert(allowed.end(), keys); };
  if (k == Kind::numeric) allow({"data_type", "value", "min", "max", "precision"});
  if (k == Kind::ring || k == Kind::list_box) allow({"data_type", "value", "items"});
  if (k == Kind::toggle || k == Kind::check_box || k == Kind::led) allow({"value", "on_color"});
  if (k == Kind::string || k == Kind::path) allow({"value", "max_length"});
  if (k == Kind::text_message || k == Kind::text_box) allow({"value"});
  if (k == Kind::path) allow({"history", "max_history", "visible_history", "directories_only"});
  if (k == Kind::tab) allow({"pages", "value"});
  if (k == Kind::timer) allow({"interval", "enabled"});
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool ok = it.key() == "comment";
    for (const char *a : allowed) ok = ok || it.key() == a;
    if (!ok) bad(where, "key '" + it.key() + "' is not known for a " + kind);
  }

  int dh, dw;
  default_size(k, &dh, &dw);
  c.top = get_int(j, "top", 0, where, -100000, 100000);
  c.left = get_int(j, "left", 0, where, -100000, 100000);
  c.height = get_int(j, "height", dh, where, 0, 100000);
  c.width = get_int(j, "width", dw, where, 0, 100000);
  c.label = get_text(j, "label", "", where);
  c.dimmed = get_bool(j, "dimmed", false, where);
  c.visible = get_bool(j, "visible", true, where);
  c.tooltip = get_text(j, "hover", "", where);
  c.shortcut = get_key(j, "shortcut", where);
  c.text_color = get_colour(j, "text_color", c.text_color, where);
  c.back_color = get_colour(j, "back_color", c.back_color, where);
  c.fill_color = get_colour(j, "fill_color", k == Kind::led ? 0x404040 : c.fill_color, where);
  c.on_color = get_colour(j, "on_color", c.on_color, where);
  const std::string mode = get_text(j, "mode", "hot", where);
  if (mode == "hot") c.mode = VAL_HOT;
  else if (mode == "indicator") c.mode = VAL_INDICATOR;
  else bad(where, "mode must be hot or indicator");
  c.label_size = get_int(j, "label_size", 0, where, 0, 200);
  c.label_visible = get_bool(j, "label_visible", true, where);
  default_label_position(c);
  c.label_top = get_int(j, "label_top", c.label_top, where, -100000, 100000);
  c.label_left = get_int(j, "label_left", c.label_left, where, -100000, 100000);
  if (has(j, "callback")) {
    c.callback_name = get_text(j, "callback", "", where);
    c.callback = ctrl_callback(c.callback_name, where);
  }

  // Data type and value.
  if (kind_has_data_type(k)) {
    c.data_type = data_type_named(get_text(j, "data_type", "int", where), where);
    if (k == Kind::numeric && c.data_type == VAL_STRING) bad(where, "a numeric cannot hold a string");
  } else {
    c.data_type = model::data_type_of(default_value(k, VAL_NO_TYPE));
  }
  default_range(c.data_type, &c.min, &c.max);
  c.value = default_value(k, c.data_type);
  switch (k) {
    case Kind::numeric: {
      double lo = c.min, hi = c.max;
      c.min = get_real(j, "min", c.min, where);
      c.max = get_real(j, "max", c.max, where);
      if (!(c.min >= lo && c.max <= hi && c.min <= c.max)) bad(where, "'min' and 'max' do not fit the data type");
      if (c.data_type == VAL_INTEGER || c.data_type == VAL_SHORT_INTEGER) {
        if (c.min != std::floor(c.min) || c.max != std::floor(c.max)) bad(where, "'min' and 'max' must be whole");
      }
      c.precision = get_int(j, "precision", 2, where, 0, 15);
      if (has(j, "value")) {
        c.value = value_of(j.at("value"), c.data_type, c.min, c.max, where, "value");
      } else {
        // Zero, or the nearest end of the range.
        store_value(c, std::clamp(0.0, c.min, c.max), false);
      }
      break;
    }
    case Kind::toggle:
    case Kind::check_box:
    case Kind::led:
      if (has(j, "value")) {
        const json &v = j.at("value");
        if (v.is_boolean()) c.value = v.get<bool>() ? 1 : 0;
        else c.value = static_cast<int>(integer(v, where, "value", 0, 1));
      }
      break;
    case Kind::string:
    case Kind::path:
      c.max_length = get_int(j, "max_length", 0, where, 0, 1 << 20);
      if (has(j, "value")) {
        c.value = get_text(j, "value", "", where);
        if (c.max_length > 0 && std::get<std::string>(c.value).size() > static_cast<std::size_t>(c.max_length))
          bad(where, "'value' is longer than 'max_length'");
      }
      if (k == Kind::path) {
        c.max_history = get_int(j, "max_history", 10, where, 1, 1000);
        c.visible_history = get_int(j, "visible_history", 4, where, 0, 1000);
        c.directories_only = get_bool(j, "directories_only", false, where);
        for (const json &h : get_array(j, "history", where)) {
          if (!h.is_string()) bad(where, "'history' holds texts");
          if (c.history.size() < static_cast<std::size_t>(c.max_history)) c.history.push_back(h.get<std::string>());
        }
      }
      break;
    case Kind::text_message:
    case Kind::text_box: c.value = get_text(j, "value", "", where); break;
    case Kind::ring:
    case Kind::list_box: {
      double lo, hi;
      default_range(c.data_type, &lo, &hi);
      for (const json &item : get_array(j, "items", where)) {
        const std::string iw = where + ", item " + std::to_string(c.items.size());
        check_keys(item, iw, {"label", "value"});
        if (!has(item, "value")) bad(iw, "has no 'value'");
        c.items.push_back(model::ListItem{get_text(item, "label", "", iw),
                                          value_of(item.at("value"), c.data_type, lo, hi, iw, "value")});
      }
      c.index = c.items.empty() ? -1 : 0;
      if (has(j, "value")) {
        const Value want = value_of(j.at("value"), c.data_type, lo, hi, where, "value");
        c.index = -1;
        for (std::size_t i = 0; i < c.items.size() && c.index < 0; ++i)
          if (c.items[i].value == want) c.index = static_cast<int>(i);
        if (c.index < 0) bad(where, "'value' is not the value of an item");
      }
      break;
    }
    case Kind::timer:
      c.interval = get_real(j, "interval", 1.0, where);
      if (!(c.interval >= 0.001 && c.interval <= 1e6)) bad(where, "'interval' must lie between 0.001 and 1e6 s");
      c.enabled = get_bool(j, "enabled", true, where);
      break;
    case Kind::tab: {
      std::vector<PanelDef> pages;
      for (const json &pj : get_array(j, "pages", where)) {
        PanelDef page = parse_panel(pj, where + ", page " + std::to_string(pages.size()), true);
        page.panel.tab_control = c.id;
        pages.push_back(std::move(page));
      }
      c.value = pages.empty() ? -1 : 0;
      if (has(j, "value")) {
        const int v = get_int(j, "value", 0, where, 0, INT_MAX);
        if (v >= static_cast<int>(pages.size())) bad(where, "'value' is not the index of a page");
        c.value = v;
      }
      owner->pages[c.id] = std::move(pages);
      break;
    }
    default: break;
  }
  return c;
}

PanelDef parse_panel(const json &j, const std::string &where_in, bool page) {
  std::string where = where_in;
  PanelDef def;
  model::Panel &p = def.panel;
  if (page) {
    check_keys(j, where, {"title", "name", "callback", "scale_contents", "fill_color", "controls"});
  } else {
    check_keys(j, where, {"id", "name", "title", "top", "left", "width", "height", "callback", "close_control",
                          "scale_contents", "floating", "fill_color", "menubar", "controls"});
    if (!has(j, "id")) bad(where, "has no 'id'");
    p.resource_id = static_cast<int>(integer(j.at("id"), where, "id", 1, INT_MAX));
    where += " " + std::to_string(p.resource_id);
  }
  p.name = get_text(j, "name", "", where);
  if (!p.name.empty()) where += " (" + p.name + ")";
  p.title = get_text(j, "title", "", where);
  if (!page) {
    if (!has(j, "height") || !has(j, "width")) bad(where, "needs 'height' and 'width'");
    p.top = get_position(j, "top", VAL_AUTO_CENTER, where);
    p.left = get_position(j, "left", VAL_AUTO_CENTER, where);
    p.height = get_int(j, "height", 0, where, 0, 100000);
    p.width = get_int(j, "width", 0, where, 0, 100000);
    const std::string floating = get_text(j, "floating", "normal", where);
    if (floating == "never") p.floating = VAL_FLOAT_NEVER;
    else if (floating == "normal") p.floating = VAL_FLOAT_APP_ACTIVE;
    else if (floating == "always") p.floating = VAL_FLOAT_ALWAYS;
    else bad(where, "'floating' must be never, normal or always");
  }
  p.scale_contents = get_bool(j, "scale_contents", false, where);
  p.back_color = get_colour(j, "fill_color", p.back_color, where);
  if (has(j, "callback")) {
    p.callback_name = get_text(j, "callback", "", where);
    p.callback = panel_callback(p.callback_name, where);
  }
  std::set<int> ids;
  for (const json &cj : get_array(j, "controls", where)) {
    Control c = parse_control(cj, where, &def);
    if (!ids.insert(c.id).second) bad(where, "control " + std::to_string(c.id) + " appears twice");
    p.controls.push_back(std::move(c));
  }
  if (!page) {
    def.menubar = get_int(j, "menubar", 0, where, 0, INT_MAX);
    p.close_ctrl = get_int(j, "close_control", 0, where, 0, INT_MAX);
    if (p.close_ctrl != 0 && ids.count(p.close_ctrl) == 0) bad(where, "'close_control' names no control");
  }
  return def;
}

// The list of the document's key, checking numbers are not given twice.
const json *find_entry(const json &doc, const char *list, int id, const std::string &file) {
  check_keys(doc, file, {"format", "version", "panels", "menubars"});
  if (has(doc, "format") && doc.at("format") != "trq-ui-resource") bad(file, "'format' is not trq-ui-resource");
  if (has(doc, "version") && doc.at("version") != 1) bad(file, "'version' must be 1");
  const json &entries = get_array(doc, list, file);
  std::set<long long> seen;
  const json *found = nullptr;
  for (const json &e : entries) {
    if (!e.is_object() || !has(e, "id")) bad(file, std::string("an entry of '") + list + "' has no 'id'");
    const long long n = integer(e.at("id"), file, "id", 1, INT_MAX);
    if (!seen.insert(n).second) bad(file, std::string(list) + " number " + std::to_string(n) + " appears twice");
    if (n == id) found = &e;
  }
  return found;
}

}  // namespace

int load_panel_def(const std::string &file, int resource_id, PanelDef *out) {
  try {
    std::string path;
    const json doc = read_document(file, &path);
    const json *entry = find_entry(doc, "panels", resource_id, file);
    if (entry == nullptr) bad(file, "no panel " + std::to_string(resource_id), UIE_PANEL_NOT_FOUND);
    *out = parse_panel(*entry, file + ": panel", false);
    out->panel.file = path;
    state().last_error.clear();
    return 0;
  } catch (const ParseError &e) {
    return fail(e.code, e.text);
  }
}

int load_menubar_def(const std::string &file, int resource_id, model::MenuBar *out) {
  try {
    std::string path;
    const json doc = read_document(file, &path);
    const json *entry = find_entry(doc, "menubars", resource_id, file);
    if (entry == nullptr) bad(file, "no menu bar " + std::to_string(resource_id), UIE_MENUBAR_NOT_FOUND);
    const std::string where = file + ": menu bar " + std::to_string(resource_id);
    check_keys(*entry, where, {"id", "context", "menus"});
    model::MenuBar bar;
    bar.resource_id = resource_id;
    bar.context = get_bool(*entry, "context", false, where);
    std::set<int> ids;
    for (const json &mj : get_array(*entry, "menus", where)) {
      const std::string mw = where + ", menu";
      check_keys(mj, mw, {"id", "label", "dimmed", "items"});
      if (!has(mj, "id")) bad(mw, "has no 'id'");
      model::Menu m;
      m.id = static_cast<int>(integer(mj.at("id"), mw, "id", 1, INT_MAX));
      const std::string mwhere = mw + " " + std::to_string(m.id);
      if (!ids.insert(m.id).second) bad(mwhere, "number appears twice in the bar");
      m.label = get_text(mj, "label", "", mwhere);
      m.dimmed = get_bool(mj, "dimmed", false, mwhere);
      for (const json &ij : get_array(mj, "items", mwhere)) {
        const std::string iw = mwhere + ", item";
        check_keys(ij, iw, {"id", "label", "callback", "checked", "dimmed"});
        if (!has(ij, "id")) bad(iw, "has no 'id'");
        model::MenuItem item;
        item.id = static_cast<int>(integer(ij.at("id"), iw, "id", 1, INT_MAX));
        const std::string iwhere = iw + " " + std::to_string(item.id);
        if (!ids.insert(item.id).second) bad(iwhere, "number appears twice in the bar");
        item.label = get_text(ij, "label", "", iwhere);
        item.checked = get_bool(ij, "checked", false, iwhere);
        item.dimmed = get_bool(ij, "dimmed", false, iwhere);
        if (has(ij, "callback")) {
          item.callback_name = get_text(ij, "callback", "", iwhere);
          item.callback = menu_callback(item.callback_name, iwhere);
        }
        m.items.push_back(std::move(item));
      }
      bar.menus.push_back(std::move(m));
    }
    *out = std::move(bar);
    state().last_error.clear();
    return 0;
  } catch (const ParseError &e) {
    return fail(e.code, e.text);
  }
}

int instantiate(const PanelDef &def, int parent) {
  const int handle = add_panel(def.panel, parent);
  for (const auto &[tab_id, pages] : def.pages) {
    for (const PanelDef &page : pages) instantiate(page, handle);
    if (model::Panel *p = panel(handle)) {
      if (model::Control *tab = p->control(tab_id)) {
        // The resource's active page, now that the pages exist.
        if (const int *want = std::get_if<int>(&def.panel.control(tab_id)->value); want && *want >= 0)
          tab->value = *want;
        notify_control(handle, tab_id);
      }
    }
  }
  return handle;
}

}  // namespace platform::ui::detail

int LoadPanel(int parent, const char *file, int resource_id) {
  if (parent != 0 && detail::panel(parent) == nullptr) return UIE_PANEL_INVALID;
  if (file == nullptr) return UIE_BAD_ARGUMENT;
  detail::PanelDef def;
  if (const int r = detail::load_panel_def(file, resource_id, &def); r < 0) return r;
  const int handle = detail::instantiate(def, parent);
  if (def.menubar != 0) {
    // The panel's own menu bar, from the same file; without it no panel.
    if (const int bar = LoadMenuBar(handle, file, def.menubar); bar < 0) {
      const std::string detail = last_error_detail();
      detail::remove_panel(handle);
      return detail::fail(bar, detail);
    }
  }
  return handle;
}
