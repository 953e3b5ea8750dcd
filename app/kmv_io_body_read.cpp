#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "app/kmv_io_body.h"
#include "app/kmv_io_values.h"
#include "app/kmv_syst.h"
#include "support/Qv_err.h"
#include "support/Qv_file.h"

namespace {

constexpr std::string_view kBegin = "SYS_PARA_BEGIN:";
constexpr std::string_view kEnd = "SYS_PARA_END:";
// A report shows at most this much of a bad line.
constexpr std::size_t kShownLine = 120;

// Each report is a box the operator must close: a file of many bad lines
// shows the first few and then one count of the rest.
constexpr int kShownReports = 5;

class BadLines {
 public:
  // Whether the next report may be shown; counts it otherwise.
  bool show() {
    if (shown_ < kShownReports) {
      ++shown_;
      return true;
    }
    ++unshown_;
    return false;
  }
  void line(std::string_view text) {
    if (!show()) return;
    std::string shown(text.substr(0, kShownLine));
    if (text.size() > kShownLine) shown += "...";
    error("IO_ERR_USCMD", shown.c_str());
  }
  void summary() const {
    if (unshown_ > 0) error("SETUP_MORE_BAD", unshown_);
  }

 private:
  int shown_ = 0;
  int unshown_ = 0;
};

// A serial number as a save and a load make it: the line form of the
// container, in capitals; two of them are the same module when equal.
std::string read_back_form(std::string_view serial) {
  std::string s(serial.substr(0, SETUP_TEXT_MAX));
  s.resize(qv_strcompress(s.data()));
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Blocks applied to another module than the one they were saved from. Each
// module is named once per load, when its values are in; a block or a module
// without a serial number tells nothing.
class OtherModules {
  static constexpr std::size_t kMostSlots = 8;

 public:
  explicit OtherModules(const SetupSlots &slots) : slots_(slots) {}
  // The serial entry of a block that went to slot.
  void saw(short slot, std::string_view saved) {
    if (slots_.module_serial == nullptr || slot < 0 || static_cast<std::size_t>(slot) >= saved_.size() ||
        !saved_[slot].empty())
      return;
    const std::string_view own = slots_.module_serial(slot);
    const std::string mine = read_back_form(own);
    std::string theirs = read_back_form(saved);
    if (mine.empty() || theirs.empty() || mine == theirs) return;
    if (theirs.size() > kShownLine) theirs = theirs.substr(0, kShownLine) + "...";
    saved_[slot] = theirs;
    own_[slot] = own;
  }
  void report() const {
    for (std::size_t slot = 0; slot < saved_.size(); ++slot)
      if (!saved_[slot].empty())
        error("SETUP_OTHER_MODULE", saved_[slot].c_str(), static_cast<int>(slot) + 1, own_[slot].c_str());
  }

 private:
  const SetupSlots &slots_;
  std::array<std::string, kMostSlots> saved_;
  std::array<std::string, kMostSlots> own_;
};

// One entry "#MP<n> [<name>,<letter>,<value>]", taken apart within its line.
struct Entry {
  int number = 0;
  std::string_view name;
  char letter = 0;
  std::string_view value;
};

bool split_entry(std::string_view line, int slots, Entry *e) {
  if (line.substr(0, 3) != "#MP") return false;
  std::size_t i = 3;
  int number = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && number < 100)
    number = number * 10 + (line[i++] - '0');
  if (i == 3 || number < 1 || number > slots) return false;
  const std::size_t open = line.find('[', i);
  if (open == std::string_view::npos) return false;
  const std::size_t comma = line.find(',', open + 1);
  if (comma == std::string_view::npos || comma + 1 >= line.size()) return false;
  const std::size_t comma2 = line.find(',', comma + 2);
  if (comma2 == std::string_view::npos) return false;
  const std::size_t close = line.find(']', comma2 + 1);
  if (close == std::string_view::npos) return false;
  e->number = number;
  e->name = line.substr(open + 1, comma - open - 1);
  e->letter = line[comma + 1];
  e->value = line.substr(comma2 + 1, close - comma2 - 1);
  return true;
}

int find_parameter(std::string_view name) {
  for (int j = 0; j < SETUP_PARAMETER_COUNT; ++j)
    if (name == modparm_strings[j]) return j;
  return -1;
}

// The parameter's own letter: from the slot's set, else from the sets' rows;
// 0 when the variant's sets have no such parameter.
char own_letter(const SetupSlots &slots, short slot, int j) {
  if (slot >= 0 && slot < slots.count && slots.sets[slot] != nullptr && j < slots.sets[slot]->count)
    return parameter_type(slots.sets[slot], j);
  if (j >= slots.row_count) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(slots.rows[j].type)));
}

}  // namespace

void load_body(char *body, int mode, const SetupSlots &slots) {
  if (mode != 2 || body == nullptr) return;
  // The entries lie between the start line and the end line (or the list's end).
  char *line = body;
  for (; *line != '\0'; line += std::strlen(line) + 1)
    if (kBegin == line) break;
  if (*line == '\0') return;
  line += std::strlen(line) + 1;

  int first_number = 0;
  BadLines bad;
  OtherModules others(slots);
  for (; *line != '\0'; line += std::strlen(line) + 1) {
    if (kEnd == line) break;
    for (char *c = line; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    const std::string_view text(line);
    Entry e;
    if (!split_entry(text, slots.count, &e)) {
      bad.line(text);
      continue;
    }
    if (first_number == 0) first_number = e.number;
    const short slot = slots.slot_of(e.number, first_number);

    const int j = find_parameter(e.name);
    if (j < 0) {
      if (bad.show()) error("UNKNOWN_PAR", std::string(e.name.substr(0, kShownLine)).c_str());
      continue;
    }
    const char own = own_letter(slots, slot, j);
    if (own == 0) {
      if (bad.show()) error("UNKNOWN_PAR", modparm_strings[j]);
      continue;
    }
    if (e.letter != 'X' && e.letter != own) {
      if (bad.show()) error("WRONG_TYPE", modparm_strings[j], static_cast<int>(e.letter), 0);
      continue;
    }
    // An X entry is read in the parameter's own type.
    const std::string value(e.value.substr(0, SETUP_TEXT_MAX));
    ParameterValue v{};
    if (parse_typed_value(e.letter == 'X' ? own : e.letter, value.c_str(), &v) != 0) {
      bad.line(text);
      continue;
    }
    // Entries for a slot that holds no active module are skipped silently.
    if (slot < 0 || slot >= slots.count || slots.program_active[slot] != 1 || slots.sets[slot] == nullptr) continue;
    slots.apply(slot, j, v);
    if (j == 0) others.saw(slot, value);  // parameter 0 is the serial entry
  }
  bad.summary();
  others.report();
}
