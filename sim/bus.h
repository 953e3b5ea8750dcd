#pragma once
// The simulated USB bus: the FTDI devices attached, in list order, and the
// KMV-USB modules behind some of them. Tests build one, hand it to the D2XX
// layer (platform/d2xx/sim_backend.h) and then plug, unplug and look inside.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/ftdi_device.h"
#include "sim/kmv_module.h"

namespace sim {

struct ModuleOptions {
  std::string description = "UM232H Q&V5";  // model text and module-type tag
  uint16_t number = 1;                        // module number in the user block
  bool user_block_valid = true;               // false: the block's check byte is wrong
};

class Bus {
 public:
  Bus() = default;
  Bus(const Bus &) = delete;
  Bus &operator=(const Bus &) = delete;

  // A KMV-USB module behind an FT232H, appended to the list.
  KmvModule &add_module(const std::string &serial, const ModuleOptions &options = {});
  // A plain FTDI device (no module behind it).
  FtdiDevice &add_device(const std::string &serial, const std::string &description, uint32_t type = 5);

  FtdiDevice *device(const std::string &serial);
  KmvModule *module(const std::string &serial);
  // Attached devices in list order.
  std::vector<FtdiDevice *> listed();
  int index_of(const std::string &serial);

  // Leaves the list; its handles die.
  void unplug(const std::string &serial);
  // Back into the list at index (-1: where it was); power_lost resets the
  // module's latches and DAC (its EEPROM keeps its content).
  void replug(const std::string &serial, int index = -1, bool power_lost = true);
  // Another process holds the device open.
  void set_held_elsewhere(const std::string &serial, bool held);

  // Called before every write the D2XX layer hands to a plugged device (a
  // test may unplug devices in it: the write then finds its device gone).
  using WriteWatch = std::function<void(FtdiDevice &device)>;
  void watch_writes(WriteWatch watch) { write_watch_ = std::move(watch); }
  void before_write(FtdiDevice &device) {
    if (write_watch_) write_watch_(device);
  }

  // Shortcuts to the module of a serial number.
  void set_input_pins(const std::string &serial, int reg, uint16_t pins);
  uint16_t register_latch(const std::string &serial, int reg);
  uint16_t dac_output(const std::string &serial, int channel);

 private:
  struct Entry {
    std::unique_ptr<FtdiDevice> device;
    std::unique_ptr<KmvModule> module;
    int last_index = 0;
  };
  Entry *find(const std::string &serial);
  std::vector<std::unique_ptr<Entry>> entries_;
  std::vector<Entry *> order_;  // plugged, in list order
  WriteWatch write_watch_;
  uint32_t next_loc_ = 0x1001;
};

// Fills bus from a description file:
//   # comment
//   [module]            a KMV-USB module      [device]   a plain FTDI device
//   serial = KMV00001                         serial = FT000001
//   number = 1                                description = FT232R USB UART
//   description = UM232H Q&V5                 type = 5
//   pins1 = 0x000F      input pins of register 1 (also pins0, pins2, pins3)
//   held_elsewhere = 0
// false with a reason when the file cannot be read or holds an unknown key.
bool load_description(Bus &bus, const std::string &path, std::string *error);

}  // namespace sim
