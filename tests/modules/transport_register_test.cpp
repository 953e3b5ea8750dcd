// Registers and DAC of a simulated KMV-USB module through the MPSSE I2C transport.
#include <gtest/gtest.h>

#include <functional>

#include "tests/modules/ftdi_fixture.h"

namespace {

using ftdi_test::bytes;
using ftdi_test::traffic;
using ftdi_test::writes;
using Strings = std::vector<std::string>;

class Registers : public ftdi_test::ModuleTest {};

TEST_F(Registers, PrimitivesSendTheirMpsseBytesInOneWriteEach) {
  ASSERT_EQ(SetI2CLinesIdle(0), 0);
  ASSERT_EQ(SetI2CStart(0), 0);
  ASSERT_EQ(SendAddrAndCheckACK(0, 0, 0x24), 0);
  ASSERT_EQ(ReadByteAndSendACK(0, 0), 0);  // a read on a write transaction: the slave does not drive
  ASSERT_EQ(SetI2CStop(0), 0);
  const auto w = writes(device());
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[0], bytes({0x80, 0xFF, 0xFB, 0x82, 0xFF, 0x01}));
  EXPECT_EQ(w[1], bytes({0x80, 0xFD, 0xFB, 0x80, 0xFD, 0xFB, 0x80, 0xFD, 0xFB, 0x80, 0xFD, 0xFB, 0x80, 0xFC, 0xFB,
                         0x80, 0xFC, 0xFB, 0x80, 0xFC, 0xFB, 0x80, 0xFC, 0xFB, 0x82, 0xFE, 0x01}));
  EXPECT_EQ(w[2], bytes({0x11, 0x00, 0x00, 0x48, 0x80, 0xFE, 0xF9, 0x22, 0x00, 0x87, 0x80, 0xFE, 0xFB}));
  EXPECT_EQ(w[3], bytes({0x80, 0xFE, 0xF9, 0x24, 0x00, 0x00, 0x80, 0xFE, 0xFB, 0x13, 0x00, 0xFF, 0x80, 0xFE, 0xF9, 0x87}));
  EXPECT_EQ(w[4].size(), 39u);
  EXPECT_TRUE(device().acbus0());
}

TEST_F(Registers, WriteSendsTheForcedInputBitsButCachesTheValue) {
  struct Case {
    int reg;
    uint16_t value;
    const char *wire;
    uint16_t latch;
  };
  const Case cases[] = {
      {0, 0x1234, "W48+ 34+ 12+ P", 0x1234},
      {1, 0x1234, "W4A+ 3F+ 12+ P", 0x123F},
      {2, 0x00F0, "W4C+ F0+ 00+ P", 0x00F0},
      {3, 0x0000, "W4E+ FF+ FF+ P", 0xFFFF},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reg);
    clear_logs();
    ASSERT_EQ(KMV_set_register(0, c.reg, c.value), 0);
    EXPECT_EQ(traffic(device()), Strings{c.wire});
    EXPECT_EQ(kmv_regdata[0][c.reg], c.value);
    EXPECT_EQ(module().register_latch(c.reg), c.latch);
    EXPECT_EQ(writes(device()).size(), 6u);
    EXPECT_TRUE(device().acbus0());
    EXPECT_TRUE(device().i2c().violations().empty());
  }
}

TEST_F(Registers, SetBitChangesOneBitOfTheCachedWord) {
  kmv_regdata[0][2] = 0x0100;
  ASSERT_EQ(KMV_set_bit_in_register(0, 2, 3, 1), 0);
  EXPECT_EQ(kmv_regdata[0][2], 0x0108);
  ASSERT_EQ(KMV_set_bit_in_register(0, 2, 8, 0), 0);
  EXPECT_EQ(kmv_regdata[0][2], 0x0008);
  EXPECT_EQ(module().register_latch(2), 0x0008);
  EXPECT_EQ(KMV_set_bit_in_register(0, 2, 16, 1), -1);
}

