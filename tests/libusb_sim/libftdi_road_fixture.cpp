#include "tests/libusb_sim/libftdi_road_fixture.h"

#include <filesystem>

namespace roadtest {

void LibftdiRoad::SetUp() {
  simtest::SimFixture::SetUp();
  bus().record_calls(true);  // the tests read the devices' calls
  api_ = platform::d2xx::load_libftdi_api();
  if (!api_)
    GTEST_SKIP() << "libftdi1 cannot be loaded in this build (the 32-bit build has none): "
                    "the real-device road is not tested here";
  // libftdi1 took libusb-1.0.so.0 from LD_LIBRARY_PATH: it must be the stand-in.
  usb_ = std::make_unique<sim::UsbBus>(shared_bus());
  std::string why;
  ASSERT_TRUE(usb_->attach(&why)) << why;
  ASSERT_EQ(std::filesystem::path(usb_->library_path()).parent_path(), std::filesystem::path(TRQ_LIBUSB_SIM_DIR));
  // sysfs shows a claim by another process as the usbfs driver; here the bus tells.
  api_->interface_driver = [this](const std::string &key) {
    for (sim::FtdiDevice *d : bus().listed())
      if (key == "1-" + std::to_string(d->loc_id() & 0x7F)) return std::string(d->held_elsewhere() ? "usbfs" : "");
    return std::string();
  };
  platform::d2xx::set_backend(platform::d2xx::make_libftdi_backend(api_));
}

void LibftdiRoad::TearDown() {
  simtest::SimFixture::TearDown();
  if (usb_) {
    EXPECT_EQ(usb_->claimed_interfaces(), 0);
  }
  api_.reset();
  usb_.reset();
}

}  // namespace roadtest
