// The manager's calls for the kinds beside the KMV-USB module: presence of
// the serial-port devices, the sync-delay box's parameters and the laser module.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/qv_usb_fun.h"

namespace {

int16_t result(int16_t r) {
  usb_err = r;
  return r;
}

bool in_table(int16_t n) { return n >= 0 && n < QVUSB_MAX_DEVICES; }

// The record of a connected laser module, or null with the manager's code in *err.
usb_module_record *laser_record(int16_t n, int16_t *err) {
  if (!in_table(n)) {
    *err = QVUSB_DEV_NO;
    return nullptr;
  }
  usb_module_record &r = usb_dev[n];
  if (r.kind != 3) {
    *err = QVUSB_BAD_TYPE;
    return nullptr;
  }
  if (!r.connected) {
    *err = QVUSB_NOT_ACTIVE;
    return nullptr;
  }
  return &r;
}

// One write of the laser protocol, tried a second time after a negative result.
template <typename F>
bool twice(F write) {
  return write() >= 0 || write() >= 0;
}

gor_module_block &block_of(const usb_module_record &r) { return laser_data[r.device_no - QVUSB_FTDI_DEVICES]; }

bool apply_laser(const usb_module_record &r, int k, const gor_laser_block &b, bool on) {
  const int dev = r.device_no;
  return twice([&] { return GOR_set_dac_chan(dev, k, b.power); }) &&
         twice([&] { return GOR_set_dac_chan(dev, 4 + k, b.current_limit); }) &&
         twice([&] { return GOR_set_dac_chan(dev, 8 + k, b.temperature); }) &&
         twice([&] { return GOR_set_relay(dev, k, on ? 1 : 0); });
}

}  // namespace

int16_t QVUSB_test_if_active(int16_t number, int16_t *count) {
  if (number < -1 || number >= QVUSB_MAX_DEVICES) return result(QVUSB_DEV_NO);
  const int present = TestIfArduinoPresent(number);
  for (int n = QVUSB_FTDI_DEVICES; n < QVUSB_MAX_DEVICES; ++n) {
    usb_module_record &r = usb_dev[n];
    if (r.kind != 3 || !r.connected || DeviceOpened(r.device_no)) continue;
    // The presence test closed its port: the device is gone.
    r.connected = 0;
    usb_dev_info[n].active = 0;
    usb_dev_info[n].init_status = -1;
  }
  (void)present;
  if (count) *count = static_cast<int16_t>(num_arduino_devs);
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_parameter(int16_t number, int16_t id, float *value) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  if (id < 0 || id > 2) return result(QVUSB_BAD_PAR_ID);
  const usb_module_record &r = usb_dev[number];
  if ((id < 2 && r.kind != 1) || (id == 2 && r.kind != 3)) return result(QVUSB_BAD_TYPE);
  if (!r.connected) return result(QVUSB_NOT_ACTIVE);
  if (!value) return result(QVUSB_BAD_PAR_VAL);
  if (id == 0) *value = r.sync_delay;
  if (id == 1) *value = (static_cast<uint8_t>(r.user_block[6]) & 0x80) ? 1.0f : 0.0f;
  if (id == 2) *value = block_of(r).led_mode;
  return result(QVUSB_NONE);
}

int16_t QVUSB_set_parameter(int16_t number, int16_t id, float value) {
  if (!in_table(number)) return result(QVUSB_DEV_NO);
  if (id < 0 || id > 2) return result(QVUSB_BAD_PAR_ID);
  usb_module_record &r = usb_dev[number];
  if ((id < 2 && r.kind != 1) || (id == 2 && r.kind != 3)) return result(QVUSB_BAD_TYPE);
  if (!r.connected) return result(QVUSB_NOT_ACTIVE);
  if (id == 0) {
    if (!(value >= 0.0f && value <= 31.5f)) return result(QVUSB_BAD_PAR_VAL);
    double ns = value;
    return result(SetSyncDelay(&ns, &r) == 0 ? QVUSB_NONE : QVUSB_WRITE);
  }
  if (id == 1) {
    if (value != 0.0f && value != 1.0f) return result(QVUSB_BAD_PAR_VAL);
    return result(SetActiveInput(value != 0.0f, &r) == 0 ? QVUSB_NONE : QVUSB_WRITE);
  }
  if (!(value >= 0.0f && value <= 255.0f) || value != std::floor(value)) return result(QVUSB_BAD_PAR_VAL);
  return QVUSB_set_GOR_led(number, static_cast<int16_t>(value));
}

