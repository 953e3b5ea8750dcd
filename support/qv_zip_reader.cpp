// Zip reader: opens an archive or a gzip stream in a file, a handle or memory,
// lists and finds its entries and extracts them. Every length, count and
// offset read from the source is checked against the source before use.
#define _FILE_OFFSET_BITS 64  // 64-bit positions in the 32-bit build too
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/large_file.h"
#include "platform/win/files.h"
#include "support/qv_zip.h"
#include "support/qv_zip_internal.h"

static_assert(sizeof(off_t) == 8, "file positions must be 64 bits wide");

using namespace qvzip;

namespace {
constexpr size_t kInPiece = 16 * 1024;
constexpr size_t kOutPiece = 64 * 1024;
constexpr uint32_t kAll32 = 0xFFFFFFFFu;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;
constexpr size_t kZip64LocatorSize = 20;
constexpr uint16_t kMethodAes = 99;

struct Entry {
  std::string name;  // cleaned
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t crc = 0;
  uint64_t csize = 0;
  uint64_t usize = 0;
  uint32_t attributes = 0;
  uint64_t local_offset = 0;  // zip: the local header
  uint64_t data_offset = 0;   // gzip: the deflated data
  int64_t mtime = 0;
};
}  // namespace

struct QvUnzipReader {
  const uint8_t *mem = nullptr;  // memory source (the caller's)
  int fd = -1;                   // handle source
  bool owns_fd = false;
  int64_t size = 0;
  bool gzip = false;
  std::string password;
  std::string base_dir;  // "" or ending in '/'
  std::vector<Entry> entries;
  int error = ZIP_OK;
};

namespace {
qvzip::LiveTable<QvUnzipReader> &readers() {
  static qvzip::LiveTable<QvUnzipReader> live;
  return live;
}

bool alive(const QvUnzipReader *r) { return readers().alive(r); }

QvUnzipReader *new_reader() { return readers().add(); }

void free_reader(QvUnzipReader *r) {
  if (r->owns_fd) CloseLargeFile(r->fd);
  readers().remove(r);
}

int keep(QvUnzipReader *r, int code) {
  if (code != ZIP_OK && r->error == ZIP_OK) r->error = code;
  return code;
}

// n bytes at off, all inside the source.
bool read_at(const QvUnzipReader *r, uint64_t off, void *buf, size_t n) {
  if (off > static_cast<uint64_t>(r->size) || n > static_cast<uint64_t>(r->size) - off) return false;
  if (r->mem != nullptr) {
    std::memcpy(buf, r->mem + off, n);
    return true;
  }
  auto *p = static_cast<uint8_t *>(buf);
  for (size_t done = 0; done < n;) {
    const ssize_t k = pread(r->fd, p + done, n - done, static_cast<off_t>(off + done));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    done += static_cast<size_t>(k);
  }
  return true;
}

// Entry names as extraction uses them: '\' as '/', cut at a NUL, without a
// drive, leading separators and "." or ".." components. Folders keep their
// trailing '/'.
std::string clean_name(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  std::string s(raw);
  std::replace(s.begin(), s.end(), '\\', '/');
  if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]))) s.erase(0, 2);
  const bool folder = !s.empty() && s.back() == '/';
  std::string out;
  size_t i = 0;
  while (i <= s.size()) {
    const size_t j = std::min(s.find('/', i), s.size());
    const std::string_view part(s.data() + i, j - i);
    if (!part.empty() && part != "." && part != "..") {
      if (!out.empty()) out += '/';
      out += part;
    }
    i = j + 1;
  }
  if (folder && !out.empty()) out += '/';
  return out;
}

