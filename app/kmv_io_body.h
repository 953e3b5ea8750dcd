#pragma once
// The body of a setup file: the entry lines between "SYS_PARA_BEGIN:" and
// "SYS_PARA_END:", one per parameter of every active module slot:
//   #MP<slot+1> [<name>,<type letter>,<value text>]
// Bodies travel as line lists: NUL-terminated lines ended by an empty line.

// Names of the 30 module parameters, by parameter index (KMVParameterId).
constexpr int SETUP_PARAMETER_COUNT = 30;
extern const char *const modparm_strings[SETUP_PARAMETER_COUNT];

// Writes the body of every active slot into dst and returns its size in
// bytes; dst null only asks for the size.
int store_usbsetup(char *dst);
// Applies a body to the modules (mode 2; any other mode does nothing). Lines
// are upper-cased in place. Each bad line is reported once through error()
// and skipped; the sound lines are applied.
void load_usbsetup(char *body, int mode);
// Number of distinct module blocks of a body, at most 2.
int count_setup_modules(char *body);
