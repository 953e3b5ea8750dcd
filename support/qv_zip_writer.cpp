// Zip writer: archives (local headers, data, descriptors, central directory,
// end record) or one gzip member into a file, a handle or memory.
#define _FILE_OFFSET_BITS 64  // 64-bit positions in the 32-bit build too
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/large_file.h"
#include "support/qv_zip.h"
#include "support/qv_zip_internal.h"

static_assert(sizeof(off_t) == 8, "file positions must be 64 bits wide");

using namespace qvzip;

struct QvZipMapping {
  uint8_t *base = nullptr;
  size_t capacity = 0;
};

namespace {
// Writer flags besides the ZipOptions bits.
constexpr uint32_t kMemory = 0x1;
constexpr uint32_t kOwnsHandle = 0x2;
constexpr uint32_t kCanSeek = 0x4;
constexpr uint32_t kDirWritten = 0x8;
constexpr uint32_t kEntryEncrypted = 0x10;
constexpr uint32_t kSeekTaken = 0x20;
constexpr uint32_t kSourceMemory = 0x80;

constexpr size_t kPiece = 64 * 1024;  // save_abort is seen between pieces
constexpr int kLevel = Z_DEFAULT_COMPRESSION;
constexpr uint8_t kGzipXfl = 2;
constexpr uint8_t kGzipOs = 11;

// DOS attribute bits and the permission word of the high 16 bits.
constexpr uint32_t kDosReadOnly = 0x01, kDosDirectory = 0x10, kDosArchive = 0x20;
constexpr uint32_t kModeDir = 0x4000, kModeFile = 0x8000, kModeRead = 0x0100, kModeWrite = 0x0080, kModeExec = 0x0040;
constexpr uint32_t kMemoryAttributes = kDosArchive | ((kModeFile | kModeRead | kModeWrite) << 16);
constexpr uint32_t kFolderAttributes = kDosDirectory | ((kModeDir | kModeRead | kModeWrite | kModeExec) << 16);

struct CentralEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t crc = 0;
  uint32_t csize = 0;
  uint32_t usize = 0;
  uint32_t attributes = 0;
  uint32_t offset = 0;  // of the local header, in the target
};
}  // namespace

struct QvZipWriter {
  uint32_t flags = 0;
  std::string password;
  int64_t start = 0;    // position of the archive in the target handle
  int64_t written = 0;  // bytes of the archive so far
  int error = ZIP_OK;
  int fd = -1;
  uint8_t *mem = nullptr;
  size_t capacity = 0;
  QvZipMapping *mapping = nullptr;  // the archive's own memory
  bool gzip_done = false;
  ZipCipher cipher;
  std::vector<uint8_t> crypt;  // scratch for encrypted output
  std::vector<CentralEntry> entries;
};

