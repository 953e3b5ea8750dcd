// Bit-bang pins, the FTDI chip's product EEPROM and user area, the command
// strings of the boards behind an FTDI FIFO, and the sync-delay box on top.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "modules/FTDI_func.h"
#include "modules/qv_usb_fun.h"
#include "platform/win/clock.h"
#include "platform/win/strings.h"

unsigned char port_val = 0;
FT_PROGRAM_DATA eep_prod;
char ManufacturerBuf[32];
char ManufacturerIdBuf[16];
char DescriptionBuf[64];
char SerialNumberBuf[16];

namespace {

FT_HANDLE handle_of(int dev) { return dev >= 0 && dev < FTDI_MAX_DEVICES ? FTDIHandle[dev] : nullptr; }

bool bitbang_board(int dev) { return FTDI_Type[dev] == 3; }

constexpr std::array<double, 6> kDelayWeights = {0.5, 1, 2, 4, 8, 16};
constexpr double kDelayTolerance = 0.025;  // 5 % of the smallest step

// A class-3 board's port: bit 7 of the byte on the wire selects it; the pins
// must read back as written.
int write_bitbang_port(int dev, int port, unsigned char value) {
  const UCHAR wire = static_cast<UCHAR>((value & 0x7F) | (port << 7));
  int done = 0;
  const int r = USB_Write(dev, &wire, 1, &done);
  if (r != 0) return r;
  Delay(0.001);
  UCHAR pins = 0;
  const FT_STATUS st = FT_GetBitMode(FTDIHandle[dev], &pins);
  if (st != FT_OK) return static_cast<int>(st);
  if (pins != wire) return -1;
  UM232PortVal[port] = wire;
  return 0;
}

// A command whose reply carries one data byte after the acknowledge.
int command_with_data(int dev, const char *payload, int n, char *value) {
  const int r = USB_SendCommandString(dev, payload, n);
  if (r != 0) return r;
  char b = 0;
  unsigned int got = 0;
  if (USB_Read(dev, &b, 1, &got) != 0 || got != 1) return -3;
  if (value) *value = b;
  return 0;
}

char pin_address(int port, int pin) { return static_cast<char>(((port + 10) * 16) | pin); }

}  // namespace

int SetBitMode(int dev, unsigned char mask, unsigned char mode) {
  FT_HANDLE h = handle_of(dev);
  if (!h) return -1;
  return static_cast<int>(FT_SetBitMode(h, mask, mode));
}

int GetBitMode(int dev) {
  FT_HANDLE h = handle_of(dev);
  if (!h) return -1;
  UCHAR pins = 0;
  // A failed read is no pin byte.
  if (FT_GetBitMode(h, &pins) != FT_OK) return -1;
  return pins;
}

int SetBitVal(int dev, int bit, int value) {
  if (!handle_of(dev) || bit < 0 || bit > 7 || value < 0 || value > 1) return -1;
  unsigned char mask = static_cast<unsigned char>(0xFF - port_val);
  mask = value ? static_cast<unsigned char>(mask | 1 << bit) : static_cast<unsigned char>(mask & ~(1 << bit));
  const int r = SetBitMode(dev, mask, FT_BITMODE_ASYNC_BITBANG);
  return r == 0 ? 0 : r;
}

int GetBitVal(int dev, int bit) {
  if (!handle_of(dev) || bit < 0 || bit > 7) return -1;
  const int pins = GetBitMode(dev);
  if (pins < 0) return -1;
  port_val = static_cast<unsigned char>(pins);
  return (port_val >> bit) & 1;
}

namespace {
void prepare_header(FT_PROGRAM_DATA *record) {
  record->Signature1 = FT_EE_SIGNATURE1;
  record->Signature2 = FT_EE_SIGNATURE2;
  record->Version = 5;
}
}  // namespace

int ReadProdEE(int dev, FT_PROGRAM_DATA *record) {
  FT_HANDLE h = handle_of(dev);
  if (!h || !record) return -1;
  prepare_header(record);
  return static_cast<int>(FT_EE_Read(h, record));
}

