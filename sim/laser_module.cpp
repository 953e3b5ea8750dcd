#include "sim/laser_module.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <numeric>

#include "platform/serial/rs232.h"
#include "platform/win/clock.h"

namespace sim {

LaserModule::LaserModule(int com, std::string name, std::string ident)
    : com_(com), name_(name.empty() ? "Arduino Leonardo (COM" + std::to_string(com) + ")" : std::move(name)),
      ident_(std::move(ident)) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
    const char *s = ::ptsname(master_);
    slave_ = s ? s : "";
  }
  pump_id_ = platform::serial::add_pump([this] { return pump(); });
}

LaserModule::~LaserModule() {
  platform::serial::remove_pump(pump_id_);
  if (master_ >= 0) ::close(master_);
}

std::vector<platform::serial::PortEntry> LaserModule::entries() const {
  if (master_ < 0) return {};
  platform::serial::PortEntry e;
  e.com = com_;
  // A directory in place of the device: the open fails as a broken port's does.
  e.path = refusing_opens_ ? std::string("/dev") : slave_;
  e.name = name_;
  auto *self = const_cast<LaserModule *>(this);
  e.reinstall = [self] {
    ++self->reinstalls_;
    self->refusing_opens_ = false;
    return 0;
  };
  return {e};
}

void LaserModule::vanish() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void LaserModule::send(const std::vector<uint8_t> &bytes) {
  if (master_ < 0 || bytes.empty()) return;
  const ssize_t n = ::write(master_, bytes.data(), bytes.size());
  if (n > 0) sent_ = true;
}

bool LaserModule::pump() {
  sent_ = false;
  if (master_ < 0) return false;
  const double now = platform::clock::now();
  while (!scheduled_.empty() && scheduled_.front().first <= now) {
    send(scheduled_.front().second);
    scheduled_.pop_front();
  }
  uint8_t buf[256];
  for (;;) {
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) return sent_;  // nothing, or no one holds the port open
    for (ssize_t i = 0; i < n; ++i) take(buf[i]);
  }
}

void LaserModule::send_state() {
  std::vector<uint8_t> rec = {kBoardId, state_, letter_, static_cast<uint8_t>(err_next_ ? 1 : err_), 0, 0};
  err_next_ = false;
  rec[5] = static_cast<uint8_t>(0x55 - std::accumulate(rec.begin(), rec.begin() + 5, 0));
  if (bad_state_check_) {
    rec[5] ^= 0x01;
    bad_state_check_ = false;
  }
  if (short_state_ >= 0) {
    rec.resize(static_cast<size_t>(short_state_));
    short_state_ = -1;
  }
  send(rec);
}

size_t LaserModule::params_wanted() const {
  switch (letter_) {
    case 'P':
    case 'A': return 3;
    case 'E':
    case 'D': return 4;
    default: return 0;
  }
}

