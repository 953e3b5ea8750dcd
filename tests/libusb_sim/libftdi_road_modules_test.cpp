// The whole module library on the system's libftdi1: two modules started from
// an ini file, an unplug and a replug, the FTDI chip's own EEPROM.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/qv_usb_fun.h"
#include "platform/d2xx/eeprom_layout.h"
#include "platform/d2xx/ftd2xx.h"
#include "platform/win/clock.h"
#include "tests/libusb_sim/libftdi_road_fixture.h"
#include "tests/modules/program_data.h"
#include "tests/testsupport/testsupport.h"

namespace {

constexpr const char *kIni =
    "[KMVUSB_BASE]\n"
    "SIMULATION_USB = 0\n"
    "[KMVUSB_MODULE1]\n"
    "KMVUSB_ACTIVE = 1\n"
    "C1U_P5V = 1\n"
    "C1U_GAIN_HV = 75.5\n"
    "C1U_COOLING = 1\n"
    "C1U_COOLVOLT = 2.5\n"
    "C1U_COOLCURR = 1.0\n"
    "[KMVUSB_MODULE2]\n"
    "KMVUSB_ACTIVE = 1\n"
    "C2U_COOLING = 1\n"
    "C2U_COOLVOLT = 4\n";

class TwoModules : public roadtest::LibftdiRoad {
 protected:
  void SetUp() override {
    roadtest::LibftdiRoad::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    start_two_modules(kIni);
  }
};

TEST_F(TwoModules, TheIniFileStartsBothModules) {
  for (int16_t m : {0, 1}) {
    KMVUSBModuleInfo info{};
    ASSERT_EQ(KMVUSB_get_module_info(m, &info), 0);
    EXPECT_EQ(info.init_status, 0) << m;
    EXPECT_EQ(info.connected, 1) << m;
  }
  EXPECT_STREQ(kmvusb_mod[0].serial_no, "KM0010");
  EXPECT_STREQ(kmvusb_mod[1].serial_no, "KM0020");
  EXPECT_EQ(int32_t{kmvusb_priv[0].device_no}, 1);
  EXPECT_EQ(kmvusb_priv[0].hv_limit[0], 80);
  EXPECT_EQ(latch("FTA", 2) & 0x00FF, 0x0001);
  EXPECT_EQ(dac("FTA", 0), 2048);
  EXPECT_EQ(dac("FTA", 8), 2048);
  EXPECT_EQ(latch("FTB", 2) & 0x00FF, 0x0002);
  EXPECT_EQ(dac("FTB", 1), 819);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  EXPECT_EQ(dac("FTA", 4), 3092);
  EXPECT_TRUE(bus().module("FTA")->bus().violations().empty());
  EXPECT_TRUE(bus().module("FTB")->bus().violations().empty());
  // Both chips are held by this program only.
  EXPECT_EQ(usb().claimed_interfaces(), 2);
}

TEST_F(TwoModules, AnUnpluggedModuleFailsAndComesBackWithAReconnect) {
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  const uint16_t supplies = latch("FTA", 0);
  bus().unplug("FTA");
  int16_t state = 0;
  EXPECT_EQ(KMVUSB_get_overload_state(0, &state), KMV_ERR_USB);
  EXPECT_EQ(KMVUSB_get_overload_state(1, &state), 0);  // the other one works on
  EXPECT_EQ(KMVUSB_reconnect(0), KMV_CONNECT_USB_MOD);

  bus().replug("FTA", -1, true);  // it lost its power meanwhile
  ASSERT_EQ(KMVUSB_reconnect(0), 0);
  int16_t status = -1;
  ASSERT_EQ(KMVUSB_get_init_status(0, &status), 0);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(KMVUSB_enable_outputs(0, 0, 1), 0);
  EXPECT_EQ(dac("FTA", 4), 3092);
  EXPECT_EQ(latch("FTA", 0), supplies);
  ASSERT_EQ(KMVUSB_get_overload_state(0, &state), 0);
  EXPECT_EQ(state, 0);
  // The vanished chip's handle was let go; the new one is the only claim on it.
  EXPECT_EQ(usb().claimed_interfaces(), 2);
}

TEST_F(TwoModules, CloseLetsTheChipsGo) {
  EXPECT_EQ(KMVUSB_close(), 2);
  EXPECT_FALSE(bus().device("FTA")->is_open());
  EXPECT_FALSE(bus().device("FTB")->is_open());
  EXPECT_EQ(usb().claimed_interfaces(), 0);
  EXPECT_EQ(usb().open_handles(), 0);
}

class ChipEeprom : public roadtest::LibftdiRoad {};

TEST_F(ChipEeprom, UserAreaHoldsTheModuleBlock) {
  sim::ModuleOptions o;
  o.number = 0x0203;
  bus().add_module("KMVA", o);
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  FT_HANDLE h = nullptr;
  ASSERT_EQ(FT_Open(0, &h), FT_OK);
  DWORD size = 0;
  ASSERT_EQ(FT_EE_UASize(h, &size), FT_OK);
  const std::vector<uint8_t> &ua = bus().device("KMVA")->user_area();
  EXPECT_GE(size, 16u);
  EXPECT_LE(size, ua.size());
  std::array<UCHAR, 16> block{};
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h, block.data(), 16, &got), FT_OK);
  EXPECT_EQ(got, 16u);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), ua.begin()));
  EXPECT_EQ(block[2], 0x03);
  EXPECT_EQ(block[3], 0x02);
  EXPECT_EQ(FT_Close(h), FT_OK);

  int count = 0;
  char data[16] = {};
  ASSERT_EQ(GetFtdiDevices(5, &count), 0);
  ASSERT_EQ(OpenDevice(0, 1), 0);
  count = 16;
  ASSERT_EQ(ReadUserEEprom(0, &count, data), 0);
  EXPECT_EQ(count, 16);
  EXPECT_EQ(static_cast<uint8_t>(data[2]), 0x03);
}

