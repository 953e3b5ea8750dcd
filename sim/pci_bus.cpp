// The simulated PCI bus.
#include "sim/pci_bus.h"

#include <cstring>

#include "sim/plx9050.h"

namespace sim {

PciFunction::PciFunction() = default;

void PciFunction::config_read(uint32_t offset, uint8_t *data, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes; ++i) data[i] = offset + i < config_.size() ? config_[offset + i] : 0xFF;
}

void PciFunction::config_write(uint32_t offset, const uint8_t *data, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes; ++i) {
    const uint32_t at = offset + i;
    // ids, class, BARs, subsystem and the interrupt pin are read-only here
    const bool read_only = at < 4 || (at >= 8 && at < 0x0C) || (at >= 0x10 && at < 0x30) || at == 0x3D;
    if (at < config_.size() && !read_only) config_[at] = data[i];
  }
}

void PciFunction::set_config(uint32_t offset, uint32_t value, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes && offset + i < config_.size(); ++i) config_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t PciFunction::config32(uint32_t offset) {
  uint8_t b[4];
  config_read(offset, b, 4);
  uint32_t v;
  std::memcpy(&v, b, 4);
  return v;
}

PciPlainFunction::PciPlainFunction(uint16_t vendor, uint16_t device, uint32_t subsystem) {
  const uint32_t id = vendor | uint32_t{device} << 16;
  std::memcpy(&config_[0], &id, 4);
  std::memcpy(&config_[0x2C], &subsystem, 4);
}

uint64_t PciPlainFunction::bar_read(int bar, uint32_t offset, uint32_t bytes) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) {
    auto it = ram_.find({bar, offset + i});
    v |= uint64_t{it == ram_.end() ? uint8_t{0} : it->second} << (8 * i);
  }
  return v;
}

void PciPlainFunction::bar_write(int bar, uint32_t offset, uint32_t bytes, uint64_t value) {
  for (uint32_t i = 0; i < bytes; ++i) ram_[{bar, offset + i}] = static_cast<uint8_t>(value >> (8 * i));
}

PciFunction &PciBus::add(const PciSlotId &at, std::shared_ptr<PciFunction> f) {
  for (int b = 0; b < 6; ++b) {
    PciBar &bar = f->bars[b];
    if (bar.size == 0) continue;
    if (bar.memory) {
      bar.base = next_memory_;
      next_memory_ += std::max<uint32_t>(bar.size, 0x1000);
    } else {
      bar.base = next_port_;
      next_port_ += std::max<uint32_t>(bar.size, 0x80);
    }
    const uint32_t reg = static_cast<uint32_t>(bar.base) | (bar.memory ? 0u : 1u);
    f->set_config(0x10 + 4 * b, reg, 4);
  }
  f->set_config(0x3C, f->irq, 1);
  functions_[at] = std::move(f);
  return *functions_[at];
}

PlxPci9050 &PciBus::add_plx9050(const PciSlotId &at) { return add_plx9050(at, Plx9050Options{}); }

PlxPci9050 &PciBus::add_plx9050(const PciSlotId &at, const Plx9050Options &options) {
  auto f = std::make_shared<PlxPci9050>(options);
  PlxPci9050 &ref = *f;
  add(at, std::move(f));
  return ref;
}

void PciBus::remove(const PciSlotId &at) { functions_.erase(at); }

std::shared_ptr<PciFunction> PciBus::at(const PciSlotId &at) const {
  auto it = functions_.find(at);
  return it == functions_.end() ? nullptr : it->second;
}

std::vector<PciSlotId> PciBus::slots() const {
  std::vector<PciSlotId> out;
  for (const auto &[at, f] : functions_) out.push_back(at);
  return out;
}

uint64_t PciBus::port_read(uint64_t port, uint32_t bytes) {
  for (auto &[at, f] : functions_)
    for (int b = 0; b < 6; ++b) {
      const PciBar &bar = f->bars[b];
      if (bar.size && !bar.memory && port >= bar.base && port + bytes <= bar.base + bar.size)
        return f->bar_read(b, static_cast<uint32_t>(port - bar.base), bytes);
    }
  return bytes == 8 ? ~0ull : (1ull << (8 * bytes)) - 1;
}

void PciBus::port_write(uint64_t port, uint32_t bytes, uint64_t value) {
  for (auto &[at, f] : functions_)
    for (int b = 0; b < 6; ++b) {
      const PciBar &bar = f->bars[b];
      if (bar.size && !bar.memory && port >= bar.base && port + bytes <= bar.base + bar.size) {
        f->bar_write(b, static_cast<uint32_t>(port - bar.base), bytes, value);
        return;
      }
    }
}

void PciBus::raise_interrupt(const PciSlotId &at) {
  if (on_interrupt) on_interrupt(at);
}

void PciBus::inject(uint32_t function, uint32_t status, int times) {
  for (int i = 0; i < times; ++i) injected_[function].push_back(status);
}

bool PciBus::take_injected(uint32_t function, uint32_t *status) {
  auto it = injected_.find(function);
  if (it == injected_.end() || it->second.empty()) return false;
  *status = it->second.front();
  it->second.pop_front();
  return true;
}

std::vector<const PciRequest *> PciBus::requests(uint32_t function) const {
  std::vector<const PciRequest *> out;
  for (const PciRequest &r : log)
    if (r.function == function) out.push_back(&r);
  return out;
}

}  // namespace sim
