#pragma once
// The body of a setup file: the entry lines between "SYS_PARA_BEGIN:" and
// "SYS_PARA_END:", one per parameter of every active module slot:
//   #MP<slot+1> [<name>,<type letter>,<value text>]
// Bodies travel as line lists: NUL-terminated lines ended by an empty line.

#include <cstdint>
#include <string_view>

#include "support/Parmst.h"

// Names of the 30 module parameters, by parameter index (KMVParameterId).
constexpr int SETUP_PARAMETER_COUNT = 30;
extern const char *const modparm_strings[SETUP_PARAMETER_COUNT];

// Writes the body of every active slot into dst and returns its size in
// bytes; dst null only asks for the size.
int store_usbsetup(char *dst);
// Applies a body to the modules (mode 2; any other mode does nothing). Lines
// are upper-cased in place. Each bad line is reported once through error()
// and skipped; the sound lines are applied. A module that took a block saved
// from another module (by the block's serial entry) is reported once.
void load_usbsetup(char *body, int mode);
// Number of distinct module blocks of a body, at most 2.
int count_setup_modules(char *body);

// The module slots of one program variant as a setup body sees them.
struct SetupSlots {
  int count;                        // slots; entries name them 1..count
  ParameterSet *const *sets;        // one per slot
  int16_t (*library_active)(int16_t);  // written: slots the library runs
  const short *program_active;      // applied: slots the program uses
  // The slot of an entry's module number, given the body's first number.
  short (*slot_of)(int number, int first_number);
  int (*apply)(short slot, int par_id, ParameterValue value);
  const ParameterDescriptor *rows;  // the sets' rows, for a slot without a set
  int row_count;
  // The serial number of the slot's module, against which a block's serial
  // entry (parameter 0) tells values saved from another module; empty, or a
  // null function: not told.
  std::string_view (*module_serial)(short slot);
};
int store_body(char *dst, const SetupSlots &slots);
void load_body(char *body, int mode, const SetupSlots &slots);

// The PCI variant: up to eight cards, entry "#MPn" for card n - 1.
int store_setup(char *dst);
void load_setup(char *body, int mode);
