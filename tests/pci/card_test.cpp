// The card road: open by index and slot, registers, transfers, close.
#include <cstring>
#include <string>

#include "platform/driver/user_addr.h"
#include "tests/pci/pci_fixture.h"

namespace pcitest {
namespace {

using CardTest = PciFixture;
const wire::Layout &L = wire::layout(wire::kNative);

TEST_F(CardTest, OpenRoadSendsScanInfoConfigRegisterWithTheirRecords) {
  bus().add_plx9050({0, 15, 0});  // a second card, later in the scan
  start();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 1, 0x55), 1) << PLX_GetLastErr();
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(functions(), (std::vector<uint32_t>{kWdFnPciScan, kWdFnPciCardInfo, kWdFnPciConfig, kWdFnCardRegister}));
  const auto &scan = *requests()[0];
  ASSERT_EQ(scan.record.size(), 2016u);
  EXPECT_EQ(u32(scan, 0), 0x10B5u);
  EXPECT_EQ(u32(scan, 4), 0x9050u);
  EXPECT_EQ(u32(scan, 8), 2u);
  EXPECT_EQ(u32(scan, 12 + 8), 0x10B5u);
  EXPECT_EQ(u32(scan, 812 + 12 + 4), 15u) << "second card's slot";
  EXPECT_EQ(u32(scan, 2012), 0u);

  const auto &info = *requests()[1];
  ASSERT_EQ(info.record.size(), L.card_info_size);
  EXPECT_EQ(u32(info, 4), 15u);
  const uint32_t items = u32(info, 16);
  EXPECT_EQ(items, 5u) << "bus, registers in memory, registers in I/O, local space, interrupt";
  EXPECT_EQ(u32(info, 16 + 8 + 0), kItemBus);
  EXPECT_EQ(u32(info, 16 + 8 + 8), kBusPci);
  const uint32_t mem = 16 + 8 + L.item_size;
  EXPECT_EQ(u32(info, mem), kItemMemory);
  EXPECT_EQ(u64(info, mem + 16), 128u);

  const auto &cfg = *requests()[2];
  ASSERT_EQ(cfg.record.size(), 32u);
  EXPECT_EQ(u32(cfg, 4), 15u);
  EXPECT_NE(u32(cfg, 12), 0u) << "the buffer's user address";
  EXPECT_EQ(u32(cfg, 16), 0u);
  EXPECT_EQ(u32(cfg, 20), 4u);
  EXPECT_EQ(u32(cfg, 24), 1u);
  EXPECT_EQ(u32(cfg, 28), 0u);

  const auto &reg = *requests()[3];
  ASSERT_EQ(reg.record.size(), L.register_size);
  EXPECT_NE(u32(reg, L.register_handle), 0u);
  const uint32_t reg_mem = 8 + L.item_size;
  EXPECT_EQ(u32(reg, reg_mem), kItemMemory);
  EXPECT_EQ(u32(reg, reg_mem + 4), 0u) << "not-sharable cleared";
  EXPECT_NE(u32(reg, reg_mem + L.mem_user), 0u) << "the mapping";
  EXPECT_EQ(u32(reg, reg_mem + L.mem_user), h->spaces[0].user);

  EXPECT_EQ(h->vendor, 0x10B5u);
  EXPECT_EQ(h->device, 0x9050u);
  EXPECT_EQ(h->num_spaces, 3u);
  EXPECT_EQ(WDC_AddrSpaceIsActive(h, 0), 128u);
  EXPECT_EQ(WDC_AddrSpaceIsActive(h, 2), 16u);
  EXPECT_EQ(WDC_AddrSpaceIsActive(h, 3), 0u);
  EXPECT_EQ(PLX_IsMaster(h), 0);
  auto *ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(h));
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->cntrl, 0x50u);
  EXPECT_EQ(ctx->intcsr, 0x4Cu);
  EXPECT_EQ(ctx->vendor, 0u);

  const uint32_t card_handle = u32(reg, L.register_handle);
  bus().log.clear();  // the records above go with it
  PLX_DeviceClose(h);
  ASSERT_EQ(functions(), (std::vector<uint32_t>{kWdFnCardUnregister}));
  EXPECT_EQ(u32(*requests()[0], L.register_handle), card_handle);
  EXPECT_EQ(platform::driver::user_addr_live(), live_at_start);
}

