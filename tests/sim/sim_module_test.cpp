// The simulated FTDI device, its MPSSE engine and the module on its I2C bus,
// driven by raw command bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/d2xx/ftd2xx.h"
#include "platform/win/clock.h"
#include "sim/bus.h"
#include "tests/testsupport/testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

class SimDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_.record_calls(true);  // the tests read the I2C traffic
    module_ = &bus_.add_module("KMV1");
    dev_ = bus_.device("KMV1");
    ASSERT_EQ(dev_->open(), FT_OK);
    ASSERT_EQ(dev_->set_bit_mode(0, FT_BITMODE_MPSSE), FT_OK);
  }
  void send(const Bytes &b) {
    uint32_t w = 0;
    ASSERT_EQ(dev_->write(b.data(), static_cast<uint32_t>(b.size()), &w), FT_OK);
    ASSERT_EQ(w, b.size());
  }
  Bytes waiting() {
    uint32_t n = 0;
    dev_->queue_status(&n);
    Bytes out(n);
    uint32_t got = 0;
    if (n) dev_->read(out.data(), n, &got);
    out.resize(got);
    return out;
  }
  // Bus conditions and byte transfers as the transport sends them.
  void idle() { send({0x80, 0xFF, 0xFB, 0x82, 0xFF, 0x01}); }
  void start() {
    Bytes b;
    for (int i = 0; i < 4; ++i) b.insert(b.end(), {0x80, 0xFD, 0xFB});
    for (int i = 0; i < 4; ++i) b.insert(b.end(), {0x80, 0xFC, 0xFB});
    b.insert(b.end(), {0x82, 0xFE, 0x01});
    send(b);
  }
  void stop() {
    Bytes b;
    for (uint8_t v : {0xFC, 0xFD, 0xFF})
      for (int i = 0; i < 4; ++i) b.insert(b.end(), {0x80, v, 0xFB});
    b.insert(b.end(), {0x82, 0xFF, 0x01});
    send(b);
  }
  bool put(uint8_t byte) {
    send({0x11, 0x00, 0x00, byte, 0x80, 0xFE, 0xF9, 0x22, 0x00, 0x87, 0x80, 0xFE, 0xFB});
    const Bytes r = waiting();
    EXPECT_EQ(r.size(), 1u);
    return !r.empty() && (r[0] & 1) == 0;
  }
  uint8_t get(bool ack) {
    send({0x80, 0xFE, 0xF9, 0x24, 0x00, 0x00, 0x80, 0xFE, 0xFB, 0x13, 0x00, static_cast<uint8_t>(ack ? 0 : 0xFF), 0x80,
          0xFE, 0xF9, 0x87});
    const Bytes r = waiting();
    EXPECT_EQ(r.size(), 1u);
    return r.empty() ? 0 : r[0];
  }
  testsupport::VirtualClock clock_;
  sim::Bus bus_;
  sim::KmvModule *module_ = nullptr;
  sim::FtdiDevice *dev_ = nullptr;
};

TEST_F(SimDevice, UnknownOpcodeIsEchoedAfterTheLatencyTimer) {
  send({0xAA});
  EXPECT_TRUE(waiting().empty());
  platform::clock::sleep(0.015);
  EXPECT_TRUE(waiting().empty());
  platform::clock::sleep(0.001);
  EXPECT_EQ(waiting(), (Bytes{0xFA, 0xAA}));
  send({0xAB, 0x87});  // send-immediate flushes at once
  EXPECT_EQ(waiting(), (Bytes{0xFA, 0xAB}));
  dev_->set_bad_command_reply(sim::FtdiDevice::BadCommandReply::FaOnly);
  send({0xAA, 0x87});
  EXPECT_EQ(waiting(), (Bytes{0xFA}));
  EXPECT_EQ(dev_->bad_commands(), (Bytes{0xAA, 0xAB, 0xAA}));
}

TEST_F(SimDevice, CommandsSplitAcrossWritesAreJoined) {
  send({0x86, 0x95});
  send({0x00, 0x81});
  send({0x87});
  EXPECT_EQ(dev_->clock_divisor(), 0x0095);
  EXPECT_EQ(waiting().size(), 1u);
}

