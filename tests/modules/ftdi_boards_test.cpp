// Command strings, bit-bang ports, the sync-delay box, the product EEPROM and
// LED2, against the simulated boards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "modules/qv_usb_fun.h"
#include "tests/modules/ftdi_fixture.h"

namespace {

using ftdi_test::bytes;
using ftdi_test::SimBusTest;
using Bytes = std::vector<uint8_t>;

// A command-string board at index 0, opened as the manager connects it.
class CommandBoardTest : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    board_ = &bus_->add_command_board("SDB00001", sim::BoardOptions{"FT245R USB FIFO Q&V1", 3, "SDB42"});
    int n = 0;
    GetFtdiDevices(1, &n);
    ASSERT_EQ(FTDI_Type[0], 1);
    ASSERT_EQ(OpenDevice(0, 0), 0);
  }
  sim::CommandBoard *board_ = nullptr;
};

TEST_F(CommandBoardTest, OpenReadsTheBoardIdentification) {
  EXPECT_STREQ(Board_ID, "SDB42");
  ASSERT_EQ(board_->frames().size(), 1u);
  EXPECT_EQ(board_->frames()[0], bytes({0x01, 0xA7, 0xA6}));
  char id[6] = {};
  EXPECT_EQ(USB_GetBoardId(0, id), 0);
  EXPECT_STREQ(id, "SDB42");
}

TEST_F(CommandBoardTest, EveryCommandFramedWithItsCheck) {
  board_->set_port(3, 0x81);
  struct Case {
    const char *what;
    std::function<int()> call;
    Bytes frame;
  };
  char value = 0;
  const std::vector<Case> cases = {
      {"port 2 <- 3C", [] { return USB_PortWrite(0, 2, 0x3C); }, bytes({0x02, 0x5A, 0x3C, 0x64})},
      {"port 3 read", [&] { return USB_PortRead(0, 3, &value); }, bytes({0x01, 0x5B, 0x5A})},
      {"pin 4.7 <- 1", [] { return USB_PinWrite(0, 4, 7, 1); }, bytes({0x03, 0xA6, 0xE7, 0x01, 0x43})},
      {"pin 3.7 read", [&] { return USB_PinRead(0, 3, 7, &value); }, bytes({0x02, 0xA5, 0xD7, 0x70})},
      {"pin 0.0 <- 0", [] { return USB_PinWrite(0, 0, 0, 0); }, bytes({0x03, 0xA6, 0xA0, 0x00, 0x05})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = board_->frames().size();
    EXPECT_EQ(c.call(), 0);
    ASSERT_EQ(board_->frames().size(), before + 1);
    EXPECT_EQ(board_->frames().back(), c.frame);
  }
  EXPECT_EQ(board_->port(2), 0x3C);
  EXPECT_EQ(board_->port(4), 0x80);
  EXPECT_EQ(value, 1);  // pin 3.7 of 0x81
  EXPECT_EQ(USB_PortRead(0, 3, &value), 0);
  EXPECT_EQ(static_cast<uint8_t>(value), 0x81);
}

TEST_F(CommandBoardTest, FaultsAndArgumentsOutOfRange) {
  char value = 0;
  board_->refuse_next();
  EXPECT_EQ(USB_PortWrite(0, 1, 5), -2);
  board_->stay_silent_next();
  EXPECT_EQ(USB_PortWrite(0, 1, 5), -1);
  board_->drop_data_next();
  EXPECT_EQ(USB_PortRead(0, 1, &value), -3);
  board_->drop_data_next();
  EXPECT_EQ(USB_PinRead(0, 1, 1, &value), -3);
  bus_->device("SDB00001")->fail_next_writes(FT_IO_ERROR);
  EXPECT_EQ(USB_PortWrite(0, 1, 5), static_cast<int>(FT_IO_ERROR));
  EXPECT_EQ(USB_PortWrite(0, 5, 0), -4);
  EXPECT_EQ(USB_PortRead(0, -1, &value), -4);
  EXPECT_EQ(USB_PinWrite(0, 0, 8, 1), -5);
  EXPECT_EQ(USB_PinRead(0, 5, 0, &value), -4);
  EXPECT_EQ(USB_PortWrite(1, 0, 0), 1);  // no handle
  EXPECT_EQ(USB_SendCommandString(0, "x", -1), -1);
  // The board is fine after all this.
  EXPECT_EQ(USB_PortWrite(0, 1, 5), 0);
  EXPECT_EQ(board_->port(1), 5);
}

TEST_F(CommandBoardTest, BoardWithoutIdentificationIsCycledAndReopened) {
  CloseDevice(0);
  board_->stay_silent_next();
  const double t0 = platform::clock::now();
  EXPECT_EQ(OpenDevice(0, 0), 0);
  EXPECT_EQ(DeviceOpened(0), 1);
  EXPECT_GE(platform::clock::now() - t0, 1.0);  // waited for it to enumerate again
  const auto &calls = bus_->device("SDB00001")->calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const sim::D2xxCall &c) { return c.op == "cycle"; }));
}

