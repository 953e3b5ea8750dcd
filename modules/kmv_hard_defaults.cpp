// Serial-number readers in place until the module start (USB) and the card
// EEPROM access (PCI) provide the real ones; replace the initialisers below
// with them.
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"

int16_t kmvusb_serial_reader_unavailable(int16_t, char *text, size_t size) {
  if (text != nullptr && size > 0) text[0] = '\0';
  return KMV_EEPROM_READ;
}

int16_t kmv_serial_reader_unavailable(int16_t, char *text, size_t size) {
  if (text != nullptr && size > 0) text[0] = '\0';
  return KMV_EEPROM_READ;
}

KMVSerialReader kmvusb_serial_reader = kmvusb_serial_reader_unavailable;
KMVSerialReader kmv_serial_reader = kmv_serial_reader_unavailable;
