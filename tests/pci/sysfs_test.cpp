// The Linux backend: this machine's PCI bus read-only, and the whole card road
// over a made-up sysfs tree (regular files stand in for the resource files).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pci/plx_32w123c15.h"
#include "platform/driver/device.h"
#include "platform/driver/sysfs_backend.h"
#include "platform/driver/user_addr.h"
#include "tests/testsupport/testsupport.h"

namespace {

struct Listed {
  std::string name;
  unsigned domain, bus, slot, function;
  unsigned vendor, device, sub_vendor, sub_device;
};

unsigned read_hex(const std::string &path) {
  unsigned v = 0;
  if (FILE *f = std::fopen(path.c_str(), "r")) {
    if (std::fscanf(f, "%x", &v) != 1) v = 0;
    std::fclose(f);
  }
  return v;
}

// The functions as the kernel lists them, read without the library.
std::vector<Listed> kernel_list(const std::string &root) {
  std::vector<Listed> out;
  DIR *d = ::opendir(root.c_str());
  if (!d) return out;
  while (dirent *e = ::readdir(d)) {
    Listed l{};
    if (std::sscanf(e->d_name, "%x:%x:%x.%x", &l.domain, &l.bus, &l.slot, &l.function) != 4) continue;
    l.name = e->d_name;
    const std::string dir = root + "/" + l.name;
    l.vendor = read_hex(dir + "/vendor");
    l.device = read_hex(dir + "/device");
    l.sub_vendor = read_hex(dir + "/subsystem_vendor");
    l.sub_device = read_hex(dir + "/subsystem_device");
    out.push_back(l);
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const Listed &a, const Listed &b) {
    return std::tie(a.domain, a.bus, a.slot, a.function) < std::tie(b.domain, b.bus, b.slot, b.function);
  });
  return out;
}

class SysfsScope {
 public:
  explicit SysfsScope(const std::string &root) {
    WDC_DriverClose();
    WDC_SetDebugOptions(WDC_DBG_DEFAULT, nullptr);
    platform::driver::set_backend(platform::driver::make_sysfs_backend(root));
  }
  ~SysfsScope() {
    WDC_DriverClose();
    WDC_SetDebugOptions(WDC_DBG_DEFAULT, nullptr);
    platform::driver::set_backend(nullptr);
  }
};

TEST(SysfsBus, ScanListsThisMachinesFunctionsAsTheKernelDoes) {
  const std::string root = platform::driver::kSysfsPciDevices;
  struct stat st {};
  if (::stat("/sys/bus/pci", &st) != 0) GTEST_SKIP() << "/sys/bus/pci is missing: no PCI bus to compare with";
  const std::vector<Listed> kernel = kernel_list(root);
  if (kernel.empty()) GTEST_SKIP() << "the kernel lists no PCI functions here";
  SysfsScope scope(root);
  ASSERT_EQ(PLX_LibInit(), kWdSuccess) << PLX_GetLastErr();

  auto scan = std::make_unique<WDCPciScanResult>();
  ASSERT_EQ(WDC_PciScanDevices(0, 0, scan.get()), kWdSuccess);
  ASSERT_EQ(scan->count, std::min<size_t>(kernel.size(), 100));
  for (uint32_t i = 0; i < scan->count; ++i) {
    const Listed &k = kernel[i];
    SCOPED_TRACE(k.name);
    EXPECT_EQ(scan->slots[i].bus, k.domain << 8 | k.bus);
    EXPECT_EQ(scan->slots[i].slot, k.slot);
    EXPECT_EQ(scan->slots[i].function, k.function);
    EXPECT_EQ(scan->ids[i].vendor, k.vendor);
    EXPECT_EQ(scan->ids[i].device, k.device);
    // subsystem ids lie in the first 64 bytes, which everybody may read
    uint32_t sub = 0;
    ASSERT_EQ(WDC_PciReadCfgBySlot32(&scan->slots[i], 0x2C, &sub), kWdSuccess);
    EXPECT_EQ(sub & 0xFFFF, k.sub_vendor);
    EXPECT_EQ(sub >> 16, k.sub_device);

    // resources as the kernel's resource and irq files give them
    auto info = std::make_unique<WDPciCardInfo>();
    std::memset(info.get(), 0, sizeof *info);
    info->slot = scan->slots[i];
    ASSERT_EQ(WDC_PciGetDeviceInfo(info.get()), kWdSuccess);
    std::vector<std::string> got, want;
    for (uint32_t n = 0; n < info->card.count; ++n) {
      const WDCardItem &it = info->card.items[n];
      char line[96];
      if (it.item == kItemMemory)
        std::snprintf(line, sizeof line, "mem %u %llx %llx", it.u.mem.bar,
                      static_cast<unsigned long long>(it.u.mem.physical),
                      static_cast<unsigned long long>(it.u.mem.length));
      else if (it.item == kItemIo)
        std::snprintf(line, sizeof line, "io %u %llx %llx", it.u.io.bar, static_cast<unsigned long long>(it.u.io.port),
                      static_cast<unsigned long long>(it.u.io.length));
      else if (it.item == kItemInterrupt)
        std::snprintf(line, sizeof line, "irq %u", it.u.interrupt.number);
      else
        continue;
      got.push_back(line);
    }
    std::ifstream res(root + "/" + k.name + "/resource");
    unsigned long long start = 0, end = 0, flags = 0;
    for (unsigned bar = 0; bar < 6 && (res >> std::hex >> start >> end >> flags); ++bar) {
      if (end <= start || !(flags & 0x300)) continue;
      char line[96];
      std::snprintf(line, sizeof line, "%s %u %llx %llx", (flags & 0x100) ? "io" : "mem", bar, start, end - start + 1);
      want.push_back(line);
    }
    std::ifstream irq(root + "/" + k.name + "/irq");
    unsigned n = 0;
    if ((irq >> std::dec >> n) && n) want.push_back("irq " + std::to_string(n));
    EXPECT_EQ(got, want);
  }
}