TEST_F(ChipEeprom, DeviceHeldByAnotherProgramShowsFlagsOnly) {
  bus().add_module("KMVA");
  bus().add_module("KMVB").bus();
  bus().set_held_elsewhere("KMVB", true);
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(n, 2u);
  FT_DEVICE_LIST_INFO_NODE nodes[2] = {};
  ASSERT_EQ(FT_GetDeviceInfoList(nodes, &n), FT_OK);
  EXPECT_STREQ(nodes[0].SerialNumber, "KMVA");
  EXPECT_EQ(nodes[1].Flags & FT_FLAGS_OPENED, DWORD{FT_FLAGS_OPENED});
  EXPECT_STREQ(nodes[1].SerialNumber, "");
  FT_HANDLE h = nullptr;
  EXPECT_EQ(FT_Open(1, &h), FT_DEVICE_NOT_OPENED);
  int count = 0;
  EXPECT_EQ(GetFtdiDevices(5, &count), 0);
  EXPECT_EQ(count, 1);
}

// The product record and the user area through libftdi's EEPROM requests.
TEST_F(ChipEeprom, ProductRecordAndUserAreaRoundTrip) {
  bus().add_module("KMVA", sim::ModuleOptions{"UM232H Q&V5", 7, true});
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  FT_HANDLE h = nullptr;
  ASSERT_EQ(FT_Open(0, &h), FT_OK);
  ftdi_test::ProgramData record;
  FT_PROGRAM_DATA &p = record.data;
  auto &description = record.description;
  auto &serial = record.serial;
  ASSERT_EQ(FT_EE_Read(h, &p), FT_OK);
  EXPECT_STREQ(description.data(), "UM232H Q&V5");
  EXPECT_STREQ(serial.data(), "KMVA");
  EXPECT_EQ(p.ProductId, 0x6014);

  DWORD size = 0;
  ASSERT_EQ(FT_EE_UASize(h, &size), FT_OK);
  std::vector<UCHAR> user(size);
  for (DWORD i = 0; i < size; ++i) user[i] = static_cast<UCHAR>(i * 7);
  ASSERT_EQ(FT_EE_UAWrite(h, user.data(), size), FT_OK);
  std::snprintf(description.data(), description.size(), "%s", "UM232H Q&V6");
  ASSERT_EQ(FT_EE_Program(h, &p), FT_OK);
  std::vector<UCHAR> back(size);
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h, back.data(), size, &got), FT_OK);
  EXPECT_EQ(back, user);
  EXPECT_TRUE(platform::d2xx::eeprom_layout::checksum_ok(bus().device("KMVA")->eeprom_image()));

  // The chip shows its new strings once it has enumerated again.
  ASSERT_EQ(FT_CyclePort(h), FT_OK);
  EXPECT_EQ(FT_Close(h), FT_OK);
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  FT_DEVICE_LIST_INFO_NODE node{};
  ASSERT_EQ(FT_GetDeviceInfoList(&node, &n), FT_OK);
  EXPECT_STREQ(node.Description, "UM232H Q&V6");
}

// The kernel's serial driver is detached from a chip only while this program
// holds it: a module's port, and the port of an unrelated FTDI cable that a
// scan opened for a moment, come back once the chip is let go.
class SerialDriver : public roadtest::LibftdiRoad {};

