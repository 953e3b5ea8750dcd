#pragma once
// The PCI variant's adjust panel (panel 1 "ADJUST"): serial number, date and
// the gain limits of connectors 1 and 3 of one card at a time, read from and
// written to the card's EEPROM.
#include <span>

#include "modules/kmv_fun.h"
#include "platform/ui/ui.h"

extern int adjust_panel;    // 0 until first used
extern int adj_mod_no;      // the card shown
extern int apar_visible;
extern KMVEepromData eep;
extern short gain_C1_limit[8];  // per card, as last read
extern short gain_C3_limit[8];
// The PCI variant's main window (its gain controls 5 and 20 follow a limit
// change); 0 while there is none.
extern int pci_main_panel;

// Fills the panel for adj_mod_no, with a read of the card's EEPROM first when
// read_eeprom is set. The EEPROM read's result.
int init_adjust_panel(int read_eeprom, KMVEepromData *data);

int InitAparCallback(int menubar, int item, void *data, int panel);
int Apar_Callback(int panel, int event, void *data, int eventData1, int eventData2);
int AdjustCallback(int panel, int control, int event, void *data, int eventData1, int eventData2);

// The callbacks of panel 1 by name.
std::span<const platform::ui::CallbackBinding> kmv_adjust_callbacks();
