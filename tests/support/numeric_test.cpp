#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "support/Util_fun_numeric.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Clamps, IntegerClampsTakeTheirBoundsInEitherOrder) {
  struct Case {
    int value, b1, b2, expected;
  };
  const Case cases[] = {
      {5, 10, 0, 5}, {5, 0, 10, 5}, {-3, 10, 0, 0}, {12, 10, 0, 10}, {0, 0, 0, 0},
      {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN}, {INT32_MAX, -1, 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " in " << c.b1 << ", " << c.b2);
    EXPECT_EQ(lim(c.value, c.b1, c.b2), c.expected);
    EXPECT_EQ(liml(c.value, c.b1, c.b2), c.expected);
    EXPECT_EQ(liml64(c.value, c.b1, c.b2), c.expected);
  }
  EXPECT_EQ(lims(5, 10, 0), 5);
  EXPECT_EQ(lims(-32768, 1, -1), -1);
  EXPECT_EQ(lims(32767, 10, -10), 10);
  EXPECT_EQ(liml64(INT64_MAX, 5, -5), 5);
  EXPECT_EQ(liml64(INT64_MIN, INT64_MAX, 0), 0);
}

TEST(Clamps, UnsignedClampsCompareUnsigned) {
  // A signed comparison would see these values as negative and give the lower bound.
  EXPECT_EQ(limsu(0xFFFF, 10, 0), 10u);
  EXPECT_EQ(limsu(0, 5, 10), 5u);
  EXPECT_EQ(limlu(0xFFFFFFFFu, 255, 0), 255u);
  EXPECT_EQ(limlu(0x80000000u, 0, 0xFFFFFFFFu), 0x80000000u);
  EXPECT_EQ(liml64u(UINT64_MAX, 1, 0), 1u);
  EXPECT_EQ(liml64u(0, uint64_t{1} << 63, 7), 7u);
}

TEST(Clamps, FloatingClampsApplyMinimumThenMaximum) {
  struct Case {
    double value, min, max, expected;
  };
  const Case cases[] = {
      {5, 10, 0, 0},        // min > max: the maximum wins (lim gives 5 here)
      {5, 0, 10, 5},     {-1, 0, 10, 0},    {11, 0, 10, 10},     {10, 0, 10, 10},
      {kNaN, 1, 2, 1},      // not a number gives the minimum
      {kNaN, 3, 1, 1},      // ... which the maximum then lowers
      {-kInf, 0, 1, 0},  {kInf, 0, 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " in " << c.min << ".." << c.max);
    EXPECT_EQ(limd(c.value, c.min, c.max), c.expected);
    EXPECT_EQ(limf(static_cast<float>(c.value), static_cast<float>(c.min), static_cast<float>(c.max)),
              static_cast<float>(c.expected));
  }
}

TEST(Clamps, RangeChecksFallBackAndNeverReorder) {
  EXPECT_EQ(check_val_i(7, 10, 0, -1), -1);
  EXPECT_EQ(check_val_i(7, 0, 10, -1), 7);
  EXPECT_EQ(check_val_i(0, 0, 10, -1), 0);
  EXPECT_EQ(check_val_i(10, 0, 10, -1), 10);
  EXPECT_EQ(check_val_i(11, 0, 10, -1), -1);
  EXPECT_EQ(check_val_l(INT32_MIN, INT32_MIN + 1, 0, 3), 3);
  EXPECT_EQ(check_val_lu(0xFFFFFFFFu, 0, 0xFFFFFFFFu, -1), 0xFFFFFFFFu);
  EXPECT_EQ(check_val_lu(0x80000000u, 0, 255, 9), 9u);
  EXPECT_EQ(check_val_d(kNaN, 0, 1, 5), 5);
  EXPECT_EQ(check_val_d(0.5, 1, 0, 5), 5);
  EXPECT_EQ(check_val_f(1.5f, 1, 2, 0), 1.5f);
}

struct RoundCase {
  double x, expected;
};

void expect_rounding(double (*fn)(double), const char *name, std::initializer_list<RoundCase> cases) {
  for (const RoundCase &c : cases) {
    SCOPED_TRACE(testing::Message() << name << "(" << c.x << ")");
    EXPECT_EQ(fn(c.x), c.expected);
  }
}

TEST(Rounding, ThresholdsAndDirection) {
  expect_rounding(round_dwn, "round_dwn",
                  {{2.99, 3}, {2.98, 2}, {-2.995, -3}, {-2.99, -3}, {-2.98, -2}, {-0.995, -1}, {0.995, 1},
                   {0.5, 0}, {3.0, 3}, {-0.0, 0}});
  expect_rounding(qv::round, "round",
                  {{2.5, 2}, {2.51, 3}, {-2.51, -3}, {-2.5, -2}, {0.5, 0}, {-0.5, 0}, {-0.7, -1}, {0.7, 1},
                   {1e300, 1e300}});
  expect_rounding(round_fraction, "round_fraction",
                  {{2.0, 2}, {2.5, 2}, {2.51, 3}, {2.3, 2}, {-2.3, -2}, {-2.7, -3}, {-2.5, -3}, {-0.2, 0}});
}

TEST(Rounding, QvRoundIsNotTheCLibrarysRound) {
  EXPECT_EQ(qv::round(2.5), 2.0);
  EXPECT_EQ(std::round(2.5), 3.0);
}

