#pragma once
// The simulated bus as libusb sees it, answering through the libusb stand-in
// (sim/libusb): FT232H and FT2232H device, configuration and string
// descriptors; the chip's EEPROM and SIO vendor requests; bulk OUT into the
// MPSSE engine; bulk IN as packets that start with the two modem-status bytes
// and leave when the latency timer or a send-immediate lets them. A device
// that left the bus fails as libusb's vanished devices do.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/libusb/usbsim_host.h"

namespace sim {

// Transfers as the bus carried them.
struct UsbCounts {
  uint64_t control = 0;   // control transfers, standard and vendor
  uint64_t bulk_out = 0;  // bulk OUT transfers
  uint64_t bulk_in = 0;   // bulk IN transfers
  uint64_t packets_in = 0;  // IN packets, status-only ones included
  uint64_t empty_in = 0;    // IN transfers that carried the status bytes only
  uint64_t bytes_out = 0;   // bulk payload
  uint64_t bytes_in = 0;    // bulk payload without the status bytes
  double latency_wait = 0.0;  // seconds IN transfers waited for the chip
  uint64_t transfers() const { return control + bulk_out + bulk_in; }
};

UsbCounts &operator+=(UsbCounts &a, const UsbCounts &b);

// The two modem-status bytes that open every IN packet.
inline constexpr uint8_t kModemStatus0 = 0x32;
inline constexpr uint8_t kModemStatus1 = 0x60;

class UsbBus {
 public:
  explicit UsbBus(std::shared_ptr<Bus> bus);
  ~UsbBus();
  UsbBus(const UsbBus &) = delete;
  UsbBus &operator=(const UsbBus &) = delete;

  // Loads libusb-1.0.so.0 as the dynamic loader finds it and answers its
  // calls from now on; false with the reason when the library found is not
  // the stand-in (the system's libusb came first).
  bool attach(std::string *why);
  // The file the loader took libusb-1.0.so.0 from (after attach).
  const std::string &library_path() const { return library_path_; }

  // Transfers of one device (by serial number) and of the whole bus.
  UsbCounts counts(const std::string &serial) const;
  UsbCounts counts() const;
  void clear_counts();
  // Handles open and interfaces claimed over all devices.
  int open_handles() const;
  int claimed_interfaces() const;
  // Whether the kernel's serial driver is bound to this interface of a device
  // (by serial number): it binds every interface on enumeration and comes
  // back only when a program that detached it attaches it again.
  bool kernel_driver_bound(const std::string &serial, int interface_number = 0) const;

  // The host table handed to the stand-in.
  const trq_usbsim_host &host() const { return host_; }

 private:
  struct Channel {
    bool claimed = false;
    bool kernel_driver = true;  // the serial driver binds every interface on enumeration
    double last_packet = 0.0;
  };
  struct State {
    uint64_t session = 0;
    uint8_t address = 0;
    int handles = 0;
    Channel channel[2];
    uint8_t event_char = 0, event_enable = 0, error_char = 0, error_enable = 0;
    UsbCounts counts;
  };
  struct Chip;

  FtdiDevice *find(uint64_t id);
  State &state(FtdiDevice &d);
  // The device for a call, or null when its session is gone.
  FtdiDevice *live(uint64_t id, uint64_t session, State **st);
  int interfaces(const FtdiDevice &d) const;

  int list(trq_usbsim_device *out, int max);
  int descriptor(FtdiDevice &d, uint8_t type, uint8_t index, uint16_t lang, std::vector<uint8_t> *out);
  int control(FtdiDevice &d, State &st, uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
              uint16_t length);
  int vendor(FtdiDevice &d, State &st, uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
             uint16_t length);
  int bulk_in(FtdiDevice &d, State &st, int channel, uint8_t *data, int length, int *transferred,
              unsigned timeout_ms);

  static UsbBus *self(void *p) { return static_cast<UsbBus *>(p); }

  std::shared_ptr<Bus> bus_;
  std::map<const FtdiDevice *, State> states_;
  uint8_t next_address_ = 1;
  trq_usbsim_host host_{};
  void *library_ = nullptr;
  trq_usbsim_attach_fn attach_ = nullptr;
  std::string library_path_;
};

}  // namespace sim
