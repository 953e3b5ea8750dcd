// Finding, classifying, opening and closing FTDI devices.
#include <gtest/gtest.h>

#include "tests/modules/ftdi_fixture.h"

namespace {

using ftdi_test::bytes;
using ftdi_test::writes;

class Discovery : public ftdi_test::SimBusTest {
 protected:
  sim::FtdiDevice &add(const std::string &serial, const std::string &descr, uint32_t type = 8) {
    return bus_->add_device(serial, descr, type);
  }
};

TEST_F(Discovery, DescriptionGivesModelClassAndModuleDigit) {
  struct Case {
    const char *descr;
    int kind;
    int cls;
    int digit;
  };
  const Case cases[] = {
      {"UM232H Q&V5", 5, 3, 5},      {"um232h q&v5", 5, 3, 0},   {"UM232H Q&VX", 5, 3, 0},
      {"UM232H Q&V", 5, 3, 0},       {"UM232H", 5, 3, 0},        {"FT245R Q&V1", 1, 1, 1},
      {"dlp-245sy Q&V2", 1, 2, 2},   {"FT232R USB UART", 5, 0, 0}, {"FT232R USB UART", 3, 4, 4},
      {"USB <-> Serial", 3, 5, 0},   {"USB <-> Serial", 5, 0, 0}, {"Q&V5 only", 5, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.descr << " kind " << c.kind);
    ftdi_test::reset_transport_globals();
    auto bus = std::make_shared<sim::Bus>();
    bus->add_device("S1", c.descr, 8);
    platform::d2xx::SimBusScope scope(bus);
    int n = -1;
    GetFtdiDevices(c.kind, &n);
    EXPECT_EQ(FTDI_Type[0], c.cls);
    EXPECT_EQ(QV_FTDI_Type[0], c.digit);
    EXPECT_STREQ(DeviceDescr[0], c.descr);
  }
}

TEST_F(Discovery, KindFiveCountsDigitFiveDevicesAndReturnsTheLast) {
  add("A", "FT232R USB UART", 5);
  bus_->add_module("K1");
  add("B", "UM232H");
  bus_->add_module("K3");
  int n = 0;
  EXPECT_EQ(GetFtdiDevices(5, &n), 3);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(kmv_dev_no, 3);
  EXPECT_EQ(ftdi_dev_no, 1);  // the first tagged device
  EXPECT_EQ(GetFtdiDevices(6, &n), -1);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(GetFtdiDevices(2, &n), -1);
  EXPECT_EQ(GetFtdiDevices(1, &n), 1);  // every class-3 device counts for kind 1
  EXPECT_EQ(n, 3);
}

TEST_F(Discovery, EarlierDigitsAreKeptUntilTheDeviceLeavesTheList) {
  bus_->add_module("K0");
  sim::FtdiDevice &d1 = add("K1", "UM232H");
  int n = 0;
  GetFtdiDevices(5, &n);
  EXPECT_EQ(QV_FTDI_Type[1], 0);  // untagged on the first scan
  d1.set_description("UM232H Q&V5");
  GetFtdiDevices(5, &n);
  EXPECT_EQ(n, 2);
  d1.set_description("UM232H");
  GetFtdiDevices(5, &n);
  EXPECT_EQ(QV_FTDI_Type[1], 5);  // kept from the earlier scan
  EXPECT_EQ(n, 2);
  bus_->unplug("K1");
  EXPECT_EQ(GetFtdiDevices(5, &n), 0);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(QV_FTDI_Type[1], 0);  // forgotten with the device
  EXPECT_STREQ(DeviceDescr[1], "");
}

TEST_F(Discovery, DeviceHeldElsewhereShowsFlagsOnly) {
  bus_->add_module("K0");
  bus_->set_held_elsewhere("K0", true);
  int n = 0;
  EXPECT_EQ(GetFtdiDevices(5, &n), -1);
  EXPECT_EQ(n, 0);
  int flags = 0;
  unsigned int type = 99, id = 99;
  char serial[16] = "x", descr[64] = "x";
  ASSERT_EQ(GetDeviceInfo(0, &flags, &type, &id, serial, descr), 0);
  EXPECT_EQ(flags & FT_FLAGS_OPENED, 1);
  EXPECT_EQ(type, 0u);
  EXPECT_STREQ(serial, "");
  EXPECT_STREQ(descr, "");
  EXPECT_EQ(OpenDevice(0, 0), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(FTDIHandle[0], nullptr);
  EXPECT_EQ(DeviceOpened(0), 0);
}

TEST_F(Discovery, DeviceInfoOfAListedDevice) {
  bus_->add_module("KMV00042");
  int n = 0;
  GetFtdiDevices(5, &n);
  int flags = -5;
  unsigned int type = 0, id = 0;
  char serial[16] = {}, descr[64] = {};
  ASSERT_EQ(GetDeviceInfo(0, &flags, &type, &id, serial, descr), 0);
  EXPECT_EQ(flags & FT_FLAGS_OPENED, 0);
  EXPECT_EQ(type, 8u);
  EXPECT_EQ(id, 0x04036014u);
  EXPECT_STREQ(serial, "KMV00042");
  EXPECT_STREQ(descr, "UM232H Q&V5");
  ASSERT_EQ(OpenDevice(0, 1), 0);
  ASSERT_EQ(GetDeviceInfo(0, &flags, &type, &id, serial, descr), 0);
  EXPECT_EQ(flags & FT_FLAGS_OPENED, 1);  // open by us, still with its data
  EXPECT_STREQ(serial, "KMV00042");
}

TEST_F(Discovery, NumbersOutsideTheListAreRefused) {
  bus_->add_module("K0");
  int n = 0;
  GetFtdiDevices(5, &n);
  int flags = 0;
  unsigned int type = 0, id = 0;
  char serial[16], descr[64];
  for (int dev : {-1, 1, 7, 8, 16}) {
    SCOPED_TRACE(dev);
    flags = 0;
    EXPECT_EQ(GetDeviceInfo(dev, &flags, &type, &id, serial, descr), -1);
    EXPECT_EQ(flags, -1);
  }
  for (int dev : {-1, 8, 15, 16, 1000}) {
    SCOPED_TRACE(dev);
    EXPECT_EQ(OpenDevice(dev, 0), -1);
    EXPECT_EQ(CloseDevice(dev), -1);
    EXPECT_EQ(DeviceOpened(dev), 0);
    EXPECT_EQ(GetComPortNumber(dev), 0);
  }
  EXPECT_EQ(CloseDevice(0), -1);  // not open
  EXPECT_EQ(OpenDevice(3, 0), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FTDIHandle[3], nullptr);
}

TEST_F(Discovery, LongDescriptionsAreCutToTheirFields) {
  const std::string longer(80, 'D');
  add("S", "UM232H Q&V5 " + longer);
  int n = 0;
  GetFtdiDevices(5, &n);
  EXPECT_EQ(strlen(DeviceDescr[0]), 63u);
  EXPECT_EQ(QV_FTDI_Type[0], 5);
  char serial[16], descr[64];
  int flags;
  unsigned int type, id;
  ASSERT_EQ(GetDeviceInfo(0, &flags, &type, &id, serial, descr), 0);
  EXPECT_EQ(strlen(descr), 63u);
}

TEST_F(Discovery, ExtendedScanCountsWithoutTouchingTheGlobals) {
  bus_->add_module("K0");
  add("X", "FT232R USB UART", 5);
  bus_->add_module("K2");
  int n = 0;
  char serial[16] = "stale";
  kmv_dev_no = -7;
  EXPECT_EQ(GetFtdiDevicesExt(5, &n, serial), 0);
  EXPECT_EQ(n, 2);
  EXPECT_STREQ(serial, "K2");
  EXPECT_EQ(kmv_dev_no, -7);
  EXPECT_EQ(QV_FTDI_Type[0], 0);
  EXPECT_EQ(GetFtdiDevicesExt(6, &n, serial), 0);
  EXPECT_EQ(n, 0);
  EXPECT_STREQ(serial, "");
  EXPECT_EQ(GetFtdiDevicesExt(2, &n, serial), -1);
}

TEST_F(Discovery, SerialAdapterScanOpensAndClosesIt) {
  add("P", "FT232R USB UART", 5);
  int n = 0;
  EXPECT_EQ(GetFtdiDevices(3, &n), 0);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(num_prior_devs, 1);
  EXPECT_EQ(QV_FTDI_Type[0], 4);
  EXPECT_EQ(Prior_port_no, 0);  // no serial port behind libftdi or the simulator
  EXPECT_FALSE(bus_->device("P")->is_open());
}

class OpenModule : public ftdi_test::SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    module_ = &bus_->add_module("KMV00001");
    device_ = bus_->device("KMV00001");
    int n = 0;
    ASSERT_EQ(GetFtdiDevices(5, &n), 0);
  }
  int sync_writes() {
    int n = 0;
    for (const auto &w : writes(*device_)) n += w == bytes({0xAA});
    return n;
  }
  sim::KmvModule *module_ = nullptr;
  sim::FtdiDevice *device_ = nullptr;
};

