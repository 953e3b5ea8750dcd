#pragma once
// Parameter store: typed, index-addressed sets built once from descriptor
// rows. Each parameter carries a type letter and is set and read through a
// 256-byte ParameterValue, limited by its minimum and maximum or by its list
// of allowed values (a discrete parameter).
//
// Letters and their representation (at the start of a slot or value):
//   B, I, L  32-bit signed       C  one byte          D  64-bit float
//   F        32-bit float        G  16-bit unsigned   H  16-bit signed
//   M, U     32-bit unsigned     S  text, 255 characters and a NUL
// Failures are reported through error() with the PARMST_* identifiers.
#include <cstddef>
#include <cstdint>

// One value in its type's representation, at the slot's start.
typedef unsigned char ParameterSlot[8];

#pragma pack(push, 1)
// One input row.
struct ParameterDescriptor {
  char type;         // type letter (either case)
  int16_t discrete;  // row of the discrete value table; negative: continuous
  double min;
  double max;
  double def;  // default; for S the index into the text table
};

// One parameter of a set.
struct ParameterRecord {
  int16_t index;     // position in the set
  char type;         // upper-case letter
  int16_t discrete;  // negative: continuous; else the list number from the
                     // build, then the current list position
  ParameterSlot value;  // for a continuous S: the address of its 256-byte text
  ParameterSlot min;
  ParameterSlot max;  // for a discrete parameter: the last list position
  ParameterSlot *list;  // max + 1 allowed values; null when continuous
};
#pragma pack(pop)
static_assert(sizeof(ParameterDescriptor) == 27, "descriptor rows are packed");
static_assert(offsetof(ParameterDescriptor, min) == 3 && offsetof(ParameterDescriptor, def) == 19);
static_assert(offsetof(ParameterRecord, value) == 5 && offsetof(ParameterRecord, list) == 29);
static_assert(sizeof(ParameterRecord) == 29 + sizeof(void *), "records are packed");

// A set owns its array, records, lists and text buffers.
struct ParameterSet {
  int16_t built;  // 1 when the set was built completely
  int16_t count;
  ParameterRecord **records;
};

// Carries one value between the store and its users.
struct ParameterValue {
  alignas(8) char data[256];
};
static_assert(sizeof(ParameterValue) == 256);

// A discrete value table row: up to 15 allowed values.
typedef float DiscreteValueRow[15];

// Builds a set of count parameters from rows; texts gives the defaults of S
// parameters (an entry for every S default; null: empty texts), discrete the
// lists (may be null when no row has one). The
// caller's tables are only read. Returns null when the set itself cannot be
// allocated; check built before use.
ParameterSet *create_parameter_set(void *reserved, const char *name, const ParameterDescriptor *rows,
                                   const char *const *texts, const DiscreteValueRow *discrete, int16_t count);
// Fills the records of set; built becomes 1 on success. 0, or
//   -1 no set or no rows, -3 out of memory, -4 a list longer than 15,
//   -5 a discrete row without a list.
int read_parameter_set(ParameterSet *set, const ParameterDescriptor *rows, const char *name,
                       const char *const *texts, const DiscreteValueRow *discrete);
// A deep copy (own lists and text buffers); built 1 only when complete.
ParameterSet *duplicate_parameter_set(void *reserved, const ParameterSet *source);
void delete_parameter_set(ParameterSet *set);

// 0; -3 index out of range; -1 value not in a discrete parameter's list.
int set_parameter(ParameterSet *set, int index, ParameterValue value);
// Selects a list position (limited to the list); 0, or -1 when the index is
// out of range or the parameter is continuous.
int set_parameter_index(ParameterSet *set, int index, int position);
// The value, rest of the buffer zero; out of range: the 32-bit integer 1234.
ParameterValue read_parameter(ParameterSet *set, int index);
// The discrete position field; -1 out of range.
int read_parameter_index(ParameterSet *set, int index);
// The type letter; '?' out of range.
char parameter_type(ParameterSet *set, int index);

// Position of the first list entry equal to value; -1 when none matches, the
// parameter is continuous or its letter is not the function's own.
int i_discrete_index(ParameterSet *set, int index, int32_t value);
int h_discrete_index(ParameterSet *set, int index, int16_t value);
int g_discrete_index(ParameterSet *set, int index, uint16_t value);
int l_discrete_index(ParameterSet *set, int index, int32_t value);
int m_discrete_index(ParameterSet *set, int index, uint32_t value);
int f_discrete_index(ParameterSet *set, int index, float value);
int c_discrete_index(ParameterSet *set, int index, char value);

namespace parmst_testing {
// Test seam: the nth allocation of the store from now on fails (0 = never).
void fail_allocation(int nth);
}  // namespace parmst_testing
