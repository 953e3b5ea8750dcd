#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win/files.h"
#include "support/File.h"
#include "support/Qv_err.h"
#include "support/Qv_file.h"
#include "support/Qv_file_blocks.h"
#include "support/qv_zip.h"
#include "tests/support/zip_fixture.h"
#include "tests/support/string_lists.h"
#include "tests/testsupport/testsupport.h"

namespace {
using platform::files::Fault;
using platform::files::Op;

const char kIdent[] = "\x04TRQ Data File\x04";
constexpr int kCode = 104 << 4;

using testsupport::list;
using testsupport::strings;

std::vector<uint8_t> bytes(const std::string &s) { return {s.begin(), s.end()}; }

// Where the first block of a file with that header goes.
int64_t first_of(const QvFileHeader &h) { return std::max<int64_t>(h.block_offset, h.setup_offset + h.setup_length); }

class QvFileBlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    create_empty_file(&rec);
    path = dir.file("data.dat");
  }
  void TearDown() override {
    platform::files::set_fault_hook({});
    qv_blocks_testing::set_piece_size(0);
    save_abort = load_abort = 0;
    update_zip_progress = update_load_progress = nullptr;
    unlink_qvfile(&rec);
    Clear_GenWrFileErr();  // latched by the failed write of one test
  }

  // A tagged file with its identification and setup sections, left open.
  void make(int code = kCode) {
    ASSERT_EQ(create_qvfile(&rec, path.c_str(), nullptr), 1);
    const std::string info = list({"TITLE : blocks"});
    ASSERT_EQ(put_info(&rec, kIdent, code, info.data()), 0);
    ASSERT_GE(end_file(&rec), 0);
    const std::string body = list(setup_lines);
    ASSERT_EQ(put_body(&rec, body.data(), body.size()), 0);
  }

  std::vector<std::string> body() {
    const int size = get_body(&rec, nullptr);
    if (size <= 0) return {};
    std::vector<char> buf(static_cast<size_t>(size));
    get_body(&rec, buf.data());
    return strings(buf);
  }

  int64_t file_size() { return static_cast<int64_t>(std::filesystem::file_size(path)); }

  // The file opened afresh, as a reader would: its header from the file.
  void reopen() {
    unlink_qvfile(&rec);
    create_empty_file(&rec);
    ASSERT_EQ(open_qvfile(&rec, path.c_str(), nullptr), 1);
    ASSERT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  }

  std::vector<uint8_t> read(uint32_t key, int64_t *next = nullptr, uint16_t *type = nullptr, int64_t start = 0) {
    std::vector<uint8_t> out(rec.header->block_length);
    int16_t descr = 0;
    const int64_t n = get_data_block(&rec, key, start, type, &descr, out.data());
    if (next != nullptr) *next = n;
    if (n < 0) return {};
    return out;
  }

  testsupport::TempDir dir;
  std::string path;
  FileRecord rec{};
  std::vector<std::string> setup_lines = {"MODULE 0", "GAIN_1 F 1.500", "COOLER_1 B 1"};
};

TEST_F(QvFileBlocks, SetupSectionIsNeverOverwrittenNorParsed) {
  make();
  const QvFileHeader h = *rec.header;
  ASSERT_EQ(h.block_offset, h.setup_offset) << "as the container leaves it";
  ASSERT_EQ(h.descr_offset, h.setup_offset);
  const int64_t setup_end = h.setup_offset + h.setup_length;
  const std::string descr = "DESCRIPTION-AREA";  // 4 items of 4 bytes
  ASSERT_EQ(put_measure_info(&rec, descr.data(), 4, 4, 8), 16);
  EXPECT_EQ(rec.header->descr_offset, setup_end);
  EXPECT_EQ(rec.header->block_offset, setup_end + 16);
  ASSERT_EQ(put_data_block(&rec, 7, 2, 0, "eightbyt"), setup_end + 16 + 22 + 8);
  EXPECT_EQ(state_file(&rec), FILE_STATE_CLOSED) << "put_data_block leaves the file closed";
  EXPECT_EQ(body(), setup_lines);
  std::array<char, 16> d{};
  int16_t size = 0, count = 0;
  EXPECT_EQ(get_measure_info(&rec, d.data(), &size, &count), 16);
  EXPECT_EQ(std::string(d.data(), 16), descr);
  EXPECT_EQ(read(7), bytes("eightbyt"));
  // A walk that would start inside the setup section is refused.
  int64_t next = 0;
  read(7, &next, nullptr, h.setup_offset);
  EXPECT_EQ(next, -1);

  // Without a description the first block goes behind the setup section too.
  unlink_qvfile(&rec);
  create_empty_file(&rec);
  make();
  ASSERT_EQ(put_long_data_block(&rec, 1, 2, 5, 0, "first"), setup_end + 22 + 5);
  EXPECT_EQ(rec.header->block_offset, setup_end);
  EXPECT_EQ(body(), setup_lines);
  reopen();
  EXPECT_EQ(read(1), bytes("first"));
}

