// Data blocks of the tagged file container, in files and in memory images.
#define _FILE_OFFSET_BITS 64  // 64-bit positions in the 32-bit build too
#include "support/Qv_file_blocks.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "support/qv_zip.h"

static_assert(sizeof(off_t) == 8, "file positions must be 64 bits wide");
static_assert(QV_BLOCK_HEADER_SIZE == 2 + 4 + 4 + 2 + 2 + 4 + 4, "the block header's fields");

namespace {
constexpr char kEntryName[] = "data_block";
constexpr int64_t kDefaultPiece = 0x8000000;  // 128 MiB
int64_t piece_size = kDefaultPiece;
constexpr int64_t kMaxOffset = (int64_t{1} << 40) - 1;  // 32 bits plus the high byte
constexpr uint32_t kMaxCount = 0xFFFFFFFFu;
constexpr int16_t kShortCountFull = 0x7FFF;
// Room of a memory archive for one entry around its deflated data: local
// header, descriptor, central record and end record, plus the name twice.
constexpr size_t kArchiveOverhead = 30 + 16 + 46 + 22 + 2 * (sizeof kEntryName - 1);

enum class TypeRules { basic, long_file, long_image };

uint16_t stored_type(uint16_t type, TypeRules rules, bool packed) {
  uint16_t t = type & static_cast<uint16_t>(~QV_BLOCK_PACKED);
  if (t == 1) {
    t = 3;
  } else if (rules != TypeRules::basic && t == 17) {
    t = 19;
  } else if (rules == TypeRules::long_file && ((t & 0xF) == 0x8 || (t & 0xF) == 0xA)) {
    t = static_cast<uint16_t>(t | 1);
  }
  return packed ? static_cast<uint16_t>(t | QV_BLOCK_PACKED) : t;
}

bool valid(const QvFileHeader *h) { return h != nullptr && h->mark == QV_MARK_VALID; }

int64_t u32(int32_t v) { return static_cast<int64_t>(static_cast<uint32_t>(v)); }

// Where the setup section ends: nothing of this object lies before it.
int64_t setup_end(const QvFileHeader &h) { return u32(h.setup_offset) + h.setup_length; }

int64_t first_block(const QvFileHeader &h) { return std::max(u32(h.block_offset), setup_end(h)); }

int64_t description_start(const QvFileHeader &h) { return std::max(u32(h.descr_offset), setup_end(h)); }

void count_block(QvFileHeader *h) {
  if (h->block_count == kShortCountFull) {
    ++h->ext_block_count;
  } else {
    ++h->block_count;
    h->ext_block_count = static_cast<uint32_t>(h->block_count);
  }
}

bool first_of_chain(const QvFileHeader &h) { return h.ext_block_count == 0 && h.block_count == 0; }

// The block header of a block at pos; 40-bit offsets carry their high bytes
// in the number field.
QvBlockHeader make_block(int64_t data, int64_t next, uint16_t type, int16_t descr, uint32_t value, uint32_t length) {
  QvBlockHeader b{};
  b.number = static_cast<uint16_t>(((data >> 32) & 0xFF) | (((next >> 32) & 0xFF) << 8));
  b.data_offset = static_cast<uint32_t>(data);
  b.next_offset = static_cast<uint32_t>(next);
  b.type = type;
  b.descr_number = descr;
  b.value = value;
  b.length = length;
  return b;
}

struct Offsets {
  int64_t data;
  int64_t next;
};

Offsets offsets_of(const QvBlockHeader &b, bool numbered) {
  if (numbered) return {b.data_offset, b.next_offset};
  return {static_cast<int64_t>(b.data_offset) | (static_cast<int64_t>(b.number & 0xFF) << 32),
          static_cast<int64_t>(b.next_offset) | (static_cast<int64_t>(b.number >> 8) << 32)};
}

bool numbered(const QvFileHeader &h) { return (h.kind & 0xF) == QV_REVISION_NUMBERED; }

// A block header read at pos within a source of size bytes: its data lies
// behind it (and behind skip bytes of extension) and the next block behind
// that, so every step moves on by a header at least.
bool sound(const Offsets &o, int64_t pos, int64_t skip, int64_t size) {
  return o.data >= pos + QV_BLOCK_HEADER_SIZE + skip && o.next >= o.data && o.next <= size;
}

// Bytes of a block's data: the header's block length in revision-10 files,
// else the span up to the next block; never beyond the header's block length.
bool data_span(const QvFileHeader &h, const Offsets &o, int64_t size, int64_t *n) {
  *n = numbered(h) ? static_cast<int64_t>(h.block_length) : o.next - o.data;
  return *n >= 0 && *n <= static_cast<int64_t>(h.block_length) && o.data + *n <= size;
}

// Keeps a record open for one operation. A closed record is reopened; it is
// closed again at the end when reopened, or always with close_after.
class Reopened {
 public:
  Reopened(FileRecord *r, bool close_after) : r_(r) {
    if (r_ == nullptr || r_->state == FILE_STATE_EMPTY) return;
    const bool was_open = r_->state == FILE_STATE_OPEN;
    ok_ = reopen_file(r_) >= 0;
    close_ = ok_ && (close_after || !was_open);
  }
  ~Reopened() {
    if (!close_) return;
    const int code = r_->error;
    if (close_file(r_) == 0) r_->error = code;
  }
  Reopened(const Reopened &) = delete;
  Reopened &operator=(const Reopened &) = delete;
  bool ok() const { return ok_; }

