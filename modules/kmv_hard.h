#pragma once
// Inside the module library: the layers below it as one replaceable table
// (the register layer of the transport and the USB-module manager), the
// pseudo-random source of the emulation, and the steps its files share.
#include <cstddef>
#include <cstdint>

// Reads the serial number of a started module (USB module or PCI card) into
// text, a terminated text within size bytes. 0 on success, negative on
// failure (text is then left empty).
typedef int16_t (*KMVSerialReader)(int16_t module, char *text, size_t size);

// Used by KMVUSB_get_module_info for a started module with an empty serial
// number: a re-read of the module's EEPROM block.
extern KMVSerialReader kmvusb_serial_reader;
// Used by KMV_get_module_info for a counted card with an empty serial number
// (the card's EEPROM).
extern KMVSerialReader kmv_serial_reader;

// The USB reader: get_kmvusb_serial_number.
int16_t kmvusb_serial_reader_eeprom(int16_t module, char *text, size_t size);
// The card reader until the card EEPROM access exists: it reads nothing and
// fails with KMV_EEPROM_READ.
int16_t kmv_serial_reader_unavailable(int16_t module, char *text, size_t size);

// What the USB module calls use below them. Defaults: the transport
// (FTDI_func.h) and the manager (qv_usb_fun.h); tests put fakes in.
struct KMVUSBLowerLayer {
  void (*set_trq_mode)(unsigned short mode, int trace);
  int (*set_register)(int dev, int reg, unsigned short value);
  int (*set_bit_in_register)(int dev, int reg, int bit, short state);
  int (*get_register)(int dev, int reg, unsigned short *value);
  int (*set_dac_chan)(int dev, unsigned char channel, unsigned short code);
  int (*clear_all_dacs)(int dev);
  int (*read_user_eep)(int dev, unsigned char *buf, unsigned short address, int count, int *done, int open);
  int (*write_user_eep)(int dev, const unsigned char *data, unsigned short address, int count);
  int16_t (*find_devices)(int16_t kind);
  int16_t (*connect_device)(int16_t number);
  int16_t (*disconnect_device)(int16_t number);
  int16_t (*reconnect_device)(int16_t number);
};
extern KMVUSBLowerLayer kmvusb_lower;
KMVUSBLowerLayer kmvusb_default_lower();

// Source of the emulation's overload and current-limit draws (std::rand by
// default); only its low four bits are used.
extern int (*kmv_rand)(void);

// ---- shared by the library's files ------------------------------------------

// Emulation: no device is touched.
bool kmvusb_emulated();
// The register layer's cache row of module m's device, null when the module
// has no device index.
unsigned short *kmvusb_regdata(int16_t m);
// Per module, the DAC channels to write even when the cache holds the code
// (after a reconnect the module may have lost its DAC state).
extern uint16_t kmvusb_dac_stale[4];
// Writes one DAC channel of module m: only a changed (or stale) code unless
// always is set. 0 or KMV_ERR_USB.
int16_t kmvusb_write_dac(int16_t m, int channel, uint16_t code, bool always);
// One parameter of module m, once the caller has checked the module.
int16_t kmvusb_apply_parameter(int16_t m, int16_t par_id, int16_t send, float value);
// Starts module m from its ini record (used by KMVUSB_init and KMVUSB_set_mode).
int16_t kmvusb_start_module(int16_t m);
// Pointers kmvusb_data and kmvusb_priv_data to module m.
void kmvusb_select(int16_t m);
