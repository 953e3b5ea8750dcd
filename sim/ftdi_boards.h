#pragma once
// The boards behind simulated FTDI chips that are not KMV-USB modules: a
// microcontroller behind the FIFO that answers framed command strings, and
// the sync-delay box wired to a chip's bit-bang pins. Both keep the six delay
// latches and the input latch of the sync-delay box.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class FtdiDevice;

// Six delay lines (bits 0..5 = lines 1..6, weights 0.5 .. 16 ns) and the
// active-input line (line 8), each a latch with a set and a reset input.
class DelayLatches {
 public:
  void pulse(int line, bool set);
  int code() const { return code_; }
  bool active_input() const { return input_; }
  double delay_ns() const { return code_ * 0.5; }
  // (line, set) of every pulse, in order.
  const std::vector<std::pair<int, bool>> &pulses() const { return pulses_; }
  void clear_pulses() { pulses_.clear(); }

 private:
  int code_ = 0;
  bool input_ = false;
  std::vector<std::pair<int, bool>> pulses_;
};

// A microcontroller behind an FT245R/DLP-245SY FIFO: frames of a count, the
// payload and an XOR check; 0x55 accepts, 0xAA refuses. Ports 0..4 of eight
// pins; the pins of port 1, 2 and 4 pulse the sync-delay latches.
class CommandBoard {
 public:
  CommandBoard(FtdiDevice &device, std::string board_id);
  CommandBoard(const CommandBoard &) = delete;
  CommandBoard &operator=(const CommandBoard &) = delete;

  uint8_t port(int p) const { return ports_[p]; }
  void set_port(int p, uint8_t v) { ports_[p] = v; }
  const std::string &board_id() const { return board_id_; }
  DelayLatches &latches() { return latches_; }
  // Frames taken (accepted or refused), as sent.
  const std::vector<std::vector<uint8_t>> &frames() const { return frames_; }

  // Faults, each for the next frame only (refusal: or the one after so many more).
  void refuse_next(int after = 0) { refuse_in_ = after; }  // 0xAA whatever came
  void stay_silent_next() { silent_next_ = true; }         // no reply at all
  void drop_data_next() { drop_data_next_ = true; }        // acknowledge, but no data byte

 private:
  std::vector<uint8_t> take(const std::vector<uint8_t> &written);
  std::vector<uint8_t> answer(const std::vector<uint8_t> &payload);

  FtdiDevice &device_;
  std::string board_id_;
  std::array<uint8_t, 5> ports_{};
  std::vector<uint8_t> pending_;
  DelayLatches latches_;
  std::vector<std::vector<uint8_t>> frames_;
  int refuse_in_ = -1;  // frames before the refused one; -1 none
  bool silent_next_ = false;
  bool drop_data_next_ = false;
};

// The sync-delay box on a chip's bit-bang pins: bit 7 selects port 0 (set
// inputs) or port 1 (reset inputs), a rising pin on the selected port pulses
// its line (pins 0, 1, 2, 5, 4, 3 for lines 1..6, pin 6 for line 8).
class BitBangBoard {
 public:
  explicit BitBangBoard(FtdiDevice &device);
  BitBangBoard(const BitBangBoard &) = delete;
  BitBangBoard &operator=(const BitBangBoard &) = delete;
  DelayLatches &latches() { return latches_; }
  // Every byte the pins took.
  const std::vector<uint8_t> &pin_bytes() const { return bytes_; }

 private:
  void take(uint8_t pins);
  DelayLatches latches_;
  std::vector<uint8_t> bytes_;
  uint8_t last_ = 0xFF;
};

}  // namespace sim
