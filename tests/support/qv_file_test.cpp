#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win/files.h"
#include "support/File.h"
#include "support/Qv_file.h"
#include "tests/support/string_lists.h"
#include "tests/testsupport/testsupport.h"

namespace {
using platform::files::Fault;
using platform::files::Op;

const char kIdent[] = "\x04TRQ Setup File\x04";
constexpr int kCode = 104 << 4;

using testsupport::list;
using testsupport::strings;

// Makes the header's words sum to 0x55AA again after a change.
void fix_checksum(std::string &b) {
  b[40] = b[41] = 0;
  const uint16_t sum = qv_header_word_sum(reinterpret_cast<const uint8_t *>(b.data()));
  const auto c = static_cast<uint16_t>(0x55AA - sum);
  b[40] = static_cast<char>(c & 0xFF);
  b[41] = static_cast<char>(c >> 8);
}

class QvFile : public ::testing::Test {
 protected:
  void SetUp() override { create_empty_file(&rec); }
  void TearDown() override {
    platform::files::set_fault_hook({});
    unlink_qvfile(&rec);
  }

  // Writes a setup file the way the application saves one.
  std::string save(const std::string &name, const std::string &info, const std::string &body) {
    const std::string p = dir.file(name);
    FileRecord w{};
    create_empty_file(&w);
    EXPECT_EQ(create_qvfile(&w, p.c_str(), nullptr), 1);
    EXPECT_EQ(put_info(&w, kIdent, kCode, info.data()), 0);
    EXPECT_GE(end_file(&w), 0);
    EXPECT_EQ(put_body(&w, body.data(), body.size()), 0);
    EXPECT_EQ(unlink_qvfile(&w), 0);
    return p;
  }

  // A section read the way the application reads one: the size, then exactly
  // that many bytes.
  std::vector<std::string> read_info(int *result = nullptr) { return read_section(true, result); }
  std::vector<std::string> read_body(int *result = nullptr) { return read_section(false, result); }
  std::vector<std::string> read_section(bool info, int *result) {
    const int size = info ? get_info(&rec, nullptr, kIdent) : get_body(&rec, nullptr);
    if (result != nullptr) *result = 0;
    if (size <= 0) return {};
    last_buffer.assign(static_cast<size_t>(size), '#');
    const int r = info ? get_info(&rec, last_buffer.data(), kIdent) : get_body(&rec, last_buffer.data());
    if (result != nullptr) *result = r;
    return strings(last_buffer);
  }

