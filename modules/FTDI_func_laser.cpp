// The laser module's serial protocol: echoed bytes, frames summing to 0x55,
// state records, and the register, DAC, relay and EEPROM operations on them.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

#include "modules/FTDI_func.h"
#include "platform/serial/ports.h"
#include "platform/serial/rs232.h"
#include "platform/win/clock.h"

unsigned char ard_state[6];
unsigned short gor_regdata[ARD_SLOTS][GOR_WORDS];
GORDeviceData gor_data[ARD_SLOTS];

namespace {

constexpr double kQueueWait = 3.0;
constexpr double kStateWait = 1.0;
constexpr double kPortTimeout = 2.0;
constexpr double kTransferWait = 5.0;
constexpr int kEepromSize = 512;
constexpr int kParamRounds = 5;  // 'E' parameters resent while the board has not taken them
constexpr int kDacFirstWord = 4;

uint8_t complement(int sum) { return static_cast<uint8_t>(0x55 - sum); }

void trace(const char *what, unsigned char cmd) {
  if (!QV_show_debug_msg) return;
  std::printf("%s '%c'(0x%02x) - ARD_state: id %02x, state %02x, cmd %02x, err %02x, chsum %02x\n", what,
              cmd >= 0x20 && cmd < 0x7F ? cmd : '.', cmd, ard_state[0], ard_state[1], ard_state[2], ard_state[3],
              ard_state[5]);
}

// Sends bytes one by one, each with its echo.
int send_bytes(int port, const uint8_t *bytes, int n) {
  for (int i = 0; i < n; ++i) {
    const int r = send_byte_to_ARD(port, bytes[i]);
    if (r != 0) return r;
  }
  return 0;
}

// Before a frame the input must be empty: what waits there is left over from
// an exchange that went wrong (a bad echo, an oversized reply) and would be
// read as this frame's echoes and state record, and so on for ever.
int send_frame(int port, const uint8_t *bytes, int n) {
  FlushInQ(port);
  return send_bytes(port, bytes, n);
}

int slot_of(int dev) { return dev - FTDI_MAX_DEVICES; }
int port_of(int dev) { return ARD_COM_ports[slot_of(dev)]; }

// The current laser module, of type 3, and open unless only the cache is
// written (cache-only mode touches no port): 0, or the refusal.
int check_laser(int dev) {
  if (dev != ard_dev_no || dev < FTDI_MAX_DEVICES || dev > ARD_LAST_DEVICE) return -1000;
  if (QV_Arduino_Type[slot_of(dev)] != 3) return -1005;
  if (QVUSB_mode == 0 && !COM_opened[slot_of(dev)]) return -1;
  return 0;
}

// A command with its parameters, each tried a second time after a failure.
int command_with_params(int port, unsigned char letter, const uint8_t *params, int n) {
  int r = send_cmd_to_ARD(port, letter);
  if (r != 0) r = send_cmd_to_ARD(port, letter);
  if (r != 0) return r;
  return send_param_to_ARD(port, params, n, nullptr, 0, nullptr, 0);
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int month_days(int y, int m) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : days[m - 1];
}

}  // namespace

int send_byte_to_ARD(int port, unsigned char byte) {
  FlushOutQ(port);
  int w = ComWrtByte(port, byte);
  if (w == 0) return -1000;
  if (w < 0) return w;
  char echo = 0;
  int got = ComRd(port, &echo, 1);
  if (got == 1) return static_cast<unsigned char>(echo) == byte ? 0 : -1001;
  if (ReturnRS232Err() != RS_TIMEOUT) return ReturnRS232Err();
  // The echo did not come: the byte once more.
  w = ComWrtByte(port, byte);
  if (w == 0) return -1000;
  if (w < 0) return w;
  got = ComRd(port, &echo, 1);
  return got == 1 && static_cast<unsigned char>(echo) == byte ? 0 : -1001;
}