TEST_F(Registers, ReadOfAnOutputRegisterIsTheCacheWithoutTraffic) {
  kmv_regdata[0][0] = 0x4321;
  unsigned short v = 0;
  ASSERT_EQ(KMV_get_register(0, 0, &v), 0);
  EXPECT_EQ(v, 0x4321);
  ASSERT_EQ(KMV_get_register(0, 2, &v), 0);
  EXPECT_TRUE(device().calls().empty());
}

TEST_F(Registers, ReadMergesInputPinsIntoTheCachedWord) {
  ASSERT_EQ(KMV_set_register(0, 1, 0x1230), 0);
  module().set_input_pins(1, 0xABCD);
  clear_logs();
  unsigned short v = 0;
  ASSERT_EQ(KMV_get_register(0, 1, &v), 0);
  EXPECT_EQ(v, 0x123D);
  EXPECT_EQ(kmv_regdata[0][1], 0x1230);
  EXPECT_EQ(module().register_latch(1), 0x123F);
}

// Both bytes are acknowledged, so the register goes on driving the next low
// byte's bit 7. When that bit is 1 the STOP is seen and the trailing
// address-only write is a transaction of its own; when it is 0 the STOP is
// lost and the trailing write's clocks read the byte out (wired AND with the
// address) until its missing acknowledge releases the bus.
TEST_F(Registers, ReadEndsCleanlyWhateverTheRegisterDrivesNext) {
  struct Case {
    uint16_t pins;
    Strings wire;
  };
  const Case cases[] = {
      {0x12B4, {"R4F+ B4+ 12+ P", "W4E+ P"}},
      {0x1234, {"R4F+ 34+ 12+ 04- P"}},
  };
  ASSERT_EQ(KMV_set_register(0, 3, 0), 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pins);
    module().set_input_pins(3, c.pins);
    clear_logs();
    unsigned short v = 0;
    ASSERT_EQ(KMV_get_register(0, 3, &v), 0);
    EXPECT_EQ(v, c.pins);
    EXPECT_EQ(traffic(device()), c.wire);
    EXPECT_TRUE(device().acbus0());
    EXPECT_EQ(module().register_latch(3), 0xFFFF);
    ASSERT_EQ(KMV_set_register(0, 0, c.pins), 0);  // the bus is free right after
    EXPECT_EQ(module().register_latch(0), c.pins);
  }
}

TEST_F(Registers, MissingAcknowledgeFailsWithoutStopAndTheNextOperationRecovers) {
  struct Case {
    int position;
    const char *wire;
  };
  const Case cases[] = {{0, "W4A- S"}, {1, "W4A+ 3F- S"}, {2, "W4A+ 3F+ 12- S"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.position);
    ASSERT_EQ(KMV_set_register(0, 1, 0x0000), 0);
    clear_logs();
    device().i2c().inject_nak(0x25, c.position);
    EXPECT_EQ(KMV_set_register(0, 1, 0x1234), -1);
    EXPECT_EQ(kmv_regdata[0][1], 0x0000);
    EXPECT_EQ(module().register_latch(1), 0x000F);
    EXPECT_FALSE(device().acbus0());  // no stop was sent
    ASSERT_EQ(KMV_set_register(0, 1, 0x5670), 0);
    const auto t = traffic(device());
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0], c.wire);
    EXPECT_EQ(t[1], "W4A+ 7F+ 56+ P");
    EXPECT_EQ(module().register_latch(1), 0x567F);
  }
}

