// Any bytes as the user's registry file on disk: every read call on a set of
// keys and names, then a write (locked, synced and renamed, as the program
// writes); whatever read back before the write must read back the same after
// it. Each input costs a synced write: the text form alone is fuzzed much
// faster by fuzz_registry.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "platform/win/registry.h"

namespace {

std::string dir;

const char *const kKeys[] = {"Software\\QV\\TRQ", "Software\\QV\\TRQ\\FileDialog", "Software\\QV\\TRQ\\OpenedFiles",
                             "Software\\QV\\TRQ\\PanelAttr", "Software\\QV", "odd[", ""};
const char *const kNames[] = {"DataDir", "FilePath", "FileDir1", "FileDir2", "NoOfSETEntries", "SETFilePath1", "Path",
                              "Main",    "Good",     "Bad",      "Hidden",   "X",              "N",            "Cut",
                              ""};

// What each (key, name) reads as: the result code and the data.
std::map<std::string, std::string> read_all() {
  std::map<std::string, std::string> seen;
  for (const char *key : kKeys) {
    int handle = 0;
    const int opened = RegOpenKeyInView(HKEY_CURRENT_USER, key, 3, &handle);
    for (const char *name : kNames) {
      uint32_t type = 0, size = 0;
      std::string out = std::to_string(RegQueryInfoOnValue(HKEY_CURRENT_USER, key, name, &type, &size)) + ":" +
                        std::to_string(type) + ":" + std::to_string(size) + ":";
      char text[512];
      if (RegReadString(HKEY_CURRENT_USER, key, name, text, sizeof text, &size) == 0) out += text;
      uint32_t n = 0;
      if (RegReadULong(HKEY_CURRENT_USER, key, name, &n) == 0) out += std::to_string(n);
      unsigned char bin[64];
      if (RegReadBinary(HKEY_CURRENT_USER, key, name, bin, sizeof bin, &size) == 0)
        out.append(reinterpret_cast<const char *>(bin), size);
      if (opened == 0) {
        const int q = RegQueryKeyValue(handle, name, &type, &size);
        char value[512];
        const int r = RegReadKeyValue(handle, name, value, sizeof value);
        out += "|" + std::to_string(q) + ":" + std::to_string(r);
      }
      seen[std::string(key) + "/" + name] = out;
    }
    if (opened == 0) RegCloseKey(handle);
  }
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char tmpl[] = "/tmp/trq-fuzz-registry-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) abort();
  dir = tmpl;
  setenv("QV_REGISTRY_DIR", dir.c_str(), 1);
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string file = platform::registry::hive_file(HKEY_CURRENT_USER);
  FILE *f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  const auto before = read_all();
  if (RegWriteULong(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\Fuzz", "Written", 7) != 0) abort();
  const auto after = read_all();
  for (const auto &[where, what] : before) {
    // A value that read as sound must survive a rewrite of its file unchanged.
    if (what.rfind("0:", 0) == 0 && after.at(where) != what) abort();
  }
  uint32_t n = 0;
  if (RegReadULong(HKEY_CURRENT_USER, "Software\\QV\\TRQ\\Fuzz", "Written", &n) != 0 || n != 7) abort();
  return 0;
}