TEST_F(OpenModule, SetsUpMpsseForI2c) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  std::vector<std::string> ops;
  for (const auto &c : device_->calls())
    if (c.op != "queue") ops.push_back(c.op);
  EXPECT_EQ(ops, (std::vector<std::string>{"open", "reset", "usbparams", "chars", "timeouts", "latency", "bitmode",
                                           "bitmode", "write", "read", "write", "write", "write"}));
  const auto w = writes(*device_);
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], bytes({0xAA}));
  EXPECT_EQ(w[1], bytes({0x8A, 0x97, 0x8D}));
  EXPECT_EQ(w[2], bytes({0x80, 0xFF, 0xFB, 0x82, 0xFF, 0x01, 0x86, 0x95, 0x00}));
  EXPECT_EQ(w[3], bytes({0x85}));
  for (const auto &c : device_->calls()) {
    if (c.op == "read") {
      EXPECT_EQ(c.data, bytes({0xFA, 0xAA}));
    }
  }
  EXPECT_EQ(device_->bit_mode(), FT_BITMODE_MPSSE);
  EXPECT_EQ(device_->clock_divisor(), 0x0095);
  EXPECT_EQ(device_->latency_ms(), 16);
  EXPECT_EQ(device_->read_timeout_ms(), 5000u);
  EXPECT_TRUE(device_->acbus0());
  EXPECT_EQ(DeviceOpened(0), 1);
  EXPECT_EQ(GetComPortNumber(0), 0);
}

