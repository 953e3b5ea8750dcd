// The laser module's serial protocol and its serial-port discovery, against
// the simulated board on a pseudo-terminal.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>

#include "tests/modules/laser_fixture.h"

namespace {

using laser_test::LaserBase;
using laser_test::LaserOpen;

TEST_F(LaserBase, ScanFindsTheLaserModulesPorts) {
  add_laser(5);
  add_laser(7, "some other board");
  add_other(3, "Communications Port (COM3)");
  int n = 0;
  EXPECT_EQ(GetArduinoDevices(&n), 8);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(num_arduino_devs, 2);
  EXPECT_EQ(ARD_COM_ports[0], 5);
  EXPECT_EQ(ARD_COM_ports[1], 7);
  EXPECT_EQ(QV_Arduino_Type[0], 3);
  EXPECT_EQ(QV_Arduino_Type[1], -1);
  EXPECT_EQ(lasers_[0]->commands(), "I");
  EXPECT_EQ(DeviceOpened(8), 0);  // identified, then closed again
}

TEST_F(LaserBase, LocateComMatchesNamesAndNumbersExactly) {
  add_other(1, "Arduino Leonardo (COM1)");
  add_other(10, "ARDUINO LEONARDO (COM10)");
  add_other(12, "USB COM Port (COM12)");
  add_other(13, "Arduino Leonardo bootloader");  // no number
  int ports[4] = {};
  EXPECT_EQ(LocateCom("Arduino Leonardo", ports, 4), 2);
  EXPECT_EQ(ports[0], 1);
  EXPECT_EQ(ports[1], 10);
  EXPECT_EQ(LocateCom("USB COM", ports, 4), 1);
  EXPECT_EQ(ports[0], 12);
  EXPECT_EQ(LocateCom("Arduino", ports, 1), 1);  // at most max
  EXPECT_EQ(LocateCom(nullptr, ports, 4), 0);
}

TEST_F(LaserBase, PortThatWillNotOpenIsReenabledOnce) {
  sim::LaserModule &l = add_laser(5);
  l.refuse_opens();
  char text[ARD_INFO_LEN];
  EXPECT_EQ(get_ard_info(5, text), 0);
  EXPECT_EQ(l.reinstalls(), 1);
  EXPECT_NE(std::strstr(text, "GOR4"), nullptr);
  EXPECT_EQ(get_ard_info(6, text), RS_NO_SUCH_PORT);
  EXPECT_STREQ(text, " COM error\n");
}

TEST_F(LaserOpen, RegistersDacsAndRelaysReachTheBoard) {
  EXPECT_EQ(gor_regdata[0][3], 0x9C);  // cleared on open, word 3 with 0x9C
  ASSERT_EQ(GOR_set_register(8, 1, 0x1234), 0);
  EXPECT_EQ(laser().reg(1), 0x1234);
  unsigned short v = 0;
  ASSERT_EQ(GOR_get_register(8, 1, &v), 0);
  EXPECT_EQ(v, 0x1234);
  ASSERT_EQ(GOR_set_dac_chan(8, 11, 5000), 0);  // limited to 4095
  EXPECT_EQ(laser().dac(11), 4095);
  struct Case {
    int channel;
    double volts;
    int code;
  };
  for (const Case c : {Case{0, 5.0, 2048}, Case{3, 10.0, 4095}, Case{4, 2.5, 2048}, Case{11, 7.0, 4095},
                       Case{5, -1.0, 0}}) {
    double volts = c.volts;
    ASSERT_EQ(GOR_set_dac_voltage(8, c.channel, &volts), 0);
    EXPECT_EQ(laser().dac(c.channel), c.code) << c.channel;
    EXPECT_DOUBLE_EQ(volts, c.code * (c.channel < 4 ? 10.0 : 5.0) / 4095.0);
  }
  ASSERT_EQ(GOR_set_relay(8, 3, 1), 0);
  ASSERT_EQ(GOR_set_relay(8, 0, 1), 0);
  ASSERT_EQ(GOR_set_relay(8, 3, 0), 0);
  EXPECT_EQ(laser().reg(GOR_RELAY_REGISTER), 0x01);
  unsigned short relays = 0;
  ASSERT_EQ(GOR_get_relays(8, &relays), 0);
  EXPECT_EQ(relays, 0x01);
}

TEST_F(LaserOpen, FramesOnTheWire) {
  using Bytes = std::vector<uint8_t>;
  laser().clear_received();
  ASSERT_EQ(GOR_set_register(8, 1, 0x1234), 0);
  // Query, the command letter, the parameters with their check, the query that confirms them.
  EXPECT_EQ(laser().received(), (Bytes{0x55, 0x11, 0xEF, 0x55, 0x50, 0xB0, 0x01, 0x34, 0x12, 0x0E, 0x55, 0x11, 0xEF}));
  laser().clear_received();
  ASSERT_EQ(GOR_set_dac_chan(8, 2, 0x0ABC), 0);
  // The board still reports the accepted parameters: its state is reset first.
  EXPECT_EQ(laser().received(), (Bytes{0x55, 0x11, 0xEF, 0x55, 0x22, 0x00, 0xDE, 0x55, 0x41, 0xBF, 0x02, 0xBC, 0x0A,
                                       0x8D, 0x55, 0x11, 0xEF}));
  laser().clear_received();
  ASSERT_EQ(send_state_cmd_to_ARD(5, 0x22, 1), 0);
  EXPECT_EQ(laser().received(), (Bytes{0x55, 0x22, 0x01, 0xDD}));
}

TEST_F(LaserOpen, RefusalsByDeviceTypeAndRange) {
  unsigned short v = 0;
  EXPECT_EQ(GOR_set_register(9, 1, 1), -1000);
  EXPECT_EQ(GOR_set_register(3, 1, 1), -1000);
  EXPECT_EQ(GOR_set_register(8, 4, 1), -1006);
  EXPECT_EQ(GOR_set_dac_chan(8, 12, 1), -1006);
  EXPECT_EQ(GOR_get_dac_chan(8, -1, &v), -1006);
  EXPECT_EQ(GOR_set_relay(8, 8, 1), -1006);
  QV_Arduino_Type[0] = -1;
  EXPECT_EQ(GOR_set_register(8, 1, 1), -1005);
  QV_Arduino_Type[0] = 3;
  CloseDevice(8);
  EXPECT_EQ(GOR_set_register(8, 1, 1), -1);
}

TEST_F(LaserOpen, CacheOnlyModeTouchesNothing) {
  Set_QVUSB_mode(1, 0);
  const std::string before = laser().commands();
  ASSERT_EQ(GOR_set_register(8, 0, 0x55AA), 0);
  ASSERT_EQ(GOR_set_dac_chan(8, 2, 100), 0);
  EXPECT_EQ(laser().commands(), before);
  EXPECT_EQ(laser().reg(0), 0);
  unsigned short code = 0;
  ASSERT_EQ(GOR_get_dac_chan(8, 2, &code), 0);
  EXPECT_EQ(code, 100);
  // Only the cache is written, so a closed port is no refusal.
  CloseDevice(8);
  ASSERT_EQ(GOR_set_register(8, 1, 0x0123), 0);
  ASSERT_EQ(GOR_set_dac_chan(8, 3, 200), 0);
  ASSERT_EQ(GOR_set_relay(8, 4, 1), 0);
  unsigned short v = 0;
  ASSERT_EQ(GOR_get_register(8, 1, &v), 0);
  EXPECT_EQ(v, 0x0123);
  ASSERT_EQ(GOR_get_dac_chan(8, 3, &code), 0);
  EXPECT_EQ(code, 200);
  ASSERT_EQ(GOR_get_relays(8, &v), 0);
  EXPECT_EQ(v & 0x10, 0x10);
  EXPECT_EQ(laser().commands(), before);
  EXPECT_EQ(GOR_set_register(9, 1, 1), -1000);  // the refusals still hold
  QV_Arduino_Type[0] = -1;
  EXPECT_EQ(GOR_set_register(8, 1, 1), -1005);
}

// Cache-only with the port closed: every data kind, the EEPROM's included,
// comes from and goes to the cache alone. The board hears nothing, the port
// stays closed and no time passes.
TEST_F(LaserOpen, CacheOnlyModeKeepsEveryDataKindOffTheClosedPort) {
  GORDeviceData on_board{};
  for (int w = 0; w < GOR_WORDS; ++w) on_board.words[w] = static_cast<uint16_t>(0x0200 + w);
  ASSERT_EQ(GOR_set_data(8, 0, &on_board), 0);  // a sound block the board could give back
  const auto eeprom_before = laser().eeprom();
  CloseDevice(8);
  Set_QVUSB_mode(1, 0);
  gor_data[0] = GORDeviceData{};  // nothing cached yet

  GORDeviceData mine{};
  for (int w = 0; w < GOR_WORDS; ++w) mine.words[w] = static_cast<uint16_t>(0xF100 + w);
  GORDeviceData mine_read = mine;  // as a read of the block gives it: DAC words of 12 bits
  for (int ch = 0; ch < GOR_DAC_CHANNELS; ++ch) mine_read.words[4 + ch] &= 0x0FFF;
  const auto same = [](const GORDeviceData &a, const GORDeviceData &b) { return std::memcmp(&a, &b, sizeof a) == 0; };
  GORDeviceData out{};
  std::array<unsigned char, 8> buf{};
  int done = -1;
  int count = 0;

  struct Case {
    const char *what;
    std::function<int()> call;
    int result;
    std::function<bool()> holds;  // what the call gave or left in the cache
  };
  const std::vector<Case> cases = {
      {"EEPROM block, nothing cached yet", [&] { return GOR_get_data(8, 0, &out); }, 0,
       [&] { return same(out, GORDeviceData{}); }},
      {"EEPROM block set", [&] { return GOR_set_data(8, 0, &mine); }, 0, [&] { return same(gor_data[0], mine); }},
      {"EEPROM block get", [&] { return GOR_get_data(8, 0, &out); }, 0, [&] { return same(out, mine_read); }},
      {"register block set", [&] { return GOR_set_data(8, 1, &on_board); }, 0,
       [&] { return gor_regdata[0][3] == 0x0203 && gor_regdata[0][4] == 0x0204; }},
      {"register block get", [&] { return GOR_get_data(8, 1, &out); }, 0, [&] { return same(out, on_board); }},
      {"EEPROM block get after the register block", [&] { return GOR_get_data(8, 0, &out); }, 0,
       [&] { return same(out, mine_read); }},
      {"raw EEPROM read", [&] { return ARD_ReadUserEEP(8, buf.data(), GOR_DATA_ADDRESS, 8, &done); }, 0,
       [&] { return done == 0 && buf == std::array<unsigned char, 8>{}; }},
      {"raw EEPROM write", [&] { return ARD_WriteUserEEP(8, buf.data(), 0, 8); }, 0, [] { return true; }},
      {"user area read", [&] {
         count = 5;
         return ReadUserEEprom(8, &count, reinterpret_cast<char *>(buf.data()));
       },
       0, [&] { return count == 0; }},
      {"user area write", [] { return WriteUserEEprom(8, 5, "hello"); }, 0, [] { return true; }},
      {"EEPROM get of another device", [&] { return GOR_get_data(9, 0, &out); }, -1000, [] { return true; }},
      {"EEPROM set of another device", [&] { return GOR_set_data(9, 0, &mine); }, -1000, [] { return true; }},
      {"raw read beyond the 512 bytes", [&] { return ARD_ReadUserEEP(8, buf.data(), 508, 8, &done); }, -1003,
       [] { return true; }},
      {"EEPROM set of another module type",
       [&] {
         QV_Arduino_Type[0] = -1;
         const int r = GOR_set_data(8, 0, &on_board);
         QV_Arduino_Type[0] = 3;
         return r;
       },
       -1005, [&] { return same(gor_data[0], mine); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    laser().clear_received();
    const double t0 = platform::clock::now();
    EXPECT_EQ(c.call(), c.result);
    EXPECT_TRUE(c.holds());
    EXPECT_TRUE(laser().received().empty());
    EXPECT_EQ(DeviceOpened(8), 0);
    EXPECT_EQ(platform::clock::now(), t0);
  }
  EXPECT_EQ(laser().eeprom(), eeprom_before);
  EXPECT_EQ(laser().reg(3), 0);  // the register block stayed in the cache too
}

// A fault of the board, the call that meets it, and that call's result.
struct FaultCase {
  const char *what;
  std::function<void(sim::LaserModule &)> fault;
  std::function<int()> call;
  int result;
};

TEST_F(LaserOpen, ByteLevelFaults) {
  const int port = 5;
  const std::vector<FaultCase> cases = {
      {"one echo lost: sent again", [](sim::LaserModule &l) { l.drop_echoes(1); },
       [] { return send_byte_to_ARD(port, 0x11); }, 0},
      {"both echoes lost", [](sim::LaserModule &l) { l.drop_echoes(2); }, [] { return send_byte_to_ARD(port, 0x11); },
       -1001},
      {"wrong echo", [](sim::LaserModule &l) { l.corrupt_next_echo(); }, [] { return send_byte_to_ARD(port, 0x11); },
       -1001},
      {"bad state check", [](sim::LaserModule &l) { l.corrupt_next_state_check(); },
       [] { return send_state_cmd_to_ARD(port, 0x11, 0) == 0 ? 0 : 1; }, 0},  // the second attempt succeeds
      {"short state record", [](sim::LaserModule &l) { l.shorten_next_state(3); },
       [] {
         const uint8_t f[3] = {0x55, 0x11, 0xEF};
         for (uint8_t b : f) send_byte_to_ARD(port, b);
         return ard_read_state(port);
       },
       -1003},
      {"no state record", [](sim::LaserModule &l) { l.shorten_next_state(0); },
       [] {
         const uint8_t f[3] = {0x55, 0x11, 0xEF};
         for (uint8_t b : f) send_byte_to_ARD(port, b);
         return ard_read_state(port);
       },
       -1002},
      {"bad check byte read", [](sim::LaserModule &l) { l.corrupt_next_state_check(); },
       [] {
         const uint8_t f[3] = {0x55, 0x11, 0xEF};
         for (uint8_t b : f) send_byte_to_ARD(port, b);
         return ard_read_state(port);
       },
       -1004},
      {"command refused once", [](sim::LaserModule &l) { l.fail_next_command(); },
       [] { return send_cmd_to_ARD(port, 'I'); }, 0},
      {"state command 0x33 is not sent", [](sim::LaserModule &) {}, [] { return send_state_cmd_to_ARD(port, 0x33, 0); },
       0},
  };
  for (const FaultCase &c : cases) {
    SCOPED_TRACE(c.what);
    FlushInQ(port);
    c.fault(laser());
    EXPECT_EQ(c.call(), c.result);
    Delay(0.1);
    FlushInQ(port);
  }
  EXPECT_EQ(GOR_set_register(8, 2, 7), 0);  // the link is sound afterwards
}

// One exchange that went wrong leaves bytes behind; the link must work on
// without anyone reading them away (nothing here flushes the input).
TEST_F(LaserOpen, LinkWorksOnAfterABadEchoOrAnOversizedReply) {
  unsigned char buf[8];
  int done = 0;
  const std::vector<FaultCase> cases = {
      {"bad echo", [](sim::LaserModule &l) { l.corrupt_next_echo(); }, [] { return GOR_set_register(8, 1, 0x0BAD); },
       -1001},
      {"oversized EEPROM reply", [](sim::LaserModule &l) { l.lengthen_next_transfer(40); },
       [&] { return ARD_ReadUserEEP(8, buf, 0, 8, &done); }, -1003},
  };
  for (const FaultCase &c : cases) {
    SCOPED_TRACE(c.what);
    c.fault(laser());
    EXPECT_EQ(c.call(), c.result);
    for (uint16_t v = 1; v <= 5; ++v) {
      EXPECT_EQ(GOR_set_register(8, 1, v), 0) << v;
      EXPECT_EQ(laser().reg(1), v);
    }
  }
}

TEST_F(LaserOpen, DataBlockThroughTheEeprom) {
  GORDeviceData d{};
  for (int w = 0; w < GOR_WORDS; ++w) d.words[w] = static_cast<uint16_t>(0x1100 + w);
  ASSERT_EQ(GOR_set_data(8, 0, &d), 0);
  const auto &ee = laser().eeprom();
  EXPECT_EQ(ee[GOR_DATA_ADDRESS], 0x00);
  EXPECT_EQ(ee[GOR_DATA_ADDRESS + 1], 0x11);
  int sum = 0;
  for (int i = 0; i < GOR_DATA_BYTES; ++i) sum += ee[GOR_DATA_ADDRESS + i];
  EXPECT_EQ(sum & 0xFF, 0x55);
  GORDeviceData back{};
  ASSERT_EQ(GOR_get_data(8, 0, &back), 0);
  for (int w = 0; w < GOR_WORDS; ++w) {
    const bool dac = w >= 4 && w < 16;
    EXPECT_EQ(back.words[w], dac ? (0x1100 + w) & 0x0FFF : 0x1100 + w) << w;
  }
  // Applied to the hardware, then read from the cache.
  ASSERT_EQ(GOR_set_data(8, 1, &back), 0);
  EXPECT_EQ(laser().reg(3), 0x1103);
  EXPECT_EQ(laser().dac(0), 0x0104);
  GORDeviceData cache{};
  ASSERT_EQ(GOR_get_data(8, 1, &cache), 0);
  EXPECT_EQ(std::memcmp(&cache, &back, sizeof cache), 0);
}

TEST_F(LaserOpen, DataBlockFaults) {
  GORDeviceData d{};
  ASSERT_EQ(GOR_set_data(8, 0, &d), 0);
  laser().eeprom()[GOR_DATA_ADDRESS + 5] ^= 0x10;
  EXPECT_EQ(GOR_get_data(8, 0, &d), -1007);
  laser().shorten_next_transfer(20);
  EXPECT_EQ(GOR_get_data(8, 0, &d), -1003);
  unsigned char buf[16];
  int done = 0;
  EXPECT_EQ(ARD_ReadUserEEP(8, buf, 500, 16, &done), -1003);  // beyond the 512 bytes
  EXPECT_EQ(ARD_ReadUserEEP(8, buf, 0, 0, &done), -1003);
  EXPECT_EQ(ARD_ReadUserEEP(9, buf, 0, 4, &done), -1000);
  // A board that never takes the parameters: bounded, and the state is wrong.
  laser().refuse_parameters(true);
  const double t0 = platform::clock::now();
  EXPECT_EQ(ARD_ReadUserEEP(8, buf, 0, 4, &done), -1002);
  EXPECT_LT(platform::clock::now() - t0, 120.0);
  laser().refuse_parameters(false);
  EXPECT_EQ(ARD_ReadUserEEP(8, buf, 0, 4, &done), 0);
  EXPECT_EQ(done, 4);
}

TEST_F(LaserOpen, UserAreaOfTheLaserModule) {
  const char data[5] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(WriteUserEEprom(8, 5, data), 0);
  char back[8] = {};
  int count = 5;
  ASSERT_EQ(ReadUserEEprom(8, &count, back), 0);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(std::string(back, 5), "hello");
  EXPECT_EQ(laser().eeprom()[0], 'h');
  count = 600;  // at most the module's 512 bytes
  std::vector<char> all(600);
  ASSERT_EQ(ReadUserEEprom(8, &count, all.data()), 0);
  EXPECT_EQ(count, 512);
}

TEST_F(LaserOpen, VanishedPortIsNoticed) {
  EXPECT_EQ(TestIfArduinoPresent(8), 1);
  laser().vanish();
  EXPECT_EQ(TestIfArduinoPresent(8), 0);
  EXPECT_EQ(COM_opened[0], 0);
  EXPECT_EQ(ard_dev_no, -1);
  EXPECT_EQ(num_arduino_devs, 0);
  EXPECT_EQ(TestIfArduinoPresent(3), 0);
  EXPECT_EQ(TestIfArduinoPresent(16), 0);
}

TEST_F(LaserBase, NewPortsAreTakenOnlyAfterTheDebounce) {
  add_laser(5);
  int n = 0;
  GetArduinoDevices(&n);
  ASSERT_EQ(num_arduino_devs, 1);
  add_laser(6);
  EXPECT_EQ(TestIfArduinoPresent(-1), 1);
  EXPECT_EQ(num_arduino_devs, 1);
  platform::clock::advance(5.0);
  TestIfArduinoPresent(-1);
  EXPECT_EQ(num_arduino_devs, 1);
  platform::clock::advance(1.5);
  TestIfArduinoPresent(-1);
  EXPECT_EQ(num_arduino_devs, 2);
  lasers_.back()->vanish();
  TestIfArduinoPresent(-1);
  EXPECT_EQ(num_arduino_devs, 1);  // fewer ports are taken at once
}

TEST(LaserDates, DaysSinceTheFirstOf2011) {
  struct Case {
    int days;
    const char *text;
  };
  for (const Case c : {Case{0, "01.01.2011"}, Case{365, "01.01.2012"}, Case{424, "29.02.2012"},
                       Case{730, "31.12.2012"}, Case{3653, "01.01.2021"}}) {
    char text[11];
    prepare_date_str(c.days, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(prepare_date_val(c.text), c.days);
  }
  for (const char *bad : {"29.02.2011", "1.13.2012", "x", "31.12.2010", "0.1.2012"})
    EXPECT_EQ(prepare_date_val(bad), -1) << bad;
  EXPECT_EQ(prepare_date_val("1.1.2011"), 0);
}

}  // namespace
