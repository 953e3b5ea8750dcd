#include "support/Util_fun_parfile.h"

#include <array>
#include <cctype>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/win/files.h"

namespace {

using LineBuffer = std::array<char, PARFILE_MAX_LINE + 2>;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == 26; }
bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
void upper_case(char *s) {
  for (; *s != '\0'; ++s) *s = upper(*s);
}

std::string_view row_name(const ParFileKeyword &row) {
  return std::string_view(row.name, strnlen(row.name, sizeof row.name));
}

bool valid_row(const ParFileSection *section, int32_t index) {
  return section != nullptr && section->keywords != nullptr && index >= 0 && index < section->count;
}

// One keyword line of a section, split up as the readers see it.
struct KeywordLine {
  std::string_view keyword;  // up to the first space or '=' (a tab stays in it)
  const char *word;          // first word after the first '=', or null
  size_t word_len;
};

KeywordLine split_keyword_line(const char *s) {
  KeywordLine k{std::string_view(s, std::strcspn(s, " =")), nullptr, 0};
  const char *eq = std::strchr(s, '=');
  if (eq == nullptr) return k;
  const char *w = eq + 1;
  while (is_space(*w)) ++w;
  if (*w == '\0') return k;
  size_t n = 0;
  while (w[n] != '\0' && !is_space(w[n])) ++n;
  k.word = w;
  k.word_len = n;
  return k;
}

