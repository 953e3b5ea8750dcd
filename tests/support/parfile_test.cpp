#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/Util_fun_parfile.h"
#include "tests/testsupport/testsupport.h"

namespace {

// A parameter file in a temporary directory, open for binary reading.
class ParFile : public testing::Test {
 protected:
  void TearDown() override {
    close();
    std::free(section_.keywords);
  }

  FILE *open(const std::string &content) {
    close();
    path_ = dir_.write("test.ini", content);
    stream_ = std::fopen(path_.c_str(), "rb");
    return stream_;
  }
  void close() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
  }

  ParFileSection &section(const char *pattern, const std::vector<const char *> &names) {
    std::free(section_.keywords);
    section_ = ParFileSection{};
    section_.pattern = pattern;
    EXPECT_EQ(create_parset(&section_, static_cast<int32_t>(names.size()), names.data()), 0);
    return section_;
  }

  // The line that starts at pos.
  std::string line_at(int32_t pos) {
    std::array<char, PARFILE_MAX_LINE + 2> line{};
    std::fseek(stream_, pos, SEEK_SET);
    return read_string(stream_, line.data(), PARFILE_MAX_LINE) > 0 ? line.data() : "<none>";
  }

  testsupport::TempDir dir_;
  std::string path_;
  FILE *stream_ = nullptr;
  ParFileSection section_{};
};

struct ReadResult {
  int result;
  std::string text;
  bool operator==(const ReadResult &o) const { return result == o.result && (result <= 0 || text == o.text); }
};
std::ostream &operator<<(std::ostream &os, const ReadResult &r) { return os << r.result << " \"" << r.text << "\""; }

std::vector<ReadResult> read_all(FILE *f) {
  std::vector<ReadResult> out;
  std::array<char, PARFILE_MAX_LINE + 2> line{};
  for (int guard = 0; guard < 20; ++guard) {
    const int r = read_string(f, line.data(), PARFILE_MAX_LINE);
    out.push_back({r, r > 0 ? line.data() : ""});
    if (r <= 0) break;
  }
  return out;
}