  testsupport::TempDir dir;
  FileRecord rec{};
  std::vector<char> last_buffer;
};

const std::string kInfo = list({"TITLE : run", "VERSION : 1", "CONTENTS : hello", "more"});
const std::string kBody = list({"A = 1", "B = 2"});

TEST_F(QvFile, WritesTheHandComputedBytes) {
  const std::string p = save("run.set", kInfo, kBody);
  const unsigned char header[QV_HEADER_SIZE] = {
      0x8f, 0x06,                          // revision 15, module-type code 104
      0x2a, 0x00, 0x00, 0x00, 0x86, 0x00,  // identification at 42, 134 bytes
      0xb0, 0x00, 0x00, 0x00, 0x22, 0x00,  // setup at 176, 34 bytes
      0xb0, 0x00, 0x00, 0x00, 0x00, 0x00,  // data blocks at the setup offset, none
      0x00, 0x00, 0x00, 0x00,              // block length
      0xb0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // description
      0x55, 0x55,                          // mark
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // extended count, word 19
      0xe4, 0xf6,                          // 0x55AA - 0x5EC6
  };
  const std::string want = std::string(reinterpret_cast<const char *>(header), sizeof header) +
                           "*IDENTIFICATION\r\n"
                           "  ID        : \x04TRQ Setup File\x04\r\n"
                           "  Title     : run\r\n"
                           "  Version   : 1\r\n"
                           "  Contents  : hello\r\n"
                           "              more\r\n"
                           "*END\r\n\r\n"
                           "*SETUP\r\n"
                           "  A = 1\r\n"
                           "  B = 2\r\n"
                           "*END\r\n\r\n";
  const std::string got = testsupport::read_file(p);
  EXPECT_EQ(got, want);
  EXPECT_EQ(qv_header_word_sum(reinterpret_cast<const uint8_t *>(got.data())), 0x55AA);
}

TEST_F(QvFile, ReadsBackWhatWasWritten) {
  const std::string p = save("run.set", list({"TITLE : a   b\tc", "AUTHOR : me", "CONTENTS : x", "TITLE : y"}), kBody);
  ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
  EXPECT_EQ(rec.state, FILE_STATE_CLOSED);
  EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  int code = -1;
  EXPECT_EQ(valid_qvfile_ext(&rec, kIdent, &code), 15);
  EXPECT_EQ(code, 104);
  EXPECT_EQ(valid_qvfile(&rec, "\x04KMV Setup File\x04", 0), 0);

  // The identifier's own line is left out; lines come back compressed; after
  // the contents every line is a continuation, whatever its key.
  int result = 0;
  EXPECT_EQ(read_info(&result),
            (std::vector<std::string>{"Title : a b c", "Author : me", "Contents : x", "TITLE : y"}));
  EXPECT_EQ(result, 14 + 12 + 13 + 10 + 1);
  EXPECT_EQ(read_body(&result), (std::vector<std::string>{"A = 1", "B = 2"}));
  EXPECT_EQ(result, 6 + 6 + 1);
  EXPECT_EQ(get_body(&rec, nullptr), 34);  // the size query gives the header's length
  EXPECT_EQ(rec.state, FILE_STATE_CLOSED);  // reopened and closed again by each read

  // Without an identifier no line is left out.
  const int size = get_info(&rec, nullptr, nullptr);
  std::vector<char> buf(static_cast<size_t>(size));
  get_info(&rec, buf.data(), nullptr);
  EXPECT_EQ(strings(buf).front(), std::string("ID : ") + kIdent);
  // A search alone.
  EXPECT_EQ(get_body(&rec, reinterpret_cast<char *>(static_cast<intptr_t>(-1))), 0);
}

TEST_F(QvFile, AnyChangedHeaderByteInvalidates) {
  const std::string p = save("run.set", kInfo, kBody);
  const std::string good = testsupport::read_file(p);
  for (int i = 0; i < QV_HEADER_SIZE; ++i) {
    SCOPED_TRACE(i);
    std::string bad = good;
    bad[static_cast<size_t>(i)] = static_cast<char>(bad[static_cast<size_t>(i)] ^ 0x5A);
    const std::string q = dir.write("bad.set", bad);
    create_empty_file(&rec);
    ASSERT_EQ(open_qvfile(&rec, q.c_str(), nullptr), 1);
    EXPECT_EQ(valid_qvfile(&rec, kIdent, 1), 0);
    EXPECT_EQ(get_body(&rec, nullptr), 0);
    unlink_qvfile(&rec);
  }
}

TEST_F(QvFile, RefusesTruncatedEmptyAndRandomFiles) {
  const std::string good = testsupport::read_file(save("run.set", kInfo, kBody));
  struct Case {
    const char *what;
    std::string content;
    int code;   // the record's code after the identification test
    int whole;  // qv_sections_whole: -1 no valid header, 0 cut
  };
  const Case cases[] = {
      {"empty", "", BFILE_EOF, -1},
      {"41 bytes", good.substr(0, 41), BFILE_EOF, -1},
      {"header only", good.substr(0, 42), BFILE_EOF, 0},
      {"cut in the identification", good.substr(0, 60), BFILE_EOF, 0},
      {"random", std::string(300, '\x7b'), BFILE_CLOSED, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string q = dir.write("t.set", c.content);
    create_empty_file(&rec);
    ASSERT_EQ(open_qvfile(&rec, q.c_str(), nullptr), 1);
    EXPECT_EQ(qv_sections_whole(&rec), c.whole);
    EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 0);
    EXPECT_EQ(rec.error, c.code);
    EXPECT_TRUE(read_info().empty());
    EXPECT_TRUE(read_body().empty());
    unlink_qvfile(&rec);
  }
  // Cut inside the setup section: identified, the body stops where the file does.
  const std::string q = dir.write("cut.set", good.substr(0, good.size() - 12));
  create_empty_file(&rec);
  ASSERT_EQ(open_qvfile(&rec, q.c_str(), nullptr), 1);
  EXPECT_EQ(qv_sections_whole(&rec), 0);
  EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  EXPECT_EQ(read_body(), (std::vector<std::string>{"A = 1", "B ="}));
  unlink_qvfile(&rec);
  // The whole file, and one with bytes behind its sections, hold every byte.
  for (const std::string &content : {good, good + "data behind"}) {
    create_empty_file(&rec);
    ASSERT_EQ(open_qvfile(&rec, dir.write("w.set", content).c_str(), nullptr), 1);
    EXPECT_EQ(qv_sections_whole(&rec), 1);
    unlink_qvfile(&rec);
  }
}

TEST_F(QvFile, OversizedLinesAndLengthsStayInTheBuffer) {
  // Lines longer than one read arrive whole, each once, in both sections.
  const std::string l300(300, 'a'), l400(400, 'b'), l5000(5000, 'c');
  const std::string p = save("long.set", list({"TITLE : run", "CONTENTS : " + l400}), list({l300, l400, l5000, "end"}));
  ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
  ASSERT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  EXPECT_EQ(read_body(), (std::vector<std::string>{l300, l400, l5000, "end"}));
  EXPECT_EQ(read_info(), (std::vector<std::string>{"Title : run", "Contents : " + l400}));
  unlink_qvfile(&rec);

  // A header that claims more than the file holds, and a line with no end:
  // the copy keeps to the size the query gave.
  std::string crafted = testsupport::read_file(save("x.set", kInfo, kBody));
  crafted[12] = '\xff';
  crafted[13] = '\xff';  // setup length 65535
  fix_checksum(crafted);
  crafted.resize(crafted.size() - 8);  // no "*END"
  crafted += "  " + std::string(100000, 'z');
  const std::string q = dir.write("crafted.set", crafted);
  create_empty_file(&rec);
  ASSERT_EQ(open_qvfile(&rec, q.c_str(), nullptr), 1);
  ASSERT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  int result = 0;
  const auto lines = read_body(&result);
  EXPECT_EQ(get_body(&rec, nullptr), 65535);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "A = 1");
  EXPECT_LE(result, 65536);
}

