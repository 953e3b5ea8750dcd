// MPSSE I2C transport: bus primitives and the module's registers, DAC and
// EEPROM on top of them.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "modules/FTDI_func.h"
#include "platform/win/clock.h"

unsigned char UsbOutBuf[FTDI_MAX_DEVICES][USB_BUF_SIZE];
unsigned char UsbInpBuf[FTDI_MAX_DEVICES][USB_BUF_SIZE];
unsigned short kmv_regdata[FTDI_MAX_DEVICES][20];
unsigned short vaj_regdata[FTDI_MAX_DEVICES][2];
int TRQ_mode = 0;
int VAJ_mode = 0;
int TRQ_show_debug_msg = 0;

namespace {

constexpr int kReplyPolls = 500;
constexpr int kEepromSize = 512;

bool valid_dev(int dev) { return dev >= 0 && dev < FTDI_MAX_DEVICES; }
bool ready(int dev, int digit) { return QV_FTDI_Type[dev] == digit && FTDIHandle[dev] != nullptr; }

// Assembles one command in the device's output buffer and sends it.
class Command {
 public:
  explicit Command(int dev) : dev_(dev) {}
  Command &put(std::initializer_list<unsigned char> bytes, int times = 1) {
    for (int k = 0; k < times; ++k)
      for (unsigned char b : bytes)
        if (n_ < USB_BUF_SIZE) UsbOutBuf[dev_][n_++] = b;
    return *this;
  }
  // One FT_Write, then the fixed 1 ms; a failed write's status at once.
  int send() {
    DWORD written = 0;
    const FT_STATUS st = FT_Write(FTDIHandle[dev_], UsbOutBuf[dev_], static_cast<DWORD>(n_), &written);
    if (st != FT_OK) return static_cast<int>(st);
    Delay(0.001);
    return 0;
  }

 private:
  int dev_;
  size_t n_ = 0;
};

// Polls for the reply byte and reads what waits (at most the buffer). After a
// time-out the receive queue is purged, so a late byte is not taken for the
// next acknowledge.
int await_reply(int dev) {
  FT_HANDLE h = FTDIHandle[dev];
  DWORD waiting = 0;
  for (int polls = 1;; ++polls) {
    const FT_STATUS st = FT_GetQueueStatus(h, &waiting);
    if (st != FT_OK) return static_cast<int>(st);
    if (waiting >= 1) break;
    if (polls >= kReplyPolls) {
      FT_Purge(h, FT_PURGE_RX);
      return -1;
    }
    Sleep(1);
  }
  DWORD got = 0;
  const FT_STATUS st = FT_Read(h, UsbInpBuf[dev], std::min<DWORD>(waiting, USB_BUF_SIZE), &got);
  if (st != FT_OK) return static_cast<int>(st);
  return got == 0 ? -1 : 0;
}

// First non-zero result of a chain of steps.
#define TRY(expr)            \
  do {                       \
    const int r_ = (expr);   \
    if (r_ != 0) return r_;  \
  } while (0)

uint16_t input_mask(int reg) { return reg == 1 ? 0x000F : reg == 3 ? 0xFFFF : 0x0000; }

bool eeprom_range_ok(unsigned short address, int count) {
  return count >= 1 && static_cast<long>(address) + count <= kEepromSize;
}

// A read within the EEPROM, split at the bank boundary.
int eeprom_read(int dev, unsigned char *buf, unsigned short address, int count, int *done) {
  const int first = (address < 256 && address + count > 256) ? 256 - address : count;
  int r = read_i2c_bytes(dev, address, first, buf);
  if (r != 0) {
    if (done) *done = 0;
    return r;
  }
  if (first < count) {
    r = read_i2c_bytes(dev, 256, count - first, buf + first);
    if (done) *done = r != 0 ? first : count;
    return r;
  }
  if (done) *done = count;
  return 0;
}

// A write in page transactions: single bytes up to the next 16-byte boundary,
// whole pages, then single bytes.
int eeprom_write(int dev, const unsigned char *data, unsigned short address, int count) {
  int a = address, i = 0, left = count;
  while (left > 0 && a % 16 != 0) {
    TRY(write_i2c_bytes(dev, static_cast<unsigned short>(a), 1, data + i));
    ++a, ++i, --left;
  }
  while (left >= 16) {
    TRY(write_i2c_bytes(dev, static_cast<unsigned short>(a), 16, data + i));
    a += 16, i += 16, left -= 16;
  }
  while (left > 0) {
    TRY(write_i2c_bytes(dev, static_cast<unsigned short>(a), 1, data + i));
    ++a, ++i, --left;
  }
  return 0;
}

void put_le16(unsigned char *p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}
uint16_t get_le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Runs a loop of writes with one restart from its start after a negative
// result; the result of its last pass (its first failure, else 0).
template <typename Step>
int loop_with_restart(int n, Step step) {
  for (int pass = 0; pass < 2; ++pass) {
    int status = 0;
    bool restart = false;
    for (int k = 0; k < n; ++k) {
      const int r = step(k);
      if (r < 0) {
        if (status == 0) status = r;
        restart = pass == 0;
        break;
      }
      if (r != 0 && status == 0) status = r;
    }
    if (!restart) return status;
  }
  return 0;
}

}  // namespace