// The sync-delay box behind either wiring.
struct DelayCase {
  double request;
  float previous;
  int code;
};
const DelayCase kDelayCases[] = {
    {0, 0, 0}, {-1, 0, 0}, {31.5, 0, 63}, {40, 0, 63}, {31.4, 0, 63}, {7.3, 5, 15},
    {7.3, 10, 14}, {0.52, 0, 1}, {0.53, 0, 2}, {16, 0, 32},
};

TEST_F(CommandBoardTest, SyncDelaySetsTheLatches) {
  usb_module_record rec{};
  rec.device_no = 0;
  for (const DelayCase &c : kDelayCases) {
    SCOPED_TRACE(c.request);
    rec.sync_delay = c.previous;
    rec.user_block[6] = static_cast<char>(0x80);
    double ns = c.request;
    ASSERT_EQ(SetSyncDelay(&ns, &rec), 0);
    EXPECT_EQ(board_->latches().code(), c.code);
    EXPECT_DOUBLE_EQ(ns, c.code * 0.5);
    EXPECT_FLOAT_EQ(rec.sync_delay, static_cast<float>(c.code * 0.5));
    EXPECT_EQ(static_cast<uint8_t>(rec.user_block[6]), 0x80 | c.code);  // the input bit kept
  }
  ASSERT_EQ(SetActiveInput(1, &rec), 0);
  EXPECT_TRUE(board_->latches().active_input());
  ASSERT_EQ(SetActiveInput(0, &rec), 0);
  EXPECT_FALSE(board_->latches().active_input());
  EXPECT_EQ(rec.user_block[6] & 0x80, 0);
}

TEST_F(CommandBoardTest, FailedLineKeepsTheLastSetting) {
  usb_module_record rec{};
  rec.device_no = 0;
  rec.sync_delay = 2;
  double ns = 5;
  board_->refuse_next();
  EXPECT_EQ(SetSyncDelay(&ns, &rec), -2);
  EXPECT_FLOAT_EQ(rec.sync_delay, 2);
  EXPECT_DOUBLE_EQ(ns, 5);
  EXPECT_EQ(ActivateDelay(0, 7, 1), -1);
  EXPECT_EQ(ActivateDelay(0, 0, 1), -1);
}

TEST_F(CommandBoardTest, RefusedPinWriteStillLeavesThePortAtZero) {
  const size_t before = board_->frames().size();
  board_->refuse_next(1);  // the pin write, after the first port write
  EXPECT_EQ(ActivateDelay(0, 3, 1), -2);
  ASSERT_EQ(board_->frames().size(), before + 3);
  EXPECT_EQ(board_->frames().back(), bytes({0x02, 0x5E, 0x00, 0x5C}));  // port 4 <- 0
  EXPECT_EQ(board_->port(4), 0);
}

// The bit-bang board at index 0.
class BitBangTest : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    board_ = &bus_->add_bitbang_board("UMB00001");
    int n = 0;
    ASSERT_EQ(GetFtdiDevices(1, &n), 0);
    ASSERT_EQ(FTDI_Type[0], 3);
  }
  sim::BitBangBoard *board_ = nullptr;
};

