// The libusb stand-in through libusb's own calls: what libftdi1 relies on of
// a vanished device, of the chip's packets and of its latency timer.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libusb.h>

#include <array>
#include <memory>
#include <string>

#include "platform/d2xx/ftd2xx.h"
#include "platform/win/clock.h"
#include "sim/bus.h"
#include "sim/usb_bus.h"
#include "tests/testsupport/testsupport.h"

namespace {

// libusb's calls as the loaded stand-in exports them (the test program does
// not link libusb: the loader takes whatever LD_LIBRARY_PATH offers).
struct Libusb {
  void *lib = nullptr;
  template <typename T>
  T fn(const char *name) {
    return reinterpret_cast<T>(dlsym(lib, name));
  }
  decltype(&libusb_get_device_list) get_device_list = nullptr;
  decltype(&libusb_free_device_list) free_device_list = nullptr;
  decltype(&libusb_open) open = nullptr;
  decltype(&libusb_close) close = nullptr;
  decltype(&libusb_claim_interface) claim = nullptr;
  decltype(&libusb_release_interface) release = nullptr;
  decltype(&libusb_detach_kernel_driver) detach = nullptr;
  decltype(&libusb_control_transfer) control = nullptr;
  decltype(&libusb_bulk_transfer) bulk = nullptr;
  decltype(&libusb_get_string_descriptor_ascii) string = nullptr;
  decltype(&libusb_get_device_descriptor) descriptor = nullptr;
};

class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    usb_ = std::make_unique<sim::UsbBus>(bus_);
    std::string why;
    ASSERT_TRUE(usb_->attach(&why)) << why;
    u_.lib = dlopen("libusb-1.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(u_.lib, nullptr);
    u_.get_device_list = u_.fn<decltype(u_.get_device_list)>("libusb_get_device_list");
    u_.free_device_list = u_.fn<decltype(u_.free_device_list)>("libusb_free_device_list");
    u_.open = u_.fn<decltype(u_.open)>("libusb_open");
    u_.close = u_.fn<decltype(u_.close)>("libusb_close");
    u_.claim = u_.fn<decltype(u_.claim)>("libusb_claim_interface");
    u_.release = u_.fn<decltype(u_.release)>("libusb_release_interface");
    u_.detach = u_.fn<decltype(u_.detach)>("libusb_detach_kernel_driver");
    u_.control = u_.fn<decltype(u_.control)>("libusb_control_transfer");
    u_.bulk = u_.fn<decltype(u_.bulk)>("libusb_bulk_transfer");
    u_.string = u_.fn<decltype(u_.string)>("libusb_get_string_descriptor_ascii");
    u_.descriptor = u_.fn<decltype(u_.descriptor)>("libusb_get_device_descriptor");
    bus_->add_module("KMVA");
  }
  void TearDown() override {
    if (h_) u_.close(h_);
    if (u_.lib) dlclose(u_.lib);
    usb_.reset();
  }
  // Opens and claims the first device, as libftdi does.
  void open_first() {
    libusb_device **list = nullptr;
    ASSERT_EQ(u_.get_device_list(nullptr, &list), 1);
    ASSERT_EQ(u_.open(list[0], &h_), 0);
    u_.free_device_list(list, 1);
    EXPECT_EQ(u_.claim(h_, 0), LIBUSB_ERROR_BUSY);  // the serial driver still holds it
    ASSERT_EQ(u_.detach(h_, 0), 0);
    ASSERT_EQ(u_.claim(h_, 0), 0);
    // MPSSE, as libftdi sets it: mode in the high byte.
    ASSERT_EQ(u_.control(h_, 0x40, 0x0B, 0x0200, 1, nullptr, 0, 1000), 0);
  }
  // Bytes transferred, or libusb's error.
  int bulk_in(uint8_t *buf, int len, int *got) {
    const int r = u_.bulk(h_, 0x81, buf, len, got, 5000);
    return r < 0 ? r : *got;
  }
  int bulk_out(std::initializer_list<uint8_t> bytes) {
    std::array<uint8_t, 64> b{};
    std::copy(bytes.begin(), bytes.end(), b.begin());
    int done = 0;
    const int r = u_.bulk(h_, 0x02, b.data(), static_cast<int>(bytes.size()), &done, 1000);
    return r < 0 ? r : done;
  }

  testsupport::VirtualClock clock_;
  std::shared_ptr<sim::Bus> bus_ = std::make_shared<sim::Bus>();
  std::unique_ptr<sim::UsbBus> usb_;
  Libusb u_;
  libusb_device_handle *h_ = nullptr;
};