namespace {
// Live writers and handed-out memories: a stale pointer is recognised, not used.
qvzip::LiveTable<QvZipWriter> &writers() {
  static qvzip::LiveTable<QvZipWriter> live;
  return live;
}
qvzip::LiveTable<QvZipMapping> &mappings() {
  static qvzip::LiveTable<QvZipMapping> live;
  return live;
}

bool alive(const QvZipWriter *w) { return writers().alive(w); }

QvZipWriter *new_writer() { return writers().add(); }

void free_writer(QvZipWriter *w) { writers().remove(w); }

QvZipMapping *new_mapping(size_t size) {
  void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto m = std::make_unique<QvZipMapping>();
  m->base = static_cast<uint8_t *>(p);
  m->capacity = size;
  return mappings().add(std::move(m));
}

void free_mapping(QvZipMapping *m) {
  if (m == nullptr) return;
  munmap(m->base, m->capacity);
  mappings().remove(m);
}

int finish_create(ZipHandle *out, QvZipWriter *w, const char *password) {
  if (password != nullptr) w->password = password;
  *out = w;
  return ZIP_OK;
}

// Every write goes here: nothing after the first error.
void emit(QvZipWriter *w, const void *p, size_t n) {
  if (w->error != ZIP_OK) return;
  if (n > 0) {
    if ((w->flags & kMemory) != 0) {
      if (n > w->capacity - static_cast<size_t>(w->written)) {
        w->error = ZIP_ERR_MEMSIZE;
        return;
      }
      std::memcpy(w->mem + w->written, p, n);
    } else if (WriteLargeFile(w->fd, p, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) {
      w->error = ZIP_ERR_WRITE;
      return;
    }
    w->written += static_cast<int64_t>(n);
  }
  if ((w->flags & ZIP_OPTION_ABORT) != 0) w->error = ZIP_ERR_ABORT;
}

// Writes again over bytes already written (at an offset in the archive).
void patch(QvZipWriter *w, int64_t at, const uint8_t *p, size_t n) {
  if (w->error != ZIP_OK) return;
  if ((w->flags & kMemory) != 0) {
    std::memcpy(w->mem + at, p, n);
    return;
  }
  for (size_t done = 0; done < n;) {
    const ssize_t k = pwrite(w->fd, p + done, n - done, static_cast<off_t>(w->start + at + static_cast<int64_t>(done)));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      w->error = ZIP_ERR_WRITE;
      return;
    }
    done += static_cast<size_t>(k);
  }
}

bool stored_extension(std::string_view name) {
  const size_t slash = name.find_last_of('/');
  const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const size_t dot = last.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(last.substr(dot));
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static constexpr std::array<std::string_view, 8> kPacked = {".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
  return std::find(kPacked.begin(), kPacked.end(), ext) != kPacked.end();
}

// Entry names with '/' only and no leading separator.
std::string entry_name(const char *name) {
  std::string n = name != nullptr ? name : "";
  std::replace(n.begin(), n.end(), '\\', '/');
  const size_t first = n.find_first_not_of('/');
  return first == std::string::npos ? std::string() : n.substr(first);
}

// Where the data of an entry comes from.
struct Source {
  const uint8_t *mem = nullptr;  // memory source
  size_t mem_size = 0;
  int fd = -1;         // handle source
  int64_t size = -1;   // known size, -1 when unknown
  int64_t exact = -1;  // a pipe: exactly this many bytes
  int64_t done = 0;
  std::vector<uint8_t> buf;

  // The next piece: its bytes and count (0 at the end); false on a read failure.
  bool next(const uint8_t **data, size_t *n) {
    *n = 0;
    if (mem != nullptr || fd < 0) {
      *data = mem + done;
      *n = std::min(kPiece, mem_size - static_cast<size_t>(done));
      done += static_cast<int64_t>(*n);
      return true;
    }
    size_t want = kPiece;
    if (exact >= 0) want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kPiece), exact - done));
    if (want == 0) return true;
    buf.resize(kPiece);
    const int64_t got = ReadLargeFile(fd, buf.data(), static_cast<int64_t>(want));
    if (got < 0) return false;
    if (exact >= 0 && got < static_cast<int64_t>(want)) return false;  // the pipe ended early
    *data = buf.data();
    *n = static_cast<size_t>(got);
    done += got;
    return true;
  }
};

struct Meta {
  int64_t mtime = 0;
  uint32_t attributes = kMemoryAttributes;
  bool folder = false;
};

Meta now_meta() {
  Meta m;
  m.mtime = static_cast<int64_t>(std::time(nullptr));
  return m;
}

void local_header(uint8_t *h, uint16_t flags, uint16_t method, uint16_t t, uint16_t d, uint32_t crc, uint32_t csize,
                  uint32_t usize, uint16_t name_len) {
  put32(h, kLocalSig);
  put16(h + 4, kVersionNeeded);
  put16(h + 6, flags);
  put16(h + 8, method);
  put16(h + 10, t);
  put16(h + 12, d);
  put32(h + 14, crc);
  put32(h + 18, csize);
  put32(h + 22, usize);
  put16(h + 26, name_len);
  put16(h + 28, 0);  // no extra field
}

