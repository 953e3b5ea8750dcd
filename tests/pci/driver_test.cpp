// Driver open and close, the request routine, status texts, message buffers
// and debug output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/driver/device.h"
#include "platform/driver/user_addr.h"
#include "platform/win/clock.h"
#include "tests/pci/pci_fixture.h"

namespace pcitest {
namespace {

using DriverTest = PciFixture;

TEST(WdCodes, EveryFunctionOfTheRoadHasTheCodeOfItsInterface) {
  struct Row {
    uint32_t function, code32;
  };
  static const Row kRows[] = {
      {kWdFnVersion, 0x95382443u},      {kWdFnPciConfig, 0x9538246Bu},       {kWdFnKpClose, 0x95382473u},
      {kWdFnSleep, 0x9538249Fu},        {kWdFnDebugText, 0x95382593u},       {kWdFnTransfer, 0x95382633u},
      {kWdFnMultiTransfer, 0x95382637u}, {kWdFnPciScan, 0x9538268Fu},        {kWdFnCardRegister, 0x9538279Bu},
      {kWdFnCardUnregister, 0x9538279Fu}, {kWdFnPciCardInfo, 0x953827A3u},
  };
  for (const Row &r : kRows) {
    EXPECT_EQ(WDCode(r.function), r.code32 + (WD_KERNEL64 ? 0x1000u : 0u)) << std::hex << r.function;
    EXPECT_EQ(wire::code(wire::kNative, r.function), WDCode(r.function));
  }
}

TEST(WdCodes, TransferCommandsByKindDirectionAndWidth) {
  struct Row {
    bool memory, block, write;
    uint32_t bytes, command;
  };
  static const Row kRows[] = {
      {false, false, false, 1, 10}, {false, false, true, 2, 14},  {false, false, false, 8, 16},
      {false, false, true, 8, 17},  {false, true, false, 4, 22},  {false, true, true, 4, 25},
      {false, true, false, 8, 26},  {true, false, false, 4, 32},  {true, false, true, 1, 33},
      {true, true, false, 2, 41},   {true, true, true, 8, 47},    {true, true, true, 3, 0},
      {false, false, false, 0, 0},
  };
  for (const Row &r : kRows)
    EXPECT_EQ(WDTransferCommand(r.memory, r.block, r.write, r.bytes), r.command)
        << r.memory << r.block << r.write << " " << r.bytes;
}

TEST(Stat2Str, FirstMatchOfTheTableOrUnrecognized) {
  struct Row {
    WDStatus code;
    const char *text;
  };
  static const Row kRows[] = {
      {0, "Success"},  // never the USB table's "USBD: Success"
      {0xFFFFFFFFu, "Invalid WinDriver handle"},
      {0x2000001Bu, "Invalid parameter"},
      {0x20000023u, "Driver not installed"},
      {0xC0000002u, "HC status: Bit stuffing "},
      {0x80000900u, "USBD: Trasnfer terminated with short packet"},
      {0xC0050000u, "USBD: The packet was not sent because the client submitted it too late to transmit"},
      {0x20000009u, "Unrecognized error code"},
      {0xC000000Eu, "Unrecognized error code"},
      {0x12345678u, "Unrecognized error code"},
  };
  for (const Row &r : kRows) EXPECT_STREQ(Stat2Str(r.code), r.text) << std::hex << r.code;
}

TEST_F(DriverTest, LibInitOpensTheDriverWithTheVersionCheck) {
  ASSERT_EQ(PLX_LibInit(), kWdSuccess);
  EXPECT_NE(WDC_GetWDHandle(), -1);
  EXPECT_EQ(WDC_GetDebugOptions(), 0x31u);
  ASSERT_EQ(functions(), (std::vector<uint32_t>{kWdFnVersion}));
  EXPECT_EQ(requests()[0]->record.size(), 132u);
  EXPECT_EQ(u32(*requests()[0], 0), 1230u);
  // the trace of the open reached the monitor
  ASSERT_FALSE(bus().monitor.empty());
  EXPECT_EQ(bus().monitor.back().rfind("WDC_DriverOpen: User mode version - ", 0), 0u);
}

TEST_F(DriverTest, AbsentDriverFailsWithInvalidHandleAndSendsNothing) {
  bus().driver_absent = true;
  EXPECT_EQ(PLX_LibInit(), kWdInvalidHandle);
  EXPECT_STREQ(PLX_GetLastErr(), "Failed to initialize the WDC library. Error 0x20000001 - Invalid handle\n");
  EXPECT_EQ(WDC_GetWDHandle(), -1);
  WDSleep rec{10, 0};
  EXPECT_EQ(driver_ioctl(WDCode(kWdFnSleep), WDC_GetWDHandle(), &rec, sizeof rec, 0), kWdNoDriverHandle);
  EXPECT_EQ(driver_ioctl(WDCode(kWdFnSleep), -1, &rec, sizeof rec, 1), kWdNoDriverHandle);
  EXPECT_TRUE(bus().log.empty());
}

TEST_F(DriverTest, SecondOpenIsAlreadyDoneAndKeepsTheHandle) {
  start();
  const WDDriverHandle first = WDC_GetWDHandle();
  EXPECT_EQ(WDC_DriverOpen(WDC_DRV_OPEN_CHECK_VER), kWdAlreadyDone);
  EXPECT_EQ(WDC_GetWDHandle(), first);
}

TEST_F(DriverTest, VersionCheckFailures) {
  struct Row {
    uint32_t version;
    bool fail_request;
    WDStatus expect;
  };
  static const Row kRows[] = {
      {1229, false, kWdIncorrectVersion},
      {1230, true, kWdOperationFailed},
      {1300, false, kWdSuccess},
  };
  for (const Row &r : kRows) {
    reset_library();
    bus().driver_version = r.version;
    if (r.fail_request) bus().inject(kWdFnVersion, kWdOperationFailed);
    EXPECT_EQ(PLX_LibInit(), r.expect) << r.version;
    if (r.expect == kWdSuccess) continue;
    EXPECT_EQ(WDC_GetWDHandle(), -1);
    EXPECT_EQ(WDC_GetDebugOptions(), 0x100u) << "the close silences the debug output";
  }
}

TEST_F(DriverTest, DebugOptionsTable) {
  testsupport::TempDir dir;
  const std::string file = dir.file("dbg.txt");
  const std::string unopenable = dir.file("missing/dbg.txt");
  struct Row {
    uint32_t options;
    const char *path;
    WDStatus expect;
    uint32_t stored;
  };
  const Row rows[] = {
      {0, nullptr, kWdSuccess, 0x31},
      {0x21, nullptr, kWdSuccess, 0x31},
      {0x100, nullptr, kWdSuccess, 0x100},
      {0x01, nullptr, kWdInvalidParameter, 0x21},
      {0x20, nullptr, kWdInvalidParameter, 0x21},
      {0x12, nullptr, kWdSuccess, 0x12},              // standard error
      {0x12, file.c_str(), kWdSuccess, 0x12},         // a file
      {0x12, unopenable.c_str(), kWdSuccess, 0x11},   // falls back to the monitor
  };
  for (const Row &r : rows) {
    EXPECT_EQ(WDC_SetDebugOptions(r.options, r.path), r.expect) << std::hex << r.options;
    EXPECT_EQ(WDC_GetDebugOptions(), r.stored) << std::hex << r.options << " " << (r.path ? r.path : "");
  }
  WDC_SetDebugOptions(0x12, file.c_str());
  WDC_Err("line %d\n", 1);
  WDC_Trace("not at error level\n");
  WDC_SetDebugOptions(0x100, nullptr);  // closes the file
  EXPECT_EQ(testsupport::read_file(file), "line 1\n");
}

TEST_F(DriverTest, DebugLinesGoToTheMonitorByLevel) {
  start();
  WDC_Err("an error %d\n", 7);
  WDC_Trace("a trace\n");
  auto sent = bus().requests(kWdFnDebugText);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]->record.size(), 264u);
  EXPECT_STREQ(reinterpret_cast<const char *>(sent[0]->record.data()), "an error 7\n");
  EXPECT_EQ(u32(*sent[0], 256), kWdDebugLevelError);
  EXPECT_EQ(u32(*sent[1], 256), kWdDebugLevelTrace);
  EXPECT_EQ(u32(*sent[1], 260), 0xFFFFFFFFu);

