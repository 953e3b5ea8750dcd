#include "app/kmv_io_ident.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/kmv_io_globals.h"
#include "platform/ui/ui.h"
#include "platform/win/clock.h"
#include "platform/win/files.h"
#include "support/Qv_file.h"

const char setupusb_identifier[] = "\x04TRQ Setup File\x04";
const char setup_identifier[] = "\x04KMV Setup File\x04";

namespace {

constexpr const char *kPrefixes[IDENT_LINE_COUNT] = {"TITLE : ",  "VERSION : ", "REVISION : ", "DATE : ",
                                                     "TIME : ",   "AUTHOR : ",  "COMPANY : ",  "CONTENTS : "};
constexpr const char *kAutoContents = "Autoconfiguration setup file made by system on exit";

// Panel controls shared by the load and save dialogs.
enum { INFO_BOX = 4, VERSION_FIELD = 7, AUTHOR_FIELD = 8, COMPANY_FIELD = 9, CONTENTS_BOX = 10 };

void set_value(IdentLine &line, const char *value, std::size_t length) {
  const std::size_t room = sizeof line.text - 1 - static_cast<std::size_t>(line.pos);
  if (length > room) length = room;
  std::memcpy(line.text + line.pos, value, length);
  line.text[static_cast<std::size_t>(line.pos) + length] = '\0';
}

void set_value(IdentLine &line, const char *value) { set_value(line, value, std::strlen(value)); }

const char *given(char *values[], int index) {
  return values != nullptr && values[index] != nullptr && values[index][0] != '\0' ? values[index] : nullptr;
}

}  // namespace

void fillfilehdr(const char *path, IdentLine lines[IDENT_LINE_COUNT], char *values[]) {
  for (int i = 0; i < IDENT_LINE_COUNT; ++i) {
    std::snprintf(lines[i].text, sizeof lines[i].text, "%s", kPrefixes[i]);
    lines[i].pos = static_cast<int>(std::strlen(kPrefixes[i]));
  }
  // Title: the name after the last separator, up to its first dot.
  if (path == nullptr) path = "";
  std::size_t start = 0;
  for (std::size_t i = std::strlen(path); i > 1; --i) {
    const char c = path[i - 1];
    if (c == '\\' || c == '/' || c == ':') {
      start = i;
      break;
    }
  }
  const char *name = path + start;
  set_value(lines[0], name, std::strcspn(name, "."));

  const char *version = given(values, 1);
  set_value(lines[1], version ? version : "1");
  set_value(lines[2], "1.20");
  set_value(lines[3], DateStr());
  set_value(lines[4], TimeStr());
  if (values == nullptr) {
    set_value(lines[5], "System");
  } else {
    const char *author = given(values, 5);
    set_value(lines[5], author ? author : "Unknown");
  }
  const char *company = given(values, 6);
  set_value(lines[6], company ? company : "Unknown");
  if (values == nullptr)
    set_value(lines[7], kAutoContents);
  else
    set_value(lines[7], values[7] ? values[7] : "");
}

void get_file_info(int fill_fields, const char *path, int panel, int *ok) {
  get_setup_file_info(setupusb_identifier, fill_fields, path, panel, ok);
}

std::string missing_file_text(const char *path) {
  struct stat st {};
  const char *kind = path != nullptr && ::stat(path, &st) == 0 ? platform::files::kind_of(st.st_mode) : nullptr;
  if (kind == nullptr) return "Selected file doesn't exist\n";
  return std::string("Selected file is ") + kind + ", not a plain file\n";
}

void get_setup_file_info(const char *identifier, int fill_fields, const char *path, int panel, int *ok) {
  ResetTextBox(panel, INFO_BOX, "");
  if (path == nullptr || std::strchr(path, '*') != nullptr) return;
  if (ok) *ok = fill_fields;

  if (open_qvfile(setup_file, path, nullptr) < 0) {
    SetCtrlVal(panel, INFO_BOX, missing_file_text(path).c_str());
    unlink_qvfile(setup_file);
    return;
  }
  if (valid_qvfile(setup_file, identifier, 0) == 0) {
    SetCtrlVal(panel, INFO_BOX, "Selected file has not correct TRQ format\n");
    unlink_qvfile(setup_file);
    return;
  }
  const int size = get_info(setup_file, nullptr, identifier);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) + 2 : 0, '\0');
  if (size <= 0 || get_info(setup_file, buffer.data(), identifier) <= 0) {
    unlink_qvfile(setup_file);
    return;
  }
  unlink_qvfile(setup_file);
  if (ok) *ok = 1;
  if (fill_fields) ResetTextBox(panel, CONTENTS_BOX, "");

  int i = 0;
  for (const char *line : qv_strconvert(buffer.data())) {
    if (line == nullptr || line[0] == '\0') break;
    const std::string text = std::string(line) + "\n";
    if (i > 7) {
      if (fill_fields) SetCtrlVal(panel, CONTENTS_BOX, text);
      SetCtrlVal(panel, INFO_BOX, "                ");
    }
    SetCtrlVal(panel, INFO_BOX, text);
    const char *colon = std::strchr(line, ':');
    if (i <= 7 && fill_fields && colon != nullptr) {
      const char *value = colon + 1;
      while (*value == ' ') ++value;
      if (i == 1) SetCtrlVal(panel, VERSION_FIELD, value);
      if (i == 5) SetCtrlVal(panel, AUTHOR_FIELD, value);
      if (i == 6) SetCtrlVal(panel, COMPANY_FIELD, value);
      if (i == 7) SetCtrlVal(panel, CONTENTS_BOX, std::string(value) + "\n");
    }
    ++i;
  }
  SetCtrlAttribute(panel, INFO_BOX, ATTR_FIRST_VISIBLE_LINE, 0);
  SetCtrlAttribute(panel, INFO_BOX, ATTR_HSCROLL_OFFSET, 0);
  if (fill_fields) {
    SetCtrlAttribute(panel, CONTENTS_BOX, ATTR_FIRST_VISIBLE_LINE, 0);
    SetCtrlAttribute(panel, CONTENTS_BOX, ATTR_HSCROLL_OFFSET, 0);
  }
}
