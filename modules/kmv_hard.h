#pragma once
// Internal seams of the module library toward the module start and the EEPROM
// code, which are built later: the read calls use them without knowing how
// the serial number is obtained.
#include <cstddef>
#include <cstdint>

// Reads the serial number of a started module (USB module or PCI card) into
// text, a terminated text within size bytes. 0 on success, negative on
// failure (text is then left empty).
typedef int16_t (*KMVSerialReader)(int16_t module, char *text, size_t size);

// Used by KMVUSB_get_module_info for a started module with an empty serial
// number (a re-read of the module's EEPROM block).
extern KMVSerialReader kmvusb_serial_reader;
// Used by KMV_get_module_info for a counted card with an empty serial number
// (the card's EEPROM).
extern KMVSerialReader kmv_serial_reader;

// The defaults until the EEPROM code exists: they read nothing and fail with
// KMV_EEPROM_READ.
int16_t kmvusb_serial_reader_unavailable(int16_t module, char *text, size_t size);
int16_t kmv_serial_reader_unavailable(int16_t module, char *text, size_t size);