int ard_wait_out_queue(int port) {
  const double deadline = platform::clock::now() + kQueueWait;
  for (;;) {
    const int n = GetOutQLen(port);
    if (n < 0) return n;
    if (n == 0) return 0;
    if (platform::clock::now() > deadline) return -1002;
    Delay(0.001);
  }
}

int ard_read_state(int port) {
  std::memset(ard_state, 0, sizeof ard_state);
  SetComTime(port, kStateWait);
  const int got = ComRd(port, reinterpret_cast<char *>(ard_state), 6);
  SetComTime(port, kPortTimeout);
  if (got < 0) return got;
  if (got == 0) return -1002;
  if (got < 6) return -1003;
  const int sum = std::accumulate(std::begin(ard_state), std::end(ard_state), 0);
  return (sum & 0xFF) == 0x55 ? 0 : -1004;
}

int ard_wait_ready(int port, const char *word) {
  const double deadline = platform::clock::now() + kQueueWait;
  std::string seen;
  while (platform::clock::now() <= deadline) {
    const int n = GetInQLen(port);
    if (n < 0) return n;
    if (n > 0) {
      std::array<char, 256> buf{};
      const int got = ComRd(port, buf.data(), std::min(n, static_cast<int>(buf.size())));
      if (got > 0) seen.append(buf.data(), static_cast<size_t>(got));
      if (word && seen.find(word) != std::string::npos) return 0;
      continue;
    }
    Delay(0.001);
  }
  return -1002;
}

int send_state_cmd_to_ARD(int port, unsigned char cmd, unsigned char param) {
  if (cmd != 0x11 && cmd != 0x22) return 0;
  int r = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::array<uint8_t, 4> frame{0x55, cmd, param, 0};
    const int n = cmd == 0x22 ? 4 : 3;
    frame[n - 1] = complement(std::accumulate(frame.begin() + 1, frame.begin() + n - 1, 0x55));
    r = send_frame(port, frame.data(), n);
    FlushOutQ(port);
    Delay(0.003);
    if (r != 0) return r;
    r = ard_wait_out_queue(port);
    if (r == 0) r = ard_read_state(port);
    if (r == 0 && ard_state[3] == 0) return 0;
    if (r == 0) r = -1002;
    trace("Send state_cmd", cmd);
  }
  return r;
}

int send_cmd_to_ARD(int port, unsigned char letter) {
  int r = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    r = send_state_cmd_to_ARD(port, 0x11, 0);
    if (r != 0) return r;
    if (ard_state[1] != 0) {
      r = send_state_cmd_to_ARD(port, 0x22, 0);
      if (r != 0) return r;
    }
    const uint8_t frame[3] = {0x55, letter, complement(0x55 + letter)};
    r = send_frame(port, frame, 3);
    FlushOutQ(port);
    Delay(0.003);
    if (r != 0) return send_state_cmd_to_ARD(port, 0x11, 0);
    r = ard_wait_out_queue(port);
    if (r == 0) r = ard_read_state(port);
    if (r == 0 && ard_state[2] == letter && ard_state[3] == 0) return 0;
    if (r == 0) r = -1002;
    trace("Send cmd", letter);
  }
  return r;
}

int send_param_to_ARD(int port, const unsigned char *p1, int n1, const unsigned char *p2, int n2,
                      const unsigned char *p3, int n3) {
  const std::array<std::pair<const unsigned char *, int>, 3> groups{{{p1, n1}, {p2, n2}, {p3, n3}}};
  int r = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int sum = 0;
    r = 0;
    FlushInQ(port);  // as before any frame (send_frame)
    for (const auto &[p, n] : groups) {
      if (!p || n <= 0 || r != 0) continue;
      r = send_bytes(port, p, n);
      sum += std::accumulate(p, p + n, 0);
    }
    const uint8_t check = complement(sum);
    if (r == 0) r = send_bytes(port, &check, 1);
    FlushOutQ(port);
    Delay(0.003);
    if (r == 0) r = ard_wait_out_queue(port);
    if (r == 0) r = send_state_cmd_to_ARD(port, 0x11, 0);
    if (r == 0 && (ard_state[1] & 0x0F) == 2 && ard_state[3] == 0) return 0;
    if (r == 0) r = -1002;
    trace("Send param", p1 && n1 > 0 ? p1[0] : 0);
    if (attempt == 0) {
      char junk[512];
      for (int n = GetInQLen(port); n > 0; n = GetInQLen(port))
        if (ComRd(port, junk, std::min(n, 512)) <= 0) break;
      // A board still waiting for parameters is told so before they go again.
      if ((ard_state[1] & 0x0F) == 1) send_state_cmd_to_ARD(port, 0x22, 1);
    }
  }
  return r;
}

