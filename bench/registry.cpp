// Cost of the registry store's calls against hives of growing size: every
// read parses the hive's file, every write re-reads, rewrites and syncs it
// under the lock. Also one start-up registration.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/win/clock.h"
#include "platform/win/progdir.h"
#include "platform/win/registry.h"
#include "support/Util_fun_registry.h"

namespace {

constexpr const char *kKey = "Software\\QV\\TRQ\\Bench";

template <class F>
double per_call_us(int calls, F &&f) {
  const double t0 = platform::clock::now();
  for (int i = 0; i < calls; ++i) f(i);
  return (platform::clock::now() - t0) * 1e6 / calls;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/trq-bench-registry-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  setenv("QV_REGISTRY_DIR", dir.c_str(), 1);
  setenv("XDG_DATA_HOME", dir.c_str(), 1);

  std::printf("%-8s %10s %14s %14s %14s\n", "values", "file (B)", "read (us)", "binary (us)", "write (us)");
  int stored = 0;
  for (const int n : {10, 100, 1000}) {
    for (; stored < n; ++stored) {
      const std::string name = "Value" + std::to_string(stored);
      RegWriteString(HKEY_CURRENT_USER, kKey, name.c_str(), "/home/operator/qv/runs/setup-file-name.set");
    }
    unsigned char record[992] = {};
    RegWriteBinary(HKEY_CURRENT_USER, kKey, "Current", record, sizeof record);
    char buf[260];
    uint32_t size = 0;
    const double read = per_call_us(200, [&](int i) {
      const std::string name = "Value" + std::to_string(i % n);
      RegReadString(HKEY_CURRENT_USER, kKey, name.c_str(), buf, sizeof buf, &size);
    });
    const double binary = per_call_us(200, [&](int) {
      RegReadBinary(HKEY_CURRENT_USER, kKey, "Current", record, sizeof record, &size);
    });
    const double write = per_call_us(50, [&](int i) { RegWriteULong(HKEY_CURRENT_USER, kKey, "Counter", i); });
    std::printf("%-8d %10ju %14.1f %14.1f %14.1f\n", n,
                static_cast<uintmax_t>(std::filesystem::file_size(platform::registry::hive_file(HKEY_CURRENT_USER))),
                read, binary, write);
  }

  std::filesystem::remove(platform::registry::hive_file(HKEY_CURRENT_USER));
  platform::set_program_dir(dir);
  char data_dir[260] = "";
  const double first = per_call_us(1, [&](int) { register_qv_app(QV_APP_TRQ, "trq_32x64", 0, data_dir); });
  const double later = per_call_us(20, [&](int) { register_qv_app(QV_APP_TRQ, "trq_32x64", 0, data_dir); });
  std::printf("register_qv_app: first start %.1f us, later starts %.1f us\n", first, later);

  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
