#pragma once
// A simulated FTDI device as the D2XX layer sees it: identity, user area,
// receive queue with the chip's latency timer, bit modes, and an MPSSE engine
// that drives the device's I2C bus. Calls return D2XX status numbers; the
// device keeps its time on platform::clock.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/ftdi_eeprom.h"
#include "sim/i2c.h"

namespace sim {

struct DeviceStats {
  uint64_t writes = 0;         // write calls
  uint64_t bytes_written = 0;  // bytes taken by them
  uint64_t queue_polls = 0;    // queue-status calls
  uint64_t reads = 0;          // read calls
  uint64_t bytes_read = 0;
  uint64_t purges = 0;
};

// One call as the device saw it.
struct D2xxCall {
  std::string op;             // "write", "read", "queue", "reset", "purge", "bitmode", ...
  std::vector<uint8_t> data;  // bytes written or read; arguments of the others
  uint32_t value = 0;         // bytes waiting (queue), count asked (read), mask (purge)
  uint32_t status = 0;
};

class FtdiDevice {
 public:
  FtdiDevice(std::string serial, std::string description);

  // Identity.
  const std::string &serial() const { return serial_; }
  const std::string &description() const { return description_; }
  // The identity setters lay the chip's EEPROM out afresh (its user area kept).
  void set_description(const std::string &d);
  uint32_t type() const { return type_; }
  void set_type(uint32_t t);
  uint32_t id() const { return id_; }
  void set_id(uint32_t id);
  uint32_t loc_id() const { return loc_id_; }
  void set_loc_id(uint32_t l) { loc_id_ = l; }
  // The user area of the chip's EEPROM (its size is the area's size). Bytes
  // changed here reach the EEPROM image before its next read.
  std::vector<uint8_t> &user_area() { return user_area_; }

  // The chip's EEPROM word by word, as its vendor requests reach it. The chip
  // reads its description from it when it next powers on (re-plug, cycle).
  int eeprom_words();
  uint16_t eeprom_read_word(int address);
  void eeprom_write_word(int address, uint16_t value);
  void eeprom_erase();
  const std::vector<uint8_t> &eeprom_image();
  // A 16-byte user block at the start of the user area: module number in
  // bytes 2..3 (low byte first), the last byte made so that the byte sum is 0x55.
  void set_user_block(uint16_t module_number, bool valid = true);

  // Presence.
  bool plugged() const { return plugged_; }
  void set_plugged(bool p);
  bool held_elsewhere() const { return held_elsewhere_; }
  void set_held_elsewhere(bool h) { held_elsewhere_ = h; }
  // Changes whenever the device leaves the bus; a handle of an older session is dead.
  uint64_t session() const { return session_; }
  // Back to power-on: bit mode reset, queues empty, engine idle.
  void power_on();

  // D2XX side.
  uint32_t open();
  void close();
  bool is_open() const { return open_; }
  uint32_t write(const uint8_t *data, uint32_t count, uint32_t *written);
  uint32_t read(uint8_t *data, uint32_t count, uint32_t *received);
  uint32_t queue_status(uint32_t *waiting);
  uint32_t reset();
  uint32_t purge(uint32_t mask);
  uint32_t set_timeouts(uint32_t read_ms, uint32_t write_ms);
  uint32_t set_latency_timer(uint8_t ms);
  uint32_t set_usb_parameters(uint32_t in_size, uint32_t out_size);
  uint32_t set_chars(uint8_t event_char, uint8_t event_enable, uint8_t error_char, uint8_t error_enable);
  uint32_t set_bit_mode(uint8_t mask, uint8_t mode);
  uint32_t get_bit_mode(uint8_t *pins);
  uint32_t cycle_port();
  uint32_t ua_size(uint32_t *size);
  uint32_t ua_read(uint8_t *data, uint32_t length, uint32_t *read);
  uint32_t ua_write(const uint8_t *data, uint32_t length);
  uint32_t ee_read(platform::d2xx::ProductRecord *record);
  // Programs the product record; the user area keeps its bytes.
  uint32_t ee_program(const platform::d2xx::ProductRecord &record);
  // COM port number of the chip's serial port; -1 none.
  int32_t com_port() const { return com_port_; }
  void set_com_port(int32_t port) { com_port_ = port; }

  // Engine state.
  I2cBus &i2c() { return i2c_; }
  uint8_t bit_mode() const { return mode_; }
  uint8_t low_value() const { return low_value_; }
  uint8_t low_direction() const { return low_dir_; }
  uint8_t high_value() const { return high_value_; }
  uint8_t high_direction() const { return high_dir_; }
  // ACBUS0 as the pin shows it (an input reads 1).
  bool acbus0() const { return (high_dir_ & 1) == 0 || (high_value_ & 1) != 0; }
  uint16_t clock_divisor() const { return divisor_; }
  uint8_t latency_ms() const { return latency_ms_; }
  uint32_t read_timeout_ms() const { return read_timeout_ms_; }
  // Bytes waiting, delivered or not.
  size_t rx_waiting() const { return rx_.size(); }