TEST_F(CardTest, RegistersOfSpaceZeroAreLoadsAndStoresWithoutRequests) {
  start();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1);
  bus().log.clear();
  plx->set_reg(0x50, 0x00000DB6u);
  plx->cntrl_writes.clear();
  EXPECT_EQ(P9050_ReadReg(h, 0x50) & 0xFFFu, 0xDB6u);
  // the same value three times: each write must reach the bridge
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WDC_WriteAddr32(h, 0, 0x50, 0x01000DB6u), kWdSuccess);
  EXPECT_EQ(plx->cntrl_writes, (std::vector<uint32_t>(3, 0x01000DB6u)));
  uint16_t w = 0;
  EXPECT_EQ(WDC_ReadAddr16(h, 0, 0x50, &w), kWdSuccess);
  EXPECT_EQ(w, 0x0DB6u);
  EXPECT_TRUE(requests().empty());
  PLX_DeviceClose(h);
}

TEST_F(CardTest, IoSpaceAccessIsOneBlockTransferPerValue) {
  start();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1);
  plx->set_reg(0x4C, 0x41u);
  bus().log.clear();
  uint32_t v = 0;
  ASSERT_EQ(WDC_ReadAddr32(h, 1, 0x4C, &v), kWdSuccess);  // the registers again, through I/O
  EXPECT_EQ(v & 0xFFu, 0x41u);
  ASSERT_EQ(functions(), (std::vector<uint32_t>{kWdFnTransfer}));
  const auto &t = *requests()[0];
  ASSERT_EQ(t.record.size(), 32u);
  const uint64_t port = L.kernel_bytes == 8 ? u64(t, 0) : u32(t, 0);
  EXPECT_EQ(port, plx->bars[1].base + 0x4C);
  EXPECT_EQ(u32(t, L.xfer_command), kCmdReadPortBlock32);
  EXPECT_EQ(u32(t, L.xfer_bytes), 4u);
  EXPECT_EQ(u32(t, L.xfer_auto), 1u);
  EXPECT_NE(u32(t, 24), 0u) << "the value's user address";

  EXPECT_EQ(WDC_WriteAddr16(h, 2, 2, 0xBEEF), kWdSuccess);
  uint16_t back = 0;
  EXPECT_EQ(WDC_ReadAddr16(h, 2, 2, &back), kWdSuccess);
  EXPECT_EQ(back, 0xBEEF);
  EXPECT_EQ(u32(*requests()[1], L.xfer_command), kCmdWritePortBlock16);

  // a failed transfer leaves the caller's value alone
  bus().inject(kWdFnTransfer, kWdOperationFailed);
  uint8_t b = 0x5A;
  EXPECT_EQ(WDC_ReadAddr8(h, 2, 0, &b), kWdOperationFailed);
  EXPECT_EQ(b, 0x5A);
  PLX_DeviceClose(h);
}

TEST_F(CardTest, BlockAccessOnMemoryAndIoSpaces) {
  start();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1);
  const uint32_t out[4] = {0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u};
  ASSERT_EQ(WDC_WriteAddrBlock(h, 0, 0x00, sizeof out, out, 4, 0), kWdSuccess);
  uint32_t in[4] = {};
  ASSERT_EQ(WDC_ReadAddrBlock(h, 1, 0x00, sizeof in, in, 4, 0), kWdSuccess);
  EXPECT_EQ(std::memcmp(in, out, sizeof in), 0) << "written through memory, read through I/O";
  auto xfers = bus().requests(kWdFnTransfer);
  ASSERT_EQ(xfers.size(), 2u);
  EXPECT_EQ(u32(*xfers[0], L.xfer_command), kCmdWriteMemBlock32);
  EXPECT_EQ(u32(*xfers[1], L.xfer_command), kCmdReadPortBlock32);

  uint8_t same[4] = {};
  ASSERT_EQ(WDC_ReadAddrBlock(h, 1, 0x04, sizeof same, same, 1, WDC_ADDR_RW_NO_AUTOINC), kWdSuccess);
  EXPECT_EQ(same[0], 0x22);
  EXPECT_EQ(same[3], 0x22) << "one address, four reads";
  EXPECT_EQ(u32(*bus().requests(kWdFnTransfer).back(), L.xfer_auto), 0u);
  PLX_DeviceClose(h);
}