// The end record nearest the end whose comment reaches the end of the source;
// else the nearest one that fits before it. -1 when there is none.
int64_t find_end_record(const QvUnzipReader *r, std::vector<uint8_t> *record) {
  const size_t tail = static_cast<size_t>(std::min<int64_t>(r->size, static_cast<int64_t>(kEndSize + kMaxComment)));
  std::vector<uint8_t> b(tail);
  const uint64_t from = static_cast<uint64_t>(r->size) - tail;
  if (tail < kEndSize || !read_at(r, from, b.data(), tail)) return -1;
  int64_t fits = -1;
  for (size_t i = tail - kEndSize + 1; i-- > 0;) {
    if (get32(&b[i]) != kEndSig) continue;
    const uint64_t end = from + i + kEndSize + get16(&b[i + 20]);
    if (end == static_cast<uint64_t>(r->size)) {
      fits = static_cast<int64_t>(i);
      break;
    }
    if (end < static_cast<uint64_t>(r->size) && fits < 0) fits = static_cast<int64_t>(i);
  }
  if (fits < 0) return -1;
  record->assign(b.begin() + fits, b.begin() + fits + static_cast<int64_t>(kEndSize));
  return static_cast<int64_t>(from) + fits;
}

int parse_zip(QvUnzipReader *r) {
  std::vector<uint8_t> end;
  const int64_t at = find_end_record(r, &end);
  if (at < 0) return ZIP_ERR_NOTZIP;
  const uint16_t disk = get16(&end[4]), dir_disk = get16(&end[6]);
  const uint16_t on_disk = get16(&end[8]), count = get16(&end[10]);
  const uint32_t dir_size = get32(&end[12]), dir_off = get32(&end[16]);
  std::array<uint8_t, 4> loc{};
  if (at >= static_cast<int64_t>(kZip64LocatorSize) &&
      read_at(r, static_cast<uint64_t>(at) - kZip64LocatorSize, loc.data(), loc.size()) &&
      get32(loc.data()) == kZip64LocatorSig)
    return ZIP_ERR_UNSUPPORTED;
  if (count == 0xFFFF || dir_size == kAll32 || dir_off == kAll32) return ZIP_ERR_UNSUPPORTED;
  if (disk != 0 || dir_disk != 0 || on_disk != count) return ZIP_ERR_ENDRECORD;
  if (static_cast<uint64_t>(dir_off) + dir_size > static_cast<uint64_t>(at)) return ZIP_ERR_ENDRECORD;
  const uint64_t dir_end = static_cast<uint64_t>(dir_off) + dir_size;
  uint64_t p = dir_off;
  r->entries.reserve(count);
  std::string raw;
  for (uint16_t k = 0; k < count; ++k) {
    std::array<uint8_t, kCentralSize> c{};
    if (p + kCentralSize > dir_end || !read_at(r, p, c.data(), c.size())) return ZIP_ERR_ENDRECORD;
    if (get32(c.data()) != kCentralSig) return ZIP_ERR_ENDRECORD;
    const uint16_t n = get16(&c[28]), m = get16(&c[30]), cl = get16(&c[32]);
    if (p + kCentralSize + n + m + cl > dir_end) return ZIP_ERR_ENDRECORD;
    raw.resize(n);
    if (!read_at(r, p + kCentralSize, raw.data(), n)) return ZIP_ERR_READ;
    Entry e;
    e.flags = get16(&c[8]);
    e.method = get16(&c[10]);
    e.dos_time = get16(&c[12]);
    e.dos_date = get16(&c[14]);
    e.crc = get32(&c[16]);
    e.csize = get32(&c[20]);
    e.usize = get32(&c[24]);
    e.attributes = get32(&c[38]);
    e.local_offset = get32(&c[42]);
    e.mtime = dos_seconds(e.dos_time, e.dos_date);
    e.name = clean_name(raw);
    r->entries.push_back(std::move(e));
    p += kCentralSize + n + m + cl;
  }
  return ZIP_OK;
}

using Sink = std::function<int(const uint8_t *, size_t)>;

// The stored bytes of an entry, piece by piece, decrypted when a cipher is given.
struct Feed {
  const QvUnzipReader *r;
  uint64_t pos;
  uint64_t left;
  ZipCipher *cipher = nullptr;
  std::vector<uint8_t> in = std::vector<uint8_t>(kInPiece);