// ---- modes and set-up ----

void Set_TRQ_mode(unsigned short mode, int trace) {
  if (mode > 6) return;
  TRQ_mode = mode == 5 ? 5 : 0;
  TRQ_show_debug_msg = trace;
}

void Set_VAJ_mode(unsigned short mode, int trace) {
  if (mode > 6) return;
  VAJ_mode = mode == 6 ? 6 : 0;
  TRQ_show_debug_msg = trace;
}

int Configure_MPSSE_for_I2C(int dev) {
  if (!valid_dev(dev) || (QV_FTDI_Type[dev] != 5 && QV_FTDI_Type[dev] != 6)) return -1;
  FT_HANDLE h = FTDIHandle[dev];
  FT_STATUS st = FT_ResetDevice(h);
  Delay(0.001);
  DWORD waiting = 0;
  const FT_STATUS qst = FT_GetQueueStatus(h, &waiting);
  if (st == FT_OK && qst == FT_OK && waiting > 0) {
    DWORD got = 0;
    FT_Read(h, UsbInpBuf[dev], std::min<DWORD>(waiting, USB_BUF_SIZE), &got);
  }
  st |= qst;
  st |= FT_SetUSBParameters(h, 65536, 65535);
  st |= FT_SetChars(h, 0, 0, 0, 0);
  st |= FT_SetTimeouts(h, 5000, 5000);
  st |= FT_SetLatencyTimer(h, 16);
  st |= FT_SetBitMode(h, 0x00, FT_BITMODE_RESET);
  st |= FT_SetBitMode(h, 0x00, FT_BITMODE_MPSSE);
  if (st != FT_OK) return static_cast<int>(st);

  // Synchronise on the bad-command echo 0xFA 0xAA.
  UsbOutBuf[dev][0] = 0xAA;
  DWORD written = 0;
  FT_Write(h, UsbOutBuf[dev], 1, &written);
  Delay(0.005);
  if (written != 1) return 1;
  FT_STATUS pst = FT_OK;
  bool ran_out = true;
  for (int polls = 1; polls <= kReplyPolls; ++polls) {
    pst = FT_GetQueueStatus(h, &waiting);
    if (pst != FT_OK || waiting >= 2) {
      ran_out = false;
      break;
    }
    if (polls < kReplyPolls) Sleep(1);
  }
  bool found = false;
  if (pst == FT_OK && !ran_out && waiting < USB_BUF_SIZE) {
    DWORD got = 0;
    if (FT_Read(h, UsbInpBuf[dev], waiting, &got) == FT_OK) {
      for (DWORD i = 0; i + 1 < got && !found; ++i) found = UsbInpBuf[dev][i] == 0xFA && UsbInpBuf[dev][i + 1] == 0xAA;
    }
  }
  if (!found) return 1;

  Command c1(dev);
  TRY(c1.put({0x8A, 0x97, 0x8D}).send());
  Command c2(dev);
  c2.put({0x80, 0xFF, 0xFB, 0x82, 0xFF, 0x01, 0x86, 0x95, 0x00});
  DWORD w = 0;
  st = FT_Write(h, UsbOutBuf[dev], 9, &w);
  Sleep(20);
  Delay(0.001);
  if (st != FT_OK) return static_cast<int>(st);
  UsbOutBuf[dev][0] = 0x85;
  st = FT_Write(h, UsbOutBuf[dev], 1, &w);
  Sleep(30);
  Delay(0.001);
  return static_cast<int>(st);
}