void LaserModule::take(uint8_t b) {
  // A frame broken off for a while is given up: the next byte starts afresh.
  const double now = platform::clock::now();
  if (phase_ != Phase::Idle && now - last_byte_ > kFrameGap) phase_ = Phase::Idle;
  last_byte_ = now;
  received_.push_back(b);
  // Every byte is echoed at once.
  if (no_echo_ > 0) {
    --no_echo_;
  } else {
    send({static_cast<uint8_t>(wrong_echo_ ? b ^ 0xFF : b)});
    wrong_echo_ = false;
  }
  switch (phase_) {
    case Phase::Idle:
      if (b == 0x55) {
        frame_ = {b};
        phase_ = Phase::Command;
      } else if ((state_ & 0x0F) == 1 && params_wanted() > 0) {
        params_ = {b};
        phase_ = Phase::Params;
      } else if (b == 'S' && letter_ == 'E' && (state_ & 0x0F) == 2) {
        // The transfer: count (little-endian) and the bytes, once they are read.
        std::vector<uint8_t> out;
        size_t n = std::min<size_t>(count_, kEepromSize - std::min<size_t>(address_, kEepromSize));
        if (short_transfer_ >= 0) {
          n = std::min<size_t>(n, static_cast<size_t>(short_transfer_));
          short_transfer_ = -1;
        }
        const size_t extra = static_cast<size_t>(long_transfer_);
        long_transfer_ = 0;
        out.push_back(static_cast<uint8_t>((n + extra) & 0xFF));
        out.push_back(static_cast<uint8_t>((n + extra) >> 8));
        out.insert(out.end(), eeprom_.begin() + address_, eeprom_.begin() + address_ + static_cast<long>(n));
        out.insert(out.end(), extra, uint8_t{0xEE});
        scheduled_.emplace_back(platform::clock::now() + count_ * 0.005 + 0.1, std::move(out));
        state_ = 0;
      }
      return;
    case Phase::Command:
      frame_.push_back(b);
      cmd_ = b;
      phase_ = b == 0x22 ? Phase::Param22 : Phase::Check;
      return;
    case Phase::Param22:
      frame_.push_back(b);
      param22_ = b;
      phase_ = Phase::Check;
      return;
    case Phase::Check:
      frame_.push_back(b);
      phase_ = Phase::Idle;
      frame_done();
      return;
    case Phase::Params:
      params_.push_back(b);
      if (params_.size() == params_wanted() + 1) {
        phase_ = Phase::Idle;
        params_done();
      }
      return;
    case Phase::Data:
      data_.push_back(b);
      if (data_.size() == static_cast<size_t>(count_) + 1) {
        phase_ = Phase::Idle;
        state_ = 0;
        if ((std::accumulate(data_.begin(), data_.end(), 0) & 0xFF) != 0x55) {
          send({'c', 'h', 'e', 'c', 'k', '\r', '\n'});
          return;
        }
        for (size_t i = 0; i < count_ && address_ + i < kEepromSize; ++i) eeprom_[address_ + i] = data_[i];
        send({'r', 'e', 'a', 'd', 'y', '\r', '\n'});
      }
      return;
  }
}

void LaserModule::frame_done() {
  const int sum = std::accumulate(frame_.begin(), frame_.end(), 0) & 0xFF;
  if (sum != 0x55) {
    err_ = 2;  // bad check: refused
    send_state();
    return;
  }
  if (cmd_ == 0x11) {
    err_ = 0;
    send_state();
    if (expect_data_ && (state_ & 0x0F) == 2) {
      expect_data_ = false;
      data_.clear();
      phase_ = Phase::Data;
    }
    return;
  }
  if (cmd_ == 0x22) {
    state_ = param22_;
    expect_data_ = false;
    err_ = 0;
    send_state();
    return;
  }
  letter_ = cmd_;
  commands_.push_back(static_cast<char>(cmd_));
  err_ = 0;
  state_ = params_wanted() > 0 ? 1 : 0;
  send_state();
  if (cmd_ == 'I') {
    std::vector<uint8_t> text(ident_.begin(), ident_.end());
    text.push_back('\r');
    text.push_back('\n');
    send(text);
  }
}

void LaserModule::params_done() {
  const int sum = std::accumulate(params_.begin(), params_.end(), 0) & 0xFF;
  if (sum != 0x55 || refuse_params_) {
    state_ = refuse_params_ ? 0 : 1;
    err_ = refuse_params_ ? 0 : 3;
    return;
  }
  err_ = 0;
  state_ = 2;
  const uint16_t word = static_cast<uint16_t>(params_[1] | params_[2] << 8);
  switch (letter_) {
    case 'P':
      if (params_[0] < regs_.size()) regs_[params_[0]] = word;
      break;
    case 'A':
      if (params_[0] < dacs_.size()) dacs_[params_[0]] = static_cast<uint16_t>(word & 0x0FFF);
      break;
    case 'E':
    case 'D':
      address_ = static_cast<uint16_t>(params_[0] | params_[1] << 8);
      count_ = static_cast<uint16_t>(params_[2] | params_[3] << 8);
      // 'D': the data and their check byte follow the query that confirms the parameters.
      expect_data_ = letter_ == 'D' && count_ > 0;
      break;
    default: break;
  }
}

}  // namespace sim