// Every operation, not acknowledged at each position of each of its
// transactions: -1, and the same operation succeeds right after.
TEST_F(Registers, EveryOperationRecoversFromAMissingAcknowledgeAnywhere) {
  unsigned char buf[2] = {0x12, 0x34}, rbuf[2] = {};
  int done = 0;
  unsigned short v = 0;
  struct Case {
    const char *name;
    std::function<int()> op;
    std::vector<std::pair<uint8_t, int>> naks;  // slave, position
  };
  const std::vector<Case> cases = {
      {"register write", [] { return KMV_set_register(0, 2, 0x0102); }, {{0x26, 0}, {0x26, 1}, {0x26, 2}}},
      {"register read", [&] { return KMV_get_register(0, 1, &v); }, {{0x25, 0}}},
      {"DAC write", [] { return KMV_set_dac_chan(0, 9, 0x0ABC); }, {{0x54, 0}, {0x54, 1}, {0x54, 2}, {0x54, 3}, {0x25, 0}, {0x25, 2}}},
      {"DAC clear", [] { return KMV_clear_all_dacs(0); }, {{0x25, 0}, {0x25, 1}}},
      {"EEPROM read", [&] { return KMV_ReadUserEEP(0, rbuf, 300, 2, &done, 0); }, {{0x51, 0}, {0x51, 1}}},
      {"EEPROM write", [&] { return KMV_WriteUserEEP(0, buf, 32, 2); }, {{0x50, 0}, {0x50, 1}, {0x50, 2}}},
  };
  for (const Case &c : cases) {
    for (const auto &[slave, position] : c.naks) {
      SCOPED_TRACE(testing::Message() << c.name << " slave " << int(slave) << " position " << position);
      device().i2c().inject_nak(slave, position);
      EXPECT_EQ(c.op(), -1);
      EXPECT_EQ(c.op(), 0);
      EXPECT_TRUE(device().acbus0());
    }
  }
  EXPECT_EQ(module().register_latch(2), 0x0102);
  EXPECT_EQ(module().dac_output(9), 0);  // cleared by the last clear
  EXPECT_EQ(module().eeprom()[33], 0x34);
  EXPECT_TRUE(device().i2c().violations().empty());
}

TEST_F(Registers, ReadFailuresLeaveTheValueUnset) {
  device().i2c().inject_nak(0x27, 0);
  unsigned short v = 0xBEEF;
  EXPECT_EQ(KMV_get_register(0, 3, &v), -1);
  EXPECT_EQ(v, 0xBEEF);
}

TEST_F(Registers, ArgumentsAndDeviceStateAreChecked) {
  unsigned short v = 0;
  EXPECT_EQ(KMV_set_register(-1, 0, 1), -1);
  EXPECT_EQ(KMV_set_register(8, 0, 1), -1);
  EXPECT_EQ(KMV_set_register(0, 4, 1), -1);
  EXPECT_EQ(KMV_get_register(0, -1, &v), -1);
  EXPECT_EQ(KMV_set_dac_chan(0, 16, 1), -1);
  EXPECT_EQ(KMV_set_register(1, 0, 1), -1);  // nothing at index 1
  QV_FTDI_Type[0] = 6;
  EXPECT_EQ(KMV_set_register(0, 0, 1), -1);  // wrong module type
  QV_FTDI_Type[0] = 5;
  CloseDevice(0);
  EXPECT_EQ(KMV_set_register(0, 0, 1), -1);  // closed
  EXPECT_TRUE(device().i2c().log().empty());
}

TEST_F(Registers, FailedWriteStatusIsPassedUp) {
  device().fail_next_writes(FT_IO_ERROR);
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 4);
  EXPECT_EQ(kmv_regdata[0][0], 0);
  device().fail_next_calls("queue", FT_IO_ERROR);
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 4);
  device().fail_next_calls("read", FT_OTHER_ERROR);
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 18);
  EXPECT_EQ(kmv_regdata[0][0], 0);
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 0);
}

TEST_F(Registers, UnpluggedModuleFailsWithTheIoStatus) {
  bus_->unplug("KMV00001");
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 4);
  EXPECT_EQ(kmv_regdata[0][0], 0);
}

TEST_F(Registers, NoReplyGivesUpAfter500PollsAndPurgesTheQueue) {
  device().withhold_replies(1);
  const double t0 = platform::clock::now();
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), -1);
  EXPECT_EQ(device().stats().queue_polls, 500u);
  EXPECT_GE(platform::clock::now() - t0, 0.499);
  EXPECT_EQ(device().stats().purges, 1u);
  EXPECT_EQ(KMV_set_register(0, 0, 0x2222), 0);
  EXPECT_EQ(module().register_latch(0), 0x2222);
}