TEST_F(OpenModule, KeepDecidesWhetherTheRegisterCacheStartsAfresh) {
  kmv_regdata[0][5] = 123;
  ASSERT_EQ(OpenDevice(0, 1), 0);
  EXPECT_EQ(kmv_regdata[0][5], 123);
  EXPECT_EQ(kmv_regdata[0][1], 0);
  // Opening an open device closes it first, and keep = 0 starts afresh.
  device_->clear_calls();
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_NE(FTDIHandle[0], nullptr);
  ASSERT_GE(device_->calls().size(), 2u);
  EXPECT_EQ(device_->calls()[0].op, "close");
  EXPECT_EQ(device_->calls()[1].op, "open");
  EXPECT_EQ(kmv_regdata[0][5], 0);
  EXPECT_EQ(kmv_regdata[0][1], 0xEF00);
  EXPECT_EQ(CloseDevice(0), 0);
  EXPECT_EQ(FTDIHandle[0], nullptr);
  EXPECT_EQ(kmv_regdata[0][1], 0xEF00);  // closing leaves the cache
}

TEST_F(OpenModule, SyncIsTriedThreeTimes) {
  struct Case {
    sim::FtdiDevice::BadCommandReply reply;
    int withheld;
    int result;
  };
  const Case cases[] = {
      {sim::FtdiDevice::BadCommandReply::None, 0, 1},
      {sim::FtdiDevice::BadCommandReply::FaOnly, 0, 1},
      {sim::FtdiDevice::BadCommandReply::Normal, 4, 0},  // the first two echoes are lost
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.withheld);
    CloseDevice(0);
    device_->clear_calls();
    device_->set_bad_command_reply(c.reply);
    device_->withhold_replies(c.withheld);
    const double t0 = platform::clock::now();
    EXPECT_EQ(OpenDevice(0, 0), c.result);
    EXPECT_EQ(sync_writes(), 3);
    EXPECT_GE(platform::clock::now() - t0, 0.010 + 3 * 0.005);
    device_->set_bad_command_reply(sim::FtdiDevice::BadCommandReply::Normal);
  }
}