TEST_F(QvFile, BinaryParameterBlock) {
  // The list, then "BIN_PARA_BEGIN:", NUL, i32 length, the bytes.
  const std::string data = "0123456789ABCDEFGH";
  std::string block = std::string("BIN_PARA_BEGIN:") + '\0' + std::string("\x12\x00\x00\x00", 4) + data;
  const std::string p = save("bin.set", kInfo, kBody + block);
  const std::string file = testsupport::read_file(p);
  EXPECT_NE(file.find("*END\r\n\r\n" + block + "\r\n*END\r\n\r\n"), std::string::npos);

  ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
  ASSERT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  int result = 0;
  const auto lines = read_body(&result);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
            (std::vector<std::string>{"A = 1", "B = 2", "BIN_PARA_BEGIN:"}));
  // The lines, then the raw rest of the section from "BIN_PARA_BEGIN:" on.
  const std::string raw = block + "\r\n*END\r\n\r\n";
  EXPECT_EQ(result, 6 + 6 + static_cast<int>(raw.size()) + 1);
  EXPECT_EQ(std::string(last_buffer.data() + 12, raw.size()), raw);
  EXPECT_EQ(std::memcmp(QVbin_hdr, data.data(), 14), 0);
  EXPECT_EQ(bin_para_found, 0x33323130);
  // The next setup read without a block clears them.
  unlink_qvfile(&rec);
  create_empty_file(&rec);
  ASSERT_EQ(open_qvfile(&rec, save("plain.set", kInfo, kBody).c_str(), nullptr), 1);
  read_body();
  EXPECT_EQ(bin_para_found, 0);
}