TEST_F(Registers, LateReplyIsNeverTakenForTheNextAcknowledge) {
  // The address acknowledge comes after the poll gave up; had it stayed in the
  // queue, the next address byte (not acknowledged) would read as acknowledged.
  device().delay_replies(0.6);
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), -1);
  platform::clock::sleep(0.2);
  device().i2c().inject_nak(0x24, 0);
  EXPECT_EQ(KMV_set_register(0, 0, 0x3333), -1);
  EXPECT_EQ(module().register_latch(0), 0xFFFF);
}

TEST_F(Registers, WaitingInputIsReadAtMostABufferAtATime) {
  for (int i = 0; i < 2000; ++i) device().inject_stray_byte(0x00);
  EXPECT_EQ(KMV_set_register(0, 0, 0x1111), 0);
  for (const auto &c : device().calls()) {
    if (c.op == "read") {
      EXPECT_LE(c.value, 1024u);
    }
  }
}

class Dac : public ftdi_test::ModuleTest {};

TEST_F(Dac, CodeTravelsInTwoBytesThenTheLoadPulse) {
  ASSERT_EQ(kmv_regdata[0][1], 0xEF00);
  ASSERT_EQ(KMV_set_dac_chan(0, 3, 4095), 0);
  EXPECT_EQ(traffic(device()),
            (Strings{"WA8+ 03+ FF+ FC+ P", "W4A+ 0F+ EF+ P", "W4A+ 0F+ AF+ P", "W4A+ 0F+ EF+ P"}));
  EXPECT_EQ(writes(device()).size(), 25u);
  EXPECT_EQ(kmv_regdata[0][4 + 3], 4095);
  EXPECT_EQ(kmv_regdata[0][1], 0xEF00);
  EXPECT_EQ(module().dac_output(3), 4095);
  EXPECT_EQ(module().dac_loads(), 1);
  EXPECT_TRUE(device().i2c().violations().empty());
}

TEST_F(Dac, CodeBytes) {
  struct Case {
    uint16_t code;
    uint8_t b1, b2;
  };
  const Case cases[] = {{0, 0xC0, 0x00}, {1, 0xC0, 0x04}, {63, 0xC0, 0xFC}, {64, 0xC1, 0x00}, {4095, 0xFF, 0xFC}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    clear_logs();
    ASSERT_EQ(KMV_set_dac_chan(0, 0, c.code), 0);
    const auto &t = device().i2c().log().at(0);
    EXPECT_EQ(t.bytes, (std::vector<uint8_t>{0x00, c.b1, c.b2}));
    EXPECT_EQ(module().dac_output(0), c.code);
  }
}

TEST_F(Dac, NotAcknowledgedWriteLeavesTheCache) {
  kmv_regdata[0][4 + 5] = 100;
  device().i2c().inject_nak(0x54, 2);
  EXPECT_EQ(KMV_set_dac_chan(0, 5, 200), -1);
  EXPECT_EQ(kmv_regdata[0][4 + 5], 100);
  EXPECT_EQ(module().dac_loads(), 0);
  // A failed load pulse too.
  device().i2c().inject_nak(0x25, 0);
  EXPECT_EQ(KMV_set_dac_chan(0, 5, 200), -1);
  EXPECT_EQ(kmv_regdata[0][4 + 5], 100);
  ASSERT_EQ(KMV_set_dac_chan(0, 5, 200), 0);
  EXPECT_EQ(module().dac_output(5), 200);
}