TEST_F(StandIn, DescriptorsAndStringsAreTheChips) {
  libusb_device **list = nullptr;
  ASSERT_EQ(u_.get_device_list(nullptr, &list), 1);
  libusb_device_descriptor d{};
  ASSERT_EQ(u_.descriptor(list[0], &d), 0);
  EXPECT_EQ(d.idVendor, 0x0403);
  EXPECT_EQ(d.idProduct, 0x6014);
  EXPECT_EQ(d.bcdDevice, 0x0900);
  ASSERT_EQ(u_.open(list[0], &h_), 0);
  u_.free_device_list(list, 1);
  std::array<unsigned char, 64> s{};
  ASSERT_GT(u_.string(h_, d.iProduct, s.data(), static_cast<int>(s.size())), 0);
  EXPECT_STREQ(reinterpret_cast<char *>(s.data()), "UM232H Q&V5");
  ASSERT_GT(u_.string(h_, d.iSerialNumber, s.data(), static_cast<int>(s.size())), 0);
  EXPECT_STREQ(reinterpret_cast<char *>(s.data()), "KMVA");
  EXPECT_EQ(u_.string(h_, 9, s.data(), static_cast<int>(s.size())), LIBUSB_ERROR_PIPE);
}

// Every packet opens with the two status bytes; with nothing to say the chip
// sends them alone, once its latency timer runs out.
TEST_F(StandIn, InPacketsCarryStatusBytesAndWaitForTheLatencyTimer) {
  open_first();
  std::array<uint8_t, 4096> buf{};
  int got = 0;
  platform::clock::sleep(1.0);  // long after the last packet: the timer has run out
  double t0 = platform::clock::now();
  ASSERT_EQ(bulk_in(buf.data(), 4096, &got), 2);
  EXPECT_EQ(platform::clock::now(), t0);
  EXPECT_EQ(buf[0], sim::kModemStatus0);
  EXPECT_EQ(buf[1], sim::kModemStatus1);
  t0 = platform::clock::now();
  ASSERT_EQ(bulk_in(buf.data(), 4096, &got), 2);  // the next one waits a whole period
  EXPECT_NEAR(platform::clock::now() - t0, 0.016, 1e-9);

  // A reply without send-immediate leaves with the timer; with it, at once.
  ASSERT_EQ(bulk_out({0x83}), 1);
  t0 = platform::clock::now();
  ASSERT_EQ(bulk_in(buf.data(), 4096, &got), 3);
  EXPECT_NEAR(platform::clock::now() - t0, 0.016, 1e-9);
  ASSERT_EQ(bulk_out({0x83, 0x83, 0x87}), 3);
  t0 = platform::clock::now();
  ASSERT_EQ(bulk_in(buf.data(), 4096, &got), 4);
  EXPECT_EQ(platform::clock::now(), t0);
  EXPECT_EQ(buf[0], sim::kModemStatus0);
  // The latency timer as libftdi sets it.
  ASSERT_EQ(u_.control(h_, 0x40, 0x09, 2, 1, nullptr, 0, 1000), 0);
  t0 = platform::clock::now();
  ASSERT_EQ(bulk_in(buf.data(), 4096, &got), 2);
  EXPECT_NEAR(platform::clock::now() - t0, 0.002, 1e-9);
  // A transfer shorter than the timer's period times out empty.
  EXPECT_EQ(u_.bulk(h_, 0x81, buf.data(), 4096, &got, 1), LIBUSB_ERROR_TIMEOUT);
  EXPECT_EQ(got, 0);
}

TEST_F(StandIn, VanishedDeviceFailsAsLibusbDoes) {
  open_first();
  bus_->unplug("KMVA");
  std::array<uint8_t, 64> buf{};
  int got = 0;
  EXPECT_EQ(bulk_out({0x87}), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(bulk_in(buf.data(), 64, &got), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(u_.control(h_, 0x40, 0x00, 0, 1, nullptr, 0, 1000), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(u_.release(h_, 0), LIBUSB_ERROR_NO_DEVICE);
  libusb_device **list = nullptr;
  EXPECT_EQ(u_.get_device_list(nullptr, &list), 0);
  u_.free_device_list(list, 1);

  // Back on the bus it is a new device; the old handle stays dead.
  bus_->replug("KMVA");
  EXPECT_EQ(bulk_out({0x87}), LIBUSB_ERROR_NO_DEVICE);
  ASSERT_EQ(u_.get_device_list(nullptr, &list), 1);
  libusb_device_handle *fresh = nullptr;
  ASSERT_EQ(u_.open(list[0], &fresh), 0);
  u_.free_device_list(list, 1);
  EXPECT_EQ(u_.detach(fresh, 0), 0);  // the serial driver bound it again
  EXPECT_EQ(u_.claim(fresh, 0), 0);
  u_.close(fresh);
  EXPECT_EQ(usb_->claimed_interfaces(), 0);
}

TEST_F(StandIn, ClaimedElsewhereIsBusy) {
  bus_->set_held_elsewhere("KMVA", true);
  libusb_device **list = nullptr;
  ASSERT_EQ(u_.get_device_list(nullptr, &list), 1);
  ASSERT_EQ(u_.open(list[0], &h_), 0);  // opening is allowed; claiming is not
  u_.free_device_list(list, 1);
  EXPECT_NE(u_.detach(h_, 0), 0);
  EXPECT_EQ(u_.claim(h_, 0), LIBUSB_ERROR_BUSY);
}

}  // namespace
