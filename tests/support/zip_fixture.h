#pragma once
// Helpers of the zip tests: sample data, archives in memory, the standard
// tools as child processes, raw record fields.
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/qv_zip.h"

namespace ziptest {

// Text-like bytes that deflate well, with a seed so entries differ.
inline std::string sample(size_t n, unsigned seed = 1) {
  std::string s;
  s.reserve(n);
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += "line " + std::to_string((x >> 16) % 1000) + " of the curve\n";
  }
  s.resize(n);
  return s;
}

// Bytes that do not deflate.
inline std::string noise(size_t n, unsigned seed = 7) {
  std::string s(n, '\0');
  uint32_t x = seed;
  for (char &c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

struct Item {
  std::string name;
  std::string data;
};

// An archive of the items built in memory of its own, as bytes.
inline std::string archive(const std::vector<Item> &items, const char *password = nullptr) {
  ZipHandle z = nullptr;
  size_t cap = 4096;
  for (const Item &i : items) cap += i.data.size() + 2 * i.name.size() + 256;
  if (ZipCreateBuffer(&z, nullptr, cap, password) != ZIP_OK) return {};
  for (const Item &i : items)
    if (ZipAddBufferA(z, i.name.c_str(), i.data.data(), i.data.size()) != ZIP_OK) {
      ZipClose(z);
      return {};
    }
  void *base = nullptr;
  uint32_t len = 0;
  if (ZipGetMemory(z, &base, &len, nullptr) != ZIP_OK) {
    ZipClose(z);
    return {};
  }
  std::string out(static_cast<const char *>(base), len);
  ZipClose(z);
  return out;
}

// Extracts entry index of an archive in memory; code in *code.
inline std::string extract(const std::string &zip, int32_t index, int *code, const char *password = nullptr,
                           bool gzip = false) {
  UnzipHandle u = nullptr;
  *code = gzip ? UnzipOpenBufferRaw(&u, zip.data(), zip.size(), password)
               : UnzipOpenBuffer(&u, zip.data(), zip.size(), password);
  if (*code != ZIP_OK) return {};
  UnzipEntry e{};
  e.index = index;
  *code = UnzipGetItemA(u, &e);
  std::string out;
  if (*code == ZIP_OK) {
    out.resize(static_cast<size_t>(e.uncompressed_size));
    *code = UnzipItemToBuffer(u, out.data(), out.size(), &e);
  }
  UnzipClose(u);
  return out;
}

inline uint16_t get16(const std::string &b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
inline uint32_t get32(const std::string &b, size_t at) {
  return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16);
}
inline void set16(std::string &b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}
inline void set32(std::string &b, size_t at, uint32_t v) {
  set16(b, at, static_cast<uint16_t>(v));
  set16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
// Offset of the end record (no comment) and of the central directory.
inline size_t end_record(const std::string &zip) { return zip.size() - 22; }
inline size_t central(const std::string &zip) { return get32(zip, end_record(zip) + 16); }

// A command's standard output and exit status.
struct Result {
  int status = -1;
  std::string out;
};
inline Result run(const std::string &command) {
  Result r;
  FILE *p = popen(("(" + command + ") 2>/dev/null").c_str(), "r");
  if (p == nullptr) return r;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}
inline bool have(const char *tool) { return run(std::string("command -v ") + tool).status == 0; }

}  // namespace ziptest
