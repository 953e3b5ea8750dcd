#pragma once
// Frames on a service socket: a fixed 24-byte header, then the item (name,
// or topic for a connect) and the data. Both ends run on the same machine,
// but 32- and 64-bit builds talk to each other: fixed-width fields only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::dde::wire {

constexpr std::uint32_t kMagic = 0x45445651;  // "QVDE"
constexpr std::uint8_t kReply = 0x80;
constexpr std::uint8_t kNoReply = 1;  // flag: the client does not wait for the answer

struct Header {
  std::uint32_t magic = kMagic;
  std::uint8_t kind = 0;  // transaction type (DDE_CONNECT ...) or kReply
  std::uint8_t flags = 0;
  std::uint16_t item_len = 0;
  std::int32_t format = 0;
  std::uint32_t seq = 0;  // a reply carries its request's number
  std::uint32_t data_len = 0;
  std::int32_t value = 0;  // read request: buffer size; reply: the callback's result
};
static_assert(sizeof(Header) == 24);
static_assert(offsetof(Header, kind) == 4 && offsetof(Header, item_len) == 6 && offsetof(Header, format) == 8);
static_assert(offsetof(Header, seq) == 12 && offsetof(Header, data_len) == 16 && offsetof(Header, value) == 20);

struct Frame {
  Header header;
  std::string item;
  std::vector<char> data;
};

std::vector<std::uint8_t> encode(const Header &header, std::string_view item, const void *data, std::size_t size);

// Whether a header may come from a client (requests) or from a server (replies).
bool valid_request(const Header &h);
bool valid_reply(const Header &h);

// Takes a byte stream apart into frames, one at a time. Feeding never takes
// more than wanted(), so a reader leaves later frames in the socket.
class Reader {
 public:
  explicit Reader(bool replies) : replies_(replies) {}
  // Bytes still missing from the current frame.
  std::size_t wanted() const;
  // False when the bytes cannot be a frame; the reader is then useless.
  bool feed(const std::uint8_t *bytes, std::size_t size);
  bool complete() const { return complete_; }
  // The complete frame; the reader starts on the next one.
  Frame take();

 private:
  bool replies_;
  std::uint8_t head_[sizeof(Header)] = {};
  std::size_t have_ = 0;  // bytes of the current frame so far
  bool complete_ = false;
  bool failed_ = false;
  Frame frame_;
};

}  // namespace platform::dde::wire
