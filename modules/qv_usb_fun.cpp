// USB-module manager: the device table, scan, connect, disconnect, reconnect.
#include "modules/qv_usb_fun.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "modules/FTDI_func.h"
#include "platform/win/clock.h"
#include "platform/win/strings.h"

usb_module_record usb_dev[QVUSB_MAX_DEVICES];
usb_module_info usb_dev_info[QVUSB_MAX_DEVICES];
int16_t usb_err = 0;
int16_t usb_found_count[8];
int16_t usb_connected_count[8];
int16_t usb_connected_total = 0;
int32_t vaj_data[QVUSB_FTDI_DEVICES];

namespace {

constexpr std::array<const char *, 13> kErrorTexts = {
    "no error",
    "no active devices",
    "device number out of range",
    "parameter not defined for this device type",
    "device not present",
    "can't execute function - device not active",
    "Cannot connect - device already in use",
    "Cannot connect device",
    "Cannot disconnect device",
    "Cannot write to USB port on device",
    "unknown parameter id",
    "parameter value out of range",
    "Error ID is out of range",
};

bool in_table(int16_t n) { return n >= 0 && n < QVUSB_MAX_DEVICES; }
bool ftdi_kind(int kind) { return kind == 5 || kind == 6; }

int16_t result(int16_t r) {
  usb_err = r;
  return r;
}

int16_t module_number(const usb_module_record &r) {
  return static_cast<int16_t>(static_cast<uint8_t>(r.user_block[2]) | static_cast<uint8_t>(r.user_block[3]) << 8);
}

// The mode word of the register layer that serves the device's kind.
int layer_mode(int kind) {
  if (kind == 5) return TRQ_mode;
  if (kind == 6) return VAJ_mode;
  return QVUSB_mode;
}

void fill_info(int n) {
  const usb_module_record &r = usb_dev[n];
  usb_module_info &info = usb_dev_info[n];
  if (r.kind == 0) {
    info = usb_module_info{};
    return;
  }
  info.kind = r.kind;
  info.filled = 1;
  info.active = r.present < 0 ? -1 : r.connected ? 1 : 0;
  info.module_no = module_number(r);
  if (r.present < 0) {
    info.init_status = -2;
  } else if (r.connected) {
    info.init_status = r.user_data_valid ? 0 : -3;
  } else {
    info.init_status = -1;
  }
}

void count_devices() {
  std::fill(std::begin(usb_found_count), std::end(usb_found_count), 0);
  std::fill(std::begin(usb_connected_count), std::end(usb_connected_count), 0);
  int total = 0;
  for (const usb_module_record &r : usb_dev) {
    if (r.kind == 0 || r.kind >= 8) continue;
    if (r.present != 0) ++usb_found_count[r.kind];
    if (r.connected) {
      ++usb_connected_count[r.kind];
      ++total;
    }
  }
  usb_connected_total = static_cast<int16_t>(std::min(total, static_cast<int>(QVUSB_FTDI_DEVICES)));
}

// A freshly scanned FTDI device.
struct Fresh {
  bool used = false;
  bool opened_here = false;  // opened by this scan for inspection only
  usb_module_record rec{};
};

Fresh inspect(int i, int digit) {
  Fresh f;
  f.used = true;
  f.rec.kind = static_cast<uint8_t>(digit);
  f.rec.device_no = i;
  if (!DeviceOpened(i)) {
    // Keep 1: a module's register cache stays as it was.
    OpenDevice(i, 1);
    f.opened_here = DeviceOpened(i) != 0;
  }
  int flags = -1;
  unsigned int type = 0, id = 0;
  const int st = GetDeviceInfo(i, &flags, &type, &id, f.rec.serial, f.rec.description);
  f.rec.device_type = type;
  f.rec.device_id = id;
  if (st != 0 || flags == -1) {
    f.rec.present = 0;
  } else if ((flags & FT_FLAGS_OPENED) != 0 && !DeviceOpened(i)) {
    // The list also marks this program's own open devices: only a device we
    // do not hold is in use elsewhere.
    f.rec.present = -1;
  } else {
    f.rec.present = 1;
  }
  if (DeviceOpened(i)) {
    char block[QVUSB_USER_BLOCK] = {};
    int n = QVUSB_USER_BLOCK;
    if (ReadUserEEprom(i, &n, block) == 0 && n == QVUSB_USER_BLOCK) {
      std::memcpy(f.rec.user_block, block, sizeof block);
      f.rec.user_data_valid =
          test_QV_checksum(reinterpret_cast<const unsigned char *>(block), QVUSB_USER_BLOCK) == 0 ? 1 : 0;
    }
  }
  return f;
}

}  // namespace

