// The manager's kinds beside the KMV-USB module: the sync-delay boxes, the
// serial adapter and the laser module, each found, connected, driven and let go.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/qv_usb_fun.h"
#include "platform/d2xx/sim_backend.h"
#include "tests/modules/ftdi_fixture.h"
#include "tests/modules/laser_fixture.h"

namespace {

class ManagerKinds : public laser_test::LaserBase {
 protected:
  void SetUp() override {
    LaserBase::SetUp();
    ftdi_test::reset_transport_globals();
    clear_table();
    scope_ = std::make_unique<platform::d2xx::SimBusScope>(bus_);
  }
  void TearDown() override {
    for (int16_t n = 0; n < QVUSB_MAX_DEVICES; ++n)
      if (usb_dev[n].connected) QVUSB_disconnect_device(n);
    clear_table();
    ftdi_test::reset_transport_globals();
    scope_.reset();
    LaserBase::TearDown();
  }
  static void clear_table() {
    std::fill(std::begin(usb_dev), std::end(usb_dev), usb_module_record{});
    std::fill(std::begin(usb_dev_info), std::end(usb_dev_info), usb_module_info{});
    std::fill(std::begin(laser_data), std::end(laser_data), gor_module_block{});
    usb_connected_total = 0;
  }
  std::shared_ptr<sim::Bus> bus_ = std::make_shared<sim::Bus>();
  std::unique_ptr<platform::d2xx::SimBusScope> scope_;
};

TEST_F(ManagerKinds, SyncDelayBoxesOfBothWirings) {
  sim::CommandBoard &cmd = bus_->add_command_board("SDB00001", sim::BoardOptions{"FT245R USB FIFO Q&V1", 4, "SDB01"});
  sim::BitBangBoard &bb = bus_->add_bitbang_board("UMB00001", "UM232H Q&V1", 5);
  bus_->add_module("KMV00001");
  // The bit-bang box was left at 3.5 ns with its input on.
  std::vector<uint8_t> &ua = bus_->device("UMB00001")->user_area();
  ua[6] = 0x80 | 7;
  ua[15] = static_cast<uint8_t>(ua[15] - ua[6]);
  ASSERT_EQ(QVUSB_find_devices(1), 2);
  EXPECT_EQ(usb_dev[0].kind, 1);
  EXPECT_EQ(usb_dev[1].kind, 1);
  EXPECT_EQ(usb_dev[2].kind, 5);  // the module is recorded as well
  EXPECT_EQ(usb_dev_info[1].module_no, 5);
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  ASSERT_EQ(QVUSB_connect_device(1), 0);
  for (int p = 0; p < 5; ++p) EXPECT_EQ(cmd.port(p) & 0x0F, 0) << p;  // ports start at 0 (the latched pins aside)
  EXPECT_EQ(bb.latches().code(), 7);
  EXPECT_TRUE(bb.latches().active_input());
  float v = 0;
  ASSERT_EQ(QVUSB_get_parameter(1, 0, &v), 0);
  EXPECT_FLOAT_EQ(v, 3.5f);
  ASSERT_EQ(QVUSB_set_parameter(0, 0, 7.3f), 0);
  EXPECT_EQ(cmd.latches().code(), 15);
  ASSERT_EQ(QVUSB_get_parameter(0, 0, &v), 0);
  EXPECT_FLOAT_EQ(v, 7.5f);
  ASSERT_EQ(QVUSB_set_parameter(0, 1, 1.0f), 0);
  EXPECT_TRUE(cmd.latches().active_input());
  ASSERT_EQ(QVUSB_get_parameter(0, 1, &v), 0);
  EXPECT_FLOAT_EQ(v, 1.0f);
  // Let go: the changed setting goes into the user block with a fresh check byte.
  ASSERT_EQ(QVUSB_disconnect_device(0), 0);
  const std::vector<uint8_t> &stored = bus_->device("SDB00001")->user_area();
  EXPECT_EQ(stored[6], 0x80 | 15);
  int sum = 0;
  for (int i = 0; i < 16; ++i) sum += stored[i];
  EXPECT_EQ(sum & 0xFF, 0x55);
  EXPECT_EQ(DeviceOpened(0), 0);
}

TEST_F(ManagerKinds, ParameterCallsRefuseWhatDoesNotFit) {
  bus_->add_command_board("SDB00001");
  bus_->add_module("KMV00001");
  ASSERT_EQ(QVUSB_find_devices(1), 1);
  float v = 0;
  struct Case {
    int16_t number, id;
    float value;
    int16_t result;
  };
  EXPECT_EQ(QVUSB_set_parameter(0, 0, 1.0f), QVUSB_NOT_ACTIVE);
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  for (const Case c : {Case{0, 3, 0, QVUSB_BAD_PAR_ID}, Case{0, -1, 0, QVUSB_BAD_PAR_ID}, Case{0, 2, 1, QVUSB_BAD_TYPE},
                       Case{1, 0, 1, QVUSB_BAD_TYPE}, Case{0, 0, 32.0f, QVUSB_BAD_PAR_VAL},
                       Case{0, 0, -0.5f, QVUSB_BAD_PAR_VAL}, Case{0, 1, 0.5f, QVUSB_BAD_PAR_VAL},
                       Case{16, 0, 1, QVUSB_DEV_NO}}) {
    EXPECT_EQ(QVUSB_set_parameter(c.number, c.id, c.value), c.result) << c.number << " " << c.id;
    EXPECT_EQ(usb_err, c.result);
  }
  EXPECT_EQ(QVUSB_get_parameter(0, 0, nullptr), QVUSB_BAD_PAR_VAL);
  EXPECT_EQ(QVUSB_get_parameter(0, 5, &v), QVUSB_BAD_PAR_ID);
  bus_->command_board("SDB00001")->refuse_next();
  EXPECT_EQ(QVUSB_set_parameter(0, 0, 2.0f), QVUSB_WRITE);
}

TEST_F(ManagerKinds, BoardThatRefusesItsPortsIsNotLeftOpen) {
  bus_->add_command_board("SDB00001");
  ASSERT_EQ(QVUSB_find_devices(1), 1);
  // The identification passes, every other frame is refused: its ports cannot be set.
  bus_->device("SDB00001")->set_responder([](const std::vector<uint8_t> &w) {
    if (w.size() >= 2 && w[1] == 0xA7) return std::vector<uint8_t>{0x55, 'S', 'D', 'B', '0', '1'};
    return std::vector<uint8_t>{0xAA};
  });
  EXPECT_EQ(QVUSB_connect_device(0), QVUSB_WRITE);
  EXPECT_EQ(DeviceOpened(0), 0);
  EXPECT_EQ(usb_dev[0].connected, 0);
}

TEST_F(ManagerKinds, FurtherCommandStringBoard) {
  sim::CommandBoard &b = bus_->add_command_board("CSB00001", sim::BoardOptions{"DLP-245SY Q&V2", 6, "CSB02"});
  b.set_port(3, 0x5A);
  EXPECT_EQ(QVUSB_find_devices(1), 0);  // no sync-delay box
  EXPECT_EQ(usb_dev[0].kind, 2);
  EXPECT_EQ(usb_found_count[2], 1);
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  EXPECT_STREQ(Board_ID, "CSB02");
  EXPECT_EQ(b.port(3), 0);  // every port starts at 0
  float v = 0;
  EXPECT_EQ(QVUSB_get_parameter(0, 0, &v), QVUSB_BAD_TYPE);
  ASSERT_EQ(QVUSB_disconnect_device(0), 0);
  EXPECT_EQ(DeviceOpened(0), 0);
}

TEST_F(ManagerKinds, SerialAdapterIsRecordedWithItsComPort) {
  bus_->add_device("FT000001", "FT232R USB UART").set_com_port(4);
  EXPECT_EQ(QVUSB_find_devices(3), 1);
  EXPECT_EQ(usb_dev[0].kind, 4);
  EXPECT_EQ(usb_dev[0].com_port, 4);
  EXPECT_EQ(Prior_port_no, 4);
  ASSERT_EQ(QVUSB_connect_device(0), 0);
  EXPECT_EQ(QVUSB_disconnect_device(0), 0);
}

class LaserKind : public ManagerKinds {
 protected:
  void SetUp() override {
    ManagerKinds::SetUp();
    laser_ = &add_laser(5);
    // A user block in the module's EEPROM.
    std::array<uint8_t, 16> block{};
    block[2] = 9;
    prepare_QV_checksum(block.data(), 16);
    std::copy(block.begin(), block.end(), laser_->eeprom().begin());
    ASSERT_EQ(QVUSB_find_devices(2), 1);
    ASSERT_EQ(QVUSB_connect_device(8), 0);
  }
  sim::LaserModule *laser_ = nullptr;
};

TEST_F(LaserKind, FoundConnectedAndDriven) {
  const usb_module_record &r = usb_dev[8];
  EXPECT_EQ(r.kind, 3);
  EXPECT_EQ(r.device_no, 8);
  EXPECT_EQ(r.com_port, 5);
  EXPECT_STREQ(r.serial, "COM5");
  EXPECT_EQ(r.user_data_valid, 1);
  EXPECT_EQ(usb_dev_info[8].module_no, 9);
  EXPECT_EQ(usb_dev_info[8].init_status, 0);
  ASSERT_EQ(QVUSB_set_GOR_led(8, 2), 0);
  EXPECT_EQ(laser_->reg(1), 2);
  float v = 0;
  ASSERT_EQ(QVUSB_get_parameter(8, 2, &v), 0);
  EXPECT_FLOAT_EQ(v, 2.0f);
  gor_laser_block lb{100, 200, 300, 0, "red"};
  ASSERT_EQ(QVUSB_set_GOR_laser_parameters(8, 1, &lb), 0);
  EXPECT_EQ(laser_->dac(1), 100);
  EXPECT_EQ(laser_->dac(5), 200);
  EXPECT_EQ(laser_->dac(9), 300);
  ASSERT_EQ(QVUSB_switch_GOR_laser(8, 1, 1), 0);
  EXPECT_EQ(laser_->reg(GOR_RELAY_REGISTER), 0x02);
  gor_module_block all{};
  ASSERT_EQ(QVUSB_get_GORparameters(8, &all), 0);
  EXPECT_EQ(all.lasers_on, 0x02);
  EXPECT_STREQ(all.laser[1].name, "red");
  all.laser[3].power = 4000;
  all.lasers_on = 0x08;
  ASSERT_EQ(QVUSB_set_GORparameters(8, &all), 0);
  EXPECT_EQ(laser_->dac(3), 4000);
  EXPECT_EQ(laser_->reg(GOR_RELAY_REGISTER), 0x08);
  gor_laser_block back{};
  ASSERT_EQ(QVUSB_get_GOR_laser_parameters(8, 3, &back), 0);
  EXPECT_EQ(back.power, 4000);
  // Let go: the block goes into the module's EEPROM and comes back on the next connect.
  ASSERT_EQ(QVUSB_disconnect_device(8), 0);
  EXPECT_EQ(laser_->eeprom()[QVUSB_GOR_EEP_ADDRESS + 1], 0x08);
  std::fill(std::begin(laser_data), std::end(laser_data), gor_module_block{});
  ASSERT_EQ(QVUSB_connect_device(8), 0);
  ASSERT_EQ(QVUSB_get_GOR_EEP_parameters(8, &all), 0);
  EXPECT_EQ(all.laser[3].power, 4000);
  ASSERT_EQ(QVUSB_get_GORparameters(8, &all), 0);
  EXPECT_EQ(all.laser[3].power, 4000);
}

TEST_F(LaserKind, RefusalsOfTheLaserCalls) {
  gor_module_block b{};
  gor_laser_block lb{};
  EXPECT_EQ(QVUSB_get_GOR_laser_parameters(8, 4, &lb), QVUSB_BAD_PAR_VAL);
  EXPECT_EQ(QVUSB_set_GOR_laser_parameters(8, -1, &lb), QVUSB_BAD_PAR_VAL);
  EXPECT_EQ(QVUSB_set_GORparameters(8, nullptr), QVUSB_BAD_PAR_VAL);
  EXPECT_EQ(QVUSB_switch_GOR_laser(8, 4, 1), QVUSB_BAD_PAR_VAL);
  EXPECT_EQ(QVUSB_get_GORparameters(0, &b), QVUSB_BAD_TYPE);
  EXPECT_EQ(QVUSB_set_GOR_led(16, 1), QVUSB_DEV_NO);
  EXPECT_EQ(QVUSB_get_GOR_EEP_parameters(8, &b), QVUSB_WRITE);  // nothing stored yet
  ASSERT_EQ(QVUSB_disconnect_device(8), 0);
  EXPECT_EQ(QVUSB_set_GOR_led(8, 1), QVUSB_NOT_ACTIVE);
  EXPECT_EQ(QVUSB_get_GOR_EEP_parameters(8, &b), QVUSB_NOT_ACTIVE);
}

TEST_F(LaserKind, WriteFailingOnceIsTriedAgain) {
  laser_->drop_echoes(2);  // the first write of the LED mode fails
  EXPECT_EQ(QVUSB_set_GOR_led(8, 3), 0);
  EXPECT_EQ(laser_->reg(1), 3);
}

TEST_F(LaserKind, VanishedModuleIsMarkedAndCannotBeReconnected) {
  int16_t count = 0;
  ASSERT_EQ(QVUSB_test_if_active(8, &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(usb_dev[8].connected, 1);
  laser_->vanish();
  ASSERT_EQ(QVUSB_test_if_active(8, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(usb_dev[8].connected, 0);
  EXPECT_EQ(usb_dev_info[8].active, 0);
  EXPECT_EQ(QVUSB_reconnect_device(8), QVUSB_CONNECT);
  EXPECT_EQ(QVUSB_test_if_active(17, &count), QVUSB_DEV_NO);
}

TEST_F(LaserKind, ReconnectReopensThePortWhereItWas) {
  CloseDevice(8);
  EXPECT_EQ(QVUSB_reconnect_device(8), 0);
  EXPECT_EQ(DeviceOpened(8), 1);
  ASSERT_EQ(QVUSB_set_GOR_led(8, 1), 0);
  // A rescan keeps the connected module connected.
  EXPECT_EQ(QVUSB_find_devices(2), 1);
  EXPECT_EQ(usb_dev[8].connected, 1);
  EXPECT_EQ(DeviceOpened(8), 1);
}

}  // namespace
