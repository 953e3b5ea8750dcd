#include "sim/ftdi_device.h"

#include <algorithm>
#include <cstdio>

#include "platform/d2xx/ftd2xx.h"
#include "platform/win/clock.h"

namespace sim {
namespace {
constexpr size_t kCallLogLimit = 200000;
}

FtdiDevice::FtdiDevice(std::string serial, std::string description)
    : serial_(std::move(serial)), description_(std::move(description)), user_area_(64, 0), eeprom_(type_) {
  lay_out_eeprom();
  i2c_.keep_log(false);
}

void FtdiDevice::set_description(const std::string &d) {
  description_ = d;
  lay_out_eeprom();
}

void FtdiDevice::set_type(uint32_t t) {
  type_ = t;
  lay_out_eeprom();
}

void FtdiDevice::set_id(uint32_t id) {
  id_ = id;
  lay_out_eeprom();
}

// The image follows the identity; a record that does not fit leaves the old one.
void FtdiDevice::lay_out_eeprom() {
  push_user_area();
  const std::vector<uint8_t> user = eeprom_.user_data().empty() ? user_area_ : eeprom_.user_data();
  if (eeprom_.size() != platform::d2xx::eeprom_layout::image_size(type_)) eeprom_ = FtdiEeprom(type_);
  platform::d2xx::ProductRecord r;
  eeprom_.decode(&r);
  r.vendor_id = static_cast<uint16_t>(id_ >> 16);
  r.product_id = static_cast<uint16_t>(id_ & 0xFFFF);
  r.description = description_;
  r.serial = serial_;
  eeprom_.program(r, user);
  pull_user_area();
}

// Tests change the user area through its vector.
void FtdiDevice::push_user_area() {
  const std::vector<uint8_t> image_user = eeprom_.user_data();
  if (image_user.empty()) return;
  const size_t n = std::min(image_user.size(), user_area_.size());
  if (!std::equal(user_area_.begin(), user_area_.begin() + n, image_user.begin()))
    eeprom_.write_user_data(user_area_.data(), n);
}

void FtdiDevice::pull_user_area() { user_area_ = eeprom_.user_data(); }

// What the chip reads from its EEPROM when it powers on.
void FtdiDevice::read_identity() {
  platform::d2xx::ProductRecord r;
  if (eeprom_.decode(&r)) description_ = r.description;
}

int FtdiDevice::eeprom_words() { return eeprom_.words(); }

uint16_t FtdiDevice::eeprom_read_word(int address) {
  push_user_area();
  return eeprom_.read_word(address);
}

void FtdiDevice::eeprom_write_word(int address, uint16_t value) {
  push_user_area();
  eeprom_.write_word(address, value);
  pull_user_area();
}

void FtdiDevice::eeprom_erase() {
  eeprom_.erase();
  pull_user_area();
}

const std::vector<uint8_t> &FtdiDevice::eeprom_image() {
  push_user_area();
  return eeprom_.bytes();
}

void FtdiDevice::set_user_block(uint16_t module_number, bool valid) {
  if (user_area_.size() < 16) user_area_.resize(16);
  std::fill(user_area_.begin(), user_area_.begin() + 16, 0);
  user_area_[2] = static_cast<uint8_t>(module_number & 0xFF);
  user_area_[3] = static_cast<uint8_t>(module_number >> 8);
  uint8_t sum = 0;
  for (int i = 0; i < 15; ++i) sum = static_cast<uint8_t>(sum + user_area_[i]);
  user_area_[15] = static_cast<uint8_t>(0x55 - sum + (valid ? 0 : 1));
}

void FtdiDevice::set_plugged(bool p) {
  plugged_ = p;
  if (p) read_identity();
  open_ = false;
  ++session_;
}

void FtdiDevice::power_on() {
  mode_ = 0;
  mask_ = 0;
  latency_ms_ = 16;
  read_timeout_ms_ = write_timeout_ms_ = 0;
  latch_ = 0xFF;
  pending_.clear();
  rx_.clear();
  cmd_.clear();
  low_value_ = low_dir_ = high_value_ = high_dir_ = 0;
  divisor_ = 0;
  i2c_.reset();
}

void FtdiDevice::record_calls(bool on) {
  record_calls_ = on;
  i2c_.keep_log(on);
  if (!on) calls_.clear();
}

uint32_t FtdiDevice::log(const std::string &op, std::vector<uint8_t> data, uint32_t value, uint32_t status) {
  if (!record_calls_) return status;
  if (calls_.size() >= kCallLogLimit) calls_.erase(calls_.begin(), calls_.begin() + kCallLogLimit / 2);
  calls_.push_back(D2xxCall{op, std::move(data), value, status});
  return status;
}

bool FtdiDevice::take_call_fault(const std::string &op, uint32_t *status) {
  for (auto it = call_faults_.begin(); it != call_faults_.end(); ++it) {
    if (it->op != op) continue;
    *status = it->status;
    if (it->times > 0 && --it->times == 0) call_faults_.erase(it);
    return true;
  }
  return false;
}

void FtdiDevice::fail_next_writes(uint32_t status, int times) {
  write_fail_status_ = status;
  write_fail_times_ = times;
}
void FtdiDevice::short_next_write(uint32_t count) { short_write_ = count; }
void FtdiDevice::withhold_replies(int bytes) { withhold_ = bytes; }
void FtdiDevice::delay_replies(double seconds) { extra_delay_ = seconds; }
void FtdiDevice::inject_stray_byte(uint8_t b) { rx_.push_back(b); }
void FtdiDevice::fail_next_calls(const std::string &op, uint32_t status, int times) {
  call_faults_.push_back(CallFault{op, status, times});
}

uint32_t FtdiDevice::open() {
  uint32_t st = 0;
  if (take_call_fault("open", &st)) return log("open", {}, 0, st);
  if (!plugged_) return log("open", {}, 0, FT_DEVICE_NOT_FOUND);
  if (held_elsewhere_ || open_) return log("open", {}, 0, FT_DEVICE_NOT_OPENED);
  open_ = true;
  return log("open", {}, 0, FT_OK);
}

void FtdiDevice::close() {
  open_ = false;
  log("close", {}, 0, FT_OK);
}

// Replies leave the chip when the latency timer runs out or on send-immediate.
void FtdiDevice::reply(uint8_t b) {
  if (withhold_ > 0) {
    --withhold_;
    return;
  }
  if (pending_.empty()) pending_since_ = platform::clock::now();
  pending_.push_back(b);
}

void FtdiDevice::deliver() {
  if (pending_.empty()) return;
  if (platform::clock::now() + 1e-12 < pending_since_ + latency_ms_ / 1000.0 + extra_delay_) return;
  rx_.insert(rx_.end(), pending_.begin(), pending_.end());
  pending_.clear();
  extra_delay_ = 0.0;
}

void FtdiDevice::flush_replies() {
  if (pending_.empty()) return;
  pending_since_ = platform::clock::now() - latency_ms_ / 1000.0;
  deliver();
}

uint32_t FtdiDevice::usb_ready() {
  deliver();
  return static_cast<uint32_t>(rx_.size());
}

void FtdiDevice::usb_latency_expired() {
  if (pending_.empty() || platform::clock::now() + 1e-12 < pending_since_ + extra_delay_) return;
  rx_.insert(rx_.end(), pending_.begin(), pending_.end());
  pending_.clear();
  extra_delay_ = 0.0;
}

uint32_t FtdiDevice::usb_take(uint8_t *data, uint32_t max) {
  deliver();
  const uint32_t n = std::min<uint32_t>(max, static_cast<uint32_t>(rx_.size()));
  std::copy(rx_.begin(), rx_.begin() + n, data);
  rx_.erase(rx_.begin(), rx_.begin() + n);
  return n;
}

double FtdiDevice::usb_reply_due() const {
  return pending_.empty() ? 1e300 : pending_since_ + latency_ms_ / 1000.0 + extra_delay_;
}

uint32_t FtdiDevice::write(const uint8_t *data, uint32_t count, uint32_t *written) {
  *written = 0;
  std::vector<uint8_t> bytes(data, data + count);
  if (write_fail_times_ != 0) {
    if (write_fail_times_ > 0) --write_fail_times_;
    return log("write", std::move(bytes), count, write_fail_status_);
  }
  ++stats_.writes;
  uint32_t n = count;
  if (short_write_ >= 0) {
    n = std::min<uint32_t>(count, static_cast<uint32_t>(short_write_));
    short_write_ = -1;
  }
  bytes.resize(n);
  stats_.bytes_written += n;
  *written = n;
  deliver();
  if (mode_ == FT_BITMODE_MPSSE) {
    for (uint32_t i = 0; i < n; ++i) feed(data[i]);
  } else if (mode_ == FT_BITMODE_ASYNC_BITBANG) {
    if (n > 0) latch_ = data[n - 1];
    if (pin_observer_)
      for (uint32_t i = 0; i < n; ++i) pin_observer_(static_cast<uint8_t>(data[i] & ~stuck_low_));
  } else if (responder_) {
    for (uint8_t b : responder_(bytes)) reply(b);
  }
  return log("write", std::move(bytes), count, FT_OK);
}

uint32_t FtdiDevice::read(uint8_t *data, uint32_t count, uint32_t *received) {
  *received = 0;
  uint32_t st = 0;
  if (take_call_fault("read", &st)) return log("read", {}, count, st);
  ++stats_.reads;
  deliver();
  const double deadline = platform::clock::now() + read_timeout_ms_ / 1000.0;
  while (rx_.size() < count && !pending_.empty()) {
    const double due = pending_since_ + latency_ms_ / 1000.0 + extra_delay_;
    const double until = read_timeout_ms_ == 0 ? due : std::min(due, deadline);
    const double now = platform::clock::now();
    if (until > now) platform::clock::sleep(until - now);
    deliver();
    if (read_timeout_ms_ != 0 && platform::clock::now() >= deadline) break;
  }
  // Nothing more will come: a read with a time-out waits it out, as the chip would.
  if (rx_.size() < count && read_timeout_ms_ != 0) {
    const double now = platform::clock::now();
    if (deadline > now) platform::clock::sleep(deadline - now);
  }
  const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(rx_.size()));
  std::vector<uint8_t> got(rx_.begin(), rx_.begin() + n);
  std::copy(got.begin(), got.end(), data);
  rx_.erase(rx_.begin(), rx_.begin() + n);
  *received = n;
  stats_.bytes_read += n;
  return log("read", std::move(got), count, FT_OK);
}

