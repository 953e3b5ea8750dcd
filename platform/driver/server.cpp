// The driver's side of the control interface.
#include "platform/driver/server.h"

#include <algorithm>

#include "platform/driver/user_addr.h"
#include "platform/win/clock.h"

namespace platform::driver {

using namespace wire;

namespace {

// Width in bytes, kind and direction of a transfer command; false for none.
struct Cmd {
  uint32_t bytes;
  bool memory;
  bool block;
  bool write;
};

bool decode_command(uint32_t command, Cmd *c) {
  static constexpr uint32_t kWidth[8] = {1, 2, 4, 1, 2, 4, 8, 8};
  static constexpr bool kWrite[8] = {false, false, false, true, true, true, false, true};
  const uint32_t group = command / 10, index = command % 10;
  if (command < 10 || command > 47 || index > 7) return false;
  c->bytes = kWidth[index];
  c->write = kWrite[index];
  c->memory = group >= 3;
  c->block = group == 2 || group == 4;
  return true;
}

}  // namespace

bool PciHost::ids(const PciLocation &at, uint32_t *id) {
  uint8_t raw[4] = {};
  if (!config(at, 0, raw, 4, false)) return false;
  *id = get32(raw);
  return true;
}

void PciHost::mmio_unmap_default(uint32_t user) { mmio_unmap(user); }

bool wire::function_of(Interface i, uint32_t c, uint32_t *function) {
  if (c < 0x95380003u || (c - 0x95380003u) % 4 != 0 || c > 0x9538FFFFu) return false;
  uint32_t f = (c - 0x95380003u) / 4;
  const uint32_t bias = i == Interface::k64 ? 0x400u : 0u;
  // Functions 0x900..0x9FF belong to the 32-bit family, 0xD00..0xDFF to the 64-bit one.
  if (f < 0x900 + bias || f > 0x9FF + bias) return false;
  *function = f - bias;
  return true;
}

RequestServer::RequestServer(std::shared_ptr<PciHost> host, Interface iface)
    : host_(std::move(host)), iface_(iface), layout_(layout(iface)) {}

RequestServer::~RequestServer() {
  std::vector<uint32_t> left;
  for (const auto &[h, r] : cards_) left.push_back(h);
  for (uint32_t h : left) drop(h);
}

intptr_t RequestServer::open() {
  std::lock_guard<std::mutex> g(m_);
  if (!host_->present()) return -1;
  handles_.push_back(next_handle_);
  return next_handle_++;
}

void RequestServer::close(intptr_t handle) {
  std::lock_guard<std::mutex> g(m_);
  handles_.erase(std::remove(handles_.begin(), handles_.end(), handle), handles_.end());
}

size_t RequestServer::registered() const {
  std::lock_guard<std::mutex> g(m_);
  return cards_.size();
}

void RequestServer::request(intptr_t handle, uint32_t code, void *record, uint32_t size, uint32_t *status) {
  std::unique_lock<std::mutex> lock(m_);
  if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end()) {
    *status = kStInvalidHandle;
    return;
  }
  uint32_t function = 0;
  auto *rec = static_cast<uint8_t *>(record);
  if (!function_of(iface_, code, &function)) {
    *status = kStInvalidIoctl;
    host_->log(0, rec, size, *status);
    return;
  }
  uint32_t st = 0;
  if (!host_->intercept(function, rec, size, &st)) st = rec ? dispatch(function, rec, size, lock) : kStInvalidParameter;
  *status = st;
  host_->log(function, rec, size, st);
}

uint32_t RequestServer::dispatch(uint32_t function, uint8_t *rec, uint32_t size, std::unique_lock<std::mutex> &lock) {
  auto need = [&](uint32_t bytes) { return size == bytes; };
  switch (function) {
    case 0x910: return need(kVersionSize) ? do_version(rec) : kStInvalidParameter;
    case 0x9A3: return need(kScanSize) ? do_scan(rec) : kStInvalidParameter;
    case 0x91A: return need(kConfigSize) ? do_config(rec) : kStInvalidParameter;
    case 0x9E8: return need(layout_.card_info_size) ? do_card_info(rec) : kStInvalidParameter;
    case 0x9E6: return need(layout_.register_size) ? do_register(rec) : kStInvalidParameter;
    case 0x9E7: return need(layout_.register_size) ? do_unregister(rec) : kStInvalidParameter;
    case 0x98C: return need(kTransferSize) ? do_transfer(rec) : kStInvalidParameter;
    case 0x98D: {
      if (size == 0 || size % kTransferSize != 0) return kStInvalidParameter;
      for (uint32_t at = 0; at < size; at += kTransferSize) {
        const uint32_t st = do_transfer(rec + at);
        if (st != kStOk) return st;
      }
      return kStOk;
    }
    case 0x964: return need(kDebugSize) ? do_debug(rec) : kStInvalidParameter;
    case 0x927: return need(kSleepSize) ? do_sleep(rec, lock) : kStInvalidParameter;
    case 0x9B6: return need(kInterruptSize) ? do_int_enable(rec) : kStInvalidParameter;
    case 0x9BB: return need(kInterruptSize) ? do_int_disable(rec) : kStInvalidParameter;
    case 0x9B9: return need(kInterruptSize) ? do_int_wait(rec, lock) : kStInvalidParameter;
    default: return kStNotImplemented;
  }
}