 private:
  FileRecord *r_;
  bool ok_ = false;
  bool close_ = false;
};

bool read_at(FileRecord *r, int64_t at, void *buf, int64_t n) {
  return seek_file(r, at, 0) == at && read_file(r, buf, n) == n;
}

bool write_header(FileRecord *r) {
  prepare_hdr_chksum(r->header);
  std::array<uint8_t, QV_HEADER_SIZE> b{};
  qv_header_to_bytes(r->header, b.data());
  return seek_file(r, 0, 0) == 0 && write_file(r, b.data(), QV_HEADER_SIZE) == QV_HEADER_SIZE;
}

// Cuts what a failed or aborted block left behind the chain.
void cut(FileRecord *r, int64_t size) {
  if (ftruncate(r->handle, static_cast<off_t>(size)) != 0) r->error = BFILE_WRITE;
}

// An archive in the writer's own memory.
struct Packed {
  void *base = nullptr;
  uint32_t length = 0;
  ZipMappingHandle mapping = nullptr;
  int code = ZIP_OK;
  Packed() = default;
  Packed(const Packed &) = delete;
  Packed &operator=(const Packed &) = delete;
  ~Packed() {
    if (mapping != nullptr) ZipCloseMapping(mapping);
  }
};

void pack(const void *data, uint32_t length, Packed *out) {
  ZipHandle z = nullptr;
  const size_t capacity = static_cast<size_t>(compressBound(length)) + kArchiveOverhead;
  out->code = ZipCreateBuffer(&z, nullptr, capacity, nullptr);
  if (out->code != ZIP_OK) return;
  out->code = ZipAddBufferA(z, kEntryName, data, length);
  if (out->code == ZIP_OK) out->code = ZipGetMemory(z, &out->base, &out->length, &out->mapping);
  if (out->code != ZIP_OK) ZipClose(z);
}

// Writes length bytes; from the piece size on in pieces with progress and
// abort. False on a failure or an abort.
bool write_pieces(FileRecord *r, const uint8_t *data, int64_t length) {
  if (length < piece_size) return write_file(r, data, length) == length;
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(piece_size, length - done);
    if (write_file(r, data + done, n) != n) return false;
    done += n;
    ZipPartDone = static_cast<double>(done) / static_cast<double>(length);
    if (update_zip_progress != nullptr) update_zip_progress();
    if (save_abort != 0) return false;
  }
  return true;
}

bool read_pieces(FileRecord *r, uint8_t *out, int64_t length) {
  if (length < piece_size) return read_file(r, out, length) == length;
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(piece_size, length - done);
    if (read_file(r, out + done, n) != n) return false;
    done += n;
    LoadPartDone = static_cast<double>(done) / static_cast<double>(length);
    if (update_load_progress != nullptr) update_load_progress();
    if (load_abort != 0) return false;
  }
  return true;
}

