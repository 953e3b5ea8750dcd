// The Linux backend: a smoke run over this machine's PCI bus (read-only), and
// the scan, the card road, the reasons of failures and two programs on one
// card over made-up sysfs trees (regular files stand in for the kernel's).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "modules/kmv_fun.h"
#include "pci/p9050_qv.h"
#include "pci/plx_32w123c15.h"
#include "platform/driver/device.h"
#include "platform/driver/sysfs_backend.h"
#include "platform/driver/user_addr.h"
#include "tests/testsupport/testsupport.h"

namespace {

class SysfsScope {
 public:
  explicit SysfsScope(const std::string &root) {
    reset();
    platform::driver::set_backend(platform::driver::make_sysfs_backend(root));
  }
  ~SysfsScope() {
    reset();
    platform::driver::set_backend(nullptr);
  }

 private:
  static void reset() {
    KMV_close();
    kmv_initialised = 0;
    KMV_force_mode(-1, 0, 0);
    kmv_err_string[0] = '\0';
    WDC_DriverClose();
    qv_hWD = -1;
    WDC_SetDebugOptions(WDC_DBG_DEFAULT, nullptr);
  }
};

TEST(SysfsBus, ScanOfThisMachineRuns) {
  const std::string root = platform::driver::kSysfsPciDevices;
  std::vector<std::string> names;
  if (DIR *d = ::opendir(root.c_str())) {
    while (dirent *e = ::readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(d);
  }
  if (names.empty()) GTEST_SKIP() << root << " lists no PCI functions here";
  SysfsScope scope(root);
  ASSERT_EQ(PLX_LibInit(), kWdSuccess) << PLX_GetLastErr();
  auto scan = std::make_unique<WDCPciScanResult>();
  ASSERT_EQ(WDC_PciScanDevices(0, 0, scan.get()), kWdSuccess);
  EXPECT_EQ(scan->count, std::min<size_t>(names.size(), 100));
  for (uint32_t i = 0; i < scan->count; ++i) {
    auto info = std::make_unique<WDPciCardInfo>();
    std::memset(info.get(), 0, sizeof *info);
    info->slot = scan->slots[i];
    EXPECT_EQ(WDC_PciGetDeviceInfo(info.get()), kWdSuccess) << "function " << i;
  }
}

// ---- made-up trees ----

std::string row(uint64_t start, uint64_t end, uint64_t flags) {
  char line[80];
  std::snprintf(line, sizeof line, "0x%016llx 0x%016llx 0x%016llx\n", static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(end), static_cast<unsigned long long>(flags));
  return line;
}
constexpr uint64_t kMem = 0x40200, kIo = 0x40101;

// A function folder as the kernel lays it out: configuration space, the
// resource list (six BARs, the ROM, then the windows), irq, and the resource
// files. A memory space's file holds the pages that the kernel maps: its
// first byte is the first byte of the page that holds the space's start.
struct Function {
  std::string name;
  uint32_t id = 0, subsystem = 0;
  std::vector<std::string> bars;  // rows; missing rows are unused BARs
  std::string irq = "11\n";      // "" leaves the file out
  size_t config_bytes = 256;
  std::vector<std::pair<std::string, size_t>> files;  // resourceN and its size
};

void write_function(const testsupport::TempDir &tree, const Function &f) {
  const std::string dir = tree.file(f.name);
  ::mkdir(dir.c_str(), 0755);
  std::vector<char> config(256, 0);
  std::memcpy(config.data(), &f.id, 4);
  std::memcpy(config.data() + 0x2C, &f.subsystem, 4);
  std::ofstream(dir + "/config", std::ios::binary).write(config.data(), static_cast<std::streamsize>(f.config_bytes));
  std::string resource;
  for (size_t i = 0; i < 11; ++i) resource += i < f.bars.size() ? f.bars[i] : row(0, 0, 0);
  std::ofstream(dir + "/resource") << resource;
  if (!f.irq.empty()) std::ofstream(dir + "/irq") << f.irq;
  for (const auto &[name, bytes] : f.files) std::ofstream(dir + "/" + name, std::ios::binary) << std::string(bytes, '\0');
}

const size_t kPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));