uint32_t RequestServer::do_version(uint8_t *rec) {
  put32(rec, host_->driver_version());
  const std::string text = host_->driver_text().substr(0, 127);
  std::memset(rec + 4, 0, 128);
  std::memcpy(rec + 4, text.data(), text.size());
  return kStOk;
}

uint32_t RequestServer::do_scan(uint8_t *rec) {
  const uint32_t vendor = get32(rec), device = get32(rec + 4), options = get32(rec + kScanOptions);
  if (options > 2) return kStInvalidParameter;
  uint32_t n = 0;
  for (const PciLocation &at : host_->functions()) {
    if (n == 100) break;
    uint32_t id = 0;
    if (!host_->ids(at, &id)) continue;
    const uint32_t v = id & 0xFFFF, d = id >> 16;
    if ((vendor && v != vendor) || (device && d != device)) continue;
    if (options == 2) {
      bool reg = false;
      for (const auto &[h, r] : cards_) reg = reg || (r.at && *r.at == at);
      if (!reg) continue;
    }
    put32(rec + kScanIds + 8 * n, v);
    put32(rec + kScanIds + 8 * n + 4, d);
    put32(rec + kScanSlots + 12 * n, at.bus);
    put32(rec + kScanSlots + 12 * n + 4, at.slot);
    put32(rec + kScanSlots + 12 * n + 8, at.function);
    ++n;
  }
  put32(rec + kScanCount, n);
  return n == 0 ? host_->scan_no_match_status() : kStOk;
}

uint32_t RequestServer::do_config(uint8_t *rec) {
  const PciLocation at{get32(rec), get32(rec + 4), get32(rec + 8)};
  const uint32_t offset = get32(rec + kConfigOffset), bytes = get32(rec + kConfigBytes);
  const bool read = get32(rec + kConfigRead) != 0;
  uint8_t *buf = user_addr_resolve(get32(rec + kConfigBuffer), bytes);
  if (!buf || bytes == 0 || offset >= 4096 || bytes > 4096 - offset) return kStInvalidParameter;
  put32(rec + kConfigResult, host_->config(at, offset, buf, bytes, !read) ? 0u : 1u);
  return kStOk;
}

uint32_t RequestServer::do_card_info(uint8_t *rec) {
  const PciLocation at{get32(rec), get32(rec + 4), get32(rec + 8)};
  std::vector<PciResource> res;
  if (!host_->resources(at, &res)) return kStNotFound;
  uint8_t *card = rec + kCardInfoCard;
  std::memset(card, 0, layout_.card_size);
  uint32_t n = 0;
  auto item = [&](uint32_t kind) {
    uint8_t *it = card + kCardItemsAt + n * layout_.item_size;
    put32(it, kind);
    ++n;
    return it;
  };
  uint8_t *bus = item(5);
  put32(bus + 8, 5);
  for (const PciResource &r : res) {
    if (n == 20) break;
    if (r.kind == PciResource::kMemory) {
      uint8_t *it = item(2);
      put64(it + 8, r.start);
      put64(it + 16, r.length);
      put32(it + layout_.mem_bar, r.bar);
    } else if (r.kind == PciResource::kIo) {
      uint8_t *it = item(3);
      put_kernel(layout_, it + 8, r.start);
      put32(it + layout_.io_length, static_cast<uint32_t>(r.length));
      put32(it + layout_.io_bar, r.bar);
    } else {
      uint8_t *it = item(1);
      put32(it + 8, r.irq);
      put32(it + 12, r.irq_options);
    }
  }
  put32(card, n);
  return kStOk;
}