  // The next piece into in; *n is 0 at the end.
  bool next(size_t *n) {
    *n = static_cast<size_t>(std::min<uint64_t>(in.size(), left));
    if (*n == 0) return true;
    if (!read_at(r, pos, in.data(), *n)) return false;
    if (cipher != nullptr)
      for (size_t i = 0; i < *n; ++i) in[i] = cipher->decrypt(in[i]);
    pos += *n;
    left -= *n;
    return true;
  }
};

// Ends an inflate stream on every path.
struct Inflater {
  z_stream zs{};
  bool live = false;
  ~Inflater() {
    if (live) inflateEnd(&zs);
  }
};

// Inflates one raw deflate stream from feed into out, up to the stream's end;
// *used receives the compressed bytes it took.
int inflate_stream(Feed &feed, const Sink &out, uint64_t *used) {
  const uint64_t start = feed.pos;
  Inflater inf;
  const int ir = inflateInit2(&inf.zs, -MAX_WBITS);
  if (ir != Z_OK) return ir == Z_MEM_ERROR ? ZIP_ERR_NOMEM : ZIP_ERR_ARGS;
  inf.live = true;
  z_stream &zs = inf.zs;
  std::vector<uint8_t> buf(kOutPiece);
  for (bool end = false; !end;) {
    if (zs.avail_in == 0) {
      size_t n = 0;
      if (!feed.next(&n)) return ZIP_ERR_READ;
      zs.next_in = feed.in.data();
      zs.avail_in = static_cast<uInt>(n);
    }
    const bool no_more = zs.avail_in == 0;
    zs.next_out = buf.data();
    zs.avail_out = static_cast<uInt>(buf.size());
    const int ret = inflate(&zs, Z_NO_FLUSH);
    if (ret == Z_MEM_ERROR) return ZIP_ERR_NOMEM;
    if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) return ZIP_ERR_CORRUPT;
    const size_t produced = buf.size() - zs.avail_out;
    // Input used up without the stream's end: a truncated entry.
    if (ret != Z_STREAM_END && produced == 0 && no_more) return ZIP_ERR_CORRUPT;
    if (produced > 0) {
      const int code = out(buf.data(), produced);
      if (code != ZIP_OK) return code;
    }
    end = ret == Z_STREAM_END;
  }
  // Counted here: zlib's own count is 32 bits wide in the 32-bit build.
  *used = feed.pos - start - zs.avail_in;
  return ZIP_OK;
}

// A NUL-terminated field of a gzip header from *pos, inside limit; *pos moves
// behind its NUL.
bool gzip_string(const QvUnzipReader *r, uint64_t *pos, uint64_t limit, std::string *out) {
  std::array<char, 256> b{};
  for (;;) {
    if (*pos >= limit) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(b.size(), limit - *pos));
    if (!read_at(r, *pos, b.data(), n)) return false;
    const void *nul = std::memchr(b.data(), '\0', n);
    const size_t take = nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - b.data()) : n;
    if (out != nullptr) out->append(b.data(), take);
    *pos += take;
    if (nul != nullptr) {
      ++*pos;
      return true;
    }
  }
}