TEST_F(CardTest, AccessesToMissingOrInactiveSpacesFailWithoutTouchingTheBus) {
  start();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1);
  bus().log.clear();
  struct Row {
    WDCDeviceHandle handle;
    uint32_t space, offset;
  };
  const Row rows[] = {
      {nullptr, 0, 0x50},  // no card
      {h, 3, 0x50},        // inactive: would have gone to host port 0x50
      {h, 19, 0},          // last descriptor, inactive
      {h, 20, 0},          // beyond the descriptors
      {h, 0xFFFFFFFFu, 0},
      {h, 0, 128},         // past the end of the space
      {h, 2, 15},          // a word across the end
  };
  for (const Row &r : rows) {
    uint32_t v = 0x1234;
    uint16_t w = 0;
    uint8_t buf[4];
    EXPECT_EQ(WDC_ReadAddr32(r.handle, r.space, r.offset, &v), kWdInvalidParameter) << r.space << " " << r.offset;
    EXPECT_EQ(v, 0x1234u);
    EXPECT_EQ(WDC_WriteAddr32(r.handle, r.space, r.offset, 1), kWdInvalidParameter);
    EXPECT_EQ(WDC_ReadAddr16(r.handle, r.space, r.offset + 1, &w), kWdInvalidParameter);
    EXPECT_EQ(WDC_ReadAddrBlock(r.handle, r.space, r.offset, 4, buf, 4, 0), kWdInvalidParameter);
    EXPECT_EQ(WDC_WriteAddrBlock(r.handle, r.space, r.offset, 4, buf, 4, 0), kWdInvalidParameter);
  }
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(P9050_ReadReg(nullptr, 0x50), 0xFFFFFFFFu);
  PLX_DeviceClose(h);
}

TEST_F(CardTest, IndexAtOrBeyondTheCountIsNotFound) {
  start();
  for (uint32_t index : {1u, 7u, 0xFFFFFFFFu}) {
    WDCDeviceHandle h = reinterpret_cast<WDCDeviceHandle>(0x1);  // as the caller left it
    EXPECT_EQ(PLX_DeviceOpen(&h, 0x10B5, 0x9050, index, 0), kWdDeviceNotFound);
    EXPECT_EQ(h, reinterpret_cast<WDCDeviceHandle>(0x1));
    const std::string expect = "PLX_DeviceOpen: No matching PLX device was found for search criteria (Vendor ID "
                               "0x10B5, Device ID 0x9050, Card Nmuber " +
                               std::to_string(static_cast<long>(index)) + ")\n";
    EXPECT_EQ(PLX_GetLastErr(), expect);
  }
  EXPECT_EQ(bus().count(kWdFnCardRegister), 0u);
}

TEST_F(CardTest, CardWithoutRangesIsRegisteredAndUnregisteredOnce) {
  bus().remove(kSlot);
  bus().add(kSlot, std::make_shared<sim::PciPlainFunction>(0x10B5, 0x9050, 0));
  start();
  WDCDeviceHandle h = reinterpret_cast<WDCDeviceHandle>(0x1);
  EXPECT_EQ(PLX_DeviceOpen(&h, 0x10B5, 0x9050, 0, 0), kWdInvalidParameter);
  EXPECT_EQ(h, nullptr);
  EXPECT_STREQ(PLX_GetLastErr(), "Device does not have any active memory or I/O address spaces\n");
  EXPECT_EQ(bus().count(kWdFnCardRegister), 1u);
  EXPECT_EQ(bus().count(kWdFnCardUnregister), 1u);
}