TEST_F(OpenModule, SetupStatusesAreCombined) {
  device_->fail_next_calls("latency", FT_IO_ERROR, 3);
  EXPECT_EQ(OpenDevice(0, 0), 4);
  EXPECT_EQ(sync_writes(), 0);
  device_->fail_next_calls("timeouts", FT_INVALID_PARAMETER, 1);
  device_->fail_next_calls("chars", FT_IO_ERROR, 1);
  EXPECT_EQ(Configure_MPSSE_for_I2C(0), 6 | 4);
  EXPECT_EQ(Configure_MPSSE_for_I2C(0), 0);
  QV_FTDI_Type[0] = 3;
  EXPECT_EQ(Configure_MPSSE_for_I2C(0), -1);
  EXPECT_EQ(Configure_MPSSE_for_I2C(8), -1);
}

TEST_F(OpenModule, UnpluggedAndReplugged) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  ASSERT_EQ(KMV_set_register(0, 0, 0x0F0F), 0);
  bus_->unplug("KMV00001");
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), FT_IO_ERROR);
  bus_->replug("KMV00001", 0, true);
  EXPECT_EQ(module_->register_latch(0), 0xFFFF);  // power was lost
  int n = 0;
  char serial[16];
  ASSERT_EQ(GetFtdiDevicesExt(5, &n, serial), 0);
  EXPECT_STREQ(serial, "KMV00001");
  ASSERT_EQ(OpenDevice(0, 1), 0);
  EXPECT_EQ(kmv_regdata[0][0], 0x0F0F);
  ASSERT_EQ(KMV_set_register(0, 0, kmv_regdata[0][0]), 0);
  EXPECT_EQ(module_->register_latch(0), 0x0F0F);
}

TEST_F(Discovery, UserAreaBlock) {
  bus_->add_module("K0", sim::ModuleOptions{"UM232H Q&V5", 0x0102, true});
  int n = 0;
  GetFtdiDevices(5, &n);
  char block[16] = {};
  int count = 16;
  EXPECT_EQ(ReadUserEEprom(0, &count, block), 0);
  EXPECT_EQ(count, 0);  // closed: no size
  ASSERT_EQ(OpenDevice(0, 1), 0);
  count = 16;
  ASSERT_EQ(ReadUserEEprom(0, &count, block), 0);
  EXPECT_EQ(count, 16);
  EXPECT_EQ(block[2], 0x02);
  EXPECT_EQ(block[3], 0x01);
  EXPECT_EQ(test_QV_checksum(reinterpret_cast<unsigned char *>(block), 16), 0);
  char big[200];
  count = 200;
  ASSERT_EQ(ReadUserEEprom(0, &count, big), 0);
  EXPECT_EQ(count, static_cast<int>(bus_->device("K0")->user_area().size()));  // at most the area
  count = 0;
  EXPECT_EQ(ReadUserEEprom(0, &count, block), -1);
  count = 16;
  EXPECT_EQ(ReadUserEEprom(0, &count, nullptr), 0);
  EXPECT_EQ(count, 0);
  bus_->device("K0")->fail_next_calls("ua_size", FT_EEPROM_READ_FAILED);
  count = 16;
  EXPECT_EQ(ReadUserEEprom(0, &count, block), 0);
  EXPECT_EQ(count, 0);
  bus_->device("K0")->fail_next_calls("ua_read", FT_EEPROM_READ_FAILED);
  count = 16;
  EXPECT_EQ(ReadUserEEprom(0, &count, block), FT_EEPROM_READ_FAILED);
  EXPECT_EQ(count, 0);
}

TEST_F(Discovery, CommandStringBoardIsAskedForItsIdentification) {
  sim::FtdiDevice &d = add("B", "FT245R Q&V1", 5);
  std::vector<std::vector<uint8_t>> frames;
  d.set_responder([&](const std::vector<uint8_t> &w) {
    frames.push_back(w);
    return bytes({0x55, 'S', 'D', 'B', '0', '4'});
  });
  int n = 0;
  ASSERT_EQ(GetFtdiDevices(1, &n), 0);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], bytes({0x01, 0xA7, 0xA6}));
  EXPECT_STREQ(Board_ID, "SDB04");
  frames.clear();
  ASSERT_EQ(OpenDevice(0, 1), 0);  // for inspection: no identification
  EXPECT_TRUE(frames.empty());
}