int parse_gzip(QvUnzipReader *r, const std::string &fallback_name) {
  std::array<uint8_t, 10> h{};
  if (r->size < static_cast<int64_t>(h.size() + kGzipTrailer) || !read_at(r, 0, h.data(), h.size()))
    return ZIP_ERR_NOTZIP;
  if (h[0] != kGzipId1 || h[1] != kGzipId2) return ZIP_ERR_NOTZIP;
  if (h[2] != kGzipDeflate) return ZIP_ERR_UNSUPPORTED;
  const uint8_t flg = h[3];
  if ((flg & kGzipReserved) != 0) return ZIP_ERR_CORRUPT;
  const uint64_t limit = static_cast<uint64_t>(r->size) - kGzipTrailer;
  uint64_t pos = h.size();
  if ((flg & kGzipFExtra) != 0) {
    std::array<uint8_t, 2> x{};
    if (!read_at(r, pos, x.data(), x.size())) return ZIP_ERR_CORRUPT;
    pos += 2 + get16(x.data());
  }
  std::string name;
  if ((flg & kGzipFName) != 0 && !gzip_string(r, &pos, limit, &name)) return ZIP_ERR_CORRUPT;
  if ((flg & kGzipFComment) != 0 && !gzip_string(r, &pos, limit, nullptr)) return ZIP_ERR_CORRUPT;
  if ((flg & kGzipFHcrc) != 0) pos += 2;
  if (pos > limit) return ZIP_ERR_CORRUPT;
  Entry e;
  e.name = clean_name((flg & kGzipFName) != 0 ? name : fallback_name);
  e.method = kMethodDeflated;
  e.data_offset = pos;
  // The member's trailer lies where its deflated data ends, which only
  // inflating finds: bytes after the member must not be taken for it.
  Feed feed{r, pos, static_cast<uint64_t>(r->size) - pos};
  uint64_t produced = 0, used = 0;
  const int walked = inflate_stream(
      feed,
      [&produced](const uint8_t *, size_t n) {
        produced += n;
        return ZIP_OK;
      },
      &used);
  if (walked != ZIP_OK && walked != ZIP_ERR_CORRUPT) return walked;
  std::array<uint8_t, kGzipTrailer> t{};
  if (walked == ZIP_OK && read_at(r, pos + used, t.data(), t.size())) {
    e.crc = get32(t.data());
    // The trailer holds the size modulo 2^32; the count is the size itself.
    const uint32_t isize = get32(t.data() + 4);
    e.usize = static_cast<uint32_t>(produced) == isize ? produced : isize;
    e.csize = used;
  } else {
    // A damaged member opens all the same: its sound start can be extracted
    // before the extraction reports the damage.
    e.usize = produced;
    e.csize = static_cast<uint64_t>(r->size) - pos;
  }
  e.mtime = get32(h.data() + 4);
  e.attributes = 0x20;
  dos_stamp(e.mtime, &e.dos_time, &e.dos_date);
  r->entries.push_back(std::move(e));
  return ZIP_OK;
}

// The file name without its directory and a ".gz".
std::string gzip_fallback_name(const char *path) {
  std::string n = path != nullptr ? path : "";
  const size_t slash = n.find_last_of("/\\");
  if (slash != std::string::npos) n.erase(0, slash + 1);
  if (n.size() > 3) {
    std::string ext = n.substr(n.size() - 3);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".gz") n.resize(n.size() - 3);
  }
  return n;
}

int open_common(UnzipHandle *out, QvUnzipReader *r, bool gzip, const char *password, const std::string &fallback) {
  if (password != nullptr) r->password = password;
  r->gzip = gzip;
  const int code = gzip ? parse_gzip(r, fallback) : parse_zip(r);
  if (code != ZIP_OK) {
    free_reader(r);
    return code;
  }
  *out = r;
  return ZIP_OK;
}

int open_file(UnzipHandle *out, const char *path, const char *password, bool gzip) {
  if (out == nullptr) return ZIP_ERR_ARGS;
  *out = nullptr;
  if (path == nullptr) return ZIP_ERR_ARGS;
  const int fd = OpenLargeFile(path, 1, 2);
  if (fd < 0) return ZIP_ERR_OPEN;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    CloseLargeFile(fd);
    return ZIP_ERR_READ;
  }
  QvUnzipReader *r = new_reader();
  r->fd = fd;
  r->owns_fd = true;
  r->size = static_cast<int64_t>(st.st_size);
  return open_common(out, r, gzip, password, gzip_fallback_name(path));
}