// Compressed (or stored) output of an entry: encrypted when the entry is,
// counted, written.
struct Output {
  QvZipWriter *w;
  bool encrypt;
  uint64_t count = 0;
  void put(const uint8_t *p, size_t n) {
    count += n;
    if (!encrypt) {
      emit(w, p, n);
      return;
    }
    if (w->crypt.size() < n) w->crypt.resize(2 * n);
    for (size_t i = 0; i < n; ++i) w->crypt[i] = w->cipher.encrypt(p[i]);
    emit(w, w->crypt.data(), n);
  }
};

int fail(QvZipWriter *w, int code) {
  if (w->error == ZIP_OK) w->error = code;
  return w->error;
}

int add_entry(QvZipWriter *w, const char *raw_name, Source &src, const Meta &meta, bool raw) {
  if (!alive(w)) return ZIP_ERR_ARGS;
  if (w->error != ZIP_OK) return w->error;
  // Refusals before anything is written leave the archive usable.
  if ((w->flags & kDirWritten) != 0) return ZIP_ERR_ARGS;
  const bool gzip = raw || (w->flags & ZIP_OPTION_GZIP) != 0;
  if (gzip && (meta.folder || !w->entries.empty() || w->gzip_done)) return ZIP_ERR_ARGS;
  if (!gzip && w->gzip_done) return ZIP_ERR_ARGS;
  std::string name = entry_name(raw_name);
  if (meta.folder && !name.empty() && name.back() != '/') name += '/';
  if ((!gzip && name.empty()) || name.size() > 0xFFFF) return ZIP_ERR_ARGS;
  if (!gzip && w->entries.size() >= kMaxEntries) return ZIP_ERR_TOOBIG;
  if (src.size > static_cast<int64_t>(kMaxSize32) || src.exact > static_cast<int64_t>(kMaxSize32)) return ZIP_ERR_TOOBIG;
  if (w->start + w->written > static_cast<int64_t>(kMaxSize32)) return ZIP_ERR_TOOBIG;
  if (gzip) w->flags |= ZIP_OPTION_GZIP;

  const bool encrypt = !gzip && !meta.folder && !w->password.empty();
  const uint16_t method = gzip ? kMethodDeflated
                          : meta.folder || stored_extension(name) ? kMethodStored
                                                                  : kMethodDeflated;
  uint16_t dos_time = 0, dos_date = 0;
  dos_stamp(meta.mtime, &dos_time, &dos_date);
  uint16_t flags = kFlagDescriptor;
  if (encrypt) flags |= kFlagEncrypted;
  if (!is_ascii(name)) flags |= kFlagUtf8;
  if (encrypt) w->flags |= kEntryEncrypted;
  else w->flags &= ~kEntryEncrypted;
  if (src.mem != nullptr || src.fd < 0) w->flags |= kSourceMemory;
  else w->flags &= ~kSourceMemory;

  const int64_t local_at = w->written;
  if (gzip) {
    std::array<uint8_t, 10> h = {kGzipId1, kGzipId2, kGzipDeflate, kGzipFName};
    put32(h.data() + 4, meta.mtime > 0 && meta.mtime <= 0xFFFFFFFF ? static_cast<uint32_t>(meta.mtime) : 0u);
    h[8] = kGzipXfl;
    h[9] = kGzipOs;
    emit(w, h.data(), h.size());
    emit(w, name.c_str(), name.size() + 1);
  } else {
    std::array<uint8_t, kLocalSize> h{};
    local_header(h.data(), flags, method, dos_time, dos_date, 0, 0, 0, static_cast<uint16_t>(name.size()));
    emit(w, h.data(), h.size());
    emit(w, name.data(), name.size());
  }
  Output out{w, encrypt};
  if (encrypt) {
    w->cipher.init(w->password);
    std::array<uint8_t, kCryptHeaderSize> ch{};
    std::random_device rd;
    for (size_t i = 0; i + 1 < ch.size(); ++i) ch[i] = static_cast<uint8_t>(rd());
    ch.back() = static_cast<uint8_t>(dos_time >> 8);  // the CRC is not known yet (descriptor bit)
    out.put(ch.data(), ch.size());
  }

  z_stream zs{};
  const bool deflating = method == kMethodDeflated;
  if (deflating) {
    const int r = deflateInit2(&zs, kLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (r != Z_OK) return fail(w, r == Z_MEM_ERROR ? ZIP_ERR_NOMEM : ZIP_ERR_ARGS);
  }
  std::vector<uint8_t> zbuf(deflating ? kPiece : 0);
  auto drain = [&](int flush) {
    do {
      zs.next_out = zbuf.data();
      zs.avail_out = static_cast<uInt>(zbuf.size());
      const int r = deflate(&zs, flush);
      if (r == Z_STREAM_ERROR) {
        fail(w, ZIP_ERR_ARGS);
        return;
      }
      out.put(zbuf.data(), zbuf.size() - zs.avail_out);
      if (flush == Z_FINISH && r == Z_STREAM_END) return;
    } while (w->error == ZIP_OK && (zs.avail_out == 0 || flush == Z_FINISH));
  };

  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t usize = 0;
  ZipPartDone = 0;
  while (w->error == ZIP_OK) {
    const uint8_t *data = nullptr;
    size_t n = 0;
    if (!src.next(&data, &n)) {
      fail(w, ZIP_ERR_READ);
      break;
    }
    if (n == 0) break;
    crc = crc32_z(crc, data, n);
    usize += n;
    if (usize > kMaxSize32) {
      fail(w, ZIP_ERR_TOOBIG);
      break;
    }
    const int64_t total = src.exact >= 0 ? src.exact : src.size;
    ZipPartDone = total > 0 ? static_cast<double>(usize) / static_cast<double>(total) : 0;
    if (update_zip_progress != nullptr) update_zip_progress();
    if (save_abort != 0) {
      fail(w, ZIP_ERR_ABORT);
      break;
    }
    if (deflating) {
      zs.next_in = const_cast<Bytef *>(data);
      zs.avail_in = static_cast<uInt>(n);
      drain(Z_NO_FLUSH);
    } else {
      out.put(data, n);
    }
  }
  if (deflating) {
    if (w->error == ZIP_OK) drain(Z_FINISH);
    deflateEnd(&zs);
  }
  if (usize == 0) ZipPartDone = 1;
  if (w->error != ZIP_OK) return w->error;
  if (out.count > kMaxSize32) return fail(w, ZIP_ERR_TOOBIG);
  const auto crc32v = static_cast<uint32_t>(crc);
  const auto csize = static_cast<uint32_t>(out.count);
  const auto usize32 = static_cast<uint32_t>(usize);

  if (gzip) {
    std::array<uint8_t, kGzipTrailer> t{};
    put32(t.data(), crc32v);
    put32(t.data() + 4, usize32);
    emit(w, t.data(), t.size());
    w->gzip_done = true;
    return w->error;
  }
  if ((w->flags & kCanSeek) != 0 && !encrypt) {
    // Sizes known now: the local header tells them and no descriptor follows.
    flags &= static_cast<uint16_t>(~kFlagDescriptor);
    std::array<uint8_t, kLocalSize> h{};
    local_header(h.data(), flags, method, dos_time, dos_date, crc32v, csize, usize32, static_cast<uint16_t>(name.size()));
    patch(w, local_at, h.data(), h.size());
  } else {
    std::array<uint8_t, kDescriptorSize> d{};
    put32(d.data(), kDescriptorSig);
    put32(d.data() + 4, crc32v);
    put32(d.data() + 8, csize);
    put32(d.data() + 12, usize32);
    emit(w, d.data(), d.size());
  }
  if (w->error != ZIP_OK) return w->error;
  CentralEntry e;
  e.name = std::move(name);
  e.flags = flags;
  e.method = method;
  e.dos_time = dos_time;
  e.dos_date = dos_date;
  e.crc = crc32v;
  e.csize = csize;
  e.usize = usize32;
  e.attributes = meta.attributes;
  e.offset = static_cast<uint32_t>(w->start + local_at);
  w->entries.push_back(std::move(e));
  return ZIP_OK;
}

void write_directory(QvZipWriter *w) {
  if ((w->flags & kDirWritten) != 0 || w->error != ZIP_OK) return;
  w->flags |= kDirWritten;
  if ((w->flags & ZIP_OPTION_GZIP) != 0) return;  // a gzip stream has no directory
  const int64_t dir_at = w->start + w->written;
  for (const CentralEntry &e : w->entries) {
    std::array<uint8_t, kCentralSize> c{};
    put32(c.data(), kCentralSig);
    put16(c.data() + 4, kVersionMadeBy);
    put16(c.data() + 6, kVersionNeeded);
    put16(c.data() + 8, e.flags);
    put16(c.data() + 10, e.method);
    put16(c.data() + 12, e.dos_time);
    put16(c.data() + 14, e.dos_date);
    put32(c.data() + 16, e.crc);
    put32(c.data() + 20, e.csize);
    put32(c.data() + 24, e.usize);
    put16(c.data() + 28, static_cast<uint16_t>(e.name.size()));
    // extra length, comment length, disk, internal attributes: 0
    put32(c.data() + 38, e.attributes);
    put32(c.data() + 42, e.offset);
    emit(w, c.data(), c.size());
    emit(w, e.name.data(), e.name.size());
  }
  const int64_t dir_size = w->start + w->written - dir_at;
  if (dir_at > static_cast<int64_t>(kMaxSize32) || dir_size > static_cast<int64_t>(kMaxSize32)) {
    fail(w, ZIP_ERR_TOOBIG);
    return;
  }
  std::array<uint8_t, kEndSize> end{};
  put32(end.data(), kEndSig);
  put16(end.data() + 8, static_cast<uint16_t>(w->entries.size()));
  put16(end.data() + 10, static_cast<uint16_t>(w->entries.size()));
  put32(end.data() + 12, static_cast<uint32_t>(dir_size));
  put32(end.data() + 16, static_cast<uint32_t>(dir_at));
  emit(w, end.data(), end.size());
}

// Regular files and folders: their attributes and time.
bool file_meta(const std::string &path, Meta *m, int64_t *size) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  const bool dir = S_ISDIR(st.st_mode);
  if (!dir && !S_ISREG(st.st_mode)) return false;
  const bool ro = (st.st_mode & S_IWUSR) == 0;
  uint32_t low = dir ? kDosDirectory : kDosArchive;
  if (ro) low |= kDosReadOnly;
  uint32_t mode = (dir ? kModeDir : kModeFile) | kModeRead;
  if (!ro) mode |= kModeWrite;
  if (dir || (st.st_mode & S_IXUSR) != 0) mode |= kModeExec;
  m->attributes = low | (mode << 16);
  m->mtime = static_cast<int64_t>(st.st_mtime);
  m->folder = dir;
  if (size != nullptr) *size = static_cast<int64_t>(st.st_size);
  return true;
}