// ---- bus primitives ----

int SetI2CLinesIdle(int dev) { return Command(dev).put({0x80, 0xFF, 0xFB, 0x82, 0xFF, 0x01}).send(); }

int SetI2CStart(int dev) {
  return Command(dev).put({0x80, 0xFD, 0xFB}, 4).put({0x80, 0xFC, 0xFB}, 4).put({0x82, 0xFE, 0x01}).send();
}

int SetI2CStop(int dev) {
  return Command(dev)
      .put({0x80, 0xFC, 0xFB}, 4)
      .put({0x80, 0xFD, 0xFB}, 4)
      .put({0x80, 0xFF, 0xFB}, 4)
      .put({0x82, 0xFF, 0x01})
      .send();
}

int SendByteAndCheckACK(int dev, unsigned char byte) {
  TRY(Command(dev).put({0x11, 0x00, 0x00, byte, 0x80, 0xFE, 0xF9, 0x22, 0x00, 0x87, 0x80, 0xFE, 0xFB}).send());
  TRY(await_reply(dev));
  return (UsbInpBuf[dev][0] & 1) ? -1 : 0;
}

int SendAddrAndCheckACK(int dev, int read, unsigned char address) {
  return SendByteAndCheckACK(dev, static_cast<unsigned char>(address << 1 | (read ? 1 : 0)));
}

int ReadByteAndSendACK(int dev, int ack) {
  const unsigned char bit = ack ? 0x00 : 0xFF;
  TRY(Command(dev).put({0x80, 0xFE, 0xF9, 0x24, 0x00, 0x00, 0x80, 0xFE, 0xFB, 0x13, 0x00, bit, 0x80, 0xFE, 0xF9, 0x87}).send());
  return await_reply(dev);
}

// ---- registers ----

namespace {
// One 16-bit register write, low byte first (slave address 0x24 + register).
int write_register_word(int dev, int reg, uint16_t word) {
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 0, static_cast<unsigned char>(0x24 + reg)));
  TRY(SendByteAndCheckACK(dev, static_cast<unsigned char>(word & 0xFF)));
  TRY(SendByteAndCheckACK(dev, static_cast<unsigned char>(word >> 8)));
  TRY(SetI2CStop(dev));
  return 0;
}

uint16_t with_bit(uint16_t word, int bit, short state) {
  return state ? static_cast<uint16_t>(word | 1u << bit) : static_cast<uint16_t>(word & ~(1u << bit));
}
}  // namespace

int KMV_set_register(int dev, int reg, unsigned short value) {
  if (!valid_dev(dev) || reg < 0 || reg > 3) return -1;
  if (TRQ_mode) {
    kmv_regdata[dev][reg] = value;
    return 0;
  }
  if (!ready(dev, 5)) return -1;
  const uint16_t word = value | input_mask(reg);
  TRY(write_register_word(dev, reg, word));
  kmv_regdata[dev][reg] = value;
  return 0;
}

int KMV_set_bit_in_register(int dev, int reg, int bit, short state) {
  if (!valid_dev(dev) || reg < 0 || reg > 3 || bit < 0 || bit > 15) return -1;
  return KMV_set_register(dev, reg, with_bit(kmv_regdata[dev][reg], bit, state));
}

int KMV_get_register(int dev, int reg, unsigned short *value) {
  if (!valid_dev(dev) || reg < 0 || reg > 3 || !value) return -1;
  if (!TRQ_mode && !ready(dev, 5)) return -1;
  const uint16_t mask = input_mask(reg);
  const uint16_t cached = kmv_regdata[dev][reg];
  if (TRQ_mode || mask == 0) {
    *value = cached;
    return 0;
  }
  const unsigned char address = static_cast<unsigned char>(0x24 + reg);
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 1, address));
  TRY(ReadByteAndSendACK(dev, 1));
  const unsigned char low = UsbInpBuf[dev][0];
  TRY(ReadByteAndSendACK(dev, 1));
  const unsigned char high = UsbInpBuf[dev][0];
  TRY(SetI2CStop(dev));
  *value = static_cast<unsigned short>((mask & (high << 8 | low)) | (cached & ~mask));
  // An address-only write: it ends a read the slave may still be driving.
  TRY(SetI2CStart(dev));
  SendAddrAndCheckACK(dev, 0, address);
  return SetI2CStop(dev);
}

