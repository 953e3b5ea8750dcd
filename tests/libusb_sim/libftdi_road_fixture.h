#pragma once
// The module library on the system's libftdi1, unchanged, over the libusb
// stand-in and the simulated bus: the road a real module takes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/d2xx/libftdi_backend.h"
#include "sim/usb_bus.h"
#include "tests/modules/sim_fixture.h"

namespace roadtest {

class LibftdiRoad : public simtest::SimFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  sim::UsbBus &usb() { return *usb_; }
  platform::d2xx::FtdiApi &api() { return *api_; }

 private:
  std::unique_ptr<sim::UsbBus> usb_;
  std::shared_ptr<platform::d2xx::FtdiApi> api_;
};

}  // namespace roadtest
