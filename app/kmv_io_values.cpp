#include "app/kmv_io_values.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// atoi/atol with a result that does not depend on the width of long: values
// beyond the type saturate instead of wrapping differently per build.
int64_t read_integer(const char *text) { return static_cast<int64_t>(std::strtoll(text, nullptr, 10)); }

int32_t saturate32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

template <class T>
void put(ParameterValue *out, T v) {
  std::memcpy(out->data, &v, sizeof v);
}

template <class T>
T get(const ParameterValue &value) {
  T v;
  std::memcpy(&v, value.data, sizeof v);
  return v;
}

}  // namespace

int parse_typed_value(int letter, const char *text, ParameterValue *out) {
  if (text == nullptr || out == nullptr) return -1;
  switch (letter) {
    case 'B':
    case 'I':
    case 'U':
    case 'X':
    case 'L':
      put(out, saturate32(read_integer(text)));
      return 0;
    case 'C':
      put(out, text[0]);
      return 0;
    case 'D': {
      const double d = std::atof(text);
      if (!std::isfinite(d)) return -1;
      put(out, d);
      return 0;
    }
    case 'F': {
      const double d = std::atof(text);
      // Beyond the float range the conversion itself is undefined.
      if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) return -1;
      put(out, static_cast<float>(d));
      return 0;
    }
    case 'G':
      put(out, static_cast<uint16_t>(static_cast<uint32_t>(saturate32(read_integer(text)))));
      return 0;
    case 'H':
      put(out, static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(saturate32(read_integer(text))))));
      return 0;
    case 'M': {
      const double d = std::atof(text);
      if (!std::isfinite(d)) return -1;
      int64_t whole;
      if (d >= 9223372036854775807.0)
        whole = INT64_MAX;
      else if (d <= -9223372036854775808.0)
        whole = INT64_MIN;
      else
        whole = static_cast<int64_t>(d);
      put(out, static_cast<uint32_t>(static_cast<uint64_t>(whole)));
      return 0;
    }
    case 'S': {
      const std::size_t n = strnlen(text, SETUP_TEXT_MAX);
      std::memcpy(out->data, text, n);
      out->data[n] = '\0';
      return 0;
    }
    default:
      return -1;
  }
}

void trim_leading_blanks(char *text) {
  std::size_t skip = 0;
  while (text[skip] == ' ') ++skip;
  if (skip > 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
}

void trim_trailing_zeros(char *text) {
  if (std::strchr(text, '.') == nullptr || std::strchr(text, 'e') != nullptr) return;
  std::size_t n = std::strlen(text);
  std::size_t zeros = 0;
  while (zeros < n && text[n - 1 - zeros] == '0') ++zeros;
  if (zeros >= 2) text[n - zeros + 1] = '\0';
}

bool format_typed_value(int letter, const ParameterValue &value, char *out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  switch (letter) {
    case 'B':
    case 'I':
    case 'U':
    case 'X':
    case 'L':
      std::snprintf(out, size, "%d", get<int32_t>(value));
      return true;
    case 'C':
      std::snprintf(out, size, "%c", value.data[0]);
      return true;
    case 'D':
      std::snprintf(out, size, "%24.12g", get<double>(value));
      trim_leading_blanks(out);
      trim_trailing_zeros(out);
      return true;
    case 'F':
      std::snprintf(out, size, "%14.8g", static_cast<double>(get<float>(value)));
      trim_leading_blanks(out);
      trim_trailing_zeros(out);
      return true;
    case 'G':
      std::snprintf(out, size, "%u", static_cast<unsigned>(get<uint16_t>(value)));
      return true;
    case 'H':
      std::snprintf(out, size, "%d", static_cast<int>(get<int16_t>(value)));
      return true;
    case 'M':
      std::snprintf(out, size, "%u", static_cast<unsigned>(get<uint32_t>(value)));
      return true;
    case 'S':
      std::snprintf(out, size, "%.*s", static_cast<int>(SETUP_TEXT_MAX), value.data);
      return true;
    default:
      return false;
  }
}
