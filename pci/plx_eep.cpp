// The PLX bridge's serial EEPROM by bit-banging the CNTRL lines.
#include "pci/plx_eep.h"

#include "platform/win/clock.h"
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_titles.h"

WDCDeviceHandle hndl = nullptr;
WDCDeviceHandle hndl54 = nullptr;
uint32_t plx_ctrl_reg = 0;
uint32_t rd_val = 0;
uint16_t low_word = 0;

namespace {

// Lines in the upper half of CNTRL.
constexpr uint32_t kSk = 0x100, kCs = 0x200, kDi = 0x400, kDo = 0x800;
constexpr int kPolls = 100;

// The wait after every line change. A 93C46 wants up to 1 us of chip-select
// and data set-up and of clock-high time at its lowest supply: twice that, on
// the program's clock.
constexpr double kEdgeDelay = 2e-6;
void short_delay() { platform::clock::spin(kEdgeDelay); }

class Access {
 public:
  Access(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count, bool hold_di)
      : h_(h), hold_di_(hold_di) {
    if (chip == 0x9054)
      hndl54 = h;
    else
      hndl = h;
    plx_ctrl_reg = chip == 0x9054 ? 0x6Cu : 0x50u;
    address_bits_ = chip == 0x9050 ? 6 : 8;
    read();
    low_word = static_cast<uint16_t>(rd_val & 0xFFFF);
    const auto sz = static_cast<int16_t>(size);
    const int16_t off = lims(offset, 0, static_cast<int16_t>(sz - 2));
    const int16_t cnt = lims(count, 1, static_cast<int16_t>(sz - off));
    word_ = off / 2;
    words_ = cnt / 2 + (count % 2 != 0 ? 1 : 0);
    // An odd count must not run past the last word: a write there would wrap
    // to word 0, the bridge's own configuration.
    const int last = size / 2 - word_;
    if (words_ > last) words_ = last < 0 ? 0 : last;
    read();
    base_ = (rd_val >> 16) & 0xF8FFu;
    write(base_);
    short_delay();
    write(base_ + kCs);
    state_ = base_ + kCs;
  }

  void write(uint32_t state) { WDC_WriteAddr32(h_, 0, plx_ctrl_reg, state * 65536u + low_word); }
  uint32_t read() {
    WDC_ReadAddr32(h_, 0, plx_ctrl_reg, &rd_val);
    return rd_val >> 16;
  }

  void send(int bit) {
    const uint32_t s = state_ + (bit ? kDi : 0);
    write(s);
    short_delay();
    write(s + kSk);
    short_delay();
    write(s);
    short_delay();
  }
  void send_bits(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) send((value >> i) & 1u);
  }
  void send_address(uint32_t address) { send_bits(address, address_bits_); }

  int receive() {
    write(state_ + kSk);
    short_delay();
    write(hold_di_ ? state_ + kDi : state_);
    return (read() & kDo) ? 1 : 0;
  }

  // Chip select off and on again.
  void reselect(bool settle) {
    write(base_);
    short_delay();
    write(base_ + kCs);
    if (settle) short_delay();
    state_ = base_ + kCs;
  }

  int16_t read_words(uint16_t *out) {
    send_bits(0x6, 4);  // 0, start bit, READ opcode 10
    send_address(static_cast<uint32_t>(word_));
    if (hold_di_) write(base_ + kCs + kDi);
    bool fell = false;
    for (int i = 0; i < kPolls && !fell; ++i) {
      if ((read() & kDo) == 0) {
        fell = true;
        state_ = rd_val >> 16;
      } else {
        short_delay();
      }
    }
    if (!fell) {
      write(base_);
      return -2;
    }
    for (int k = 0; k < words_; ++k) {
      uint32_t w = 0;
      for (int b = 0; b < 16; ++b) w = w << 1 | static_cast<uint32_t>(receive());
      out[k] = static_cast<uint16_t>(w);
    }
    write(base_);
    return 0;
  }

  template <typename Word>
  int16_t write_words(const Word *in) {
    send_bits(0x4, 4);                               // 0, start bit, opcode 00
    send_bits((1u << address_bits_) - 1, address_bits_);  // EWEN
    int16_t result = 0;
    for (int k = 0; k < words_; ++k) {
      reselect(false);
      send_bits(0x5, 3);  // start bit, WRITE opcode 01
      send_address(static_cast<uint32_t>(word_ + k));
      send_bits(static_cast<uint16_t>(in[k]), 16);
      reselect(true);
      if (hold_di_) write(base_ + kCs + kDi);
      bool ready = false;
      for (int i = 0; i < kPolls && !ready; ++i) {
        if (read() & kDo)
          ready = true;
        else
          QVDelay(0.001);
      }
      if (!ready) {
        result = -2;
        break;
      }
    }
    reselect(false);
    send_bits(0x4, 3);  // start bit, opcode 00
    send_bits(0, 8);    // EWDS
    write(base_);
    return result;
  }

  int words() const { return words_; }

 private:
  WDCDeviceHandle h_;
  bool hold_di_;
  int address_bits_ = 6;
  int word_ = 0;
  int words_ = 0;
  uint32_t base_ = 0;
  uint32_t state_ = 0;
};

}  // namespace

int16_t read_pci_eep(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                     uint16_t *buffer) {
  Access a(h, chip, size, offset, count, false);
  return a.read_words(buffer);
}

int16_t write_pci_eep(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                      const uint16_t *buffer) {
  Access a(h, chip, size, offset, count, false);
  return a.write_words(buffer);
}

int16_t read_pci_eep54(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                       int16_t *buffer) {
  Access a(h, chip, size, offset, count, true);
  return a.read_words(reinterpret_cast<uint16_t *>(buffer));
}

int16_t write_pci_eep54(WDCDeviceHandle h, uint16_t chip, uint16_t size, int16_t offset, int16_t count,
                        const int16_t *buffer) {
  Access a(h, chip, size, offset, count, true);
  return a.write_words(buffer);
}
