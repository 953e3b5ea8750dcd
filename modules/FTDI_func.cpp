// FTDI device discovery and device access.
#include "modules/FTDI_func.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win/clock.h"
#include "platform/win/strings.h"

FT_HANDLE FTDIHandle[FTDI_MAX_DEVICES];
int FTDIListIndex[FTDI_MAX_DEVICES] = {0, 1, 2, 3, 4, 5, 6, 7};
int FTDI_Type[FTDI_MAX_DEVICES];
int QV_FTDI_Type[FTDI_MAX_DEVICES];
char DeviceDescr[FTDI_DESCR_ENTRIES][FTDI_DESCR_LEN];

int ftdi_dev_no = -1;
int kmv_dev_no = -1;
int vaj_dev_no = -1;
int prior_dev_no = -1;
int Prior_port_no = 0;
int num_ftdi_devs = 0;
int num_kmv_devs = 0;
int num_vaj_devs = 0;
int num_prior_devs = 0;

char Board_ID[16];
unsigned char UM232PortVal[2];
int QVUSB_mode = 0;
int QV_show_debug_msg = 0;

namespace {

bool first_scan_done = false;

bool contains_any_case(const std::string &text, const char *needle) {
  const size_t n = std::strlen(needle);
  if (n > text.size()) return false;
  for (size_t i = 0; i + n <= text.size(); ++i)
    if (StrNICmp(text.c_str() + i, needle, n) == 0) return true;
  return false;
}

// Model class of a description, tested in this order.
int model_class(const std::string &descr, int kind) {
  if (contains_any_case(descr, "FT245R")) return 1;
  if (contains_any_case(descr, "DLP-245SY")) return 2;
  if (contains_any_case(descr, "UM232H")) return 3;
  if (kind == 3 && contains_any_case(descr, "FT232R")) return 4;
  if (kind == 3 && contains_any_case(descr, "USB <-> Serial")) return 5;
  return 0;
}

// The module-type digit after the first "Q&V" (exact case); -1 without one.
int tag_digit(const std::string &descr) {
  const size_t p = descr.find("Q&V");
  if (p == std::string::npos || p + 3 >= descr.size()) return -1;
  const char c = descr[p + 3];
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

std::string field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

std::vector<FT_DEVICE_LIST_INFO_NODE> read_list() {
  std::vector<FT_DEVICE_LIST_INFO_NODE> nodes;
  DWORD n = 0;
  if (FT_CreateDeviceInfoList(&n) != FT_OK || n == 0) return nodes;
  nodes.resize(n);
  DWORD got = n;
  if (FT_GetDeviceInfoList(nodes.data(), &got) != FT_OK) got = 0;
  nodes.resize(std::min(got, n));
  return nodes;
}

bool ftdi_number(int dev) { return dev >= 0 && dev < FTDI_MAX_DEVICES; }

}  // namespace

int GetFtdiDevices(int kind, int *count) {
  if (kind == 2) {
    if (count) *count = 0;
    return -1;
  }
  const std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = read_list();
  const int listed = static_cast<int>(nodes.size());
  for (int i = 0; i < FTDI_DESCR_ENTRIES; ++i) {
    if (i < listed) {
      platform::copy_bounded(DeviceDescr[i], FTDI_DESCR_LEN, field(nodes[i].Description, 64).c_str());
    } else {
      DeviceDescr[i][0] = '\0';
    }
  }
  if (!first_scan_done) {
    std::fill(std::begin(QV_FTDI_Type), std::end(QV_FTDI_Type), 0);
    first_scan_done = true;
  }
  // A device that left the list takes its digit with it.
  for (int i = std::max(listed, 0); i < FTDI_MAX_DEVICES; ++i) QV_FTDI_Type[i] = 0;
  std::fill(std::begin(FTDI_Type), std::end(FTDI_Type), 0);
  switch (kind) {
    case 1:
      num_ftdi_devs = 0;
      ftdi_dev_no = -1;
      break;
    case 5:
      num_kmv_devs = 0;
      kmv_dev_no = -1;
      break;
    case 6:
      num_vaj_devs = 0;
      vaj_dev_no = -1;
      break;
    default:
      num_prior_devs = 0;
      prior_dev_no = -1;
      if (kind == 3) Prior_port_no = 0;
      break;
  }

  for (int i = 0; i < std::min(listed, static_cast<int>(FTDI_MAX_DEVICES)); ++i) {
    const std::string descr = field(nodes[i].Description, 64);
    const int cls = model_class(descr, kind);
    FTDI_Type[i] = cls;
    if (cls == 4) {
      FT_HANDLE h = FTDIHandle[i];
      const bool opened_here = h == nullptr && FT_Open(i, &h) == FT_OK;
      QV_FTDI_Type[i] = 4;
      ++num_prior_devs;
      prior_dev_no = i;
      LONG port = -1;
      if (h && FT_GetComPortNumber(h, &port) == FT_OK && port > 0) Prior_port_no = port;
      if (opened_here) FT_Close(h);
    }
    if (cls >= 1 && cls <= 4 && (kind == 1 || kind == 5 || kind == 6)) {
      const int digit = tag_digit(descr);
      if (digit >= 0) {
        if (ftdi_dev_no == -1) ftdi_dev_no = i;
        QV_FTDI_Type[i] = digit;
      }
    }
    if (kind == 5 && QV_FTDI_Type[i] == 5) {
      ++num_kmv_devs;
      kmv_dev_no = i;
    } else if (kind == 6 && QV_FTDI_Type[i] == 6) {
      ++num_vaj_devs;
      vaj_dev_no = i;
    } else if (kind == 1 && (QV_FTDI_Type[i] == 1 || cls == 3)) {
      ++num_ftdi_devs;
      if (ftdi_dev_no == -1) ftdi_dev_no = i;
    }
  }

  int n = num_prior_devs, found = prior_dev_no;
  if (kind == 1) {
    n = num_ftdi_devs;
    found = ftdi_dev_no;
  } else if (kind == 5) {
    n = num_kmv_devs;
    found = kmv_dev_no;
  } else if (kind == 6) {
    n = num_vaj_devs;
    found = vaj_dev_no;
  }
  if (count) *count = n;
  return found;
}

int GetFtdiDevicesExt(int kind, int *count, char *serial) {
  if (serial) serial[0] = '\0';
  if (count) *count = 0;
  if (kind == 2) return -1;
  const std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = read_list();
  int n = 0;
  std::string last;
  for (size_t i = 0; i < std::min(nodes.size(), static_cast<size_t>(FTDI_MAX_DEVICES)); ++i) {
    const std::string descr = field(nodes[i].Description, 64);
    const int cls = model_class(descr, kind);
    const int digit = cls >= 1 && cls <= 4 ? tag_digit(descr) : -1;
    const bool match = (kind == 5 && digit == 5) || (kind == 6 && digit == 6) || (kind == 1 && (digit == 1 || cls == 3));
    if (!match) continue;
    ++n;
    last = field(nodes[i].SerialNumber, 16);
  }
  if (count) *count = n;
  if (serial) platform::copy_bounded(serial, 16, last.c_str());
  return 0;
}

int GetDeviceInfo(int dev, int *flags, unsigned int *type, unsigned int *id, char *serial, char *description) {
  if (flags) *flags = -1;
  if (!ftdi_number(dev)) return -1;
  DWORD f = 0, t = 0, i = 0, loc = 0;
  char ser[16] = {}, descr[64] = {};
  FT_HANDLE h = nullptr;
  const FT_STATUS st = FT_GetDeviceInfoDetail(static_cast<DWORD>(dev), &f, &t, &i, &loc, ser, descr, &h);
  if (st == FT_DEVICE_NOT_FOUND) return -1;
  if (st != FT_OK) return static_cast<int>(st);
  const std::string s = field(ser, sizeof ser), d = field(descr, sizeof descr);
  if (flags) *flags = static_cast<int>(f);
  if (type) *type = t;
  if (id) *id = i;
  if (serial) platform::copy_bounded(serial, 16, s.c_str());
  if (description) platform::copy_bounded(description, FTDI_DESCR_LEN, d.c_str());
  platform::copy_bounded(DeviceDescr[dev], FTDI_DESCR_LEN, d.c_str());
  const int digit = tag_digit(d);
  if (digit >= 0) QV_FTDI_Type[dev] = digit;
  return FT_OK;
}

void ResetFtdiListIndex(void) {
  for (int i = 0; i < FTDI_MAX_DEVICES; ++i) FTDIListIndex[i] = i;
}

int DeviceOpened(int dev) { return ftdi_number(dev) && FTDIHandle[dev] != nullptr ? 1 : 0; }

int GetComPortNumber(int dev) {
  if (!ftdi_number(dev) || !FTDIHandle[dev]) return 0;
  LONG port = -1;
  if (FT_GetComPortNumber(FTDIHandle[dev], &port) != FT_OK || port < 0) return 0;
  return port;
}

int CloseDevice(int dev) {
  if (!ftdi_number(dev) || !FTDIHandle[dev]) return -1;
  const FT_STATUS st = FT_Close(FTDIHandle[dev]);
  FTDIHandle[dev] = nullptr;
  return static_cast<int>(st);
}

namespace {

FT_STATUS open_handle(int dev) {
  FT_HANDLE h = nullptr;
  const FT_STATUS st = FT_Open(FTDIListIndex[dev], &h);
  FTDIHandle[dev] = st == FT_OK ? h : nullptr;
  return st;
}

// The bit-bang board: drive every pin and read the pins back.
int probe_bitbang(int dev) {
  FT_HANDLE h = FTDIHandle[dev];
  FT_ResetDevice(h);
  FT_STATUS st = FT_SetBitMode(h, 0xFF, FT_BITMODE_ASYNC_BITBANG);
  if (st != FT_OK) return static_cast<int>(st);
  const auto put = [&](UCHAR value, bool check) {
    DWORD written = 0;
    st = FT_Write(h, &value, 1, &written);
    if (!check) return true;
    Delay(0.001);
    UCHAR pins = 0;
    FT_GetBitMode(h, &pins);
    return written == 1 && pins == value;
  };
  if (!put(0xFF, true)) return 10;
  UM232PortVal[1] = 0xFF;
  const bool second_ok = put(0x80, true);
  UM232PortVal[1] = 0x80;
  put(0x7F, false);
  UM232PortVal[0] = 0x7F;
  put(0x00, false);
  UM232PortVal[0] = 0x00;
  return second_ok ? static_cast<int>(st) : 10;
}

}  // namespace

int OpenDevice(int dev, int keep) {
  if (!ftdi_number(dev)) return -1;
  if (FTDIHandle[dev]) CloseDevice(dev);
  FT_STATUS st = open_handle(dev);
  const int listed = FTDIListIndex[dev];  // the device's types are those of its list entry
  if (FTDI_Type[listed] != 3) {
    if (st != FT_OK || keep != 0) return static_cast<int>(st);
    if (USB_GetBoardId(dev, Board_ID) != 0) {
      st = FT_CyclePort(FTDIHandle[dev]);
      if (st == FT_OK) {
        CloseDevice(dev);
        for (int attempt = 0; attempt < 10; ++attempt) {
          Delay(1.0);
          st = open_handle(dev);
          if (st == FT_OK) break;
        }
      }
    }
    return static_cast<int>(st);
  }
  if (st != FT_OK) return static_cast<int>(st);
  const int digit = QV_FTDI_Type[listed];
  if (digit == 5 || digit == 6) {
    if (digit == 5 && keep == 0) {
      std::fill(std::begin(kmv_regdata[dev]), std::end(kmv_regdata[dev]), 0);
      kmv_regdata[dev][1] |= 0xEF00;
    }
    int r = Configure_MPSSE_for_I2C(dev);
    if (r != 0) {
      Delay(0.010);
      r = Configure_MPSSE_for_I2C(dev);
    }
    if (r != 0) r = Configure_MPSSE_for_I2C(dev);
    return r;
  }
  return probe_bitbang(dev);
}

void Set_QVUSB_mode(unsigned short mode, int trace) {
  if (mode > 6) return;
  QVUSB_mode = mode;
  QV_show_debug_msg = trace;
}

// ---- command strings ----

int USB_Read(int dev, void *buf, int count, unsigned int *done) {
  if (done) *done = 0;
  if (!ftdi_number(dev) || !FTDIHandle[dev]) return 1;
  if (!buf || count < 0) return -1;
  DWORD got = 0;
  const FT_STATUS st = FT_Read(FTDIHandle[dev], buf, static_cast<DWORD>(count), &got);
  if (done) *done = got;
  if (st != FT_OK) return static_cast<int>(st);
  return got < static_cast<DWORD>(count) ? -1 : 0;
}

int USB_Write(int dev, const unsigned char *data, int count, int *done) {
  if (done) *done = 0;
  if (!ftdi_number(dev) || !FTDIHandle[dev]) return 1;
  if (!data || count < 0) return -1;
  DWORD written = 0;
  const FT_STATUS st = FT_Write(FTDIHandle[dev], data, static_cast<DWORD>(count), &written);
  Delay(0.001);
  if (done) *done = static_cast<int>(written);
  if (st != FT_OK) return static_cast<int>(st);
  return written < static_cast<DWORD>(count) ? -1 : 0;
}

int USB_SendCommandString(int dev, const char *payload, int n) {
  if (!ftdi_number(dev) || !FTDIHandle[dev]) return 1;
  if (!payload || n < 0 || n > 253) return -1;
  FT_Purge(FTDIHandle[dev], FT_PURGE_RX | FT_PURGE_TX);
  FT_SetTimeouts(FTDIHandle[dev], 1000, 1000);
  std::array<unsigned char, 256> frame{};
  frame[0] = static_cast<unsigned char>(n);
  unsigned char x = frame[0];
  for (int i = 0; i < n; ++i) {
    frame[1 + i] = static_cast<unsigned char>(payload[i]);
    x ^= frame[1 + i];
  }
  frame[1 + n] = x;
  int done = 0;
  int r = USB_Write(dev, frame.data(), n + 2, &done);
  if (r != 0) return r;
  unsigned char answer = 0;
  unsigned int got = 0;
  r = USB_Read(dev, &answer, 1, &got);
  if (r != 0) return r;
  if (got == 0) return -1;
  return answer == 0xAA ? -2 : 0;
}

int USB_GetBoardId(int dev, char *id) {
  const char cmd = static_cast<char>(0xA7);
  int r = USB_SendCommandString(dev, &cmd, 1);
  if (r != 0) return r;
  char text[6] = {};
  unsigned int got = 0;
  if (USB_Read(dev, text, 5, &got) != 0) return -3;
  if (id) platform::copy_bounded(id, 6, text);
  return 0;
}

// ---- the FTDI chip's user area ----

int ReadUserEEprom(int dev, int *count, char *data) {
  if (!count || *count <= 0) return -1;
  if (!ftdi_number(dev)) return -1;
  DWORD size = 0;
  if (!data || FT_EE_UASize(FTDIHandle[dev], &size) != FT_OK) {
    *count = 0;
    return 0;
  }
  const DWORD want = std::min<DWORD>(static_cast<DWORD>(*count), size);
  DWORD got = 0;
  const FT_STATUS st = FT_EE_UARead(FTDIHandle[dev], reinterpret_cast<UCHAR *>(data), want, &got);
  *count = st == FT_OK ? static_cast<int>(got) : 0;
  return static_cast<int>(st);
}
