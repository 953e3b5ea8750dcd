#include "platform/win/strings.h"

#include <cctype>
#include <cstring>

namespace {
int lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }
}  // namespace

int StrICmp(const char *a, const char *b) {
  for (;; ++a, ++b) {
    const int d = lower(*a) - lower(*b);
    if (d != 0 || *a == '\0') return d;
  }
}

int StrNICmp(const char *a, const char *b, size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    const int d = lower(*a) - lower(*b);
    if (d != 0 || *a == '\0') return d;
  }
  return 0;
}

void StringUpperCase(char *s) {
  for (; s != nullptr && *s != '\0'; ++s) *s = static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
}

void StringLowerCase(char *s) {
  for (; s != nullptr && *s != '\0'; ++s) *s = static_cast<char>(lower(*s));
}

namespace platform {
bool copy_bounded(char *dst, size_t dst_size, const char *src) {
  if (dst == nullptr || dst_size == 0) return false;
  if (src == nullptr) {
    dst[0] = '\0';
    return true;
  }
  const size_t n = std::strlen(src);
  const size_t k = n < dst_size ? n : dst_size - 1;
  std::memcpy(dst, src, k);
  dst[k] = '\0';
  return k == n;
}
}  // namespace platform