TEST_F(BitBangTest, OpenProbesThePins) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_EQ(board_->pin_bytes(), bytes({0xFF, 0x80, 0x7F, 0x00}));
  EXPECT_EQ(UM232PortVal[0], 0x00);
  EXPECT_EQ(UM232PortVal[1], 0x80);
  EXPECT_TRUE(board_->latches().pulses().empty());
  CloseDevice(0);
  bus_->device("UMB00001")->set_stuck_low(0x08);
  EXPECT_EQ(OpenDevice(0, 0), 10);
}

TEST_F(BitBangTest, PortsPinsAndTheirReadBack) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_EQ(USB_PortWrite(0, 1, 0x15), 0);
  EXPECT_EQ(board_->pin_bytes().back(), 0x95);
  EXPECT_EQ(USB_PinWrite(0, 1, 1, 1), 0);
  EXPECT_EQ(board_->pin_bytes().back(), 0x97);
  char v = 0;
  EXPECT_EQ(USB_PortRead(0, 1, &v), 0);
  EXPECT_EQ(static_cast<uint8_t>(v), 0x97);
  EXPECT_EQ(USB_PinRead(0, 1, 4, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(USB_PortWrite(0, 2, 0), -4);
  EXPECT_EQ(USB_PinWrite(0, 0, 7, 1), -5);
  EXPECT_EQ(USB_PinRead(0, 0, 7, &v), -5);
  bus_->device("UMB00001")->set_stuck_low(0x01);
  EXPECT_EQ(USB_PortWrite(0, 0, 0x01), -1);  // read back differs
  EXPECT_EQ(UM232PortVal[0], 0x00);          // not recorded
}

TEST_F(BitBangTest, SyncDelayAndInputThroughThePins) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  usb_module_record rec{};
  rec.device_no = 0;
  for (const DelayCase &c : kDelayCases) {
    SCOPED_TRACE(c.request);
    rec.sync_delay = c.previous;
    double ns = c.request;
    ASSERT_EQ(SetSyncDelay(&ns, &rec), 0);
    EXPECT_EQ(board_->latches().code(), c.code);
  }
  ASSERT_EQ(SetActiveInput(1, &rec), 0);
  EXPECT_TRUE(board_->latches().active_input());
  // One pulse: port byte, the pin, the port byte again.
  const Bytes &b = board_->pin_bytes();
  EXPECT_EQ(Bytes(b.end() - 3, b.end()), bytes({0x00, 0x40, 0x00}));
}

TEST_F(BitBangTest, FailedPinWriteStillLeavesThePortAtZero) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  bus_->device("UMB00001")->set_stuck_low(0x40);  // the input line's pin reads back 0
  const size_t before = board_->pin_bytes().size();
  EXPECT_EQ(ActivateDelay(0, 8, 1), -1);
  // Port byte, the pin (held low), and the port byte once more.
  EXPECT_EQ(board_->pin_bytes().size(), before + 3);
  EXPECT_EQ(board_->pin_bytes().back(), 0x00);
  EXPECT_EQ(UM232PortVal[0], 0x00);
}

TEST_F(BitBangTest, BitValuesChangeTheDirectionMask) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  port_val = 0xF0;
  EXPECT_EQ(SetBitVal(0, 0, 1), 0);
  const auto &calls = bus_->device("UMB00001")->calls();
  EXPECT_EQ(calls.back().op, "bitmode");
  EXPECT_EQ(calls.back().data, bytes({0x0F, 0x01}));
  EXPECT_EQ(SetBitVal(0, 3, 0), 0);
  EXPECT_EQ(calls.back().data, bytes({0x07, 0x01}));
  EXPECT_EQ(GetBitVal(0, 7), 1);  // an input reads 1
  EXPECT_EQ(port_val, GetBitMode(0));
  EXPECT_EQ(SetBitVal(0, 8, 1), -1);
  EXPECT_EQ(SetBitVal(0, 0, 2), -1);
  EXPECT_EQ(GetBitVal(1, 0), -1);
  EXPECT_EQ(GetBitMode(1), -1);
  EXPECT_EQ(SetBitMode(1, 0, 0), -1);
}