uint32_t RequestServer::do_register(uint8_t *rec) {
  const uint32_t n = get32(rec);
  if (n > 20) return kStInvalidParameter;
  // The function is the one whose ranges the items name.
  Registration reg;
  std::vector<PciResource> res;
  for (const PciLocation &at : host_->functions()) {
    res.clear();
    if (!host_->resources(at, &res)) continue;
    bool match = false;
    for (uint32_t i = 0; i < n && !match; ++i) {
      const uint8_t *it = rec + kCardItemsAt + i * layout_.item_size;
      const uint32_t kind = get32(it);
      for (const PciResource &r : res) {
        if (kind == 2 && r.kind == PciResource::kMemory && get64(it + 8) == r.start) match = true;
        if (kind == 3 && r.kind == PciResource::kIo && get_kernel(layout_, it + 8) == r.start) match = true;
      }
    }
    if (match) {
      reg.at = at;
      break;
    }
  }
  if (reg.at) {
    const uint32_t st = host_->claim(*reg.at);
    if (st != kStOk) return st;
  }
  auto undo = [&](uint32_t st) {
    for (uint32_t w : reg.windows) host_->unmap_memory(w);
    for (uint32_t i : reg.interrupts) irqs_.erase(i);
    if (reg.at) host_->release(*reg.at);
    return st;
  };
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t *it = rec + kCardItemsAt + i * layout_.item_size;
    const uint32_t kind = get32(it);
    if (kind == 2) {
      PciResource r;
      r.start = get64(it + 8);
      r.length = get64(it + 16);
      r.bar = get32(it + layout_.mem_bar);
      uint32_t user = 0;
      const uint32_t st = reg.at ? host_->map_memory(*reg.at, r, &user) : kStNotFound;
      if (st != kStOk) return undo(st);
      reg.windows.push_back(user);
      // The library reaches memory through its mapping; block transfers name
      // the same address as the kernel address.
      put_kernel(layout_, it + layout_.mem_kernel, user);
      put32(it + layout_.mem_user, user);
    } else if (kind == 1 && reg.at) {
      Irq irq;
      irq.at = *reg.at;
      const uint32_t h = next_irq_++;
      irqs_[h] = irq;
      reg.interrupts.push_back(h);
      put32(it + 16, h);
    }
  }
  const uint32_t handle = next_card_++;
  cards_[handle] = std::move(reg);
  put32(rec + layout_.register_handle, handle);
  return kStOk;
}

void RequestServer::drop(uint32_t handle) {
  auto it = cards_.find(handle);
  if (it == cards_.end()) return;
  for (uint32_t w : it->second.windows) host_->unmap_memory(w);
  for (uint32_t i : it->second.interrupts) {
    auto q = irqs_.find(i);
    if (q != irqs_.end()) {
      q->second.enabled = false;
      ++q->second.generation;
    }
  }
  if (it->second.at) host_->release(*it->second.at);
  cards_.erase(it);
  cv_.notify_all();
}

uint32_t RequestServer::do_unregister(uint8_t *rec) {
  const uint32_t handle = get32(rec + layout_.register_handle);
  if (!cards_.count(handle)) return kStInvalidHandle;
  drop(handle);
  return kStOk;
}

uint32_t RequestServer::transfer_one(uint64_t address, uint32_t command, uint32_t bytes, bool autoinc,
                                     uint8_t *data) {
  Cmd c{};
  if (!decode_command(command, &c)) return kStInvalidParameter;
  auto access = [&](uint64_t addr, uint64_t *v) -> uint32_t {
    if (c.memory) {
      if (addr > 0xFFFFFFFFu) return kStInvalidParameter;
      const auto a = static_cast<uint32_t>(addr);
      const bool ok = c.write ? mmio_write(a, c.bytes, *v) : mmio_read(a, c.bytes, v);
      return ok ? kStOk : kStInvalidParameter;
    }
    return host_->port_io(addr, c.bytes, c.write, v);
  };
  if (!c.block) {
    uint64_t v = get64(data);
    const uint32_t st = access(address, &v);
    if (st == kStOk && !c.write) {
      const uint64_t mask = c.bytes == 8 ? ~0ull : (1ull << (8 * c.bytes)) - 1;
      put64(data, v & mask);
    }
    return st;
  }
  if (bytes % c.bytes != 0) return kStInvalidParameter;
  uint8_t *buf = user_addr_resolve(get32(data), bytes);
  if (!buf && bytes) return kStInvalidParameter;
  for (uint32_t i = 0; i < bytes; i += c.bytes) {
    uint64_t v = 0;
    if (c.write) std::memcpy(&v, buf + i, c.bytes);
    const uint32_t st = access(address + (autoinc ? i : 0), &v);
    if (st != kStOk) return st;
    if (!c.write) std::memcpy(buf + i, &v, c.bytes);
  }
  return kStOk;
}

