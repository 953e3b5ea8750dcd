#pragma once
// The seam between the libusb stand-in (libusb-1.0.so.0 built from this
// folder) and the program that hosts a simulated USB bus. The stand-in is a
// plain translation of libusb's calls; everything a device does lives in the
// host (sim/usb_bus.h). Plain C types only: the two sides are separate
// shared objects.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TRQ_USBSIM_VERSION 1

// One attached device.
struct trq_usbsim_device {
  uint64_t id;       // the host's key of the device, stable while it is attached
  uint64_t session;  // changes whenever the device leaves the bus
  uint8_t bus_number;
  uint8_t address;
  uint8_t port_count;
  uint8_t ports[7];
  int speed;  // LIBUSB_SPEED_*
};

// Every call returns 0 or more on success, else a LIBUSB_ERROR_* number.
// A call for a session that is gone gives LIBUSB_ERROR_NO_DEVICE.
struct trq_usbsim_host {
  int version;
  void *self;
  // The attached devices in bus order; returns how many there are (only max stored).
  int (*list)(void *self, struct trq_usbsim_device *out, int max);
  // Raw device (type 1) or configuration (type 2) descriptor as the device
  // gave it at enumeration; returns its length (at most len stored).
  int (*descriptor)(void *self, uint64_t id, uint64_t session, uint8_t type, uint8_t *buf, int len);
  int (*open)(void *self, uint64_t id, uint64_t session);
  void (*close)(void *self, uint64_t id, uint64_t session);
  int (*claim)(void *self, uint64_t id, uint64_t session, int interface_number);
  int (*release)(void *self, uint64_t id, uint64_t session, int interface_number);
  // op 0: 1 when a kernel driver is bound, else 0; op 1 detach; op 2 attach.
  int (*kernel_driver)(void *self, uint64_t id, uint64_t session, int interface_number, int op);
  // Returns the bytes transferred in the data stage.
  int (*control)(void *self, uint64_t id, uint64_t session, uint8_t request_type, uint8_t request, uint16_t value,
                 uint16_t index, uint8_t *data, uint16_t length, unsigned int timeout_ms);
  int (*bulk)(void *self, uint64_t id, uint64_t session, uint8_t endpoint, uint8_t *data, int length,
              int *transferred, unsigned int timeout_ms);
  // A port reset: the device re-enumerates.
  int (*reset)(void *self, uint64_t id, uint64_t session);
};

// Exported by the stand-in: the host it answers through from now on (null:
// none, the bus is empty). Returns TRQ_USBSIM_VERSION.
typedef int (*trq_usbsim_attach_fn)(const struct trq_usbsim_host *host);
#define TRQ_USBSIM_ATTACH "trq_usbsim_attach"

#ifdef __cplusplus
}
#endif