TEST_F(QvFileBlocks, DescriptionSizeLimits) {
  make();
  std::vector<char> big(0x10000, 'd');
  ASSERT_EQ(put_measure_info(&rec, big.data(), 255, 257, 4), 0xFFFF);
  const int64_t after = file_size();
  EXPECT_EQ(put_measure_info(&rec, big.data(), 256, 256, 4), -1) << "more than 0xFFFF bytes is refused, not cut";
  EXPECT_EQ(rec.error, BFILE_OVERFLOW);
  EXPECT_EQ(put_measure_info(&rec, big.data(), -1, 4, 4), -1);
  EXPECT_EQ(file_size(), after);
  EXPECT_EQ(rec.header->descr_item_size, 255);

  // Once blocks follow, only a description of the same size may be written again.
  ASSERT_EQ(put_measure_info(&rec, big.data(), 2, 2, 4), 4);
  ASSERT_GT(put_data_block(&rec, 1, 2, 0, "blk1"), 0);
  EXPECT_EQ(put_measure_info(&rec, big.data(), 2, 3, 4), -1);
  ASSERT_EQ(put_measure_info(&rec, "NEW!", 4, 1, 4), 4);
  EXPECT_EQ(read(1), bytes("blk1"));
  std::array<char, 4> d{};
  EXPECT_EQ(get_measure_info(&rec, d.data(), nullptr, nullptr), 4);
  EXPECT_EQ(std::string(d.data(), 4), "NEW!");
}

TEST_F(QvFileBlocks, TypesAsStoredAndReadBack) {
  make();
  struct Case {
    const char *what;
    bool long_block;
    uint16_t type;
    uint16_t stored;
  };
  const std::vector<Case> cases = {
      {"1 becomes 3", false, 1, 3},
      {"17 stays for an ordinary block", false, 17, 17},
      {"no packing bit without packing", false, 0x1001, 3},
      {"long: 1 becomes 3", true, 1, 3},
      {"long: 17 becomes 19", true, 17, 19},
      {"long: nibble 8 becomes 9", true, 0x28, 0x29},
      {"long: nibble A becomes B", true, 0x3A, 0x3B},
      {"long: others stay", true, 4, 4},
      {"long packed: 1 becomes 3, still packed", true, 0x1001, 0x1003},
  };
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, 6), 0);
  uint32_t key = 100;
  for (const Case &c : cases) {
    const std::string data = "data" + std::to_string(key - 100);
    const int64_t end = c.long_block ? put_long_data_block(&rec, key, c.type, 6, 0, data.data())
                                     : put_data_block(&rec, key, c.type, 0, data.data());
    ASSERT_GT(end, 0) << c.what;
    ++key;
  }
  reopen();
  key = 100;
  for (const Case &c : cases) {
    uint16_t type = 0;
    std::vector<uint8_t> got = read(key, nullptr, &type);
    got.resize(5);
    EXPECT_EQ(got, bytes("data" + std::to_string(key - 100))) << c.what;
    EXPECT_EQ(type, c.stored) << c.what;
    ++key;
  }
}