uint32_t FtdiDevice::queue_status(uint32_t *waiting) {
  *waiting = 0;
  uint32_t st = 0;
  if (take_call_fault("queue", &st)) return log("queue", {}, 0, st);
  ++stats_.queue_polls;
  deliver();
  *waiting = static_cast<uint32_t>(rx_.size());
  // Polls come by the hundred; keep the log to the ones that found data.
  if (*waiting > 0 || calls_.empty() || calls_.back().op != "queue") return log("queue", {}, *waiting, FT_OK);
  return FT_OK;
}

uint32_t FtdiDevice::reset() {
  uint32_t st = 0;
  if (take_call_fault("reset", &st)) return log("reset", {}, 0, st);
  pending_.clear();
  rx_.clear();
  cmd_.clear();
  return log("reset", {}, 0, FT_OK);
}

uint32_t FtdiDevice::purge(uint32_t mask) {
  uint32_t st = 0;
  if (take_call_fault("purge", &st)) return log("purge", {}, mask, st);
  ++stats_.purges;
  if (mask & FT_PURGE_RX) {
    pending_.clear();
    rx_.clear();
  }
  return log("purge", {}, mask, FT_OK);
}

uint32_t FtdiDevice::set_timeouts(uint32_t read_ms, uint32_t write_ms) {
  uint32_t st = 0;
  if (take_call_fault("timeouts", &st)) return log("timeouts", {}, read_ms, st);
  read_timeout_ms_ = read_ms;
  write_timeout_ms_ = write_ms;
  return log("timeouts", {}, read_ms, FT_OK);
}