class ProductRecordTest : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    bus_->add_module("KMV00001", sim::ModuleOptions{"UM232H Q&V5", 9, true});
    int n = 0;
    GetFtdiDevices(5, &n);
    ASSERT_EQ(OpenDevice(0, 1), 0);
  }
  std::string listed_description() {
    DWORD n = 1;
    FT_CreateDeviceInfoList(&n);
    FT_DEVICE_LIST_INFO_NODE node{};
    n = 1;
    FT_GetDeviceInfoList(&node, &n);
    return node.Description;
  }
};

TEST_F(ProductRecordTest, DescriptionTailReplacedOrAppended) {
  struct Case {
    const char *before, *tail, *after;
  };
  for (const Case c : {Case{"UM232H Q&V5", " Q&V6", "UM232H Q&V6"}, Case{"UM232H", " Q&V1", "UM232H Q&V1"},
                       Case{"UM232H Q&V5 old", " Q&V2", "UM232H Q&V2"}}) {
    SCOPED_TRACE(c.before);
    CloseDevice(0);
    bus_->device("KMV00001")->set_description(c.before);
    ASSERT_EQ(OpenDevice(0, 1), 0);
    ASSERT_EQ(Change_Device_Description(0, c.tail), 0);
    EXPECT_EQ(DeviceOpened(0), 1);  // reopened after it enumerated again
    EXPECT_EQ(listed_description(), c.after);
    char block[16] = {};
    int count = 16;
    ASSERT_EQ(ReadUserEEprom(0, &count, block), 0);
    EXPECT_EQ(block[2], 9);  // the user area survives
  }
}

TEST_F(ProductRecordTest, TailThatDoesNotFitChangesNothing) {
  const std::vector<uint8_t> before = bus_->device("KMV00001")->eeprom_image();
  EXPECT_EQ(Change_Device_Description(0, std::string(60, 't').c_str()), -1);
  EXPECT_EQ(bus_->device("KMV00001")->eeprom_image(), before);
  EXPECT_EQ(DeviceOpened(0), 1);
  // Within the buffer but beyond the chip's string room: the programming fails.
  EXPECT_EQ(Change_Device_Description(0, std::string(40, 't').c_str()), static_cast<int>(FT_INVALID_PARAMETER));
  EXPECT_EQ(bus_->device("KMV00001")->eeprom_image(), before);
  EXPECT_EQ(Change_Device_Description(0, nullptr), -1);
  EXPECT_EQ(Change_Device_Description(3, " Q&V1"), -1);
  FT_PROGRAM_DATA p{};
  EXPECT_EQ(ReadProdEE(3, &p), -1);
  EXPECT_EQ(WriteProdEE(0, nullptr), -1);
}

TEST_F(ProductRecordTest, UserAreaWrittenAndReadBack) {
  const char data[4] = {1, 2, 3, 4};
  ASSERT_EQ(WriteUserEEprom(0, 4, data), 0);
  char back[4] = {};
  int count = 4;
  ASSERT_EQ(ReadUserEEprom(0, &count, back), 0);
  EXPECT_EQ(std::memcmp(back, data, 4), 0);
  const int size = static_cast<int>(bus_->device("KMV00001")->user_area().size());
  std::vector<char> big(static_cast<size_t>(size) + 1, 0);
  EXPECT_EQ(WriteUserEEprom(0, size + 1, big.data()), -1);
  EXPECT_EQ(WriteUserEEprom(0, 0, data), -1);
  EXPECT_EQ(WriteUserEEprom(1, 4, data), -1);
}

TEST_F(ProductRecordTest, Led2FollowsAndAMissingReplyEndsSoon) {
  ASSERT_EQ(OpenDevice(0, 0), 0);
  EXPECT_EQ(SetKmvLed2(0, 0), 0);
  EXPECT_FALSE(bus_->device("KMV00001")->acbus0());
  EXPECT_EQ(SetKmvLed2(0, 1), 0);
  EXPECT_TRUE(bus_->device("KMV00001")->acbus0());
  bus_->device("KMV00001")->withhold_replies(1);
  const double t0 = platform::clock::now();
  EXPECT_EQ(SetKmvLed2(0, 0), 1);
  EXPECT_LT(platform::clock::now() - t0, 1.0);
  EXPECT_EQ(SetKmvLed2(1, 0), -1);
  QV_FTDI_Type[0] = 1;
  EXPECT_EQ(SetKmvLed2(0, 0), -1);
}

}  // namespace
