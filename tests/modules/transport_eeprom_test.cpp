// The module EEPROM, the device-data block and the two-register module.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "tests/modules/ftdi_fixture.h"

namespace {

using ftdi_test::traffic;
using Strings = std::vector<std::string>;

class Eeprom : public ftdi_test::ModuleTest {
 protected:
  void SetUp() override {
    ftdi_test::ModuleTest::SetUp();
    for (int i = 0; i < 512; ++i) module().eeprom()[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  // Start addresses and data counts of the EEPROM write transactions.
  std::vector<std::pair<int, int>> page_writes() {
    std::vector<std::pair<int, int>> out;
    for (const auto &t : device().i2c().log()) {
      if (t.read() || (t.address() != 0x50 && t.address() != 0x51) || t.bytes.size() < 2) continue;
      out.push_back({(t.address() & 1) * 256 + t.bytes[0], static_cast<int>(t.bytes.size()) - 1});
    }
    return out;
  }
};

TEST_F(Eeprom, ReadIsOneRandomReadTransaction) {
  unsigned char buf[3] = {};
  int done = -1;
  ASSERT_EQ(KMV_ReadUserEEP(0, buf, 0x0110, 3, &done, 0), 0);
  EXPECT_EQ(done, 3);
  EXPECT_EQ(traffic(device()), (Strings{"WA2+ 10+ S", "RA3+ 73+ 7A+ 81- P"}));
  EXPECT_EQ(buf[0], module().eeprom()[0x110]);
  EXPECT_EQ(buf[2], module().eeprom()[0x112]);
}

TEST_F(Eeprom, ReadAcrossTheBankBoundaryIsSplit) {
  unsigned char buf[10] = {};
  int done = -1;
  ASSERT_EQ(KMV_ReadUserEEP(0, buf, 250, 10, &done, 0), 0);
  EXPECT_EQ(done, 10);
  const auto t = traffic(device());
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0], "WA0+ FA+ S");
  EXPECT_EQ(t[2], "WA2+ 00+ S");
  EXPECT_EQ(device().i2c().log()[1].bytes.size(), 6u);
  EXPECT_EQ(device().i2c().log()[3].bytes.size(), 4u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], module().eeprom()[250 + i]) << i;
}

TEST_F(Eeprom, DoneCountsTheBytesOfTheTransactionsThatSucceeded) {
  unsigned char buf[10] = {};
  int done = -1;
  device().i2c().inject_nak(0x51, 0);
  EXPECT_EQ(KMV_ReadUserEEP(0, buf, 250, 10, &done, 0), -1);
  EXPECT_EQ(done, 6);
  device().i2c().inject_nak(0x50, 1);
  EXPECT_EQ(KMV_ReadUserEEP(0, buf, 250, 10, &done, 0), -1);
  EXPECT_EQ(done, 0);
}

TEST_F(Eeprom, RangeIsCheckedInFullWidthBeforeAnyTraffic) {
  struct Case {
    unsigned short address;
    int count;
    int result;
  };
  const Case cases[] = {{0, 0, -4},   {500, 20, -4}, {65535, 2, -4}, {0, -1, -4}, {0, 513, -4},
                        {0, 65546, -4}, {511, 1, 0},   {0, 512, 0}};
  std::vector<unsigned char> buf(512);
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.address << "+" << c.count);
    clear_logs();
    int done = -7;
    EXPECT_EQ(KMV_ReadUserEEP(0, buf.data(), c.address, c.count, &done, 0), c.result);
    if (c.result != 0) {
      EXPECT_TRUE(device().calls().empty());
      EXPECT_EQ(done, -7);
      EXPECT_EQ(KMV_WriteUserEEP(0, buf.data(), c.address, c.count), c.result);
      EXPECT_TRUE(device().calls().empty());
    }
  }
}