uint32_t FtdiDevice::set_latency_timer(uint8_t ms) {
  uint32_t st = 0;
  if (take_call_fault("latency", &st)) return log("latency", {}, ms, st);
  if (ms < 1) return log("latency", {}, ms, FT_INVALID_PARAMETER);
  latency_ms_ = ms;
  return log("latency", {}, ms, FT_OK);
}

uint32_t FtdiDevice::set_usb_parameters(uint32_t in_size, uint32_t out_size) {
  uint32_t st = 0;
  if (take_call_fault("usbparams", &st)) return log("usbparams", {}, in_size, st);
  return log("usbparams", {}, in_size, FT_OK);
}

uint32_t FtdiDevice::set_chars(uint8_t event_char, uint8_t event_enable, uint8_t error_char, uint8_t error_enable) {
  uint32_t st = 0;
  if (take_call_fault("chars", &st)) return log("chars", {event_char, event_enable, error_char, error_enable}, 0, st);
  return log("chars", {event_char, event_enable, error_char, error_enable}, 0, FT_OK);
}

uint32_t FtdiDevice::set_bit_mode(uint8_t mask, uint8_t mode) {
  uint32_t st = 0;
  if (take_call_fault("bitmode", &st)) return log("bitmode", {mask, mode}, 0, st);
  mode_ = mode;
  mask_ = mask;
  if (mode == FT_BITMODE_MPSSE) {
    cmd_.clear();
    low_dir_ = high_dir_ = 0;
    set_low(low_value_, 0);
  }
  return log("bitmode", {mask, mode}, 0, FT_OK);
}

