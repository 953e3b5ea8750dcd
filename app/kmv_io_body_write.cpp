#include <cstdio>
#include <cstring>

#include "app/kmv_io_body.h"
#include "app/kmv_io_values.h"
#include "app/kmv_syst.h"

namespace {

constexpr char kBegin[] = "SYS_PARA_BEGIN:";
constexpr char kEnd[] = "SYS_PARA_END:";

// Adds a line with its NUL to the size, and to dst when there is one.
void emit(char *dst, int *size, const char *line) {
  const int n = static_cast<int>(std::strlen(line)) + 1;
  if (dst != nullptr) std::memcpy(dst + *size, line, static_cast<std::size_t>(n));
  *size += n;
}

// A value text must stay one line: line ends become blanks (as the reader
// would make them).
void one_line(char *text) {
  for (; *text != '\0'; ++text)
    if (*text == '\r' || *text == '\n') *text = ' ';
}

}  // namespace

int store_body(char *dst, const SetupSlots &slots) {
  int size = 0;
  emit(dst, &size, kBegin);
  for (short slot = 0; slot < slots.count; ++slot) {
    if (slots.library_active(slot) != 1 || slots.sets[slot] == nullptr) continue;
    ParameterSet *set = slots.sets[slot];
    for (int j = 0; j < set->count; ++j) {
      const ParameterValue value = read_parameter(set, j);
      const char letter = parameter_type(set, j);
      const char *name = j < SETUP_PARAMETER_COUNT ? modparm_strings[j] : "";
      // Room for the prefix, a name and a whole S value.
      char text[SETUP_TEXT_MAX + 1];
      char line[SETUP_TEXT_MAX + 80];
      if (format_typed_value(letter, value, text, sizeof text)) {
        one_line(text);
        std::snprintf(line, sizeof line, "#MP%d [%s,%c,%s]", slot + 1, name, letter, text);
      } else {
        std::snprintf(line, sizeof line, "#MP%d [%s,%c,", slot + 1, name, letter);
      }
      emit(dst, &size, line);
    }
  }
  emit(dst, &size, kEnd);
  if (dst != nullptr) dst[size] = '\0';
  return size + 1;
}