TEST_F(Eeprom, WriteGoesInSixteenBytePages) {
  struct Case {
    unsigned short address;
    int count;
    std::vector<std::pair<int, int>> transactions;
  };
  const Case cases[] = {
      {0, 49, {{0, 16}, {16, 16}, {32, 16}, {48, 1}}},
      {100, 5, {{100, 1}, {101, 1}, {102, 1}, {103, 1}, {104, 1}}},
      {128, 41, {{128, 16}, {144, 16}, {160, 1}, {161, 1}, {162, 1}, {163, 1}, {164, 1}, {165, 1}, {166, 1},
                 {167, 1}, {168, 1}}},
      {15, 2, {{15, 1}, {16, 1}}},
      {255, 2, {{255, 1}, {256, 1}}},
      {496, 16, {{496, 16}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.address << "+" << c.count);
    clear_logs();
    std::vector<unsigned char> data(c.count);
    std::iota(data.begin(), data.end(), static_cast<unsigned char>(c.address + 1));
    const double t0 = platform::clock::now();
    ASSERT_EQ(KMV_WriteUserEEP(0, data.data(), c.address, c.count), 0);
    EXPECT_EQ(page_writes(), c.transactions);
    EXPECT_GE(platform::clock::now() - t0, 0.010 * c.transactions.size());
    for (int i = 0; i < c.count; ++i) ASSERT_EQ(module().eeprom()[c.address + i], data[i]) << i;
    EXPECT_TRUE(device().i2c().violations().empty());
  }
}

TEST_F(Eeprom, FailedPageIsNotCommittedAndStopsTheWrite) {
  std::vector<unsigned char> data(49, 0x11);
  const auto before = module().eeprom();
  device().i2c().inject_nak(0x50, 6);  // the page's fifth data byte (the address byte is 1)
  EXPECT_EQ(KMV_WriteUserEEP(0, data.data(), 0, 49), -1);
  EXPECT_EQ(module().eeprom(), before);
  EXPECT_EQ(device().i2c().log().size(), 1u);
  EXPECT_EQ(module().eeprom_commits(), 0);
  ASSERT_EQ(KMV_WriteUserEEP(0, data.data(), 0, 49), 0);  // the next start ends the broken one
  EXPECT_EQ(module().eeprom_commits(), 4);
  EXPECT_EQ(module().eeprom()[48], 0x11);
}

TEST_F(Eeprom, ClosedDeviceIsOpenedForAReadOnRequestOnly) {
  ASSERT_EQ(KMV_set_register(0, 0, 0x1234), 0);
  CloseDevice(0);
  unsigned char buf[4] = {};
  int done = 0;
  EXPECT_EQ(KMV_ReadUserEEP(0, buf, 0, 4, &done, 0), -1);
  EXPECT_EQ(KMV_WriteUserEEP(0, buf, 0, 4), -1);
  ASSERT_EQ(KMV_ReadUserEEP(0, buf, 0, 4, &done, 1), 0);
  EXPECT_EQ(done, 4);
  EXPECT_EQ(buf[1], module().eeprom()[1]);
  EXPECT_EQ(FTDIHandle[0], nullptr);          // closed again
  EXPECT_EQ(kmv_regdata[0][0], 0x1234);       // the cache survives the open on request
  bus_->set_held_elsewhere("KMV00001", true);
  EXPECT_EQ(KMV_ReadUserEEP(0, buf, 0, 4, &done, 1), 3);  // the open's status
  EXPECT_EQ(FTDIHandle[0], nullptr);
}

TEST_F(Eeprom, DeviceDataBlockRoundTrip) {
  KMVDeviceData d{};
  for (int r = 0; r < 4; ++r) d.registers[r] = static_cast<uint16_t>(0x1111 * (r + 1));
  for (int c = 0; c < 16; ++c) d.dac[c] = static_cast<uint16_t>(0xF000 | (c * 100));
  ASSERT_EQ(KMV_set_data(0, 1, d), 0);
  uint8_t sum = 0;
  for (int i = 128; i < 169; ++i) sum = static_cast<uint8_t>(sum + module().eeprom()[i]);
  EXPECT_EQ(sum, 0x55);
  EXPECT_EQ(module().eeprom()[128], 0x11);
  KMVDeviceData back{};
  ASSERT_EQ(KMV_get_data(0, 1, &back), 0);
  EXPECT_EQ(back.registers[3], 0x4444);
  EXPECT_EQ(back.dac[5], 500);  // DAC words masked to 12 bits
  module().eeprom()[140] ^= 1;
  EXPECT_EQ(KMV_get_data(0, 1, &back), -1007);
  kmv_regdata[0][2] = 77;
  ASSERT_EQ(KMV_get_data(0, 0, &back), 0);
  EXPECT_EQ(back.registers[2], 77);
}

TEST_F(Eeprom, DeviceDataAppliedToTheModule) {
  KMVDeviceData d{};
  d.registers[0] = 0x00A5;
  d.registers[1] = 0xE000;
  for (int c = 0; c < 16; ++c) d.dac[c] = static_cast<uint16_t>(100 + c);
  ASSERT_EQ(KMV_set_data(0, 0, d), 0);
  EXPECT_EQ(module().register_latch(0), 0x00A5);
  for (int c = 0; c < 12; ++c) EXPECT_EQ(module().dac_output(c), 100 + c);
  EXPECT_EQ(module().dac_output(12), 0);  // channels 12..15 are not sent
}

TEST_F(Eeprom, DeviceDataReportsAFailedRegisterEvenWhenTheDacsSucceed) {
  KMVDeviceData d{};
  d.registers[0] = 0x00A5;
  d.dac[0] = 10;
  device().i2c().inject_nak(0x24, 0, -1);
  EXPECT_EQ(KMV_set_data(0, 0, d), -1);
  EXPECT_EQ(module().dac_output(0), 10);
  // The register loop was tried twice.
  int tries = 0;
  for (const auto &t : device().i2c().log()) tries += t.wire_address == 0x48;
  EXPECT_EQ(tries, 2);
}

// Cache-only with the device closed: the EEPROM operations, those that open
// a closed device on request included, touch no device and take no time.
TEST_F(Eeprom, CacheOnlyEepromOperationsTouchNoDevice) {
  kmv_regdata[0][2] = 0x0777;
  CloseDevice(0);
  Set_TRQ_mode(5, 0);
  device().clear_calls();
  const auto eeprom_before = module().eeprom();
  unsigned char buf[4] = {1, 2, 3, 4};
  int done = 9;
  KMVDeviceData d{};
  d.registers[2] = 0x1234;
  KMVDeviceData out{};
  const std::vector<std::pair<const char *, std::function<int()>>> calls = {
      {"read, opening on request", [&] { return KMV_ReadUserEEP(0, buf, 0, 4, &done, 1); }},
      {"write", [&] { return KMV_WriteUserEEP(0, buf, 0, 4); }},
      {"data block from the EEPROM", [&] { return KMV_get_data(0, 1, &out); }},
      {"data block to the EEPROM", [&] { return KMV_set_data(0, 1, d); }},
  };
  for (const auto &[what, call] : calls) {
    SCOPED_TRACE(what);
    const double t0 = platform::clock::now();
    EXPECT_EQ(call(), 0);
    EXPECT_TRUE(device().calls().empty());
    EXPECT_EQ(FTDIHandle[0], nullptr);
    EXPECT_EQ(platform::clock::now(), t0);
  }
  EXPECT_EQ(done, 9);
  EXPECT_EQ(out.registers[2], 0x0777);  // the cache row
  EXPECT_EQ(kmv_regdata[0][2], 0x0777);
  EXPECT_EQ(module().eeprom(), eeprom_before);
}

class TwoRegisterModule : public ftdi_test::SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    sim::ModuleOptions o;
    o.description = "UM232H Q&V6";
    module_ = &bus_->add_module("VAJ00001", o);
    int n = 0;
    ASSERT_EQ(GetFtdiDevices(6, &n), 0);
    ASSERT_EQ(n, 1);
    ASSERT_EQ(OpenDevice(0, 0), 0);
    device_ = bus_->device("VAJ00001");
    device_->i2c().clear_log();
  }
  sim::KmvModule *module_ = nullptr;
  sim::FtdiDevice *device_ = nullptr;
};

