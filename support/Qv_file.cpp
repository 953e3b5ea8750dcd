#include "support/Qv_file.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/win/files.h"
#include "support/Util_fun_paths.h"

unsigned char QVbin_hdr[14];
int bin_para_found;

namespace {
constexpr std::string_view kIdentTag = "*IDENTIFICATION";
constexpr std::string_view kSetupTag = "*SETUP";
constexpr std::string_view kRawSetupTag = "*SETUP_";
constexpr std::string_view kHeaderlessSetupTag = "*BODY";
constexpr std::string_view kEndTag = "*END";
constexpr std::string_view kFamilyWord = "LMR";
constexpr const char *kFamilyIdent = "\x04LMR DLL Data File\x04";
// "BIN_PARA_BEGIN:" with its NUL, then the block's i32 length.
constexpr char kBinBegin[] = "BIN_PARA_BEGIN:";
constexpr size_t kBinBeginSize = sizeof kBinBegin;  // 16
constexpr size_t kBinPrefixSize = kBinBeginSize + 4;
static_assert(kBinBeginSize == 16);
constexpr size_t kBinHdrSize = sizeof QVbin_hdr;
static_assert(kBinHdrSize == 14);

constexpr int kLineRead = 128;                // line reads of the scans
constexpr int kMaxBadReads = 100;             // over-long reads per scan
constexpr int64_t kMaxIdentLength = 0x7FFF;   // i16 field
constexpr int64_t kMaxSetupLength = 0xFFFF;   // u16 field
constexpr int kLabelWidth = 14;
constexpr int kRukHeaderSize = 26;

// Identification keys and the labels written for them.
struct Label {
  std::string_view key;
  std::string_view label;
};
constexpr std::array<Label, 8> kLabels = {{
    {"TITLE : ", "  Title     : "},
    {"VERSION : ", "  Version   : "},
    {"REVISION : ", "  Revision  : "},
    {"DATE : ", "  Date      : "},
    {"TIME : ", "  Time      : "},
    {"AUTHOR : ", "  Author    : "},
    {"COMPANY : ", "  Company   : "},
    {"CONTENTS : ", "  Contents  : "},
}};

void put16(uint8_t *b, int at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *b, int at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t *b, int at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t get32(const uint8_t *b, int at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}
int32_t get_i32(const void *p) {
  uint8_t b[4];
  std::memcpy(b, p, 4);
  return static_cast<int32_t>(get32(b, 0));
}

// The strings of a list that must end within limit bytes (false when it does
// not), then a null pointer; an empty list yields one empty string. bytes
// counts up to the last string's NUL, after up to the list's closing NUL.
bool split_list(const char *list, size_t limit, std::vector<const char *> *out, size_t *bytes, size_t *after) {
  size_t used = 0;
  size_t end = 0;
  bool ended = list == nullptr;
  while (list != nullptr && used < limit) {
    const char *p = list + used;
    const size_t n = limit == SIZE_MAX ? std::strlen(p) : strnlen(p, limit - used);
    if (n == limit - used) break;  // no NUL within the caller's bytes
    if (n == 0) {                  // the empty string that ends the list
      if (out->empty()) {
        out->push_back(p);
        used = 1;
      }
      end = static_cast<size_t>(p - list) + 1;
      ended = true;
      break;
    }
    out->push_back(p);
    used += n + 1;
  }
  out->push_back(nullptr);
  if (bytes != nullptr) *bytes = used;
  if (after != nullptr) *after = end;
  return ended;
}

void reset_header(FileRecord *r) {
  if (r->header == nullptr) r->header = std::make_unique<QvFileHeader>().release();
  *r->header = QvFileHeader{};
}

void free_header(FileRecord *r) {
  std::unique_ptr<QvFileHeader> gone(r->header);
  r->header = nullptr;
}

// Keeps a record open for a reading operation: a closed record is reopened
// and closed again at the end, keeping the code the operation left.
class OpenForReading {
 public:
  explicit OpenForReading(FileRecord *r) : r_(r) {
    if (r_ == nullptr) return;
    if (r_->state == FILE_STATE_OPEN) {
      ok_ = true;
    } else if (r_->state == FILE_STATE_CLOSED && reopen_file(r_) >= 0) {
      ok_ = reopened_ = true;
    }
  }
  ~OpenForReading() {
    if (!reopened_) return;
    const int code = r_->error;
    if (close_file(r_) == 0) r_->error = code;
  }
  OpenForReading(const OpenForReading &) = delete;
  OpenForReading &operator=(const OpenForReading &) = delete;
  bool ok() const { return ok_; }

 private:
  FileRecord *r_;
  bool ok_ = false;
  bool reopened_ = false;
};

// Header check: reads the 42 bytes at 0 and loads them when their words sum to
// QV_HEADER_SUM and the identification can be reached; else the in-memory
// header is cleared and marked invalid.
bool check_header(FileRecord *r) {
  QvFileHeader &h = *r->header;
  std::array<uint8_t, QV_HEADER_SIZE> b{};
  bool ok = seek_file(r, 0, 0) == 0 && read_file(r, b.data(), QV_HEADER_SIZE) == QV_HEADER_SIZE;
  const int code = r->error;  // a short file keeps its "BFILE_EOF"
  seek_file(r, 0, 0);
  if (!ok) r->error = code;
  ok = ok && qv_header_word_sum(b.data()) == QV_HEADER_SUM;
  if (ok) {
    qv_header_from_bytes(&h, b.data());
    // A negative length is no section at all.
    if (h.ident_length < 0) ok = false;
    if (ok && h.ident_length > 0 && seek_file(r, h.ident_offset, 0) <= 0) ok = false;
  }
  if (!ok) {
    h = QvFileHeader{};
    h.mark = QV_MARK_INVALID;
  }
  return ok;
}

// One line of a scan, compressed. Returns its length, -3 for an over-long
// piece (kept and compressed too), -1 at the end or on an error.
int scan_line(FileRecord *r, char *line) {
  const int n = read_file_c(r, line, kLineRead);
  if (n == -1) return -1;
  const int len = qv_strcompress(line);
  return n == -3 ? -3 : len;
}

// Reads lines until one equals tag. Over-long pieces never equal it.
bool find_tag(FileRecord *r, std::string_view tag) {
  std::array<char, kLineRead> line{};
  for (int bad = 0; bad < kMaxBadReads;) {
    const int n = scan_line(r, line.data());
    if (n == -1) return false;
    if (n == -3) {
      ++bad;
      continue;
    }
    if (tag == line.data()) return true;
  }
  return false;
}

// Identification test of valid_qvfile and valid_qvfile_ext.
int identify(FileRecord *r, const char *ident, bool need_flag, short flag, int *code) {
  if (code != nullptr) *code = 0;
  if (r == nullptr || r->state == FILE_STATE_EMPTY) return 0;
  OpenForReading open(r);
  if (!open.ok()) return 0;
  if (r->header == nullptr) reset_header(r);
  if (!check_header(r)) return 0;
  const QvFileHeader &h = *r->header;
  const int revision = h.kind & 0xF;
  auto accept = [&](int result) {
    if (code != nullptr && result != 0 && revision > 11) *code = (h.kind >> 4) & 0xFFF;
    return result;
  };
  if (h.ident_length <= 0) return h.mark == QV_MARK_VALID ? accept(revision) : 0;
  if (ident == nullptr) return 0;
  std::array<char, kLineRead> line{};
  bool inside = false, family = false, found = false;
  for (int bad = 0; bad < kMaxBadReads && !found;) {
    const int n = scan_line(r, line.data());
    if (n == -1) break;
    if (n == -3) ++bad;
    const std::string_view l(line.data());
    if (!inside) {
      inside = l == kIdentTag;
      continue;
    }
    if (l.find(kFamilyWord) != std::string_view::npos) family = true;
    if (l.find(ident) != std::string_view::npos) found = true;
    else if (l == kEndTag) break;
  }
  if (!found && family && std::strcmp(ident, kFamilyIdent) == 0 && revision != 0 && (!need_flag || flag == 1))
    found = true;
  if (!found) return 0;
  return accept(revision != 0 ? revision : 1);
}

// Accumulates the bytes of a section as they are written; the first failure
// ends it.
class SectionWriter {
 public:
  explicit SectionWriter(FileRecord *r) : r_(r) {}
  void text(const std::string &s) {
    if (ok_) add(write_file_c(r_, s.c_str()));
  }
  void raw(const void *p, size_t n) {
    if (ok_) add(write_file(r_, p, static_cast<int64_t>(n)));
  }
  bool ok() const { return ok_; }
  int64_t bytes() const { return bytes_; }

 private:
  void add(int64_t n) {
    if (n < 0) ok_ = false;
    else bytes_ += n;
  }
  FileRecord *r_;
  bool ok_ = true;
  int64_t bytes_ = 0;
};

// Writes the in-memory header at 0 and returns to pos.
int write_header(FileRecord *r, int64_t pos) {
  prepare_hdr_chksum(r->header);
  std::array<uint8_t, QV_HEADER_SIZE> b{};
  qv_header_to_bytes(r->header, b.data());
  if (seek_file(r, 0, 0) < 0) return -1;
  if (write_file(r, b.data(), QV_HEADER_SIZE) != QV_HEADER_SIZE) return -1;
  if (seek_file(r, pos, 0) < 0) return -1;
  return 0;
}

// path with ext (when not null) in place of its extension: drive, directory
// and name of the split, then ext. False when the split cut the directory or
// the name, so that the composition would name another file.
bool with_extension(const char *path, const char *ext, std::string *out) {
  if (ext == nullptr) {
    *out = path;
    return true;
  }
  char drive[FNSPLIT_DRIVE_SIZE], dir[FNSPLIT_DIR_SIZE], name[FNSPLIT_NAME_SIZE], old_ext[FNSPLIT_EXT_SIZE];
  fnsplit(path, drive, dir, name, old_ext);
  while (*path == ' ') ++path;
  const std::string base = std::string(drive) + dir + name;
  const std::string_view p(path);
  if (p.substr(0, base.size()) != base) return false;
  // What the composition drops must be the old extension alone.
  const std::string_view rest = p.substr(base.size());
  if (rest.find_first_of("/\\") != std::string_view::npos) return false;
  if (rest.substr(0, std::strlen(old_ext)) != old_ext || (rest.empty() != (*old_ext == '\0'))) return false;
  *out = base + ext;
  return true;
}

// A path that cannot be composed: refused as open and create refuse one.
int refuse_path(FileRecord *r) {
  if (r->state != FILE_STATE_EMPTY) r->error = BFILE_NOTEMPTY;
  else r->error = BFILE_OPEN;
  return -1;
}

int overflow(FileRecord *r) {
  r->error = BFILE_OVERFLOW;
  return -1;
}

int put_identification(FileRecord *r, const char *ident, int code, const char *lines) {
  QvFileHeader &h = *r->header;
  h = QvFileHeader{};
  h.kind = static_cast<uint16_t>((code & 0xFFF0) | 0xF);
  h.ident_offset = QV_HEADER_SIZE;
  if (seek_file(r, QV_HEADER_SIZE, 0) < 0) return -1;
  SectionWriter w(r);
  w.text(std::string(kIdentTag) + "\n  ID        : " + (ident != nullptr ? ident : "") + "\n");
  bool contents = false;
  for (const char *line : qv_strconvert(lines)) {
    if (line == nullptr) break;
    const std::string_view l(line);
    if (l.empty()) continue;
    const std::string blanks(kLabelWidth, ' ');
    if (contents) {
      w.text(blanks + std::string(l) + "\n");
      continue;
    }
    // The key: up to and including the first ':' and one character more.
    const size_t colon = l.find(':');
    const std::string_view key = colon == std::string_view::npos ? l : l.substr(0, colon + 2);
    const Label *match = nullptr;
    for (const Label &lab : kLabels)
      if (lab.key == key) match = &lab;
    if (match == nullptr) {  // no key of the table: kept, aligned with the values
      w.text(blanks + std::string(l) + "\n");
      continue;
    }
    w.text(std::string(match->label) + std::string(l.substr(key.size())) + "\n");
    contents = match->key == kLabels.back().key;
  }
  w.text(std::string(kEndTag) + "\n\n");
  if (!w.ok()) return -1;
  if (w.bytes() > kMaxIdentLength) return overflow(r);
  h.ident_length = static_cast<int16_t>(w.bytes());
  h.setup_offset = static_cast<int32_t>(QV_HEADER_SIZE + w.bytes());
  h.block_offset = h.setup_offset;
  h.descr_offset = h.setup_offset;
  h.mark = QV_MARK_VALID;
  h.word19 = static_cast<uint16_t>(((code & 0xF000) >> 12) << 2);
  return write_header(r, h.setup_offset);
}

int put_setup(FileRecord *r, const char *lines, size_t size) {
  size_t at = 0;
  std::vector<const char *> list;
  if (!split_list(lines, size != 0 ? size : SIZE_MAX, &list, nullptr, &at)) return overflow(r);
  // A binary block starts behind the list's closing NUL and must lie within size.
  const char *block = nullptr;
  int32_t block_len = 0;
  if (size >= at + kBinPrefixSize && std::memcmp(lines + at, kBinBegin, kBinBeginSize - 1) == 0) {
    block_len = get_i32(lines + at + kBinBeginSize);
    if (block_len < 0 || static_cast<uint64_t>(block_len) > size - at - kBinPrefixSize) return overflow(r);
    block = lines + at;
  }
  const int64_t start = tell_file(r);
  if (start < 0) return -1;
  SectionWriter w(r);
  w.text(std::string(kSetupTag) + "\n");
  for (const char *line : list)
    if (line != nullptr) w.text(std::string("  ") + line + "\n");
  if (block != nullptr) {
    w.text(std::string(kEndTag) + "\n\n");
    w.raw(block, kBinPrefixSize + static_cast<size_t>(block_len));
    w.text("\n");
  }
  w.text(std::string(kEndTag) + "\n\n");
  if (!w.ok()) return -1;
  if (w.bytes() > kMaxSetupLength) return overflow(r);
  r->header->setup_length = static_cast<uint16_t>(w.bytes());
  return write_header(r, start + w.bytes());
}

int put_raw_setup(FileRecord *r, const char *block) {
  if (block == nullptr) return overflow(r);
  const int32_t len = get_i32(block);
  if (len < 0 || static_cast<int64_t>(len) + 13 > kMaxSetupLength) return overflow(r);
  const int64_t start = tell_file(r);
  if (start < 0) return -1;
  SectionWriter w(r);
  w.raw(kRawSetupTag.data(), kRawSetupTag.size() + 1);  // with its NUL
  w.raw(block + 4, static_cast<size_t>(len));
  w.raw(kEndTag.data(), kEndTag.size() + 1);
  if (!w.ok()) return -1;
  r->header->setup_length = static_cast<uint16_t>(w.bytes());
  return write_header(r, start + w.bytes());
}

// The copy pass: compressed lines as a list into buffer, which holds what the
// size query gave (limit, the section length); every write stays below it.
int copy_lines(FileRecord *r, bool setup, const std::string &skip, int64_t limit, int64_t end, char *buffer) {
  std::array<char, kLineRead> piece{};
  std::string line;
  int64_t count = 0;
  int64_t w = 0;  // write position; always below limit
  for (;;) {
    const int64_t pos = tell_file(r);
    if (pos < 0 || pos >= end) break;  // never beyond the section
    int n = read_file_c(r, piece.data(), kLineRead);
    if (n == -1) break;
    // A line longer than one read arrives whole, as far as the section goes,
    // so that its reader sees it once.
    line.assign(piece.data());
    while (n == -3) {
      const int64_t at = tell_file(r);
      if (at < 0 || at >= end) break;
      n = read_file_c(r, piece.data(), kLineRead);
      if (n == -1) break;
      line.append(piece.data());
    }
    const int len = qv_strcompress(line.data());
    if (len == 0) continue;
    const std::string_view l(line.data(), static_cast<size_t>(len));
    if (l == kEndTag) {
      if (!setup) break;
      // Behind "*END" and its empty line may follow the raw rest of the section.
      const int64_t after = seek_file(r, 2, 1);
      if (after >= 0 && after < end) {
        const int64_t room = limit - 1 - w;
        const int64_t want = end - after < room ? end - after : room;
        const int64_t got = want > 0 ? read_file(r, buffer + w, want) : 0;
        if (got > 0) {
          const char *raw = buffer + w;
          if (static_cast<size_t>(got) >= kBinPrefixSize + kBinHdrSize &&
              std::memcmp(raw, kBinBegin, kBinBeginSize - 1) == 0) {
            std::memcpy(QVbin_hdr, raw + kBinPrefixSize, kBinHdrSize);
            bin_para_found = get_i32(raw + kBinPrefixSize);
          }
          w += got;
          count += got;
        }
      }
      break;
    }
    if (!skip.empty() && l.find(skip) != std::string_view::npos) continue;
    count += len + 1;
    if (count >= limit) {
      count = limit;
      break;
    }
    std::memcpy(buffer + w, line.data(), static_cast<size_t>(len) + 1);
    w += len + 1;
  }
  buffer[w] = '\0';
  return static_cast<int>(count != 0 ? count + 1 : 0);
}
}  // namespace

void qv_header_to_bytes(const QvFileHeader *h, uint8_t b[QV_HEADER_SIZE]) {
  put16(b, 0, h->kind);
  put32(b, 2, static_cast<uint32_t>(h->ident_offset));
  put16(b, 6, static_cast<uint16_t>(h->ident_length));
  put32(b, 8, static_cast<uint32_t>(h->setup_offset));
  put16(b, 12, h->setup_length);
  put32(b, 14, static_cast<uint32_t>(h->block_offset));
  put16(b, 18, static_cast<uint16_t>(h->block_count));
  put32(b, 20, h->block_length);
  put32(b, 24, static_cast<uint32_t>(h->descr_offset));
  put16(b, 28, static_cast<uint16_t>(h->descr_item_size));
  put16(b, 30, static_cast<uint16_t>(h->descr_item_count));
  put16(b, 32, h->mark);
  put32(b, 34, h->ext_block_count);
  put16(b, 38, h->word19);
  put16(b, 40, h->checksum);
}

void qv_header_from_bytes(QvFileHeader *h, const uint8_t b[QV_HEADER_SIZE]) {
  h->kind = get16(b, 0);
  h->ident_offset = static_cast<int32_t>(get32(b, 2));
  h->ident_length = static_cast<int16_t>(get16(b, 6));
  h->setup_offset = static_cast<int32_t>(get32(b, 8));
  h->setup_length = get16(b, 12);
  h->block_offset = static_cast<int32_t>(get32(b, 14));
  h->block_count = static_cast<int16_t>(get16(b, 18));
  h->block_length = get32(b, 20);
  h->descr_offset = static_cast<int32_t>(get32(b, 24));
  h->descr_item_size = static_cast<int16_t>(get16(b, 28));
  h->descr_item_count = static_cast<int16_t>(get16(b, 30));
  h->mark = get16(b, 32);
  h->ext_block_count = get32(b, 34);
  h->word19 = get16(b, 38);
  h->checksum = get16(b, 40);
}

uint16_t qv_header_word_sum(const uint8_t b[QV_HEADER_SIZE]) {
  uint16_t sum = 0;
  for (int i = 0; i < QV_HEADER_SIZE; i += 2) sum = static_cast<uint16_t>(sum + get16(b, i));
  return sum;
}

uint16_t prepare_hdr_chksum(QvFileHeader *h) {
  if (h == nullptr) return 0;
  h->checksum = 0;
  std::array<uint8_t, QV_HEADER_SIZE> b{};
  qv_header_to_bytes(h, b.data());
  h->checksum = static_cast<uint16_t>(QV_HEADER_SUM - qv_header_word_sum(b.data()));
  return h->checksum;
}

int open_qvfile(FileRecord *record, const char *path, const char *ext) {
  if (record == nullptr || path == nullptr) return -1;
  SetCommitMode(0);
  std::string p;
  if (!with_extension(path, ext, &p)) return refuse_path(record);
  if (open_file(record, p.c_str()) < 0) return -1;
  if (close_file(record) < 0) return -1;
  reset_header(record);
  return 1;
}

int create_qvfile(FileRecord *record, const char *path, const char *ext) {
  if (record == nullptr || path == nullptr) return -1;
  std::string p;
  if (!with_extension(path, ext, &p)) return refuse_path(record);
  if (create_file(record, p.c_str()) < 0) return -1;
  reset_header(record);
  return 1;
}

int create_qvfile_on(FileRecord *record, int handle, const char *path) {
  if (record == nullptr || path == nullptr) return -1;
  if (attach_file(record, handle, path) < 0) return -1;
  reset_header(record);
  return 1;
}

int unlink_qvfile(FileRecord *record) {
  if (record == nullptr) return -1;
  int r = 0;
  if (record->state != FILE_STATE_EMPTY) r = close_and_free(record);
  free_header(record);
  return r;
}

int valid_qvfile(FileRecord *record, const char *ident, short flag) {
  return identify(record, ident, true, flag, nullptr);
}

int valid_qvfile_ext(FileRecord *record, const char *ident, int *code) {
  return identify(record, ident, false, 0, code);
}

int get(FileRecord *record, const char *section, const char *ident, char *buffer) {
  if (record == nullptr || section == nullptr || record->state == FILE_STATE_EMPTY) return 0;
  OpenForReading open(record);
  if (!open.ok() || record->header == nullptr) return 0;
  const std::string_view sec(section);
  const bool identification = sec == kIdentTag;
  const bool raw = sec == kRawSetupTag;
  const bool setup = sec == kSetupTag || sec == kHeaderlessSetupTag;
  if (!identification && !raw && !setup) return 0;
  if (setup) {
    std::memset(QVbin_hdr, 0, sizeof QVbin_hdr);
    bin_para_found = 0;
  }
  QvFileHeader &h = *record->header;
  bool valid = h.mark == QV_MARK_VALID;
  if (!valid && h.mark != QV_MARK_INVALID) valid = check_header(record);
  // Without a valid header the section lengths are unknown: nothing is read.
  if (!valid) return 0;
  const int64_t offset = identification ? h.ident_offset : h.setup_offset;
  const int64_t limit = identification ? h.ident_length : h.setup_length;
  if (limit <= 0 || seek_file(record, offset, 0) < 0) return 0;
  const char *const search_only = reinterpret_cast<const char *>(static_cast<intptr_t>(-1));
  if (raw) {
    if (buffer == nullptr) return static_cast<int>(limit);
    if (buffer == search_only) return 0;
    const int64_t got = read_file(record, buffer, limit);
    return got > 0 ? static_cast<int>(got) : 0;
  }
  if (!find_tag(record, identification ? kIdentTag : sec)) return 0;
  if (buffer == nullptr) return static_cast<int>(limit);
  if (buffer == search_only) return 0;
  std::string skip;
  if (identification && ident != nullptr) skip = std::string("ID : ") + ident;
  return copy_lines(record, setup, skip, limit, offset + limit, buffer);
}

int qv_sections_whole(FileRecord *record) {
  if (record == nullptr || record->state == FILE_STATE_EMPTY) return -1;
  OpenForReading open(record);
  if (!open.ok()) return -1;
  if (record->header == nullptr) reset_header(record);
  if (!check_header(record)) return -1;
  const QvFileHeader &h = *record->header;
  const int64_t size = size_file(record);
  if (size < 0) return -1;
  const int64_t ident_end = static_cast<int64_t>(h.ident_offset) + h.ident_length;
  const int64_t setup_end = static_cast<int64_t>(h.setup_offset) + h.setup_length;
  if (h.ident_length > 0 && ident_end > size) return 0;
  if (h.setup_length > 0 && setup_end > size) return 0;
  return 1;
}

int get_info(FileRecord *record, char *buffer, const char *ident) {
  return get(record, kIdentTag.data(), ident, buffer);
}

int get_body(FileRecord *record, char *buffer) { return get(record, kSetupTag.data(), nullptr, buffer); }

int get_bin_body(FileRecord *record, char *buffer) { return get(record, kRawSetupTag.data(), nullptr, buffer); }

int put(FileRecord *record, const char *section, const char *ident, int code, const char *lines, size_t size) {
  if (record == nullptr || section == nullptr) return -1;
  if (record->state != FILE_STATE_OPEN) {
    record->error = record->state == FILE_STATE_EMPTY ? BFILE_EMPTY : BFILE_CLOSED;
    return -1;
  }
  if (record->header == nullptr) return -1;
  const std::string_view sec(section);
  if (sec == kIdentTag) return put_identification(record, ident, code, lines);
  if (sec == kSetupTag) return put_setup(record, lines, size);
  if (sec == kRawSetupTag) return put_raw_setup(record, lines);
  return -1;
}

int put_info(FileRecord *record, const char *ident, int code, const char *lines) {
  return put(record, kIdentTag.data(), ident, code, lines);
}

int put_body(FileRecord *record, const char *lines, size_t size) {
  return put(record, kSetupTag.data(), nullptr, 0, lines, size);
}

int put_bin_body(FileRecord *record, const char *block) {
  return put(record, kRawSetupTag.data(), nullptr, 0, block);
}

int qv_strcompress(char *line) {
  if (line == nullptr) return 0;
  if (char *semi = std::strchr(line, ';')) *semi = '\0';
  size_t out = 0;
  bool blank = true;  // drops leading blanks and runs
  for (size_t i = 0; line[i] != '\0'; ++i) {
    char c = line[i];
    if (c == '\t' || c == '\n' || c == '\r' || c == '\f') c = ' ';
    if (c == ' ') {
      if (blank) continue;
      blank = true;
    } else {
      blank = false;
    }
    line[out++] = c;
  }
  if (out > 0 && line[out - 1] == ' ') --out;
  line[out] = '\0';
  return static_cast<int>(out);
}

std::vector<const char *> qv_strconvert_ext(const char *list, size_t *bytes) {
  std::vector<const char *> out;
  split_list(list, SIZE_MAX, &out, bytes, nullptr);
  return out;
}

std::vector<const char *> qv_strconvert(const char *list) { return qv_strconvert_ext(list, nullptr); }

int valid_ruk_file(FileRecord *record, const char *pattern) {
  if (record == nullptr || pattern == nullptr || *pattern == '\0') return 0;
  if (record->state == FILE_STATE_EMPTY) return 0;
  OpenForReading open(record);
  if (!open.ok()) return 0;
  if (record->header == nullptr) reset_header(record);
  std::array<uint8_t, QV_HEADER_SIZE> b{};
  if (seek_file(record, 0, 0) != 0 || read_file(record, b.data(), kRukHeaderSize) != kRukHeaderSize) return 0;
  qv_header_from_bytes(record->header, b.data());
  const std::string_view pat(pattern);
  std::array<char, kLineRead> line{};
  bool inside = false;
  for (int bad = 0; bad < kMaxBadReads;) {
    const int n = scan_line(record, line.data());
    if (n == -1) break;
    if (n == -3) ++bad;
    const std::string_view l(line.data());
    if (!inside) {
      inside = l == kIdentTag;
      continue;
    }
    const size_t at = l.find(pat);
    if (at != std::string_view::npos && l.substr(at) == pat) return 1;
  }
  return 0;
}

int get_measure_info(FileRecord *record, void *buffer, int16_t *item_size, int16_t *item_count) {
  if (record == nullptr || record->header == nullptr || record->header->mark != QV_MARK_VALID) return 0;
  const QvFileHeader &h = *record->header;
  if (item_size != nullptr) *item_size = h.descr_item_size;
  if (item_count != nullptr) *item_count = h.descr_item_count;
  if (h.descr_item_size <= 0 || h.descr_item_count <= 0) return 0;
  const int bytes = h.descr_item_size * h.descr_item_count;
  if (buffer != nullptr) {
    OpenForReading open(record);
    if (!open.ok() || seek_file(record, h.descr_offset, 0) < 0) return 0;
    if (read_file(record, buffer, bytes) < 0) return 0;
  }
  return bytes;
}