int open_handle(UnzipHandle *out, int handle, const char *password, bool gzip) {
  if (out == nullptr) return ZIP_ERR_ARGS;
  *out = nullptr;
  if (handle < 0 || fcntl(handle, F_GETFD) < 0) return ZIP_ERR_ARGS;
  // The size without moving the handle, which the caller may go on using.
  const off_t here = lseek(handle, 0, SEEK_CUR);
  const off_t end = here < 0 ? -1 : lseek(handle, 0, SEEK_END);
  if (end < 0 || lseek(handle, here, SEEK_SET) != here) return ZIP_ERR_SEEK;
  QvUnzipReader *r = new_reader();
  const int dup_fd = fcntl(handle, F_DUPFD_CLOEXEC, 0);
  r->fd = dup_fd >= 0 ? dup_fd : handle;
  r->owns_fd = dup_fd >= 0;
  r->size = static_cast<int64_t>(end);
  return open_common(out, r, gzip, password, "");
}

int open_buffer(UnzipHandle *out, const void *memory, size_t length, const char *password, bool gzip) {
  if (out == nullptr) return ZIP_ERR_ARGS;
  *out = nullptr;
  if (memory == nullptr) return ZIP_ERR_RESOURCE;  // the program carries no data resources
  QvUnzipReader *r = new_reader();
  r->mem = static_cast<const uint8_t *>(memory);
  r->size = static_cast<int64_t>(std::min<uint64_t>(length, INT64_MAX));
  return open_common(out, r, gzip, password, "");
}

bool is_folder(const Entry &e) { return !e.name.empty() && e.name.back() == '/' && e.usize == 0; }

// Extracts one entry into sink, piece by piece.
int read_entry(QvUnzipReader *r, const Entry &e, const Sink &sink) {
  LoadPartDone = 0;
  uint64_t data = e.data_offset;
  uint64_t avail = static_cast<uint64_t>(r->size) - std::min<uint64_t>(data, static_cast<uint64_t>(r->size));
  bool encrypted = false;
  ZipCipher cipher;
  if (!r->gzip) {
    if ((e.flags & kFlagStrong) != 0 || e.method == kMethodAes) return ZIP_ERR_UNSUPPORTED;
    if (e.method != kMethodStored && e.method != kMethodDeflated) return ZIP_ERR_UNSUPPORTED;
    if (e.csize == kAll32 || e.usize == kAll32 || e.local_offset == kAll32) return ZIP_ERR_UNSUPPORTED;
    std::array<uint8_t, kLocalSize> l{};
    if (!read_at(r, e.local_offset, l.data(), l.size()) || get32(l.data()) != kLocalSig) return ZIP_ERR_CORRUPT;
    data = e.local_offset + kLocalSize + get16(&l[26]) + get16(&l[28]);
    if (data > static_cast<uint64_t>(r->size) || e.csize > static_cast<uint64_t>(r->size) - data)
      return ZIP_ERR_CORRUPT;
    avail = e.csize;
    encrypted = (e.flags & kFlagEncrypted) != 0;
    if (encrypted) {
      if (r->password.empty()) return ZIP_ERR_PASSWORD;
      if (avail < kCryptHeaderSize) return ZIP_ERR_CORRUPT;
      std::array<uint8_t, kCryptHeaderSize> h{};
      if (!read_at(r, data, h.data(), h.size())) return ZIP_ERR_READ;
      cipher.init(r->password);
      for (uint8_t &b : h) b = cipher.decrypt(b);
      const uint8_t check = (e.flags & kFlagDescriptor) != 0 ? static_cast<uint8_t>(e.dos_time >> 8)
                                                               : static_cast<uint8_t>(e.crc >> 24);
      if (h.back() != check) return ZIP_ERR_PASSWORD;
      data += kCryptHeaderSize;
      avail -= kCryptHeaderSize;
    }
    if (e.method == kMethodStored && avail != e.usize) return ZIP_ERR_CORRUPT;
  }

  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  auto emit = [&](const uint8_t *p, size_t n) -> int {
    if (n == 0) return ZIP_OK;
    total += n;
    if (total > e.usize) return ZIP_ERR_CORRUPT;  // more than the entry's size
    crc = crc32_z(crc, p, n);
    const int code = sink(p, n);
    if (code != ZIP_OK) return code;
    LoadPartDone = e.usize > 0 ? static_cast<double>(total) / static_cast<double>(e.usize) : 1;
    if (update_load_progress != nullptr) update_load_progress();
    return load_abort != 0 ? ZIP_ERR_ABORT : ZIP_OK;
  };

  Feed feed{r, data, avail, encrypted ? &cipher : nullptr};
  if (e.method == kMethodStored) {
    for (size_t n = 1; n > 0;) {
      if (!feed.next(&n)) return ZIP_ERR_READ;
      const int code = emit(feed.in.data(), n);
      if (code != ZIP_OK) return code;
    }
  } else {
    uint64_t used = 0;
    if (const int code = inflate_stream(feed, emit, &used); code != ZIP_OK) return code;
    if (r->gzip) {
      // The member's trailer follows its deflated data.
      std::array<uint8_t, kGzipTrailer> t{};
      if (!read_at(r, data + used, t.data(), t.size())) return ZIP_ERR_CORRUPT;
      if (get32(t.data()) != static_cast<uint32_t>(crc) || get32(t.data() + 4) != static_cast<uint32_t>(total))
        return ZIP_ERR_CORRUPT;
    }
  }
  if (total != e.usize || static_cast<uint32_t>(crc) != e.crc) return ZIP_ERR_CORRUPT;
  LoadPartDone = 1;
  return ZIP_OK;
}