int add_file(ZipHandle zip, const char *name, const char *path, bool raw) {
  if (!alive(zip)) return ZIP_ERR_ARGS;
  if (zip->error != ZIP_OK) return zip->error;
  if (path == nullptr) return ZIP_ERR_ARGS;
  int64_t size = 0;
  Meta meta;
  if (GetFileSize64(path, &size) != 0 || !file_meta(path, &meta, nullptr) || meta.folder) return ZIP_ERR_OPEN;
  if (size > static_cast<int64_t>(kMaxSize32)) return ZIP_ERR_TOOBIG;
  const int fd = OpenLargeFile(path, 1, 2);
  if (fd < 0) return ZIP_ERR_OPEN;
  Source src;
  src.fd = fd;
  src.size = size;
  const int r = add_entry(zip, name, src, meta, raw);
  CloseLargeFile(fd);
  return r;
}

int add_buffer(ZipHandle zip, const char *name, const void *data, size_t length, bool raw) {
  if (!alive(zip)) return ZIP_ERR_ARGS;
  if (data == nullptr && length != 0) return ZIP_ERR_ARGS;
  static const uint8_t kNone = 0;
  Source src;
  src.mem = data != nullptr ? static_cast<const uint8_t *>(data) : &kNone;
  src.mem_size = length;
  src.size = static_cast<int64_t>(std::min<uint64_t>(length, static_cast<uint64_t>(INT64_MAX)));
  return add_entry(zip, name, src, now_meta(), raw);
}