int WriteProdEE(int dev, FT_PROGRAM_DATA *record) {
  FT_HANDLE h = handle_of(dev);
  if (!h || !record) return -1;
  prepare_header(record);
  return static_cast<int>(FT_EE_Program(h, record));
}

int Change_Device_Description(int dev, const char *tail) {
  FT_HANDLE h = handle_of(dev);
  if (!h || !tail) return -1;
  eep_prod = FT_PROGRAM_DATA{};
  eep_prod.Manufacturer = ManufacturerBuf;
  eep_prod.ManufacturerId = ManufacturerIdBuf;
  eep_prod.Description = DescriptionBuf;
  eep_prod.SerialNumber = SerialNumberBuf;
  int r = ReadProdEE(dev, &eep_prod);
  if (r != 0) return r;
  std::string text(DescriptionBuf, strnlen(DescriptionBuf, sizeof DescriptionBuf));
  const size_t at = text.find(" Q&V");
  if (at != std::string::npos) text.erase(at);
  text += tail;
  // The description buffer and the chip's string space are bounded: refuse
  // rather than cut the tag off or run over.
  if (text.size() >= sizeof DescriptionBuf) return -1;
  platform::copy_bounded(DescriptionBuf, sizeof DescriptionBuf, text.c_str());
  r = WriteProdEE(dev, &eep_prod);
  if (r != 0) return r;
  FT_STATUS st = FT_CyclePort(h);
  if (st != FT_OK) return static_cast<int>(st);
  st = FT_Close(h);
  FTDIHandle[dev] = nullptr;
  if (st != FT_OK) return static_cast<int>(st);
  for (int attempt = 0; attempt < 10; ++attempt) {
    Delay(1.0);
    FT_HANDLE again = nullptr;
    st = FT_Open(dev, &again);
    if (st == FT_OK) {
      FTDIHandle[dev] = again;
      break;
    }
  }
  return static_cast<int>(st);
}

int USB_PortRead(int dev, int port, char *value) {
  if (!handle_of(dev)) return 1;
  if (bitbang_board(dev)) {
    if (port < 0 || port > 1) return -4;
    if (value) *value = static_cast<char>(UM232PortVal[port]);
    return 0;
  }
  if (port < 0 || port > 4) return -4;
  const char cmd = static_cast<char>(0x55 + 2 * port);
  return command_with_data(dev, &cmd, 1, value);
}

int USB_PortWrite(int dev, int port, unsigned char value) {
  if (!handle_of(dev)) return 1;
  if (bitbang_board(dev)) {
    if (port < 0 || port > 1) return -4;
    return write_bitbang_port(dev, port, value);
  }
  if (port < 0 || port > 4) return -4;
  const char cmd[2] = {static_cast<char>(0x56 + 2 * port), static_cast<char>(value)};
  return USB_SendCommandString(dev, cmd, 2);
}

int USB_PinRead(int dev, int port, int pin, char *state) {
  if (!handle_of(dev)) return 1;
  if (bitbang_board(dev)) {
    if (port < 0 || port > 1) return -4;
    if (pin < 0 || pin > 6) return -5;
    if (state) *state = static_cast<char>((UM232PortVal[port] >> pin) & 1);
    return 0;
  }
  if (port < 0 || port > 4) return -4;
  if (pin < 0 || pin > 7) return -5;
  const char cmd[2] = {static_cast<char>(0xA5), pin_address(port, pin)};
  return command_with_data(dev, cmd, 2, state);
}

int USB_PinWrite(int dev, int port, int pin, int state) {
  if (!handle_of(dev)) return 1;
  if (bitbang_board(dev)) {
    if (port < 0 || port > 1) return -4;
    if (pin < 0 || pin > 6) return -5;
    unsigned char v = UM232PortVal[port];
    v = state ? static_cast<unsigned char>(v | 1 << pin) : static_cast<unsigned char>(v & ~(1 << pin));
    return write_bitbang_port(dev, port, v);
  }
  if (port < 0 || port > 4) return -4;
  if (pin < 0 || pin > 7) return -5;
  const char cmd[3] = {static_cast<char>(0xA6), pin_address(port, pin), static_cast<char>(state ? 1 : 0)};
  return USB_SendCommandString(dev, cmd, 3);
}