TEST_F(QvFile, BlockLookStaysInsideTheCallersBytes) {
  // Lists in allocations of their exact size: looking further would be seen
  // by the address sanitizer; the block is written only when it lies within.
  const std::string p = dir.file("exact.set");
  int code = 0;
  auto write_body = [&](const std::string &bytes, size_t size) {
    std::vector<char> exact(bytes.begin(), bytes.end());
    create_empty_file(&rec);
    EXPECT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
    EXPECT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), 0);
    const int r = put_body(&rec, exact.data(), size);
    code = rec.error;
    unlink_qvfile(&rec);
    return r;
  };
  EXPECT_EQ(write_body(kBody, 0), 0);
  EXPECT_EQ(write_body(kBody, kBody.size()), 0);
  std::string block = kBody + "BIN_PARA_BEGIN:" + '\0' + std::string("\x08\x00\x00\x00", 4) + "12345678";
  EXPECT_EQ(write_body(block, 0), 0);  // no size: the list alone
  EXPECT_EQ(testsupport::read_file(p).find("BIN_PARA"), std::string::npos);
  EXPECT_EQ(write_body(block, block.size()), 0);
  EXPECT_NE(testsupport::read_file(p).find("12345678\r\n*END"), std::string::npos);
  // A length that reaches past the caller's bytes, a list without its end.
  EXPECT_EQ(write_body(block.substr(0, block.size() - 1), block.size() - 1), -1);
  EXPECT_EQ(code, BFILE_OVERFLOW);
  EXPECT_EQ(write_body(std::string("abc", 3), 3), -1);
  EXPECT_EQ(code, BFILE_OVERFLOW);
}

TEST_F(QvFile, FailedWritesAreReported) {
  // A full disk: nothing is reported as saved.
  ASSERT_EQ(create_qvfile(&rec, "/dev/full", nullptr), 1);
  EXPECT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), -1);
  EXPECT_EQ(rec.error, BFILE_WRITE);
  EXPECT_EQ(put_body(&rec, kBody.data()), -1);
  EXPECT_EQ(rec.error, BFILE_WRITE);
  unlink_qvfile(&rec);

  // The n-th write of the body fails; its -1 never reaches the section length.
  const std::string p = dir.file("half.set");
  for (int nth = 1; nth <= 5; ++nth) {  // four section lines, then the header
    SCOPED_TRACE(nth);
    create_empty_file(&rec);
    ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
    ASSERT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), 0);
    int writes = 0;
    platform::files::set_fault_hook([&](Op op, int, int64_t) {
      Fault f;
      f.fail = op == Op::write && ++writes == nth;
      return f;
    });
    EXPECT_EQ(put_body(&rec, kBody.data()), -1);
    EXPECT_EQ(rec.error, BFILE_WRITE);
    platform::files::set_fault_hook({});
    unlink_qvfile(&rec);
    // The header on disk still says no setup section was written.
    create_empty_file(&rec);
    ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
    EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
    EXPECT_EQ(get_body(&rec, nullptr), 0);
    unlink_qvfile(&rec);
  }

  create_empty_file(&rec);
  ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
  platform::files::set_fault_hook([](Op op, int, int64_t) {
    Fault f;
    f.fail = op == Op::seek;
    return f;
  });
  EXPECT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), -1);
  EXPECT_EQ(rec.error, BFILE_SEEK);
}

TEST_F(QvFile, SectionsTooLongForTheirFieldsFail) {
  const std::string p = dir.file("big.set");
  std::vector<std::string> many(300, std::string(100, 'c'));
  many.front() = "CONTENTS : " + many.front();
  ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
  EXPECT_EQ(put_info(&rec, kIdent, kCode, list(many).data()), -1);  // 34 000 bytes > 32767
  EXPECT_EQ(rec.error, BFILE_OVERFLOW);
  unlink_qvfile(&rec);

  create_empty_file(&rec);
  ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
  ASSERT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), 0);
  const std::vector<std::string> body(700, std::string(100, 'b'));
  EXPECT_EQ(put_body(&rec, list(body).data()), -1);  // 72 000 bytes > 65535
  EXPECT_EQ(rec.error, BFILE_OVERFLOW);
}

