#pragma once
// Tests through the real module library, manager and transport over the
// simulated USB bus, on the virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/d2xx/sim_backend.h"
#include "sim/bus.h"
#include "tests/testsupport/testsupport.h"

namespace simtest {

class SimFixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  sim::Bus &bus() { return *bus_; }
  // A module with an adjust block (name, serial, date) and a limit block in
  // its EEPROM, and no overload on its input pins.
  sim::KmvModule &add_module(const std::string &usb_serial, uint16_t number, const std::string &name,
                             const std::string &serial, const std::array<uint8_t, 4> &limits = {100, 100, 100, 100});
  // Two modules listed in the other order than their slots (the user block
  // decides): "FTB" number 2, then "FTA" number 1 with a gain limit of 80 on
  // connector 1; then the library starts from the ini text given.
  void start_two_modules(const char *ini);
  uint16_t latch(const char *serial, int reg) { return bus().register_latch(serial, reg); }
  uint16_t dac(const char *serial, int ch) { return bus().dac_output(serial, ch); }
  // Device writes so far over all modules.
  uint64_t device_writes();
  std::shared_ptr<sim::Bus> shared_bus() { return bus_; }

 private:
  testsupport::VirtualClock clock_;
  testsupport::TempDir dir_;
  std::shared_ptr<sim::Bus> bus_ = std::make_shared<sim::Bus>();
  std::unique_ptr<platform::d2xx::SimBusScope> scope_;
};

// Closes every FTDI handle and clears the library, the manager table and the
// discovery globals.
void reset_all();

}  // namespace simtest
