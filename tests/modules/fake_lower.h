#pragma once
// A fake of the register layer and the USB-module manager under the module
// library: it keeps the real cache (kmv_regdata) and the manager's table
// (usb_dev) as the real ones do, logs every device access in order, holds an
// EEPROM per device index and injects failures.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "modules/kmv_hard.h"

namespace fake {

struct Lower {
  // Device traffic in order (only while the register layer is in hardware):
  //   "R0=FFFF" register write, "r3" register read, "D4=3276" DAC write,
  //   "CLR" all DACs cleared, "E0+49" EEPROM read, "W100+5" EEPROM write.
  // A failed access carries a trailing '!'.
  std::vector<std::string> traffic;
  // Manager and mode calls: "find 5", "connect 0", "disconnect 1",
  // "reconnect 0", "trq 5".
  std::vector<std::string> calls;

  std::array<std::array<uint8_t, 512>, 8> eeprom{};
  std::array<std::array<uint16_t, 4>, 8> pins{};  // input levels behind registers 1 and 3
  // Status of an access by its traffic text (0 = it works).
  std::function<int(const std::string &)> fault;
  int short_read = -1;  // the next EEPROM reads deliver this many bytes (-1: all)

  int16_t found = 0;                        // result of find_devices
  std::map<int, int16_t> connect_result;    // by table number; 0 when missing
  std::map<int, int16_t> reconnect_result;  // by table number; 0 when missing

  // Traffic since the last call, then forgotten.
  std::vector<std::string> take();
  // Calls since the last call, then forgotten.
  std::vector<std::string> take_calls();
  // A KMV-USB device at table slot i (device index i) with a valid adjust
  // block and limit block.
  void add_device(int i, const std::string &serial, const std::string &name = "KMV-USB-1",
                  const std::array<uint8_t, 4> &limits = {100, 100, 100, 100});
  void set_limit_block(int i, const std::array<uint8_t, 4> &limits, bool valid = true);
};

Lower &lower();

// Puts the fake under the library, with the library's tables, the cache and
// the manager table in their power-on state; puts the real layers back at the end.
class Fixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Lower &fake() { return lower(); }
  // A started hardware library with devices at slots 0..n-1, all of them
  // running (a forced count); the traffic of the start is taken.
  void start_hardware(int n);
  // A started emulation of count modules from slot 0.
  void start_emulation(int count);

 private:
  KMVUSBLowerLayer saved_{};
  int (*saved_rand_)(void) = nullptr;
};

// Resets the module library, the register cache and the manager table.
void reset_library();

// A scripted pseudo-random source.
void set_rand_sequence(std::vector<int> values);

}  // namespace fake