TEST_F(QvFileBlocks, PackedBlocksRoundTrip) {
  make();
  const std::string data = ziptest::sample(200000);
  const int64_t start = file_size();
  const int64_t end = put_long_data_block(&rec, 5, 0x1002, static_cast<uint32_t>(data.size()), 3, data.data());
  ASSERT_GT(end, 0);
  EXPECT_LT(end - start, static_cast<int64_t>(data.size()) / 4) << "stored packed";
  EXPECT_EQ(end, file_size());
  EXPECT_EQ(rec.header->block_length, data.size());
  const std::string tail = "plain behind";
  ASSERT_GT(put_long_data_block(&rec, 6, 2, static_cast<uint32_t>(tail.size()), 0, tail.data()), 0);
  reopen();
  uint16_t type = 0;
  int64_t next = 0;
  EXPECT_EQ(read(5, &next, &type), bytes(data));
  EXPECT_EQ(type, 0x1002);
  EXPECT_EQ(next, end);
  std::vector<uint8_t> second = read(6);
  second.resize(tail.size());
  EXPECT_EQ(second, bytes(tail));

  // The stored archive is an ordinary one.
  std::vector<uint16_t> types(2);
  std::vector<int16_t> descrs(2);
  std::vector<uint32_t> lengths(2);
  uint32_t count = 0, common = 0;
  EXPECT_EQ(get_data_info(&rec, types.data(), descrs.data(), lengths.data(), 2, &count, &common), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(lengths[0], data.size());
  EXPECT_EQ(descrs[0], 3);
  EXPECT_EQ(common, data.size());
}

TEST_F(QvFileBlocks, BlockCountRuleAt0x7FFF) {
  make();
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, 1), 0);
  for (uint32_t i = 0; i < 32767; ++i) {
    const char b = static_cast<char>(i);
    ASSERT_GT(put_data_block(&rec, i, 2, 0, &b), 0) << i;
  }
  EXPECT_EQ(rec.header->block_count, 0x7FFF);
  EXPECT_EQ(rec.header->ext_block_count, 32767u);
  const char last = 'L';
  ASSERT_GT(put_data_block(&rec, 32767, 2, 0, &last), 0);
  EXPECT_EQ(rec.header->block_count, 0x7FFF) << "the short count stays";
  EXPECT_EQ(rec.header->ext_block_count, 32768u) << "only the extended one grows";
  reopen();
  EXPECT_EQ(read(32767), bytes("L")) << "the walk reaches the 32768th block";
  EXPECT_EQ(read(1000), std::vector<uint8_t>{static_cast<uint8_t>(1000 & 0xFF)});
  uint32_t count = 0;
  EXPECT_EQ(get_data_info(&rec, nullptr, nullptr, nullptr, 0, &count, nullptr), 0);
  EXPECT_EQ(count, 32768u);

  // The same rule in a memory image.
  QvFileHeader h = *rec.header;
  h.block_count = 0x7FFE;
  h.ext_block_count = 0x7FFE;
  std::vector<uint8_t> img(static_cast<size_t>(first_of(h)) + 3 * 23);
  int64_t pos = first_of(h);
  for (int i = 0; i < 3; ++i) pos = put_data_block_to_buffer(img.data() + pos, &h, pos, 1, 2, 0, "x");
  EXPECT_EQ(h.block_count, 0x7FFF);
  EXPECT_EQ(h.ext_block_count, 0x8001u);
}

TEST_F(QvFileBlocks, LongBlocksInPiecesWithProgressAndAbort) {
  qv_blocks_testing::set_piece_size(4096);
  make();
  const std::string data = ziptest::noise(10000);
  static std::vector<double> seen;
  seen.clear();
  update_zip_progress = [] { seen.push_back(ZipPartDone); };
  const int64_t first_end = put_long_data_block(&rec, 1, 2, 10000, 0, data.data());
  ASSERT_GT(first_end, 0);
  EXPECT_EQ(seen, (std::vector<double>{4096 / 10000.0, 8192 / 10000.0, 1.0}));

  // An aborted block leaves nothing behind; the next one chains on.
  update_zip_progress = [] { save_abort = 1; };
  EXPECT_EQ(put_long_data_block(&rec, 2, 2, 10000, 0, data.data()), 0);
  EXPECT_EQ(file_size(), first_end);
  EXPECT_EQ(rec.header->ext_block_count, 1u);
  save_abort = 0;
  update_zip_progress = nullptr;
  ASSERT_GT(put_long_data_block(&rec, 3, 2, 100, 0, data.data()), 0);

  reopen();
  seen.clear();
  update_load_progress = [] { seen.push_back(LoadPartDone); };
  EXPECT_EQ(read(1), bytes(data));
  EXPECT_EQ(seen, (std::vector<double>{4096 / 10000.0, 8192 / 10000.0, 1.0}));
  std::vector<uint8_t> third = read(3);
  third.resize(100);
  EXPECT_EQ(third, bytes(data.substr(0, 100)));
  update_load_progress = [] { load_abort = 1; };
  int64_t next = 0;
  read(1, &next);
  EXPECT_EQ(next, -1) << "an aborted read is a failure";
}

