#pragma once
// The modal load and save dialogs of setup files (panels 10 and 16).

// Runs the load dialog; with cmd_load_file set it loads client_fname without
// the operator when that is a valid setup file (any other extension than
// ".set" returns at once). 1 when a file was loaded, else 0.
int manage_load_usb_panel(int parent);
// Runs the save dialog.
void manage_save_usb_panel(int parent);

// The PCI variant's dialogs: the panels' own titles; the load switches every
// card's outputs off and clears the alarms and enables of all eight slots.
int manage_load_panel(int parent);
void manage_save_panel(int parent);