int add_handle(ZipHandle zip, const char *name, int handle, int64_t exact, bool raw) {
  if (!alive(zip)) return ZIP_ERR_ARGS;
  if (handle < 0 || fcntl(handle, F_GETFD) < 0) return ZIP_ERR_ARGS;
  if (exact < -1) return ZIP_ERR_ARGS;
  Source src;
  src.fd = handle;
  src.exact = exact;
  if (exact < 0) {
    // A regular file tells what is left of it; a pipe does not.
    struct stat st {};
    const off_t pos = lseek(handle, 0, SEEK_CUR);
    if (fstat(handle, &st) == 0 && S_ISREG(st.st_mode) && pos >= 0) src.size = static_cast<int64_t>(st.st_size - pos);
  }
  return add_entry(zip, name, src, now_meta(), raw);
}

int add_folder(ZipHandle zip, const char *name, const Meta &meta) {
  Source empty;
  static const uint8_t kNone = 0;
  empty.mem = &kNone;
  empty.size = 0;
  Meta m = meta;
  m.folder = true;
  return add_entry(zip, name, empty, m, false);
}

int add_dir(ZipHandle zip, const char *name, const char *path) {
  namespace fs = std::filesystem;
  if (!alive(zip)) return ZIP_ERR_ARGS;
  if (zip->error != ZIP_OK) return zip->error;
  if (path == nullptr) return ZIP_ERR_ARGS;
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return ZIP_ERR_OPEN;
  std::string prefix = entry_name(name);
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  if (!prefix.empty()) prefix += '/';
  // Directory symlinks are not followed (a loop would never end), nor listed.
  std::vector<std::pair<std::string, bool>> found;  // relative path, folder
  const fs::path root(path);
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
  if (ec) return ZIP_ERR_READ;
  for (; it != end; it.increment(ec)) {
    if (ec) return ZIP_ERR_READ;
    const fs::directory_entry &e = *it;
    // Lexically: resolving would name a link by its target.
    const std::string rel = e.path().lexically_relative(root).generic_string();
    std::error_code ec2;
    if (e.is_symlink(ec2)) {
      if (fs::is_regular_file(e.path(), ec2)) found.emplace_back(rel, false);
      continue;
    }
    if (e.is_directory(ec2)) found.emplace_back(rel, true);
    else if (e.is_regular_file(ec2)) found.emplace_back(rel, false);  // no FIFOs, devices or sockets
  }
  std::sort(found.begin(), found.end());
  int r = ZIP_OK;
  if (!prefix.empty()) {
    Meta m;
    if (!file_meta(path, &m, nullptr)) return ZIP_ERR_OPEN;
    r = add_folder(zip, prefix.c_str(), m);
  }
  for (const auto &[rel, folder] : found) {
    if (r != ZIP_OK) break;
    const std::string full = (fs::path(path) / rel).string();
    const std::string entry = prefix + rel;
    if (folder) {
      Meta m;
      r = file_meta(full, &m, nullptr) ? add_folder(zip, entry.c_str(), m) : ZIP_ERR_OPEN;
    } else {
      r = add_file(zip, entry.c_str(), full.c_str(), false);
    }
  }
  return r;
}