TEST_F(ParFile, LineEndsReadAlike) {
  struct Case {
    const char *name;
    std::string content;
    std::vector<ReadResult> lines;
  };
  const std::vector<Case> cases = {
      {"LF", "ab\ncd", {{3, "ab"}, {3, "cd"}, {0, ""}}},
      {"CR LF", "ab\r\ncd\r\n", {{3, "ab"}, {3, "cd"}, {0, ""}}},
      {"Ctrl-Z", "ab\x1a" "cd\x1a", {{3, "ab"}, {3, "cd"}, {0, ""}}},
      {"lone CR takes the next byte", "ab\rXcd\n", {{3, "ab"}, {3, "cd"}, {0, ""}}},
      {"CR as the last byte", "ab\r", {{3, "ab"}, {0, ""}}},
      {"empty lines", "\n\nx", {{1, ""}, {1, ""}, {2, "x"}, {0, ""}}},
      {"empty file", "", {{0, ""}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(open(c.content), nullptr);
    EXPECT_EQ(read_all(stream_), c.lines);
  }
}

TEST_F(ParFile, LineLengthLimit) {
  struct Case {
    size_t length;
    bool last;  // the file's last line, without a line end
    int result;
  };
  const Case cases[] = {
      {299, false, 300}, {300, false, 301}, {301, false, -4},
      {299, true, 300},  {300, true, 301},  {301, true, -4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << (c.last ? " last" : " mid-file"));
    const std::string longline(c.length, 'k');
    ASSERT_NE(open(c.last ? "a\n" + longline : "a\n" + longline + "\nnext\n"), nullptr);
    std::array<char, PARFILE_MAX_LINE + 2> line{};
    ASSERT_EQ(read_string(stream_, line.data(), PARFILE_MAX_LINE), 2);
    EXPECT_EQ(read_string(stream_, line.data(), PARFILE_MAX_LINE), c.result);
    EXPECT_LE(std::strlen(line.data()), size_t{PARFILE_MAX_LINE});
    if (c.result > 0) {
      EXPECT_EQ(line.data(), longline);
      if (!c.last) {
        EXPECT_EQ(read_string(stream_, line.data(), PARFILE_MAX_LINE), 5);
        EXPECT_STREQ(line.data(), "next");
      }
    }
  }
}

TEST_F(ParFile, FileMarkerInTheFirstNonEmptyLine) {
  struct Case {
    const char *name;
    std::string content;
    int result;
  };
  const std::vector<Case> cases = {
      {"first line", "KMVUSB configuration\n[KMVUSB_BASE]\n", 0},
      {"after an empty line", "\nKMVUSB\n", 0},
      {"after CR LF empty lines", "\r\n\r\n; kmvusb file\r\n", 0},
      {"lower case in the file", "; kmvusb.ini\n", 0},
      {"later line is not examined", "something\nKMVUSB\n", -2},
      {"blank-only first line counts as non-empty", "   \nKMVUSB\n", -2},
      {"empty file", "", -2},
      {"only empty lines", "\n\n\n", -2},
      {"overlong first line", std::string(301, 'x') + "\nKMVUSB\n", -4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_.write("marker.ini", c.content);
    EXPECT_EQ(check_if_valid(path.c_str(), "KMVUSB"), c.result);
  }
  EXPECT_EQ(check_if_valid(dir_.file("missing.ini").c_str(), "KMVUSB"), -1);
  EXPECT_EQ(check_if_valid(nullptr, "KMVUSB"), -1);
}

TEST_F(ParFile, SectionsAreFoundBySubstringOfTheHeader) {
  ASSERT_NE(open("KMVUSB\n"
                 "KMVUSB_MODULE1 = 3\n"
                 "[KMVUSB_MODULE12]\n"
                 "in12 = 1\n"
                 "  [kmvusb_module1]\n"
                 "in1 = 1\n"
                 "[x] KMVUSB_BASE\n"
                 "inbase = 1\n"),
            nullptr);
  struct Case {
    const char *pattern;
    const char *first_line;  // null: not found
  };
  const Case cases[] = {
      {"KMVUSB_MODULE12", "in12 = 1"},
      {"KMVUSB_MODULE1", "in12 = 1"},  // the earlier [KMVUSB_MODULE12] wins
      {"[KMVUSB_MODULE1]", "in1 = 1"},
      {"KMVUSB_BASE", "inbase = 1"},  // text after ']' counts
      {"KMVUSB_MODULE3", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern);
    ParFileSection s{0, c.pattern, nullptr};
    const int32_t pos = get_section_pos(stream_, &s);
    if (c.first_line == nullptr) {
      EXPECT_EQ(pos, -1);
    } else {
      ASSERT_GT(pos, 0);
      EXPECT_EQ(line_at(pos), c.first_line);
    }
  }
  ParFileSection s{0, "KMVUSB_MODULE1", nullptr};
  EXPECT_EQ(get_section_pos(nullptr, &s), -1);
}

const char kModuleFile[] =
    "KMVUSB test file\n"
    "[KMVUSB_MODULE1]\n"
    "; C1U_P5V = 7\n"
    "  c1u_p5v=1\n"
    "C1U_M5V\t= 1\n"
    "HEXA = 0x10\n"
    "HEXB = 10h\n"
    "HEXC = 0X1f\n"
    "HEXD = ah\n"
    "HEXE = -0x10\n"
    "HEXF = hello\n"
    "DEC = 10\n"
    "NEG = -3\n"
    "SEMI = 5;comment\n"
    "TRAIL = 12abc\n"
    "ALPHA = abc\n"
    "FLT = 2.5e3\n"
    "NAME = some text ; remark\n"
    "TABS =\ta\tb\t ;x\n"
    "EMPTY =\n"
    "EMPTYC = ;c\n"
    "DUP = 1\n"
    "DUP = 2\n"
    "CH = yes\n"
    "NOEQ 5\n"
    "BIG = 99999999999\n"
    "SMALL = -99999999999\n"
    "HUGEF = 1e300\n"
    "UDEC = 4000000000\n"
    "UNEG = -1\n"
    "LONGHEX = 0x123456789\n"
    "[KMVUSB_MODULE2]\n"
    "AFTER = 1\n";

const std::vector<const char *> kModuleKeys = {
    "C1U_P5V", "C1U_M5V", "HEXA",  "HEXB", "HEXC",  "HEXD", "HEXE",  "HEXF",  "DEC",    "NEG",
    "SEMI",    "TRAIL",   "ALPHA", "FLT",  "NAME",  "TABS", "EMPTY", "EMPTYC", "DUP",   "CH",
    "NOEQ",    "BIG",     "SMALL", "HUGEF", "UDEC", "UNEG", "LONGHEX", "AFTER", "ABSENT"};

int32_t key_index(const char *key) {
  for (size_t i = 0; i < kModuleKeys.size(); ++i) {
    if (std::strcmp(kModuleKeys[i], key) == 0) return static_cast<int32_t>(i);
  }
  ADD_FAILURE() << "no key " << key;
  return -1;
}

TEST_F(ParFile, IntegerKeywords) {
  ASSERT_NE(open(kModuleFile), nullptr);
  ParFileSection &s = section("KMVUSB_MODULE1", kModuleKeys);
  const int32_t pos = get_section_pos(stream_, &s);
  ASSERT_GT(pos, 0);
  struct Case {
    const char *key;
    char type;
    int result;
    uint32_t value;  // the 32 bits stored
  };
  const Case cases[] = {
      {"C1U_P5V", 'I', 1, 1},            // blanks before it, lower case in the file
      {"C1U_M5V", 'I', 0, 0xAAAAAAAA},   // a tab belongs to the keyword
      {"HEXA", 'I', 1, 16},
      {"HEXB", 'I', 1, 16},
      {"HEXC", 'B', 1, 31},
      {"HEXD", 'I', 1, 10},
      {"HEXE", 'I', 1, static_cast<uint32_t>(-16)},
      {"HEXF", 'I', 1, 0},  // holds an h, but no hex digits
      {"DEC", 'I', 1, 10},
      {"NEG", 'I', 1, static_cast<uint32_t>(-3)},
      {"SEMI", 'I', 1, 5},
      {"TRAIL", 'I', 1, 12},
      {"ALPHA", 'I', 1, 0},
      {"EMPTY", 'I', 0, 0xAAAAAAAA},  // nothing after '=': as if absent
      {"EMPTYC", 'I', 1, 0},          // ";c" is a word
      {"DUP", 'I', 1, 1},             // the first occurrence wins
      {"NOEQ", 'I', 0, 0xAAAAAAAA},
      {"BIG", 'I', 1, 0x7FFFFFFF},    // saturates at the 32-bit range
      {"SMALL", 'I', 1, 0x80000000},
      {"UDEC", 'U', 1, 4000000000u},
      {"UNEG", 'U', 1, 0xFFFFFFFF},
      {"LONGHEX", 'I', 1, 0xFFFFFFFF},
      {"DEC", 'L', 1, 10},
      {"NEG", 'L', 1, static_cast<uint32_t>(-3)},
      {"AFTER", 'I', 0, 0xAAAAAAAA},  // stands only after the next '['
      {"ABSENT", 'I', 0, 0xAAAAAAAA},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " as " << c.type);
    // Eight bytes of guard: L is a 32-bit destination, nothing beyond it is written.
    std::array<uint32_t, 2> dest{0xAAAAAAAA, 0xBBBBBBBB};
    EXPECT_EQ(get_parameter(stream_, &s, pos, key_index(c.key), dest.data(), c.type), c.result);
    EXPECT_EQ(dest[0], c.value);
    EXPECT_EQ(dest[1], 0xBBBBBBBBu);
  }
}

TEST_F(ParFile, FloatCharTextAndUnknownKeywords) {
  ASSERT_NE(open(kModuleFile), nullptr);
  ParFileSection &s = section("KMVUSB_MODULE1", kModuleKeys);
  const int32_t pos = get_section_pos(stream_, &s);
  ASSERT_GT(pos, 0);

  float f = 0;
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("FLT"), &f, 'F'), 1);
  EXPECT_EQ(f, 2500.0f);
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("SEMI"), &f, 'F'), 1);
  EXPECT_EQ(f, 5.0f);
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("HUGEF"), &f, 'F'), 1);
  EXPECT_TRUE(std::isinf(f));
  double d = 0;
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("FLT"), &d, 'D'), 1);
  EXPECT_EQ(d, 2500.0);
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("HUGEF"), &d, 'D'), 1);
  EXPECT_EQ(d, 1e300);

  char c = 0;
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("CH"), &c, 'C'), 1);
  EXPECT_EQ(c, 'Y');

  struct TextCase {
    const char *key;
    const char *text;
  };
  const TextCase texts[] = {
      {"NAME", "some text"},  // the blank before ';' is cut
      {"TABS", "a\tb\t"},     // tabs are kept, trailing spaces cut
      {"EMPTYC", ""},
      {"SEMI", "5"},
  };
  for (const TextCase &t : texts) {
    SCOPED_TRACE(t.key);
    std::array<char, PARFILE_MAX_LINE + 1> text;
    text.fill('#');
    EXPECT_EQ(get_parameter(stream_, &s, pos, key_index(t.key), text.data(), 'S'), 1);
    EXPECT_STREQ(text.data(), t.text);
  }

  uint32_t untouched = 0xAAAAAAAA;
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("DEC"), &untouched, 'Q'), 1);
  EXPECT_EQ(untouched, 0xAAAAAAAAu);
  EXPECT_EQ(get_parameter(stream_, &s, pos, key_index("DEC"), nullptr, 'I'), 1);
}

