// Value texts of setup-file entries: written as the file format fixes them,
// read back into the parameter store's representation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "app/kmv_io_values.h"

namespace {

template <class T>
ParameterValue value_of(T v) {
  ParameterValue p{};
  std::memcpy(p.data, &v, sizeof v);
  return p;
}

template <class T>
T read_as(const ParameterValue &p) {
  T v;
  std::memcpy(&v, p.data, sizeof v);
  return v;
}

std::string text_of(int letter, const ParameterValue &v) {
  char out[300];
  EXPECT_TRUE(format_typed_value(letter, v, out, sizeof out));
  return out;
}

TEST(SetupValueText, FloatsAreWrittenWithEightSignificantDigits) {
  const struct {
    float value;
    const char *text;
  } cases[] = {
      {62.5f, "62.5"}, {5.0f, "5"},           {0.1f, "0.1"},           {4.2f, "4.1999998"},
      {0.0f, "0"},     {99.99f, "99.989998"}, {1e-5f, "9.9999997e-06"}, {-2.5f, "-2.5"},
      {100.0f, "100"}, {123456789.0f, "1.2345679e+08"},
  };
  for (const auto &c : cases) EXPECT_EQ(text_of('F', value_of(c.value)), c.text) << c.value;
}

TEST(SetupValueText, OtherLettersUseTheirOwnFormats) {
  EXPECT_EQ(text_of('B', value_of<int32_t>(1)), "1");
  EXPECT_EQ(text_of('I', value_of<int32_t>(170)), "170");
  EXPECT_EQ(text_of('U', value_of<uint32_t>(3000000000u)), "-1294967296");  // signed format
  EXPECT_EQ(text_of('L', value_of<int32_t>(-7)), "-7");
  EXPECT_EQ(text_of('M', value_of<uint32_t>(4000000000u)), "4000000000");
  EXPECT_EQ(text_of('G', value_of<uint16_t>(65535)), "65535");
  EXPECT_EQ(text_of('H', value_of<int16_t>(-32768)), "-32768");
  EXPECT_EQ(text_of('C', value_of<char>('q')), "q");
  EXPECT_EQ(text_of('D', value_of(2.5)), "2.5");
  EXPECT_EQ(text_of('D', value_of(0.1)), "0.1");
  EXPECT_EQ(text_of('D', value_of(1.0 / 3.0)), "0.333333333333");
  ParameterValue s{};
  std::strcpy(s.data, "KM0001");
  EXPECT_EQ(text_of('S', s), "KM0001");
  char out[8];
  EXPECT_FALSE(format_typed_value('Q', s, out, sizeof out));
  EXPECT_STREQ(out, "");
}

TEST(SetupValueText, TextsAreCutToTheirBuffer) {
  ParameterValue s{};
  std::memset(s.data, 'A', 255);
  char out[10];
  ASSERT_TRUE(format_typed_value('S', s, out, sizeof out));
  EXPECT_EQ(std::string(out), std::string(9, 'A'));
}

TEST(SetupValueText, TrimmersCutLeadingBlanksAndRunsOfTrailingZeros) {
  const struct {
    const char *in, *out;
  } cases[] = {
      {"   2.500", "2.50"}, {"2.50", "2.50"}, {"2.5000000", "2.50"}, {"100", "100"},
      {"1.00e+100", "1.00e+100"}, {"  0.00", "0.0"}, {"", ""}, {"    ", ""},
  };
  for (const auto &c : cases) {
    char t[32];
    std::strcpy(t, c.in);
    trim_leading_blanks(t);
    trim_trailing_zeros(t);
    EXPECT_STREQ(t, c.out) << '"' << c.in << '"';
  }
}

TEST(SetupValueText, ReadBackByLetter) {
  ParameterValue v{};
  ASSERT_EQ(parse_typed_value('B', "1", &v), 0);
  EXPECT_EQ(read_as<int32_t>(v), 1);
  ASSERT_EQ(parse_typed_value('F', "4.1999998", &v), 0);
  EXPECT_EQ(read_as<float>(v), 4.2f);
  ASSERT_EQ(parse_typed_value('D', "0.333333333333", &v), 0);
  EXPECT_DOUBLE_EQ(read_as<double>(v), 0.333333333333);
  ASSERT_EQ(parse_typed_value('U', "-1294967296", &v), 0);
  EXPECT_EQ(read_as<uint32_t>(v), 3000000000u);
  ASSERT_EQ(parse_typed_value('M', "4000000000.7", &v), 0);
  EXPECT_EQ(read_as<uint32_t>(v), 4000000000u);
  ASSERT_EQ(parse_typed_value('M', "4294967297", &v), 0);  // low 32 bits
  EXPECT_EQ(read_as<uint32_t>(v), 1u);
  ASSERT_EQ(parse_typed_value('G', "65537", &v), 0);
  EXPECT_EQ(read_as<uint16_t>(v), 1);
  ASSERT_EQ(parse_typed_value('H', "-2", &v), 0);
  EXPECT_EQ(read_as<int16_t>(v), -2);
  ASSERT_EQ(parse_typed_value('C', "XYZ", &v), 0);
  EXPECT_EQ(v.data[0], 'X');
  ASSERT_EQ(parse_typed_value('X', "50", &v), 0);
  EXPECT_EQ(read_as<int32_t>(v), 50);
}

TEST(SetupValueText, IntegersSaturateTheSameOnEveryBuild) {
  ParameterValue v{};
  ASSERT_EQ(parse_typed_value('I', "99999999999", &v), 0);
  EXPECT_EQ(read_as<int32_t>(v), INT32_MAX);
  ASSERT_EQ(parse_typed_value('L', "-99999999999", &v), 0);
  EXPECT_EQ(read_as<int32_t>(v), INT32_MIN);
  ASSERT_EQ(parse_typed_value('B', "junk", &v), 0);
  EXPECT_EQ(read_as<int32_t>(v), 0);
}

TEST(SetupValueText, RealsThatAreNoNumberOfTheirTypeConvertNothing) {
  for (const char *text : {"nan", "inf", "-inf", "1e39", "1e400"}) {
    ParameterValue v = value_of(7.0f);
    EXPECT_EQ(parse_typed_value('F', text, &v), -1) << text;
    EXPECT_EQ(read_as<float>(v), 7.0f) << text;
  }
  ParameterValue v{};
  EXPECT_EQ(parse_typed_value('D', "1e39", &v), 0);
  EXPECT_EQ(parse_typed_value('D', "nan", &v), -1);
  EXPECT_EQ(parse_typed_value('M', "inf", &v), -1);
  ASSERT_EQ(parse_typed_value('M', "1e300", &v), 0);  // saturates, low 32 bits kept
  EXPECT_EQ(read_as<uint32_t>(v), 0xFFFFFFFFu);
  EXPECT_EQ(parse_typed_value('Q', "1", &v), -1);
}

TEST(SetupValueText, TextValuesStopAt255Characters) {
  ParameterValue v;
  std::memset(v.data, '#', sizeof v.data);
  const std::string long_text(257, 'S');
  ASSERT_EQ(parse_typed_value('S', long_text.c_str(), &v), 0);
  EXPECT_EQ(std::string(v.data), std::string(255, 'S'));
}

}  // namespace