std::string u8(const wchar_t *s) { return to_utf8(s); }
const char *c_or_null(const wchar_t *w, const std::string &s) { return w == nullptr ? nullptr : s.c_str(); }
}  // namespace

int ZipCreateHandle(ZipHandle *out, int handle, const char *password) {
  if (out == nullptr) return ZIP_ERR_ARGS;
  *out = nullptr;
  if (handle < 0 || fcntl(handle, F_GETFD) < 0) return ZIP_ERR_ARGS;
  QvZipWriter *w = new_writer();
  const int dup_fd = fcntl(handle, F_DUPFD_CLOEXEC, 0);
  if (dup_fd >= 0) {
    w->fd = dup_fd;
    w->flags |= kOwnsHandle;
  } else {
    w->fd = handle;
  }
  // An append-only handle writes at its end whatever the position: no rewrites.
  const off_t pos = lseek(w->fd, 0, SEEK_CUR);
  const int fl = fcntl(w->fd, F_GETFL);
  if (pos >= 0 && fl >= 0 && (fl & O_APPEND) == 0) {
    w->flags |= kCanSeek | kSeekTaken;
    w->start = static_cast<int64_t>(pos);
  }
  return finish_create(out, w, password);
}

int ZipCreateFileA(ZipHandle *out, const char *path, const char *password) {
  if (out == nullptr) return ZIP_ERR_ARGS;
  *out = nullptr;
  if (path == nullptr) return ZIP_ERR_ARGS;
  const int fd = OpenLargeFile(path, 2, 0);
  if (fd < 0) return ZIP_ERR_OPEN;
  QvZipWriter *w = new_writer();
  w->fd = fd;
  w->flags |= kOwnsHandle | kCanSeek;
  return finish_create(out, w, password);
}

