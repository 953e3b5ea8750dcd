#include "platform/dde/wire.h"

#include <algorithm>
#include <cstring>

#include "platform/dde/dde.h"

namespace platform::dde::wire {

std::vector<std::uint8_t> encode(const Header &header, std::string_view item, const void *data, std::size_t size) {
  Header h = header;
  h.magic = kMagic;
  h.item_len = static_cast<std::uint16_t>(item.size());
  h.data_len = static_cast<std::uint32_t>(size);
  std::vector<std::uint8_t> out(sizeof h + item.size() + size);
  std::memcpy(out.data(), &h, sizeof h);
  if (!item.empty()) std::memcpy(out.data() + sizeof h, item.data(), item.size());
  if (size > 0) std::memcpy(out.data() + sizeof h + item.size(), data, size);
  return out;
}

bool valid_request(const Header &h) {
  if (h.magic != kMagic || (h.flags & ~kNoReply) != 0) return false;
  if (h.item_len > DDE_MAX_NAME || h.data_len > DDE_MAX_DATA) return false;
  switch (h.kind) {
    case DDE_CONNECT:
    case DDE_DISCONNECT:
    case DDE_ADVISELOOP:
    case DDE_ADVISESTOP: return h.data_len == 0;
    case DDE_REQUESTDATA: return h.data_len == 0 && h.value >= 0 && h.value <= DDE_MAX_DATA;
    case DDE_DATAREADY: return true;
    case DDE_EXECUTE: return h.item_len == 0;  // the command travels as data
    default: return false;
  }
}

bool valid_reply(const Header &h) {
  return h.magic == kMagic && h.kind == kReply && h.flags == 0 && h.item_len == 0 && h.data_len <= DDE_MAX_DATA;
}

std::size_t Reader::wanted() const {
  if (failed_ || complete_) return 0;
  if (have_ < sizeof(Header)) return sizeof(Header) - have_;
  return sizeof(Header) + frame_.header.item_len + frame_.header.data_len - have_;
}

bool Reader::feed(const std::uint8_t *bytes, std::size_t size) {
  while (size > 0 && !failed_) {
    const std::size_t take = std::min(size, wanted());
    if (take == 0) return false;  // more than the frame holds
    if (have_ < sizeof(Header)) {
      std::memcpy(head_ + have_, bytes, take);
      have_ += take;
      if (have_ == sizeof(Header)) {
        std::memcpy(&frame_.header, head_, sizeof(Header));
        const Header &h = frame_.header;
        if (!(replies_ ? valid_reply(h) : valid_request(h))) {
          failed_ = true;  // before its lengths are trusted with memory
        } else {
          frame_.item.reserve(h.item_len);
          frame_.data.reserve(h.data_len);
        }
      }
    } else {
      const std::size_t at = have_ - sizeof(Header);
      const std::size_t item_left = at < frame_.header.item_len ? frame_.header.item_len - at : 0;
      const std::size_t to_item = std::min(take, item_left);
      frame_.item.append(reinterpret_cast<const char *>(bytes), to_item);
      frame_.data.insert(frame_.data.end(), bytes + to_item, bytes + take);
      have_ += take;
      // Names are text: a NUL inside would hand the callback another name.
      if (to_item > 0 && std::memchr(bytes, 0, to_item) != nullptr) failed_ = true;
    }
    bytes += take;
    size -= take;
    if (!failed_ && have_ >= sizeof(Header) && wanted() == 0) complete_ = true;
    if (complete_ && size > 0) return false;
  }
  return !failed_;
}

Frame Reader::take() {
  Frame f = std::move(frame_);
  frame_ = Frame{};
  have_ = 0;
  complete_ = false;
  return f;
}

}  // namespace platform::dde::wire
