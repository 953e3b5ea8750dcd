#pragma once
// Loading and saving whole setup files.

// Opens path as a setup file of this program and, for what 3, applies its
// body (mode 1 is passed on as 2); what 1 only reads the identification.
// 0, or -1 after a report (a file error by its name with path, "INV_SETUP"
// for another kind of file, "NOT_ALLOC"). The automatic load at start (mode
// 2) of a file that does not exist yet returns -1 without a report.
int load_usb(const char *path, int what, int mode);
// Writes a complete setup file of every active module: identification lines
// (values as the save dialog fills them, null for the automatic file on quit)
// and body. The old file is replaced only once the new one is on disk.
// 0, or -1 after a report.
int save_usb(const char *path, char *values[]);

// The PCI variant's files ("KMV Setup File", module-type code of the KMV
// application, the eight card slots).
int load(const char *path, int what, int mode);
int save(const char *path, char *values[]);