const Entry *entry_of(const QvUnzipReader *r, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= r->entries.size()) return nullptr;
  return &r->entries[static_cast<size_t>(index)];
}

template <typename Info>
void fill_info(const Entry &e, int32_t index, Info *info) {
  info->index = index;
  info->attributes = e.attributes;
  info->dos_time = e.dos_time;
  info->dos_date = e.dos_date;
  info->crc = e.crc;
  info->mtime = e.mtime;
  info->compressed_size = static_cast<int64_t>(e.csize);
  info->uncompressed_size = static_cast<int64_t>(e.usize);
}

int get_item(QvUnzipReader *r, UnzipEntry *info) {
  if (info->index == -1) {
    info->index = static_cast<int32_t>(r->entries.size());
    return ZIP_OK;
  }
  const Entry *e = entry_of(r, info->index);
  if (e == nullptr) return ZIP_ERR_ARGS;
  if (e->name.size() >= ZIP_NAME_SIZE) return ZIP_ERR_NAME;
  fill_info(*e, info->index, info);
  std::memcpy(info->name, e->name.c_str(), e->name.size() + 1);
  return ZIP_OK;
}

int get_item(QvUnzipReader *r, UnzipEntryW *info) {
  if (info->index == -1) {
    info->index = static_cast<int32_t>(r->entries.size());
    return ZIP_OK;
  }
  const Entry *e = entry_of(r, info->index);
  if (e == nullptr) return ZIP_ERR_ARGS;
  wchar_t name[ZIP_NAME_SIZE];
  if (!to_wide(e->name, name, ZIP_NAME_SIZE)) return ZIP_ERR_NAME;
  fill_info(*e, info->index, info);
  std::memcpy(info->name, name, sizeof name);
  return ZIP_OK;
}