// A scan that finds nothing may answer 0 or "Device not found": either way
// the search goes on with the next scan.
TEST_F(CardTest, FailedIdentityReadFindsTheCardThroughTheScans) {
  bus().config_fails.insert(kSlot);
  start();
  for (const uint32_t no_match : {0u, 0x2000000Fu}) {
    bus().scan_no_match_status = no_match;
    bus().log.clear();
    WDCDeviceHandle h = nullptr;
    ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr();
    std::vector<uint32_t> scan_options, statuses;
    for (const sim::PciRequest *r : bus().requests(kWdFnPciScan)) {
      scan_options.push_back(u32(*r, 2012));
      statuses.push_back(r->status);
    }
    // the open's own scan, then registered cards only (not yet), then plain
    EXPECT_EQ(scan_options, (std::vector<uint32_t>{0, 2, 0})) << no_match;
    EXPECT_EQ(statuses, (std::vector<uint32_t>{0, no_match, 0})) << no_match;
    EXPECT_EQ(h->vendor, 0x10B5u);
    EXPECT_EQ(h->device, 0x9050u);
    PLX_DeviceClose(h);
  }
}

TEST_F(CardTest, OpenFailuresLeaveNothingBehind) {
  struct Row {
    const char *what;
    uint32_t function, status;
    const char *plx_text;
    uint32_t registers, unregisters;
  };
  static const Row kRows[] = {
      {"scan", kWdFnPciScan, kWdOperationFailed,
       "PLX_DeviceOpen: Failed scanning the PCI bus.\nError: 0x20000020 - Operation failed\n", 0, 0},
      {"info", kWdFnPciCardInfo, kWdDeviceNotFound,
       "PLX_DeviceOpenBySlot: Failed retrieving the device's resources information.\nError 0x2000000f - Device not "
       "found\n",
       0, 0},
      {"register", kWdFnCardRegister, kWdResourceOverlap,
       "Failed opening a WDC device handle. Error 0x2000000e - Resource overlap\n", 1, 0},
  };
  for (const Row &r : kRows) {
    start();
    bus().inject(r.function, r.status);
    WDCDeviceHandle h = nullptr;
    EXPECT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 0) << r.what;
    EXPECT_EQ(h, nullptr);
    EXPECT_STREQ(PLX_GetLastErr(), r.plx_text) << r.what;
    EXPECT_EQ(bus().count(kWdFnCardRegister), r.registers) << r.what;
    EXPECT_EQ(bus().count(kWdFnCardUnregister), r.unregisters) << r.what;
    EXPECT_EQ(registered(), 0u);
    reset_library();
  }
}

TEST_F(CardTest, AnotherRegistrationOfAnExclusiveCardOverlaps) {
  bus().exclusive_registration = true;
  start();
  WDCDeviceHandle a = nullptr, b = nullptr;
  ASSERT_EQ(P9050_Open(&a, 0x10B5, 0x9050, 0, 0), 1);
  EXPECT_EQ(P9050_Open(&b, 0x10B5, 0x9050, 0, 0), 0);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(std::string(WdcGetLastErrStr()).find("Failed registering the device. Error [0x2000000e"),
            std::string::npos);
  PLX_DeviceClose(a);
  ASSERT_EQ(P9050_Open(&b, 0x10B5, 0x9050, 0, 0), 1) << "free again after the close";
  PLX_DeviceClose(b);
}

TEST_F(CardTest, CloseOfANullHandleOnlyWritesItsMessage) {
  start();
  PLX_DeviceClose(nullptr);
  EXPECT_STREQ(PLX_GetLastErr(), "PLX_DeviceClose: Error - NULL device handle\n");
  EXPECT_EQ(WDC_PciDeviceClose(nullptr), kWdInvalidParameter);
  EXPECT_TRUE(requests().empty());
}

TEST_F(CardTest, CloseReportsItsFirstFailure) {
  start();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1);
  h->kp.handle = 9;  // a plug-in the simulated driver cannot close
  bus().inject(kWdFnCardUnregister, kWdInvalidHandle);
  EXPECT_EQ(WDC_PciDeviceClose(h), kWdNotImplemented);
  EXPECT_EQ(bus().count(kWdFnKpClose), 1u);
  EXPECT_EQ(bus().count(kWdFnCardUnregister), 1u) << "the close goes on after a failure";
  EXPECT_NE(std::string(WdcGetLastErrStr()).find("Failed unregistering the device"), std::string::npos);
}

}  // namespace
}  // namespace pcitest
