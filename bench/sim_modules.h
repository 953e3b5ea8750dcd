#pragma once
// Simulated KMV-USB modules for the benchmarks: EEPROM blocks that let a
// module start, and the device statistics summed over the bus.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "modules/FTDI_func.h"
#include "sim/bus.h"

namespace bench {

// An adjust block (name, serial, date) and a limit block, both checksummed,
// and no overload on the input pins.
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

inline sim::DeviceStats total(sim::Bus &bus) {
  sim::DeviceStats t;
  for (sim::FtdiDevice *d : bus.listed()) {
    const sim::DeviceStats &s = d->stats();
    t.writes += s.writes;
    t.bytes_written += s.bytes_written;
    t.queue_polls += s.queue_polls;
    t.reads += s.reads;
  }
  return t;
}

inline void clear(sim::Bus &bus) {
  for (sim::FtdiDevice *d : bus.listed()) d->stats() = sim::DeviceStats{};
}

}  // namespace bench