TEST_F(QvFileBlocks, PiecesStartAtThePieceSize) {
  qv_blocks_testing::set_piece_size(4096);
  make();
  const std::string data = ziptest::noise(4097);
  static int calls;
  update_zip_progress = [] { ++calls; };
  for (const auto &[length, pieces] : std::vector<std::pair<uint32_t, int>>{{4095, 0}, {4096, 1}, {4097, 2}}) {
    calls = 0;
    ASSERT_GT(put_long_data_block(&rec, length, 2, length, 0, data.data()), 0);
    EXPECT_EQ(calls, pieces) << length;
  }
  update_load_progress = [] { ++calls; };
  for (const auto &[length, pieces] : std::vector<std::pair<uint32_t, int>>{{4095, 0}, {4096, 1}, {4097, 2}}) {
    calls = 0;
    std::vector<uint8_t> got = read(length);
    ASSERT_FALSE(got.empty());
    got.resize(length);
    EXPECT_EQ(got, bytes(data.substr(0, length)));
    EXPECT_EQ(calls, pieces) << length;
  }
}

TEST_F(QvFileBlocks, FailedWriteIsNotCounted) {
  make();
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, 64), 0);
  const std::string data(64, 'a');
  ASSERT_GT(put_data_block(&rec, 1, 2, 0, data.data()), 0);
  const int64_t size = file_size();
  platform::files::set_fault_hook([](Op op, int, int64_t count) {
    Fault f;
    f.fail = op == Op::write && count == 64;
    return f;
  });
  EXPECT_EQ(put_data_block(&rec, 2, 2, 0, data.data()), 0);
  platform::files::set_fault_hook({});
  EXPECT_EQ(file_size(), size);
  EXPECT_EQ(rec.header->ext_block_count, 1u);
  ASSERT_GT(put_data_block(&rec, 3, 2, 0, std::string(64, 'c').data()), 0);
  reopen();
  EXPECT_EQ(read(3), bytes(std::string(64, 'c')));
  uint32_t count = 0;
  EXPECT_EQ(get_data_info(&rec, nullptr, nullptr, nullptr, 0, &count, nullptr), 0);
  EXPECT_EQ(count, 2u);
}

TEST_F(QvFileBlocks, MemoryImageAndFileShareTheFormat) {
  make();
  ASSERT_EQ(put_measure_info(&rec, "DESC", 2, 2, 12), 4);
  unlink_qvfile(&rec);
  create_empty_file(&rec);
  std::string file = testsupport::read_file(path);
  QvFileHeader h{};
  qv_header_from_bytes(&h, reinterpret_cast<const uint8_t *>(file.data()));
  std::vector<uint8_t> img(file.begin(), file.end());
  img.resize(img.size() + 3 * 34 + 40);
  int64_t pos = static_cast<int64_t>(file.size());
  pos = put_data_block_to_buffer(img.data() + pos, &h, pos, 10, 1, 5, "twelve bytes");
  pos = put_data_block_to_buffer(img.data() + pos, &h, pos, 11, 2, 6, "another dozn");
  pos = put_long_data_block_to_buffer(img.data() + pos, &h, pos, 12, 17, 40, 7, std::string(40, 'L').data());
  ASSERT_GT(pos, 0);
  img.resize(static_cast<size_t>(pos));
  EXPECT_EQ(h.block_length, 40u);
  EXPECT_EQ(h.ext_block_count, 3u);

  std::vector<uint8_t> out(40);
  uint16_t type = 0;
  int16_t descr = 0;
  EXPECT_EQ(get_data_block_from_buffer(img.data(), pos, &h, 11, 0, &type, &descr, out.data()), pos - 22 - 40);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "another dozn");
  EXPECT_EQ(descr, 6);
  EXPECT_EQ(get_data_block_from_buffer(img.data(), pos, &h, 12, 0, &type, nullptr, out.data()), pos);
  EXPECT_EQ(type, 19);
  EXPECT_EQ(get_data_block_from_buffer(img.data(), pos, &h, 13, 0, &type, nullptr, out.data()), -1);

  // The image with its header, as a file: the file reader agrees.
  std::array<uint8_t, QV_HEADER_SIZE> hb{};
  qv_header_to_bytes(&h, hb.data());
  std::memcpy(img.data(), hb.data(), hb.size());
  testsupport::TempDir d2;
  path = d2.write("image.dat", std::string(img.begin(), img.end()));
  reopen();
  std::vector<uint8_t> first = read(10, nullptr, &type);
  first.resize(12);
  EXPECT_EQ(first, bytes("twelve bytes"));
  EXPECT_EQ(type, 3);
}