TEST_F(ParFile, BadArgumentsFindNothing) {
  ASSERT_NE(open(kModuleFile), nullptr);
  ParFileSection &s = section("KMVUSB_MODULE1", kModuleKeys);
  const int32_t pos = get_section_pos(stream_, &s);
  ASSERT_GT(pos, 0);
  int32_t v = 77;
  // A negative index is refused like one past the last row (it would read rows[-1]).
  EXPECT_EQ(get_parameter(stream_, &s, pos, -1, &v, 'I'), 0);
  EXPECT_EQ(get_parameter(stream_, &s, pos, INT32_MIN, &v, 'I'), 0);
  EXPECT_EQ(get_parameter(stream_, &s, pos, s.count, &v, 'I'), 0);
  EXPECT_EQ(get_parameter(stream_, &s, -1, 0, &v, 'I'), 0);
  EXPECT_EQ(get_parameter(nullptr, &s, pos, 0, &v, 'I'), 0);
  EXPECT_EQ(v, 77);
}

TEST_F(ParFile, CallsRepositionTheStreamSoAnyOrderWorks) {
  ASSERT_NE(open("KMVUSB\r\n[B]\r\nX = 2\r\n[A]\r\nY = 3\r\nX = 1\r\n"), nullptr);
  ParFileSection &s = section("[A]", {"X", "Y"});
  const int32_t a = get_section_pos(stream_, &s);
  s.pattern = "[B]";
  const int32_t b = get_section_pos(stream_, &s);
  int32_t x = 0, y = 0;
  EXPECT_EQ(get_parameter(stream_, &s, a, 0, &x, 'I'), 1);
  EXPECT_EQ(get_parameter(stream_, &s, a, 1, &y, 'I'), 1);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 3);
  EXPECT_EQ(get_parameter(stream_, &s, b, 1, &y, 'I'), 0);
  EXPECT_EQ(get_parameter(stream_, &s, b, 0, &x, 'I'), 1);
  EXPECT_EQ(x, 2);
}

