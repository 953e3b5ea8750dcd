#pragma once
// Reader of sectioned parameter files ("kmvusb.ini"): a marker in the first
// non-empty line, [sections] found by name, keywords read by type letter.
// Nothing here reports through error(): every failure is a return value.
#include <cstdint>
#include <cstdio>

// One keyword of a section: its row index (the caller's parameter number)
// and its name, upper case, at most 19 characters.
struct ParFileKeyword {
  int32_t index;
  char name[20];
};

// The caller's description of one section. The caller sets the pattern
// (upper case, e.g. "KMVUSB_MODULE1"); create_parset fills count and rows.
// The rows are allocated with calloc: the caller releases them with free().
struct ParFileSection {
  int32_t count;
  const char *pattern;
  ParFileKeyword *keywords;
};

// Longest line the readers take; line buffers hold it and the NUL.
constexpr int PARFILE_MAX_LINE = 300;

// 0 when the file's first non-empty line holds pattern (the line is
// upper-cased, the pattern must be upper case); -2 when it does not or the
// file has no non-empty line; -1 when it cannot be opened; -4 for a line
// longer than PARFILE_MAX_LINE before the first non-empty one.
int check_if_valid(const char *path, const char *pattern);

// Sets the section's count to n and gives it n rows, row i with index i and
// a copy of names[i] (cut to 19 characters). 0, or -1 when the rows cannot
// be allocated (the count is still set) or the arguments are unusable.
int create_parset(ParFileSection *section, int32_t n, const char *const names[]);

// Stream position just after the first header line "[...]" that contains
// the section's pattern (so KMVUSB_MODULE1 also matches [KMVUSB_MODULE12]);
// -1 when there is no stream or no such header.
int32_t get_section_pos(FILE *stream, ParFileSection *section);

// Reads keyword row `index` of the section starting at `pos`, converting the
// first word after its '=' by the type letter into dest:
//   B, I, U, L  32-bit integer (hexadecimal when the word holds x, X, h or H)
//   C           one byte, the word's first character upper-cased
//   D           double;  F  float
//   S           the text up to ';' or the line end, trailing spaces cut
//               (dest holds PARFILE_MAX_LINE + 1 bytes)
//   other       nothing stored
// 1 found (even when nothing was stored), 0 not found in the section (also
// for no stream, an index outside 0..count-1 or a negative pos), or a
// negative read result (-4).
int get_parameter(FILE *stream, ParFileSection *section, int32_t pos, int32_t index, void *dest, char type);

// Reads one line into line (which holds max + 1 bytes; max is at most
// PARFILE_MAX_LINE) without its end (LF, CR LF or Ctrl-Z; a lone CR also
// takes the next byte). Returns the characters consumed including the line
// end (an empty line gives 1), 0 at the end of the file, -4 for a line
// longer than max.
int read_string(FILE *stream, char *line, int max);

// First character of text that is not a blank, a tab or Ctrl-Z (26).
char *remove_leading_spaces(char *text);
const char *remove_leading_spaces(const char *text);

// Writes "name = value\n" for keyword row `index` to out, the name lower
// case and the value formatted by letter (B, I, L signed; U unsigned; X hex
// with 0x; C; D and F "%.16g"; S text). With copy set, the keyword's old line
// in the input section supplies its trailing remainder (an inline comment),
// and the comment lines that follow it in the input are copied after the new
// line; the input is left at the first line not consumed. line, when not
// null, receives the line written (it holds PARFILE_MAX_LINE + 2 bytes; a
// longer line is cut there). 0, -1 for a bad index or a failed write, -4 for
// an input line longer than PARFILE_MAX_LINE.
int WriteModifiedParToFile(FILE *in, ParFileSection *section, int32_t pos, int32_t index, const void *value,
                           char type, char *line, FILE *out, int copy);