TEST_F(TwoRegisterModule, RegistersWithoutForcedBits) {
  ASSERT_EQ(VAJ_set_register(0, 1, 0x1230), 0);
  EXPECT_EQ(traffic(*device_), Strings{"W4A+ 30+ 12+ P"});
  EXPECT_EQ(VAJ_set_register(0, 2, 0), -1);
  ASSERT_EQ(VAJ_set_bit_in_register(0, 0, 15, 1), 0);
  EXPECT_EQ(module_->register_latch(0), 0x8000);
  module_->set_input_pins(1, 0x0000);
  device_->i2c().clear_log();
  unsigned short v = 0;
  ASSERT_EQ(VAJ_get_register(0, 1, &v), 0);
  EXPECT_EQ(v, 0x1230);  // no input bits: the cached word
  EXPECT_FALSE(device_->i2c().log().empty());
  EXPECT_EQ(KMV_set_register(0, 0, 1), -1);  // not a type-5 module
}

TEST_F(TwoRegisterModule, DataBlockAndEepromOpenedOnEveryRead) {
  ASSERT_EQ(VAJ_set_data(0, 1, 0x12345678), 0);
  int v = 0;
  ASSERT_EQ(VAJ_get_data(0, 1, &v), 0);
  EXPECT_EQ(v, 0x12345678);
  ASSERT_EQ(VAJ_set_data(0, 0, static_cast<int>(0xBEEF0042u)), 0);
  EXPECT_EQ(module_->register_latch(0), 0x0042);
  EXPECT_EQ(module_->register_latch(1), 0xBEEF);
  CloseDevice(0);
  unsigned char buf[5] = {};
  int done = 0;
  ASSERT_EQ(VAJ_ReadUserEEP(0, buf, 128, 5, &done), 0);
  EXPECT_EQ(done, 5);
  EXPECT_EQ(buf[0], 0x78);
  EXPECT_EQ(FTDIHandle[0], nullptr);
  Set_VAJ_mode(6, 0);
  ASSERT_EQ(VAJ_get_data(0, 1, &v), 0);
  EXPECT_EQ(v, static_cast<int>(0xBEEF0042u));
}