TEST(Rounding, GetIntUsesItsOwnThresholdAndSaturates) {
  struct Case {
    double x;
    int expected;
  };
  const Case cases[] = {{2.98, 3}, {2.97, 2}, {0.985, 1}, {-0.985, -1}, {-2.5, -2},
                        {1e12, INT32_MAX}, {-1e12, INT32_MIN}, {kNaN, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(get_int(c.x), c.expected);
  }
}

TEST(Rounding, NearestIntegerTakesHalvesToEven) {
  struct Case {
    double x;
    int32_t expected;
  };
  const Case cases[] = {{2.5, 2},   {3.5, 4},           {-2.5, -2},         {-3.5, -4},
                        {2.4, 2},   {2.6, 3},           {-2.6, -3},         {0.5, 0},
                        {1e10, INT32_MAX}, {-1e10, INT32_MIN}, {kNaN, 0}, {2147483646.6, INT32_MAX}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(RoundRealToNearestInteger(c.x), c.expected);
  }
}

TEST(Rounding, NearestSixtyFourBitInteger) {
  struct Case {
    double x;
    int64_t expected;
  };
  const Case cases[] = {{2.7, 3},   {2.5, 2},   {-2.7, -3}, {-2.2, -2}, {1e18, 1000000000000000000},
                        {4503599627370497.0, 4503599627370497}, {1e19, INT64_MAX}, {-1e19, INT64_MIN},
                        {kNaN, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(RoundRealToNearest64Integer(c.x), c.expected);
  }
}

TEST(Rounding, RoundFractionGuardsTheThirtyTwoBitRange) {
  EXPECT_DOUBLE_EQ(RoundFraction(1.234, 100), 1.23);
  EXPECT_DOUBLE_EQ(RoundFraction(0.375, 4), 0.5);
  EXPECT_DOUBLE_EQ(RoundFraction(-1.26, 10), -1.3);
  // x*n beyond 1e9 in either direction: unchanged, not saturated or overflowed.
  EXPECT_EQ(RoundFraction(5e8 + 0.37, 10), 5e8 + 0.37);
  EXPECT_EQ(RoundFraction(-5e8 - 0.37, 10), -5e8 - 0.37);
  EXPECT_EQ(RoundFraction(3e9 + 0.5, 1), 3e9 + 0.5);
  EXPECT_DOUBLE_EQ(RoundFraction(1e8 - 0.04, 10), 1e8);  // just inside the limit: rounded
  EXPECT_EQ(RoundFraction(1.7, 0), 1.7);
  EXPECT_TRUE(std::isnan(RoundFraction(kNaN, 10)));
}

TEST(Conversions, SixtyFourBitHalvesToDouble) {
  EXPECT_EQ(UI64_2dbl(5, 0), 5.0);
  EXPECT_EQ(UI64_2dbl(0, 1), 4294967296.0);
  EXPECT_EQ(UI64_2dbl(0xFFFFFFFFu, 0xFFFFFFFFu), 18446744073709551615.0);
  EXPECT_EQ(I64_2dbl(0xFFFFFFFFu, 0xFFFFFFFFu), -1.0);
  EXPECT_EQ(I64_2dbl(0x80000000u, 0xFFFFFFFFu), -2147483648.0);
  EXPECT_EQ(I64_2dbl(0x7FFFFFFFu, 0), 2147483647.0);
  EXPECT_EQ(I64_2dbl(0x80000000u, 0), 2147483648.0);
  EXPECT_EQ(I64_2dbl(0, 1), 4294967296.0);
  EXPECT_EQ(I64_2dbl(0, 0x80000000u), -9223372036854775808.0);
  EXPECT_EQ(I64_2dbl(123456789, 0x12345), 0x12345 * 4294967296.0 + 123456789);  // by quotient and remainder
}

TEST(TextSearch, FindSpaceStopsAtBlanksCtrlZOrTheEnd) {
  struct Case {
    const char *text;
    size_t offset;
  };
  const Case cases[] = {{"abc def", 3}, {"abc\tdef", 3}, {"ab\x1a", 2}, {"abc", 3}, {"", 0}, {" x", 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(find_space(c.text), c.text + c.offset);
  }
  EXPECT_EQ(find_space(static_cast<const char *>(nullptr)), nullptr);
}

TEST(TextSearch, StrIstrPrefersTheExactCase) {
  struct Case {
    const char *text, *pattern;
    int offset;  // -1: not found
  };
  const Case cases[] = {
      {"Data.TXT", ".txt", 4}, {"ABC abc", "abc", 4}, {"ABC abc", "aBc", 0}, {"abc", "abcd", -1},
      {"xyz", "", 0},          {"aXbXc", "xc", 3},    {"ab", "B", 1},       {"", "a", -1},
      {"abc", "q", -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " / " << c.pattern);
    const char *found = strIstr(c.text, c.pattern);
    if (c.offset < 0) {
      EXPECT_EQ(found, nullptr);
    } else {
      EXPECT_EQ(found, c.text + c.offset);
    }
  }
  EXPECT_EQ(strIstr(static_cast<const char *>(nullptr), "a"), nullptr);
  EXPECT_EQ(strIstr("a", nullptr), nullptr);
}

}  // namespace