  // USB side (sim/usb_bus.h): the chip's IN buffer as the bulk endpoint sees it.
  // Bytes ready to go into a packet now (replies that fell due included).
  uint32_t usb_ready();
  // The latency timer ran out: every reply made so far goes with the next packet.
  void usb_latency_expired();
  // Takes up to max ready bytes for a packet.
  uint32_t usb_take(uint8_t *data, uint32_t max);
  // When the replies not yet ready fall due on their own; a huge value when none wait.
  double usb_reply_due() const;

  // Faults.
  void fail_next_writes(uint32_t status, int times = 1);  // the write fails with this status
  void short_next_write(uint32_t count);                  // the next write takes only count bytes
  void withhold_replies(int bytes);                       // the next reply bytes are lost
  void delay_replies(double seconds);                     // the next delivery comes this much later
  void inject_stray_byte(uint8_t b);                      // a byte nobody asked for waits at once
  enum class BadCommandReply { Normal, None, FaOnly };
  void set_bad_command_reply(BadCommandReply r) { bad_reply_ = r; }
  void fail_next_calls(const std::string &op, uint32_t status, int times = 1);  // any other call by its op name
  // Reset and bit-bang modes: answers to each write (a board behind the FIFO).
  using Responder = std::function<std::vector<uint8_t>(const std::vector<uint8_t> &written)>;
  void set_responder(Responder r) { responder_ = std::move(r); }
  // Bit-bang: every byte the pins take, in order (a board wired to them).
  using PinObserver = std::function<void(uint8_t pins)>;
  void set_pin_observer(PinObserver o) { pin_observer_ = std::move(o); }
  // Bit-bang: pins stuck at 0.
  void set_stuck_low(uint8_t mask) { stuck_low_ = mask; }

  // Observation. The call log and the I2C transaction log are kept only
  // while recording is on (tests turn it on); a long simulated run keeps
  // neither, so its memory stays flat.
  void record_calls(bool on);
  bool recording_calls() const { return record_calls_; }
  DeviceStats &stats() { return stats_; }
  const std::vector<D2xxCall> &calls() const { return calls_; }
  void clear_calls() { calls_.clear(); }
  // Unknown MPSSE opcodes received, in order.
  const std::vector<uint8_t> &bad_commands() const { return bad_commands_; }

 private:
  uint32_t log(const std::string &op, std::vector<uint8_t> data, uint32_t value, uint32_t status);
  bool take_call_fault(const std::string &op, uint32_t *status);
  void deliver();
  void reply(uint8_t b);
  void flush_replies();
  void feed(uint8_t b);
  void execute();
  void set_low(uint8_t value, uint8_t dir);
  bool master_sda() const;
  void lay_out_eeprom();
  void push_user_area();
  void pull_user_area();
  void read_identity();

  std::string serial_;
  std::string description_;
  uint32_t type_ = 8;  // FT232H
  uint32_t id_ = 0x04036014;
  uint32_t loc_id_ = 0;
  std::vector<uint8_t> user_area_;
  FtdiEeprom eeprom_;
  int32_t com_port_ = -1;
  bool plugged_ = true;
  bool held_elsewhere_ = false;
  bool open_ = false;
  uint64_t session_ = 1;

  uint8_t mode_ = 0;
  uint8_t mask_ = 0;
  uint8_t latency_ms_ = 16;
  uint32_t read_timeout_ms_ = 0;  // 0 = wait forever, as D2XX's default
  uint32_t write_timeout_ms_ = 0;
  uint8_t latch_ = 0xFF;  // bit-bang output latch
  uint8_t stuck_low_ = 0;

  // Receive side: replies made but not yet sent by the chip, and bytes waiting on the host.
  std::vector<uint8_t> pending_;
  double pending_since_ = 0.0;
  double extra_delay_ = 0.0;
  int withhold_ = 0;
  std::deque<uint8_t> rx_;

  // MPSSE engine.
  std::vector<uint8_t> cmd_;
  uint8_t low_value_ = 0;
  uint8_t low_dir_ = 0;
  uint8_t high_value_ = 0;
  uint8_t high_dir_ = 0;
  uint16_t divisor_ = 0;
  I2cBus i2c_;
  std::vector<uint8_t> bad_commands_;
  BadCommandReply bad_reply_ = BadCommandReply::Normal;

  uint32_t write_fail_status_ = 0;
  int write_fail_times_ = 0;
  int64_t short_write_ = -1;
  struct CallFault {
    std::string op;
    uint32_t status;
    int times;
  };
  std::vector<CallFault> call_faults_;
  Responder responder_;
  PinObserver pin_observer_;

  DeviceStats stats_;
  bool record_calls_ = false;
  std::vector<D2xxCall> calls_;
};

}  // namespace sim