// A memory image of a file with three blocks of 8 bytes, to be damaged.
struct Image {
  QvFileHeader h{};
  std::vector<uint8_t> img;
  int64_t at[3] = {};
  Image() {
    h.kind = 0x068F;
    h.ident_offset = 42;
    h.setup_offset = 42;
    h.setup_length = 10;
    h.block_offset = 42;
    h.descr_offset = 42;
    h.block_length = 8;
    h.mark = QV_MARK_VALID;
    img.resize(52 + 3 * 30);
    int64_t pos = 52;
    for (int i = 0; i < 3; ++i) {
      at[i] = pos;
      pos = put_data_block_to_buffer(img.data() + pos, &h, pos, static_cast<uint32_t>(i), 2, 0, "12345678");
    }
  }
  void set32(int64_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i) img[static_cast<size_t>(pos) + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  }
  int64_t get(uint32_t key) {
    std::array<uint8_t, 8> out{};
    return get_data_block_from_buffer(img.data(), static_cast<int64_t>(img.size()), &h, key, 0, nullptr, nullptr,
                                      out.data());
  }
};

TEST_F(QvFileBlocks, DamagedChainsEndTheWalk) {
  struct Case {
    const char *what;
    int block;
    int field;  // offset in the block header
    int64_t value;
    uint32_t key = 2;
  };
  const std::vector<Case> cases = {
      {"next backwards", 0, 6, 52},
      {"next onto itself", 1, 6, 82},
      {"next before its data", 0, 6, 60},
      {"next past the end", 0, 6, 100000},
      {"data inside the header", 0, 2, 60},
      {"data past the end", 0, 2, 100000},
      {"longer than the header's block length", 0, 6, 52 + 22 + 9, 0},
  };
  for (const Case &c : cases) {
    Image im;
    ASSERT_GT(im.get(c.key), 0);
    im.set32(im.at[c.block] + c.field, static_cast<uint32_t>(c.value));
    EXPECT_EQ(im.get(c.key), -1) << c.what;
  }
  Image more;
  more.h.ext_block_count = 5;
  EXPECT_EQ(more.get(7), -1) << "a count beyond the blocks walks off the image";
  Image cyclic;
  cyclic.h.kind = 0x068A;  // revision 10: no count bound, by number
  cyclic.set32(cyclic.at[2] + 6, 52);
  EXPECT_EQ(cyclic.get(99), -1) << "a cycle ends";
  EXPECT_EQ(get_data_block_from_buffer(nullptr, 10, &more.h, 0, 0, nullptr, nullptr, nullptr), -1);
  QvFileHeader invalid = more.h;
  invalid.mark = QV_MARK_INVALID;
  EXPECT_EQ(get_data_block_from_buffer(more.img.data(), 100, &invalid, 0, 0, nullptr, nullptr, nullptr), -1);

  // The same damage in a file.
  make();
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, 8), 0);
  const int64_t a = put_data_block(&rec, 1, 2, 0, "12345678");
  ASSERT_GT(put_data_block(&rec, 2, 2, 0, "87654321"), 0);
  const int fd = open(path.c_str(), O_WRONLY);
  const uint32_t back = 10;
  ASSERT_EQ(pwrite(fd, &back, 4, a + 6), 4);
  close(fd);
  reopen();
  int64_t next = 0;
  read(2, &next);
  EXPECT_EQ(next, -1);
  EXPECT_EQ(get_data_info(&rec, nullptr, nullptr, nullptr, 0, nullptr, nullptr), -1);
}

