#pragma once
// The operator program's module system: its own copy of every KMV-USB
// module's settings (one parameter set per slot), the one road by which a
// value reaches a module, and the state words the timer and the module
// columns share.
#include <cstdint>

#include "modules/kmv_fun.h"
#include "support/Parmst.h"

constexpr int KMV_SLOTS = 4;            // USB module slots
constexpr int KMV_PARAMETERS = 30;      // rows of each module's parameter set
constexpr int KMV_PAR_SERIAL = 0;       // the serial-number text, never sent
constexpr int KMV_PAR_DIGOUT = 29;

// ---- the module system ------------------------------------------------------

extern ParameterSet *modusb[KMV_SLOTS];         // "module_parameters" of each slot
extern KMVUSBModuleInfo usbmod_info[KMV_SLOTS];  // as last read
extern short act_mod[KMV_SLOTS];                 // 1: the slot's module is used here
extern short no_of_active_kmv;
extern short total_no_of_kmv;                    // slots with a module found
extern short st_trq;                             // module of column A
extern short nd_trq;                             // module of column B (st_trq with one module)
extern short mod_no;                             // first active module
extern short kmv_error;                          // library result of the last value sent
extern int hardware;                             // 1 hardware, 0 emulation
extern char module_type_text[20];                // "KMV-USB", also the DDE service name
extern int use_kmv_eeprom;

// Emulation request of the command line: module type (200 after -s, else 0),
// number of modules (-1 not given), first module (0 not forced).
extern unsigned char sim_switch;
extern int sim_mod_no;
extern int first_mod_no;

// Per module slot.
extern short out_enabled[KMV_SLOTS];      // bit k: outputs of connector k+1; bit 4: digital outputs
extern short cooling_on[KMV_SLOTS];       // bit k: cooler of connector k+1 on (as read back)
extern short connection_lost[KMV_SLOTS];  // 1 while the module's USB link is down
extern short ovld_alarm[KMV_SLOTS];       // bit k: connector k+1 overloaded
extern short cool_alarm[KMV_SLOTS];       // bit k: cooler of connector k+1 at its current limit

// Rows of each parameter set: index = KMVParameterId.
extern const ParameterDescriptor module_par_table[KMV_PARAMETERS];
// Names of the library's result codes by negated code; they are error identifiers.
constexpr int KMVDLL_ERROR_COUNT = 25;
extern const char *const kmvdll_error_strings[KMVDLL_ERROR_COUNT];
// The identifier of any result code; codes without a name of their own give "KMV_ERR_ID".
const char *kmvdll_error_id(int code);

// Builds the four parameter sets (start-up). 0, or -1 when a set could not be built.
int create_module_parameter_sets(void);
void delete_module_parameter_sets(void);

// With a path: starts the module library, counts found and active modules,
// then fills the sets of the active modules; NULL only refills the sets.
// -5 ini-file failure (reported), -1 none found or not all found active,
// else the library's start result (0 with NULL).
int init_usbsystem(const char *ini_path);
// The one road of a value to a module: send (with the connector's enable bit
// as flag), read back, store the read-back in the module's set.
int set_usbmodule_parameter(short module, int par_id, ParameterValue value);
// A value of the PCI variant's set of card `module` (app/kmv_syst_pci.h);
// zeroed while that set is not built.
ParameterValue read_module_parameter(int module, short par_id);

// Helpers over ParameterValue (first four bytes).
ParameterValue int_value(int32_t v);
ParameterValue float_value(float v);
int32_t value_int(const ParameterValue &v);
float value_float(const ParameterValue &v);
int32_t read_int_parameter(short module, int par_id);
float read_float_parameter(short module, int par_id);