TEST_F(TwoRegisterModule, CacheOnlyEepromOperationsTouchNoDevice) {
  vaj_regdata[0][0] = 0x0042;
  CloseDevice(0);
  Set_VAJ_mode(6, 0);
  device_->clear_calls();
  const auto eeprom_before = module_->eeprom();
  unsigned char buf[5] = {1, 2, 3, 4, 5};
  int done = 9;
  int out = 0;
  const std::vector<std::pair<const char *, std::function<int()>>> calls = {
      {"read, which opens a closed device in hardware", [&] { return VAJ_ReadUserEEP(0, buf, 128, 5, &done); }},
      {"write", [&] { return VAJ_WriteUserEEP(0, buf, 128, 5); }},
      {"data block from the EEPROM", [&] { return VAJ_get_data(0, 1, &out); }},
      {"data block to the EEPROM", [&] { return VAJ_set_data(0, 1, 0x11112222); }},
  };
  for (const auto &[what, call] : calls) {
    SCOPED_TRACE(what);
    const double t0 = platform::clock::now();
    EXPECT_EQ(call(), 0);
    EXPECT_TRUE(device_->calls().empty());
    EXPECT_EQ(FTDIHandle[0], nullptr);
    EXPECT_EQ(platform::clock::now(), t0);
  }
  EXPECT_EQ(done, 9);
  EXPECT_EQ(out, 0x0042);  // the cache
  EXPECT_EQ(module_->eeprom(), eeprom_before);
}

TEST(CheckByte, SumOfTheBlockIs0x55) {
  unsigned char block[5] = {1, 2, 3, 4, 0};
  prepare_QV_checksum(block, 5);
  EXPECT_EQ(block[4], 0x55 - 10);
  EXPECT_EQ(test_QV_checksum(block, 5), 0);
  block[0] = 2;
  EXPECT_EQ(test_QV_checksum(block, 5), 1);
}

}  // namespace