bool same_name(std::string_view a, std::string_view b, bool ignore_case) {
  if (a.size() != b.size()) return false;
  if (!ignore_case) return a == b;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

int find_item(QvUnzipReader *r, const std::string &wanted, uint32_t flags, int32_t *index) {
  const std::string key = clean_name(wanted);
  if (key.empty()) return ZIP_ERR_NOTFOUND;
  for (size_t i = 0; i < r->entries.size(); ++i) {
    if (same_name(r->entries[i].name, key, (flags & UNZIP_IGNORE_CASE) != 0)) {
      *index = static_cast<int32_t>(i);
      return ZIP_OK;
    }
  }
  return ZIP_ERR_NOTFOUND;
}

// The path of a cleaned name below the base directory; "" when it would leave
// it (through a link that exists there).
std::string target_path(const QvUnzipReader *r, const std::string &name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base = fs::weakly_canonical(fs::absolute(r->base_dir.empty() ? "." : r->base_dir, ec), ec);
  if (ec) return "";
  const fs::path full = base / name;
  const fs::path resolved = fs::weakly_canonical(full.has_filename() ? full.parent_path() : full, ec);
  if (ec) return "";
  const auto rel = resolved.lexically_relative(base);
  if (rel.empty() || *rel.begin() == "..") return "";
  return full.string();
}

// Creates the missing directories of a path.
bool createMultDirsA(const std::string &dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return !ec && std::filesystem::is_directory(dir, ec);
}

int item_to_file(QvUnzipReader *r, const char *name, int32_t index) {
  const Entry *e = entry_of(r, index);
  if (e == nullptr) return ZIP_ERR_ARGS;
  const std::string cleaned = clean_name(name != nullptr ? name : e->name);
  if (cleaned.empty()) return ZIP_ERR_NAME;
  const std::string path = target_path(r, cleaned);
  if (path.empty()) return ZIP_ERR_NAME;
  const std::filesystem::path p(path);
  if (cleaned.back() == '/') return createMultDirsA(path) ? ZIP_OK : ZIP_ERR_OPEN;
  if (p.has_parent_path() && !createMultDirsA(p.parent_path().string())) return ZIP_ERR_OPEN;
  const int fd = platform::files::open_plain(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW);
  if (fd < 0) return ZIP_ERR_OPEN;
  int code = read_entry(r, *e, [fd](const uint8_t *d, size_t n) {
    return WriteLargeFile(fd, d, static_cast<int64_t>(n)) == static_cast<int64_t>(n) ? ZIP_OK : ZIP_ERR_WRITE;
  });
  if (close(fd) != 0 && code == ZIP_OK) code = ZIP_ERR_WRITE;
  return code;
}
}  // namespace

int UnzipOpenFileA(UnzipHandle *out, const char *path, const char *password) {
  return open_file(out, path, password, false);
}
int UnzipOpenFileW(UnzipHandle *out, const wchar_t *path, const char *password) {
  const std::string p = to_utf8(path);
  return open_file(out, path != nullptr ? p.c_str() : nullptr, password, false);
}
int UnzipOpenFileRawA(UnzipHandle *out, const char *path, const char *password) {
  return open_file(out, path, password, true);
}
int UnzipOpenFileRawW(UnzipHandle *out, const wchar_t *path, const char *password) {
  const std::string p = to_utf8(path);
  return open_file(out, path != nullptr ? p.c_str() : nullptr, password, true);
}
int UnzipOpenHandle(UnzipHandle *out, int handle, const char *password) {
  return open_handle(out, handle, password, false);
}
int UnzipOpenHandleRaw(UnzipHandle *out, int handle, const char *password) {
  return open_handle(out, handle, password, true);
}
int UnzipOpenBuffer(UnzipHandle *out, const void *memory, size_t length, const char *password) {
  return open_buffer(out, memory, length, password, false);
}
int UnzipOpenBufferRaw(UnzipHandle *out, const void *memory, size_t length, const char *password) {
  return open_buffer(out, memory, length, password, true);
}

int UnzipGetItemA(UnzipHandle unzip, UnzipEntry *entry) {
  if (!alive(unzip) || entry == nullptr) return ZIP_ERR_ARGS;
  return keep(unzip, get_item(unzip, entry));
}

int UnzipGetItemW(UnzipHandle unzip, UnzipEntryW *entry) {
  if (!alive(unzip) || entry == nullptr) return ZIP_ERR_ARGS;
  return keep(unzip, get_item(unzip, entry));
}

