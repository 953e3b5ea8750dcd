#include "platform/win/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <unordered_map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/temp_files.h"

namespace platform::registry {
namespace {

// A hive file larger than this is not a registry of ours.
constexpr size_t kMaxFileSize = 16u << 20;

struct Value {
  std::string name;
  uint32_t type = 0;
  std::string data;  // a string's text (no NUL), or the bytes
  bool readable = true;
  std::string raw;  // the line as read, written back while the value is unreadable
};

struct Key {
  std::string path;  // parts joined by '\', in the case first written
  std::vector<Value> values;
  std::unordered_map<std::string, size_t> index;  // lower-case name -> position in values
};

struct Hive {
  std::vector<Key> keys;
  bool damaged = false;
  std::string text;  // the file as read
};

bool read_only[3] = {false, false, false};
std::map<int, Key> open_handles;
int next_handle = 1;

bool valid_root(HKEY root) { return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// The parts of a key path between '\', empty parts dropped.
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

std::string folded(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = lower(c);
  return out;
}

Value *find_value(Key &k, std::string_view name) {
  const auto it = k.index.find(folded(name));
  return it == k.index.end() ? nullptr : &k.values[it->second];
}

// A later value of the same name replaces the earlier one in its place.
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

// --- files -------------------------------------------------------------------

std::string config_home() {
  const char *x = std::getenv("XDG_CONFIG_HOME");
  if (x != nullptr && x[0] == '/') return x;
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
  if (const passwd *pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return std::string(pw->pw_dir) + "/.config";
  return "/tmp/.config";
}

std::string hive_dir(HKEY root) {
  const char *d = std::getenv("QV_REGISTRY_DIR");
  if (d != nullptr && d[0] != '\0') return d;
  return root == HKEY_LOCAL_MACHINE ? std::string("/etc/qv") : config_home() + "/qv";
}

// 0, or REG_ERR_CANT_OPEN_KEY when the file is there but cannot be read.
int read_hive(HKEY root, Hive *h) {
  const std::string path = hive_file(root);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? 0 : REG_ERR_CANT_OPEN_KEY;
  std::string text;
  char buf[65536];
  int result = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxFileSize) {
      result = REG_ERR_CANT_OPEN_KEY;
      break;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (result != 0) return result;
  parse(text, h);
  h->text = std::move(text);
  return 0;
}

bool write_all(int fd, const std::string &s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Temporaries are named <file>.tmp.XXXXXX, the X's mkstemp's letters and
// digits: a name no person gives a copy of their own.
constexpr std::string_view kTempMark = ".tmp.";
constexpr size_t kTempRandom = platform::kTempRandomChars;

// Removes the temporaries that killed writes left beside a hive. Writers make
// their temporaries only while they hold the hive's lock, so under that lock
// none of them is still being written.
void clear_leftovers(const std::string &dir, const std::string &hive_name) {
  for (const std::string &file : {hive_name, hive_name + ".damaged"})
    platform::for_each_temp_of(dir, file, kTempMark, [](const std::string &path) { ::unlink(path.c_str()); });
}

// Replaces path by text: a temporary file beside it, synced, then renamed.
bool replace_file(const std::string &dir, const std::string &path, const std::string &text, mode_t mode) {
  std::string tmp = path + std::string(kTempMark) + std::string(kTempRandom, 'X');
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

// Holds the hive's lock file, exclusively, for a read-modify-write.
class Lock {
 public:
  explicit Lock(const std::string &path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    int r;
    do r = ::flock(fd_, LOCK_EX);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Lock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Reads the hive under its lock, lets edit change it and writes it back.
int change(HKEY root, const std::function<void(Hive &)> &edit) {
  if (!valid_root(root) || read_only[root]) return REG_ERR_CANT_OPEN_KEY;
  const std::string dir = hive_dir(root);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = hive_file(root);
  const Lock lock(path + ".lock");
  if (!lock.held()) return REG_ERR_CANT_OPEN_KEY;
  clear_leftovers(dir, std::filesystem::path(path).filename().string());
  Hive h;
  if (const int r = read_hive(root, &h); r != 0) return r;
  if (h.damaged) {
    // What a person may still want from the damaged file; the new one keeps what was sound.
    replace_file(dir, path + ".damaged", h.text, 0600);
  }
  edit(h);
  const mode_t mode = root == HKEY_LOCAL_MACHINE ? 0644 : 0600;
  return replace_file(dir, path, format(h, root), mode) ? 0 : REG_ERR_CANT_WRITE;
}

int write_value(HKEY root, const char *subkey, const char *name, uint32_t type, std::string data) {
  if (subkey == nullptr) return REG_ERR_NULL_ARGUMENT;
  const std::string path = normalise(subkey);
  Value v;
  v.name = name != nullptr ? name : "";
  v.type = type;
  v.data = std::move(data);
  return change(root, [&](Hive &h) { put_value(key_for(h, path), v); });
}

// The readable value, or the reason there is none.
int lookup(HKEY root, const char *subkey, const char *name, Value *out) {
  if (subkey == nullptr) return REG_ERR_NULL_ARGUMENT;
  if (!valid_root(root)) return REG_ERR_CANT_OPEN_KEY;
  Hive h;
  if (const int r = read_hive(root, &h); r != 0) return r;
  const std::string path = normalise(subkey);
  if (!key_exists(h, path)) return REG_ERR_NO_KEY;
  Key *k = find_key(h, path);
  Value *v = k != nullptr ? find_value(*k, name != nullptr ? name : "") : nullptr;
  if (v == nullptr) return REG_ERR_NO_VALUE;
  if (!v->readable) return REG_ERR_CANT_READ_VALUE;
  *out = std::move(*v);
  return 0;
}

bool is_string(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

uint32_t size_of(const Value &v) { return static_cast<uint32_t>(v.data.size()); }

// Copies a value's data out: strings with their NUL.
int copy_out(const Value &v, void *buffer, uint32_t buffer_size) {
  const size_t need = v.data.size() + (is_string(v.type) ? 1 : 0);
  if (buffer_size < need) return REG_ERR_BUFFER_TOO_SMALL;
  std::memcpy(buffer, v.data.data(), v.data.size());
  if (is_string(v.type)) static_cast<char *>(buffer)[v.data.size()] = '\0';
  return 0;
}

}  // namespace

std::string hive_file(HKEY root) {
  return hive_dir(root) + (root == HKEY_LOCAL_MACHINE ? "/machine.reg" : "/user.reg");
}

void set_read_only(HKEY root, bool on) {
  if (valid_root(root)) read_only[root] = on;
}

int open_keys() { return static_cast<int>(open_handles.size()); }

}  // namespace platform::registry

using platform::registry::Value;

int RegQueryInfoOnValue(HKEY root, const char *subkey, const char *name, uint32_t *type, uint32_t *size) {
  Value v;
  if (const int r = platform::registry::lookup(root, subkey, name, &v); r != 0) return r;
  if (type != nullptr) *type = v.type;
  if (size != nullptr) *size = platform::registry::size_of(v);
  return 0;
}

int RegReadString(HKEY root, const char *subkey, const char *name, char *buffer, uint32_t buffer_size,
                  uint32_t *size) {
  Value v;
  if (const int r = platform::registry::lookup(root, subkey, name, &v); r != 0) return r;
  if (!platform::registry::is_string(v.type)) return REG_ERR_WRONG_TYPE;
  if (size != nullptr) *size = platform::registry::size_of(v);
  return buffer != nullptr ? platform::registry::copy_out(v, buffer, buffer_size) : 0;
}

int RegWriteString(HKEY root, const char *subkey, const char *name, const char *text) {
  if (text == nullptr) return REG_ERR_NULL_ARGUMENT;
  return platform::registry::write_value(root, subkey, name, REG_SZ, text);
}

int RegWriteExpandString(HKEY root, const char *subkey, const char *name, const char *text) {
  if (text == nullptr) return REG_ERR_NULL_ARGUMENT;
  return platform::registry::write_value(root, subkey, name, REG_EXPAND_SZ, text);
}

int RegReadULong(HKEY root, const char *subkey, const char *name, uint32_t *value) {
  if (value == nullptr) return REG_ERR_NULL_ARGUMENT;
  Value v;
  if (const int r = platform::registry::lookup(root, subkey, name, &v); r != 0) return r;
  if (v.type != REG_DWORD || v.data.size() != 4) return REG_ERR_WRONG_TYPE;
  uint32_t n = 0;
  for (int b = 3; b >= 0; --b) n = (n << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(b)]);
  *value = n;
  return 0;
}

int RegWriteULong(HKEY root, const char *subkey, const char *name, uint32_t value) {
  std::string data;
  for (int b = 0; b < 4; ++b) data.push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
  return platform::registry::write_value(root, subkey, name, REG_DWORD, std::move(data));
}

int RegReadBinary(HKEY root, const char *subkey, const char *name, unsigned char *buffer, uint32_t buffer_size,
                  uint32_t *size) {
  Value v;
  if (const int r = platform::registry::lookup(root, subkey, name, &v); r != 0) return r;
  if (v.type != REG_BINARY) return REG_ERR_WRONG_TYPE;
  if (size != nullptr) *size = platform::registry::size_of(v);
  return buffer != nullptr ? platform::registry::copy_out(v, buffer, buffer_size) : 0;
}

int RegWriteBinary(HKEY root, const char *subkey, const char *name, const unsigned char *data, uint32_t size) {
  if (data == nullptr && size > 0) return REG_ERR_NULL_ARGUMENT;
  std::string bytes(reinterpret_cast<const char *>(data), data != nullptr ? size : 0);
  return platform::registry::write_value(root, subkey, name, REG_BINARY, std::move(bytes));
}

int RegOpenKeyInView(HKEY root, const char *subkey, int view, int *key) {
  using namespace platform::registry;
  if (subkey == nullptr || key == nullptr) return REG_ERR_NULL_ARGUMENT;
  if ((view & (REG_VIEW_DEFAULT | REG_VIEW_64)) == 0 || !valid_root(root)) return REG_ERR_CANT_OPEN_KEY;
  Hive h;
  if (const int r = read_hive(root, &h); r != 0) return r;
  const std::string path = normalise(subkey);
  if (!key_exists(h, path)) return REG_ERR_NO_KEY;
  Key *k = find_key(h, path);
  const int handle = next_handle++;
  open_handles[handle] = k != nullptr ? std::move(*k) : Key{path, {}, {}};
  *key = handle;
  return 0;
}

namespace {

// The value of an open key, or the reason there is none.
int key_value(int key, const char *name, const Value **out) {
  using namespace platform::registry;
  const auto it = open_handles.find(key);
  if (it == open_handles.end()) return REG_ERR_CANT_OPEN_KEY;
  const Value *v = find_value(it->second, name != nullptr ? name : "");
  if (v == nullptr) return REG_ERR_NO_VALUE;
  if (!v->readable) return REG_ERR_CANT_READ_VALUE;
  *out = v;
  return 0;
}

}  // namespace

int RegQueryKeyValue(int key, const char *name, uint32_t *type, uint32_t *size) {
  const Value *v = nullptr;
  if (const int r = key_value(key, name, &v); r != 0) return r;
  if (type != nullptr) *type = v->type;
  if (size != nullptr) *size = platform::registry::size_of(*v);
  return 0;
}

int RegReadKeyValue(int key, const char *name, void *buffer, uint32_t buffer_size) {
  if (buffer == nullptr) return REG_ERR_NULL_ARGUMENT;
  const Value *v = nullptr;
  if (const int r = key_value(key, name, &v); r != 0) return r;
  return platform::registry::copy_out(*v, buffer, buffer_size);
}

int RegCloseKey(int key) {
  return platform::registry::open_handles.erase(key) == 1 ? 0 : REG_ERR_CANT_OPEN_KEY;
}

const char *GetGeneralErrorString(int code) {
  switch (code) {
    case 0: return "No error";
    case -1: return "The operation failed";
    case REG_ERR_BUFFER_TOO_SMALL: return "The buffer is too small for the value";
    case REG_ERR_NULL_ARGUMENT: return "A required argument is a null pointer";
    case REG_ERR_CANT_OPEN_KEY: return "The registry key cannot be opened, or its store cannot be written";
    case REG_ERR_CANT_WRITE: return "The registry store cannot be written";
    case REG_ERR_CANT_READ_VALUE: return "The registry value cannot be read";
    case REG_ERR_NO_VALUE: return "The registry value does not exist";
    case REG_ERR_WRONG_TYPE: return "The registry value is not of the expected type";
    case REG_ERR_NO_KEY: return "The registry key does not exist";
    default: return "Unknown error";
  }
}