// One block appended to the file.
struct NewBlock {
  uint32_t value;
  uint16_t type;
  int16_t descr;
  uint32_t length;  // unpacked
  const void *data;
  const void *extension;
  uint16_t extension_length;
  TypeRules rules;
  bool grow_length;  // the header's block length becomes the larger one
};

int64_t append_block(FileRecord *r, const NewBlock &nb) {
  if (r == nullptr || !valid(r->header)) return 0;
  QvFileHeader &h = *r->header;
  if ((nb.data == nullptr && nb.length > 0) || (nb.extension == nullptr && nb.extension_length > 0)) return 0;
  if (h.ext_block_count == kMaxCount) return 0;
  Packed packed;
  const bool want_pack = nb.rules == TypeRules::long_file && (nb.type & QV_BLOCK_PACKED) != 0;
  if (want_pack) {
    pack(nb.data, nb.length, &packed);
    if (packed.code == ZIP_ERR_ABORT) return 0;  // stopped, not failed: no fallback
  }
  const bool is_packed = want_pack && packed.code == ZIP_OK;
  const uint8_t *bytes = static_cast<const uint8_t *>(is_packed ? packed.base : nb.data);
  const int64_t stored = is_packed ? packed.length : nb.length;

  Reopened open(r, true);
  if (!open.ok()) return 0;
  const int64_t pos = end_file(r);
  if (pos < first_block(h) || (first_of_chain(h) && pos > 0xFFFFFFFF)) return 0;
  const int64_t data = pos + QV_BLOCK_HEADER_SIZE + nb.extension_length;
  const int64_t next = data + stored;
  if (next > kMaxOffset) return 0;
  const QvBlockHeader b = make_block(data, next, stored_type(nb.type, nb.rules, is_packed), nb.descr, nb.value, nb.length);
  std::array<uint8_t, QV_BLOCK_HEADER_SIZE> hb{};
  qv_block_to_bytes(&b, hb.data());
  bool ok = write_file(r, hb.data(), QV_BLOCK_HEADER_SIZE) == QV_BLOCK_HEADER_SIZE;
  if (ok && nb.extension_length > 0) ok = write_file(r, nb.extension, nb.extension_length) == nb.extension_length;
  if (ok && stored > 0) ok = is_packed ? write_file(r, bytes, stored) == stored : write_pieces(r, bytes, stored);
  if (!ok) {
    cut(r, pos);  // a failed or aborted block is not left behind
    return 0;
  }
  const QvFileHeader before = h;
  if (first_of_chain(h)) h.block_offset = static_cast<int32_t>(static_cast<uint32_t>(pos));
  count_block(&h);
  if (nb.grow_length) h.block_length = std::max(h.block_length, nb.length);
  if (!write_header(r)) {
    h = before;
    cut(r, pos);
    return 0;
  }
  return next;
}

int64_t image_block(void *destination, QvFileHeader *header, int64_t position, uint32_t value, uint16_t type,
                    uint32_t length, int16_t descr, const void *data, TypeRules rules, bool grow_length) {
  if (destination == nullptr || !valid(header) || (data == nullptr && length > 0)) return 0;
  if (header->ext_block_count == kMaxCount || position < first_block(*header)) return 0;
  if (first_of_chain(*header) && position > 0xFFFFFFFF) return 0;
  const int64_t start = position + QV_BLOCK_HEADER_SIZE;
  const int64_t next = start + length;
  if (next > kMaxOffset) return 0;
  const QvBlockHeader b = make_block(start, next, stored_type(type, rules, false), descr, value, length);
  auto *out = static_cast<uint8_t *>(destination);
  qv_block_to_bytes(&b, out);
  if (length > 0) std::memcpy(out + QV_BLOCK_HEADER_SIZE, data, length);
  if (first_of_chain(*header)) header->block_offset = static_cast<int32_t>(static_cast<uint32_t>(position));
  count_block(header);
  if (grow_length) header->block_length = std::max(header->block_length, length);
  prepare_hdr_chksum(header);
  return next;
}