int GOR_set_register(int dev, int reg, unsigned short value) {
  const int c = check_laser(dev);
  if (c != 0) return c;
  if (reg < 0 || reg > 3) return -1006;
  if (QVUSB_mode == 0) {
    const uint8_t params[3] = {static_cast<uint8_t>(reg), static_cast<uint8_t>(value & 0xFF),
                               static_cast<uint8_t>(value >> 8)};
    const int r = command_with_params(port_of(dev), 'P', params, 3);
    if (r != 0) return r;
  }
  gor_regdata[slot_of(dev)][reg] = value;
  return 0;
}

int GOR_get_register(int dev, int reg, unsigned short *value) {
  if (dev != ard_dev_no || dev < FTDI_MAX_DEVICES) return -1000;
  if (reg < 0 || reg > 3 || !value) return -1006;
  *value = gor_regdata[slot_of(dev)][reg];
  return 0;
}

int GOR_set_dac_chan(int dev, int channel, unsigned short code) {
  const int c = check_laser(dev);
  if (c != 0) return c;
  if (channel < 0 || channel >= GOR_DAC_CHANNELS) return -1006;
  code = std::min<unsigned short>(code, 4095);
  if (QVUSB_mode == 0) {
    const uint8_t params[3] = {static_cast<uint8_t>(channel), static_cast<uint8_t>(code & 0xFF),
                               static_cast<uint8_t>(code >> 8)};
    const int r = command_with_params(port_of(dev), 'A', params, 3);
    if (r != 0) return r;
  }
  gor_regdata[slot_of(dev)][kDacFirstWord + channel] = code;
  return 0;
}

int GOR_get_dac_chan(int dev, int channel, unsigned short *code) {
  if (dev != ard_dev_no || dev < FTDI_MAX_DEVICES) return -1000;
  if (channel < 0 || channel >= GOR_DAC_CHANNELS || !code) return -1006;
  *code = gor_regdata[slot_of(dev)][kDacFirstWord + channel];
  return 0;
}

int GOR_set_dac_voltage(int dev, int channel, double *volts) {
  if (!volts) return -1006;
  if (channel < 0 || channel >= GOR_DAC_CHANNELS) return -1006;
  const double full = channel < 4 ? 10.0 : 5.0;
  const double code = std::clamp(std::round(*volts * 4095.0 / full), 0.0, 4095.0);
  const int r = GOR_set_dac_chan(dev, channel, static_cast<unsigned short>(code));
  if (r != 0) return r;
  *volts = gor_regdata[slot_of(dev)][kDacFirstWord + channel] * full / 4095.0;
  return 0;
}

int GOR_set_relay(int dev, int relay, int on) {
  if (relay < 0 || relay > 7) return -1006;
  const int c = check_laser(dev);
  if (c != 0) return c;
  unsigned short v = gor_regdata[slot_of(dev)][GOR_RELAY_REGISTER];
  v = on ? static_cast<unsigned short>(v | 1 << relay) : static_cast<unsigned short>(v & ~(1 << relay));
  return GOR_set_register(dev, GOR_RELAY_REGISTER, v);
}

int GOR_get_relays(int dev, unsigned short *bits) {
  unsigned short v = 0;
  const int r = GOR_get_register(dev, GOR_RELAY_REGISTER, &v);
  if (r == 0 && bits) *bits = v & 0xFF;
  return r;
}

