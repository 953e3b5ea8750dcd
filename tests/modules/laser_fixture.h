#pragma once
// Laser modules on pseudo-terminals in place of the system's serial ports,
// with the serial-port globals reset, on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "modules/FTDI_func.h"
#include "platform/serial/ports.h"
#include "platform/serial/rs232.h"
#include "platform/win/clock.h"
#include "sim/laser_module.h"
#include "tests/testsupport/testsupport.h"

namespace laser_test {

inline void reset_serial_globals() {
  for (int dev = FTDI_MAX_DEVICES; dev <= ARD_LAST_DEVICE; ++dev)
    if (DeviceOpened(dev)) CloseDevice(dev);
  std::fill(std::begin(ARD_COM_ports), std::end(ARD_COM_ports), 0);
  std::fill(std::begin(COM_opened), std::end(COM_opened), 0);
  std::fill(std::begin(QV_Arduino_Type), std::end(QV_Arduino_Type), 0);
  ard_dev_no = -1;
  num_arduino_devs = 0;
  Set_QVUSB_mode(0, 0);
}

class LaserBase : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_serial_globals();
    platform::serial::set_port_lister([this] {
      std::vector<platform::serial::PortEntry> out = others_;
      for (auto &l : lasers_)
        for (auto &e : l->entries()) out.push_back(e);
      return out;
    });
  }
  void TearDown() override {
    reset_serial_globals();
    platform::serial::set_port_lister(nullptr);
  }
  sim::LaserModule &add_laser(int com, const std::string &ident = "QV GOR4 laser module v1.2") {
    lasers_.push_back(std::make_unique<sim::LaserModule>(com, "", ident));
    return *lasers_.back();
  }
  // A port that is listed but has no device behind it.
  void add_other(int com, const std::string &name) {
    platform::serial::PortEntry e;
    e.com = com;
    e.path = "/nonexistent/tty";
    e.name = name;
    others_.push_back(e);
  }
  testsupport::VirtualClock clock_;
  std::vector<std::unique_ptr<sim::LaserModule>> lasers_;
  std::vector<platform::serial::PortEntry> others_;
};

// One laser module at COM5, found and opened as device 8.
class LaserOpen : public LaserBase {
 protected:
  void SetUp() override {
    LaserBase::SetUp();
    laser_ = &add_laser(5);
    int n = 0;
    ASSERT_EQ(GetArduinoDevices(&n), 8);
    ASSERT_EQ(OpenDevice(8, 0), 0);
  }
  sim::LaserModule &laser() { return *laser_; }
  sim::LaserModule *laser_ = nullptr;
};

}  // namespace laser_test
