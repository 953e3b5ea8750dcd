#pragma once
// A simulated bus behind the D2XX calls, with the transport's globals reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "modules/FTDI_func.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/win/clock.h"
#include "sim/bus.h"
#include "tests/testsupport/testsupport.h"

namespace ftdi_test {

inline void reset_transport_globals() {
  for (int i = 0; i < FTDI_MAX_DEVICES; ++i) {
    if (FTDIHandle[i]) CloseDevice(i);
    FTDIHandle[i] = nullptr;
    FTDI_Type[i] = 0;
    QV_FTDI_Type[i] = 0;
    std::fill(std::begin(kmv_regdata[i]), std::end(kmv_regdata[i]), 0);
    vaj_regdata[i][0] = vaj_regdata[i][1] = 0;
  }
  ftdi_dev_no = kmv_dev_no = vaj_dev_no = prior_dev_no = -1;
  num_ftdi_devs = num_kmv_devs = num_vaj_devs = num_prior_devs = 0;
  Prior_port_no = 0;
  Set_TRQ_mode(0, 0);
  Set_VAJ_mode(0, 0);
}

// The decoded I2C transactions of a device, as short texts.
inline std::vector<std::string> traffic(sim::FtdiDevice &d) {
  std::vector<std::string> out;
  for (const auto &t : d.i2c().log()) out.push_back(sim::describe(t));
  return out;
}

inline std::vector<uint8_t> bytes(std::initializer_list<int> l) {
  std::vector<uint8_t> v;
  for (int b : l) v.push_back(static_cast<uint8_t>(b));
  return v;
}

// The data of every write call since the log was cleared.
inline std::vector<std::vector<uint8_t>> writes(sim::FtdiDevice &d) {
  std::vector<std::vector<uint8_t>> out;
  for (const auto &c : d.calls())
    if (c.op == "write") out.push_back(c.data);
  return out;
}

class SimBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_transport_globals();
    bus_->record_calls(true);  // the tests read the traffic
    scope_ = std::make_unique<platform::d2xx::SimBusScope>(bus_);
  }
  void TearDown() override {
    reset_transport_globals();
    scope_.reset();
  }
  testsupport::VirtualClock clock_;
  std::shared_ptr<sim::Bus> bus_ = std::make_shared<sim::Bus>();
  std::unique_ptr<platform::d2xx::SimBusScope> scope_;
};

// One KMV-USB module at list index 0, found and opened as the library connects it.
class ModuleTest : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    module_ = &bus_->add_module("KMV00001");
    device_ = bus_->device("KMV00001");
    int n = 0;
    ASSERT_EQ(GetFtdiDevices(5, &n), 0);
    ASSERT_EQ(OpenDevice(0, 0), 0);
    clear_logs();
  }
  void clear_logs() {
    device_->i2c().clear_log();
    device_->i2c().clear_violations();
    device_->clear_calls();
    device_->stats() = sim::DeviceStats{};
  }
  sim::KmvModule &module() { return *module_; }
  sim::FtdiDevice &device() { return *device_; }
  sim::KmvModule *module_ = nullptr;
  sim::FtdiDevice *device_ = nullptr;
};

}  // namespace ftdi_test