uint32_t FtdiDevice::get_bit_mode(uint8_t *pins) {
  uint32_t st = 0;
  if (take_call_fault("getbitmode", &st)) return log("getbitmode", {}, 0, st);
  uint8_t p = 0xFF;
  if (mode_ == FT_BITMODE_ASYNC_BITBANG) {
    p = static_cast<uint8_t>((latch_ & mask_) | (~mask_ & 0xFF));
  } else if (mode_ == FT_BITMODE_MPSSE) {
    p = low_value_;
  }
  p = static_cast<uint8_t>(p & ~stuck_low_);
  *pins = p;
  return log("getbitmode", {p}, 0, FT_OK);
}

uint32_t FtdiDevice::cycle_port() {
  uint32_t st = 0;
  if (take_call_fault("cycle", &st)) return log("cycle", {}, 0, st);
  // The chip leaves the bus and comes back: every handle is dead.
  open_ = false;
  ++session_;
  const uint64_t keep = session_;
  power_on();
  session_ = keep;
  read_identity();
  return log("cycle", {}, 0, FT_OK);
}

uint32_t FtdiDevice::ua_size(uint32_t *size) {
  uint32_t st = 0;
  if (take_call_fault("ua_size", &st)) return log("ua_size", {}, 0, st);
  push_user_area();
  *size = static_cast<uint32_t>(user_area_.size());
  return log("ua_size", {}, *size, FT_OK);
}

uint32_t FtdiDevice::ua_read(uint8_t *data, uint32_t length, uint32_t *read) {
  *read = 0;
  uint32_t st = 0;
  if (take_call_fault("ua_read", &st)) return log("ua_read", {}, length, st);
  push_user_area();
  if (length > user_area_.size()) return log("ua_read", {}, length, FT_INVALID_PARAMETER);
  std::copy(user_area_.begin(), user_area_.begin() + length, data);
  *read = length;
  return log("ua_read", std::vector<uint8_t>(data, data + length), length, FT_OK);
}

uint32_t FtdiDevice::ua_write(const uint8_t *data, uint32_t length) {
  uint32_t st = 0;
  std::vector<uint8_t> bytes(data, data + length);
  if (take_call_fault("ua_write", &st)) return log("ua_write", std::move(bytes), length, st);
  push_user_area();
  if (length > eeprom_.user_data().size()) return log("ua_write", std::move(bytes), length, FT_INVALID_PARAMETER);
  if (!eeprom_.write_user_data(data, length)) return log("ua_write", std::move(bytes), length, FT_EEPROM_WRITE_FAILED);
  pull_user_area();
  return log("ua_write", std::move(bytes), length, FT_OK);
}

uint32_t FtdiDevice::ee_read(platform::d2xx::ProductRecord *record) {
  uint32_t st = 0;
  if (take_call_fault("ee_read", &st)) return log("ee_read", {}, 0, st);
  push_user_area();
  if (!eeprom_.decode(record)) return log("ee_read", {}, 0, FT_EEPROM_NOT_PROGRAMMED);
  return log("ee_read", {}, 0, FT_OK);
}

uint32_t FtdiDevice::ee_program(const platform::d2xx::ProductRecord &record) {
  uint32_t st = 0;
  const std::vector<uint8_t> text(record.description.begin(), record.description.end());
  if (take_call_fault("ee_program", &st)) return log("ee_program", text, 0, st);
  push_user_area();
  if (!eeprom_.program(record, eeprom_.user_data())) return log("ee_program", text, 0, FT_INVALID_PARAMETER);
  pull_user_area();
  return log("ee_program", text, 0, FT_OK);
}

// ---- MPSSE engine ----

bool FtdiDevice::master_sda() const { return (low_dir_ & 2) == 0 || (low_value_ & 2) != 0; }

