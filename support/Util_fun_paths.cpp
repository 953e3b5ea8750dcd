#include "support/Util_fun_paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/app_hooks.h"
#include "support/large_file.h"

namespace {
bool is_sep(char c) { return c == '/' || c == '\\'; }

void put_part(char *out, size_t size, std::string_view part) {
  if (out == nullptr) return;
  const size_t n = part.size() < size - 1 ? part.size() : size - 1;
  std::memcpy(out, part.data(), n);
  out[n] = '\0';
}

// The parts of a path as fnsplit sees them.
struct Parts {
  std::string drive, dir, name, ext;
  int flags = 0;
  std::string name_ext() const { return name + ext; }
  std::string drive_dir() const { return drive + dir; }
};

Parts split(const char *path) {
  std::vector<char> d(FNSPLIT_DRIVE_SIZE), r(FNSPLIT_DIR_SIZE), n(FNSPLIT_NAME_SIZE), e(FNSPLIT_EXT_SIZE);
  Parts p;
  p.flags = fnsplit(path, d.data(), r.data(), n.data(), e.data());
  p.drive = d.data();
  p.dir = r.data();
  p.name = n.data();
  p.ext = e.data();
  return p;
}

// Whether the parts hold the whole path: a part longer than its buffer is cut,
// and a path composed from cut parts would name another file.
bool split_is_whole(const Parts &p, const char *path) {
  while (*path == ' ') ++path;
  return p.drive + p.dir + p.name + p.ext == path;
}

// dir and rest with one separator between them.
std::string join(std::string_view dir, std::string_view rest) {
  std::string s(dir);
  if (!s.empty() && !is_sep(s.back())) s.push_back('/');
  s.append(rest);
  return s;
}

bool fits(const std::string &s) { return s.size() < QV_PATH_SIZE; }

void store(char *out, const std::string &s) { std::memcpy(out, s.c_str(), s.size() + 1); }

bool full(const std::string &in, std::string *out) {
  char buf[PATH_MAX];
  if (qv::_fullpath(buf, in.c_str(), sizeof buf) == nullptr) return false;
  *out = buf;
  return true;
}

// Whether a file can be created in dir: a uniquely named file is created
// exclusively and removed again, so no file of the user's is ever touched.
bool can_create_in(const std::string &dir) {
  std::string tmpl = dir + "temp01.XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(tmpl.c_str());
  return true;
}
}  // namespace

int fnsplit(const char *path, char *drive, char *dir, char *name, char *ext) {
  for (char *b : {drive, dir, name, ext})
    if (b != nullptr) b[0] = '\0';
  if (path == nullptr) return 0;
  while (*path == ' ') ++path;
  const std::string_view s(path, strnlen(path, QV_PATH_SIZE));
  int flags = 0;
  size_t start = 0;
  if (s.size() >= 2 && s[1] == ':') {
    put_part(drive, FNSPLIT_DRIVE_SIZE, s.substr(0, 2));
    flags |= FNSPLIT_DRIVE;
    start = 2;
  }
  size_t comp = start;  // start of the last component
  bool has_sep = false;
  for (size_t i = s.size(); i > start; --i) {
    if (is_sep(s[i - 1])) {
      comp = i;
      has_sep = true;
      break;
    }
  }
  const std::string_view last = s.substr(comp);
  if (last.find_first_of("*?") != std::string_view::npos) flags |= FNSPLIT_WILDCARDS;
  // Only the last dot counts, and not the dots of a "." or ".." component.
  size_t name_end = last.size();
  const size_t dot = last.rfind('.');
  if (dot != std::string_view::npos && dot != 0 && !(dot == 1 && last[0] == '.')) {
    put_part(ext, FNSPLIT_EXT_SIZE, last.substr(dot));
    flags |= FNSPLIT_EXTENSION;
    name_end = dot;
  }
  if (name_end > 0) {
    put_part(name, FNSPLIT_NAME_SIZE, last.substr(0, name_end));
    flags |= FNSPLIT_FILENAME;
  }
  if (has_sep && comp > start) {
    put_part(dir, FNSPLIT_DIR_SIZE, s.substr(start, comp - start));
    flags |= FNSPLIT_DIRECTORY;
  }
  return flags;
}

int SplitPath(const char *path, char *drive, char *dir, char *file) {
  for (char *b : {drive, dir, file})
    if (b != nullptr) b[0] = '\0';
  if (path == nullptr) return -1;
  const Parts p = split(path);
  const std::string name = p.name_ext();
  if (!split_is_whole(p, path) || !fits(p.dir) || !fits(name)) return -1;
  put_part(drive, FNSPLIT_DRIVE_SIZE, p.drive);
  put_part(dir, QV_PATH_SIZE, p.dir);
  put_part(file, QV_PATH_SIZE, name);
  return 0;
}

namespace qv {
char *_fullpath(char *buffer, const char *path, size_t size) {
  if (path == nullptr) return nullptr;
  const std::string_view p(path);
  std::string drive;
  std::string_view rest = p;
  const bool two_seps = p.size() >= 2 && is_sep(p[0]) && is_sep(p[1]);
  if (!two_seps && p.size() >= 2 && p[1] == ':') {
    drive = std::string(p.substr(0, 2));
    rest = p.substr(2);
  }
  std::string whole;
  if (drive.empty() && (rest.empty() || !is_sep(rest[0]))) {
    std::vector<char> cwd(PATH_MAX);
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return nullptr;
    whole = join(cwd.data(), rest);
  } else {
    whole = std::string(rest);
  }
  std::vector<std::string_view> parts;
  const std::string_view w(whole);
  size_t i = 0;
  while (i < w.size()) {
    while (i < w.size() && is_sep(w[i])) ++i;
    size_t j = i;
    while (j < w.size() && !is_sep(w[j])) ++j;
    const std::string_view c = w.substr(i, j - i);
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!c.empty() && c != ".") {
      parts.push_back(c);
    }
    i = j;
  }
  std::string out = drive;
  for (const auto &c : parts) {
    out.push_back('/');
    out.append(c);
  }
  if (parts.empty()) out.push_back('/');
  if (buffer == nullptr) {
    auto *m = static_cast<char *>(std::malloc(out.size() + 1));
    if (m != nullptr) store(m, out);
    return m;
  }
  if (out.size() + 1 > size) return nullptr;
  store(buffer, out);
  return buffer;
}
}  // namespace qv