uint32_t RequestServer::do_transfer(uint8_t *rec) {
  return transfer_one(get_kernel(layout_, rec), get32(rec + layout_.xfer_command), get32(rec + layout_.xfer_bytes),
                      get32(rec + layout_.xfer_auto) != 0, rec + kTransferData);
}

uint32_t RequestServer::do_debug(uint8_t *rec) {
  const char *text = reinterpret_cast<const char *>(rec);
  host_->debug_text(std::string(text, strnlen(text, 256)), get32(rec + 256), get32(rec + 260));
  return kStOk;
}

uint32_t RequestServer::do_sleep(uint8_t *rec, std::unique_lock<std::mutex> &lock) {
  const uint32_t us = get32(rec);
  lock.unlock();
  platform::clock::sleep(us / 1e6);
  lock.lock();
  return kStOk;
}

uint32_t RequestServer::do_int_enable(uint8_t *rec) {
  if (!host_->interrupts_supported()) return kStNotImplemented;
  auto it = irqs_.find(get32(rec));
  if (it == irqs_.end()) return kStInvalidHandle;
  Irq &q = it->second;
  if (q.enabled) return 0x20000011u;
  q.enabled = true;
  q.commands = get32(rec + 8);
  q.command_count = get32(rec + 12);
  q.seen = q.count;
  put32(rec + 28, get32(rec + 4) & 0x31u);  // the type in use
  return kStOk;
}

uint32_t RequestServer::do_int_disable(uint8_t *rec) {
  if (!host_->interrupts_supported()) return kStNotImplemented;
  auto it = irqs_.find(get32(rec));
  if (it == irqs_.end()) return kStInvalidHandle;
  if (!it->second.enabled) return 0x2000000Du;
  it->second.enabled = false;
  ++it->second.generation;
  cv_.notify_all();
  return kStOk;
}

uint32_t RequestServer::do_int_wait(uint8_t *rec, std::unique_lock<std::mutex> &lock) {
  if (!host_->interrupts_supported()) return kStNotImplemented;
  const uint32_t h = get32(rec);
  auto it = irqs_.find(h);
  if (it == irqs_.end()) return kStInvalidHandle;
  // A wait after the disable ends at once: the waiter may loop once more.
  if (!it->second.enabled) {
    put32(rec + 36, 1);
    return kStOk;
  }
  const uint64_t gen = it->second.generation;
  cv_.wait(lock, [&] {
    auto q = irqs_.find(h);
    return q == irqs_.end() || q->second.generation != gen || q->second.count != q->second.seen;
  });
  auto q = irqs_.find(h);
  if (q == irqs_.end() || q->second.generation != gen) {
    put32(rec + 36, 1);
    return kStOk;
  }
  Irq &irq = q->second;
  irq.lost += irq.count - irq.seen - 1;
  irq.seen = irq.count;
  put32(rec + 20, irq.count);
  put32(rec + 24, irq.lost);
  put32(rec + 36, 0);
  return kStOk;
}

void RequestServer::raise_interrupt(const PciLocation &at) {
  std::lock_guard<std::mutex> g(m_);
  for (auto &[h, q] : irqs_) {
    if (!(q.at == at) || !q.enabled) continue;
    // The commands run as the driver's interrupt routine would, before the waiter wakes.
    uint8_t *cmds = user_addr_resolve(q.commands, size_t{q.command_count} * kTransferSize);
    uint64_t last_read = 0;
    bool ours = true;
    for (uint32_t i = 0; cmds && ours && i < q.command_count; ++i) {
      uint8_t *t = cmds + i * kTransferSize;
      const uint32_t command = get32(t + layout_.xfer_command);
      if (command == 1) {  // mask: not this card's interrupt when no source bit is set
        ours = (last_read & get64(t + kTransferData)) != 0;
        continue;
      }
      transfer_one(get_kernel(layout_, t), command, get32(t + layout_.xfer_bytes), get32(t + layout_.xfer_auto) != 0,
                   t + kTransferData);
      Cmd c{};
      if (decode_command(command, &c) && !c.write && !c.block) last_read = get64(t + kTransferData);
    }
    if (ours) ++q.count;
  }
  cv_.notify_all();
}

}  // namespace platform::driver
