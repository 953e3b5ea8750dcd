#pragma once
// Value texts of a setup file's entry lines: one typed value of the parameter
// store written as text by its type letter, and read back.
#include <cstddef>

#include "support/Parmst.h"

// The longest S value a setup file carries (the store's text size less the NUL).
constexpr std::size_t SETUP_TEXT_MAX = 255;

// Reads text as a value of the type letter into out (B, I, U, X: 32-bit
// integer; C: one character; D: double; F: float; G, H: 16 bits; L: 32 bits;
// M: read as a real, low 32 bits kept; S: the text cut at 255 characters).
// Only the value's own bytes change. Integers out of their range saturate.
// 0, or -1 when nothing was converted: an unknown letter, or a real that is
// not a finite number of its type.
int parse_typed_value(int letter, const char *text, ParameterValue *out);

// Writes value as the letter's value text into out (size bytes, always
// terminated; an S text is cut to fit). false for a letter without a text.
bool format_typed_value(int letter, const ParameterValue &value, char *out, std::size_t size);

// The two trimmers of a D or F text: leading blanks go; with a '.' and no 'e'
// a run of two or more trailing zeros becomes one (2.500 -> 2.50).
void trim_leading_blanks(char *text);
void trim_trailing_zeros(char *text);
