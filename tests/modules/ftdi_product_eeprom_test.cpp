// The D2XX product-EEPROM calls over the simulated bus.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "tests/modules/ftdi_fixture.h"
#include "tests/modules/program_data.h"

namespace {

using ftdi_test::SimBusTest;

using ftdi_test::ProgramData;

class ProductEeprom : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    bus_->add_module("KMV00001", sim::ModuleOptions{"UM232H Q&V5", 7, true});
    DWORD n = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
    ASSERT_EQ(FT_Open(0, &h_), FT_OK);
  }
  void TearDown() override {
    if (h_) FT_Close(h_);
    SimBusTest::TearDown();
  }
  FT_HANDLE h_ = nullptr;
};

TEST_F(ProductEeprom, ReadGivesTheChipsStrings) {
  ProgramData p;
  ASSERT_EQ(FT_EE_Read(h_, &p.data), FT_OK);
  EXPECT_STREQ(p.description.data(), "UM232H Q&V5");
  EXPECT_STREQ(p.serial.data(), "KMV00001");
  EXPECT_STREQ(p.manufacturer.data(), "FTDI");
  EXPECT_STREQ(p.manufacturer_id.data(), "KM");
  EXPECT_EQ(p.data.VendorId, 0x0403);
  EXPECT_EQ(p.data.ProductId, 0x6014);
}

TEST_F(ProductEeprom, ProgramKeepsTheUserAreaAndShowsAfterACycle) {
  ProgramData p;
  ASSERT_EQ(FT_EE_Read(h_, &p.data), FT_OK);
  std::strcpy(p.description.data(), "UM232H Q&V6");
  ASSERT_EQ(FT_EE_Program(h_, &p.data), FT_OK);
  std::array<UCHAR, 16> ua{};
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h_, ua.data(), 16, &got), FT_OK);
  EXPECT_EQ(ua[2], 7);
  ASSERT_EQ(FT_CyclePort(h_), FT_OK);
  FT_Close(h_);
  h_ = nullptr;
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  FT_DEVICE_LIST_INFO_NODE node{};
  ASSERT_EQ(FT_GetDeviceInfoList(&node, &n), FT_OK);
  EXPECT_STREQ(node.Description, "UM232H Q&V6");
}

TEST_F(ProductEeprom, BadRecordsAreRefusedAndChangeNothing) {
  const std::vector<uint8_t> before = bus_->device("KMV00001")->eeprom_image();
  ProgramData unsigned_record;
  unsigned_record.data.Signature2 = 0;
  EXPECT_EQ(FT_EE_Read(h_, &unsigned_record.data), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_EE_Program(h_, &unsigned_record.data), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_EE_Program(h_, nullptr), FT_INVALID_PARAMETER);
  ProgramData unterminated;
  ASSERT_EQ(FT_EE_Read(h_, &unterminated.data), FT_OK);
  unterminated.serial.fill('S');
  EXPECT_EQ(FT_EE_Program(h_, &unterminated.data), FT_INVALID_PARAMETER);
  ProgramData too_long;
  ASSERT_EQ(FT_EE_Read(h_, &too_long.data), FT_OK);
  std::memset(too_long.description.data(), 'd', 60);
  EXPECT_EQ(FT_EE_Program(h_, &too_long.data), FT_INVALID_PARAMETER);  // no room in the chip
  EXPECT_EQ(bus_->device("KMV00001")->eeprom_image(), before);
}

TEST_F(ProductEeprom, UserAreaWriteAndItsLimits) {
  DWORD size = 0;
  ASSERT_EQ(FT_EE_UASize(h_, &size), FT_OK);
  std::vector<UCHAR> data(size, 0x5A);
  ASSERT_EQ(FT_EE_UAWrite(h_, data.data(), size), FT_OK);
  std::vector<UCHAR> back(size);
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h_, back.data(), size, &got), FT_OK);
  EXPECT_EQ(back, data);
  data.push_back(1);
  EXPECT_EQ(FT_EE_UAWrite(h_, data.data(), size + 1), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_EE_UAWrite(h_, nullptr, 1), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_EE_UAWrite(nullptr, data.data(), 1), FT_INVALID_HANDLE);
}

TEST_F(ProductEeprom, ComPortNumberOfTheSimulatedChip) {
  LONG port = 0;
  ASSERT_EQ(FT_GetComPortNumber(h_, &port), FT_OK);
  EXPECT_EQ(port, -1);
  bus_->device("KMV00001")->set_com_port(4);
  ASSERT_EQ(FT_GetComPortNumber(h_, &port), FT_OK);
  EXPECT_EQ(port, 4);
}

}  // namespace
