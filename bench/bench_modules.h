#pragma once
// What the benchmark programs put into a simulated module before they start.
#include <cstdio>
#include <vector>

#include "modules/FTDI_func.h"
#include "sim/kmv_module.h"

namespace bench {

// An adjust block (name, serial, date) and a limit block in the module's
// EEPROM, and no overload on its input pins.
inline void load_blocks(sim::KmvModule &m, const char *name, const char *serial) {
  std::vector<uint8_t> block(49, 0);
  std::snprintf(reinterpret_cast<char *>(block.data()), 16, "%s", name);
  std::snprintf(reinterpret_cast<char *>(block.data() + 16), 16, "%s", serial);
  std::snprintf(reinterpret_cast<char *>(block.data() + 32), 16, "%s", "01.01.2024");
  prepare_QV_checksum(block.data(), 49);
  m.load_eeprom(0, block);
  std::vector<uint8_t> limits{100, 100, 100, 100, 0};
  prepare_QV_checksum(limits.data(), 5);
  m.load_eeprom(100, limits);
  m.set_input_pins(3, 0x0000);
}

}  // namespace bench
