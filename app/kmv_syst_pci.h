#pragma once
// The module system of the KMV-100 PCI variant: one parameter set per card
// slot, its start and the one road of a value to a card. The USB program
// does not call these; the PCI variant's start builds the sets.
#include <cstdint>

#include "modules/kmv_fun.h"
#include "support/Parmst.h"

constexpr int KMV_PCI_SLOTS = 8;
constexpr int KMV_PCI_PARAMETERS = 16;  // set index = library id - 1; index 0 the serial number

extern ParameterSet *mod[KMV_PCI_SLOTS];
extern KMVModuleInfo mod_info[KMV_PCI_SLOTS];
// Per card slot (the USB arrays hold four entries).
extern short pci_act_mod[KMV_PCI_SLOTS];
extern short pci_out_enabled[KMV_PCI_SLOTS];  // non-zero: the card's outputs are enabled
extern short pci_cooling_on[KMV_PCI_SLOTS];
extern short pci_ovld_alarm[KMV_PCI_SLOTS];
extern short pci_cool_alarm[KMV_PCI_SLOTS];

extern const ParameterDescriptor pci_par_table[KMV_PCI_PARAMETERS];

// Builds and deletes the eight sets. 0, or -1 when a set could not be built.
int create_pci_parameter_sets(void);
void delete_pci_parameter_sets(void);

// With a path: starts the card library, counts found and active cards, then
// fills the sets of the active cards; NULL only refills the sets. -5 ini-file
// failure (reported), -1 none found or not all found active, else the
// library's start result.
int init_system(const char *ini_path);
// Sends one value (par_id 1..15, library id par_id + 1) while the card's
// outputs are enabled, else only stores it; reads it back into the set.
int set_module_parameter(short module, int par_id, ParameterValue value);