// ---- DAC ----

int KMV_set_dac_chan(int dev, unsigned char channel, unsigned short code) {
  if (!valid_dev(dev) || channel > 15) return -1;
  if (TRQ_mode) {
    kmv_regdata[dev][4 + channel] = code;
    return 0;
  }
  if (!ready(dev, 5)) return -1;
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 0, 0x54));
  TRY(SendByteAndCheckACK(dev, channel));
  TRY(SendByteAndCheckACK(dev, static_cast<unsigned char>(0xC0 | ((code >> 6) & 0x3F))));
  TRY(SendByteAndCheckACK(dev, static_cast<unsigned char>((code << 2) & 0xFF)));
  TRY(SetI2CStop(dev));
  // Load pulse: register 1 bit 14 low, then high again.
  const uint16_t r = kmv_regdata[dev][1] | 0xE000;
  TRY(KMV_set_register(dev, 1, r));
  TRY(KMV_set_register(dev, 1, static_cast<unsigned short>(r & ~0x4000)));
  TRY(KMV_set_register(dev, 1, r));
  kmv_regdata[dev][4 + channel] = code;
  return 0;
}

int KMV_set_dac_voltage(int dev, int channel, double *volts) {
  if (!valid_dev(dev) || channel < 0 || channel > 15 || !volts) return -1;
  const double full_scale = channel < 4 ? 10.0 : 5.0;
  const double v = std::min(*volts, full_scale);
  const long code = std::clamp(std::lround(v * 4095.0 / full_scale), 0L, 4095L);
  const int r = KMV_set_dac_chan(dev, static_cast<unsigned char>(channel), static_cast<unsigned short>(code));
  *volts = kmv_regdata[dev][4 + channel] / (4095.0 / full_scale);
  return r;
}

int KMV_get_dac_chan(int dev, int channel, short *code) {
  if (!valid_dev(dev) || channel < 0 || channel > 15 || !code) return -1;
  *code = static_cast<short>(kmv_regdata[dev][4 + channel]);
  return 0;
}

int KMV_clear_all_dacs(int dev) {
  if (!valid_dev(dev)) return -1;
  if (!TRQ_mode) {
    if (!ready(dev, 5)) return -1;
    // Clear pulse: register 1 bit 13 low, then high again.
    const uint16_t r = kmv_regdata[dev][1] | 0xE000;
    TRY(KMV_set_register(dev, 1, r));
    TRY(KMV_set_register(dev, 1, static_cast<unsigned short>(r & ~0x2000)));
    TRY(KMV_set_register(dev, 1, r));
  }
  std::fill(kmv_regdata[dev] + 4, kmv_regdata[dev] + 20, 0);
  return 0;
}

// ---- EEPROM ----

int read_i2c_bytes(int dev, unsigned short address, int count, unsigned char *buf) {
  if (count < 1) return -4;
  const unsigned char d = address >= 256 ? 0x51 : 0x50;
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 0, d));
  TRY(SendByteAndCheckACK(dev, static_cast<unsigned char>(address & 0xFF)));
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 1, d));
  for (int i = 0; i < count; ++i) {
    TRY(ReadByteAndSendACK(dev, i < count - 1 ? 1 : 0));
    buf[i] = UsbInpBuf[dev][0];
  }
  return SetI2CStop(dev);
}

int write_i2c_bytes(int dev, unsigned short address, int count, const unsigned char *data) {
  if (count < 1) return -4;
  const unsigned char d = address >= 256 ? 0x51 : 0x50;
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 0, d));
  TRY(SendByteAndCheckACK(dev, static_cast<unsigned char>(address & 0xFF)));
  for (int i = 0; i < count; ++i) TRY(SendByteAndCheckACK(dev, data[i]));
  TRY(SetI2CStop(dev));
  Delay(0.010);  // the EEPROM's write cycle
  return 0;
}