void FtdiDevice::set_low(uint8_t value, uint8_t dir) {
  low_value_ = value;
  low_dir_ = dir;
  const bool scl = (dir & 1) == 0 || (value & 1) != 0;
  i2c_.set_lines(scl, master_sda());
}

namespace {
// Length of a complete command starting with op, given the bytes so far (0 = not known yet).
size_t command_length(const std::vector<uint8_t> &cmd) {
  switch (cmd[0]) {
    case 0x80:
    case 0x82:
    case 0x86:
    case 0x13:
    case 0x24: return 3;
    case 0x22: return 2;
    case 0x11:
      if (cmd.size() < 3) return 3;
      return 3 + (static_cast<size_t>(cmd[1]) | static_cast<size_t>(cmd[2]) << 8) + 1;
    default: return 1;
  }
}

bool known_single(uint8_t op) {
  switch (op) {
    case 0x81:
    case 0x83:
    case 0x84:
    case 0x85:
    case 0x87:
    case 0x8A:
    case 0x8B:
    case 0x8C:
    case 0x8D:
    case 0x96:
    case 0x97: return true;
    default: return false;
  }
}
}  // namespace

void FtdiDevice::feed(uint8_t b) {
  cmd_.push_back(b);
  if (cmd_.size() < command_length(cmd_)) return;
  execute();
  cmd_.clear();
}

void FtdiDevice::execute() {
  const uint8_t op = cmd_[0];
  const bool drives_sda = (low_dir_ & 2) != 0;
  const bool sda_bit_out = (low_value_ & 2) != 0;
  switch (op) {
    case 0x80: set_low(cmd_[1], cmd_[2]); return;
    case 0x82:
      high_value_ = cmd_[1];
      high_dir_ = cmd_[2];
      return;
    case 0x81: {
      uint8_t p = 0;
      for (int bit = 0; bit < 8; ++bit) {
        bool level = (low_dir_ >> bit & 1) ? (low_value_ >> bit & 1) : true;
        if (bit == 0) level = i2c_.scl();
        if (bit == 1 || bit == 2) level = i2c_.sda();
        if (level) p = static_cast<uint8_t>(p | 1 << bit);
      }
      reply(p);
      return;
    }
    case 0x83: reply(static_cast<uint8_t>((high_value_ & high_dir_) | (~high_dir_ & 0xFF))); return;
    case 0x86: divisor_ = static_cast<uint16_t>(cmd_[1] | cmd_[2] << 8); return;
    case 0x87: flush_replies(); return;
    case 0x11: {
      if (!drives_sda) i2c_.violation("byte write while SDA is not driven");
      for (size_t i = 3; i < cmd_.size(); ++i) {
        for (int bit = 7; bit >= 0; --bit) i2c_.clock(drives_sda ? ((cmd_[i] >> bit) & 1) != 0 : true);
      }
      return;
    }
    case 0x13: {
      if (!drives_sda) i2c_.violation("bit write while SDA is not driven");
      const int n = (cmd_[1] & 7) + 1;
      for (int k = 0; k < n; ++k) i2c_.clock(drives_sda ? ((cmd_[2] >> (7 - k)) & 1) != 0 : true);
      return;
    }
    case 0x22: {
      if (drives_sda) i2c_.violation("bit read while the master drives SDA");
      const int n = (cmd_[1] & 7) + 1;
      uint8_t r = 0x5B;  // bits not clocked in hold junk, as on the chip
      for (int k = 0; k < n; ++k) r = static_cast<uint8_t>(r << 1 | (i2c_.clock(drives_sda ? sda_bit_out : true) ? 1 : 0));
      reply(r);
      return;
    }
    case 0x24: {
      if (drives_sda) i2c_.violation("byte read while the master drives SDA");
      const size_t n = (static_cast<size_t>(cmd_[1]) | static_cast<size_t>(cmd_[2]) << 8) + 1;
      for (size_t i = 0; i < n; ++i) {
        uint8_t r = 0;
        for (int bit = 0; bit < 8; ++bit)
          r = static_cast<uint8_t>(r << 1 | (i2c_.clock(drives_sda ? sda_bit_out : true) ? 1 : 0));
        reply(r);
      }
      return;
    }
    default:
      if (known_single(op)) return;
      bad_commands_.push_back(op);
      if (bad_reply_ == BadCommandReply::None) return;
      reply(0xFA);
      if (bad_reply_ == BadCommandReply::Normal) reply(op);
      return;
  }
}

}  // namespace sim