int UnzipFindItemA(UnzipHandle unzip, UnzipEntry *entry, uint32_t flags) {
  if (!alive(unzip) || entry == nullptr) return ZIP_ERR_ARGS;
  const std::string wanted(entry->name, strnlen(entry->name, ZIP_NAME_SIZE));
  int32_t index = -1;
  const int code = find_item(unzip, wanted, flags, &index);
  if (code != ZIP_OK) return keep(unzip, code);
  entry->index = index;
  return keep(unzip, get_item(unzip, entry));
}

int UnzipFindItemW(UnzipHandle unzip, UnzipEntryW *entry, uint32_t flags) {
  if (!alive(unzip) || entry == nullptr) return ZIP_ERR_ARGS;
  wchar_t name[ZIP_NAME_SIZE];
  std::memcpy(name, entry->name, sizeof name);
  name[ZIP_NAME_SIZE - 1] = 0;
  int32_t index = -1;
  const int code = find_item(unzip, to_utf8(name), flags, &index);
  if (code != ZIP_OK) return keep(unzip, code);
  entry->index = index;
  return keep(unzip, get_item(unzip, entry));
}

int UnzipItemToFileA(UnzipHandle unzip, const char *name, const UnzipEntry *entry) {
  if (!alive(unzip) || entry == nullptr) return ZIP_ERR_ARGS;
  return keep(unzip, item_to_file(unzip, name, entry->index));
}

int UnzipItemToFileW(UnzipHandle unzip, const wchar_t *name, const UnzipEntryW *entry) {
  if (!alive(unzip) || entry == nullptr) return ZIP_ERR_ARGS;
  const std::string n = to_utf8(name);
  return keep(unzip, item_to_file(unzip, name != nullptr ? n.c_str() : nullptr, entry->index));
}

int UnzipItemToHandle(UnzipHandle unzip, int handle, const UnzipEntry *entry) {
  if (!alive(unzip) || entry == nullptr || handle < 0) return ZIP_ERR_ARGS;
  const Entry *e = entry_of(unzip, entry->index);
  if (e == nullptr) return keep(unzip, ZIP_ERR_ARGS);
  if (is_folder(*e)) return ZIP_OK;
  return keep(unzip, read_entry(unzip, *e, [handle](const uint8_t *d, size_t n) {
                return WriteLargeFile(handle, d, static_cast<int64_t>(n)) == static_cast<int64_t>(n) ? ZIP_OK
                                                                                                     : ZIP_ERR_WRITE;
              }));
}

int UnzipItemToBuffer(UnzipHandle unzip, void *memory, size_t length, const UnzipEntry *entry) {
  if (!alive(unzip) || entry == nullptr || (memory == nullptr && length != 0)) return ZIP_ERR_ARGS;
  const Entry *e = entry_of(unzip, entry->index);
  if (e == nullptr) return keep(unzip, ZIP_ERR_ARGS);
  if (is_folder(*e)) return ZIP_OK;
  auto *out = static_cast<uint8_t *>(memory);
  size_t used = 0;
  return keep(unzip, read_entry(unzip, *e, [&](const uint8_t *d, size_t n) -> int {
                const size_t fits = std::min(n, length - used);
                if (fits > 0) std::memcpy(out + used, d, fits);
                used += fits;
                return fits == n ? ZIP_OK : ZIP_ERR_FULL;
              }));
}

int UnzipSetBaseDirA(UnzipHandle unzip, const char *dir) {
  if (!alive(unzip)) return ZIP_ERR_ARGS;
  unzip->base_dir = dir != nullptr ? dir : "";
  if (!unzip->base_dir.empty() && unzip->base_dir.back() != '/') unzip->base_dir += '/';
  return ZIP_OK;
}

int UnzipSetBaseDirW(UnzipHandle unzip, const wchar_t *dir) {
  const std::string d = to_utf8(dir);
  return UnzipSetBaseDirA(unzip, dir != nullptr ? d.c_str() : nullptr);
}

int UnzipClose(UnzipHandle unzip) {
  if (!alive(unzip)) return ZIP_ERR_ARGS;
  free_reader(unzip);
  return ZIP_OK;
}
