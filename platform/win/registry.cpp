#include "platform/win/registry.h"

#include <fcntl.h>
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

#include "platform/win/files.h"
#include "platform/win/own_folder.h"
#include "platform/win/progdir.h"
#include "platform/win/registry_text.h"
#include "platform/win/temp_files.h"

namespace platform::registry {
namespace {

// A hive file larger than this is not a registry of ours.
constexpr size_t kMaxFileSize = 16u << 20;

bool read_only[3] = {false, false, false};
std::map<int, Key> open_handles;
int next_handle = 1;

bool valid_root(HKEY root) { return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE; }

// --- files -------------------------------------------------------------------

// Without any home the user's hive lies in a private folder of its own in the
// shared temporary folder (never in one another user could have made first).
std::string fallback_dir() { return "/tmp/qv-config-" + std::to_string(geteuid()); }

std::string hive_dir(HKEY root) {
  const char *d = std::getenv("QV_REGISTRY_DIR");
  if (d != nullptr && d[0] != '\0') return d;
  if (root == HKEY_LOCAL_MACHINE) return "/etc/qv";
  const char *x = std::getenv("XDG_CONFIG_HOME");
  if (x != nullptr && x[0] == '/') return std::string(x) + "/qv";
  const std::string home = platform::home_dir();
  return home.empty() ? fallback_dir() : home + "/.config/qv";
}

const char *hive_name(HKEY root) { return root == HKEY_LOCAL_MACHINE ? "machine.reg" : "user.reg"; }

// Says once on standard error why the user's settings are refused.
void tell(const std::string &problem, const char *consequence) {
  static std::string told;
  if (problem == told) return;
  told = problem;
  std::fprintf(stderr, "Settings: %s: %s.\n", problem.c_str(), consequence);
}

constexpr const char *kNotUsed = "settings are neither read from nor written to it";
constexpr const char *kNotSaved = "changed settings are not saved";

// A hive's folder, opened once: its files are reached only through it, as
// its name may meanwhile be made to lead elsewhere.
class Folder {
 public:
  Folder() = default;
  ~Folder() {
    if (fd >= 0) ::close(fd);
  }
  Folder(const Folder &) = delete;
  Folder &operator=(const Folder &) = delete;
  int fd = -1;              // -1: the folder is missing (or unreadable)
  bool unreadable = false;  // there, but it cannot be opened
};

// Opens a hive's folder: "" (folder->fd is -1 when it is missing), or why
// it is not used. The user's folder must be theirs alone: another user's
// folder, or one others can write, would let them choose what this user's
// program reads. create: make it when missing.
std::string open_folder(HKEY root, bool create, Folder *folder) {
  const std::string dir = hive_dir(root);
  if (root != HKEY_CURRENT_USER) {
    std::error_code ec;
    if (create) std::filesystem::create_directories(dir, ec);
    folder->fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder->fd < 0 && errno == EACCES) folder->fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    folder->unreadable = folder->fd < 0 && errno != ENOENT && errno != ENOTDIR;
    return {};
  }
  const bool fallback = dir == fallback_dir();
  if (create && !fallback) {
    std::error_code ec;
    platform::make_private_folders(std::filesystem::path(dir).parent_path().string(), ec);
  }
  std::string why;
  const int needs = (create ? platform::kFolderCreate : 0) | (fallback ? platform::kFolderPrivate : 0);
  switch (platform::open_own_folder(dir, needs, &folder->fd, &why)) {
    case platform::FolderCheck::ok:
    case platform::FolderCheck::missing: return {};
    default: return why;
  }
}

std::string not_a_file(HKEY root, mode_t mode) {
  return hive_file(root) + " is " + platform::files::kind_of(mode) + ", not a plain file";
}

// Opens the hive file in its folder for reading: its descriptor, or -1 and
// errno, or -1 and *problem when it is no plain file. Such a file is never
// waited on (a FIFO would stop the program for good), a device never acted
// on and a link never followed.
int open_hive_file(int dir_fd, HKEY root, std::string *problem) {
  const char *name = hive_name(root);
  std::string refused;  // names the file by its name in the folder
  const int fd = platform::files::open_plain_at(dir_fd, name, O_RDONLY | O_NOFOLLOW, &refused);
  if (fd < 0 && !refused.empty()) *problem = hive_file(root) + refused.substr(std::strlen(name));
  return fd;
}

// Why the hive file in its folder is not to be replaced ("" when it may be):
// no plain file, or marked read-only (refused as a read-only setup file
// is). *consequence (may be null) gets what follows for the operator.
std::string file_problem(int dir_fd, HKEY root, const char **consequence) {
  const char *name = hive_name(root);
  struct stat st{};
  if (::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
  if (!S_ISREG(st.st_mode)) {
    if (consequence != nullptr) *consequence = kNotUsed;
    return not_a_file(root, st.st_mode);
  }
  if (consequence != nullptr) *consequence = kNotSaved;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::faccessat(dir_fd, name, W_OK, 0) != 0)
    return hive_file(root) + " is read-only";
  return {};
}

// Reads the hive file of the open folder: 0 (a missing file reads as
// empty), or REG_ERR_CANT_OPEN_KEY when it is there but cannot be read or is
// no plain file.
int read_hive_at(int dir_fd, HKEY root, Hive *h) {
  std::string problem;
  const int fd = open_hive_file(dir_fd, root, &problem);
  if (fd < 0) {
    if (!problem.empty()) {
      tell(problem, kNotUsed);
      return REG_ERR_CANT_OPEN_KEY;
    }
    return (errno == ENOENT || errno == ENOTDIR) ? 0 : REG_ERR_CANT_OPEN_KEY;
  }
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

// 0, or REG_ERR_CANT_OPEN_KEY when the hive is refused or cannot be read.
int read_hive(HKEY root, Hive *h) {
  Folder folder;
  if (const std::string problem = open_folder(root, false, &folder); !problem.empty()) {
    tell(problem, kNotUsed);
    return REG_ERR_CANT_OPEN_KEY;
  }
  if (folder.fd < 0) return folder.unreadable ? REG_ERR_CANT_OPEN_KEY : 0;
  return read_hive_at(folder.fd, root, h);
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

// Temporaries are named <file>.tmp.XXXXXX, the X's random letters and
// digits: a name no person gives a copy of their own.
constexpr std::string_view kTempMark = ".tmp.";

// Removes the temporaries that killed writes left beside a hive. Writers make
// their temporaries only while they hold the hive's lock, so under that lock
// none of them is still being written.
void clear_leftovers(int dir_fd, const std::string &hive_name) {
  for (const std::string &file : {hive_name, hive_name + ".damaged"})
    platform::for_each_temp_at(dir_fd, file, kTempMark,
                               [dir_fd](const std::string &name) { ::unlinkat(dir_fd, name.c_str(), 0); });
}

// Replaces the file name of the open folder by text: a temporary file beside
// it, synced, then renamed.
bool replace_file(int dir_fd, const std::string &name, const std::string &text, mode_t mode) {
  std::string tmp;
  const int fd = platform::make_temp_at(dir_fd, name, kTempMark, &tmp);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::renameat(dir_fd, tmp.c_str(), dir_fd, name.c_str()) == 0;
  if (!ok) {
    ::unlinkat(dir_fd, tmp.c_str(), 0);
    return false;
  }
  ::fsync(dir_fd);
  return true;
}

// Holds the hive's lock file, exclusively, for a read-modify-write.
class Lock {
 public:
  Lock(int dir_fd, const std::string &name) {
    fd_ = ::openat(dir_fd, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
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
  Folder folder;
  if (const std::string problem = open_folder(root, true, &folder); !problem.empty()) {
    tell(problem, kNotUsed);
    return REG_ERR_CANT_OPEN_KEY;
  }
  if (folder.fd < 0) return REG_ERR_CANT_OPEN_KEY;
  const std::string name = hive_name(root);
  const Lock lock(folder.fd, name + ".lock");
  if (!lock.held()) return REG_ERR_CANT_OPEN_KEY;
  const char *consequence = kNotSaved;
  if (const std::string problem = file_problem(folder.fd, root, &consequence); !problem.empty()) {
    tell(problem, consequence);
    return REG_ERR_CANT_OPEN_KEY;
  }
  clear_leftovers(folder.fd, name);
  Hive h;
  if (const int r = read_hive_at(folder.fd, root, &h); r != 0) return r;
  if (h.damaged) {
    // What a person may still want from the damaged file; the new one keeps what was sound.
    replace_file(folder.fd, name + ".damaged", h.text, 0600);
  }
  edit(h);
  const mode_t mode = root == HKEY_LOCAL_MACHINE ? 0644 : 0600;
  return replace_file(folder.fd, name, format(h, root), mode) ? 0 : REG_ERR_CANT_WRITE;
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

std::string hive_file(HKEY root) { return hive_dir(root) + "/" + hive_name(root); }

std::string problem(HKEY root) {
  if (!valid_root(root)) return {};
  Folder folder;
  if (std::string p = open_folder(root, false, &folder); !p.empty()) return p;
  return folder.fd >= 0 ? file_problem(folder.fd, root, nullptr) : std::string();
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