  WDC_SetDebugOptions(0x11, nullptr);  // errors only
  WDC_Trace("dropped\n");
  WDC_Err("kept\n");
  EXPECT_EQ(bus().count(kWdFnDebugText), 3u);  // the kept error only
}

TEST_F(DriverTest, MessagesAreCutToTheirBuffers) {
  start();
  const std::string big(400, 'x');
  PLX_SetLastErr("%s", big.c_str());
  EXPECT_EQ(std::strlen(PLX_GetLastErr()), 254u);
  EXPECT_EQ(WdcSetLastErrStr("%s", big.c_str()), 255);
  EXPECT_EQ(std::strlen(WdcGetLastErrStr()), 255u);
  bus().log.clear();
  WDC_Err("%s", big.c_str());
  auto sent = bus().requests(kWdFnDebugText);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(strnlen(reinterpret_cast<const char *>(sent[0]->record.data()), 256), 254u);
  EXPECT_EQ(sent[0]->record[254], 0);
  EXPECT_EQ(sent[0]->record[255], 0);
}

// A backend that answers nothing: the status stays as preset.
class SilentBackend : public platform::driver::Backend {
 public:
  const char *name() const override { return "silent"; }
  intptr_t open() override { return ++opened; }
  void close(intptr_t) override { ++closed; }
  void request(intptr_t handle, uint32_t, void *, uint32_t, uint32_t *) override { last_handle = handle; }
  int opened = 0, closed = 0;
  intptr_t last_handle = 0;
};

