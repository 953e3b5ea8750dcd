#pragma once
// Identification lines of a setup file: the eight standard lines written on
// save, their display on the load and save dialogs, and the identifiers that
// mark a file as a setup file of this program or of the PCI variant.
#include <string>

#include "support/File.h"

// 0x04 "TRQ Setup File" 0x04, and the PCI variant's 0x04 "KMV Setup File" 0x04.
extern const char setupusb_identifier[];
extern const char setup_identifier[];

// One line under construction: the prefix ("TITLE : ") and the value behind it.
struct IdentLine {
  char text[128];
  int pos;  // where the value starts
};
constexpr int IDENT_LINE_COUNT = 8;
// Entries of the save dialog's values array: 1 version, 5 author, 6 company,
// 7 the first contents line, 8 .. 19 further lines up to the first null.
constexpr int IDENT_VALUE_COUNT = 20;

// Fills the eight lines for a file at path; values null stands for the
// automatic setup file written on quit. Every value is cut to fit its line.
void fillfilehdr(const char *path, IdentLine lines[IDENT_LINE_COUNT], char *values[]);

// Shows the identification of the file at path in the information box
// (control 4) of a load or save dialog panel; with fill_fields also the
// version (7), author (8), company (9) and contents (10) fields. *ok becomes
// fill_fields, or 1 when the identification could be read; a path holding
// '*' leaves it untouched.
void get_file_info(int fill_fields, const char *path, int panel, int *ok);
// The same for the setup files of either variant (its identifier).
void get_setup_file_info(const char *identifier, int fill_fields, const char *path, int panel, int *ok);
// The information box's line for a chosen file that cannot be opened:
// "Selected file doesn't exist\n", or what the name is instead of a file.
std::string missing_file_text(const char *path);
