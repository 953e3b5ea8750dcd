// Keeps resources/kmv_err.dat complete: every identifier the code passes to
// error() must have a line there, or the program ends with exit code 2.
// Collected from the source tree:
//   - direct calls, written error("IDENT", ...);
//   - every string literal of a table that follows the line comment
//     "// error identifiers", up to the table's closing "};".
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/testsupport/testsupport.h"

namespace fs = std::filesystem;

namespace {

const char *const kScannedDirs[] = {"app", "modules", "support", "pci", "platform"};

struct Entry {
  char severity = 0;
  std::string format;
};

struct Use {
  std::string id;
  std::string where;  // file:line
  int args = -1;      // arguments after the identifier; -1 for a table entry
};

bool is_source(const fs::path &p) {
  const std::string e = p.extension().string();
  return e == ".cpp" || e == ".h" || e == ".hpp" || e == ".cc" || e == ".c";
}

bool is_word(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Reads the literal starting at s[i] == '"'; i ends behind its closing quote.
std::string read_literal(const std::string &s, size_t &i) {
  std::string out;
  for (++i; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) ++i;
    out += s[i];
  }
  ++i;
  return out;
}

void skip_space(const std::string &s, size_t &i) {
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
}

// Counts the arguments of a call from just behind its first one up to the
// closing parenthesis.
int count_more_args(const std::string &s, size_t i) {
  int depth = 0;
  int commas = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      const char q = c;
      for (++i; i < s.size() && s[i] != q; ++i)
        if (s[i] == '\\') ++i;
    } else if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}') {
      if (depth == 0) return commas;
      --depth;
    } else if (c == ',' && depth == 0) {
      ++commas;
    }
  }
  return commas;
}

int line_of(const std::string &s, size_t pos) {
  return 1 + static_cast<int>(std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
}

void scan_direct_calls(const std::string &text, const std::string &file, std::vector<Use> &uses) {
  for (size_t at = text.find("error"); at != std::string::npos; at = text.find("error", at + 5)) {
    if (at > 0 && is_word(text[at - 1])) continue;
    size_t i = at + 5;
    if (i < text.size() && is_word(text[i])) continue;
    skip_space(text, i);
    if (i >= text.size() || text[i] != '(') continue;
    ++i;
    skip_space(text, i);
    if (i >= text.size() || text[i] != '"') continue;
    Use u;
    u.where = file + ":" + std::to_string(line_of(text, at));
    u.id = read_literal(text, i);
    u.args = count_more_args(text, i);
    uses.push_back(u);
  }
}

void scan_tables(const std::string &text, const std::string &file, std::vector<Use> &uses) {
  std::istringstream in(text);
  std::string line;
  int n = 0;
  bool inside = false;
  while (std::getline(in, line)) {
    ++n;
    size_t b = line.find_first_not_of(" \t");
    const std::string trimmed = b == std::string::npos ? "" : line.substr(b, line.find_last_not_of(" \t\r") - b + 1);
    if (!inside) {
      inside = trimmed == "// error identifiers";
      continue;
    }
    const size_t end = line.find("};");
    const std::string part = line.substr(0, end);
    for (size_t i = part.find('"'); i != std::string::npos && i < part.size(); i = part.find('"', i)) {
      std::string id = read_literal(part, i);
      if (!id.empty()) uses.push_back({id, file + ":" + std::to_string(n), -1});  // "" is a hole, not a name
    }
    if (end != std::string::npos) inside = false;
  }
}

std::vector<Use> collect_uses() {
  std::vector<Use> uses;
  const fs::path root = TRQ_SOURCE_DIR;
  for (const char *dir : kScannedDirs) {
    if (!fs::exists(root / dir)) continue;
    for (const auto &e : fs::recursive_directory_iterator(root / dir)) {
      if (!e.is_regular_file() || !is_source(e.path())) continue;
      const std::string text = testsupport::read_file(e.path().string());
      const std::string rel = fs::relative(e.path(), root).string();
      scan_direct_calls(text, rel, uses);
      scan_tables(text, rel, uses);
    }
  }
  return uses;
}

// Entry lines of the file as error() reads them; malformed ones are listed.
std::map<std::string, Entry> read_entries(std::vector<std::string> &problems) {
  std::map<std::string, Entry> entries;
  std::istringstream in(testsupport::read_file(testsupport::source_path("resources/kmv_err.dat")));
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (line.empty() || !std::isalpha(static_cast<unsigned char>(line[0]))) continue;
    const std::string where = "kmv_err.dat:" + std::to_string(n) + ": ";
    const size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    if (blank == std::string::npos || key.find('\t') != std::string::npos) {
      problems.push_back(where + "the key must be followed by a blank");
      continue;
    }
    const size_t sev = line.find_first_not_of(" \t", blank);
    const size_t open = line.find('"', blank);
    const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    if (sev == std::string::npos || std::string("EWF").find(line[sev]) == std::string::npos || sev + 1 >= line.size() ||
        !std::isspace(static_cast<unsigned char>(line[sev + 1])))
      problems.push_back(where + key + " needs a severity letter E, W or F");
    if (close == std::string::npos) problems.push_back(where + key + " needs its message in double quotes");
    if (entries.count(key)) problems.push_back(where + key + " is listed twice (the first line wins)");
    if (sev != std::string::npos && close != std::string::npos && !entries.count(key))
      entries[key] = {line[sev], line.substr(open + 1, close - open - 1)};
  }
  return entries;
}

