// The USB-module manager over the simulated bus.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "modules/FTDI_func.h"
#include "modules/qv_usb_fun.h"
#include "platform/win/clock.h"
#include "tests/modules/sim_fixture.h"

namespace {

class QvusbManager : public simtest::SimFixture {
 protected:
  void two_modules_and_a_plain_device() {
    add_module("KMV00001", 1, "KMV-USB-1", "KM0001");
    bus().add_device("FT000001", "FT232R USB UART");
    add_module("KMV00002", 2, "KMV-USB-2", "KM0002");
  }
};

TEST_F(QvusbManager, AScanRecordsTheModulesOfTheKind) {
  two_modules_and_a_plain_device();
  bus().add_module("VAJ00001", sim::ModuleOptions{"UM232H Q&V6", 7, true});
  EXPECT_EQ(QVUSB_find_devices(5), 2);
  EXPECT_EQ(usb_err, 0);
  const usb_module_record &a = usb_dev[0];
  EXPECT_EQ(a.kind, 5);
  EXPECT_EQ(a.present, 1);
  EXPECT_EQ(a.connected, 0);
  EXPECT_EQ(a.device_no, 0);
  EXPECT_STREQ(a.serial, "KMV00001");
  EXPECT_STREQ(a.description, "UM232H Q&V5");
  EXPECT_EQ(a.device_type, 8u);
  EXPECT_EQ(a.user_data_valid, 1);
  EXPECT_EQ(usb_dev[1].kind, 0);  // the plain device is no module
  EXPECT_EQ(usb_dev[2].kind, 5);
  EXPECT_EQ(usb_dev[3].kind, 6);  // other module kinds are recorded too
  usb_module_info info{};
  EXPECT_EQ(QVUSB_get_device_info(2, &info), 0);
  EXPECT_EQ(info.kind, 5);
  EXPECT_EQ(info.filled, 1);
  EXPECT_EQ(info.active, 0);
  EXPECT_EQ(info.init_status, -1);
  EXPECT_EQ(info.module_no, 2);
  EXPECT_EQ(usb_found_count[5], 2);
  EXPECT_EQ(usb_found_count[6], 1);
  // Opened for inspection only.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(DeviceOpened(i), 0) << i;

  // Kinds this manager does not scan change nothing.
  for (int16_t kind : {int16_t{4}, int16_t{1}, int16_t{0}, int16_t{7}}) {
    EXPECT_EQ(QVUSB_find_devices(kind), QVUSB_BAD_PAR_VAL) << kind;
    EXPECT_EQ(usb_err, QVUSB_BAD_PAR_VAL);
  }
  EXPECT_STREQ(usb_dev[0].serial, "KMV00001");
  EXPECT_EQ(QVUSB_find_devices(6), 1);
  EXPECT_EQ(QVUSBstd_find_devices(5), 2);
}

TEST_F(QvusbManager, AnInvalidUserBlockIsReported) {
  bus().add_module("KMV00001", sim::ModuleOptions{"UM232H Q&V5", 3, false});
  EXPECT_EQ(QVUSB_find_devices(5), 1);
  EXPECT_EQ(usb_dev[0].user_data_valid, 0);
  EXPECT_EQ(QVUSB_connect_device(0), 0);
  int16_t status = 0;
  EXPECT_EQ(QVUSB_get_init_status(0, &status), 0);
  EXPECT_EQ(status, -3);
}

TEST_F(QvusbManager, ConnectOpensOnceAndStartsTheCacheAfresh) {
  two_modules_and_a_plain_device();
  ASSERT_EQ(QVUSB_find_devices(5), 2);
  kmv_regdata[2][0] = 0x1234;
  EXPECT_EQ(QVUSB_connect_device(2), 0);
  EXPECT_EQ(usb_dev[2].connected, 1);
  EXPECT_EQ(DeviceOpened(2), 1);
  EXPECT_EQ(kmv_regdata[2][0], 0);
  EXPECT_EQ(kmv_regdata[2][1], 0xEF00);
  EXPECT_EQ(usb_dev_info[2].active, 1);
  EXPECT_EQ(usb_dev_info[2].init_status, 0);
  EXPECT_EQ(usb_connected_total, 1);
  EXPECT_EQ(usb_connected_count[5], 1);
  // Already connected: nothing is reopened, the cache stays.
  kmv_regdata[2][0] = 0x4321;
  const uint64_t opens = bus().device("KMV00002")->stats().writes;
  EXPECT_EQ(QVUSB_connect_device(2), 0);
  EXPECT_EQ(kmv_regdata[2][0], 0x4321);
  EXPECT_EQ(bus().device("KMV00002")->stats().writes, opens);

  EXPECT_EQ(QVUSB_connect_device(1), QVUSB_NOT_PRESENT);
  EXPECT_EQ(QVUSB_connect_device(9), QVUSB_NOT_PRESENT);
  EXPECT_EQ(QVUSB_connect_device(16), QVUSB_DEV_NO);
  EXPECT_EQ(QVUSB_connect_device(-1), QVUSB_DEV_NO);
  EXPECT_EQ(usb_err, QVUSB_DEV_NO);
}

TEST_F(QvusbManager, ADeviceHeldElsewhereIsPresentButInUse) {
  two_modules_and_a_plain_device();
  ASSERT_EQ(QVUSB_find_devices(5), 2);
  bus().set_held_elsewhere("KMV00001", true);
  EXPECT_EQ(QVUSB_find_devices(5), 2);  // its tag is known from before
  EXPECT_EQ(usb_dev[0].present, -1);
  EXPECT_EQ(usb_dev_info[0].active, -1);
  EXPECT_EQ(usb_dev_info[0].init_status, -2);
  EXPECT_EQ(QVUSB_connect_device(0), QVUSB_IN_USE);
  EXPECT_EQ(QVUSB_reconnect_device(0), QVUSB_IN_USE);
  // A device this program holds is not "elsewhere".
  ASSERT_EQ(QVUSB_connect_device(2), 0);
  bus().add_module("VAJ00001", sim::ModuleOptions{"UM232H Q&V6", 7, true});
  EXPECT_EQ(QVUSB_find_devices(6), 1);
  EXPECT_EQ(usb_dev[2].present, 1);
  EXPECT_EQ(usb_dev[2].connected, 1);
}

TEST_F(QvusbManager, DisconnectWaitsForTheHardwareMode) {
  two_modules_and_a_plain_device();
  ASSERT_EQ(QVUSB_find_devices(5), 2);
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  Set_TRQ_mode(5, 0);
  EXPECT_EQ(QVUSB_disconnect_device(0), 0);
  EXPECT_EQ(DeviceOpened(0), 1);
  EXPECT_EQ(usb_dev[0].connected, 1);
  Set_TRQ_mode(0, 0);
  EXPECT_EQ(QVUSB_disconnect_device(0), 0);
  EXPECT_EQ(DeviceOpened(0), 0);
  EXPECT_EQ(usb_dev[0].connected, 0);
  EXPECT_EQ(usb_dev_info[0].init_status, -1);
  EXPECT_EQ(usb_connected_total, 0);
  EXPECT_EQ(QVUSB_disconnect_device(0), 0);  // not connected
  EXPECT_EQ(QVUSB_disconnect_device(1), QVUSB_NOT_PRESENT);
  EXPECT_EQ(QVUSB_disconnect_device(16), QVUSB_DEV_NO);
}

TEST_F(QvusbManager, AConnectedModuleSurvivesARescan) {
  two_modules_and_a_plain_device();
  ASSERT_EQ(QVUSB_find_devices(5), 2);
  ASSERT_EQ(QVUSB_connect_device(2), 0);
  kmv_regdata[2][0] = 0x0F0F;
  const double t0 = platform::clock::now();
  EXPECT_EQ(QVUSB_find_devices(5), 2);
  EXPECT_GE(platform::clock::now() - t0, 3.0);  // it waits after closing a connected device
  EXPECT_EQ(usb_dev[2].connected, 1);
  EXPECT_EQ(DeviceOpened(2), 1);
  EXPECT_EQ(kmv_regdata[2][0], 0x0F0F);
  EXPECT_EQ(usb_dev[0].connected, 0);
  EXPECT_EQ(DeviceOpened(0), 0);
}

TEST_F(QvusbManager, ReconnectFindsTheSameDeviceWhereverItIsListed) {
  add_module("KMV00001", 1, "KMV-USB-1", "KM0001");
  add_module("KMV00002", 1, "KMV-USB-1", "KM0002");
  ASSERT_EQ(QVUSB_find_devices(5), 2);
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  ASSERT_EQ(QVUSB_connect_device(1), 0);
  kmv_regdata[0][2] = 0x0007;

  // Gone: the other module now sits at its index, and is not taken for it.
  bus().unplug("KMV00001");
  EXPECT_EQ(QVUSB_reconnect_device(0), QVUSB_CONNECT);
  EXPECT_EQ(usb_err, QVUSB_CONNECT);
  unsigned short v = 0;
  EXPECT_EQ(KMV_get_register(1, 1, &v), 0);  // the other one's handle still works

  // Back at another index: opened there under its own number with its own
  // cache; the other module keeps its handle, and each number reaches its device.
  bus().replug("KMV00001", 1);
  ASSERT_EQ(bus().index_of("KMV00001"), 1);
  EXPECT_EQ(QVUSB_reconnect_device(0), 0);
  EXPECT_EQ(kmv_regdata[0][2], 0x0007);
  EXPECT_EQ(KMV_set_register(0, 2, 0x0105), 0);
  EXPECT_EQ(KMV_set_register(1, 2, 0x0203), 0);
  EXPECT_EQ(bus().register_latch("KMV00001", 2), 0x0105);
  EXPECT_EQ(bus().register_latch("KMV00002", 2), 0x0203);

  // Back where it was: reopened, the cache kept.
  bus().unplug("KMV00001");
  bus().replug("KMV00001", 0);
  EXPECT_EQ(QVUSB_reconnect_device(0), 0);
  EXPECT_EQ(DeviceOpened(0), 1);
  EXPECT_EQ(kmv_regdata[0][2], 0x0105);
  EXPECT_EQ(usb_dev[0].connected, 1);
  EXPECT_EQ(KMV_get_register(0, 1, &v), 0);
  EXPECT_EQ(KMV_get_register(1, 1, &v), 0);

  EXPECT_EQ(QVUSB_reconnect_device(5), QVUSB_NOT_PRESENT);
  EXPECT_EQ(QVUSB_reconnect_device(-3), QVUSB_DEV_NO);
  EXPECT_EQ(QVUSBstd_reconnect_device(0), 0);
}

TEST_F(QvusbManager, GettersAndErrorTexts) {
  two_modules_and_a_plain_device();
  ASSERT_EQ(QVUSB_find_devices(5), 2);
  usb_module_record r{};
  EXPECT_EQ(QVUSB_get_device_data(2, &r), 0);
  EXPECT_STREQ(r.serial, "KMV00002");
  EXPECT_EQ(QVUSB_get_device_data(16, &r), QVUSB_DEV_NO);
  EXPECT_EQ(QVUSB_get_device_info(-1, nullptr), QVUSB_DEV_NO);
  EXPECT_EQ(QVUSB_get_init_status(16, nullptr), QVUSB_DEV_NO);
  EXPECT_EQ(QVUSB_get_init_status(0, nullptr), 0);

  const auto text = [](int16_t code, int16_t max = 64) {
    std::array<char, 80> buf;
    buf.fill('#');
    EXPECT_EQ(QVUSB_get_error_string(code, buf.data(), max), 0);
    return std::string(buf.data());
  };
  EXPECT_EQ(text(0), "no error");
  EXPECT_EQ(text(-6), "Cannot connect - device already in use");
  EXPECT_EQ(text(7), "Cannot connect device");
  EXPECT_EQ(text(-11), "parameter value out of range");
  EXPECT_EQ(text(-30), "Error ID is out of range");
  EXPECT_EQ(text(INT16_MIN), "Error ID is out of range");
  EXPECT_EQ(text(-7, 7), "Cannot");
  EXPECT_EQ(QVUSB_get_error_string(-1, nullptr, 10), 0);
  std::array<char, 4> small{'#', '#', '#', '#'};
  EXPECT_EQ(QVUSBstd_get_error_string(-1, small.data(), 0), 0);
  EXPECT_EQ(small[0], '#');
}

}  // namespace