TEST_F(SimDevice, AcknowledgeBitLandsInBitZeroWithJunkAbove) {
  idle();
  start();
  send({0x11, 0x00, 0x00, 0x48, 0x80, 0xFE, 0xF9, 0x22, 0x00, 0x87});
  const Bytes r = waiting();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0] & 1, 0);
  EXPECT_NE(r[0], 0);  // only bit 0 is the acknowledge
}

TEST_F(SimDevice, RegisterWriteAndReadAtLineLevel) {
  idle();
  start();
  EXPECT_TRUE(put(0x48));
  EXPECT_TRUE(put(0x80));
  EXPECT_TRUE(put(0x01));
  stop();
  EXPECT_EQ(module_->register_latch(0), 0x0180);
  EXPECT_TRUE(dev_->acbus0());
  module_->set_input_pins(0, 0xFF8F);
  idle();
  start();
  EXPECT_TRUE(put(0x49));
  EXPECT_EQ(get(true), 0x80);
  EXPECT_EQ(get(false), 0x01);
  stop();
  ASSERT_EQ(dev_->i2c().log().size(), 2u);
  EXPECT_EQ(sim::describe(dev_->i2c().log()[1]), "R49+ 80+ 01- P");
  EXPECT_TRUE(dev_->i2c().violations().empty());
}

// A bus that nobody asked to record (the program's, from a description)
// keeps no call log and only the open I2C transaction, however long it runs.
TEST_F(SimDevice, WithoutRecordingNoLogGrowsAndTheModuleStillWorks) {
  sim::Bus quiet;
  quiet.add_module("Q1");
  EXPECT_FALSE(quiet.device("Q1")->recording_calls());
  dev_->record_calls(false);
  EXPECT_TRUE(dev_->calls().empty());
  for (int i = 0; i < 500; ++i) {
    idle();
    start();
    EXPECT_TRUE(put(0x48));
    EXPECT_TRUE(put(0x80));
    EXPECT_TRUE(put(static_cast<uint8_t>(i)));
    stop();
  }
  EXPECT_EQ(module_->register_latch(0), 0x0080 | ((499 & 0xFF) << 8));
  EXPECT_TRUE(dev_->calls().empty());
  EXPECT_LE(dev_->i2c().log().size(), 1u);
  EXPECT_TRUE(dev_->i2c().violations().empty());
  // Turned on again, it records from then on.
  dev_->record_calls(true);
  idle();
  start();
  EXPECT_TRUE(put(0x48));
  stop();
  EXPECT_FALSE(dev_->calls().empty());
  EXPECT_EQ(sim::describe(dev_->i2c().log().back()), "W48+ P");
}

TEST_F(SimDevice, AbsentSlaveDoesNotAcknowledge) {
  idle();
  start();
  EXPECT_FALSE(put(0x20));
  stop();
  EXPECT_EQ(sim::describe(dev_->i2c().log()[0]), "W20- P");
}

TEST_F(SimDevice, EepromPageWrapsAndIsBusyAfterItsCommit) {
  idle();
  start();
  EXPECT_TRUE(put(0xA0));
  EXPECT_TRUE(put(0x0E));  // offset 14: the third byte wraps to the page start
  EXPECT_TRUE(put(0x01));
  EXPECT_TRUE(put(0x02));
  EXPECT_TRUE(put(0x03));
  stop();
  EXPECT_EQ(module_->eeprom()[14], 0x01);
  EXPECT_EQ(module_->eeprom()[15], 0x02);
  EXPECT_EQ(module_->eeprom()[0], 0x03);
  EXPECT_EQ(module_->eeprom()[16], 0xFF);
  EXPECT_TRUE(module_->eeprom_busy());
  idle();
  start();
  EXPECT_FALSE(put(0xA0));  // busy: no acknowledge
  platform::clock::sleep(0.005);
  idle();
  start();
  EXPECT_TRUE(put(0xA0));
  stop();
}

TEST_F(SimDevice, WriteEndedByAStartIsNotCommitted) {
  idle();
  start();
  EXPECT_TRUE(put(0xA2));
  EXPECT_TRUE(put(0x10));
  EXPECT_TRUE(put(0x55));
  idle();
  start();
  stop();
  EXPECT_EQ(module_->eeprom()[0x110], 0xFF);
  EXPECT_EQ(module_->eeprom_commits(), 0);
  EXPECT_EQ(dev_->i2c().log()[0].end, sim::I2cTransaction::End::Restart);
}

