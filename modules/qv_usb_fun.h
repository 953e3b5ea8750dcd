#pragma once
// USB-module manager: one table of the maker's USB devices, numbered 0..15
// (0..7 FTDI devices by their index in the D2XX device list, 8..15 the serial
// ports of laser modules). It scans for the devices of one kind, connects a
// device by its table number, disconnects it and opens it again after its USB
// link was lost. This manager serves the FTDI module kinds 5 (KMV-USB module)
// and 6 (two-register module).
#include <cstddef>
#include <cstdint>

enum { QVUSB_MAX_DEVICES = 16, QVUSB_FTDI_DEVICES = 8, QVUSB_USER_BLOCK = 16 };

// Manager results.
enum : int16_t {
  QVUSB_NONE = 0,
  QVUSB_NO_ACTIVE = -1,
  QVUSB_DEV_NO = -2,
  QVUSB_BAD_TYPE = -3,
  QVUSB_NOT_PRESENT = -4,
  QVUSB_NOT_ACTIVE = -5,
  QVUSB_IN_USE = -6,
  QVUSB_CONNECT = -7,
  QVUSB_DISCONNECT = -8,
  QVUSB_WRITE = -9,
  QVUSB_BAD_PAR_ID = -10,
  QVUSB_BAD_PAR_VAL = -11,
  QVUSB_ERR_ID = -12,
};

// One device of the table.
struct usb_module_record {
  uint8_t kind;          // module-type digit of the description tag; 0 = empty slot
  int16_t present;       // 1 present and free, -1 opened by another program, 0 absent
  int16_t connected;     // 1 while this program has the device open for use
  int32_t device_no;     // device index of the FTDI layer and the transport
  uint32_t device_type;  // as the D2XX device list reports them
  uint32_t device_id;
  char serial[64];       // the key by which the device is found again
  char description[64];
  int16_t user_data_valid;          // the user block passed its check byte
  char user_block[QVUSB_USER_BLOCK];  // first bytes of the FTDI chip's user area; 2..3 module number
  float sync_delay;                 // kind 1: the setting last written
  int32_t com_port;                 // 0 when the device has none
};

// What the manager reports per device.
struct usb_module_info {
  int16_t kind;
  int16_t filled;       // 1 when the record is filled
  int16_t active;       // 1 connected, 0 not, -1 present but in use elsewhere
  int16_t init_status;  // 0 ok, -1 not connected, -2 in use elsewhere, -3 user data invalid
  int16_t module_no;    // user-block bytes 2..3
};

extern usb_module_record usb_dev[QVUSB_MAX_DEVICES];
extern usb_module_info usb_dev_info[QVUSB_MAX_DEVICES];
extern int16_t usb_err;  // the result of the last operation
// Per kind (index = module-type digit 0..7): devices found by the last scan,
// devices connected; and all devices connected (at most 8).
extern int16_t usb_found_count[8];
extern int16_t usb_connected_count[8];
extern int16_t usb_connected_total;
// Kind 6: data kept per FTDI device between scans, handed over when the
// device is found again.
extern int32_t vaj_data[QVUSB_FTDI_DEVICES];

// Kind 3, the laser module: per laser its DAC codes (power on channel k,
// current limit on 4 + k, temperature on 8 + k), flags and a name; per
// module the LED mode (register 1) and the lasers' switches (relays 0..3).
enum { QVUSB_GOR_LASERS = 4, QVUSB_GOR_EEP_ADDRESS = 128 };
struct gor_laser_block {
  uint16_t power;
  uint16_t current_limit;
  uint16_t temperature;
  uint16_t flags;
  char name[10];
};
static_assert(sizeof(gor_laser_block) == 18);
struct gor_module_block {
  uint8_t led_mode;
  uint8_t lasers_on;  // bit k: laser k switched on
  gor_laser_block laser[QVUSB_GOR_LASERS];
};
static_assert(sizeof(gor_module_block) == 74);
static_assert(offsetof(gor_module_block, laser) == 2);
// Per serial-port slot (devices 8..15), kept between scans.
extern gor_module_block laser_data[QVUSB_FTDI_DEVICES];

