// Frames taken apart as they arrive: piece by piece, one frame at a time, and
// headers that must not be believed.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/dde/dde.h"
#include "platform/dde/wire.h"

namespace wire = platform::dde::wire;

namespace {

TEST(DdeWire, FrameArrivesByteByByte) {
  wire::Header h;
  h.kind = DDE_DATAREADY;
  h.format = DDE_TEXT;
  h.seq = 7;
  const auto bytes = wire::encode(h, "File_Name", "/a.set", 6);
  ASSERT_EQ(bytes.size(), sizeof(wire::Header) + 9 + 6);
  wire::Reader r(false);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    EXPECT_FALSE(r.complete());
    // The header first; its lengths tell the rest.
    const std::size_t head = sizeof(wire::Header);
    EXPECT_EQ(r.wanted(), i < head ? head - i : bytes.size() - i) << i;
    ASSERT_TRUE(r.feed(&bytes[i], 1)) << i;
  }
  ASSERT_TRUE(r.complete());
  const wire::Frame f = r.take();
  EXPECT_EQ(f.header.seq, 7u);
  EXPECT_EQ(f.item, "File_Name");
  EXPECT_EQ(std::string(f.data.begin(), f.data.end()), "/a.set");
  // The reader starts on the next frame, and takes nothing beyond one.
  EXPECT_EQ(r.wanted(), sizeof(wire::Header));
  std::vector<std::uint8_t> two = bytes;
  two.insert(two.end(), bytes.begin(), bytes.end());
  EXPECT_FALSE(r.feed(two.data(), two.size()));
}

// Headers whose lengths are lies fail at once, before memory is taken for them.
TEST(DdeWire, HeadersThatAreNotBelieved) {
  struct Case {
    const char *what;
    bool replies;
    void (*change)(wire::Header &);
  };
  const Case cases[] = {
      {"bad magic, 4 GiB of data", false, [](wire::Header &h) { h.magic = 0, h.data_len = 0xFFFFFFFF; }},
      {"4 GiB of data", false, [](wire::Header &h) { h.data_len = 0xFFFFFFFF; }},
      {"data beyond the limit", false, [](wire::Header &h) { h.data_len = DDE_MAX_DATA + 1; }},
      {"name beyond the limit", false, [](wire::Header &h) { h.item_len = DDE_MAX_NAME + 1; }},
      {"a reply to the server", false, [](wire::Header &h) { h.kind = wire::kReply; }},
      {"a request to the client", true, [](wire::Header &h) { h.kind = DDE_EXECUTE; }},
      {"a reply with a name", true, [](wire::Header &h) { h.kind = wire::kReply, h.item_len = 1; }},
      {"a reply of 4 GiB", true, [](wire::Header &h) { h.kind = wire::kReply, h.data_len = 0xFFFFFFFF; }},
      {"type 0", false, [](wire::Header &h) { h.kind = 0; }},
      {"type 8", false, [](wire::Header &h) { h.kind = 8; }},
      {"negative read size", false, [](wire::Header &h) { h.kind = DDE_REQUESTDATA, h.value = -1; }},
  };
  for (const Case &c : cases) {
    wire::Header h;
    h.kind = DDE_DATAREADY;
    c.change(h);
    std::uint8_t bytes[sizeof h];
    std::memcpy(bytes, &h, sizeof h);
    wire::Reader r(c.replies);
    EXPECT_FALSE(r.feed(bytes, sizeof bytes)) << c.what;
    EXPECT_EQ(r.wanted(), 0u) << c.what;
  }
}

}  // namespace