bool same_upper(std::string_view keyword, std::string_view name) {
  if (keyword.size() != name.size()) return false;
  for (size_t i = 0; i < keyword.size(); ++i) {
    if (upper(keyword[i]) != name[i]) return false;
  }
  return true;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The "%x" reading: optional sign, optional 0x, hex digits up to the first
// other character. More than 32 bits saturate; no digits give 0.
uint32_t parse_hex(const char *s) {
  bool neg = false;
  if (*s == '+' || *s == '-') neg = *s++ == '-';
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
  uint64_t v = 0;
  for (; std::isxdigit(static_cast<unsigned char>(*s)); ++s) {
    const int d = std::isdigit(static_cast<unsigned char>(*s)) ? *s - '0' : upper(*s) - 'A' + 10;
    v = v * 16 + static_cast<uint64_t>(d);
    if (v > UINT32_MAX) v = UINT32_MAX + uint64_t{1};
  }
  const uint32_t u = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  return neg ? 0u - u : u;
}

// The atoi reading: optional sign, decimal digits up to the first other
// character; saturates far beyond the 32-bit range.
int64_t parse_dec(const char *s) {
  bool neg = false;
  if (*s == '+' || *s == '-') neg = *s++ == '-';
  int64_t v = 0;
  for (; std::isdigit(static_cast<unsigned char>(*s)); ++s) {
    if (v < (int64_t{1} << 40)) v = v * 10 + (*s - '0');
  }
  return neg ? -v : v;
}

int32_t to_int32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// The 32-bit value of a word for B, I, L and U (U keeps atoi's bit pattern
// for negative words).
uint32_t integer_word(const char *word, char type) {
  if (std::strpbrk(word, "xXhH") != nullptr) return parse_hex(word);
  const int64_t v = parse_dec(word);
  if (type == 'U' && v > 0) return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  return static_cast<uint32_t>(to_int32(v));
}

// double to float without the undefined conversion of out-of-range values.
float narrow(double d) {
  if (std::isnan(d)) return NAN;
  if (d > FLT_MAX) return INFINITY;
  if (d < -FLT_MAX) return -INFINITY;
  return static_cast<float>(d);
}

// End of an S value starting at v: the first ';' or the line end, trailing
// spaces (not tabs) cut.
const char *text_value_end(const char *v) {
  const char *e = v + std::strcspn(v, ";");
  while (e > v && e[-1] == ' ') --e;
  return e;
}

void store_value(void *dest, char type, const char *word, size_t word_len) {
  if (dest == nullptr) return;
  std::array<char, PARFILE_MAX_LINE + 1> w{};
  std::memcpy(w.data(), word, word_len < size_t{PARFILE_MAX_LINE} ? word_len : size_t{PARFILE_MAX_LINE});
  switch (type) {
    case 'B':
    case 'I':
    case 'U':
    case 'L': {
      const uint32_t v = integer_word(w.data(), type);
      std::memcpy(dest, &v, sizeof v);
      break;
    }
    case 'C': {
      const char c = upper(w[0]);
      std::memcpy(dest, &c, 1);
      break;
    }
    case 'D': {
      const double d = std::strtod(w.data(), nullptr);
      std::memcpy(dest, &d, sizeof d);
      break;
    }
    case 'F': {
      const float f = narrow(std::strtod(w.data(), nullptr));
      std::memcpy(dest, &f, sizeof f);
      break;
    }
    case 'S': {
      const char *e = text_value_end(word);
      const size_t n = static_cast<size_t>(e - word);
      std::memcpy(dest, word, n);
      static_cast<char *>(dest)[n] = '\0';
      break;
    }
    default:
      break;
  }
}

bool seek_to(FILE *stream, long pos) { return std::fseek(stream, pos, SEEK_SET) == 0; }

bool write_text(FILE *out, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

bool letter_has_value(char type) { return std::strchr("BILUXCDFS", type) != nullptr && type != '\0'; }

// "name = value" of the writer, the name lower case.
void format_assignment(std::string &out, std::string_view name, const void *value, char type) {
  for (char c : name) out += lower(c);
  out += " = ";
  if (!letter_has_value(type)) return;
  char buf[64];
  buf[0] = '\0';
  switch (type) {
    case 'B':
    case 'I':
    case 'L': {
      int32_t v;
      std::memcpy(&v, value, sizeof v);
      std::snprintf(buf, sizeof buf, "%" PRId32, v);
      break;
    }
    case 'U':
    case 'X': {
      uint32_t v;
      std::memcpy(&v, value, sizeof v);
      std::snprintf(buf, sizeof buf, type == 'U' ? "%" PRIu32 : "0x%" PRIx32, v);
      break;
    }
    case 'C':
      std::snprintf(buf, sizeof buf, "%c", *static_cast<const char *>(value));
      break;
    case 'D': {
      double v;
      std::memcpy(&v, value, sizeof v);
      std::snprintf(buf, sizeof buf, "%.16g", v);
      break;
    }
    case 'F': {
      float v;
      std::memcpy(&v, value, sizeof v);
      std::snprintf(buf, sizeof buf, "%.16g", static_cast<double>(v));
      break;
    }
    case 'S': {
      const char *s = static_cast<const char *>(value);
      out.append(s, strnlen(s, PARFILE_MAX_LINE));
      return;
    }
    default:
      return;
  }
  out += buf;
}

// Scans the input section for the keyword's old line and returns what
// followed its value (an inline comment), "" when the keyword is absent. The
// input is left after the old line, or at the start of the next header.
int old_line_remainder(FILE *in, int32_t pos, std::string_view name, char type, std::string &remainder) {
  if (!seek_to(in, pos)) return 0;
  LineBuffer line;
  for (;;) {
    const long start = std::ftell(in);
    const int r = read_string(in, line.data(), PARFILE_MAX_LINE);
    if (r == 0) return 0;
    if (r < 0) return r;
    const char *s = remove_leading_spaces(line.data());
    if (*s == '[') {
      seek_to(in, start);  // the header stays on its own line for the caller's copy
      return 0;
    }
    if (*s == ';') continue;
    const KeywordLine k = split_keyword_line(s);
    if (!same_ignoring_case(k.keyword, name) || k.word == nullptr) continue;
    remainder = type == 'S' ? text_value_end(k.word) : k.word + k.word_len;
    return 0;
  }
}

}  // namespace

const char *remove_leading_spaces(const char *text) {
  if (text == nullptr) return nullptr;
  while (is_blank(*text)) ++text;
  return text;
}
char *remove_leading_spaces(char *text) {
  return const_cast<char *>(remove_leading_spaces(static_cast<const char *>(text)));
}

int read_string(FILE *stream, char *line, int max) {
  if (stream == nullptr || line == nullptr) return 0;
  if (max < 1) {
    line[0] = '\0';
    return -4;
  }
  if (max > PARFILE_MAX_LINE) max = PARFILE_MAX_LINE;
  const long p = std::ftell(stream);
  if (p < 0) return 0;
  // One byte beyond max tells a line of exactly max characters from a longer one.
  LineBuffer buf;
  const size_t want = static_cast<size_t>(max) + 1;
  const size_t n = std::fread(buf.data(), 1, want, stream);
  if (n == 0) return 0;
  size_t i = 0;
  while (i < n && buf[i] != '\n' && buf[i] != '\r' && buf[i] != 26) ++i;
  if (i < n) {
    std::memcpy(line, buf.data(), i);
    line[i] = '\0';
    long next = p + static_cast<long>(i) + 1;
    if (buf[i] == '\r' && !(i + 1 == n && n < want)) ++next;  // the CR's partner byte
    if (!seek_to(stream, next)) return -4;
    return static_cast<int>(i) + 1;
  }
  if (n < want) {  // the file's last line, without a line end
    std::memcpy(line, buf.data(), n);
    line[n] = '\0';
    return static_cast<int>(n) + 1;
  }
  std::memcpy(line, buf.data(), static_cast<size_t>(max));
  line[max] = '\0';
  return -4;
}

int check_if_valid(const char *path, const char *pattern) {
  if (path == nullptr || pattern == nullptr) return -1;
  FILE *f = platform::files::fopen_plain(path, "rb");
  if (f == nullptr) return -1;
  if (std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return -1;
  }
  LineBuffer line;
  int r = 1;  // before the first read the state counts as an empty line
  while (r == 1) r = read_string(f, line.data(), PARFILE_MAX_LINE);
  std::fclose(f);
  if (r < 0) return r;
  if (r == 0) return -2;
  upper_case(line.data());
  return std::strstr(line.data(), pattern) != nullptr ? 0 : -2;
}

int create_parset(ParFileSection *section, int32_t n, const char *const names[]) {
  if (section == nullptr) return -1;
  if (n < 0) {
    section->count = 0;
    section->keywords = nullptr;
    return -1;
  }
  section->count = n;
  section->keywords = nullptr;
  if (n == 0) return 0;
  auto *rows = static_cast<ParFileKeyword *>(std::calloc(static_cast<size_t>(n), sizeof(ParFileKeyword)));
  if (rows == nullptr) return -1;
  for (int32_t i = 0; i < n; ++i) {
    rows[i].index = i;
    const char *name = names != nullptr ? names[i] : nullptr;
    if (name != nullptr) std::memcpy(rows[i].name, name, strnlen(name, sizeof rows[i].name - 1));
  }
  section->keywords = rows;
  return 0;
}

int32_t get_section_pos(FILE *stream, ParFileSection *section) {
  if (stream == nullptr || section == nullptr || section->pattern == nullptr) return -1;
  std::rewind(stream);
  LineBuffer line;
  while (read_string(stream, line.data(), PARFILE_MAX_LINE) > 0) {
    char *s = remove_leading_spaces(line.data());
    if (*s != '[') continue;
    upper_case(s);
    if (std::strstr(s, section->pattern) == nullptr) continue;
    const long pos = std::ftell(stream);
    return (pos < 0 || pos > INT32_MAX) ? -1 : static_cast<int32_t>(pos);
  }
  return -1;
}

int get_parameter(FILE *stream, ParFileSection *section, int32_t pos, int32_t index, void *dest, char type) {
  if (stream == nullptr || !valid_row(section, index) || pos < 0) return 0;
  if (!seek_to(stream, pos)) return 0;
  const std::string_view name = row_name(section->keywords[index]);
  LineBuffer line;
  for (;;) {
    const int r = read_string(stream, line.data(), PARFILE_MAX_LINE);
    if (r <= 0) return r;
    const char *s = remove_leading_spaces(line.data());
    if (*s == '[') return 0;
    if (*s == ';') continue;
    const KeywordLine k = split_keyword_line(s);
    if (!same_upper(k.keyword, name) || k.word == nullptr) continue;
    store_value(dest, type, k.word, k.word_len);
    return 1;
  }
}

int WriteModifiedParToFile(FILE *in, ParFileSection *section, int32_t pos, int32_t index, const void *value,
                           char type, char *line, FILE *out, int copy) {
  if (!valid_row(section, index) || out == nullptr) return -1;
  // The row keeps its upper-case name: later reads of the same rows still match.
  const std::string_view name = row_name(section->keywords[index]);
  if (value == nullptr && letter_has_value(type)) return -1;
  std::string text;
  format_assignment(text, name, value, type);
  if (copy && in != nullptr && pos >= 0) {
    std::string remainder;
    const int r = old_line_remainder(in, pos, name, type, remainder);
    if (r < 0) return r;
    text += remainder;
  }
  text += '\n';
  if (line != nullptr) {
    const size_t n = text.size() < PARFILE_MAX_LINE + 1 ? text.size() : PARFILE_MAX_LINE + 1;
    std::memcpy(line, text.data(), n);
    line[n] = '\0';
  }
  if (!write_text(out, text)) return -1;
  if (!copy || in == nullptr) return 0;
  // Copy the comment lines that follow; the first other line stays unread.
  LineBuffer comment;
  for (;;) {
    const long start = std::ftell(in);
    const int r = read_string(in, comment.data(), PARFILE_MAX_LINE);
    if (r == 0) return 0;
    if (r < 0) return r;
    if (*remove_leading_spaces(comment.data()) != ';') {
      seek_to(in, start);
      return 0;
    }
    if (!write_text(out, comment.data()) || !write_text(out, "\n")) return -1;
  }
}
