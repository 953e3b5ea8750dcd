#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/qv_zip.h"

namespace {

// The packer's result and output for a curve (length = 2 bytes per sample).
std::vector<uint8_t> pack(const std::vector<uint16_t> &curve, int *result, int length = -1) {
  if (length < 0) length = static_cast<int>(curve.size() * 2);
  std::vector<uint8_t> out(static_cast<size_t>(length) + 1, 0xEE);
  *result = compress_curve(curve.data(), out.data(), length);
  EXPECT_EQ(out.back(), 0xEE) << "nothing beyond length";
  out.resize(*result > 0 ? static_cast<size_t>(*result) : 0);
  return out;
}

// Reads the packed form back (the format as a reader would take it).
std::vector<uint16_t> unpack(const std::vector<uint8_t> &p) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < p.size();) {
    const uint8_t b = p[i++];
    if (b == 0x00) {
      out.push_back(static_cast<uint16_t>(p[i] | (p[i + 1] << 8)));
      i += 2;
    } else if (b < 0x40) {
      out.push_back(static_cast<uint16_t>(out.back() + b));
    } else if (b < 0x80) {
      out.push_back(static_cast<uint16_t>(out.back() - (b & 0x3F)));
    } else {
      size_t n = b & 0x7F;
      if (n == 0) {
        n = p[i] | (p[i + 1] << 8);
        i += 2;
      }
      out.insert(out.end(), n, out.back());
    }
  }
  return out;
}

std::vector<uint16_t> flat(size_t n, uint16_t v) { return std::vector<uint16_t>(n, v); }

TEST(CompressCurve, PackedForms) {
  struct Case {
    const char *what;
    std::vector<uint16_t> curve;
    std::vector<uint8_t> packed;
  };
  std::vector<uint16_t> steps = {1000, 1063, 1000, 1064, 1000};
  steps.insert(steps.end(), 100, 1000);  // room enough to stay packed
  const std::vector<Case> cases = {
      {"100 equal samples", flat(100, 0x1234), {0x00, 0x34, 0x12, 0xE3}},
      {"run of 127", flat(128, 7), {0x00, 7, 0, 0xFF}},
      {"run of 128", flat(129, 7), {0x00, 7, 0, 0x80, 0x80, 0x00}},
      {"steps of 63 and 64", steps, {0x00, 0xE8, 0x03, 0x3F, 0x7F, 0x00, 0x28, 0x04, 0x00, 0xE8, 0x03, 0xE4}},
      {"0x7FFF to 0x8000 is one step up", {0x7FFF, 0x8000, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF},
       {0x00, 0xFF, 0x7F, 0x01, 0x41, 0x84}},
  };
  for (const Case &c : cases) {
    int r = -1;
    EXPECT_EQ(pack(c.curve, &r), c.packed) << c.what;
    EXPECT_EQ(r, static_cast<int>(c.packed.size())) << c.what;
  }
}

TEST(CompressCurve, LongRunsAreSplitAt65535) {
  for (size_t repeats : {size_t{65535}, size_t{65536}, size_t{200000}}) {
    const std::vector<uint16_t> curve = flat(repeats + 1, 42);
    int r = -1;
    const std::vector<uint8_t> p = pack(curve, &r);
    EXPECT_EQ(unpack(p), curve) << repeats;
  }
  int r = -1;
  EXPECT_EQ(pack(flat(65536, 1), &r), (std::vector<uint8_t>{0x00, 1, 0, 0x80, 0xFF, 0xFF}));
  EXPECT_EQ(pack(flat(65537, 1), &r), (std::vector<uint8_t>{0x00, 1, 0, 0x80, 0xFF, 0xFF, 0x81}));
}

TEST(CompressCurve, UnpackedWhenPackingDoesNotPay) {
  std::vector<uint16_t> jumps;
  for (int i = 0; i < 50; ++i) jumps.push_back(static_cast<uint16_t>((i % 2) * 1000));
  int r = -1;
  std::vector<uint8_t> out = pack(jumps, &r);
  EXPECT_EQ(r, 100);
  EXPECT_EQ(std::memcmp(out.data(), jumps.data(), 100), 0);

  // The limit: a packed form reaching length - 3 is not used.
  const std::vector<uint16_t> three = {5, 6, 7, 8};  // 3 + 1 + 1 + 1 bytes in 8
  pack(three, &r);
  EXPECT_EQ(r, 8);
  const std::vector<uint16_t> four = {5, 6, 7, 8, 8};  // 3 + 1 + 1 + 1 + 1 bytes in 10
  pack(four, &r);
  EXPECT_EQ(r, 10);
  const std::vector<uint16_t> five = {5, 6, 7, 8, 8, 8};  // 7 bytes in 12 stay packed
  EXPECT_EQ(pack(five, &r), (std::vector<uint8_t>{0, 5, 0, 1, 1, 1, 0x82}));
  EXPECT_EQ(r, 7);

  // Small and odd lengths.
  const std::vector<uint16_t> one = {0xABCD, 0x1111};
  EXPECT_EQ(compress_curve(one.data(), out.data(), 0), 0);
  std::vector<uint8_t> o(3, 0);
  EXPECT_EQ(compress_curve(one.data(), o.data(), 2), 2);
  EXPECT_EQ(o[0], 0xCD);
  EXPECT_EQ(compress_curve(one.data(), o.data(), 3), 3) << "one sample and a stray byte, copied";
  EXPECT_EQ(compress_curve(nullptr, o.data(), 2), 0);
}

}  // namespace