int ZipCreateFileW(ZipHandle *out, const wchar_t *path, const char *password) {
  const std::string p = u8(path);
  return ZipCreateFileA(out, c_or_null(path, p), password);
}

int ZipCreateBuffer(ZipHandle *out, void *memory, size_t size, const char *password) {
  if (out == nullptr) return ZIP_ERR_ARGS;
  *out = nullptr;
  if (size == 0) return ZIP_ERR_MEMSIZE;
  QvZipWriter *w = new_writer();
  if (memory == nullptr) {
    w->mapping = new_mapping(size);
    if (w->mapping == nullptr) {
      free_writer(w);
      return ZIP_ERR_NOMEM;
    }
    w->mem = w->mapping->base;
  } else {
    w->mem = static_cast<uint8_t *>(memory);
  }
  w->capacity = size;
  w->flags |= kMemory | kCanSeek;
  return finish_create(out, w, password);
}

int ZipAddFileA(ZipHandle zip, const char *name, const char *path) { return add_file(zip, name, path, false); }
int ZipAddFileRawA(ZipHandle zip, const char *name, const char *path) { return add_file(zip, name, path, true); }
int ZipAddFileW(ZipHandle zip, const wchar_t *name, const wchar_t *path) {
  const std::string n = u8(name), p = u8(path);
  return add_file(zip, c_or_null(name, n), c_or_null(path, p), false);
}
int ZipAddFileRawW(ZipHandle zip, const wchar_t *name, const wchar_t *path) {
  const std::string n = u8(name), p = u8(path);
  return add_file(zip, c_or_null(name, n), c_or_null(path, p), true);
}

int ZipAddBufferA(ZipHandle zip, const char *name, const void *data, size_t length) {
  return add_buffer(zip, name, data, length, false);
}
int ZipAddBufferW(ZipHandle zip, const wchar_t *name, const void *data, size_t length) {
  const std::string n = u8(name);
  return add_buffer(zip, c_or_null(name, n), data, length, false);
}
int ZipAddBufferRaw(ZipHandle zip, const char *name, const void *data, size_t length) {
  return add_buffer(zip, name, data, length, true);
}

int ZipAddHandleA(ZipHandle zip, const char *name, int handle) { return add_handle(zip, name, handle, -1, false); }
int ZipAddHandleW(ZipHandle zip, const wchar_t *name, int handle) {
  const std::string n = u8(name);
  return add_handle(zip, c_or_null(name, n), handle, -1, false);
}
int ZipAddHandleRaw(ZipHandle zip, const char *name, int handle) { return add_handle(zip, name, handle, -1, true); }