// A KMV-100 card: the bridge's registers in memory BAR0 (and I/O BAR1), the
// card's ports in I/O BAR2.
Function kmv100_card(const std::string &name, uint64_t bar0) {
  Function f;
  f.name = name;
  f.id = 0x905010B5u;
  f.subsystem = 0x120610B5u;
  f.bars = {row(bar0, bar0 + 0x7F, kMem), row(0xd100, 0xd17f, kIo), row(0xd200, 0xd27f, kIo)};
  f.files = {{"resource0", kPage}, {"resource1", 128}, {"resource2", 128}};
  return f;
}

uint32_t word_at(const std::string &path, size_t offset) {
  const std::string bytes = testsupport::read_file(path);
  uint32_t v = 0;
  if (offset + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

void put_word_at(const std::string &path, size_t offset, uint32_t v) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char *>(&v), 4);
}

TEST(SysfsTree, ScanListsTheTreesFunctionsWithTheirResources) {
  testsupport::TempDir tree;
  Function bridge = kmv100_card("0000:02:0e.0", 0xfea00400);
  bridge.bars.push_back(row(0, 0, 0));
  bridge.bars.push_back(row(0xfe000000, 0xfe0fffff, 0));  // not decoded: no item
  bridge.bars.push_back(row(0, 0, 0));
  bridge.bars.push_back(row(0xfeb00000, 0xfeb0ffff, 0x46200));  // the ROM: no item
  write_function(tree, bridge);
  Function audio;
  audio.name = "0000:00:1f.3";
  audio.id = 0xa3488086u;
  audio.bars = {row(0x4000000000ull, 0x4000003fffull, 0x140204)};  // 64-bit, above 4 GiB
  audio.irq = "";
  write_function(tree, audio);
  Function host;
  host.name = "0000:00:00.0";
  host.id = 0x3e308086u;
  host.irq = "0\n";
  write_function(tree, host);
  Function other_domain;
  other_domain.name = "0001:00:00.0";
  other_domain.id = 0x1234abcdu;
  other_domain.irq = "42\n";
  other_domain.bars = {row(0, 0, 0), row(0xe000, 0xe01f, kIo)};
  write_function(tree, other_domain);
  ::mkdir(tree.file("0000:00:02.0x").c_str(), 0755);  // not a function's name
  tree.write("README", "not a function\n");

  SysfsScope scope(tree.path());
  ASSERT_EQ(PLX_LibInit(), kWdSuccess);
  auto scan = std::make_unique<WDCPciScanResult>();
  ASSERT_EQ(WDC_PciScanDevices(0, 0, scan.get()), kWdSuccess);
  struct Want {
    uint32_t bus, slot, function, vendor, device;
    std::vector<std::string> items;
  };
  const Want want[] = {
      {0, 0, 0, 0x8086, 0x3e30, {}},
      {0, 0x1f, 3, 0x8086, 0xa348, {"mem 0 4000000000 4000"}},
      {2, 14, 0, 0x10B5, 0x9050, {"mem 0 fea00400 80", "io 1 d100 80", "io 2 d200 80", "irq 11"}},
      {0x100, 0, 0, 0xabcd, 0x1234, {"io 1 e000 20", "irq 42"}},
  };
  ASSERT_EQ(scan->count, std::size(want));
  for (uint32_t i = 0; i < scan->count; ++i) {
    const Want &w = want[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(scan->slots[i].bus, w.bus);
    EXPECT_EQ(scan->slots[i].slot, w.slot);
    EXPECT_EQ(scan->slots[i].function, w.function);
    EXPECT_EQ(scan->ids[i].vendor, w.vendor);
    EXPECT_EQ(scan->ids[i].device, w.device);

    auto info = std::make_unique<WDPciCardInfo>();
    std::memset(info.get(), 0, sizeof *info);
    info->slot = scan->slots[i];
    ASSERT_EQ(WDC_PciGetDeviceInfo(info.get()), kWdSuccess);
    std::vector<std::string> got;
    for (uint32_t n = 0; n < info->card.count; ++n) {
      const WDCardItem &it = info->card.items[n];
      char line[96];
      if (it.item == kItemMemory)
        std::snprintf(line, sizeof line, "mem %u %llx %llx", it.u.mem.bar,
                      static_cast<unsigned long long>(it.u.mem.physical),
                      static_cast<unsigned long long>(it.u.mem.length));
      else if (it.item == kItemIo)
        std::snprintf(line, sizeof line, "io %u %llx %x", it.u.io.bar, static_cast<unsigned long long>(it.u.io.port),
                      it.u.io.length);
      else if (it.item == kItemInterrupt)
        std::snprintf(line, sizeof line, "irq %u", it.u.interrupt.number);
      else
        continue;
      got.push_back(line);
    }
    EXPECT_EQ(got, w.items);
  }
  uint32_t sub = 0;
  ASSERT_EQ(WDC_PciReadCfgBySlot32(&scan->slots[2], 0x2C, &sub), kWdSuccess);
  EXPECT_EQ(sub, 0x120610B5u);
}

TEST(SysfsTree, CardRoadOverResourceFiles) {
  testsupport::TempDir tree;
  Function card = kmv100_card("0000:02:0e.0", 0xfea10000);
  card.files[0].second = 128;  // the kernel's file: as long as the space
  write_function(tree, card);
  Function other;
  other.name = "0000:00:1f.0";
  other.id = 0x12348086u;
  other.bars = {row(0xfea20000, 0xfea2007f, kMem)};
  write_function(tree, other);
  SysfsScope scope(tree.path());
  const size_t live = platform::driver::user_addr_live();
  ASSERT_EQ(PLX_LibInit(), kWdSuccess);

  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr() << WdcGetLastErrStr();
  EXPECT_EQ(h->slot.bus, 2u);
  EXPECT_EQ(h->slot.slot, 14u);
  EXPECT_EQ(h->interrupt.options, 0x01u);
  EXPECT_NE(h->interrupt.handle, 0u);

  // memory space 0 is the mapped file; I/O space 1 goes through its file
  ASSERT_EQ(WDC_WriteAddr32(h, 0, 0x50, 0x12345678u), kWdSuccess);
  EXPECT_EQ(P9050_ReadReg(h, 0x50), 0x12345678u);
  ASSERT_EQ(WDC_WriteAddr16(h, 1, 0x4C, 0x0041), kWdSuccess);
  uint16_t v = 0;
  ASSERT_EQ(WDC_ReadAddr16(h, 1, 0x4C, &v), kWdSuccess);
  EXPECT_EQ(v, 0x0041);
  uint64_t q = 0;
  EXPECT_EQ(WDC_ReadAddr64(h, 1, 0, &q), kWdInvalidParameter) << "the kernel moves at most 4 bytes per port access";

  // registration is shared: a second open of the card works beside the first,
  // and keeps working once the first is closed
  WDCDeviceHandle again = nullptr;
  ASSERT_EQ(P9050_Open(&again, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr();
  EXPECT_EQ(P9050_ReadReg(again, 0x50), 0x12345678u);
  PLX_DeviceClose(h);
  v = 0;
  ASSERT_EQ(WDC_ReadAddr16(again, 1, 0x4C, &v), kWdSuccess);
  EXPECT_EQ(v, 0x0041);
  PLX_DeviceClose(again);
  EXPECT_EQ(platform::driver::user_addr_live(), live);
  EXPECT_EQ(word_at(tree.file("0000:02:0e.0/resource0"), 0x50), 0x12345678u) << "the store reached the mapping";
}

TEST(SysfsTree, MemorySpaceStartsWhereItLiesInItsPage) {
  // BAR0 at 0xfea00400: the file maps the page from 0xfea00000, so the
  // space's register 0x50 is byte 0x450 of the file.
  testsupport::TempDir tree;
  write_function(tree, kmv100_card("0000:02:0e.0", 0xfea00400));
  const std::string file = tree.file("0000:02:0e.0/resource0");
  put_word_at(file, 0x450, 0xCAFE0080u);
  put_word_at(file, 0x50, 0x0BAD0BADu);
  SysfsScope scope(tree.path());
  ASSERT_EQ(PLX_LibInit(), kWdSuccess);
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr();
  EXPECT_EQ(h->spaces[0].length, 128u);
  EXPECT_EQ(P9050_ReadReg(h, 0x50), 0xCAFE0080u);
  ASSERT_EQ(WDC_WriteAddr32(h, 0, 0x7C, 0x11223344u), kWdSuccess);
  PLX_DeviceClose(h);
  EXPECT_EQ(word_at(file, 0x47C), 0x11223344u) << "the last register of the space";
  EXPECT_EQ(word_at(file, 0x7C), 0u) << "below the space: another device's bytes";
  EXPECT_EQ(word_at(file, 0x50), 0x0BAD0BADu);
}

TEST(SysfsTree, PortAccessesUseTheFilesOpenedAtRegistration) {
  testsupport::TempDir tree;
  write_function(tree, kmv100_card("0000:02:0e.0", 0xfea00000));
  const std::string file = tree.file("0000:02:0e.0/resource2");
  SysfsScope scope(tree.path());
  RegisterWinDriver();
  WDCDeviceHandle h = nullptr;
  ASSERT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 1) << PLX_GetLastErr();
  const QVPort port = static_cast<QVPort>(h->spaces[2].kernel);
  ASSERT_EQ(P9050_WriteQVWord(port + 2, 0x1234), kWdSuccess);
  // The file is replaced behind the registered card: its accesses stay with
  // the one it registered.
  ASSERT_EQ(::unlink(file.c_str()), 0);
  std::ofstream(file, std::ios::binary) << std::string(128, '\x55');
  EXPECT_EQ(P9050_ReadQVWord(port + 2), 0x1234);
  PLX_DeviceClose(h);
}

TEST(SysfsTree, AMissingTreeIsNoDriver) {
  SysfsScope scope("/nonexistent/pci/devices");
  EXPECT_EQ(PLX_LibInit(), kWdInvalidHandle);
}

// ---- reasons ----

std::string error_text(int16_t code) {
  char text[200] = {};
  KMV_get_error_string(code, text, sizeof text);
  return text;
}

std::string card_ini(const testsupport::TempDir &dir) {
  return dir.write("kmv.ini", "; KMV100 card configuration\n[KMV_BASE]\nSIMULATION = 0\n[KMV_MODULE1]\nKMV_ACTIVE = 1\n");
}

TEST(SysfsTree, FailuresSayWhy) {
  struct Case {
    const char *what;
    std::function<void(Function &)> change;
    const char *plx_text;
  };
  const Case cases[] = {
      {"no memory resource file", [](Function &f) { f.files.erase(f.files.begin()); },
       "Failed opening a WDC device handle. Error 0x20000017 - Failed to map in user space: the kernel offers no "
       "resource0 file\n"},
      {"no I/O resource file", [](Function &f) { f.files.pop_back(); },
       "Failed opening a WDC device handle. Error 0x20000007 - Internal system error: the kernel offers no "
       "resource2 file\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempDir tree;
    Function f = kmv100_card("0000:02:0e.0", 0xfea00000);
    c.change(f);
    write_function(tree, f);
    SysfsScope scope(tree.path());
    EXPECT_EQ(KMV_init(card_ini(tree).c_str()), KMV_WINDRV_ERR);
    EXPECT_EQ(error_text(KMV_WINDRV_ERR), "WinDriver : " + std::string(c.plx_text).substr(0, 127));
    WDCDeviceHandle h = nullptr;
    EXPECT_EQ(P9050_Open(&h, 0x10B5, 0x9050, 0, 0), 0);
    EXPECT_EQ(std::string(PLX_GetLastErr()), c.plx_text);
  }
}

TEST(SysfsTree, ConfigurationPastByte63SaysItNeedsRoot) {
  testsupport::TempDir tree;
  Function f = kmv100_card("0000:02:0e.0", 0xfea00000);
  f.config_bytes = 64;  // what the kernel gives an ordinary user
  write_function(tree, f);
  SysfsScope scope(tree.path());
  ASSERT_EQ(PLX_LibInit(), kWdSuccess);
  const WDPciSlot slot{2, 14, 0};
  uint32_t v = 0;
  EXPECT_EQ(WDC_PciReadCfgBySlot32(&slot, 0x3C, &v), kWdSuccess);
  EXPECT_EQ(WDC_PciReadCfgBySlot32(&slot, 0x40, &v), kWdOperationFailed);
  EXPECT_STREQ(WdcGetLastErrStr(),
               "WDC_PciReadWriteCfgBySlot: Failed reading 4 bytes from offset0x40.\nError 0x20000020 - Operation "
               "failed: configuration space past byte 63 needs root\n");
}

TEST(SysfsTree, NoDriverAndNoCardAreTheReasonsOfTheStart) {
  testsupport::TempDir tree;
  Function other;
  other.name = "0000:00:1f.0";
  other.id = 0x12348086u;
  write_function(tree, other);
  {
    SysfsScope scope(tree.path());
    EXPECT_EQ(KMV_init(card_ini(tree).c_str()), KMV_WINDRV_ERR);
    EXPECT_EQ(error_text(KMV_WINDRV_ERR), "WinDriver : no PLX9050 cards found");
  }
  {
    SysfsScope scope(tree.file("missing"));
    EXPECT_EQ(KMV_init(card_ini(tree).c_str()), KMV_WINDRV_ERR);
    EXPECT_EQ(error_text(KMV_WINDRV_ERR), "WinDriver : Cannot open WinDriver device");
  }
}

// ---- other programs ----

// Another program on the same machine: a child process forked at once, which
// runs `body` when let go and hands back the text it returns.
class OtherProgram {
 public:
  explicit OtherProgram(const std::function<std::string()> &body) {
    if (::pipe(go_) != 0 || ::pipe(back_) != 0) return;
    pid_ = ::fork();
    if (pid_ != 0) {
      ::close(go_[0]);
      ::close(back_[1]);
      return;
    }
    ::close(go_[1]);
    ::close(back_[0]);
    char c = 0;
    if (::read(go_[0], &c, 1) == 1) {
      const std::string text = body();
      if (::write(back_[1], text.data(), text.size()) < 0) _exit(2);
    }
    _exit(0);
  }
  ~OtherProgram() {
    if (pid_ > 0) run();
  }
  // Lets it go and waits for its end; "" when it did not run.
  std::string run() {
    if (pid_ <= 0) return {};
    std::string text;
    if (::write(go_[1], "g", 1) == 1) {
      char buf[256];
      ssize_t n;
      while ((n = ::read(back_[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    }
    ::close(go_[1]);
    ::close(back_[0]);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return text;
  }

 private:
  int go_[2] = {-1, -1}, back_[2] = {-1, -1};
  pid_t pid_ = -1;
};

std::string card_state(int16_t result) {
  return "result " + std::to_string(result) + ", status " + std::to_string(kmv_mod[0].init_status) + ", in use " +
         std::to_string(kmv_mod[0].in_use) + ", active " + std::to_string(kmv[0].active);
}

TEST(SysfsTree, ASecondProgramFindsTheCardInUseAndMayTakeItOver) {
  testsupport::VirtualClock clock;
  testsupport::TempDir tree;
  write_function(tree, kmv100_card("0000:02:0e.0", 0xfea00400));
  const std::string ini = card_ini(tree);
  OtherProgram second([&] {
    SysfsScope scope(tree.path());
    std::string text = card_state(KMV_init(ini.c_str()));
    const int16_t flags[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    text += "; taken over: " + card_state(KMV_set_mode(KMV_MODE_HARDWARE, 1, flags));
    return text;
  });
  SysfsScope scope(tree.path());
  KMV_init(ini.c_str());
  ASSERT_EQ(kmv_mod[0].in_use, 1) << error_text(kmv_err);
  ASSERT_EQ(kmv[0].active, 1);
  // The tree has no EEPROM: the card runs with its adjust block refused (-2).
  EXPECT_EQ(second.run(),
            "result -5, status -4, in use -1, active 0; taken over: result 0, status -2, in use 1, active 1");
  EXPECT_EQ(kmv_mod[0].in_use, 1) << "the first program's card is still started";
}

TEST(SysfsTree, WithoutWriteAccessTheReasonIsPermission) {
  struct Case {
    const char *read_only;
    const char *text;
  };
  const Case cases[] = {
      {"resource0", "Error 0x20000017 - Failed to map in user space: no write access to resource0 (needs root)\n"},
      {"resource2", "Error 0x20000007 - Internal system error: no write access to resource2 (needs root)\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.read_only);
    testsupport::TempDir tree;
    ::chmod(tree.path().c_str(), 0755);
    write_function(tree, kmv100_card("0000:02:0e.0", 0xfea00000));
    for (const char *name : {"resource0", "resource1", "resource2"})
      ::chmod(tree.file(std::string("0000:02:0e.0/") + name).c_str(), name == std::string(c.read_only) ? 0444 : 0666);
    OtherProgram user([&] {
      // root may write any file: the check runs as nobody then
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return std::string("no setuid");
      SysfsScope scope(tree.path());
      RegisterWinDriver();
      WDCDeviceHandle h = nullptr;
      return std::to_string(P9050_Open(&h, 0x10B5, 0x9050, 0, 0)) + " " + PLX_GetLastErr();
    });
    const std::string got = user.run();
    if (got == "no setuid") GTEST_SKIP() << "root here cannot become another user: no way to lack a permission";
    EXPECT_EQ(got, std::string("0 Failed opening a WDC device handle. ") + c.text);
  }
}

}  // namespace