int16_t QVUSB_find_devices(int16_t kind) {
  if (!ftdi_kind(kind)) return result(QVUSB_BAD_PAR_VAL);

  bool closed = false;
  if (usb_connected_total > 0) {
    for (int i = 0; i < QVUSB_FTDI_DEVICES; ++i) {
      const usb_module_record &r = usb_dev[i];
      if (r.connected && r.kind == kind && DeviceOpened(r.device_no)) {
        CloseDevice(r.device_no);
        closed = true;
      }
    }
  }
  if (closed) Delay(3.0);
  ResetFtdiListIndex();  // the table is built anew by list index

  int listed = 0;
  GetFtdiDevices(kind, &listed);

  std::array<Fresh, QVUSB_FTDI_DEVICES> fresh{};
  int found = 0;
  for (int i = 0; i < QVUSB_FTDI_DEVICES; ++i) {
    const int digit = QV_FTDI_Type[i];
    if (!ftdi_kind(digit)) continue;
    fresh[i] = inspect(i, digit);
    if (digit == kind) ++found;
  }

  // Hand over what the old table knew of each device found again.
  std::array<bool, QVUSB_FTDI_DEVICES> matched{};
  std::array<int32_t, QVUSB_FTDI_DEVICES> new_vaj{};
  for (int i = 0; i < QVUSB_FTDI_DEVICES; ++i) {
    Fresh &f = fresh[i];
    if (!f.used) continue;
    const int16_t number = module_number(f.rec);
    int old = -1;
    for (int j = 0; j < QVUSB_FTDI_DEVICES; ++j) {
      const usb_module_record &o = usb_dev[j];
      if (matched[j] || o.kind != f.rec.kind || module_number(o) != number) continue;
      // Among records of one kind and number, the one of the same device.
      if (std::strncmp(o.serial, f.rec.serial, sizeof o.serial) == 0) {
        old = j;
        break;
      }
      if (old < 0) old = j;
    }
    if (old >= 0) {
      matched[old] = true;
      new_vaj[i] = vaj_data[old];
      if (usb_dev[old].connected) {
        if (!DeviceOpened(i)) OpenDevice(i, 1);
        f.rec.connected = DeviceOpened(i) ? 1 : 0;
        f.rec.com_port = GetComPortNumber(i);
        continue;
      }
    }
    f.rec.com_port = GetComPortNumber(i);
    if (f.opened_here) CloseDevice(i);
  }

  for (int i = 0; i < QVUSB_FTDI_DEVICES; ++i) {
    usb_dev[i] = fresh[i].used ? fresh[i].rec : usb_module_record{};
    vaj_data[i] = new_vaj[i];
    fill_info(i);
  }
  count_devices();
  usb_err = 0;
  return static_cast<int16_t>(found);
}

int16_t QVUSB_connect_device(int16_t number) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  usb_module_record &r = usb_dev[number];
  if (r.present == 0) return result(QVUSB_NOT_PRESENT);
  if (r.present < 0) return result(QVUSB_IN_USE);
  if (r.connected) return result(QVUSB_NONE);
  if (OpenDevice(r.device_no, 0) != 0) {
    // A half-prepared device is not left open.
    if (DeviceOpened(r.device_no)) CloseDevice(r.device_no);
    return result(QVUSB_CONNECT);
  }
  r.connected = 1;
  fill_info(number);
  count_devices();
  return result(QVUSB_NONE);
}

int16_t QVUSB_disconnect_device(int16_t number) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  usb_module_record &r = usb_dev[number];
  if (layer_mode(r.kind) != 0) return result(QVUSB_NONE);
  if (r.present == 0) return result(QVUSB_NOT_PRESENT);
  if (r.present < 0) return result(QVUSB_IN_USE);
  if (!r.connected) return result(QVUSB_NONE);
  // A handle already gone (a failed reopen) leaves nothing to close.
  if (DeviceOpened(r.device_no) && CloseDevice(r.device_no) != 0) return result(QVUSB_DISCONNECT);
  r.connected = 0;
  fill_info(number);
  count_devices();
  return result(QVUSB_NONE);
}

int16_t QVUSB_reconnect_device(int16_t number) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  const usb_module_record &r = usb_dev[number];
  if (r.present == 0) return result(QVUSB_NOT_PRESENT);
  if (r.present < 0) return result(QVUSB_IN_USE);
  if (!ftdi_kind(r.kind) || r.serial[0] == '\0') return result(QVUSB_CONNECT);

  // A fresh device list, then the device of this serial number and kind.
  int count = 0;
  char last[16] = {};
  GetFtdiDevicesExt(r.kind, &count, last);
  int at = -1;
  for (int i = 0; i < QVUSB_FTDI_DEVICES && at < 0; ++i) {
    int flags = -1;
    unsigned int type = 0, id = 0;
    char serial[64] = {}, descr[64] = {};
    if (GetDeviceInfo(i, &flags, &type, &id, serial, descr) != 0 || flags == -1) continue;
    if (QV_FTDI_Type[i] == r.kind && std::strncmp(serial, r.serial, sizeof serial) == 0) at = i;
  }
  // Back at another index (another port, or the list changed meanwhile): its
  // number opens it there, so its record and register cache stay with it and
  // the device now listed at its old index keeps its own.
  if (at < 0) return result(QVUSB_CONNECT);
  const int dev = r.device_no;
  const int before = FTDIListIndex[dev];
  FTDIListIndex[dev] = at;
  if (OpenDevice(dev, 1) != 0) {
    FTDIListIndex[dev] = before;
    return result(QVUSB_CONNECT);
  }
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_init_status(int16_t number, int16_t *status) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  if (status) *status = usb_dev_info[number].init_status;
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_device_info(int16_t number, usb_module_info *out) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  if (out) *out = usb_dev_info[number];
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_device_data(int16_t number, usb_module_record *out) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  if (out) *out = usb_dev[number];
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_error_string(int16_t code, char *text, int16_t max) {
  if (text == nullptr || max <= 0) return QVUSB_NONE;
  const int index = std::min(std::abs(static_cast<int>(code)), static_cast<int>(kErrorTexts.size()) - 1);
  platform::copy_bounded(text, static_cast<size_t>(max), kErrorTexts[index]);
  return QVUSB_NONE;
}