TEST_F(QvFile, EmptySectionsYieldNothing) {
  const std::string p = save("empty.set", list({}), list({}));
  ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
  EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  int result = -1;
  EXPECT_TRUE(read_info(&result).empty());
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(read_body(&result).empty());
  EXPECT_EQ(result, 0);
}

TEST_F(QvFile, InfoOnlyFileHasAValidHeader) {
  const std::string p = dir.file("info.set");
  ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
  ASSERT_EQ(put_info(&rec, kIdent, 0xF680, kInfo.data()), 0);
  unlink_qvfile(&rec);
  const std::string bytes = testsupport::read_file(p);
  EXPECT_EQ(qv_header_word_sum(reinterpret_cast<const uint8_t *>(bytes.data())), 0x55AA);
  EXPECT_EQ(bytes[0], '\x8f');
  EXPECT_EQ(bytes[1], '\xf6');
  EXPECT_EQ(bytes[12], 0);      // setup length 0
  EXPECT_EQ(bytes[38], 15 << 2);  // word 19 from the code's top nibble
}

TEST_F(QvFile, StaleHeaderOfAnEarlierFileIsNeverUsed) {
  const std::string good = save("good.set", kInfo, kBody);
  ASSERT_GE(open_file(&rec, good.c_str()), 0);
  ASSERT_EQ(valid_qvfile(&rec, kIdent, 0), 15);  // the header now carries its mark
  unlink_file(&rec);                             // releases the file, keeps the header
  ASSERT_NE(rec.header, nullptr);
  // The same bytes with a broken checksum: only a stale header would read them.
  std::string broken = testsupport::read_file(good);
  broken[40] = static_cast<char>(broken[40] ^ 1);
  const std::string bad = dir.write("bad.set", broken);
  ASSERT_EQ(open_qvfile(&rec, bad.c_str(), nullptr), 1);
  EXPECT_EQ(get_body(&rec, nullptr), 0);
  EXPECT_EQ(get_info(&rec, nullptr, kIdent), 0);
}

TEST_F(QvFile, FamilyFallback) {
  const char kFamily[] = "\x04LMR DLL Data File\x04";
  struct Case {
    int revision;
    bool lmr_line;
    short flag;
    int want, want_ext;
  };
  const Case cases[] = {
      {15, true, 1, 15, 15}, {15, true, 0, 0, 15}, {15, false, 1, 0, 0}, {0, true, 1, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.revision << c.lmr_line << c.flag);
    const std::string p = dir.file("lmr.dat");
    create_empty_file(&rec);
    ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
    ASSERT_EQ(put_info(&rec, "other", kCode, list({c.lmr_line ? "TITLE : LMR run" : "TITLE : x"}).data()), 0);
    unlink_qvfile(&rec);
    if (c.revision != 15) {  // patch the revision, keeping the checksum
      std::string b = testsupport::read_file(p);
      b[0] = static_cast<char>((b[0] & 0xF0) | c.revision);
      fix_checksum(b);
      dir.write("lmr.dat", b);
    }
    create_empty_file(&rec);
    ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
    EXPECT_EQ(valid_qvfile(&rec, kFamily, c.flag), c.want);
    int code = 0;
    EXPECT_EQ(valid_qvfile_ext(&rec, kFamily, &code), c.want_ext);
    unlink_qvfile(&rec);
  }
}