TEST_F(SerialDriver, DetachedFromAModuleOnlyWhileItIsOpen) {
  add_module("KMVA", 1, "KMV-USB-1", "KM0001");
  EXPECT_TRUE(usb().kernel_driver_bound("KMVA"));
  int count = 0;
  ASSERT_EQ(GetFtdiDevices(5, &count), 0);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_FALSE(usb().kernel_driver_bound("KMVA"));
  ASSERT_EQ(CloseDevice(0), 0);
  EXPECT_TRUE(usb().kernel_driver_bound("KMVA"));
  // The manager's scan opens it for a look and lets it go.
  ASSERT_EQ(QVUSB_find_devices(5), 1);
  EXPECT_TRUE(usb().kernel_driver_bound("KMVA"));
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  EXPECT_FALSE(usb().kernel_driver_bound("KMVA"));
  ASSERT_EQ(QVUSB_disconnect_device(0), 0);
  EXPECT_TRUE(usb().kernel_driver_bound("KMVA"));
}

TEST_F(SerialDriver, SerialAdapterScanGivesTheCableItsPortBack) {
  bus().add_device("FT232R", "FT232R USB UART", FT_DEVICE_232R);
  int count = 0;
  EXPECT_EQ(GetFtdiDevices(3, &count), 0);
  EXPECT_EQ(count, 1);  // opened for its port number, and closed
  const auto &calls = bus().device("FT232R")->calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const sim::D2xxCall &c) { return c.op == "open"; }));
  EXPECT_FALSE(bus().device("FT232R")->is_open());
  EXPECT_TRUE(usb().kernel_driver_bound("FT232R"));
}

// A chip that enumerated again (its EEPROM programmed, its port cycled) is a
// new device to libusb; the list index still names it and opens it at once.
class Reenumerated : public roadtest::LibftdiRoad {};

TEST_F(Reenumerated, NewDescriptionAndTheChipOpenAgainAtOnce) {
  bus().add_module("KMVA", sim::ModuleOptions{"UM232H Q&V5", 7, true});
  int count = 0;
  ASSERT_EQ(GetFtdiDevices(5, &count), 0);
  ASSERT_EQ(OpenDevice(0, 1), 0);
  const double t0 = platform::clock::now();
  ASSERT_EQ(Change_Device_Description(0, " Q&V6"), 0);
  EXPECT_LT(platform::clock::now() - t0, 1.5);  // the first reopen, 1 s after the cycle
  EXPECT_EQ(DeviceOpened(0), 1);
  EXPECT_TRUE(bus().device("KMVA")->is_open());
  EXPECT_EQ(usb().claimed_interfaces(), 1);
  char description[FTDI_DESCR_LEN] = {};
  ASSERT_EQ(FT_GetDeviceInfo(FTDIHandle[0], nullptr, nullptr, nullptr, description, nullptr), FT_OK);
  EXPECT_STREQ(description, "UM232H Q&V6");
}

TEST_F(Reenumerated, BoardWithoutIdentificationIsCycledAndOpenedAgainAtOnce) {
  sim::CommandBoard &board = bus().add_command_board("SDB00001", sim::BoardOptions{"FT245R USB FIFO Q&V1", 3, "SDB42"});
  int count = 0;
  GetFtdiDevices(1, &count);
  ASSERT_EQ(FTDI_Type[0], 1);
  board.stay_silent_next();
  const double t0 = platform::clock::now();
  EXPECT_EQ(OpenDevice(0, 0), 0);
  EXPECT_LT(platform::clock::now() - t0, 2.5);  // the identification's time-out, then one reopen
  EXPECT_EQ(DeviceOpened(0), 1);
  const auto &calls = bus().device("SDB00001")->calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const sim::D2xxCall &c) { return c.op == "cycle"; }));
  EXPECT_EQ(usb().claimed_interfaces(), 1);
  EXPECT_EQ(USB_PortWrite(0, 2, 0x3C), 0);
  EXPECT_EQ(board.port(2), 0x3C);
}

// An index whose device is gone for good opens nothing, not even the device
// that comes first in a fresh list; the other indexes keep their devices.
TEST_F(Reenumerated, AnIndexWhoseDeviceLeftOpensNothing) {
  bus().add_module("KMVA");
  bus().add_module("KMVB");
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(n, 2u);
  bus().unplug("KMVA");
  FT_HANDLE h = nullptr;
  EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, nullptr);
  EXPECT_FALSE(bus().device("KMVB")->is_open());
  ASSERT_EQ(FT_Open(1, &h), FT_OK);
  EXPECT_TRUE(bus().device("KMVB")->is_open());
  EXPECT_EQ(FT_Close(h), FT_OK);
}

}  // namespace