TEST_F(QvFileBlocks, RevisionTenIsSearchedByNumber) {
  Image im;
  im.h.kind = 0x068A;
  for (int i = 0; i < 3; ++i) {
    im.img[static_cast<size_t>(im.at[i])] = static_cast<uint8_t>(20 + i);  // block numbers
    im.img[static_cast<size_t>(im.at[i]) + 1] = 0;
  }
  std::array<uint8_t, 8> out{};
  EXPECT_EQ(get_data_block_from_buffer(im.img.data(), static_cast<int64_t>(im.img.size()), &im.h, 21, 0, nullptr,
                                       nullptr, out.data()),
            im.at[2]);
  EXPECT_EQ(im.get(1), -1) << "values are no keys here";
}

TEST_F(QvFileBlocks, OffsetsBeyondFourGiBInASparseFile) {
  make();
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, 16), 0);
  ASSERT_EQ(close_file(&rec), 0);
  // By hand: a first block whose data lies at 5 GiB (the file is sparse).
  const int64_t pos = first_of(*rec.header);
  const int64_t data = (int64_t{5} << 30) + 3;
  const int64_t next = data + 16;
  QvBlockHeader b{};
  b.number = static_cast<uint16_t>((data >> 32) | ((next >> 32) << 8));
  b.data_offset = static_cast<uint32_t>(data);
  b.next_offset = static_cast<uint32_t>(next);
  b.type = 2;
  b.value = 77;
  b.length = 16;
  std::array<uint8_t, QV_BLOCK_HEADER_SIZE> hb{};
  qv_block_to_bytes(&b, hb.data());
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_EQ(pwrite(fd, hb.data(), hb.size(), pos), 22);
  ASSERT_EQ(pwrite(fd, "far away data!!!", 16, data), 16);
  close(fd);
  rec.header->ext_block_count = 1;
  rec.header->block_count = 1;
  rec.header->block_offset = static_cast<int32_t>(pos);
  ASSERT_GE(reopen_file(&rec), 0);
  std::array<uint8_t, QV_HEADER_SIZE> h{};
  prepare_hdr_chksum(rec.header);
  qv_header_to_bytes(rec.header, h.data());
  ASSERT_EQ(seek_file(&rec, 0, 0), 0);
  ASSERT_EQ(write_file(&rec, h.data(), QV_HEADER_SIZE), QV_HEADER_SIZE);
  close_file(&rec);

  // The writer appends behind it with 40-bit offsets, the reader follows them.
  ASSERT_EQ(put_data_block(&rec, 78, 2, 0, "second, farther!"), next + 22 + 16);
  reopen();
  int64_t got = 0;
  EXPECT_EQ(read(77, &got), bytes("far away data!!!"));
  EXPECT_EQ(got, next);
  EXPECT_EQ(read(78, &got, nullptr, next), bytes("second, farther!"));
  EXPECT_EQ(got, next + 38);
  uint32_t count = 0;
  EXPECT_EQ(get_data_info(&rec, nullptr, nullptr, nullptr, 0, &count, nullptr), 0);
  EXPECT_EQ(count, 2u);
}

