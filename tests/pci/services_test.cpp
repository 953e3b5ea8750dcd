// Card-layer services: configuration access, scans, interrupts with their
// wait thread, events, plug-ins, DMA buffers, and the OS layer.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/driver/device.h"
#include "platform/driver/user_addr.h"
#include "tests/pci/pci_fixture.h"

namespace pcitest {
namespace {

class ServicesTest : public PciFixture {
 protected:
  void SetUp() override {
    PciFixture::SetUp();
    start();
    ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr();
    bus().log.clear();
  }
  void TearDown() override {
    if (h) PLX_DeviceClose(h);
    PciFixture::TearDown();
  }
  WDCDeviceHandle h = nullptr;
};

TEST_F(ServicesTest, ConfigurationAccessOfEveryWidth) {
  const WDPciSlot slot{0, 14, 0};
  uint8_t b = 0;
  uint16_t w = 0;
  uint32_t d = 0;
  uint64_t q = 0;
  EXPECT_EQ(WDC_PciReadCfgBySlot8(&slot, 1, &b), kWdSuccess);
  EXPECT_EQ(b, 0x10);
  EXPECT_EQ(WDC_PciReadCfgBySlot16(&slot, 2, &w), kWdSuccess);
  EXPECT_EQ(w, 0x9050);
  EXPECT_EQ(WDC_PciReadCfg32(h, 0x2C, &d), kWdSuccess);
  EXPECT_EQ(d, 0x120610B5u);
  EXPECT_EQ(WDC_PciReadCfg64(h, 0, &q), kWdSuccess);
  EXPECT_EQ(q & 0xFFFFFFFFu, 0x905010B5u);
  EXPECT_EQ(WDC_PciWriteCfg16(h, 0x04, 0x0003), kWdSuccess);
  EXPECT_EQ(P9050_ReadPCIReg(h, 0x04) & 0xFFFF, 0x0003u);
  EXPECT_EQ(P9050_WritePCIReg(h, 0x00, 0), kWdSuccess);  // ids are read-only
  EXPECT_EQ(P9050_ReadPCIReg(h, 0x00), 0x905010B5u);

  auto cfg = bus().requests(kWdFnPciConfig);
  ASSERT_GE(cfg.size(), 5u);
  EXPECT_EQ(u32(*cfg[4], 16), 0x04u);
  EXPECT_EQ(u32(*cfg[4], 20), 2u);
  EXPECT_EQ(u32(*cfg[4], 24), 0u) << "a write";

  EXPECT_EQ(WDC_PciReadCfgBySlot32(nullptr, 0, &d), kWdInvalidParameter);
  EXPECT_EQ(WDC_PciReadCfg32(nullptr, 0, &d), kWdInvalidParameter);
  bus().config_fails.insert(kSlot);
  d = 0x77;
  EXPECT_EQ(WDC_PciReadCfgBySlot32(&slot, 0x10, &d), kWdOperationFailed) << "the driver's result is not lost";
  EXPECT_STREQ(WdcGetLastErrStr(),
               "WDC_PciReadWriteCfgBySlot: Failed reading 4 bytes from offset0x10.\nError 0x20000020 - Operation "
               "failed\n");
  EXPECT_EQ(WDC_PciWriteCfgBySlot8(&slot, 0x3C, 5), kWdOperationFailed);
  EXPECT_NE(std::string(WdcGetLastErrStr()).find("Failed writing 1 bytes to offset0x3c"), std::string::npos);
}

TEST_F(ServicesTest, ScansByOption) {
  bus().add_plx9050({0, 15, 0});
  WDCPciScanResult r{};
  ASSERT_EQ(WDC_PciScanRegisteredDevices(0, 0, &r), kWdSuccess);
  ASSERT_EQ(r.count, 1u) << "only the open card";
  EXPECT_EQ(r.slots[0].slot, 14u);
  ASSERT_EQ(WDC_PciScanDevicesByTopology(0x10B5, 0, &r), kWdSuccess);
  EXPECT_EQ(r.count, 2u);
  ASSERT_EQ(WDC_PciScanDevices(0x1234, 0, &r), kWdSuccess);
  EXPECT_EQ(r.count, 0u);
  EXPECT_EQ(WDC_PciScanWithOptions(0, 0, &r, 3), kWdInvalidParameter);
  EXPECT_EQ(WDC_PciScanDevices(0, 0, nullptr), kWdInvalidParameter);
  EXPECT_STREQ(WdcGetLastErrStr(), "Error - NULL pointer to device scan results struct\n");
  std::vector<uint32_t> options;
  for (const sim::PciRequest *q : bus().requests(kWdFnPciScan)) options.push_back(u32(*q, 2012));
  EXPECT_EQ(options, (std::vector<uint32_t>{2, 1, 0}));
  EXPECT_EQ(WDC_GetBusType(h), kBusPci);
  EXPECT_EQ(WDC_GetBusType(nullptr), 0u);
}

TEST(IntType2Str, NamesByType) {
  EXPECT_STREQ(WDC_IntType2Str(0), "Edge-Triggered Interrupt");
  EXPECT_STREQ(WDC_IntType2Str(1), "Level-Sensitive Interrupt");
  EXPECT_STREQ(WDC_IntType2Str(0x10), "Message-Signaled Interrupt (MSI)");
  EXPECT_STREQ(WDC_IntType2Str(0x20), "Extended Message-Signaled Interrupt (MSI-X)");
  EXPECT_STREQ(WDC_IntType2Str(0x11), "Unknown");
}

std::atomic<int> g_calls{0};
void count_call(void *) { ++g_calls; }

// Waits in real time for the wait thread (the handler runs there).
bool wait_calls(int n) {
  for (int i = 0; i < 2000 && g_calls.load() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return g_calls.load() >= n;
}

TEST_F(ServicesTest, InterruptHandlerRunsOnTheWaitThreadUntilDisabled) {
  g_calls = 0;
  ASSERT_EQ(WDC_IntEnable(h, nullptr, 0, 0, count_call, nullptr, 0), kWdSuccess);
  EXPECT_EQ(WDC_IntIsEnabled(h), 1);
  EXPECT_EQ(WDC_IntEnable(h, nullptr, 0, 0, count_call, nullptr, 0), kWdAlreadyDone);
  bus().raise_interrupt(kSlot);
  ASSERT_TRUE(wait_calls(1));
  bus().raise_interrupt(kSlot);
  ASSERT_TRUE(wait_calls(2));
  EXPECT_EQ(WDC_IntDisable(h), kWdSuccess);
  EXPECT_EQ(WDC_IntIsEnabled(h), 0);
  EXPECT_EQ(WDC_IntDisable(h), kWdAlreadyDone);
  EXPECT_EQ(g_calls.load(), 2);
  EXPECT_EQ(bus().count(kWdFnIntEnable), 1u);
  EXPECT_EQ(bus().count(kWdFnIntDisable), 1u);
  EXPECT_GE(bus().count(kWdFnIntWait), 3u) << "two interrupts and the stop";
}

TEST_F(ServicesTest, InterruptCommandsRunAtInterruptTimeAndTheMaskFilters) {
  g_calls = 0;
  // read INTCSR; ours only when bit 2 (local interrupt 1 active) is set; write it back
  WDTransfer cmds[3] = {};
  cmds[0].address = h->spaces[1].kernel + 0x4C;
  cmds[0].command = kCmdReadPort16;
  cmds[1].command = kCmdMask;
  cmds[1].data.u64 = 0x04;
  cmds[2].address = h->spaces[1].kernel + 0x4C;
  cmds[2].command = kCmdWritePort16;
  cmds[2].data.u16 = 0x0041;
  ASSERT_EQ(WDC_IntEnable(h, cmds, 3, 0, count_call, nullptr, 0), kWdSuccess);
  plx->set_reg(0x4C, 0x0000);
  bus().raise_interrupt(kSlot);  // no source bit: another card's
  plx->set_reg(0x4C, 0x0004);
  bus().raise_interrupt(kSlot);
  ASSERT_TRUE(wait_calls(1));
  EXPECT_EQ(cmds[0].data.u16, 0x0004) << "the driver left the value read in the command";
  EXPECT_EQ(plx->reg(0x4C) & 0xFFFF, 0x0041u);
  EXPECT_EQ(WDC_IntDisable(h), kWdSuccess);
  EXPECT_EQ(g_calls.load(), 1);
}

TEST_F(ServicesTest, InterruptEnableRefusals) {
  WDTransfer one{};
  struct Row {
    const char *what;
    WDCDeviceHandle handle;
    WDTransfer *commands;
    uint32_t count, options;
    INT_HANDLER handler;
    int kp;
    WDStatus expect;
  };
  const Row rows[] = {
      {"no card", nullptr, nullptr, 0, 0, count_call, 0, kWdInvalidParameter},
      {"no handler", h, nullptr, 0, 0, nullptr, 0, kWdInvalidParameter},
      {"commands missing", h, nullptr, 2, 0, count_call, 0, kWdInvalidParameter},
      {"no plug-in", h, &one, 1, 0, count_call, 1, kWdInvalidParameter},
      {"MSI on an INTx card", h, nullptr, 0, kIntMsi, count_call, 0, kWdInvalidParameter},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(WDC_IntEnable(r.handle, r.commands, r.count, r.options, r.handler, nullptr, r.kp), r.expect) << r.what;
    EXPECT_EQ(WDC_IntIsEnabled(h), 0) << r.what;
  }
  EXPECT_EQ(bus().count(kWdFnIntEnable), 0u);
  const uint32_t handle = h->interrupt.handle;
  h->interrupt.handle = 0;
  EXPECT_EQ(WDC_IntEnable(h, nullptr, 0, 0, count_call, nullptr, 0), kWdInvalidParameter) << "no interrupt";
  h->interrupt.handle = handle;
  bus().inject(kWdFnIntEnable, 0x2000000Cu);
  EXPECT_EQ(WDC_IntEnable(h, nullptr, 0, 0, count_call, nullptr, 0), 0x2000000Cu);
  EXPECT_EQ(WDC_IntIsEnabled(h), 0);
}

TEST_F(ServicesTest, CloseDisablesAnEnabledInterrupt) {
  ASSERT_EQ(WDC_IntEnable(h, nullptr, 0, 0, count_call, nullptr, 0), kWdSuccess);
  PLX_DeviceClose(h);
  h = nullptr;
  EXPECT_EQ(bus().count(kWdFnIntDisable), 1u);
  EXPECT_EQ(bus().count(kWdFnCardUnregister), 1u);
}

void on_event(WDEvent *, void *) {}

TEST_F(ServicesTest, EventsPlugInsAndDmaWithoutDriverSupportFailCleanly) {
  EXPECT_EQ(WDC_EventRegister(h, 0, on_event, nullptr, 0), kWdInvalidParameter);
  EXPECT_EQ(WDC_EventRegister(h, 0x3BF3, nullptr, nullptr, 0), kWdInvalidParameter);
  EXPECT_EQ(WDC_EventRegister(h, 0x3BF3, on_event, nullptr, 1), kWdInvalidParameter);
  EXPECT_EQ(WDC_EventRegister(h, 0x3BF3, on_event, nullptr, 0), kWdNotImplemented);
  EXPECT_EQ(WDC_EventIsRegistered(h), 0);
  EXPECT_EQ(WDC_EventUnregister(h), kWdAlreadyDone);
  auto reg = bus().requests(kWdFnEventRegister);
  ASSERT_EQ(reg.size(), 1u);
  EXPECT_EQ(reg[0]->record.size(), 72u) << "62 bytes and one match entry";
  EXPECT_EQ(u32(*reg[0], 4), 0x3BF3u);

  EXPECT_EQ(WDC_KernelPlugInOpen(h, "", nullptr), kWdInvalidParameter);
  EXPECT_STREQ(WdcGetLastErrStr(), "Error - Empty Kernel-Plugin driver name\n");
  EXPECT_EQ(WDC_KernelPlugInOpen(h, "kp_drv", nullptr), kWdNotImplemented);
  EXPECT_EQ(h->kp.handle, 0u);

  void *buf = nullptr;
  WDDma *dma = nullptr;
  EXPECT_EQ(WDC_DMAContigBufLock(h, &buf, DMA_FROM_DEVICE, 4096, nullptr), kWdInvalidParameter);
  EXPECT_STREQ(WdcGetLastErrStr(), "Error - NULL address of DMA struct pointer\n");
  EXPECT_EQ(WDC_DMAContigBufLock(h, nullptr, DMA_FROM_DEVICE, 4096, &dma), kWdInvalidParameter);
  EXPECT_STREQ(WdcGetLastErrStr(), "Error - NULL address of DMA buffer pointer\n");
  char sg[64];
  EXPECT_EQ(WDC_DMASGBufLock(h, sg, DMA_KERNEL_BUFFER_ALLOC, sizeof sg, &dma), kWdInvalidParameter);
  EXPECT_EQ(WDC_DMAContigBufLock(h, &buf, DMA_FROM_DEVICE, 4096, &dma), kWdNotImplemented);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(dma, nullptr);
}

TEST(OsLayer, EventsMutexesThreadsAndPages) {
  HANDLE ev = nullptr;
  ASSERT_EQ(OsEventCreate(&ev), kWdSuccess);
  EXPECT_EQ(OsEventWait(ev, 0), kWdTimeout) << "created clear";
  EXPECT_EQ(OsEventSignal(ev), kWdSuccess);
  EXPECT_EQ(OsEventWait(ev, 0), kWdSuccess);
  EXPECT_EQ(OsEventWait(ev, 0), kWdTimeout) << "auto-reset";
  OsEventSignal(ev);
  EXPECT_EQ(OsEventReset(ev), kWdSuccess);
  EXPECT_EQ(OsEventReset(ev), kWdSuccess) << "a reset of a clear event is no failure";
  EXPECT_EQ(OsEventWait(ev, 0), kWdTimeout);

  HANDLE mutex = nullptr;
  ASSERT_EQ(OsMutexCreate(&mutex), kWdSuccess);
  EXPECT_EQ(OsMutexLock(mutex), kWdSuccess);
  EXPECT_EQ(OsMutexUnlock(mutex), kWdSuccess);
  OsMutexClose(mutex);

  // a thread signals the event; waiting forever returns
  HANDLE thread = nullptr;
  ASSERT_EQ(ThreadStart(&thread, [](void *e) { OsEventSignal(e); }, ev), kWdSuccess);
  EXPECT_EQ(OsEventWait(ev, 0xFFFFFFFFu), kWdSuccess);
  ThreadWait(thread);
  OsEventClose(ev);

  const uint32_t page = GetPageSize();
  EXPECT_GE(page, 4096u);
  struct Row {
    uintptr_t address;
    uint32_t bytes, pages;
  };
  const Row rows[] = {{0, 0, 0}, {0, 1, 1}, {0, page, 1}, {0, page + 1, 2}, {page - 1, 2, 2}, {page + 5, page, 2}};
  for (const Row &r : rows)
    EXPECT_EQ(GetPageCount(reinterpret_cast<const void *>(r.address), r.bytes), r.pages) << r.address << " " << r.bytes;
}

TEST(OsLayer, FileSizeAndPrompts) {
  testsupport::TempDir dir;
  const std::string file = dir.write("f.bin", std::string(1234, 'a'));
  uint32_t size = 0;
  char error[256];
  EXPECT_EQ(UtilGetFileSize(file.c_str(), &size, error), 1);
  EXPECT_EQ(size, 1234u);
  const std::string missing = dir.file("none");
  EXPECT_EQ(UtilGetFileSize(missing.c_str(), &size, error), 0);
  EXPECT_EQ(std::string(error), "Failed opening " + missing + " for reading.\nLast error: 0x2 - No such file or directory");

  const std::string answers = dir.write("answers.txt", "typed\n\n");
  ASSERT_NE(std::freopen(answers.c_str(), "r", stdin), nullptr);
  char buf[8];
  EXPECT_EQ(UtilGetStringFromUser(buf, 1, "Name", nullptr), kWdInvalidParameter);
  EXPECT_EQ(UtilGetStringFromUser(buf, sizeof buf, "Name", "dflt"), kWdSuccess);
  EXPECT_STREQ(buf, "typed");
  EXPECT_EQ(UtilGetFileName(buf, 4, "default.txt"), kWdSuccess) << "an empty answer takes the default";
  EXPECT_STREQ(buf, "def") << "bounded by the buffer";
  EXPECT_EQ(UtilGetStringFromUser(buf, sizeof buf, "Name", nullptr), kWdOperationFailed) << "end of input";
}

TEST_F(ServicesTest, SleepAndDebugTextOpenTheirOwnHandle) {
  EXPECT_EQ(SleepWrapper(1000), 0);
  PrintDbgMessage(4, 0x10, "hello %d\n", 5);
  ASSERT_FALSE(bus().monitor.empty());
  EXPECT_EQ(bus().monitor.back(), "hello 5\n");
  bus().driver_absent = true;
  EXPECT_EQ(SleepWrapper(1000), -1);
}

TEST_F(ServicesTest, IsaCardsTakeTheirResourcesAsGiven) {
  WDCard card{};
  card.count = 2;
  card.items[0].item = kItemBus;
  card.items[0].u.bus.bus_type = kBusIsa;
  card.items[1].item = kItemIo;
  card.items[1].u.io.port = 0x300;
  card.items[1].u.io.length = 8;
  card.items[1].u.io.bar = 0;
  WDCDeviceHandle isa = nullptr;
  ASSERT_EQ(WDC_IsaDeviceOpen(&isa, &card, nullptr), kWdSuccess);
  EXPECT_EQ(WDC_GetBusType(isa), kBusIsa);
  EXPECT_EQ(bus().count(kWdFnPciConfig), 0u) << "no identification";
  uint8_t v = 0;
  EXPECT_EQ(WDC_ReadAddr8(isa, 0, 7, &v), kWdSuccess);
  EXPECT_EQ(v, 0xFF) << "nothing answers at the port";
  EXPECT_EQ(WDC_IsaDeviceClose(isa), kWdSuccess);
  EXPECT_EQ(bus().count(kWdFnCardUnregister), 1u);
}

TEST_F(ServicesTest, PcmciaCardsNeedADriverThatServesThem) {
  WDPcmciaScanResult scan{};
  EXPECT_EQ(WDC_PcmciaScanDevices(0, 0, &scan), kWdNotImplemented);
  auto sent = bus().requests(kWdFnPcmciaScan);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]->record.size(), 76u);
  WDPcmciaCardInfo info{};
  info.slot.socket = 1;
  WDCDeviceHandle card = nullptr;
  EXPECT_EQ(WDC_PcmciaDeviceOpen(&card, &info, nullptr), kWdInsufficientResources);
  EXPECT_STREQ(WdcGetLastErrStr(), "Failed to locate the device (socket: 0x1, function: 0x0)\n");
  EXPECT_EQ(card, nullptr);
  uint8_t b = 0;
  EXPECT_EQ(WDC_PcmciaReadAttribSpace(h, 0x10, &b, 1), kWdNotImplemented);
  EXPECT_STREQ(WdcGetLastErrStr(),
               "WDC_PcmciaReadWriteAttribSpace: Failed reading 1 bytes from offset0x10 of the PCMCIA attribute "
               "space.\nError 0x2000000a - Function not implemented\n");
  EXPECT_EQ(WDC_PcmciaSetVpp(h, 50), kWdNotImplemented);
  EXPECT_EQ(bus().requests(kWdFnPcmciaControl).at(0)->record.size(), 16u);
  bus().monitor.clear();
  EXPECT_EQ(WDC_PcmciaDeviceClose(nullptr), kWdInvalidParameter);
  ASSERT_FALSE(bus().monitor.empty());
  EXPECT_EQ(bus().monitor.back(), "WDC_PcmciaDeviceClose: Erorr Error - NULL device handle\n");
}

}  // namespace
}  // namespace pcitest