TEST(DriverIoctl, StatusPresetAndOpenPerCall) {
  reset_library();
  auto silent = std::make_shared<SilentBackend>();
  platform::driver::set_backend(silent);
  WDSleep rec{1, 0};
  EXPECT_EQ(driver_ioctl(WDCode(kWdFnSleep), 7, &rec, sizeof rec, 0), kWdError);
  EXPECT_EQ(silent->last_handle, 7);
  EXPECT_EQ(driver_ioctl(WDCode(kWdFnSleep), 7, &rec, sizeof rec, 1), kWdError);
  EXPECT_EQ(silent->last_handle, 1) << "a handle of its own";
  EXPECT_EQ(silent->opened, 1);
  EXPECT_EQ(silent->closed, 1);
  platform::driver::set_backend(nullptr);
}

TEST_F(DriverTest, TheSimulatedDriverCatchesForeignCodesAndWrongSizes) {
  start();
  WDVersion v{};
  const uint32_t other = WDCode(kWdFnVersion) ^ 0x1000u;  // the other interface's code
  EXPECT_EQ(driver_ioctl(other, WDC_GetWDHandle(), &v, sizeof v, 0), kWdInvalidIoctl);
  EXPECT_EQ(driver_ioctl(WDCode(kWdFnVersion), WDC_GetWDHandle(), &v, sizeof v - 4, 0), kWdInvalidParameter);
  EXPECT_EQ(driver_ioctl(WDCode(kWdFnDmaLock), WDC_GetWDHandle(), &v, sizeof v, 0), kWdNotImplemented);
}

TEST(DriverOtherInterface, ALibraryOfTheOtherWidthIsRefused) {
  reset_library();
  testsupport::VirtualClock clock;
  const auto other = wire::kNative == wire::Interface::k64 ? wire::Interface::k32 : wire::Interface::k64;
  platform::driver::SimPciScope scope(std::make_shared<sim::PciBus>(), other);
  EXPECT_EQ(PLX_LibInit(), kWdInvalidIoctl);
  EXPECT_EQ(WDC_GetWDHandle(), -1);
  reset_library();
}

TEST_F(DriverTest, VersionAndSleep) {
  start();
  char text[128];
  uint32_t number = 0;
  EXPECT_EQ(WDC_Version(nullptr, &number), kWdInvalidParameter);
  EXPECT_STREQ(WdcGetLastErrStr(), "Error - NULL pointer to version results\n");
  EXPECT_EQ(WDC_Version(text, &number), kWdSuccess);
  EXPECT_EQ(number, 1230u);
  EXPECT_STREQ(text, "simulated qvdrvr");

  const double before = platform::clock::now();
  EXPECT_EQ(WDC_Sleep(250000, 1), kWdSuccess);
  EXPECT_NEAR(platform::clock::now() - before, 0.25, 1e-6);
  auto sleeps = bus().requests(kWdFnSleep);
  ASSERT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(u32(*sleeps[0], 0), 250000u);
  EXPECT_EQ(u32(*sleeps[0], 4), 1u);
}

TEST_F(DriverTest, UserAddressesResolveOnlyWhileRegistered) {
  start();
  uint32_t id = 0;
  WDPciConfigAccess rec{};
  rec.slot = {0, 14, 0};
  rec.bytes = 4;
  rec.read = 1;
  {
    platform::driver::UserBuffer buf(&id, sizeof id);
    rec.buffer = buf.addr();
    ASSERT_EQ(driver_ioctl(WDCode(kWdFnPciConfig), WDC_GetWDHandle(), &rec, sizeof rec, 0), kWdSuccess);
    EXPECT_EQ(id, 0x905010B5u);
  }
  // the same address after its release, and one that was never handed out
  for (uint32_t addr : {rec.buffer, 0x00000000u, 0x12345678u}) {
    rec.buffer = addr;
    EXPECT_EQ(driver_ioctl(WDCode(kWdFnPciConfig), WDC_GetWDHandle(), &rec, sizeof rec, 0), kWdInvalidParameter)
        << std::hex << addr;
  }
}

// Restores an environment variable when it goes.
class EnvScope {
 public:
  EnvScope(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = old, had_ = true;
    ::setenv(name, value, 1);
  }
  ~EnvScope() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char *name_;
  std::string old_;
  bool had_ = false;
};

TEST(DriverChoice, QvPciSelectsTheSimulatorOrNoDriver) {
  testsupport::VirtualClock clock;
  reset_library();
  {
    EnvScope env("QV_PCI", "sim");
    platform::driver::set_backend(nullptr);
    ASSERT_EQ(PLX_LibInit(), kWdSuccess);
    WDCPciScanResult r{};
    ASSERT_EQ(WDC_PciScanDevices(0x10B5, 0x9050, &r), kWdSuccess);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.slots[0].slot, 14u);
    reset_library();
  }
  {
    EnvScope env("QV_PCI", "none");
    platform::driver::set_backend(nullptr);
    EXPECT_EQ(PLX_LibInit(), kWdInvalidHandle);
    reset_library();
  }
  platform::driver::set_backend(nullptr);
}

}  // namespace
}  // namespace pcitest