int get_dir(char *path, char *dir, char *name) {
  if (path == nullptr || dir == nullptr) return -1;
  const Parts p = split(path);
  if (!split_is_whole(p, path)) return -1;
  const bool wild = (p.flags & FNSPLIT_WILDCARDS) != 0;
  std::string new_path = path;
  std::string new_dir = dir;
  std::string new_name = p.name_ext();
  if (p.flags & (FNSPLIT_DIRECTORY | FNSPLIT_DRIVE)) {
    const bool rooted = !p.drive.empty() || (!p.dir.empty() && is_sep(p.dir[0]));
    new_path = rooted ? p.drive_dir() + p.name_ext() : join(dir, p.dir + p.name_ext());
    if (!wild) {
      const bool two_seps = new_path.size() >= 2 && is_sep(new_path[0]) && is_sep(new_path[1]);
      std::string whole = new_path;
      if (!two_seps && !full(new_path, &whole)) return -1;
      if (p.name_ext().empty() && !is_sep(whole.back())) whole.push_back('/');
      if (!fits(whole)) return -1;
      const Parts f = split(whole.c_str());
      if (!split_is_whole(f, whole.c_str())) return -1;
      new_path = whole;
      new_name = f.name_ext();
      new_dir = f.drive_dir();
    }
  } else if ((p.flags & FNSPLIT_EXTENSION) && !wild) {
    std::string whole;
    if (FileExists64(p.name_ext().c_str(), nullptr)) {  // in the current directory
      if (!full(p.name_ext(), &whole)) return -1;
      const Parts f = split(whole.c_str());
      if (!split_is_whole(f, whole.c_str())) return -1;
      new_path = whole;
      new_dir = f.drive_dir();
    } else if (name != nullptr) {
      new_path = join(dir, p.name_ext());
    } else {
      if (!full(p.name_ext(), &whole)) return -1;
      new_path = whole;
    }
  }
  if (!fits(new_path) || !fits(new_dir) || !fits(new_name)) return -1;
  store(path, new_path);
  store(dir, new_dir);
  if (name != nullptr) store(name, new_name);
  return 0;
}

int check_filepath(char *path, const char *default_path, const char *default_dir, const char *default_ext) {
  if (path == nullptr) return -1;
  const Parts p = split(path);
  std::string out = path;
  if (!(p.flags & FNSPLIT_FILENAME) || (p.flags & FNSPLIT_WILDCARDS)) {
    if (default_path != nullptr) out = default_path;
  } else {
    if (default_ext != nullptr && *default_ext != '\0' &&
        (!(p.flags & FNSPLIT_EXTENSION) || StrICmp(p.ext.c_str(), default_ext) != 0))
      out += default_ext;
    if (default_dir != nullptr && !(p.flags & (FNSPLIT_DIRECTORY | FNSPLIT_DRIVE))) out = join(default_dir, out);
  }
  if (!fits(out)) return -1;
  store(path, out);
  int flags = fnsplit(path, nullptr, nullptr, nullptr, nullptr);
  if ((flags & FNSPLIT_WILDCARDS) || std::strchr(path, '*') != nullptr) flags &= ~FNSPLIT_FILENAME;
  return flags;
}

int IsPathValid(const char *path) {
  if (path == nullptr) return 0;
  if (FileExists64(path, nullptr)) return 1;
  const Parts p = split(path);
  if (p.drive.empty() && p.dir.empty()) return 0;
  return can_create_in(p.drive_dir()) ? 1 : 0;
}

int GetValidPath(const char *path, const char *default_dir, char *out) {
  if (path == nullptr) return 1;
  const Parts p = split(path);
  if (!p.drive.empty() || !p.dir.empty()) {
    int ready = 0;
    if (IsDriveReady(p.drive_dir().c_str(), &ready) >= 0 && ready && can_create_in(p.drive_dir())) {
      if (out != nullptr) {
        if (!fits(path)) return -1;
        store(out, path);
      }
      return 0;
    }
  }
  if (out != nullptr) {
    const std::string s = join(default_dir != nullptr ? default_dir : "", p.name_ext());
    if (!fits(s)) return -1;
    store(out, s);
  }
  return 1;
}

int MyGetFileWritability(const char *path, int *writable) {
  auto opens_for_update = [path] {
    FILE *f = platform::files::fopen_plain(path, "r+b");
    if (f == nullptr) return 0;
    std::fclose(f);
    return 1;
  };
  int ok = 0;
  const int exists = path != nullptr ? FileExists(path, nullptr) : -2;
  if (exists == 0) {
    // Created exclusively: a file that appears meanwhile is tested, not removed.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      ::unlink(path);
      ok = 1;
    } else if (errno == EEXIST) {
      ok = opens_for_update();
    }
  } else if (exists == 1) {
    ok = opens_for_update();
  }
  if (writable != nullptr) *writable = ok;
  if (exists == -1) return -91;
  if (exists != 0 && exists != 1) return -93;
  return 0;
}