int16_t QVUSB_set_GOR_led(int16_t number, int16_t mode) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (mode < 0 || mode > 255) return result(QVUSB_BAD_PAR_VAL);
  if (!twice([&] { return GOR_set_register(r->device_no, 1, static_cast<unsigned short>(mode)); }))
    return result(QVUSB_WRITE);
  block_of(*r).led_mode = static_cast<uint8_t>(mode);
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_GORparameters(int16_t number, gor_module_block *out) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (!out) return result(QVUSB_BAD_PAR_VAL);
  *out = block_of(*r);
  return result(QVUSB_NONE);
}

int16_t QVUSB_set_GORparameters(int16_t number, const gor_module_block *in) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (!in) return result(QVUSB_BAD_PAR_VAL);
  if (!twice([&] { return GOR_set_register(r->device_no, 1, in->led_mode); })) return result(QVUSB_WRITE);
  for (int k = 0; k < QVUSB_GOR_LASERS; ++k)
    if (!apply_laser(*r, k, in->laser[k], (in->lasers_on >> k) & 1)) return result(QVUSB_WRITE);
  block_of(*r) = *in;
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_GOR_laser_parameters(int16_t number, int16_t laser, gor_laser_block *out) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (laser < 0 || laser >= QVUSB_GOR_LASERS || !out) return result(QVUSB_BAD_PAR_VAL);
  *out = block_of(*r).laser[laser];
  return result(QVUSB_NONE);
}

int16_t QVUSB_set_GOR_laser_parameters(int16_t number, int16_t laser, const gor_laser_block *in) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (laser < 0 || laser >= QVUSB_GOR_LASERS || !in) return result(QVUSB_BAD_PAR_VAL);
  gor_module_block &b = block_of(*r);
  if (!apply_laser(*r, laser, *in, (b.lasers_on >> laser) & 1)) return result(QVUSB_WRITE);
  b.laser[laser] = *in;
  return result(QVUSB_NONE);
}

int16_t QVUSB_switch_GOR_laser(int16_t number, int16_t laser, int16_t on) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (laser < 0 || laser >= QVUSB_GOR_LASERS) return result(QVUSB_BAD_PAR_VAL);
  if (!twice([&] { return GOR_set_relay(r->device_no, laser, on ? 1 : 0); })) return result(QVUSB_WRITE);
  gor_module_block &b = block_of(*r);
  b.lasers_on = static_cast<uint8_t>(on ? (b.lasers_on | 1 << laser) : (b.lasers_on & ~(1 << laser)));
  return result(QVUSB_NONE);
}

int16_t QVUSB_get_GOR_EEP_parameters(int16_t number, gor_module_block *out) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (!out) return result(QVUSB_BAD_PAR_VAL);
  std::array<unsigned char, sizeof(gor_module_block) + 1> raw{};
  int done = 0;
  if (ARD_ReadUserEEP(r->device_no, raw.data(), QVUSB_GOR_EEP_ADDRESS, static_cast<int>(raw.size()), &done) != 0 ||
      done != static_cast<int>(raw.size()) || test_QV_checksum(raw.data(), static_cast<int>(raw.size())) != 0)
    return result(QVUSB_WRITE);
  std::memcpy(out, raw.data(), sizeof *out);
  return result(QVUSB_NONE);
}

int16_t QVUSB_set_GOR_EEP_parameters(int16_t number, const gor_module_block *in) {
  int16_t err = 0;
  const usb_module_record *r = laser_record(number, &err);
  if (!r) return result(err);
  if (!in) return result(QVUSB_BAD_PAR_VAL);
  std::array<unsigned char, sizeof(gor_module_block) + 1> raw{};
  std::memcpy(raw.data(), in, sizeof *in);
  prepare_QV_checksum(raw.data(), static_cast<int>(raw.size()));
  const bool ok = twice([&] {
    return ARD_WriteUserEEP(r->device_no, raw.data(), QVUSB_GOR_EEP_ADDRESS, static_cast<int>(raw.size()));
  });
  return result(ok ? QVUSB_NONE : QVUSB_WRITE);
}