int GOR_get_data(int dev, int source, GORDeviceData *out) {
  if (!out) return -1006;
  if (source == 1) {
    if (dev != ard_dev_no || dev < FTDI_MAX_DEVICES) return -1000;
    std::copy(std::begin(gor_regdata[slot_of(dev)]), std::end(gor_regdata[slot_of(dev)]), out->words);
    return 0;
  }
  if (QVUSB_mode != 0) {
    // Cache-only: the block as last read or written (zeros before that), as
    // a read from the board would give it.
    if (dev != ard_dev_no || dev < FTDI_MAX_DEVICES || dev > ARD_LAST_DEVICE) return -1000;
    *out = gor_data[slot_of(dev)];
    for (int ch = 0; ch < GOR_DAC_CHANNELS; ++ch) out->words[kDacFirstWord + ch] &= 0x0FFF;
    return 0;
  }
  std::array<unsigned char, GOR_DATA_BYTES> block{};
  int done = 0;
  const int r = ARD_ReadUserEEP(dev, block.data(), GOR_DATA_ADDRESS, GOR_DATA_BYTES, &done);
  if (r != 0) return r;
  if (done != GOR_DATA_BYTES) return -1003;
  if (test_QV_checksum(block.data(), GOR_DATA_BYTES) != 0) return -1007;
  for (int w = 0; w < GOR_WORDS; ++w) out->words[w] = static_cast<uint16_t>(block[2 * w] | block[2 * w + 1] << 8);
  for (int ch = 0; ch < GOR_DAC_CHANNELS; ++ch) out->words[kDacFirstWord + ch] &= 0x0FFF;
  gor_data[slot_of(dev)] = *out;
  return 0;
}

int GOR_set_data(int dev, int target, const GORDeviceData *data) {
  if (!data) return -1006;
  if (target == 0) {
    if (QVUSB_mode != 0) {
      const int c = check_laser(dev);
      if (c == 0) gor_data[slot_of(dev)] = *data;
      return c;
    }
    std::array<unsigned char, GOR_DATA_BYTES> block{};
    for (int w = 0; w < GOR_WORDS; ++w) {
      block[2 * w] = static_cast<unsigned char>(data->words[w] & 0xFF);
      block[2 * w + 1] = static_cast<unsigned char>(data->words[w] >> 8);
    }
    prepare_QV_checksum(block.data(), GOR_DATA_BYTES);
    const int r = ARD_WriteUserEEP(dev, block.data(), GOR_DATA_ADDRESS, GOR_DATA_BYTES);
    if (r == 0) gor_data[slot_of(dev)] = *data;
    return r;
  }
  // The first failure is the result: a later success must not hide it.
  for (int reg = 0; reg < 4; ++reg) {
    const int r = GOR_set_register(dev, reg, data->words[reg]);
    if (r != 0) return r;
  }
  for (int ch = 0; ch < GOR_DAC_CHANNELS; ++ch) {
    const int r = GOR_set_dac_chan(dev, ch, data->words[kDacFirstWord + ch] & 0x0FFF);
    if (r != 0) return r;
  }
  for (int w = kDacFirstWord + GOR_DAC_CHANNELS; w < GOR_WORDS; ++w) gor_regdata[slot_of(dev)][w] = data->words[w];
  return 0;
}

namespace {

int check_transfer(int dev, int address, int count) {
  if (dev != ard_dev_no || dev < FTDI_MAX_DEVICES || dev > ARD_LAST_DEVICE) return -1000;
  if (count < 1 || address < 0 || address + count > kEepromSize) return -1003;
  return 0;
}

// 'E' or 'D' with address and count, until the board has taken them.
int start_transfer(int dev, unsigned char letter, int address, int count) {
  if (!COM_opened[slot_of(dev)] && OpenDevice(dev, 1) != 0) return -1001;
  const int port = port_of(dev);
  int r = send_cmd_to_ARD(port, letter);
  if (r != 0) r = send_cmd_to_ARD(port, letter);
  if (r != 0) return r;
  const uint8_t params[4] = {static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8),
                             static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)};
  // Bounded: a board that never takes them must not hold the caller for ever.
  for (int round = 0; round < kParamRounds; ++round) {
    r = send_param_to_ARD(port, params, 4, nullptr, 0, nullptr, 0);
    if ((ard_state[1] & 0x0F) != 0) break;
  }
  if ((ard_state[1] & 0x0F) != 2) return -1002;
  return 0;
}

}  // namespace