TEST_F(ParFile, OverlongLineInsideTheSectionFailsTheRead) {
  ASSERT_NE(open("[S]\n" + std::string(301, 'z') + "\nK = 1\n"), nullptr);
  ParFileSection &s = section("[S]", {"K"});
  int32_t k = 0;
  EXPECT_EQ(get_parameter(stream_, &s, get_section_pos(stream_, &s), 0, &k, 'I'), -4);
}

TEST_F(ParFile, CreateParsetCopiesNamesIntoIndexedRows) {
  ParFileSection s{};
  const char *names[] = {"C1U_P5V", "A_NAME_OF_MORE_THAN_19_CHARACTERS", nullptr};
  ASSERT_EQ(create_parset(&s, 3, names), 0);
  EXPECT_EQ(s.count, 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(s.keywords[i].index, i);
  EXPECT_STREQ(s.keywords[0].name, "C1U_P5V");
  EXPECT_STREQ(s.keywords[1].name, "A_NAME_OF_MORE_THAN");
  EXPECT_STREQ(s.keywords[2].name, "");
  std::free(s.keywords);
  EXPECT_EQ(create_parset(&s, -1, names), -1);
  EXPECT_EQ(s.keywords, nullptr);
  EXPECT_EQ(create_parset(nullptr, 1, names), -1);
}

TEST(RemoveLeadingSpaces, SkipsBlanksTabsAndCtrlZ) {
  const char *text = " \t\x1a x y";
  EXPECT_EQ(remove_leading_spaces(text), text + 4);
  EXPECT_EQ(remove_leading_spaces(""), std::string_view(""));
}

// ---- the keyword-line writer ------------------------------------------------

class ParWriter : public ParFile {
 protected:
  void SetUp() override {
    out_path_ = dir_.file("out.ini");
    out_ = std::fopen(out_path_.c_str(), "wb");
    ASSERT_NE(out_, nullptr);
  }
  void TearDown() override {
    if (out_ != nullptr) std::fclose(out_);
    ParFile::TearDown();
  }
  std::string written() {
    std::fflush(out_);
    return testsupport::read_file(out_path_);
  }
  std::string next_input_line() {
    std::array<char, PARFILE_MAX_LINE + 2> line{};
    return read_string(stream_, line.data(), PARFILE_MAX_LINE) > 0 ? line.data() : "<end>";
  }
  std::string out_path_;
  FILE *out_ = nullptr;
};

TEST_F(ParWriter, FormatsTheValueByTypeLetter) {
  ParFileSection &s = section("[S]", {"KEY"});
  const int32_t i = -5;
  const uint32_t u = 4000000000u;
  const char c = 'q';
  const double d = 0.1;
  const float f = 2.5f;
  struct Case {
    char type;
    const void *value;
    const char *line;
  };
  const Case cases[] = {
      {'I', &i, "key = -5\n"},         {'B', &i, "key = -5\n"},
      {'L', &i, "key = -5\n"},         {'U', &u, "key = 4000000000\n"},
      {'X', &u, "key = 0xee6b2800\n"}, {'C', &c, "key = q\n"},
      {'D', &d, "key = 0.1\n"}, {'F', &f, "key = 2.5\n"},
      {'S', "a text", "key = a text\n"},   {'?', nullptr, "key = \n"},
  };
  std::string expected;
  for (const Case &cs : cases) {
    SCOPED_TRACE(cs.type);
    std::array<char, PARFILE_MAX_LINE + 2> line{};
    EXPECT_EQ(WriteModifiedParToFile(nullptr, &s, -1, 0, cs.value, cs.type, line.data(), out_, 0), 0);
    EXPECT_STREQ(line.data(), cs.line);
    expected += cs.line;
  }
  EXPECT_EQ(written(), expected);
  // The row keeps its upper-case name, so reading the same rows still works.
  EXPECT_STREQ(s.keywords[0].name, "KEY");
}

TEST_F(ParWriter, RefusesBadIndexesAndMissingValues) {
  ParFileSection &s = section("[S]", {"KEY"});
  const int32_t v = 1;
  EXPECT_EQ(WriteModifiedParToFile(nullptr, &s, -1, -1, &v, 'I', nullptr, out_, 0), -1);
  EXPECT_EQ(WriteModifiedParToFile(nullptr, &s, -1, 1, &v, 'I', nullptr, out_, 0), -1);
  EXPECT_EQ(WriteModifiedParToFile(nullptr, &s, -1, 0, nullptr, 'I', nullptr, out_, 0), -1);
  EXPECT_EQ(written(), "");
}

const char kWriterInput[] =
    "KMVUSB\n"
    "[KMVUSB_MODULE1]\n"
    "C1U_P5V = 0 ; supply\n"
    "; first comment\n"
    "  ; second comment\n"
    "C1U_M5V = 1\n"
    "NAME = old text ; remark\n"
    "[KMVUSB_MODULE2]\n"
    "C1U_P5V = 1\n";

TEST_F(ParWriter, CopyKeepsTheInlineCommentAndTheFollowingComments) {
  ASSERT_NE(open(kWriterInput), nullptr);
  ParFileSection &s = section("KMVUSB_MODULE1", {"C1U_P5V", "NAME", "C1U_GAIN_HV"});
  const int32_t pos = get_section_pos(stream_, &s);
  const int32_t on = 1;
  EXPECT_EQ(WriteModifiedParToFile(stream_, &s, pos, 0, &on, 'I', nullptr, out_, 1), 0);
  EXPECT_EQ(written(), "c1u_p5v = 1 ; supply\n; first comment\n  ; second comment\n");
  // The first line after the comments is left for the caller, not swallowed.
  EXPECT_EQ(next_input_line(), "C1U_M5V = 1");
  // And the rows still read the file.
  int32_t v = -1;
  EXPECT_EQ(get_parameter(stream_, &s, pos, 0, &v, 'I'), 1);
  EXPECT_EQ(v, 0);
}

TEST_F(ParWriter, TextValueReplacesTheWholeOldText) {
  ASSERT_NE(open(kWriterInput), nullptr);
  ParFileSection &s = section("KMVUSB_MODULE1", {"C1U_P5V", "NAME"});
  EXPECT_EQ(WriteModifiedParToFile(stream_, &s, get_section_pos(stream_, &s), 1, "new", 'S', nullptr, out_, 1), 0);
  EXPECT_EQ(written(), "name = new ; remark\n");
  EXPECT_EQ(next_input_line(), "[KMVUSB_MODULE2]");
}

TEST_F(ParWriter, AbsentKeywordLeavesTheNextHeaderOnItsOwnLine) {
  ASSERT_NE(open(kWriterInput), nullptr);
  ParFileSection &s = section("KMVUSB_MODULE1", {"C1U_P5V", "NAME", "C1U_GAIN_HV"});
  const float gain = 50;
  EXPECT_EQ(WriteModifiedParToFile(stream_, &s, get_section_pos(stream_, &s), 2, &gain, 'F', nullptr, out_, 1), 0);
  EXPECT_EQ(written(), "c1u_gain_hv = 50\n");
  EXPECT_EQ(next_input_line(), "[KMVUSB_MODULE2]");
}

TEST_F(ParWriter, EndOfInputIsSuccess) {
  ASSERT_NE(open("[S]\nKEY = 1 ;c\n; trailing comment"), nullptr);
  ParFileSection &s = section("[S]", {"KEY"});
  const int32_t v = 2;
  EXPECT_EQ(WriteModifiedParToFile(stream_, &s, get_section_pos(stream_, &s), 0, &v, 'I', nullptr, out_, 1), 0);
  EXPECT_EQ(written(), "key = 2 ;c\n; trailing comment\n");
}

TEST_F(ParWriter, OverlongInputLineWritesNothing) {
  ASSERT_NE(open("[S]\n" + std::string(400, 'z') + "\nKEY = 1\n"), nullptr);
  ParFileSection &s = section("[S]", {"KEY"});
  const int32_t v = 2;
  EXPECT_EQ(WriteModifiedParToFile(stream_, &s, get_section_pos(stream_, &s), 0, &v, 'I', nullptr, out_, 1), -4);
  EXPECT_EQ(written(), "");
}

}  // namespace