// A made-up function folder: configuration space, resource list, a memory
// space (resource0) and an I/O space (resource1) as plain files.
void make_function(const std::string &dir, uint32_t id, uint32_t subsystem, unsigned n) {
  ::mkdir(dir.c_str(), 0755);
  std::vector<uint8_t> config(256, 0);
  std::memcpy(config.data(), &id, 4);
  std::memcpy(config.data() + 0x2C, &subsystem, 4);
  std::ofstream(dir + "/config", std::ios::binary).write(reinterpret_cast<const char *>(config.data()), 256);
  char resource[256];
  std::snprintf(resource, sizeof resource,
                "0x00000000fea%x0000 0x00000000fea%x007f 0x0000000000040200\n"
                "0x000000000000d%x00 0x000000000000d%x7f 0x0000000000040101\n"
                "0x0000000000000000 0x0000000000000000 0x0000000000000000\n",
                n, n, n, n);
  std::ofstream(dir + "/resource") << resource;
  std::ofstream(dir + "/irq") << "11\n";
  const std::string zeros(128, '\0');
  std::ofstream(dir + "/resource0", std::ios::binary) << zeros;
  std::ofstream(dir + "/resource1", std::ios::binary) << zeros;
}

TEST(SysfsTree, CardRoadOverResourceFiles) {
  testsupport::TempDir tree;
  make_function(tree.file("0000:02:0e.0"), 0x905010B5u, 0x120610B5u, 1);
  make_function(tree.file("0000:00:1f.0"), 0x12348086u, 0, 2);
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

  // registered: a second open of the same card is refused by the lock
  WDCDeviceHandle again = nullptr;
  EXPECT_EQ(P9050_Open(&again, 0x10B5, 0x9050, 0, 0), 0);
  EXPECT_NE(std::string(WdcGetLastErrStr()).find("0x2000000e"), std::string::npos) << WdcGetLastErrStr();

  PLX_DeviceClose(h);
  ASSERT_EQ(P9050_Open(&again, 0x10B5, 0x9050, 0, 0), 1);
  PLX_DeviceClose(again);
  EXPECT_EQ(platform::driver::user_addr_live(), live);

  std::ifstream mem(tree.file("0000:02:0e.0/resource0"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(mem)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 128u);
  uint32_t cntrl = 0;
  std::memcpy(&cntrl, bytes.data() + 0x50, 4);
  EXPECT_EQ(cntrl, 0x12345678u) << "the store reached the mapping";
}

TEST(SysfsTree, AMissingTreeIsNoDriver) {
  SysfsScope scope("/nonexistent/pci/devices");
  EXPECT_EQ(PLX_LibInit(), kWdInvalidHandle);
}

}  // namespace
