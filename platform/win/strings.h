#pragma once
// String helpers of the programmer's toolbox that the program calls.
#include <cstddef>

// Case-insensitive comparisons: <0, 0, >0 like strcmp.
int StrICmp(const char *a, const char *b);
int StrNICmp(const char *a, const char *b, size_t n);
// Changes the text in place.
void StringUpperCase(char *s);
void StringLowerCase(char *s);

namespace platform {
// Copies src into dst of dst_size bytes, always terminated; returns false
// when src had to be cut.
bool copy_bounded(char *dst, size_t dst_size, const char *src);
}  // namespace platform
