#pragma once
// I2C bus of a simulated module, at line level: the MPSSE engine moves SCL and
// SDA with its pin commands and clocks bits with its shift commands; START and
// STOP are SDA edges while SCL stays high; slaves drive SDA low for their
// acknowledge and for the 0 bits of bytes they send (wired AND with the master).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// One decoded transaction: everything from a START to the STOP or the next START.
struct I2cTransaction {
  enum class End { Open, Stop, Restart };
  uint8_t wire_address = 0;  // the first byte after START (address << 1 | read)
  bool address_ack = false;
  std::vector<uint8_t> bytes;  // data bytes after the address, as on the wire
  std::vector<bool> acks;      // per data byte: slave acknowledge (writes) or master acknowledge (reads)
  End end = End::Open;
  bool read() const { return (wire_address & 1) != 0; }
  uint8_t address() const { return static_cast<uint8_t>(wire_address >> 1); }
};

// Short text of a transaction, e.g. "W48+ 3F+ 12+ P" or "R49+ 0D+ 12- P"
// (+ acknowledged, - not, P stop, S repeated start, ... still open).
std::string describe(const I2cTransaction &t);

class I2cBus;

// A device on the bus. It sees bytes, not bits.
class I2cSlave {
 public:
  virtual ~I2cSlave() = default;
  // Addressed after a START; false leaves the address unacknowledged.
  virtual bool start(bool read) = 0;
  // A byte from the master; false leaves it unacknowledged.
  virtual bool write(uint8_t byte) = 0;
  // The next byte for the master.
  virtual uint8_t read() = 0;
  // The transaction ended with a STOP (commit) or with a START (abort).
  virtual void stop() {}
  virtual void abort() {}
};

class I2cBus {
 public:
  // 7-bit address; the slave must outlive the bus or be detached.
  void attach(uint8_t address, I2cSlave *slave);
  void detach_all();

  // Pin command: the master's SCL and SDA (1 also when it does not drive).
  void set_lines(bool scl, bool master_sda);
  // One clock pulse with the master's data bit (1 when it does not drive);
  // returns the SDA level the receiver samples.
  bool clock(bool master_sda);
  bool scl() const { return scl_; }
  bool sda() const;  // wire level now

  // The slave at this address does not acknowledge at position 0 (its
  // address) or at data byte k (1-based), the next `times` times (-1: always).
  void inject_nak(uint8_t address, int position, int times = 1);
  void clear_faults() { naks_.clear(); }

  // Every transaction (keep on), or only the last one, which the decoding needs.
  void keep_log(bool on);
  const std::vector<I2cTransaction> &log() const { return log_; }
  void clear_log() { log_.clear(); }
  // Line-level protocol violations seen, in words.
  const std::vector<std::string> &violations() const { return violations_; }
  void violation(const std::string &what);
  void clear_violations() { violations_.clear(); }
  uint64_t clock_pulses() const { return pulses_; }

  // Lines released, no transaction (power-on).
  void reset();

 private:
  enum class Phase { Idle, Address, SlaveAck, Receive, Transmit, MasterAck, Ignore };
  bool slave_drive() const;
  bool take_nak(uint8_t address, int position);
  void on_start();
  void on_stop();
  I2cTransaction *open_txn();

  std::map<uint8_t, I2cSlave *> slaves_;
  struct Nak {
    int position;
    int times;
  };
  std::multimap<uint8_t, Nak> naks_;
  bool scl_ = true;
  bool master_sda_ = true;
  Phase phase_ = Phase::Idle;
  I2cSlave *active_ = nullptr;
  bool reading_ = false;
  bool pending_ack_ = false;
  int bits_ = 0;
  uint8_t shift_ = 0;
  uint8_t tx_byte_ = 0;
  bool keep_log_ = true;
  std::vector<I2cTransaction> log_;
  std::vector<std::string> violations_;
  uint64_t pulses_ = 0;
};

}  // namespace sim