TEST_F(Dac, VoltageIsConvertedAndTheCachedVoltageReturned) {
  struct Case {
    int channel;
    double volts;
    uint16_t code;
    double back;
  };
  const Case cases[] = {{2, 12.0, 4095, 10.0}, {7, 1.0, 819, 1.0}, {0, 5.0, 2048, 2048 / 409.5}, {4, -1.0, 0, 0.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.channel);
    double v = c.volts;
    ASSERT_EQ(KMV_set_dac_voltage(0, c.channel, &v), 0);
    EXPECT_EQ(module().dac_output(c.channel), c.code);
    EXPECT_NEAR(v, c.back, 1e-9);
  }
  device().i2c().inject_nak(0x54, 0);
  double v = 2.5;
  kmv_regdata[0][4 + 9] = 1000;
  EXPECT_EQ(KMV_set_dac_voltage(0, 9, &v), -1);
  EXPECT_NEAR(v, 1000 / 819.0, 1e-9);  // the cached code's voltage, also after a failure
  short code = 0;
  ASSERT_EQ(KMV_get_dac_chan(0, 9, &code), 0);
  EXPECT_EQ(code, 1000);
}

TEST_F(Dac, ClearPulsesBit13AndZeroesEveryCode) {
  for (int c = 0; c < 16; ++c) ASSERT_EQ(KMV_set_dac_chan(0, static_cast<unsigned char>(c), 100 + c), 0);
  clear_logs();
  ASSERT_EQ(KMV_clear_all_dacs(0), 0);
  EXPECT_EQ(traffic(device()), (Strings{"W4A+ 0F+ EF+ P", "W4A+ 0F+ CF+ P", "W4A+ 0F+ EF+ P"}));
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(kmv_regdata[0][4 + c], 0);
    EXPECT_EQ(module().dac_output(c), 0);
  }
  device().i2c().inject_nak(0x25, 1);
  kmv_regdata[0][4] = 7;
  EXPECT_EQ(KMV_clear_all_dacs(0), -1);
  EXPECT_EQ(kmv_regdata[0][4], 7);
}

TEST_F(Dac, CacheOnlyModeTouchesNoDevice) {
  Set_TRQ_mode(5, 0);
  ASSERT_EQ(TRQ_mode, 5);
  CloseDevice(0);
  QV_FTDI_Type[0] = 0;
  device().clear_calls();
  ASSERT_EQ(KMV_set_register(0, 1, 0x0102), 0);
  ASSERT_EQ(KMV_set_dac_chan(0, 4, 300), 0);
  unsigned short v = 0;
  ASSERT_EQ(KMV_get_register(0, 1, &v), 0);
  EXPECT_EQ(v, 0x0102);
  EXPECT_EQ(kmv_regdata[0][8], 300);
  ASSERT_EQ(KMV_clear_all_dacs(0), 0);
  EXPECT_EQ(kmv_regdata[0][8], 0);
  unsigned char buf[4] = {1, 2, 3, 4};
  int done = 77;
  EXPECT_EQ(KMV_ReadUserEEP(0, buf, 0, 4, &done, 1), 0);
  EXPECT_EQ(done, 77);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(KMV_WriteUserEEP(0, buf, 0, 4), 0);
  EXPECT_EQ(KMV_ReadUserEEP(0, buf, 0, 0, &done, 1), -4);  // the range check comes first
  EXPECT_TRUE(device().calls().empty());
  EXPECT_EQ(module().register_latch(1), 0xFFFF);
}

TEST(TransportModes, SetModeStoresOnlyItsOwnCacheOnlyValue) {
  struct Case {
    unsigned short mode;
    int trq, vaj;
  };
  const Case cases[] = {{5, 5, 0}, {6, 0, 6}, {3, 0, 0}, {0, 0, 0}};
  for (const Case &c : cases) {
    Set_TRQ_mode(0, 0);
    Set_VAJ_mode(0, 0);
    Set_TRQ_mode(c.mode, 1);
    Set_VAJ_mode(c.mode, 1);
    EXPECT_EQ(TRQ_mode, c.trq) << c.mode;
    EXPECT_EQ(VAJ_mode, c.vaj) << c.mode;
  }
  Set_TRQ_mode(5, 0);
  Set_TRQ_mode(7, 0);  // above 6: ignored
  EXPECT_EQ(TRQ_mode, 5);
  Set_TRQ_mode(0, 0);
}

}  // namespace