TEST_F(SimDevice, SequentialReadWrapsFromTheLastByteToTheFirst) {
  module_->eeprom()[511] = 0x11;
  module_->eeprom()[0] = 0x22;
  idle();
  start();
  EXPECT_TRUE(put(0xA2));
  EXPECT_TRUE(put(0xFF));
  idle();
  start();
  EXPECT_TRUE(put(0xA3));
  EXPECT_EQ(get(true), 0x11);
  EXPECT_EQ(get(false), 0x22);
  stop();
}

TEST_F(SimDevice, DacLoadsOnTheRegisterOnePulse) {
  const auto reg1 = [&](uint16_t w) {
    idle();
    start();
    put(0x4A);
    put(static_cast<uint8_t>(w & 0xFF));
    put(static_cast<uint8_t>(w >> 8));
    stop();
  };
  idle();
  start();
  put(0xA8);
  put(0x02);
  put(0xC0 | (1000 >> 6));
  put(static_cast<uint8_t>((1000 << 2) & 0xFF));
  stop();
  EXPECT_EQ(module_->dac_input(2), 1000);
  EXPECT_EQ(module_->dac_output(2), 0);
  reg1(0xEF0F);
  reg1(0xAF0F);
  EXPECT_EQ(module_->dac_output(2), 0);
  reg1(0xEF0F);
  EXPECT_EQ(module_->dac_output(2), 1000);
  reg1(0xCF0F);
  reg1(0xEF0F);
  EXPECT_EQ(module_->dac_output(2), 0);
  EXPECT_EQ(module_->dac_clears(), 1);
}

TEST_F(SimDevice, MalformedDacFrameIsAViolation) {
  idle();
  start();
  put(0xA8);
  put(0x01);
  put(0x80);  // the two set bits missing
  put(0x01);  // low bits not zero
  stop();
  ASSERT_EQ(dev_->i2c().violations().size(), 1u);
  EXPECT_EQ(module_->dac_input(1), 0);
}

TEST_F(SimDevice, LineLevelViolationsAreLogged) {
  idle();
  send({0x80, 0xFE, 0xF9, 0x11, 0x00, 0x00, 0x48});  // byte write with SDA released
  send({0x80, 0xFE, 0xFB, 0x22, 0x00});               // bit read while SDA is driven
  send({0x80, 0xFF, 0xFB, 0x13, 0x00, 0x00});         // clocking with SCL high
  const auto &v = dev_->i2c().violations();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NE(v[0].find("not driven"), std::string::npos);
  EXPECT_NE(v[1].find("drives SDA"), std::string::npos);
  EXPECT_NE(v[2].find("SCL high"), std::string::npos);
}

