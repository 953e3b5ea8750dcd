#include "tests/modules/sim_fixture.h"

#include <algorithm>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "modules/qv_usb_fun.h"
#include "tests/modules/fake_lower.h"

namespace simtest {

void reset_all() {
  for (int i = 0; i < FTDI_MAX_DEVICES; ++i)
    if (FTDIHandle[i] != nullptr) CloseDevice(i);
  fake::reset_library();
  ResetFtdiListIndex();
  std::fill(std::begin(QV_FTDI_Type), std::end(QV_FTDI_Type), 0);
  std::fill(std::begin(FTDI_Type), std::end(FTDI_Type), 0);
  std::fill(std::begin(usb_found_count), std::end(usb_found_count), 0);
  std::fill(std::begin(usb_connected_count), std::end(usb_connected_count), 0);
  std::fill(std::begin(vaj_data), std::end(vaj_data), 0);
  usb_connected_total = 0;
  usb_err = 0;
}

void SimFixture::SetUp() {
  bus_ = std::make_shared<sim::Bus>();  // a fresh bus each time, also when a test sets up again
  kmvusb_lower = kmvusb_default_lower();
  scope_ = std::make_unique<platform::d2xx::SimBusScope>(bus_);
  reset_all();
}

void SimFixture::TearDown() {
  KMVUSB_close();
  reset_all();
  scope_.reset();
}

sim::KmvModule &SimFixture::add_module(const std::string &usb_serial, uint16_t number, const std::string &name,
                                       const std::string &serial, const std::array<uint8_t, 4> &limits) {
  sim::ModuleOptions o;
  o.number = number;
  sim::KmvModule &m = bus_->add_module(usb_serial, o);
  std::vector<uint8_t> block(49, 0);
  std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), 15), block.begin());
  std::copy(serial.begin(), serial.begin() + std::min<size_t>(serial.size(), 15), block.begin() + 16);
  const std::string date = "03.04.2021";
  std::copy(date.begin(), date.end(), block.begin() + 32);
  prepare_QV_checksum(block.data(), 49);
  m.load_eeprom(0, block);
  std::vector<uint8_t> lim(limits.begin(), limits.end());
  lim.push_back(0);
  prepare_QV_checksum(lim.data(), 5);
  m.load_eeprom(100, lim);
  return m;
}

uint64_t SimFixture::device_writes() {
  uint64_t n = 0;
  for (sim::FtdiDevice *d : bus_->listed()) n += d->stats().writes;
  return n;
}

}  // namespace simtest
