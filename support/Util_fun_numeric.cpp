#include "support/Util_fun_numeric.h"

#include <cmath>
#include <cstring>

#include "platform/win/strings.h"

namespace {

// Either-order clamp for the integer family (never std::clamp: it is
// undefined for reversed bounds).
template <typename T>
T clamp_either(T value, T bound1, T bound2) {
  const T lo = bound1 < bound2 ? bound1 : bound2;
  const T hi = bound1 < bound2 ? bound2 : bound1;
  if (value < lo) return lo;
  if (value > hi) return hi;
  return value;
}

// min then max; the negated test sends NaN to min.
template <typename T>
T clamp_min_max(T value, T min, T max) {
  if (!(value >= min)) value = min;
  if (value > max) value = max;
  return value;
}

// Integer part moved one step away from zero (the fraction's sign) when the
// fraction's magnitude reaches the threshold (or exceeds it, when strict).
double step_at(double x, double threshold, bool strict) {
  const double ip = std::trunc(x);
  const double frac = x - ip;  // NaN for infinities: no step
  const double mag = std::fabs(frac);
  const bool step = strict ? mag > threshold : mag >= threshold;
  if (!step) return ip;
  return frac > 0 ? ip + 1.0 : ip - 1.0;
}

}  // namespace

int16_t lims(int16_t value, int16_t bound1, int16_t bound2) { return clamp_either(value, bound1, bound2); }
uint16_t limsu(uint16_t value, uint16_t bound1, uint16_t bound2) { return clamp_either(value, bound1, bound2); }
int lim(int value, int bound1, int bound2) { return clamp_either(value, bound1, bound2); }
int32_t liml(int32_t value, int32_t bound1, int32_t bound2) { return clamp_either(value, bound1, bound2); }
uint32_t limlu(uint32_t value, uint32_t bound1, uint32_t bound2) { return clamp_either(value, bound1, bound2); }
int64_t liml64(int64_t value, int64_t bound1, int64_t bound2) { return clamp_either(value, bound1, bound2); }
uint64_t liml64u(uint64_t value, uint64_t bound1, uint64_t bound2) { return clamp_either(value, bound1, bound2); }

float limf(float value, float min, float max) { return clamp_min_max(value, min, max); }
double limd(double value, double min, double max) { return clamp_min_max(value, min, max); }

double check_val_d(double value, double min, double max, double fallback) {
  return (min <= value && value <= max) ? value : fallback;
}
float check_val_f(float value, float min, float max, float fallback) {
  return (min <= value && value <= max) ? value : fallback;
}
int32_t check_val_l(int32_t value, int32_t min, int32_t max, int32_t fallback) {
  return (min <= value && value <= max) ? value : fallback;
}
uint32_t check_val_lu(uint32_t value, uint32_t min, uint32_t max, int fallback) {
  return (min <= value && value <= max) ? value : static_cast<uint32_t>(fallback);
}
int check_val_i(int value, int min, int max, int fallback) {
  return (min <= value && value <= max) ? value : fallback;
}

double round_dwn(double x) { return step_at(x, 0.99, false); }

namespace qv {
double round(double x) { return step_at(x, 0.5, true); }
}  // namespace qv

int get_int(double x) {
  const double r = step_at(x, 0.98, false);
  if (std::isnan(r)) return 0;
  if (r >= 2147483647.0) return 2147483647;
  if (r <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(r);
}

double RoundFraction(double x, int n) {
  if (n == 0) return x;
  const double scaled = x * n;
  // The rounding runs through a 32-bit integer: keep well inside its range.
  if (!(std::fabs(scaled) <= 1e9)) return x;
  return static_cast<double>(RoundRealToNearestInteger(scaled)) / n;
}

double round_fraction(double x) {
  const double fl = std::floor(x);
  const double frac = x - fl;  // 0 <= frac < 1, NaN for NaN and infinities
  if (!(frac > 0)) return x;
  return frac > 0.5 ? fl + 1.0 : fl;
}

int32_t RoundRealToNearestInteger(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return 2147483647;
  if (x <= -2147483648.0) return -2147483647 - 1;
  const double fl = std::floor(x);
  const double d = x - fl;
  double r = fl;
  if (d > 0.5) {
    r = fl + 1.0;
  } else if (d == 0.5) {
    r = std::fmod(fl, 2.0) == 0.0 ? fl : fl + 1.0;
  }
  return static_cast<int32_t>(r);
}

int64_t RoundRealToNearest64Integer(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return INT64_MAX;
  if (x < -9223372036854775808.0) return INT64_MIN;
  const double ip = std::trunc(x);
  const int64_t whole = static_cast<int64_t>(ip);
  const int32_t step = RoundRealToNearestInteger(x - ip);
  if (step > 0 && whole == INT64_MAX) return whole;
  if (step < 0 && whole == INT64_MIN) return whole;
  return whole + step;
}

double UI64_2dbl(uint32_t low, uint32_t high) { return static_cast<double>(high) * 4294967296.0 + low; }

double I64_2dbl(uint32_t low, uint32_t high) {
  const int64_t v = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
  if (v >= INT32_MIN && v <= INT32_MAX) return static_cast<double>(v);
  const int64_t q = v / 2147483647;
  const int64_t r = v % 2147483647;
  return static_cast<double>(q) * 2147483647.0 + static_cast<double>(r);
}

const char *find_space(const char *text) {
  if (text == nullptr) return nullptr;
  while (*text != '\0' && *text != ' ' && *text != '\t' && *text != 26) ++text;
  return text;
}
char *find_space(char *text) { return const_cast<char *>(find_space(static_cast<const char *>(text))); }

const char *strIstr(const char *text, const char *pattern) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  if (const char *exact = std::strstr(text, pattern)) return exact;
  const size_t plen = std::strlen(pattern);
  size_t left = std::strlen(text);
  for (const char *p = text; left >= plen; ++p, --left) {
    if (StrNICmp(p, pattern, plen) == 0) return p;
  }
  return nullptr;
}
char *strIstr(char *text, const char *pattern) {
  return const_cast<char *>(strIstr(static_cast<const char *>(text), pattern));
}