// Arguments a printf format takes ("%*d" takes two).
int conversions(const std::string &f) {
  int n = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') continue;
    if (i + 1 < f.size() && f[i + 1] == '%') {
      ++i;
      continue;
    }
    for (++i; i < f.size() && std::string("-+ #0123456789.*'hlLqjzt").find(f[i]) != std::string::npos; ++i)
      if (f[i] == '*') ++n;
    ++n;
  }
  return n;
}

TEST(ErrorTextFile, EveryLineIsWellFormed) {
  std::vector<std::string> problems;
  const auto entries = read_entries(problems);
  EXPECT_FALSE(entries.empty());
  for (const std::string &p : problems) ADD_FAILURE() << p;
}

TEST(ErrorTextFile, HoldsEveryIdentifierTheCodeReports) {
  std::vector<std::string> problems;
  const auto entries = read_entries(problems);
  const std::vector<Use> uses = collect_uses();
  ASSERT_FALSE(uses.empty()) << "no error() calls found under " << TRQ_SOURCE_DIR;
  std::set<std::string> missing;
  for (const Use &u : uses) {
    if (!entries.count(u.id) && missing.insert(u.id).second)
      ADD_FAILURE() << "\"" << u.id << "\" (" << u.where << ") has no line in resources/kmv_err.dat";
  }
}

TEST(ErrorTextFile, DirectCallsPassWhatTheirTextNeeds) {
  std::vector<std::string> problems;
  const auto entries = read_entries(problems);
  for (const Use &u : collect_uses()) {
    const auto e = entries.find(u.id);
    if (u.args < 0 || e == entries.end()) continue;
    const int needed = conversions(e->second.format);
    EXPECT_GE(u.args, needed) << u.where << ": error(\"" << u.id << "\") passes " << u.args
                              << " argument(s), its text \"" << e->second.format << "\" needs " << needed;
  }
}

TEST(ErrorTextFile, ScannerFindsCallsAndTables) {
  const std::string code =
      "x = error(\"A_ONE\", 1, f(2, 3));\n"
      "output_error(\"NOT_ME\", 'E');\n"
      "error (\n  \"B_TWO\");\n"
      "// error identifiers\n"
      "static const char *t[] = {\"C_ONE\", \"\",\n"
      "  \"C_TWO\"};\n"
      "const char *u = \"NOT_IN_TABLE\";\n";
  std::vector<Use> uses;
  scan_direct_calls(code, "f", uses);
  scan_tables(code, "f", uses);
  ASSERT_EQ(uses.size(), 4u);
  EXPECT_EQ(uses[0].id, "A_ONE");
  EXPECT_EQ(uses[0].args, 2);
  EXPECT_EQ(uses[1].id, "B_TWO");
  EXPECT_EQ(uses[1].args, 0);
  EXPECT_EQ(uses[1].where, "f:3");
  EXPECT_EQ(uses[2].id, "C_ONE");
  EXPECT_EQ(uses[3].id, "C_TWO");
  EXPECT_EQ(conversions("a %s %*d %% %-5.2f"), 4);
}

}  // namespace
