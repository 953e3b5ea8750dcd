#pragma once
// What a source of FTDI devices offers the D2XX calls. FT_* in ftd2xx.cpp keep
// the handles and the list snapshot; a backend only lists and opens devices.
#include <memory>
#include <string>
#include <vector>

#include "platform/d2xx/eeprom_layout.h"
#include "platform/d2xx/ftd2xx.h"

namespace platform::d2xx {

// One attached device as the backend sees it.
struct ListedDevice {
  bool held_elsewhere = false;  // open in another process: D2XX shows flags only
  bool high_speed = false;
  DWORD type = FT_DEVICE_UNKNOWN;
  DWORD id = 0;
  DWORD loc_id = 0;
  std::string serial;
  std::string description;
  // Backend's own key of the device, stable while it stays attached.
  std::string key;
};

// An open device. Every call returns a D2XX status.
class Device {
 public:
  virtual ~Device() = default;
  virtual FT_STATUS write(const UCHAR *data, DWORD count, DWORD *written) = 0;
  virtual FT_STATUS read(UCHAR *data, DWORD count, DWORD *received) = 0;
  virtual FT_STATUS queue_status(DWORD *waiting) = 0;
  virtual FT_STATUS reset() = 0;
  virtual FT_STATUS purge(DWORD mask) = 0;
  virtual FT_STATUS set_timeouts(DWORD read_ms, DWORD write_ms) = 0;
  virtual FT_STATUS set_chars(UCHAR event_char, UCHAR event_enable, UCHAR error_char, UCHAR error_enable) = 0;
  virtual FT_STATUS set_latency_timer(UCHAR ms) = 0;
  virtual FT_STATUS set_usb_parameters(DWORD in_size, DWORD out_size) = 0;
  virtual FT_STATUS set_bit_mode(UCHAR mask, UCHAR mode) = 0;
  virtual FT_STATUS get_bit_mode(UCHAR *pins) = 0;
  virtual FT_STATUS cycle_port() = 0;
  virtual FT_STATUS com_port(LONG *port) = 0;
  virtual FT_STATUS ua_size(DWORD *size) = 0;
  virtual FT_STATUS ua_read(UCHAR *data, DWORD length, DWORD *read) = 0;
  // The product record of the chip's EEPROM; programming it keeps the user area.
  virtual FT_STATUS ee_read(ProductRecord *) { return FT_NOT_SUPPORTED; }
  virtual FT_STATUS ee_program(const ProductRecord &) { return FT_NOT_SUPPORTED; }
  virtual FT_STATUS ua_write(const UCHAR *, DWORD) { return FT_NOT_SUPPORTED; }
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char *name() const = 0;
  // The attached devices in a stable order.
  virtual FT_STATUS list(std::vector<ListedDevice> *devices) = 0;
  // Opens a device of the last list by its key.
  virtual FT_STATUS open(const ListedDevice &device, std::unique_ptr<Device> *opened) = 0;
};

// The backend in use. Chosen on first use: QV_D2XX=sim, or QV_D2XX naming a
// simulator description file, gives the simulated bus; otherwise libftdi1
// when it can be loaded, else a backend without devices.
Backend &backend();
// Replaces the backend (tests; null returns to the choice above). Handles of
// the old backend are closed.
void set_backend(std::shared_ptr<Backend> b);
// A backend that lists nothing.
std::shared_ptr<Backend> make_empty_backend();

}  // namespace platform::d2xx
