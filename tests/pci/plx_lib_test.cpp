// PLX operations beyond the card road.
#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/win/clock.h"
#include "tests/pci/pci_fixture.h"

namespace pcitest {
namespace {

// A 93C46-style serial EEPROM on the CNTRL lines (64 words, 6 address bits),
// enough for the bit-banged access; the card's own model comes with the card.
class TestEeprom : public sim::PlxCntrlLines {
 public:
  std::array<uint16_t, 64> words{};
  bool stuck = false;  // writes are lost
  void cntrl_written(uint32_t v) override {
    const bool cs = v & (1u << 25), sk = v & (1u << 24), di = v & (1u << 26);
    if (!cs) {
      if (was_cs_ && state_ == kWrite && bits_ == 16 && enabled_ && !stuck) words[address_] = data_;
      reset();
      was_cs_ = false;
      return;
    }
    was_cs_ = true;
    if (sk && !last_sk_) clock(di);
    last_sk_ = sk;
  }
  uint32_t cntrl_read(uint32_t latched) override {
    return (latched & ~(1u << 27)) | (1u << 28) | (out_ ? 1u << 27 : 0u);
  }

 private:
  enum State { kIdle, kOpcode, kAddress, kRead, kWrite, kDone };
  void reset() {
    state_ = kIdle;
    bits_ = 0;
    opcode_ = address_ = 0;
    data_ = 0;
    out_ = true;  // ready
  }
  void clock(bool di) {
    switch (state_) {
      case kIdle:
        if (di) state_ = kOpcode, bits_ = 0;
        break;
      case kOpcode:
        opcode_ = opcode_ << 1 | di;
        if (++bits_ == 2) state_ = kAddress, bits_ = 0;
        break;
      case kAddress:
        address_ = (address_ << 1 | di) & 0x3F;
        if (++bits_ < 6) break;
        bits_ = 0;
        if (opcode_ == 2) {
          state_ = kRead;
          out_ = false;  // the dummy 0
        } else if (opcode_ == 1) {
          state_ = kWrite;
        } else {
          if ((address_ >> 4) == 3) enabled_ = true;
          if ((address_ >> 4) == 0) enabled_ = false;
          state_ = kDone;
        }
        break;
      case kRead:
        out_ = (words[address_] >> (15 - bits_)) & 1u;
        if (++bits_ == 16) state_ = kDone;
        break;
      case kWrite:
        if (bits_ < 16) data_ = static_cast<uint16_t>(data_ << 1 | di), ++bits_;
        break;
      case kDone:
        break;
    }
  }
  State state_ = kIdle;
  int bits_ = 0;
  uint32_t opcode_ = 0, address_ = 0;
  uint16_t data_ = 0;
  bool out_ = true, enabled_ = false, was_cs_ = false, last_sk_ = false;
};

class PlxLibTest : public PciFixture {
 protected:
  void open(int master = 0) {
    start();
    ASSERT_EQ((master ? P9054_Open : P9050_Open)(&h, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr();
    ctx = static_cast<PLXDeviceContext *>(WDC_GetDevContext(h));
    bus().log.clear();
  }
  void TearDown() override {
    if (h) PLX_DeviceClose(h);
    PciFixture::TearDown();
  }
  WDCDeviceHandle h = nullptr;
  PLXDeviceContext *ctx = nullptr;
};

TEST_F(PlxLibTest, EveryOperationChecksHandleAndContext) {
  open();
  // a card opened by the card layer alone has no PLX context
  auto info = std::make_unique<WDPciCardInfo>();
  std::memset(info.get(), 0, sizeof *info);
  info->slot = {0, 14, 0};
  ASSERT_EQ(WDC_PciGetDeviceInfo(info.get()), kWdSuccess);
  WDCDeviceHandle bare = nullptr;
  bus().exclusive_registration = false;
  ASSERT_EQ(WDC_PciDeviceOpen(&bare, info.get(), nullptr), kWdSuccess);
  for (WDCDeviceHandle dev : {static_cast<WDCDeviceHandle>(nullptr), bare}) {
    const std::string what = dev ? "context" : "handle";
    struct Row {
      const char *name;
      WDStatus status;
    };
    uint16_t w = 0;
    uint32_t d = 0;
    const Row rows[] = {
        {"PLX_IntEnable", PLX_IntEnable(dev, nullptr, nullptr)},
        {"PLX_IntDisable", PLX_IntDisable(dev)},
        {"PLX_EventRegister", PLX_EventRegister(dev, nullptr)},
        {"PLX_EventUnregister", PLX_EventUnregister(dev)},
        {"PLX_ReadAddrLocal16", PLX_ReadAddrLocal16(dev, 2, 0, &w)},
        {"PLX_WriteAddrLocal32", PLX_WriteAddrLocal32(dev, 2, 0, 1)},
        {"PLX_EEPROM_VPD_Read32", PLX_EEPROM_VPD_Read32(dev, 0, &d)},
        {"PLX_EEPROM_RT_Write16", PLX_EEPROM_RT_Write16(dev, 0, 1)},
        {"PLX_SoftResetMaster", PLX_SoftResetMaster(dev)},
    };
    for (const Row &r : rows) {
      EXPECT_EQ(r.status, kWdInvalidParameter) << r.name;
    }
    EXPECT_EQ(PLX_GetNumAddrSpaces(dev), 0u);
    EXPECT_EQ(std::string(PLX_GetLastErr()), "PLX_GetNumAddrSpaces: NULL device " + what + "\n");
    EXPECT_EQ(PLX_EEPROMIsPresent(dev), 0);
    EXPECT_EQ(PLX_IntIsEnabled(dev), 0);
    EXPECT_EQ(std::string(PLX_GetLastErr()), "PLX_IntIsEnabled: NULL device " + what + "\n");
  }
  EXPECT_EQ(WDC_PciDeviceClose(bare), kWdSuccess);
}

std::atomic<int> g_ints{0};
std::atomic<uint32_t> g_intcsr{0};
void on_plx_int(WDCDeviceHandle, PLXIntResult *r) {
  g_intcsr = r->intcsr;
  ++g_ints;
}

TEST_F(PlxLibTest, TargetInterruptsEnableOnTheBoardAndCountOnlyTheirOwn) {
  open();
  g_ints = 0;
  plx->set_reg(0x4C, 0x0041);
  ASSERT_EQ(PLX_IntEnable(h, on_plx_int, nullptr), kWdSuccess) << PLX_GetLastErr();
  EXPECT_EQ(plx->reg(0x4C) & 0xFFFF, 0x0541u) << "bits 8 and 10 set";
  ASSERT_EQ(ctx->int_commands.size(), 3u);
  EXPECT_EQ(ctx->int_commands[0].command, kCmdReadMem16);
  EXPECT_EQ(ctx->int_commands[1].command, kCmdMask);
  EXPECT_EQ(ctx->int_commands[1].data.u64, 0x24u);
  EXPECT_EQ(ctx->int_commands[2].command, kCmdWriteMem16);
  EXPECT_EQ(ctx->int_commands[2].data.u16, 0x0041u);
  EXPECT_EQ(PLX_IntEnable(h, on_plx_int, nullptr), kWdAlreadyDone);
  EXPECT_STREQ(PLX_GetLastErr(), "Interrupts are already enabled ...\n");

  bus().raise_interrupt(kSlot);  // no source bit set: another card's
  plx->set_reg(0x4C, 0x0545);    // local interrupt 1 active
  bus().raise_interrupt(kSlot);
  for (int i = 0; i < 2000 && g_ints.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(g_ints.load(), 1);
  EXPECT_EQ(g_intcsr.load() & 0xFFFF, 0x0545u) << "INTCSR as the interrupt-time read saw it";
  EXPECT_EQ(plx->reg(0x4C) & 0xFFFF, 0x0041u) << "the interrupt-time write turned the board's interrupt off";

  plx->set_reg(0x4C, 0x0541);
  EXPECT_EQ(PLX_IntDisable(h), kWdSuccess);
  EXPECT_EQ(plx->reg(0x4C) & 0xFFFF, 0x0041u);
  EXPECT_TRUE(ctx->int_commands.empty());
  EXPECT_EQ(PLX_IntDisable(h), kWdAlreadyDone);
  EXPECT_STREQ(PLX_GetLastErr(), "Interrupts are already disabled ...\n");
}

TEST_F(PlxLibTest, CloseWithInterruptsEnabledTurnsThemOff) {
  open();
  ASSERT_EQ(PLX_IntEnable(h, on_plx_int, nullptr), kWdSuccess);
  PLX_DeviceClose(h);
  h = nullptr;
  EXPECT_EQ(plx->reg(0x4C) & 0x500u, 0u);
  EXPECT_EQ(bus().count(kWdFnIntDisable), 1u);
}

TEST_F(PlxLibTest, MasterInterruptsNeedAnOpenDma) {
  open(1);
  EXPECT_EQ(PLX_IntEnable(h, on_plx_int, nullptr), kWdInvalidParameter);
  EXPECT_EQ(std::string(PLX_GetLastErr()).rfind("IntEnableDma: Error - NULL DMA handle (pData) (Device handle 0x", 0),
            0u);
  PLXDmaStruct closed{};
  EXPECT_EQ(PLX_IntEnable(h, on_plx_int, &closed), kWdInvalidParameter);
  EXPECT_NE(std::string(PLX_GetLastErr()).find("DMA is not open"), std::string::npos);
}

// A bus-master bridge: enabling a channel's interrupt sets the bridge's PCI
// interrupt and the channel's enable in INTCSR and the done interrupt in the
// channel's mode register; disabling takes every enable back and leaves the
// channel's transfer mode as it was.
TEST_F(PlxLibTest, MasterDmaInterruptDisableUndoesItsEnable) {
  constexpr uint32_t kIntcsr = 0x68, kMode[2] = {0x80, 0x94};
  constexpr uint32_t kIntcsrBefore = 0x00000800u;  // local interrupt input enabled
  constexpr uint32_t kModeBefore = 0x00000043u;    // 32-bit local bus, ready input
  bus().remove(kSlot);
  sim::Plx9050Options master;
  master.register_bytes = 256;
  plx = &bus().add_plx9050(kSlot, master);
  open(1);
  WDDma buffer{};
  for (uint32_t ch : {0u, 1u}) {
    plx->set_reg(kIntcsr, kIntcsrBefore);
    for (uint32_t reg : kMode) plx->set_reg(reg, kModeBefore);
    PLXDmaStruct dma{&buffer, ch, 0, kMode[ch], 0};
    ASSERT_EQ(PLX_IntEnable(h, on_plx_int, &dma), kWdSuccess) << PLX_GetLastErr();
    EXPECT_EQ(plx->reg(kIntcsr), kIntcsrBefore | 0x100u | (ch ? 0x80000u : 0x40000u)) << ch;
    EXPECT_EQ(plx->reg(kMode[ch]), kModeBefore | 0x20400u) << ch;
    EXPECT_EQ(plx->reg(kMode[1 - ch]), kModeBefore) << "the other channel untouched";
    ASSERT_EQ(PLX_IntDisable(h), kWdSuccess);
    EXPECT_EQ(plx->reg(kIntcsr), kIntcsrBefore) << ch;
    EXPECT_EQ(plx->reg(kMode[ch]) & 0x400u, 0u) << ch;
    EXPECT_EQ(plx->reg(kMode[ch]) & ~0x20000u, kModeBefore) << "no transfer bit changed, only the routing stays";
  }
}

TEST_F(PlxLibTest, EventsWithoutDriverSupport) {
  open();
  EXPECT_EQ(PLX_EventUnregister(h), kWdAlreadyDone);
  EXPECT_STREQ(PLX_GetLastErr(), "Cannot unregister events - no events currently registered...\n");
  EXPECT_EQ(PLX_EventRegister(h, nullptr), kWdNotImplemented);
  EXPECT_STREQ(PLX_GetLastErr(), "Failed to register events. Error 0x2000000a - Function not implemented\n");
  EXPECT_EQ(PLX_EventIsRegistered(h), 0);
}

TEST_F(PlxLibTest, AddressSpaceInformation) {
  open();
  EXPECT_EQ(PLX_GetNumAddrSpaces(h), 3u);
  PLXAddrSpaceInfo info{};
  info.space = 2;
  ASSERT_EQ(PLX_GetAddrSpaceInfo(h, &info), 1);
  EXPECT_STREQ(info.type, "I/O");
  EXPECT_STREQ(info.name, "BAR 2");
  const int w = static_cast<int>(sizeof(WDKernelAddr) * 2);
  char expect[80];
  std::snprintf(expect, sizeof expect, "0x%0*llX - 0x%0*llX (16 bytes)", w,
                static_cast<unsigned long long>(plx->bars[2].base), w,
                static_cast<unsigned long long>(plx->bars[2].base + 15));
  EXPECT_STREQ(info.desc, expect);
  info.space = 0;
  ASSERT_EQ(PLX_GetAddrSpaceInfo(h, &info), 1);
  EXPECT_STREQ(info.type, "Memory");
  info.space = 3;
  EXPECT_EQ(PLX_GetAddrSpaceInfo(h, &info), 0);
  EXPECT_STREQ(PLX_GetLastErr(), "PLX_GetAddrSpaceInfo: Error - Address space 3 is out of range (0 - 2)\n");
}

TEST_F(PlxLibTest, LocalAccessMovesTheWindowFirst) {
  open();
  ASSERT_EQ(PLX_WriteAddrLocal16(h, 2, 0x1236, 0xCAFE), kWdSuccess);
  EXPECT_EQ(plx->reg(0x14), 0x1231u) << "window at 0x1230, enabled";
  uint16_t v = 0;
  ASSERT_EQ(PLX_ReadAddrLocal16(h, 2, 0x5556, &v), kWdSuccess) << "another window, same offset";
  EXPECT_EQ(v, 0xCAFE) << "the simulated local bus has no address lines above the window";
  EXPECT_EQ(plx->reg(0x14), 0x5551u);
  uint8_t block[4] = {1, 2, 3, 4}, back[4] = {};
  ASSERT_EQ(PLX_WriteAddrLocalBlock(h, 2, 0x108, 4, block, 1, 0), kWdSuccess);
  ASSERT_EQ(PLX_ReadAddrLocalBlock(h, 2, 0x108, 4, back, 1, 0), kWdSuccess);
  EXPECT_EQ(std::memcmp(block, back, 4), 0);
  EXPECT_EQ(PLX_ReadAddrLocal16(h, 0, 0, &v), kWdInvalidParameter) << "the registers are no local space";
  EXPECT_EQ(PLX_ReadAddrLocal16(h, 5, 0, &v), kWdInvalidParameter);
}

TEST_F(PlxLibTest, BitBangedEepromWordsAndTheirTiming) {
  auto eeprom = std::make_shared<TestEeprom>();
  plx->attach_cntrl(eeprom);
  open();
  EXPECT_EQ(PLX_EEPROMIsPresent(h), 1);
  const uint32_t low = plx->reg(0x50) & 0xFFF;
  const double t0 = platform::clock::now();
  ASSERT_EQ(PLX_EEPROM_RT_Write16(h, 100, 0xA55A), kWdSuccess) << PLX_GetLastErr();
  EXPECT_EQ(eeprom->words[50], 0xA55A) << "byte offset 100 is word 50";
  // every edge of the write is followed by 500 us in the driver
  const auto sleeps = bus().requests(kWdFnSleep);
  ASSERT_FALSE(sleeps.empty());
  for (const sim::PciRequest *s : sleeps) EXPECT_EQ(u32(*s, 0), 500u);
  EXPECT_NEAR(platform::clock::now() - t0, sleeps.size() * 0.0005, 1e-6);

  eeprom->words[2] = 0x1234;
  eeprom->words[3] = 0x5678;
  uint32_t d = 0;
  ASSERT_EQ(PLX_EEPROM_RT_Read32(h, 4, &d), kWdSuccess);
  EXPECT_EQ(d, 0x56781234u);
  EXPECT_EQ(PLX_EEPROM_RT_Read32(h, 6, &d), kWdInvalidParameter);
  ASSERT_EQ(PLX_EEPROM_RT_Write32(h, 8, 0xBEEF0001u), kWdSuccess);
  EXPECT_EQ(eeprom->words[4], 0x0001);
  EXPECT_EQ(eeprom->words[5], 0xBEEF);
  EXPECT_EQ(plx->reg(0x50) & 0x07000FFFu, low) << "lines back low, user bits untouched";

  eeprom->stuck = true;
  EXPECT_EQ(PLX_EEPROM_RT_Write16(h, 0, 0x0F0F), kWdOperationFailed);
  EXPECT_EQ(std::string(PLX_GetLastErr()).rfind("PLX_EEPROM_RT_Write16: Error - Wrote 0x0F0F, read back 0x0000", 0),
            0u);
}

TEST_F(PlxLibTest, VpdAccessGivesUpAfterTenPolls) {
  auto eeprom = std::make_shared<TestEeprom>();
  plx->attach_cntrl(eeprom);
  open();
  EXPECT_EQ(PLX_EEPROM_VPD_Validate(h), 0) << "the 9050 has no capability chain";
  EXPECT_STREQ(PLX_GetLastErr(), "PLX_EEPROM_VPD_Validate: NEW_CAP register validation failed\n");
  plx->set_reg(0x50, 0x80000000u | (plx->reg(0x50) & 0xFFF));
  bus().log.clear();
  uint32_t v = 0;
  EXPECT_EQ(PLX_EEPROM_VPD_Read32(h, 2, &v), kWdInvalidParameter);
  EXPECT_EQ(PLX_EEPROM_VPD_Read32(h, 8, &v), kWdOperationFailed);
  const auto sleeps = bus().requests(kWdFnSleep);
  ASSERT_EQ(sleeps.size(), 10u);
  EXPECT_EQ(u32(*sleeps[0], 0), 20000u);
  EXPECT_NE(plx->reg(0x50) & 0x80000000u, 0u) << "bit 31 restored";
  EXPECT_EQ(plx->cntrl_writes[plx->cntrl_writes.size() - 2] & 0x80000000u, 0u) << "cleared during the access";
}

TEST_F(PlxLibTest, WithoutEepromValidationFails) {
  open();
  EXPECT_EQ(PLX_EEPROMIsPresent(h), 0);
  EXPECT_EQ(PLX_EEPROM_VPD_Validate(h), 0);
  EXPECT_EQ(std::string(PLX_GetLastErr()).rfind("PLX_EEPROM_VPD_Validate: Error - serial EEPROM was not found", 0), 0u);
}

TEST_F(PlxLibTest, SoftResetPulsesResetThenReloadWithFiveSecondsEach) {
  open(1);
  const double t0 = platform::clock::now();
  EXPECT_EQ(PLX_SoftResetMaster(h), kWdSuccess);
  EXPECT_NEAR(platform::clock::now() - t0, 10.0, 1e-6);
  const auto sleeps = bus().requests(kWdFnSleep);
  ASSERT_EQ(sleeps.size(), 2u);
  EXPECT_EQ(u32(*sleeps[0], 0), 5000000u);
  EXPECT_EQ(u32(*sleeps[0], 4), 1u);
  EXPECT_EQ(plx->reg(0x6C) & 0x60000000u, 0u);
}

TEST_F(PlxLibTest, DmaWithoutDriverSupportFailsCleanly) {
  open(1);
  uint8_t buf[64];
  EXPECT_EQ(P9054_DMAReadBlock(h, 0, buf, 0), 1) << "nothing to move";
  EXPECT_EQ(P9054_DMAReadBlock(h, 0, buf, sizeof buf), 0);
  EXPECT_EQ(P9054_DMAReadLargeBlock(h, 0, buf, sizeof buf), 0);
  PLXDmaStruct *dma = nullptr;
  EXPECT_EQ(PLX_DMAOpen(h, 0, nullptr, 0, 64, 32, 0, &dma), kWdInvalidParameter);
  EXPECT_STREQ(PLX_GetLastErr(), "PLX_DMAOpen: Error - NULL DMA buffer pointer\n");
  EXPECT_EQ(PLX_DMAClose(h, nullptr), kWdInvalidParameter);
  EXPECT_EQ(std::string(PLX_GetLastErr()).rfind("PLX_DMAClose: NULL DMA handle (device handle 0x", 0), 0u);
  uint16_t w = 0;
  EXPECT_EQ(XIL_ReadReg16(h, 0x200C, &w), 1) << "space 2 is not a memory mapping here";
  EXPECT_EQ(XIL_WriteReg32(h, 0x200C, 0), 1);
}

}  // namespace
}  // namespace pcitest