// The file reader behind get_data_block and get_extended_data_block.
int64_t read_block(FileRecord *r, uint32_t key, int64_t start, uint16_t *type, int16_t *descr, void *destination,
                   void *extension) {
  if (r == nullptr || !valid(r->header)) return -1;
  const QvFileHeader &h = *r->header;
  Reopened open(r, false);
  if (!open.ok()) return -1;
  const int64_t size = size_file(r);
  if (size < 0) return -1;
  const bool by_number = numbered(h);
  const int64_t skip = extension != nullptr ? h.word19 : 0;
  int64_t pos = start < 1 ? first_block(h) : start;
  if (pos < first_block(h)) return -1;
  for (uint64_t k = 0; by_number || k < h.ext_block_count; ++k) {
    std::array<uint8_t, QV_BLOCK_HEADER_SIZE> hb{};
    if (pos + QV_BLOCK_HEADER_SIZE > size || !read_at(r, pos, hb.data(), QV_BLOCK_HEADER_SIZE)) return -1;
    QvBlockHeader b{};
    qv_block_from_bytes(&b, hb.data());
    const Offsets o = offsets_of(b, by_number);
    if (!sound(o, pos, skip, size)) return -1;
    const bool match = by_number ? b.number == (key & 0xFFFF) : b.value == key;
    if (!match) {
      pos = o.next;
      continue;
    }
    if (skip > 0 && !read_at(r, pos + QV_BLOCK_HEADER_SIZE, extension, skip)) return -1;
    if ((b.type & QV_BLOCK_PACKED) != 0) {
      const int64_t stored = o.next - o.data;
      std::vector<uint8_t> zip;
      try {
        zip.resize(static_cast<size_t>(stored));
      } catch (const std::bad_alloc &) {
        return -1;
      }
      if (!read_at(r, o.data, zip.data(), stored)) return -1;
      UnzipHandle u = nullptr;
      if (UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr) != ZIP_OK) return -1;
      UnzipEntry e{};
      std::memcpy(e.name, kEntryName, sizeof kEntryName);
      const uint32_t room = std::min(b.length, h.block_length);
      int code = UnzipFindItemA(u, &e, 0);
      if (code == ZIP_OK && e.uncompressed_size != b.length) code = ZIP_ERR_CORRUPT;
      if (code == ZIP_OK && destination == nullptr && room > 0) code = ZIP_ERR_ARGS;
      if (code == ZIP_OK) code = UnzipItemToBuffer(u, destination, room, &e);
      UnzipClose(u);
      if (code != ZIP_OK) return -1;
    } else {
      int64_t n = 0;
      if (!data_span(h, o, size, &n)) return -1;
      if (n > 0 && (destination == nullptr || seek_file(r, o.data, 0) != o.data ||
                    !read_pieces(r, static_cast<uint8_t *>(destination), n)))
        return -1;
    }
    if (type != nullptr) *type = b.type;
    if (descr != nullptr) *descr = b.descr_number;
    return o.next;
  }
  return -1;
}

int read_info(FileRecord *r, uint16_t *types, int16_t *descrs, uint32_t *lengths, void *extensions, uint32_t capacity,
              uint32_t *count, uint32_t *block_length) {
  if (r == nullptr || r->header == nullptr) return -1;
  Reopened open(r, false);
  if (!open.ok()) return -1;
  std::array<uint8_t, QV_HEADER_SIZE> raw{};
  if (!read_at(r, 0, raw.data(), QV_HEADER_SIZE) || qv_header_word_sum(raw.data()) != QV_HEADER_SUM) return -1;
  QvFileHeader h{};
  qv_header_from_bytes(&h, raw.data());
  if (!valid(&h)) return -1;
  *r->header = h;
  const int64_t size = size_file(r);
  if (size < 0) return -1;
  const bool by_number = numbered(h);
  const int64_t skip = extensions != nullptr ? h.word19 : 0;
  int flags = 0;
  uint32_t n = 0;
  for (int64_t pos = first_block(h); by_number ? pos + QV_BLOCK_HEADER_SIZE <= size : n < h.ext_block_count; ++n) {
    std::array<uint8_t, QV_BLOCK_HEADER_SIZE> hb{};
    if (n == kMaxCount || !read_at(r, pos, hb.data(), QV_BLOCK_HEADER_SIZE)) return -1;
    QvBlockHeader b{};
    qv_block_from_bytes(&b, hb.data());
    const Offsets o = offsets_of(b, by_number);
    if (!sound(o, pos, skip, size)) return -1;
    if (n < capacity) {
      if (types != nullptr) types[n] = b.type;
      if (descrs != nullptr) descrs[n] = b.descr_number;
      if (lengths != nullptr) lengths[n] = b.length;
      if (skip > 0 &&
          !read_at(r, pos + QV_BLOCK_HEADER_SIZE, static_cast<uint8_t *>(extensions) + static_cast<size_t>(n) * skip, skip))
        return -1;
    }
    const int nibble = b.type & 0xF;
    if (nibble == 4 || nibble == 5) flags |= QV_INFO_NIBBLE_4_5;
    if (nibble > 9) flags |= QV_INFO_NIBBLE_HIGH;
    pos = o.next;
  }
  if (count != nullptr) *count = n;
  if (block_length != nullptr) *block_length = h.block_length;
  return flags;
}
}  // namespace

