#include "sim/i2c.h"

#include <cstdio>

namespace sim {
namespace {
constexpr size_t kLogLimit = 100000;
}

std::string describe(const I2cTransaction &t) {
  char buf[8];
  std::string s = t.read() ? "R" : "W";
  std::snprintf(buf, sizeof buf, "%02X", t.wire_address);
  s += buf;
  s += t.address_ack ? "+" : "-";
  for (size_t i = 0; i < t.bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, " %02X", t.bytes[i]);
    s += buf;
    s += (i < t.acks.size() && t.acks[i]) ? "+" : "-";
  }
  switch (t.end) {
    case I2cTransaction::End::Stop: s += " P"; break;
    case I2cTransaction::End::Restart: s += " S"; break;
    case I2cTransaction::End::Open: s += " ..."; break;
  }
  return s;
}

void I2cBus::attach(uint8_t address, I2cSlave *slave) { slaves_[address] = slave; }

void I2cBus::detach_all() {
  slaves_.clear();
  active_ = nullptr;
  phase_ = Phase::Idle;
}

void I2cBus::keep_log(bool on) {
  keep_log_ = on;
  if (!on && log_.size() > 1) log_.erase(log_.begin(), log_.end() - 1);
}

void I2cBus::violation(const std::string &what) {
  if (violations_.size() >= kLogLimit) violations_.erase(violations_.begin(), violations_.begin() + kLogLimit / 2);
  violations_.push_back(what);
}

void I2cBus::reset() {
  scl_ = true;
  master_sda_ = true;
  phase_ = Phase::Idle;
  active_ = nullptr;
  bits_ = 0;
}

void I2cBus::inject_nak(uint8_t address, int position, int times) { naks_.insert({address, Nak{position, times}}); }

bool I2cBus::take_nak(uint8_t address, int position) {
  auto range = naks_.equal_range(address);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.position != position) continue;
    if (it->second.times > 0 && --it->second.times == 0) naks_.erase(it);
    return true;
  }
  return false;
}

bool I2cBus::slave_drive() const {
  switch (phase_) {
    case Phase::SlaveAck: return !pending_ack_;
    case Phase::Transmit: return ((tx_byte_ >> (7 - bits_)) & 1) != 0;
    default: return true;
  }
}

bool I2cBus::sda() const { return master_sda_ && slave_drive(); }

I2cTransaction *I2cBus::open_txn() {
  if (log_.empty() || log_.back().end != I2cTransaction::End::Open) return nullptr;
  return &log_.back();
}

void I2cBus::on_start() {
  if (I2cTransaction *t = open_txn()) {
    t->end = I2cTransaction::End::Restart;
    if (active_) active_->abort();
  }
  active_ = nullptr;
  // A long simulated run keeps the recent part of its log, or none of it.
  if (!keep_log_) log_.clear();
  else if (log_.size() >= kLogLimit) log_.erase(log_.begin(), log_.begin() + kLogLimit / 2);
  log_.emplace_back();
  phase_ = Phase::Address;
  bits_ = 0;
  shift_ = 0;
}

void I2cBus::on_stop() {
  if (I2cTransaction *t = open_txn()) {
    t->end = I2cTransaction::End::Stop;
    if (active_) active_->stop();
  }
  active_ = nullptr;
  phase_ = Phase::Idle;
}

void I2cBus::set_lines(bool scl, bool master_sda) {
  const bool was_scl = scl_;
  const bool was_sda = sda();
  scl_ = scl;
  master_sda_ = master_sda;
  const bool now_sda = sda();
  if (was_scl && scl_ && was_sda != now_sda) {
    if (now_sda) {
      on_stop();
    } else {
      on_start();
    }
  }
}

bool I2cBus::clock(bool master_sda) {
  if (scl_) violation("clock pulse begun with SCL high");
  ++pulses_;
  master_sda_ = master_sda;
  const bool wire = sda();
  I2cTransaction *t = open_txn();
  switch (phase_) {
    case Phase::Idle:
    case Phase::Ignore: break;
    case Phase::Address:
    case Phase::Receive:
      shift_ = static_cast<uint8_t>(shift_ << 1 | (wire ? 1 : 0));
      if (++bits_ < 8) break;
      bits_ = 0;
      if (phase_ == Phase::Address) {
        const uint8_t address = shift_ >> 1;
        reading_ = (shift_ & 1) != 0;
        auto it = slaves_.find(address);
        active_ = it == slaves_.end() ? nullptr : it->second;
        bool ack = active_ != nullptr && !take_nak(address, 0) && active_->start(reading_);
        if (!ack) active_ = nullptr;
        if (t) {
          t->wire_address = shift_;
          t->address_ack = ack;
        }
        pending_ack_ = ack;
      } else {
        const int position = t ? static_cast<int>(t->bytes.size()) + 1 : 1;
        const uint8_t address = t ? t->address() : 0;
        bool ack = active_ != nullptr && !take_nak(address, position) && active_->write(shift_);
        if (t) {
          t->bytes.push_back(shift_);
          t->acks.push_back(ack);
        }
        pending_ack_ = ack;
      }
      phase_ = Phase::SlaveAck;
      break;
    case Phase::SlaveAck:
      if (!pending_ack_) {
        phase_ = Phase::Ignore;
      } else if (reading_) {
        tx_byte_ = active_->read();
        shift_ = 0;
        phase_ = Phase::Transmit;
      } else {
        shift_ = 0;
        phase_ = Phase::Receive;
      }
      break;
    case Phase::Transmit:
      shift_ = static_cast<uint8_t>(shift_ << 1 | (wire ? 1 : 0));
      if (++bits_ < 8) break;
      bits_ = 0;
      if (t) t->bytes.push_back(shift_);
      phase_ = Phase::MasterAck;
      break;
    case Phase::MasterAck:
      if (t) t->acks.push_back(!wire);
      if (!wire && active_) {
        tx_byte_ = active_->read();
        shift_ = 0;
        phase_ = Phase::Transmit;
      } else {
        phase_ = Phase::Ignore;
      }
      break;
  }
  // The pulse ends with SCL low; what the slave drives next shows from here on.
  scl_ = false;
  return wire;
}

}  // namespace sim