namespace {
// The module EEPROM of a device with the given module digit; a closed device
// is opened for the read (when allowed) and closed again.
int read_module_eeprom(int dev, int digit, bool may_open, unsigned char *buf, unsigned short address, int count,
                       int *done) {
  if (!buf || QV_FTDI_Type[dev] != digit) return -1;
  bool opened_here = false;
  if (!FTDIHandle[dev]) {
    if (!may_open) return -1;
    TRY(OpenDevice(dev, 1));
    opened_here = true;
  }
  const int r = eeprom_read(dev, buf, address, count, done);
  if (opened_here) CloseDevice(dev);
  return r;
}
}  // namespace

int KMV_ReadUserEEP(int dev, unsigned char *buf, unsigned short address, int count, int *done, int open) {
  if (!valid_dev(dev)) return -1;
  if (!eeprom_range_ok(address, count)) return -4;
  if (TRQ_mode) return 0;
  return read_module_eeprom(dev, 5, open != 0, buf, address, count, done);
}

int KMV_WriteUserEEP(int dev, const unsigned char *data, unsigned short address, int count) {
  if (!valid_dev(dev)) return -1;
  if (!eeprom_range_ok(address, count)) return -4;
  if (TRQ_mode) return 0;
  if (!data || !ready(dev, 5)) return -1;
  return eeprom_write(dev, data, address, count);
}

// ---- device data ----

void prepare_QV_checksum(unsigned char *block, int length) {
  if (!block || length < 1) return;
  unsigned char sum = 0;
  for (int i = 0; i < length - 1; ++i) sum = static_cast<unsigned char>(sum + block[i]);
  block[length - 1] = static_cast<unsigned char>(0x55 - sum);
}

int test_QV_checksum(const unsigned char *block, int length) {
  if (!block || length < 1) return 1;
  unsigned char sum = 0;
  for (int i = 0; i < length; ++i) sum = static_cast<unsigned char>(sum + block[i]);
  return sum == 0x55 ? 0 : 1;
}

int KMV_get_data(int dev, int source, KMVDeviceData *out) {
  if (!valid_dev(dev) || !out) return -1;
  const auto from_cache = [&] {
    std::copy(kmv_regdata[dev], kmv_regdata[dev] + 4, out->registers);
    std::copy(kmv_regdata[dev] + 4, kmv_regdata[dev] + 20, out->dac);
    return 0;
  };
  if (TRQ_mode) return from_cache();
  if (!ready(dev, 5)) return -1;
  if (source != 1) return from_cache();
  unsigned char block[41] = {};
  int done = 0;
  TRY(KMV_ReadUserEEP(dev, block, 128, 41, &done, 0));
  if (done != 41) return -1003;
  if (test_QV_checksum(block, 41) != 0) return -1007;
  for (int r = 0; r < 4; ++r) out->registers[r] = get_le16(block + 2 * r);
  for (int c = 0; c < 16; ++c) out->dac[c] = get_le16(block + 8 + 2 * c) & 0x0FFF;
  return 0;
}

int KMV_set_data(int dev, int target, KMVDeviceData data) {
  if (!valid_dev(dev)) return -1;
  if (!TRQ_mode && !ready(dev, 5)) return -1;
  if (target == 1) {
    unsigned char block[41] = {};
    for (int r = 0; r < 4; ++r) put_le16(block + 2 * r, data.registers[r]);
    for (int c = 0; c < 16; ++c) put_le16(block + 8 + 2 * c, data.dac[c]);
    prepare_QV_checksum(block, 41);
    return KMV_WriteUserEEP(dev, block, 128, 41);
  }
  std::copy(data.registers, data.registers + 4, kmv_regdata[dev]);
  std::copy(data.dac, data.dac + 16, kmv_regdata[dev] + 4);
  // A failure of either loop is reported, not hidden by later writes that succeed.
  const int regs = loop_with_restart(4, [&](int r) {
    const int s = KMV_set_register(dev, r, data.registers[r]);
    if (s != 0) return s;
    return KMV_get_register(dev, r, &data.registers[r]);
  });
  const int dacs = loop_with_restart(12, [&](int c) {
    return KMV_set_dac_chan(dev, static_cast<unsigned char>(c), static_cast<unsigned short>(data.dac[c] & 0x0FFF));
  });
  return regs != 0 ? regs : dacs;
}

