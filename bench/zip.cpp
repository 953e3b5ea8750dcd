// Packing and unpacking a 64 MiB buffer through the zip container, beside
// zlib's own raw deflate and inflate of the same data (with and without the
// CRC-32 the container adds), so the container's overhead is known. Then one
// unpacked data block of 129 MiB written to and read from a tagged file in
// 128 MiB pieces (needs that much room in the temporary folder).
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win/clock.h"
#include "support/File.h"
#include "support/Qv_file.h"
#include "support/Qv_file_blocks.h"
#include "support/qv_zip.h"

namespace {
constexpr size_t kSize = 64u << 20;
constexpr int kRounds = 3;
constexpr uint32_t kBlock = (128u << 20) + (1u << 20);

// A measurement curve: a slow wave with noise in its low bits, as 16-bit samples.
std::vector<uint8_t> curve(size_t bytes) {
  std::vector<uint8_t> out(bytes);
  uint32_t x = 12345;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    x = x * 1103515245u + 12345u;
    const auto s = static_cast<uint16_t>(20000 + ((i / 2) % 4096) * 4 + ((x >> 16) & 0x7));
    out[i] = static_cast<uint8_t>(s);
    out[i + 1] = static_cast<uint8_t>(s >> 8);
  }
  return out;
}

// Best of kRounds in seconds.
double best(const std::function<bool()> &f) {
  double t = 1e30;
  for (int r = 0; r < kRounds; ++r) {
    const double t0 = platform::clock::now();
    if (!f()) {
      std::fprintf(stderr, "a run failed\n");
      std::exit(1);
    }
    t = std::min(t, platform::clock::now() - t0);
  }
  return t;
}

void row(const char *what, double seconds, size_t bytes, double base) {
  const double mib = static_cast<double>(bytes) / (1 << 20);
  std::printf("%-34s %9.1f ms %9.1f MiB/s", what, seconds * 1000, mib / seconds);
  if (base > 0) std::printf("   %+6.1f %%", (seconds / base - 1) * 100);
  std::printf("\n");
}

bool zlib_deflate(const std::vector<uint8_t> &in, std::vector<uint8_t> *out, bool crc) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(deflateBound(&zs, in.size()));
  zs.next_in = const_cast<Bytef *>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out->data();
  zs.avail_out = static_cast<uInt>(out->size());
  const int r = deflate(&zs, Z_FINISH);
  out->resize(zs.total_out);
  deflateEnd(&zs);
  if (crc) {
    volatile uLong c = crc32_z(0, in.data(), in.size());
    (void)c;
  }
  return r == Z_STREAM_END;
}

bool zlib_inflate(const std::vector<uint8_t> &in, std::vector<uint8_t> *out, bool crc) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  zs.next_in = const_cast<Bytef *>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out->data();
  zs.avail_out = static_cast<uInt>(out->size());
  const int r = inflate(&zs, Z_FINISH);
  inflateEnd(&zs);
  if (crc) {
    volatile uLong c = crc32_z(0, out->data(), out->size());
    (void)c;
  }
  return r == Z_STREAM_END;
}

void block_file_round_trip() {
  char path[] = "/tmp/bench-zip-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return;
  close(fd);
  std::vector<uint8_t> data = curve(kBlock);
  FileRecord r{};
  create_empty_file(&r);
  const char list[] = "TITLE : bench\0\0";
  bool ok = create_qvfile(&r, path, nullptr) == 1 && put_info(&r, "\x04TRQ Data File\x04", 104 << 4, list) == 0;
  static int pieces = 0;
  update_zip_progress = [] { ++pieces; };
  update_load_progress = [] { ++pieces; };
  double t0 = platform::clock::now();
  ok = ok && put_long_data_block(&r, 1, 2, kBlock, 0, data.data()) > 0;
  const double write_s = platform::clock::now() - t0;
  const int written_pieces = pieces;
  std::vector<uint8_t> back(kBlock);
  pieces = 0;
  t0 = platform::clock::now();
  ok = ok && get_data_block(&r, 1, 0, nullptr, nullptr, back.data()) > 0;
  const double read_s = platform::clock::now() - t0;
  ok = ok && back == data;
  update_zip_progress = update_load_progress = nullptr;
  unlink_qvfile(&r);
  unlink(path);
  if (!ok) {
    std::printf("data block of 129 MiB: failed (room in /tmp?)\n");
    return;
  }
  std::printf("\ndata block of 129 MiB through a file, unpacked (%d pieces written, %d read):\n", written_pieces,
              pieces);
  row("  put_long_data_block", write_s, kBlock, 0);
  row("  get_data_block", read_s, kBlock, 0);
}
}  // namespace

int main() {
  const std::vector<uint8_t> data = curve(kSize);
  std::vector<uint8_t> packed;
  std::printf("64 MiB curve, deflate level 6, best of %d\n\n", kRounds);

  const double z_def = best([&] { return zlib_deflate(data, &packed, false); });
  const size_t deflated = packed.size();
  const double z_def_crc = best([&] { return zlib_deflate(data, &packed, true); });
  std::vector<uint8_t> archive;
  const double c_pack = best([&] {
    ZipHandle z = nullptr;
    if (ZipCreateBuffer(&z, nullptr, compressBound(kSize) + 256, nullptr) != ZIP_OK) return false;
    void *base = nullptr;
    uint32_t len = 0;
    ZipMappingHandle m = nullptr;
    if (ZipAddBufferA(z, "data_block", data.data(), data.size()) != ZIP_OK ||
        ZipGetMemory(z, &base, &len, &m) != ZIP_OK) {
      ZipClose(z);
      return false;
    }
    archive.assign(static_cast<uint8_t *>(base), static_cast<uint8_t *>(base) + len);
    ZipCloseMapping(m);
    return true;
  });
  // The copy out of the archive's own memory is the caller's; time it apart.
  const double copy = best([&] {
    std::vector<uint8_t> c(archive);
    return c.size() == archive.size();
  });
  std::printf("packing (%zu -> %zu bytes, archive %zu)\n", data.size(), deflated, archive.size());
  row("  zlib raw deflate", z_def, kSize, 0);
  row("  zlib raw deflate + crc32", z_def_crc, kSize, z_def);
  row("  container (memory archive)", c_pack - copy, kSize, z_def);

  std::vector<uint8_t> out(kSize);
  zlib_deflate(data, &packed, false);
  const double z_inf = best([&] { return zlib_inflate(packed, &out, false); });
  const double z_inf_crc = best([&] { return zlib_inflate(packed, &out, true); });
  const double c_unpack = best([&] {
    UnzipHandle u = nullptr;
    if (UnzipOpenBuffer(&u, archive.data(), archive.size(), nullptr) != ZIP_OK) return false;
    UnzipEntry e{};
    std::snprintf(e.name, sizeof e.name, "data_block");
    const bool ok = UnzipFindItemA(u, &e, 0) == ZIP_OK && UnzipItemToBuffer(u, out.data(), out.size(), &e) == ZIP_OK;
    UnzipClose(u);
    return ok;
  });
  if (out != data) {
    std::fprintf(stderr, "unpacked data differs\n");
    return 1;
  }
  std::printf("\nunpacking\n");
  row("  zlib raw inflate", z_inf, kSize, 0);
  row("  zlib raw inflate + crc32", z_inf_crc, kSize, z_inf);
  row("  container (CRC checked)", c_unpack, kSize, z_inf);

  block_file_round_trip();
  return 0;
}