TEST_F(QvFile, PathsAndStates) {
  const std::string p = save("run.set", kInfo, kBody);
  ASSERT_EQ(open_qvfile(&rec, dir.file("run.txt").c_str(), ".set"), 1);
  EXPECT_EQ(std::string(rec.path), p);
  unlink_qvfile(&rec);
  EXPECT_EQ(rec.header, nullptr);
  EXPECT_EQ(open_qvfile(&rec, dir.file("none").c_str(), ".set"), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  // The new extension would make the path too long.
  const std::string name(FILE_PATH_SIZE - dir.path().size() - 4, 'n');
  const std::string longer = dir.write(name, "x");
  EXPECT_EQ(open_qvfile(&rec, longer.c_str(), ".long"), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_EQ(create_qvfile(&rec, longer.c_str(), ".long"), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  // Empty records read nothing.
  EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 0);
  EXPECT_EQ(get_body(&rec, nullptr), 0);
  EXPECT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), -1);
  EXPECT_EQ(rec.error, BFILE_EMPTY);
}

TEST(QvStrings, CompressAndConvert) {
  struct Case {
    const char *in, *out;
  };
  const Case cases[] = {
      {"  ID        : x", "ID : x"}, {"a;comment", "a"},   {"\ta\r\n", "a"},   {"a\fb", "a b"},
      {"a\vb", "a\vb"},               {"   ", ""},         {" ; x", ""},       {"a  b   c ", "a b c"},
  };
  for (const Case &c : cases) {
    char buf[64];
    std::strcpy(buf, c.in);
    EXPECT_EQ(qv_strcompress(buf), static_cast<int>(std::strlen(c.out))) << c.in;
    EXPECT_STREQ(buf, c.out);
  }
  size_t bytes = 0;
  const std::string l = list({"ab", "c"});
  auto v = qv_strconvert_ext(l.data(), &bytes);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_STREQ(v[1], "c");
  EXPECT_EQ(v[2], nullptr);
  EXPECT_EQ(bytes, 5u);
  const char empty[1] = {'\0'};
  v = qv_strconvert_ext(empty, &bytes);
  ASSERT_EQ(v.size(), 2u);  // one empty string
  EXPECT_STREQ(v[0], "");
}

TEST_F(QvFile, RawSectionAndOlderForms) {
  const std::string p = dir.file("raw.dat");
  ASSERT_EQ(create_qvfile(&rec, p.c_str(), nullptr), 1);
  ASSERT_EQ(put_info(&rec, kIdent, kCode, kInfo.data()), 0);
  const std::string block = std::string("\x05\x00\x00\x00", 4) + "hello";
  EXPECT_EQ(put_bin_body(&rec, block.data()), 0);
  rec.header->descr_item_size = 2;  // a description area as a data writer leaves it
  rec.header->descr_item_count = 3;
  rec.header->descr_offset = 42;
  int16_t size = 0, count = 0;
  EXPECT_EQ(get_measure_info(&rec, nullptr, &size, &count), 6);
  char descr[6];
  EXPECT_EQ(get_measure_info(&rec, descr, &size, &count), 6);
  EXPECT_EQ(std::string(descr, 6), "*IDENT");
  unlink_qvfile(&rec);

  create_empty_file(&rec);
  ASSERT_EQ(open_qvfile(&rec, p.c_str(), nullptr), 1);
  ASSERT_EQ(valid_qvfile(&rec, kIdent, 0), 15);
  const int n = get_bin_body(&rec, nullptr);
  ASSERT_EQ(n, 8 + 5 + 5);
  std::vector<char> buf(static_cast<size_t>(n));
  EXPECT_EQ(get_bin_body(&rec, buf.data()), n);
  EXPECT_EQ(std::string(buf.data(), buf.size()), std::string("*SETUP_\0hello*END\0", 18));
  unlink_qvfile(&rec);

  // The older 26-byte header without checksum.
  const std::string ruk =
      dir.write("old.ruk", std::string(26, '\0') + "*IDENTIFICATION\r\n  Type : RUK file\r\n*END\r\n");
  create_empty_file(&rec);
  ASSERT_EQ(open_qvfile(&rec, ruk.c_str(), nullptr), 1);
  EXPECT_EQ(valid_ruk_file(&rec, "RUK file"), 1);
  EXPECT_EQ(valid_ruk_file(&rec, "RUK"), 0);  // the pattern must end the line
  EXPECT_EQ(valid_qvfile(&rec, kIdent, 0), 0);
}

}  // namespace
