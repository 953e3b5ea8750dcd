// The zip reader on any bytes, as an archive and as a gzip stream: open, list,
// find and extract every entry into a bounded buffer, with the password the
// encrypted seeds were made with.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/qv_zip.h"

namespace {
constexpr size_t kMaxOut = 1 << 20;

void walk(UnzipHandle u) {
  UnzipEntry e{};
  e.index = -1;
  if (UnzipGetItemA(u, &e) != ZIP_OK) return;
  const int32_t count = e.index;
  std::vector<uint8_t> out;
  for (int32_t i = 0; i < count && i < 64; ++i) {
    e.index = i;
    if (UnzipGetItemA(u, &e) != ZIP_OK) continue;
    UnzipEntry found = e;
    UnzipFindItemA(u, &found, UNZIP_IGNORE_CASE);
    // Sized as a caller would size it, but never beyond what the input can make.
    const auto want = static_cast<size_t>(e.uncompressed_size);
    out.resize(want < kMaxOut ? want : kMaxOut);
    UnzipItemToBuffer(u, out.data(), out.size(), &e);
    UnzipEntryW w{};
    w.index = i;
    UnzipGetItemW(u, &w);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  for (bool gzip : {false, true}) {
    UnzipHandle u = nullptr;
    const int code = gzip ? UnzipOpenBufferRaw(&u, data, size, "pw") : UnzipOpenBuffer(&u, data, size, "pw");
    if (code != ZIP_OK) continue;
    walk(u);
    UnzipClose(u);
  }
  return 0;
}
