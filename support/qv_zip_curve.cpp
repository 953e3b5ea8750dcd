// compress_curve: delta and run packing of 16-bit sample curves.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "support/qv_zip.h"

namespace {
constexpr int kBigStep = 64;           // changes this large are written whole
constexpr uint32_t kShortRun = 128;    // runs below this fit one byte
constexpr uint32_t kMaxRun = 0xFFFF;   // a run's 16-bit count
constexpr uint8_t kLiteral = 0x00;
constexpr uint8_t kDecrease = 0x40;
constexpr uint8_t kRun = 0x80;
}  // namespace

int compress_curve(const uint16_t *samples, uint8_t *output, int length) {
  if (samples == nullptr || output == nullptr || length <= 0) return 0;
  const int count = length / 2;
  const int64_t limit = static_cast<int64_t>(length) - 3;  // the packed form stays below it
  int64_t out = 0;
  uint32_t run = 0;
  bool full = false;
  auto put = [&](std::initializer_list<uint8_t> bytes) {
    if (full || out + static_cast<int64_t>(bytes.size()) >= limit) {
      full = true;
      return;
    }
    for (uint8_t b : bytes) output[out++] = b;
  };
  auto flush = [&]() {
    if (run == 0) return;
    if (run < kShortRun) put({static_cast<uint8_t>(kRun | run)});
    else put({kRun, static_cast<uint8_t>(run), static_cast<uint8_t>(run >> 8)});
    run = 0;
  };
  uint16_t prev = 0;
  for (int i = 0; i < count && !full; ++i) {
    const uint16_t s = samples[i];
    if (i > 0 && s == prev) {
      if (++run == kMaxRun) flush();  // longer runs go on in a new one
      continue;
    }
    flush();
    const int d = static_cast<int>(s) - static_cast<int>(prev);
    if (i == 0 || d >= kBigStep || d <= -kBigStep) put({kLiteral, static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8)});
    else if (d > 0) put({static_cast<uint8_t>(d)});
    else put({static_cast<uint8_t>(kDecrease | -d)});
    prev = s;
  }
  flush();
  if (full) {
    std::memcpy(output, samples, static_cast<size_t>(length));
    return length;
  }
  return static_cast<int>(out);
}