TEST_F(Discovery, CommandStringFramesAndAnswers) {
  sim::FtdiDevice &d = add("B", "FT245R Q&V1", 5);
  std::vector<uint8_t> answer = bytes({0x55});
  std::vector<std::vector<uint8_t>> frames;
  d.set_responder([&](const std::vector<uint8_t> &w) {
    frames.push_back(w);
    return answer;
  });
  int n = 0;
  GetFtdiDevices(1, &n);
  ASSERT_EQ(OpenDevice(0, 1), 0);
  const char port_write[2] = {0x5A, 0x3C};
  EXPECT_EQ(USB_SendCommandString(0, port_write, 2), 0);
  EXPECT_EQ(frames.back(), bytes({0x02, 0x5A, 0x3C, 0x64}));
  EXPECT_EQ(d.read_timeout_ms(), 1000u);
  answer = bytes({0xAA});
  EXPECT_EQ(USB_SendCommandString(0, port_write, 2), -2);
  answer.clear();
  const double t0 = platform::clock::now();
  EXPECT_EQ(USB_SendCommandString(0, port_write, 2), -1);
  EXPECT_GE(platform::clock::now() - t0, 1.0);
  char id[6];
  EXPECT_EQ(USB_GetBoardId(0, id), -1);
  answer = bytes({0x55, 'A', 'B'});  // identification cut short
  EXPECT_EQ(USB_GetBoardId(0, id), -3);
  CloseDevice(0);
  EXPECT_EQ(USB_SendCommandString(0, port_write, 2), 1);  // no handle
}

TEST_F(Discovery, SilentBoardIsCycledAndOpenedAgain) {
  sim::FtdiDevice &d = add("B", "FT245R", 5);
  int n = 0;
  GetFtdiDevices(1, &n);
  const double t0 = platform::clock::now();
  d.fail_next_calls("open", FT_DEVICE_NOT_OPENED, 1);
  EXPECT_EQ(OpenDevice(0, 0), FT_DEVICE_NOT_OPENED);  // a failed first open is returned
  EXPECT_EQ(FTDIHandle[0], nullptr);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_NE(FTDIHandle[0], nullptr);
  int cycles = 0;
  for (const auto &c : d.calls()) cycles += c.op == "cycle";
  EXPECT_EQ(cycles, 1);
  EXPECT_GE(platform::clock::now() - t0, 1.0);
  EXPECT_TRUE(d.is_open());
}

TEST_F(Discovery, SilentBoardThatNeverComesBackLeavesNoHandle) {
  sim::FtdiDevice &d = add("B", "FT245R", 5);
  int n = 0;
  GetFtdiDevices(1, &n);
  // The identification gets no answer, and after the port cycle every open fails.
  d.set_responder([&](const std::vector<uint8_t> &) {
    d.fail_next_calls("open", FT_DEVICE_NOT_OPENED, -1);
    return std::vector<uint8_t>{};
  });
  const double t0 = platform::clock::now();
  EXPECT_EQ(OpenDevice(0, 0), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(FTDIHandle[0], nullptr);
  EXPECT_EQ(DeviceOpened(0), 0);
  EXPECT_GE(platform::clock::now() - t0, 10.0);
  int opens = 0;
  for (const auto &c : d.calls()) opens += c.op == "open";
  EXPECT_EQ(opens, 11);
}

TEST_F(Discovery, BitBangBoardIsProbed) {
  sim::FtdiDevice &d = add("U", "UM232H Q&V2");
  int n = 0;
  GetFtdiDevices(1, &n);
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_EQ(writes(d), (std::vector<std::vector<uint8_t>>{bytes({0xFF}), bytes({0x80}), bytes({0x7F}), bytes({0x00})}));
  EXPECT_EQ(UM232PortVal[0], 0x00);
  EXPECT_EQ(UM232PortVal[1], 0x80);
  d.set_stuck_low(0x01);
  EXPECT_EQ(OpenDevice(0, 0), 10);
  d.set_stuck_low(0x00);
  d.short_next_write(0);
  EXPECT_EQ(OpenDevice(0, 0), 10);
}

TEST(QvusbMode, ModesAboveSixAreIgnored) {
  Set_QVUSB_mode(4, 1);
  EXPECT_EQ(QVUSB_mode, 4);
  EXPECT_EQ(QV_show_debug_msg, 1);
  Set_QVUSB_mode(7, 0);
  EXPECT_EQ(QVUSB_mode, 4);
  Set_QVUSB_mode(0, 0);
}

}  // namespace
