#include "sim/ftdi_boards.h"

#include "sim/ftdi_device.h"

namespace sim {

void DelayLatches::pulse(int line, bool set) {
  pulses_.emplace_back(line, set);
  if (line == 8) {
    input_ = set;
  } else if (line >= 1 && line <= 6) {
    const int bit = 1 << (line - 1);
    code_ = set ? (code_ | bit) : (code_ & ~bit);
  }
}

CommandBoard::CommandBoard(FtdiDevice &device, std::string board_id)
    : device_(device), board_id_(std::move(board_id)) {
  board_id_.resize(5, ' ');
  device_.set_responder([this](const std::vector<uint8_t> &written) { return take(written); });
}

// Frames may arrive split over several writes; bytes of a broken frame are
// answered once the count they announce has come.
std::vector<uint8_t> CommandBoard::take(const std::vector<uint8_t> &written) {
  pending_.insert(pending_.end(), written.begin(), written.end());
  std::vector<uint8_t> out;
  while (!pending_.empty() && pending_.size() >= static_cast<size_t>(pending_[0]) + 2) {
    const size_t n = pending_[0];
    std::vector<uint8_t> frame(pending_.begin(), pending_.begin() + static_cast<long>(n) + 2);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(n) + 2);
    frames_.push_back(frame);
    uint8_t x = 0;
    for (size_t i = 0; i <= n; ++i) x ^= frame[i];
    if (silent_next_) {
      silent_next_ = false;
      continue;
    }
    const bool refused = refuse_in_ == 0;
    if (refuse_in_ >= 0) --refuse_in_;
    if (refused || x != frame[n + 1] || n == 0) {
      out.push_back(0xAA);
      continue;
    }
    const std::vector<uint8_t> reply = answer(std::vector<uint8_t>(frame.begin() + 1, frame.begin() + 1 + static_cast<long>(n)));
    out.insert(out.end(), reply.begin(), reply.end());
  }
  return out;
}

namespace {
// The latch a command-string pin pulses: (port, pin) -> (line, set).
bool line_of(int port, int pin, int *line, bool *set) {
  struct Wire {
    int port, pin, line;
    bool set;
  };
  static constexpr Wire wires[] = {
      {4, 1, 1, true}, {4, 0, 1, false}, {4, 3, 2, true}, {4, 2, 2, false}, {4, 5, 3, true}, {4, 4, 3, false},
      {1, 3, 4, true}, {1, 2, 4, false}, {1, 1, 5, true}, {1, 0, 5, false}, {4, 7, 6, true}, {4, 6, 6, false},
      {2, 1, 8, true}, {2, 0, 8, false},
  };
  for (const Wire &w : wires) {
    if (w.port != port || w.pin != pin) continue;
    *line = w.line;
    *set = w.set;
    return true;
  }
  return false;
}
}  // namespace

std::vector<uint8_t> CommandBoard::answer(const std::vector<uint8_t> &payload) {
  const uint8_t cmd = payload[0];
  const bool drop = drop_data_next_;
  drop_data_next_ = false;
  std::vector<uint8_t> out{0x55};
  const auto data = [&](uint8_t b) {
    if (!drop) out.push_back(b);
  };
  if (cmd >= 0x55 && cmd <= 0x5E && payload.size() == ((cmd - 0x55) % 2 == 0 ? 1u : 2u)) {
    const int p = (cmd - 0x55) / 2;
    if ((cmd - 0x55) % 2 == 0) {
      data(ports_[p]);
    } else {
      ports_[p] = payload[1];
    }
    return out;
  }
  if ((cmd == 0xA5 && payload.size() == 2) || (cmd == 0xA6 && payload.size() == 3)) {
    const int p = (payload[1] >> 4) - 10, pin = payload[1] & 0x0F;
    if (p < 0 || p > 4 || pin > 7) return {0xAA};
    const uint8_t bit = static_cast<uint8_t>(1 << pin);
    if (cmd == 0xA5) {
      data((ports_[p] & bit) ? 1 : 0);
      return out;
    }
    const bool rising = payload[2] != 0 && (ports_[p] & bit) == 0;
    ports_[p] = payload[2] ? (ports_[p] | bit) : (ports_[p] & ~bit);
    int line = 0;
    bool set = false;
    if (rising && line_of(p, pin, &line, &set)) latches_.pulse(line, set);
    return out;
  }
  if (cmd == 0xA7 && payload.size() == 1) {
    for (char c : board_id_) data(static_cast<uint8_t>(c));
    return out;
  }
  return {0xAA};
}

BitBangBoard::BitBangBoard(FtdiDevice &device) {
  device.set_pin_observer([this](uint8_t pins) { take(pins); });
}

void BitBangBoard::take(uint8_t pins) {
  bytes_.push_back(pins);
  static constexpr int line_of_pin[7] = {1, 2, 3, 6, 5, 4, 8};
  const uint8_t rising = static_cast<uint8_t>(pins & ~last_ & 0x7F);
  // A change of the port bit is no pulse: only pins rising on the same port count.
  if ((pins & 0x80) == (last_ & 0x80)) {
    for (int pin = 0; pin < 7; ++pin)
      if (rising & (1 << pin)) latches_.pulse(line_of_pin[pin], (pins & 0x80) == 0);
  }
  last_ = pins;
}

}  // namespace sim