int ActivateDelay(int dev, int line, int on) {
  if (!handle_of(dev)) return -1;
  const int set = on ? 1 : 0;
  int port = 0, pin = 0;
  if (bitbang_board(dev)) {
    static constexpr int pins[9] = {-1, 0, 1, 2, 5, 4, 3, -1, 6};
    if (line < 1 || line > 8 || pins[line] < 0) return -1;
    port = set ? 0 : 1;
    pin = pins[line];
  } else {
    switch (line) {
      case 1: port = 4, pin = set; break;
      case 2: port = 4, pin = set + 2; break;
      case 3: port = 4, pin = set ? 5 : 4; break;
      case 4: port = 1, pin = set + 2; break;
      case 5: port = 1, pin = set; break;
      case 6: port = 4, pin = set ? 7 : 6; break;
      case 8: port = 2, pin = set; break;
      default: return -1;
    }
  }
  const int r = USB_PortWrite(dev, port, 0);
  if (r != 0) return r;
  Delay(0.010);
  const int pulse = USB_PinWrite(dev, port, pin, 1);
  Delay(0.020);
  // The port goes back to 0 even when the pin write failed: no latch input
  // is left raised.
  const int rest = USB_PortWrite(dev, port, 0);
  return pulse != 0 ? pulse : rest;
}

int SetSyncDelay(double *ns, usb_module_record *rec) {
  if (!ns || !rec) return -1;
  const double want = *ns;
  int code = 0;
  if (want >= 31.5) {
    code = 63;
  } else if (want > 0) {
    double rest = want;
    for (int k = 5; k >= 0; --k) {
      if (kDelayWeights[k] <= rest + 1e-9) {
        code |= 1 << k;
        rest -= kDelayWeights[k];
      }
    }
    if (rest > kDelayTolerance && want >= rec->sync_delay && code < 63) ++code;
  }
  for (int k = 0; k < 6; ++k) {
    // A line that fails leaves the box in a state no setting names: the
    // record keeps the last setting that was made.
    const int r = ActivateDelay(rec->device_no, k + 1, (code >> k) & 1);
    if (r != 0) return r;
  }
  rec->sync_delay = static_cast<float>(code * 0.5);
  rec->user_block[6] = static_cast<char>((rec->user_block[6] & 0x80) | code);
  *ns = code * 0.5;
  return 0;
}

int SetActiveInput(int on, usb_module_record *rec) {
  if (!rec) return -1;
  const int r = ActivateDelay(rec->device_no, 8, on);
  if (r != 0) return r;
  rec->user_block[6] = static_cast<char>(on ? (rec->user_block[6] | 0x80) : (rec->user_block[6] & 0x7F));
  return 0;
}

int SetKmvLed2(int dev, int on) {
  FT_HANDLE h = handle_of(dev);
  if (!h || (QV_FTDI_Type[dev] != 5 && QV_FTDI_Type[dev] != 6)) return -1;
  const UCHAR value = on ? 0xFF : 0xFE;
  const UCHAR set[3] = {0x82, value, 0x01};
  const UCHAR get = 0x83;
  DWORD written = 0;
  if (FT_Write(h, set, 3, &written) != FT_OK) return 1;
  Delay(0.001);
  if (FT_Write(h, &get, 1, &written) != FT_OK) return 1;
  Delay(0.001);
  // Replies are polled at 1 ms, as everywhere on this transport: at 1 s a
  // missing reply would hold the caller for minutes.
  DWORD waiting = 0;
  for (int poll = 0; poll < 500; ++poll) {
    if (FT_GetQueueStatus(h, &waiting) == FT_OK && waiting > 0) break;
    Delay(0.001);
  }
  if (waiting == 0) return 1;
  UCHAR b = 0;
  DWORD got = 0;
  if (FT_Read(h, &b, 1, &got) != FT_OK || got != 1) return 1;
  return b == value ? 0 : 1;
}
