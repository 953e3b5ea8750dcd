#pragma once
// Two KMV-USB modules for the benchmarks on the simulated bus.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "modules/FTDI_func.h"
#include "sim/bus.h"

namespace bench {

// An adjust block (name, serial, date) and a gain-limit block of 100 % in the
// module's EEPROM, with their check bytes, and no overload on its pins.
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

// Modules "KMV00001" and "KMV00002" (module numbers 1 and 2) on the bus.
inline void add_two_modules(sim::Bus &bus) {
  load_blocks(bus.add_module("KMV00001"), "KMV-USB-1", "KM0001");
  sim::ModuleOptions second;
  second.number = 2;
  load_blocks(bus.add_module("KMV00002", second), "KMV-USB-2", "KM0002");
}

// Writes over every listed device.
inline uint64_t total_writes(sim::Bus &bus) {
  uint64_t n = 0;
  for (sim::FtdiDevice *d : bus.listed()) n += d->stats().writes;
  return n;
}

}  // namespace bench
