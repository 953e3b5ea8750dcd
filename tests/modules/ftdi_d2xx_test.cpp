// D2XX rules of the FT_* layer and the choice of its backend.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/modules/ftdi_fixture.h"

namespace {

class D2xx : public ftdi_test::SimBusTest {};

TEST_F(D2xx, SnapshotRules) {
  bus_->add_module("A");
  bus_->add_module("B");
  FT_HANDLE h = nullptr;
  ASSERT_EQ(FT_Open(1, &h), FT_OK);  // without a list call first: one is taken
  DWORD flags = 0, type = 0, id = 0, loc = 0;
  char serial[16], descr[64];
  FT_HANDLE listed = nullptr;
  ASSERT_EQ(FT_GetDeviceInfoDetail(1, &flags, &type, &id, &loc, serial, descr, &listed), FT_OK);
  EXPECT_EQ(listed, h);
  EXPECT_EQ(flags & FT_FLAGS_OPENED, 1u);
  EXPECT_EQ(FT_GetDeviceInfoDetail(2, &flags, &type, &id, &loc, serial, descr, &listed), FT_DEVICE_NOT_FOUND);
  // The snapshot stays until the next list call, even when a device leaves.
  bus_->unplug("A");
  ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, serial, descr, &listed), FT_OK);
  EXPECT_STREQ(serial, "A");
  FT_HANDLE a = nullptr;
  EXPECT_EQ(FT_Open(0, &a), FT_DEVICE_NOT_FOUND);
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  EXPECT_EQ(n, 1u);
  FT_DEVICE t = 0;
  ASSERT_EQ(FT_GetDeviceInfo(h, &t, &id, serial, descr, nullptr), FT_OK);
  EXPECT_STREQ(serial, "B");
  EXPECT_EQ(FT_Close(h), FT_OK);
  DWORD w = 0;
  const UCHAR b = 0;
  EXPECT_EQ(FT_Write(h, &b, 1, &w), FT_INVALID_HANDLE);
  EXPECT_EQ(FT_Write(nullptr, &b, 1, &w), FT_INVALID_HANDLE);
}

TEST_F(D2xx, HandleOfADeviceThatLeftIsDeadEvenAfterItsReturn) {
  bus_->add_module("A");
  FT_HANDLE h = nullptr;
  ASSERT_EQ(FT_Open(0, &h), FT_OK);
  bus_->unplug("A");
  bus_->replug("A");
  DWORD waiting = 0;
  EXPECT_EQ(FT_GetQueueStatus(h, &waiting), FT_IO_ERROR);
  EXPECT_EQ(FT_Close(h), FT_OK);
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(FT_Open(0, &h), FT_OK);
  EXPECT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
}

class BackendChoice : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("QV_D2XX");
    unsetenv("QV_D2XX_SIM");
    platform::d2xx::set_backend(platform::d2xx::make_empty_backend());
  }
  DWORD listed() {
    DWORD n = 99;
    EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
    return n;
  }
};

TEST_F(BackendChoice, EnvironmentPicksTheSimulator) {
  setenv("QV_D2XX", "sim", 1);
  platform::d2xx::set_backend(nullptr);
  EXPECT_STREQ(platform::d2xx::backend().name(), "sim");
  EXPECT_EQ(listed(), 1u);  // one module by default

  testsupport::TempDir dir;
  const std::string file = dir.write("two.sim", "[module]\nserial = M1\n[module]\nserial = M2\nnumber = 2\n");
  setenv("QV_D2XX", file.c_str(), 1);
  platform::d2xx::set_backend(nullptr);
  EXPECT_STREQ(platform::d2xx::backend().name(), "sim");
  EXPECT_EQ(listed(), 2u);

  setenv("QV_D2XX", "sim", 1);
  setenv("QV_D2XX_SIM", file.c_str(), 1);
  platform::d2xx::set_backend(nullptr);
  EXPECT_EQ(listed(), 2u);

  setenv("QV_D2XX_SIM", dir.file("missing.sim").c_str(), 1);
  platform::d2xx::set_backend(nullptr);
  EXPECT_EQ(listed(), 0u);

  setenv("QV_D2XX", "none", 1);
  platform::d2xx::set_backend(nullptr);
  EXPECT_STREQ(platform::d2xx::backend().name(), "none");
  EXPECT_EQ(listed(), 0u);
}

TEST_F(BackendChoice, WithoutASimulatorItIsLibftdiOrNothing) {
  unsetenv("QV_D2XX");
  platform::d2xx::set_backend(nullptr);
  const std::string name = platform::d2xx::backend().name();
  EXPECT_TRUE(name == "libftdi1" || name == "none") << name;
}

}  // namespace