int ZipAddPipeA(ZipHandle zip, const char *name, int handle, int64_t length) {
  return length < 0 ? ZIP_ERR_ARGS : add_handle(zip, name, handle, length, false);
}
int ZipAddPipeW(ZipHandle zip, const wchar_t *name, int handle, int64_t length) {
  const std::string n = u8(name);
  return length < 0 ? ZIP_ERR_ARGS : add_handle(zip, c_or_null(name, n), handle, length, false);
}
int ZipAddPipeRaw(ZipHandle zip, const char *name, int handle, int64_t length) {
  return length < 0 ? ZIP_ERR_ARGS : add_handle(zip, name, handle, length, true);
}

int ZipAddFolderA(ZipHandle zip, const char *name) {
  Meta m = now_meta();
  m.attributes = kFolderAttributes;
  return add_folder(zip, name, m);
}
int ZipAddFolderW(ZipHandle zip, const wchar_t *name) {
  const std::string n = u8(name);
  return ZipAddFolderA(zip, c_or_null(name, n));
}

int ZipAddDirA(ZipHandle zip, const char *name, const char *path) { return add_dir(zip, name, path); }
int ZipAddDirW(ZipHandle zip, const wchar_t *name, const wchar_t *path) {
  const std::string n = u8(name), p = u8(path);
  return add_dir(zip, c_or_null(name, n), c_or_null(path, p));
}

int ZipClose(ZipHandle zip) {
  if (!alive(zip)) return ZIP_ERR_ARGS;
  write_directory(zip);
  if ((zip->flags & kOwnsHandle) != 0 && zip->fd >= 0 && CloseLargeFile(zip->fd) != 0) fail(zip, ZIP_ERR_WRITE);
  free_mapping(zip->mapping);
  const int r = zip->error;
  free_writer(zip);
  return r;
}

int ZipGetMemory(ZipHandle zip, void **base, uint32_t *length, ZipMappingHandle *mapping) {
  if (base != nullptr) *base = nullptr;
  if (length != nullptr) *length = 0;
  if (mapping != nullptr) *mapping = nullptr;
  if (!alive(zip) || base == nullptr || length == nullptr) return ZIP_ERR_ARGS;
  if (zip->mapping == nullptr) return ZIP_ERR_NOTMEM;
  write_directory(zip);
  if (zip->error != ZIP_OK) return zip->error;
  if (zip->written > static_cast<int64_t>(kMaxSize32)) return fail(zip, ZIP_ERR_TOOBIG);
  *base = zip->mem;
  *length = static_cast<uint32_t>(zip->written);
  if (mapping != nullptr) {
    *mapping = zip->mapping;  // the caller's now
    zip->mapping = nullptr;
    free_writer(zip);
  }
  return ZIP_OK;
}

int ZipCloseMapping(ZipMappingHandle mapping) {
  if (!mappings().alive(mapping)) return -1;
  free_mapping(mapping);
  return 0;
}

int ZipResetMemory(ZipHandle zip) {
  if (!alive(zip) || (zip->flags & kMemory) == 0) return ZIP_ERR_ARGS;
  if (zip->mapping != nullptr) madvise(zip->mapping->base, zip->mapping->capacity, MADV_DONTNEED);  // pages back, zeroed
  zip->entries.clear();
  zip->written = 0;
  zip->error = ZIP_OK;
  zip->gzip_done = false;
  zip->flags &= ~(kDirWritten | ZIP_OPTION_ABORT);
  return ZIP_OK;
}

int ZipOptions(ZipHandle zip, uint32_t flags) {
  if (!alive(zip)) return ZIP_ERR_ARGS;
  if ((flags & ~(ZIP_OPTION_GZIP | ZIP_OPTION_ABORT)) != 0) return ZIP_ERR_ARGS;
  if ((flags & ZIP_OPTION_GZIP) != 0 && !zip->entries.empty()) return ZIP_ERR_ARGS;
  zip->flags |= flags;
  return ZIP_OK;
}