TEST_F(QvFileBlocks, ExtendedBlocksAndInfoFlags) {
  make(0x3680);  // code bits 12-15: 3 -> a 12-byte extension per block
  ASSERT_EQ(rec.header->word19, 12);
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, 4), 0);
  const std::vector<uint16_t> types = {0x14, 0x02, 0x0C};
  for (size_t i = 0; i < types.size(); ++i) {
    const std::string ext = "extension-" + std::to_string(i) + "!";
    ASSERT_GT(put_extended_data_block(&rec, static_cast<uint32_t>(i), types[i], static_cast<int16_t>(i), "data",
                                      ext.data()),
              0);
  }
  reopen();
  std::array<char, 12> ext{};
  std::array<char, 4> data{};
  ASSERT_GT(get_extended_data_block(&rec, 1, 0, nullptr, nullptr, data.data(), ext.data()), 0);
  EXPECT_EQ(std::string(ext.data(), 12), "extension-1!");
  EXPECT_EQ(std::string(data.data(), 4), "data");
  EXPECT_EQ(get_extended_data_block(&rec, 1, 0, nullptr, nullptr, data.data(), nullptr), -1);

  std::array<uint16_t, 3> t{};
  std::array<int16_t, 3> d{};
  std::array<uint32_t, 3> l{};
  std::array<char, 2 * 12 + 1> exts{};
  exts.back() = '#';
  uint32_t count = 0, common = 0;
  const int flags = get_extended_data_info(&rec, t.data(), d.data(), l.data(), exts.data(), 2, &count, &common);
  EXPECT_EQ(flags, QV_INFO_NIBBLE_4_5 | QV_INFO_NIBBLE_HIGH);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(common, 4u);
  EXPECT_EQ(t[1], 2);
  EXPECT_EQ(t[2], 0) << "only as many as the arrays hold";
  EXPECT_EQ(std::string(exts.data() + 12, 12), "extension-1!");
  EXPECT_EQ(exts.back(), '#');
}

TEST_F(QvFileBlocks, RefusalsWithoutAValidHeader) {
  make();
  ASSERT_EQ(put_measure_info(&rec, nullptr, 0, 0, QV_MAX_BLOCK_LENGTH + 1), 0);
  EXPECT_EQ(put_data_block(&rec, 1, 2, 0, "x"), 0) << "over 128 MiB";
  EXPECT_EQ(put_extended_data_block(&rec, 1, 2, 0, "x", nullptr), 0);
  QvFileHeader saved = *rec.header;
  rec.header->mark = QV_MARK_INVALID;
  EXPECT_EQ(put_long_data_block(&rec, 1, 2, 1, 0, "x"), 0);
  EXPECT_EQ(put_measure_info(&rec, nullptr, 0, 0, 1), -1);
  EXPECT_EQ(get_data_block(&rec, 1, 0, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(put_data_block_to_buffer(nullptr, rec.header, 100, 1, 2, 0, "x"), 0);
  *rec.header = saved;
  EXPECT_EQ(put_long_data_block(&rec, 1, 2, 1, 0, nullptr), 0);
  EXPECT_EQ(put_data_block(nullptr, 1, 2, 0, "x"), 0);
  std::vector<uint8_t> img(200);
  EXPECT_EQ(put_data_block_to_buffer(img.data(), rec.header, saved.setup_offset, 1, 2, 0, "x"), 0)
      << "inside the setup section";
}

TEST_F(QvFileBlocks, CompressBufferIntoTheFile) {
  make();
  const std::string data = ziptest::sample(50000);
  const int64_t at = tell_file(&rec);
  const int64_t n = compress_buf_and_write_to_file(&rec, data.data(), static_cast<uint32_t>(data.size()));
  ASSERT_GT(n, 0);
  const std::string file = testsupport::read_file(path);
  ASSERT_EQ(static_cast<int64_t>(file.size()), at + n);
  const std::string zip = file.substr(static_cast<size_t>(at));
  UnzipHandle u = nullptr;
  ASSERT_EQ(UnzipOpenBuffer(&u, zip.data(), zip.size(), nullptr), ZIP_OK);
  UnzipEntry e{};
  std::snprintf(e.name, sizeof e.name, "data_block");
  ASSERT_EQ(UnzipFindItemA(u, &e, 0), ZIP_OK);
  std::string out(data.size(), '\0');
  EXPECT_EQ(UnzipItemToBuffer(u, out.data(), out.size(), &e), ZIP_OK);
  UnzipClose(u);
  EXPECT_EQ(out, data);
  close_file(&rec);
  EXPECT_EQ(compress_buf_and_write_to_file(&rec, data.data(), 10), -1) << "a closed file has no position";
}

}  // namespace
