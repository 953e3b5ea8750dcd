#pragma once
// The laser module on a pseudo-terminal: a microcontroller board that echoes
// every byte, takes frames whose bytes sum to 0x55, answers each with a
// 6-byte state record, and keeps four registers, twelve DACs, relays (the
// bits of register 2) and a 512-byte EEPROM. It answers on the caller's
// thread whenever the serial layer waits (platform::serial pumps).
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/serial/ports.h"

namespace sim {

class LaserModule {
 public:
  static constexpr int kEepromSize = 512;
  static constexpr uint8_t kBoardId = 0x47;

  // A board answering at this COM number under this friendly name.
  explicit LaserModule(int com, std::string name = "", std::string ident = "QV GOR4 laser module v1.2");
  ~LaserModule();
  LaserModule(const LaserModule &) = delete;
  LaserModule &operator=(const LaserModule &) = delete;

  // The serial port as the port list shows it; empty once it vanished.
  std::vector<platform::serial::PortEntry> entries() const;
  const std::string &slave_path() const { return slave_; }
  int com() const { return com_; }

  uint16_t reg(int r) const { return regs_[r]; }
  uint16_t dac(int ch) const { return dacs_[ch]; }
  std::array<uint8_t, kEepromSize> &eeprom() { return eeprom_; }
  // Letters of the commands taken, in order, and every byte received.
  const std::string &commands() const { return commands_; }
  const std::vector<uint8_t> &received() const { return received_; }
  void clear_received() { received_.clear(); }
  int reinstalls() const { return reinstalls_; }

  // Faults.
  void drop_echoes(int n) { no_echo_ = n; }                    // the next n bytes are not echoed
  void corrupt_next_echo() { wrong_echo_ = true; }             // the next echo differs
  void corrupt_next_state_check() { bad_state_check_ = true; }  // the next state record's check byte is wrong
  void shorten_next_state(int bytes) { short_state_ = bytes; }  // the next state record stops after so many bytes
  void fail_next_command() { err_next_ = true; }                // err 1 in the next state record
  void refuse_parameters(bool on) { refuse_params_ = on; }     // parameters never accepted (state stays 0)
  void shorten_next_transfer(int bytes) { short_transfer_ = bytes; }
  // The next EEPROM transfer announces and sends this many bytes more than asked for.
  void lengthen_next_transfer(int bytes) { long_transfer_ = bytes; }
  // The port does not open until it is disabled and re-enabled.
  void refuse_opens() { refusing_opens_ = true; }
  // The board leaves the bus: its port closes and leaves the list.
  void vanish();
  bool vanished() const { return master_ < 0; }

  // Answers whatever arrived (the serial layer calls it while it waits);
  // true when it sent bytes.
  bool pump();

 private:
  enum class Phase { Idle, Command, Param22, Check, Params, Data };
  void take(uint8_t b);
  void send(const std::vector<uint8_t> &bytes);
  bool sent_ = false;
  void send_state();
  void frame_done();
  void params_done();
  size_t params_wanted() const;

  int com_;
  std::string name_;
  std::string ident_;
  int master_ = -1;
  std::string slave_;
  int pump_id_ = 0;

  Phase phase_ = Phase::Idle;
  uint8_t cmd_ = 0;       // byte after the 0x55
  uint8_t letter_ = 0;    // the last command letter taken
  uint8_t state_ = 0;
  uint8_t err_ = 0;
  uint8_t param22_ = 0;
  std::vector<uint8_t> frame_;
  std::vector<uint8_t> params_;
  std::vector<uint8_t> data_;
  uint16_t address_ = 0, count_ = 0;
  bool expect_data_ = false;
  static constexpr double kFrameGap = 0.05;
  double last_byte_ = 0.0;
  std::deque<std::pair<double, std::vector<uint8_t>>> scheduled_;  // replies due at a time

  std::array<uint16_t, 4> regs_{};
  std::array<uint16_t, 12> dacs_{};
  std::array<uint8_t, kEepromSize> eeprom_{};
  std::string commands_;
  std::vector<uint8_t> received_;
  int reinstalls_ = 0;

  int no_echo_ = 0;
  bool wrong_echo_ = false;
  bool bad_state_check_ = false;
  int short_state_ = -1;
  bool err_next_ = false;
  bool refuse_params_ = false;
  int short_transfer_ = -1;
  int long_transfer_ = 0;
  bool refusing_opens_ = false;
};

}  // namespace sim
