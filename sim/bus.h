#pragma once
// The simulated USB bus: the FTDI devices attached, in list order, and the
// KMV-USB modules behind some of them. Tests build one, hand it to the D2XX
// layer (platform/d2xx/sim_backend.h) and then plug, unplug and look inside.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/ftdi_boards.h"
#include "sim/ftdi_device.h"
#include "sim/kmv_module.h"

namespace sim {

struct ModuleOptions {
  std::string description = "UM232H Q&V5";  // model text and module-type tag
  uint16_t number = 1;                        // module number in the user block
  bool user_block_valid = true;               // false: the block's check byte is wrong
};

struct BoardOptions {
  std::string description = "FT245R USB FIFO Q&V1";  // command-string boards: FT245R or DLP-245SY
  uint16_t number = 1;                                // module number in the user block
  std::string board_id = "SDB01";                     // the five characters of the 0xA7 reply
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
  // A microcontroller answering command strings behind an FT232R-family FIFO.
  CommandBoard &add_command_board(const std::string &serial, const BoardOptions &options = {});
  // The sync-delay box on the bit-bang pins of an FT232H board ("UM232H Q&V1").
  BitBangBoard &add_bitbang_board(const std::string &serial, const std::string &description = "UM232H Q&V1",
                                  uint16_t number = 1);

  FtdiDevice *device(const std::string &serial);
  KmvModule *module(const std::string &serial);
  CommandBoard *command_board(const std::string &serial);
  BitBangBoard *bitbang_board(const std::string &serial);
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

  // The call and I2C logs of every device, those added later too (off by
  // default: tests that look at the traffic turn them on).
  void record_calls(bool on);

  // Shortcuts to the module of a serial number.
  void set_input_pins(const std::string &serial, int reg, uint16_t pins);
  uint16_t register_latch(const std::string &serial, int reg);
  uint16_t dac_output(const std::string &serial, int channel);

 private:
  struct Entry {
    std::unique_ptr<FtdiDevice> device;
    std::unique_ptr<KmvModule> module;
    std::unique_ptr<CommandBoard> command;
    std::unique_ptr<BitBangBoard> bitbang;
    int last_index = 0;
  };
  Entry *find(const std::string &serial);
  std::vector<std::unique_ptr<Entry>> entries_;
  std::vector<Entry *> order_;  // plugged, in list order
  WriteWatch write_watch_;
  uint32_t next_loc_ = 0x1001;
  bool record_calls_ = false;
};

// Fills bus from a description file:
//   # comment
//   [module]            a KMV-USB module      [device]   a plain FTDI device
//   serial = KMV00001                         serial = FT000001
//   number = 1                                description = FT232R USB UART
//   description = UM232H Q&V5                 type = 5
//   pins1 = 0x000F      input pins of register 1 (also pins0, pins2, pins3)
//   held_elsewhere = 0
//   name = KMV-USB-1    a valid adjust block in the module's EEPROM with this
//                       name, module_serial (default: serial) and date, and
//                       gain limits of 100 %; without it the EEPROM is blank
//   [board]             a board behind an FTDI chip
//   serial = SDB00001
//   wiring = command    command strings (FT245R, DLP-245SY) or bitbang (UM232H)
//   description = FT245R USB FIFO Q&V1
//   number = 1          board_id = SDB01
//   com_port = 5        (any section) the chip's COM port number
// false with a reason when the file cannot be read or holds an unknown key.
bool load_description(Bus &bus, const std::string &path, std::string *error);

}  // namespace sim