void qv_block_to_bytes(const QvBlockHeader *b, uint8_t out[QV_BLOCK_HEADER_SIZE]) {
  auto put16 = [out](int at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto put32 = [out](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put16(0, b->number);
  put32(2, b->data_offset);
  put32(6, b->next_offset);
  put16(10, b->type);
  put16(12, static_cast<uint16_t>(b->descr_number));
  put32(14, b->value);
  put32(18, b->length);
}

void qv_block_from_bytes(QvBlockHeader *b, const uint8_t in[QV_BLOCK_HEADER_SIZE]) {
  auto get16 = [in](int at) { return static_cast<uint16_t>(in[at] | (in[at + 1] << 8)); };
  auto get32 = [in](int at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | in[at + i];
    return v;
  };
  b->number = get16(0);
  b->data_offset = get32(2);
  b->next_offset = get32(6);
  b->type = get16(10);
  b->descr_number = static_cast<int16_t>(get16(12));
  b->value = get32(14);
  b->length = get32(18);
}

int put_measure_info(FileRecord *record, const void *data, int16_t item_size, int16_t item_count,
                     uint32_t block_length) {
  if (record == nullptr || !valid(record->header) || item_size < 0 || item_count < 0) return -1;
  QvFileHeader &h = *record->header;
  const int32_t bytes = static_cast<int32_t>(item_size) * item_count;
  if (bytes > QV_MAX_DESCRIPTION) {
    record->error = BFILE_OVERFLOW;
    return -1;
  }
  if (bytes > 0 && data == nullptr) return -1;
  const bool blocks = !first_of_chain(h);
  // Behind a description the blocks follow: its size is fixed once they exist.
  if (blocks && bytes != static_cast<int32_t>(h.descr_item_size) * h.descr_item_count) return -1;
  Reopened open(record, false);
  if (!open.ok()) return -1;
  const int64_t at = description_start(h);
  if (bytes > 0 && (seek_file(record, at, 0) != at || write_file(record, data, bytes) != bytes)) return -1;
  const QvFileHeader before = h;
  h.descr_offset = static_cast<int32_t>(static_cast<uint32_t>(at));
  h.descr_item_size = item_size;
  h.descr_item_count = item_count;
  h.block_length = block_length;
  if (!blocks) {
    h.block_offset = static_cast<int32_t>(static_cast<uint32_t>(at + bytes));
    cut(record, at + bytes);  // no block follows yet: nothing may
  }
  if (!write_header(record)) {
    h = before;
    return -1;
  }
  return bytes;
}

int64_t put_data_block(FileRecord *record, uint32_t value, uint16_t type, int16_t descr_number, const void *data) {
  if (record == nullptr || !valid(record->header) || record->header->block_length > QV_MAX_BLOCK_LENGTH) return 0;
  return append_block(record, {value, type, descr_number, record->header->block_length, data, nullptr, 0,
                               TypeRules::basic, false});
}

int64_t put_long_data_block(FileRecord *record, uint32_t value, uint16_t type, uint32_t length, int16_t descr_number,
                            const void *data) {
  return append_block(record, {value, type, descr_number, length, data, nullptr, 0, TypeRules::long_file, true});
}

int64_t put_extended_data_block(FileRecord *record, uint32_t value, uint16_t type, int16_t descr_number,
                                const void *data, const void *extension) {
  if (record == nullptr || !valid(record->header) || record->header->block_length > QV_MAX_BLOCK_LENGTH) return 0;
  return append_block(record, {value, type, descr_number, record->header->block_length, data, extension,
                               record->header->word19, TypeRules::basic, false});
}

int64_t put_data_block_to_buffer(void *destination, QvFileHeader *header, int64_t position, uint32_t value,
                                 uint16_t type, int16_t descr_number, const void *data) {
  if (!valid(header)) return 0;
  return image_block(destination, header, position, value, type, header->block_length, descr_number, data,
                     TypeRules::basic, false);
}

int64_t put_long_data_block_to_buffer(void *destination, QvFileHeader *header, int64_t position, uint32_t value,
                                      uint16_t type, uint32_t length, int16_t descr_number, const void *data) {
  return image_block(destination, header, position, value, type, length, descr_number, data, TypeRules::long_image,
                     true);
}

int64_t get_data_block_from_buffer(const void *image, int64_t image_size, const QvFileHeader *header, uint32_t key,
                                   int64_t start, uint16_t *type, int16_t *descr_number, void *destination) {
  if (image == nullptr || image_size < 0 || !valid(header)) return -1;
  const QvFileHeader &h = *header;
  const auto *img = static_cast<const uint8_t *>(image);
  const bool by_number = numbered(h);
  int64_t pos = start < 1 ? first_block(h) : start;
  if (pos < first_block(h)) return -1;
  for (uint64_t k = 0; by_number || k < h.ext_block_count; ++k) {
    if (pos + QV_BLOCK_HEADER_SIZE > image_size) return -1;
    QvBlockHeader b{};
    qv_block_from_bytes(&b, img + pos);
    const Offsets o = offsets_of(b, by_number);
    if (!sound(o, pos, 0, image_size)) return -1;
    if (by_number ? b.number != (key & 0xFFFF) : b.value != key) {
      pos = o.next;
      continue;
    }
    int64_t n = 0;
    if (!data_span(h, o, image_size, &n) || (n > 0 && destination == nullptr)) return -1;
    if (n > 0) std::memcpy(destination, img + o.data, static_cast<size_t>(n));
    if (type != nullptr) *type = b.type;
    if (descr_number != nullptr) *descr_number = b.descr_number;
    return o.next;
  }
  return -1;
}

int64_t get_data_block(FileRecord *record, uint32_t key, int64_t start, uint16_t *type, int16_t *descr_number,
                       void *destination) {
  return read_block(record, key, start, type, descr_number, destination, nullptr);
}

int64_t get_extended_data_block(FileRecord *record, uint32_t key, int64_t start, uint16_t *type,
                                int16_t *descr_number, void *destination, void *extension) {
  if (record == nullptr || !valid(record->header)) return -1;
  if (record->header->word19 > 0 && extension == nullptr) return -1;
  return read_block(record, key, start, type, descr_number, destination,
                    record->header->word19 > 0 ? extension : nullptr);
}

int get_data_info(FileRecord *record, uint16_t *types, int16_t *descr_numbers, uint32_t *lengths,
                  uint32_t capacity, uint32_t *count, uint32_t *block_length) {
  return read_info(record, types, descr_numbers, lengths, nullptr, capacity, count, block_length);
}

int get_extended_data_info(FileRecord *record, uint16_t *types, int16_t *descr_numbers, uint32_t *lengths,
                           void *extensions, uint32_t capacity, uint32_t *count, uint32_t *block_length) {
  if (record == nullptr || record->header == nullptr) return -1;
  return read_info(record, types, descr_numbers, lengths, extensions, capacity, count, block_length);
}

int64_t compress_buf_and_write_to_file(FileRecord *record, const void *data, uint32_t length) {
  if (record == nullptr || record->state != FILE_STATE_OPEN || (data == nullptr && length > 0)) return -1;
  Packed packed;
  pack(data, length, &packed);
  if (packed.code != ZIP_OK) return -1;
  if (write_file(record, packed.base, packed.length) != packed.length) return -1;
  return packed.length;
}

namespace qv_blocks_testing {
int64_t set_piece_size(int64_t bytes) {
  const int64_t old = piece_size;
  piece_size = bytes > 0 ? bytes : kDefaultPiece;
  return old;
}
}  // namespace qv_blocks_testing