// Rescans: 1, 5 and 6 the FTDI devices (records of kinds 1, 2, 4, 5, 6), 2
// the laser modules' serial ports (kind 3, table numbers 8..15), 3 the serial
// adapter (kind 4). The number of devices of the kind now present, or usb_err
// (0 or negative) when there is none; -11 for another kind.
int16_t QVUSB_find_devices(int16_t kind);
// Opens and prepares the device for use: 0, -2, -4 absent, -6 in use
// elsewhere, -7. An already connected device is left as it is.
int16_t QVUSB_connect_device(int16_t number);
// Releases the device: 0, -2, -4, -6, -8. Does nothing (0) while the
// device's register layer works on its cache only.
int16_t QVUSB_disconnect_device(int16_t number);
// Finds the device again by its serial number and reopens it, keeping its
// register cache: 0, -2, -4, -6, -7 (not found where it was).
int16_t QVUSB_reconnect_device(int16_t number);
// Presence of the serial-port devices (number -1 for none in particular): a
// connected one found absent is marked not connected; *count = ports present.
int16_t QVUSB_test_if_active(int16_t number, int16_t *count);
int16_t QVUSB_get_init_status(int16_t number, int16_t *status);
// id 0 sync delay (ns) and 1 active input (kind 1), 2 LED mode (kind 3).
int16_t QVUSB_get_parameter(int16_t number, int16_t id, float *value);
int16_t QVUSB_set_parameter(int16_t number, int16_t id, float value);
// The laser module (kind 3). Every write is tried a second time after a failure.
int16_t QVUSB_set_GOR_led(int16_t number, int16_t mode);
int16_t QVUSB_get_GORparameters(int16_t number, gor_module_block *out);
int16_t QVUSB_set_GORparameters(int16_t number, const gor_module_block *in);
int16_t QVUSB_get_GOR_laser_parameters(int16_t number, int16_t laser, gor_laser_block *out);
int16_t QVUSB_set_GOR_laser_parameters(int16_t number, int16_t laser, const gor_laser_block *in);
int16_t QVUSB_switch_GOR_laser(int16_t number, int16_t laser, int16_t on);
// The module block as the module's EEPROM keeps it (74 bytes and a check byte).
int16_t QVUSB_get_GOR_EEP_parameters(int16_t number, gor_module_block *out);
int16_t QVUSB_set_GOR_EEP_parameters(int16_t number, const gor_module_block *in);
int16_t QVUSB_get_device_info(int16_t number, usb_module_info *out);
int16_t QVUSB_get_device_data(int16_t number, usb_module_record *out);
// Text of a manager result by its absolute value (above 12: the -12 text),
// into text of max bytes, always terminated. 0.
int16_t QVUSB_get_error_string(int16_t code, char *text, int16_t max);

#if defined(__i386__)
#define QVUSB_STDCALL __attribute__((stdcall))
#else
#define QVUSB_STDCALL
#endif

int32_t QVUSB_STDCALL QVUSBstd_find_devices(int16_t kind);
int32_t QVUSB_STDCALL QVUSBstd_connect_device(int16_t number);
int32_t QVUSB_STDCALL QVUSBstd_disconnect_device(int16_t number);
int32_t QVUSB_STDCALL QVUSBstd_reconnect_device(int16_t number);
int32_t QVUSB_STDCALL QVUSBstd_test_if_active(int16_t number, int16_t *count);
int32_t QVUSB_STDCALL QVUSBstd_get_init_status(int16_t number, int16_t *status);
int32_t QVUSB_STDCALL QVUSBstd_get_parameter(int16_t number, int16_t id, float *value);
int32_t QVUSB_STDCALL QVUSBstd_set_parameter(int16_t number, int16_t id, float value);
int32_t QVUSB_STDCALL QVUSBstd_set_GOR_led(int16_t number, int16_t mode);
int32_t QVUSB_STDCALL QVUSBstd_get_GORparameters(int16_t number, gor_module_block *out);
int32_t QVUSB_STDCALL QVUSBstd_set_GORparameters(int16_t number, const gor_module_block *in);
int32_t QVUSB_STDCALL QVUSBstd_get_GOR_laser_parameters(int16_t number, int16_t laser, gor_laser_block *out);
int32_t QVUSB_STDCALL QVUSBstd_set_GOR_laser_parameters(int16_t number, int16_t laser, const gor_laser_block *in);
int32_t QVUSB_STDCALL QVUSBstd_switch_GOR_laser(int16_t number, int16_t laser, int16_t on);
int32_t QVUSB_STDCALL QVUSBstd_get_GOR_EEP_parameters(int16_t number, gor_module_block *out);
int32_t QVUSB_STDCALL QVUSBstd_set_GOR_EEP_parameters(int16_t number, const gor_module_block *in);
int32_t QVUSB_STDCALL QVUSBstd_get_device_info(int16_t number, usb_module_info *out);
int32_t QVUSB_STDCALL QVUSBstd_get_device_data(int16_t number, usb_module_record *out);
int32_t QVUSB_STDCALL QVUSBstd_get_error_string(int16_t code, char *text, int16_t max);
