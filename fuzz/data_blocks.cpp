// The data-block readers on any bytes: as a tagged file (header loaded by the
// identification check, then the info walks and block reads for a few keys)
// and as a memory image with the header its first 42 bytes give.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/scratch.h"
#include "support/File.h"
#include "support/Qv_file.h"
#include "support/Qv_file_blocks.h"

namespace {
const char kIdent[] = "\x04TRQ Data File\x04";
constexpr uint32_t kMaxLength = 1 << 20;
constexpr uint32_t kKeys[] = {0, 1, 2, 7, 0xFFFFFFFF};

void walk_file(FileRecord *r) {
  const QvFileHeader &h = *r->header;
  if (h.block_length > kMaxLength) return;
  std::vector<uint8_t> dest(h.block_length);
  std::vector<uint8_t> ext(h.word19);
  for (uint32_t key : kKeys) {
    int64_t next = get_data_block(r, key, 0, nullptr, nullptr, dest.data());
    if (next > 0) get_data_block(r, key, next, nullptr, nullptr, dest.data());
    get_extended_data_block(r, key, 0, nullptr, nullptr, dest.data(), ext.data());
  }
  std::vector<uint16_t> types(16);
  std::vector<int16_t> descrs(16);
  std::vector<uint32_t> lengths(16);
  std::vector<uint8_t> exts(16 * static_cast<size_t>(h.word19));
  uint32_t count = 0, common = 0;
  get_data_info(r, types.data(), descrs.data(), lengths.data(), 16, &count, &common);
  get_extended_data_info(r, types.data(), descrs.data(), lengths.data(), exts.data(), 16, &count, &common);
}

void walk_image(const uint8_t *data, size_t size) {
  if (size < QV_HEADER_SIZE) return;
  QvFileHeader h{};
  qv_header_from_bytes(&h, data);
  if (h.block_length > kMaxLength) return;
  std::vector<uint8_t> dest(h.block_length);
  for (uint32_t key : kKeys) {
    const int64_t next =
        get_data_block_from_buffer(data, static_cast<int64_t>(size), &h, key, 0, nullptr, nullptr, dest.data());
    if (next > 0)
      get_data_block_from_buffer(data, static_cast<int64_t>(size), &h, key, next, nullptr, nullptr, dest.data());
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  walk_image(data, size);
  if (!fuzzing::write_scratch(data, size)) return 0;
  const std::string &path = fuzzing::scratch_path();
  FileRecord r{};
  create_empty_file(&r);
  if (open_qvfile(&r, path.c_str(), nullptr) == 1 && valid_qvfile(&r, kIdent, 0) > 0) walk_file(&r);
  unlink_qvfile(&r);
  return 0;
}
