// Cost of one port access on the sysfs driver: a registered card in a made-up
// sysfs tree (regular files stand in for the kernel's resource files), its I/O
// space read and written word by word through the library's port accessors.
// `bench_sysfs_ports N` runs N accesses of each kind (default 20000); run it
// under `strace -c -f` to count the system calls per access.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pci/p9050_qv.h"
#include "pci/plx_device.h"
#include "platform/driver/device.h"
#include "platform/driver/sysfs_backend.h"

namespace {

// One PLX 9050 function: memory BAR0, I/O BAR1, I/O BAR2 as the kernel lists them.
std::string make_tree() {
  char templ[] = "/tmp/bench_sysfs_XXXXXX";
  if (!::mkdtemp(templ)) return {};
  const std::string dir = std::string(templ) + "/0000:02:0e.0";
  ::mkdir(dir.c_str(), 0755);
  std::vector<char> config(256, 0);
  const uint32_t id = 0x905010B5u, sub = 0x120610B5u;
  std::memcpy(config.data(), &id, 4);
  std::memcpy(config.data() + 0x2C, &sub, 4);
  std::ofstream(dir + "/config", std::ios::binary).write(config.data(), 256);
  std::ofstream(dir + "/resource") << "0x00000000fea00000 0x00000000fea0007f 0x0000000000040200\n"
                                      "0x000000000000d100 0x000000000000d17f 0x0000000000040101\n"
                                      "0x000000000000d200 0x000000000000d27f 0x0000000000040101\n";
  std::ofstream(dir + "/irq") << "11\n";
  const std::string page(4096, '\0');
  for (const char *name : {"/resource0", "/resource1", "/resource2"}) std::ofstream(dir + name, std::ios::binary) << page;
  return templ;
}

}  // namespace

int main(int argc, char **argv) {
  const long n = argc > 1 ? std::atol(argv[1]) : 20000;
  const std::string root = make_tree();
  if (root.empty()) {
    std::fprintf(stderr, "cannot make the sysfs tree\n");
    return 1;
  }
  platform::driver::set_backend(platform::driver::make_sysfs_backend(root));
  RegisterWinDriver();
  WDCDeviceHandle h = nullptr;
  if (qv_hWD == -1 || P9050_Open(&h, 0x10B5, 0x9050, 0, 0) != 1) {
    std::fprintf(stderr, "the card did not open: %s\n", PLX_GetLastErr());
    return 1;
  }
  const QVPort port = static_cast<QVPort>(h->spaces[2].kernel + 4);
  using Clock = std::chrono::steady_clock;
  auto run = [&](const char *what, auto access) {
    const auto t0 = Clock::now();
    for (long i = 0; i < n; ++i) access(i);
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    std::printf("%-22s %8ld accesses %10.3f us each\n", what, n, us / static_cast<double>(n));
  };
  int sum = 0;
  run("word write", [&](long i) { P9050_WriteQVWord(port, static_cast<uint16_t>(i)); });
  run("word read", [&](long) { sum += P9050_ReadQVWord(port); });
  run("byte read", [&](long) { sum += P9050_ReadQVByte(port); });
  std::printf("(checksum %d)\n", sum);
  PLX_DeviceClose(h);
  platform::driver::set_backend(nullptr);
  const std::string dir = root + "/0000:02:0e.0";
  for (const char *name : {"/config", "/resource", "/irq", "/resource0", "/resource1", "/resource2"})
    ::unlink((dir + name).c_str());
  ::rmdir(dir.c_str());
  ::rmdir(root.c_str());
  return 0;
}