// ---- the two-register module ----

int VAJ_set_register(int dev, int reg, unsigned short value) {
  if (!valid_dev(dev) || reg < 0 || reg > 1) return -1;
  if (VAJ_mode) {
    vaj_regdata[dev][reg] = value;
    return 0;
  }
  if (!ready(dev, 6)) return -1;
  TRY(write_register_word(dev, reg, value));
  vaj_regdata[dev][reg] = value;
  return 0;
}

int VAJ_set_bit_in_register(int dev, int reg, int bit, short state) {
  if (!valid_dev(dev) || reg < 0 || reg > 1 || bit < 0 || bit > 15) return -1;
  return VAJ_set_register(dev, reg, with_bit(vaj_regdata[dev][reg], bit, state));
}

int VAJ_get_register(int dev, int reg, unsigned short *value) {
  if (!valid_dev(dev) || reg < 0 || reg > 1 || !value) return -1;
  if (VAJ_mode) {
    *value = vaj_regdata[dev][reg];
    return 0;
  }
  if (!ready(dev, 6)) return -1;
  const unsigned char address = static_cast<unsigned char>(0x24 + reg);
  TRY(SetI2CLinesIdle(dev));
  TRY(SetI2CStart(dev));
  TRY(SendAddrAndCheckACK(dev, 1, address));
  TRY(ReadByteAndSendACK(dev, 1));
  TRY(ReadByteAndSendACK(dev, 1));
  TRY(SetI2CStop(dev));
  // This module has no input bits: the value is the cached word.
  *value = vaj_regdata[dev][reg];
  TRY(SetI2CStart(dev));
  SendAddrAndCheckACK(dev, 0, address);
  return SetI2CStop(dev);
}

int VAJ_ReadUserEEP(int dev, unsigned char *buf, unsigned short address, int count, int *done) {
  if (!valid_dev(dev)) return -1;
  if (!eeprom_range_ok(address, count)) return -4;
  if (VAJ_mode) return 0;
  return read_module_eeprom(dev, 6, true, buf, address, count, done);
}

int VAJ_WriteUserEEP(int dev, const unsigned char *data, unsigned short address, int count) {
  if (!valid_dev(dev)) return -1;
  if (!eeprom_range_ok(address, count)) return -4;
  if (VAJ_mode) return 0;
  if (!data || !ready(dev, 6)) return -1;
  return eeprom_write(dev, data, address, count);
}

int VAJ_get_data(int dev, int source, int *out) {
  if (!valid_dev(dev) || !out) return -1;
  const auto from_cache = [&] {
    *out = static_cast<int>(static_cast<uint32_t>(vaj_regdata[dev][0]) | static_cast<uint32_t>(vaj_regdata[dev][1]) << 16);
    return 0;
  };
  if (VAJ_mode) return from_cache();
  if (!ready(dev, 6)) return -1;
  if (source != 1) return from_cache();
  unsigned char block[5] = {};
  int done = 0;
  TRY(VAJ_ReadUserEEP(dev, block, 128, 5, &done));
  if (done != 5) return -1003;
  if (test_QV_checksum(block, 5) != 0) return -1007;
  *out = static_cast<int>(static_cast<uint32_t>(get_le16(block)) | static_cast<uint32_t>(get_le16(block + 2)) << 16);
  return 0;
}

int VAJ_set_data(int dev, int target, int data) {
  if (!valid_dev(dev)) return -1;
  if (!VAJ_mode && !ready(dev, 6)) return -1;
  const uint32_t d = static_cast<uint32_t>(data);
  const uint16_t halves[2] = {static_cast<uint16_t>(d & 0xFFFF), static_cast<uint16_t>(d >> 16)};
  if (target == 1) {
    unsigned char block[5] = {};
    put_le16(block, halves[0]);
    put_le16(block + 2, halves[1]);
    prepare_QV_checksum(block, 5);
    return VAJ_WriteUserEEP(dev, block, 128, 5);
  }
  vaj_regdata[dev][0] = halves[0];
  vaj_regdata[dev][1] = halves[1];
  return loop_with_restart(2, [&](int r) { return VAJ_set_register(dev, r, halves[r]); });
}
