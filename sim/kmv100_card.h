#pragma once
// The KMV-100 card behind a simulated PLX 9050: its three 16-bit registers in
// the bridge's local I/O space (pci/kmv100_ports.h), the overload and
// current-limit inputs on the CNTRL user I/O lines, and its 93C46 serial
// EEPROM on the CNTRL EEPROM lines.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/microwire_eeprom.h"
#include "sim/plx9050.h"

namespace sim {

// What the card's outputs are doing, from its register latches and DACs.
struct Kmv100Outputs {
  bool c1_p5v, c1_m5v, c1_p12v;
  bool c2_p5v, c2_m5v, c2_p12v;
  bool c3_p5v, c3_m5v, c3_p12v;
  bool c3_cooling;
  uint8_t digout;
  // The 12-bit DAC codes loaded so far.
  uint16_t c1_gain, c3_gain, c3_coolvolt, c3_coolcurr;
};

struct Kmv100Identity {
  std::string serial = "81000000001";  // at most 11 characters
  std::string date = "17.10.2001";
  uint8_t limit_c1 = 100;
  uint8_t limit_c3 = 100;
};

class Kmv100Card : public PlxLocalDevice, public PlxCntrlLines {
 public:
  Kmv100Card();

  // PlxLocalDevice: the registers at their offsets in local space 0.
  uint64_t local_read(int space, uint32_t offset, uint32_t bytes) override;
  void local_write(int space, uint32_t offset, uint32_t bytes, uint64_t value) override;
  // PlxCntrlLines.
  void cntrl_written(uint32_t value) override;
  uint32_t cntrl_read(uint32_t latched) override;

  // The EEPROM content as a card leaves production: a bridge configuration in
  // bytes 0..99, the gain limits at 100 and 101 with their check byte at 127,
  // serial number and date at 102 and 114 with their check byte at 126.
  void program(const Kmv100Identity &id);

  uint16_t control() const { return regs_[0]; }
  uint16_t dac_a() const { return regs_[1]; }
  uint16_t dac_b() const { return regs_[2]; }
  Kmv100Outputs outputs() const;

  // Inputs. An overload trips the connector's latch (1 or 3); a persistent one
  // trips it again after every reset pulse.
  void trip_overload(int connector, bool persistent = false);
  void end_overload(int connector);  // the fault is gone (the latch stays until reset)
  bool current_limit = false;

  MicrowireEeprom eeprom;
  // Register writes in order: (offset, 16-bit value).
  std::vector<std::pair<uint32_t, uint16_t>> writes;
  int overload_resets = 0;  // reset pulses seen (falling edges of control bit 7)

 private:
  void register_written(int index, uint16_t old);
  std::array<uint16_t, 8> regs_{};
  bool latched_[2] = {false, false};     // connectors 1 and 3
  bool persistent_[2] = {false, false};
  uint16_t codes_[4] = {0, 0, 0, 0};     // c1 gain, c3 gain, c3 cooler voltage, c3 cooler current
};

// A PLX 9050 with a KMV-100 card at `at`, its in-use marker clear.
std::shared_ptr<Kmv100Card> add_kmv100(PciBus &bus, const PciSlotId &at, const Kmv100Identity &id = {});
// The bridge of a card placed by add_kmv100.
PlxPci9050 &kmv100_bridge(PciBus &bus, const PciSlotId &at);

}  // namespace sim
