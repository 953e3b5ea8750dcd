#pragma once
// Real FTDI devices through libftdi1, loaded at run time so that a machine
// without it still runs (in emulation). The backend reaches the library only
// through the table below, so tests can put a fake in place of dlopen's.
#include <ftdi.h>
#include <libusb.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/d2xx/backend.h"

namespace platform::d2xx {

struct FtdiApi {
  ftdi_context *(*new_context)(void) = nullptr;
  void (*free_context)(ftdi_context *) = nullptr;
  int (*set_interface)(ftdi_context *, enum ftdi_interface) = nullptr;
  int (*usb_find_all)(ftdi_context *, ftdi_device_list **, int vendor, int product) = nullptr;
  void (*list_free)(ftdi_device_list **) = nullptr;
  int (*usb_get_strings)(ftdi_context *, libusb_device *, char *manufacturer, int mnf_len, char *description,
                         int desc_len, char *serial, int serial_len) = nullptr;
  int (*usb_open_dev)(ftdi_context *, libusb_device *) = nullptr;
  int (*usb_close)(ftdi_context *) = nullptr;
  int (*usb_reset)(ftdi_context *) = nullptr;
  int (*tciflush)(ftdi_context *) = nullptr;
  int (*tcoflush)(ftdi_context *) = nullptr;
  int (*read_data)(ftdi_context *, unsigned char *, int) = nullptr;
  int (*write_data)(ftdi_context *, const unsigned char *, int) = nullptr;
  int (*set_bitmode)(ftdi_context *, unsigned char mask, unsigned char mode) = nullptr;
  int (*read_pins)(ftdi_context *, unsigned char *) = nullptr;
  int (*set_latency_timer)(ftdi_context *, unsigned char) = nullptr;
  int (*read_data_set_chunksize)(ftdi_context *, unsigned int) = nullptr;
  int (*write_data_set_chunksize)(ftdi_context *, unsigned int) = nullptr;
  int (*set_event_char)(ftdi_context *, unsigned char, unsigned char) = nullptr;
  int (*set_error_char)(ftdi_context *, unsigned char, unsigned char) = nullptr;
  int (*read_eeprom)(ftdi_context *) = nullptr;
  int (*get_eeprom_value)(ftdi_context *, enum ftdi_eeprom_value, int *) = nullptr;
  int (*get_eeprom_buf)(ftdi_context *, unsigned char *, int) = nullptr;
  // One word of the EEPROM by its word address; without it the product
  // record and the user area cannot be written. Not libftdi's own
  // ftdi_write_eeprom_location: libftdi 1.5 refuses every word below 0x80
  // (all of a 256-byte EEPROM) and any chip without a 93C66.
  std::function<int(ftdi_context *, int eeprom_addr, unsigned short eeprom_val)> write_eeprom_location;
  // libusb, reached through libftdi's own dependency.
  uint8_t (*get_bus_number)(libusb_device *) = nullptr;
  int (*get_port_numbers)(libusb_device *, uint8_t *ports, int len) = nullptr;
  int (*get_device_descriptor)(libusb_device *, struct libusb_device_descriptor *) = nullptr;
  libusb_device *(*ref_device)(libusb_device *) = nullptr;
  void (*unref_device)(libusb_device *) = nullptr;
  int (*reset_device)(libusb_device_handle *) = nullptr;
  // The kernel driver bound to interface 0 of the device at this sysfs name
  // ("1-4.2"): "usbfs" while some process holds it through libusb, "" when none.
  std::function<std::string(const std::string &sysfs_name)> interface_driver;
  // How an open treats the kernel's serial driver: the loader picks
  // reattaching on close where the library has it (libftdi1 1.5 and later);
  // the plain detach leaves the driver off (and the tty gone) until replug.
  enum ftdi_module_detach_mode detach_mode = AUTO_DETACH_SIO_MODULE;
  // Keeps the loaded library alive.
  std::shared_ptr<void> library;
};

// libftdi1 from the system, or null when it cannot be loaded.
std::shared_ptr<FtdiApi> load_libftdi_api();
std::shared_ptr<Backend> make_libftdi_backend(std::shared_ptr<FtdiApi> api);

// D2XX places the user area right behind the string descriptors and ends it
// before the checksum word. Offsets into an EEPROM image of size bytes;
// false when the image holds no strings.
bool user_area_bounds(const uint8_t *image, int size, int *begin, int *end);

}  // namespace platform::d2xx
