#pragma once
// Driver start, the count of PLX 9050 cards of one kind by their PCI
// subsystem id, and the raw I/O-port accessors the module library installs as
// its register access for KMV-100 cards.
#include <cstdint>

#include "pci/wd_records.h"

// The process's driver handle; -1 while the driver is not open.
extern WDDriverHandle qv_hWD;
// Last message of the card counters, emptied at the start of each count.
extern char P9050_ErrorString[1024];
extern char P9054_ErrorString[1024];  // kept for the 9054 family; nothing here writes it

// A port address as the driver's transfer record carries it (64 bits with the
// 64-bit driver interface).
typedef WDKernelAddr QVPort;

// Starts the driver library and keeps its handle in qv_hWD; returns it.
WDDriverHandle RegisterWinDriver(void);

// Counts the cards of vendor/device whose configuration dword 0x2C equals
// `subsystem` (-1: no filter, the plain number of cards found, arrays left
// untouched). For each counted card its scan index goes to indexes and its
// slot to slots (either may be null). At most `capacity` cards are taken when
// an array is given. 0 on any failure, the reason in P9050_ErrorString.
int P9050_CountQVCards(int vendor, int device, int subsystem, int *indexes, WDPciSlot *slots, int capacity);

// Single port transfers on qv_hWD. Reads give the value sign-extended (0 when
// the request fails); writes give the request's status.
int P9050_ReadQVByte(QVPort port);
int P9050_ReadQVWord(QVPort port);
uint32_t P9050_ReadQVDword(QVPort port);
WDStatus P9050_WriteQVByte(QVPort port, uint8_t value);
WDStatus P9050_WriteQVWord(QVPort port, uint16_t value);
WDStatus P9050_WriteQVDword(QVPort port, uint32_t value);

// The driver's version number through a handle of its own, -1 without driver.
int GetWinDriverVersion(void);
// Cards of vendor/device (both 0: 1 when a function with ids 0/0 exists).
int P9050_CountCards(int vendor, int device);
// Cards of the QL5232/QL5130 family of kind 0 or 1 (classified by their
// address spaces), with their scan indexes and slots (room for 100 each).
int P9050_Count_180_HOF_Cards(int vendor, int device, int subsystem, int *indexes, WDPciSlot *slots, int kind);
