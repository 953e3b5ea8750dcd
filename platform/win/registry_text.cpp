#include "platform/win/registry_text.h"

namespace platform::registry {
namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

std::string normalise(std::string_view path) {
  std::string out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) {
      if (!out.empty()) out.push_back('\\');
      out.append(path.substr(i, j - i));
    }
    i = j + 1;
  }
  return out;
}

bool key_exists(const Hive &h, std::string_view path) {
  if (path.empty()) return true;
  for (const Key &k : h.keys) {
    if (same(k.path, path)) return true;
    if (k.path.size() > path.size() && k.path[path.size()] == '\\' && same(std::string_view(k.path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

Key *find_key(Hive &h, std::string_view path) {
  for (Key &k : h.keys)
    if (same(k.path, path)) return &k;
  return nullptr;
}

namespace {

std::string folded(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = lower(c);
  return out;
}

}  // namespace

Value *find_value(Key &k, std::string_view name) {
  const auto it = k.index.find(folded(name));
  return it == k.index.end() ? nullptr : &k.values[it->second];
}

void put_value(Key &k, Value v) {
  if (Value *old = find_value(k, v.name)) {
    v.name = old->name;
    *old = std::move(v);
  } else {
    k.index.emplace(folded(v.name), k.values.size());
    k.values.push_back(std::move(v));
  }
}

Key &key_for(Hive &h, const std::string &path) {
  if (Key *k = find_key(h, path)) return *k;
  h.keys.push_back(Key{path, {}, {}});
  return h.keys.back();
}

namespace {

// --- text form --------------------------------------------------------------

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hex_byte(std::string_view s, size_t i, char *out) {
  if (i + 1 >= s.size()) return false;
  const int hi = hex_digit(s[i]), lo = hex_digit(s[i + 1]);
  if (hi < 0 || lo < 0) return false;
  *out = static_cast<char>(hi * 16 + lo);
  return true;
}

void put_hex(std::string &out, unsigned char c) {
  static const char digits[] = "0123456789abcdef";
  out.push_back(digits[c >> 4]);
  out.push_back(digits[c & 15]);
}

bool control(unsigned char c) { return c < 0x20 || c == 0x7f; }

std::string quote(std::string_view s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (control(c)) {
          out += "\\x";
          put_hex(out, c);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

// The text quoted at s[i]; i ends behind the closing quote. NUL is refused.
bool unquote(std::string_view s, size_t &i, std::string *out) {
  if (i >= s.size() || s[i] != '"') return false;
  for (++i; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      ++i;
      return true;
    }
    if (c == '\\') {
      if (++i >= s.size()) return false;
      switch (s[i]) {
        case '\\': c = '\\'; break;
        case '"': c = '"'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'x':
          if (!hex_byte(s, i + 1, &c)) return false;
          i += 2;
          break;
        default: return false;
      }
    }
    if (c == '\0') return false;
    out->push_back(c);
  }
  return false;
}

std::string encode_key(std::string_view path) {
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (control(c) || ch == '%' || ch == '[' || ch == ']') {
      out.push_back('%');
      put_hex(out, c);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

bool decode_key(std::string_view s, std::string *out) {
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%') {
      if (!hex_byte(s, i + 1, &c) || c == '\0') return false;
      i += 2;
    } else if (control(static_cast<unsigned char>(c)) || c == '[' || c == ']') {
      return false;
    }
    out->push_back(c);
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool parse_number(std::string_view s, uint32_t *out) {
  if (s.empty() || s.size() > 12) return false;
  unsigned long long v = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    for (size_t i = 2; i < s.size(); ++i) {
      const int d = hex_digit(s[i]);
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
    }
  } else {
    for (const char c : s) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
  }
  if (v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// The data after "name=": type tag, ':' and the value.
bool parse_data(std::string_view s, Value *v) {
  const size_t colon = s.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view tag = s.substr(0, colon);
  std::string_view rest = s.substr(colon + 1);
  if (tag == "sz" || tag == "expand_sz") {
    v->type = tag == "sz" ? REG_SZ : REG_EXPAND_SZ;
    size_t i = 0;
    std::string text;
    if (!unquote(rest, i, &text) || i != rest.size()) return false;
    v->data = std::move(text);
    return true;
  }
  if (tag == "dword") {
    uint32_t n = 0;
    if (!parse_number(rest, &n)) return false;
    v->type = REG_DWORD;
    v->data.clear();
    for (int b = 0; b < 4; ++b) v->data.push_back(static_cast<char>((n >> (8 * b)) & 0xFF));
    return true;
  }
  if (tag == "hex") {
    v->type = REG_BINARY;
    v->data.clear();
    for (size_t i = 0; i < rest.size(); i += 3) {
      char byte = 0;
      if (!hex_byte(rest, i, &byte)) return false;
      if (i + 2 < rest.size() && rest[i + 2] != ',') return false;
      if (i + 2 == rest.size() - 1) return false;  // a trailing comma
      v->data.push_back(byte);
    }
    return true;
  }
  return false;
}

}  // namespace

void parse(std::string_view text, Hive *h) {
  int current = -1;  // index of the key the value lines belong to
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      // The writer ends every line: an unended last line is a cut one.
      h->damaged = true;
      break;
    }
    const std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    const std::string_view line = trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::string path;
      if (line.size() >= 2 && line.back() == ']' && decode_key(line.substr(1, line.size() - 2), &path)) {
        Key &k = key_for(*h, normalise(path));
        current = static_cast<int>(&k - h->keys.data());
      } else {
        h->damaged = true;
        current = -1;  // its values must not land in the key before
      }
      continue;
    }
    Value v;
    size_t i = 0;
    if (current < 0 || !unquote(line, i, &v.name)) {
      h->damaged = true;
      continue;
    }
    std::string_view rest = trim(line.substr(i));
    if (rest.empty() || rest[0] != '=' || !parse_data(trim(rest.substr(1)), &v)) {
      v.readable = false;
      v.type = 0;
      v.data.clear();
      v.raw = std::string(line);
      h->damaged = true;
    }
    put_value(h->keys[static_cast<size_t>(current)], std::move(v));
  }
}

std::string format(const Hive &h, HKEY root) {
  std::string out = root == HKEY_LOCAL_MACHINE ? "; QV registry, machine-wide values (HKEY_LOCAL_MACHINE).\n"
                                               : "; QV registry, the user's values (HKEY_CURRENT_USER).\n";
  out += "; [key] lines, then \"name\"=type:data with type sz, expand_sz, dword or hex.\n";
  for (const Key &k : h.keys) {
    out += "\n[" + encode_key(k.path) + "]\n";
    for (const Value &v : k.values) {
      if (!v.readable) {
        out += v.raw + "\n";
        continue;
      }
      out += quote(v.name) + "=";
      switch (v.type) {
        case REG_SZ: out += "sz:" + quote(v.data); break;
        case REG_EXPAND_SZ: out += "expand_sz:" + quote(v.data); break;
        case REG_DWORD: {
          uint32_t n = 0;
          for (int b = 3; b >= 0; --b) n = (n << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(b)]);
          out += "dword:" + std::to_string(n);
          break;
        }
        default:
          out += "hex:";
          for (size_t i = 0; i < v.data.size(); ++i) {
            if (i > 0) out.push_back(',');
            put_hex(out, static_cast<unsigned char>(v.data[i]));
          }
      }
      out.push_back('\n');
    }
  }
  return out;
}

}  // namespace platform::registry
