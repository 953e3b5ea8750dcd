#pragma once
// The Microwire serial EEPROM on a PLX bridge, driven bit by bit through the
// EEPROM lines of the bridge's control register (CNTRL 0x50 on the 9050, 0x6C
// on the 9054): READ, EWEN, WRITE, EWDS on 16-bit words.
#include <cstdint>

#include "pci/wdc_card.h"

// Kept from the last access (one access at a time).
extern WDCDeviceHandle hndl;
extern WDCDeviceHandle hndl54;
extern uint32_t plx_ctrl_reg;
extern uint32_t rd_val;
extern uint16_t low_word;

// Byte offset and count are clamped to the EEPROM (offset to 0..size-2, count
// to 1..size-offset); an odd requested count takes one more word, never past
// the last word. The buffer holds 16-bit words in host order (byte 2k of the
// EEPROM is the low byte of word k). 0, or -2 when the EEPROM did not answer
// (read) or a write did not complete.
int16_t read_pci_eep(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                     uint16_t *buffer);
int16_t write_pci_eep(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                      const uint16_t *buffer);
// The same with data-in held high while the part drives data out (9054 boards).
int16_t read_pci_eep54(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                       int16_t *buffer);
int16_t write_pci_eep54(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                        const int16_t *buffer);