TEST_F(SimDevice, ReadWaitsForReplyOrTimeOut) {
  ASSERT_EQ(dev_->set_timeouts(200, 200), FT_OK);
  send({0xAA});  // the echo comes with the latency timer
  Bytes buf(4);
  uint32_t got = 0;
  const double t0 = platform::clock::now();
  ASSERT_EQ(dev_->read(buf.data(), 2, &got), FT_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_NEAR(platform::clock::now() - t0, 0.016, 1e-6);
  ASSERT_EQ(dev_->read(buf.data(), 4, &got), FT_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_NEAR(platform::clock::now() - t0, 0.216, 1e-6);
}

TEST_F(SimDevice, FaultsOnTheDeviceSide) {
  dev_->fail_next_writes(FT_IO_ERROR, 2);
  uint32_t w = 7;
  const uint8_t b = 0x87;
  EXPECT_EQ(dev_->write(&b, 1, &w), FT_IO_ERROR);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(dev_->write(&b, 1, &w), FT_IO_ERROR);
  EXPECT_EQ(dev_->write(&b, 1, &w), FT_OK);
  dev_->inject_stray_byte(0x42);
  EXPECT_EQ(waiting(), (Bytes{0x42}));
  dev_->withhold_replies(1);
  send({0xAA, 0x87});
  EXPECT_EQ(waiting(), (Bytes{0xAA}));
  // A short write leaves half a command, which takes the next bytes as its operands.
  dev_->short_next_write(1);
  const uint8_t two[2] = {0x86, 0x01};
  EXPECT_EQ(dev_->write(two, 2, &w), FT_OK);
  EXPECT_EQ(w, 1u);
  send({0xAA, 0x87});
  EXPECT_EQ(dev_->clock_divisor(), 0x87AA);
  EXPECT_TRUE(waiting().empty());
}

TEST(SimBus, UnplugAndReplugKeepOrLoseTheModuleState) {
  sim::Bus bus;
  bus.add_module("A");
  bus.add_module("B");
  bus.add_device("C", "FT232R USB UART");
  sim::KmvModule &b = *bus.module("B");
  b.eeprom()[3] = 0x33;
  b.set_input_pins(1, 0x0005);
  const uint64_t session = bus.device("B")->session();
  bus.unplug("B");
  EXPECT_EQ(bus.listed().size(), 2u);
  EXPECT_EQ(bus.index_of("C"), 1);
  EXPECT_NE(bus.device("B")->session(), session);
  bus.replug("B", 2, false);
  EXPECT_EQ(bus.index_of("B"), 2);
  bus.unplug("B");
  bus.replug("B");  // where it was
  EXPECT_EQ(bus.index_of("B"), 2);
  bus.unplug("A");
  bus.replug("A", 5, true);  // clamped to the end
  EXPECT_EQ(bus.index_of("A"), 2);
  EXPECT_EQ(b.eeprom()[3], 0x33);
  EXPECT_EQ(bus.register_latch("B", 1), 0xFFFF);
  EXPECT_EQ(b.input_pins(1), 0x0005);  // pins are the test's, not the module's state
  bus.set_held_elsewhere("C", true);
  EXPECT_EQ(bus.device("C")->open(), FT_DEVICE_NOT_OPENED);
}

TEST(SimBus, UserBlockCarriesTheModuleNumberAndCheckByte) {
  sim::Bus bus;
  bus.add_module("A", sim::ModuleOptions{"UM232H Q&V5", 0x1234, true});
  bus.add_module("B", sim::ModuleOptions{"UM232H Q&V5", 7, false});
  const auto sum = [](const std::vector<uint8_t> &ua) {
    uint8_t s = 0;
    for (int i = 0; i < 16; ++i) s = static_cast<uint8_t>(s + ua[i]);
    return s;
  };
  EXPECT_EQ(bus.device("A")->user_area()[2], 0x34);
  EXPECT_EQ(bus.device("A")->user_area()[3], 0x12);
  EXPECT_EQ(sum(bus.device("A")->user_area()), 0x55);
  EXPECT_NE(sum(bus.device("B")->user_area()), 0x55);
}

TEST(SimDescription, FileBuildsTheBus) {
  testsupport::TempDir dir;
  const std::string path = dir.write("bus.sim",
                                     "# two modules and an adapter\n"
                                     "[module]\nserial = KMV00001\nnumber = 3\n"
                                     "[device]\nserial = FT1\ndescription = FT232R USB UART\ntype = 5\n"
                                     "[module]\nserial = KMV00002\ndescription = UM232H Q&V5 rev B\npins1 = 0x000A\n"
                                     "held_elsewhere = 1\n");
  sim::Bus bus;
  std::string why;
  ASSERT_TRUE(sim::load_description(bus, path, &why)) << why;
  ASSERT_EQ(bus.listed().size(), 3u);
  EXPECT_EQ(bus.index_of("FT1"), 1);
  EXPECT_EQ(bus.device("KMV00001")->user_area()[2], 3);
  EXPECT_EQ(bus.module("KMV00002")->input_pins(1), 0x000A);
  // Pins the file does not name keep a quiet module's: no overload, no limit.
  EXPECT_EQ(bus.module("KMV00001")->input_pins(3) & 0x000F, 0);
  EXPECT_EQ(bus.module("KMV00001")->input_pins(1) & 0x000F, 0x000F);
  EXPECT_TRUE(bus.device("KMV00002")->held_elsewhere());
  EXPECT_EQ(bus.device("FT1")->description(), "FT232R USB UART");
  EXPECT_EQ(bus.module("FT1"), nullptr);
}

// A named module comes with the EEPROM production leaves: adjust block and
// gain limits that the module library accepts.
TEST(SimDescription, ANamedModuleHasItsAdjustData) {
  testsupport::TempDir dir;
  const std::string path = dir.write("bus.sim",
                                     "[module]\nserial = KMV00001\nname = KMV-USB-1\n"
                                     "[module]\nserial = KMV00002\nname = KMV-USB-2\nmodule_serial = KM0002\n"
                                     "date = 12.03.2024\n"
                                     "[module]\nserial = KMV00003\n");
  sim::Bus bus;
  std::string why;
  ASSERT_TRUE(sim::load_description(bus, path, &why)) << why;
  const auto text = [&](const char *serial, int at) {
    return std::string(reinterpret_cast<const char *>(bus.module(serial)->eeprom().data() + at));
  };
  const auto block_sum = [&](const char *serial, int at, int size) {
    uint8_t s = 0;
    for (int i = 0; i < size; ++i) s = static_cast<uint8_t>(s + bus.module(serial)->eeprom()[at + i]);
    return s;
  };
  EXPECT_EQ(text("KMV00001", 0), "KMV-USB-1");
  EXPECT_EQ(text("KMV00001", 16), "KMV00001");
  EXPECT_EQ(bus.module("KMV00001")->eeprom()[100], 100);
  EXPECT_EQ(text("KMV00002", 16), "KM0002");
  EXPECT_EQ(text("KMV00002", 32), "12.03.2024");
  for (const char *serial : {"KMV00001", "KMV00002"}) {
    EXPECT_EQ(block_sum(serial, 0, 49), 0x55) << serial;
    EXPECT_EQ(block_sum(serial, 100, 5), 0x55) << serial;
  }
  EXPECT_NE(block_sum("KMV00003", 0, 49), 0x55);  // without a name the EEPROM stays blank
}

TEST(SimDescription, BoardsAndComPorts) {
  testsupport::TempDir dir;
  const std::string path = dir.write("boards.sim",
                                     "[board]\nserial = SDB1\nboard_id = XY123\nnumber = 2\n"
                                     "[board]\nserial = UMB1\nwiring = bitbang\n"
                                     "[device]\nserial = FT1\ncom_port = 7\n");
  sim::Bus bus;
  std::string why;
  ASSERT_TRUE(sim::load_description(bus, path, &why)) << why;
  ASSERT_NE(bus.command_board("SDB1"), nullptr);
  EXPECT_EQ(bus.command_board("SDB1")->board_id(), "XY123");
  EXPECT_EQ(bus.device("SDB1")->description(), "FT245R USB FIFO Q&V1");
  EXPECT_EQ(bus.device("SDB1")->user_area()[2], 2);
  ASSERT_NE(bus.bitbang_board("UMB1"), nullptr);
  EXPECT_EQ(bus.device("UMB1")->description(), "UM232H Q&V1");
  EXPECT_EQ(bus.device("FT1")->com_port(), 7);
  EXPECT_EQ(bus.device("SDB1")->com_port(), -1);
  EXPECT_FALSE(sim::load_description(bus, dir.write("bad.sim", "[board]\nserial = B\nwiring = smoke\n"), &why));
}

TEST(SimDescription, BadFilesAreRefusedWithAReason) {
  testsupport::TempDir dir;
  const char *const bad[] = {
      "[module]\nserial = A\ncolour = red\n",  // unknown key
      "serial = A\n",                           // key before a section
      "[printer]\n",                            // unknown section
      "[module]\nnumber = 1\n",                 // no serial
      "[module]\nserial = A\nnumber = x1\n",    // not a number
  };
  for (const char *text : bad) {
    sim::Bus bus;
    std::string why;
    EXPECT_FALSE(sim::load_description(bus, dir.write("bad.sim", text), &why)) << text;
    EXPECT_FALSE(why.empty());
  }
  sim::Bus bus;
  std::string why;
  EXPECT_FALSE(sim::load_description(bus, dir.file("missing.sim"), &why));
}

}  // namespace
