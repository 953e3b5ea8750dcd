#pragma once
// Value clamps, range checks with a fallback, rounding rules with fixed
// thresholds, 64-bit conversions and two text searches.
#include <cstdint>

// Integer clamps: the bounds may come in either order; the value is limited
// to the range from the smaller to the larger one.
int16_t lims(int16_t value, int16_t bound1, int16_t bound2);
uint16_t limsu(uint16_t value, uint16_t bound1, uint16_t bound2);
int lim(int value, int bound1, int bound2);
int32_t liml(int32_t value, int32_t bound1, int32_t bound2);
uint32_t limlu(uint32_t value, uint32_t bound1, uint32_t bound2);
int64_t liml64(int64_t value, int64_t bound1, int64_t bound2);
uint64_t liml64u(uint64_t value, uint64_t bound1, uint64_t bound2);

// Floating clamps: raised to min first, then lowered to max, so max wins when
// min > max. A value that is not a number gives min.
float limf(float value, float min, float max);
double limd(double value, double min, double max);

// The value when min <= value <= max, else the fallback. The bounds are not
// reordered: with min > max every value gives the fallback.
double check_val_d(double value, double min, double max, double fallback);
float check_val_f(float value, float min, float max, float fallback);
int32_t check_val_l(int32_t value, int32_t min, int32_t max, int32_t fallback);
uint32_t check_val_lu(uint32_t value, uint32_t min, uint32_t max, int fallback);
int check_val_i(int value, int min, int max, int fallback);

// The integer part of x, one step away from zero when the fraction's magnitude
// is at least 0.99 (2.99 -> 3, -2.995 -> -3, 2.98 -> 2).
double round_dwn(double x);

namespace qv {
// The integer part of x, one step away from zero only when the fraction's
// magnitude exceeds 0.5 (2.5 -> 2, 2.51 -> 3, -0.7 -> -1). In a namespace
// because the C library's round(double) has the same signature.
double round(double x);
}  // namespace qv

// As round_dwn with the threshold 0.98, as int. Values beyond the int range
// saturate; NaN gives 0.
int get_int(double x);

// x rounded to a multiple of 1/n. x is returned unchanged when |x*n| exceeds
// 1e9 (the rounding goes through a 32-bit integer), when it is not a number,
// or when n is 0.
double RoundFraction(double x, int n);

// x when it has no fraction; otherwise the nearer integer, an exact half
// going down (2.5 -> 2, 2.51 -> 3, -2.3 -> -2, -2.5 -> -3).
double round_fraction(double x);

// The nearest integer, exact halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4, -2.5 -> -2). Saturates at the 32-bit range; NaN gives 0.
int32_t RoundRealToNearestInteger(double x);

// The integer part of x plus the nearest-integer rounding of its fraction
// (by the rule above, so an exact half stays: 2.5 -> 2, 2.7 -> 3).
// Saturates at the 64-bit range; NaN gives 0.
int64_t RoundRealToNearest64Integer(double x);

// The unsigned / signed 64-bit value of two 32-bit halves, as double.
double UI64_2dbl(uint32_t low, uint32_t high);
double I64_2dbl(uint32_t low, uint32_t high);

// First space, tab, Ctrl-Z (26) or the terminating NUL of text.
char *find_space(char *text);
const char *find_space(const char *text);

// First occurrence of pattern in text, ignoring case; an exact-case match
// is preferred. NULL when there is none.
char *strIstr(char *text, const char *pattern);
const char *strIstr(const char *text, const char *pattern);
