#pragma once
// A Microwire serial EEPROM of 16-bit words (93C46: 64 words, 6 address bits;
// 8 address bits give 256 words), driven through the chip select, clock and
// data-in lines of the PLX CNTRL register. READ streams words from the address
// on; EWEN and EWDS set and clear the write enable; a WRITE is stored when chip
// select falls and keeps the part busy for its write cycle (on the program's
// clock), during which data out reads 0 while chip select is high. Clock edges
// that come faster than the part allows (on the same clock) are refused.
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class MicrowireEeprom {
 public:
  explicit MicrowireEeprom(int address_bits = 6);

  // The CNTRL lines after a write: SK bit 24, CS bit 25, DI bit 26.
  void lines(uint32_t cntrl);
  // Data out as the bridge sees it (1 when the part does not drive it).
  bool data_out() const;

  std::vector<uint16_t> words;
  bool present = true;          // absent: data out stays high
  bool stuck_busy = false;      // the ready status never shows (data out stays 0)
  double write_cycle = 0.004;   // seconds a write keeps the part busy
  // Seconds chip select and a data-in bit the part samples must be steady
  // before a rising clock, and the clock must stay high before it falls. A
  // rising edge sooner than that is refused (not taken); every edge too soon
  // is counted, and the first one logged among the faults.
  double min_edge_gap = 1e-6;
  int refused_edges = 0;
  // The shortest set-up before a rising clock and the shortest clock-high
  // time seen so far, in seconds.
  double shortest_setup = 1e9;
  double shortest_high = 1e9;
  bool write_enabled() const { return enabled_; }
  // Words stored by WRITE, in order (address, value).
  std::vector<std::pair<int, uint16_t>> stored;
  // What a card should never see: a read running past the last word, a write
  // of word 0 (the bridge's own configuration), a clock edge too soon.
  std::vector<std::string> faults;

  // Bytes as the caller of the bit-banged access numbers them: byte 2k is the
  // low byte of word k.
  uint8_t byte(int at) const;
  void set_byte(int at, uint8_t value);

 private:
  enum State { kIdle, kOpcode, kAddress, kRead, kWrite, kDone };
  void clock(bool di);
  bool busy() const;
  bool samples_di() const;
  void refuse(const char *what, double gap);

  int address_bits_;
  State state_ = kIdle;
  int bits_ = 0;
  uint32_t opcode_ = 0, address_ = 0;
  uint16_t data_ = 0;
  bool out_ = true;
  bool wrapped_ = false;
  bool enabled_ = false;
  bool cs_ = false, sk_ = false, di_ = false;
  bool rise_taken_ = false;
  double cs_changed_ = -1e9, di_changed_ = -1e9, sk_rose_ = -1e9;
  double busy_until_ = -1.0;
};

}  // namespace sim