int ARD_ReadUserEEP(int dev, unsigned char *buf, int address, int count, int *done) {
  if (done) *done = 0;
  if (!buf) return -1003;
  int r = check_transfer(dev, address, count);
  if (r != 0) return r;
  if (QVUSB_mode != 0) return 0;  // cache-only: no port is opened, nothing is read
  r = start_transfer(dev, 'E', address, count);
  if (r != 0) return r;
  const int port = port_of(dev);
  r = send_byte_to_ARD(port, 'S');
  if (r != 0) return r;
  Delay(count * 0.005 + 0.1);
  const double deadline = platform::clock::now() + kTransferWait;
  unsigned char head[2] = {};
  int have = 0;
  int announced = -1;
  while (platform::clock::now() <= deadline) {
    const int waiting = GetInQLen(port);
    if (waiting < 0) return waiting;
    if (waiting == 0) {
      Delay(0.001);
      continue;
    }
    if (announced < 0) {
      if (waiting < 2) {
        Delay(0.001);
        continue;
      }
      if (ComRd(port, reinterpret_cast<char *>(head), 2) != 2) return ReturnRS232Err();
      announced = head[0] | head[1] << 8;
      if (announced > count) return -1003;
      if (announced == 0) break;
      continue;
    }
    const int got = ComRd(port, reinterpret_cast<char *>(buf) + have, std::min(waiting, announced - have));
    if (got < 0) return got;
    have += got;
    if (done) *done = have;
    if (have >= announced) break;
  }
  if (announced < 0 || have < announced) return -1004;
  return ReturnRS232Err() == RS_TIMEOUT ? 0 : ReturnRS232Err();
}

int ARD_WriteUserEEP(int dev, const unsigned char *data, int address, int count) {
  if (!data) return -1003;
  int r = check_transfer(dev, address, count);
  if (r != 0) return r;
  if (QVUSB_mode != 0) return 0;  // cache-only: no port is opened, nothing is written
  r = start_transfer(dev, 'D', address, count);
  if (r != 0) return r;
  const int port = port_of(dev);
  r = send_bytes(port, data, count);
  if (r != 0) return r;
  const uint8_t check = complement(std::accumulate(data, data + count, 0));
  r = send_bytes(port, &check, 1);
  if (r != 0) return r;
  return ard_wait_ready(port, "ready");
}

int reinstall_port(int port) { return platform::serial::reinstall(port) == 0 ? 0 : -1; }

void prepare_date_str(int days, char *text) {
  if (!text) return;
  int y = 2011, m = 1, d = 1;
  days = std::max(days, 0);
  while (days >= (leap(y) ? 366 : 365)) days -= leap(y) ? 366 : 365, ++y;
  while (days >= month_days(y, m)) days -= month_days(y, m), ++m;
  d += days;
  std::snprintf(text, 11, "%02d.%02d.%04d", d, m, y);
}

int prepare_date_val(const char *text) {
  int d = 0, m = 0, y = 0;
  if (!text || std::sscanf(text, "%d.%d.%d", &d, &m, &y) != 3) return -1;
  if (y < 2011 || y > 9999 || m < 1 || m > 12 || d < 1 || d > month_days(y, m)) return -1;
  int days = 0;
  for (int yy = 2011; yy < y; ++yy) days += leap(yy) ? 366 : 365;
  for (int mm = 1; mm < m; ++mm) days += month_days(y, mm);
  return days + d - 1;
}
