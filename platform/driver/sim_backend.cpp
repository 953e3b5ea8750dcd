// The simulated kernel driver: the request server over the simulated bus.
#include "platform/driver/sim_backend.h"

#include "platform/driver/user_addr.h"
#include "sim/kmv100_card.h"
#include "sim/plx9050.h"

namespace platform::driver {
namespace {

sim::PciSlotId to_sim(const PciLocation &at) { return {at.bus, at.slot, at.function}; }

// A memory space of a simulated function; reads all ones once it is gone.
class SimWindow : public MmioTarget {
 public:
  SimWindow(std::weak_ptr<sim::PciFunction> f, int bar) : f_(std::move(f)), bar_(bar) {}
  uint64_t read(uint32_t offset, uint32_t bytes) override {
    auto f = f_.lock();
    if (!f) return bytes == 8 ? ~0ull : (1ull << (8 * bytes)) - 1;
    return f->bar_read(bar_, offset, bytes);
  }
  void write(uint32_t offset, uint32_t bytes, uint64_t value) override {
    if (auto f = f_.lock()) f->bar_write(bar_, offset, bytes, value);
  }

 private:
  std::weak_ptr<sim::PciFunction> f_;
  int bar_;
};

class SimHost : public PciHost {
 public:
  explicit SimHost(std::shared_ptr<sim::PciBus> bus) : bus_(std::move(bus)) {}
  const char *name() const override { return "sim"; }
  bool present() override { return !bus_->driver_absent; }
  uint32_t driver_version() override { return bus_->driver_version; }
  std::string driver_text() override { return "simulated qvdrvr"; }
  uint32_t scan_no_match_status() override { return bus_->scan_no_match_status; }

  std::vector<PciLocation> functions() override {
    std::vector<PciLocation> out;
    for (const sim::PciSlotId &s : bus_->slots()) out.push_back({s.bus, s.slot, s.function});
    return out;
  }

  bool config(const PciLocation &at, uint32_t offset, uint8_t *data, uint32_t bytes, bool write) override {
    auto f = bus_->at(to_sim(at));
    if (!f || bus_->config_fails.count(to_sim(at)) || offset + bytes > 256) return false;
    if (write)
      f->config_write(offset, data, bytes);
    else
      f->config_read(offset, data, bytes);
    return true;
  }

  // The scan sees every card, even one whose configuration requests fail.
  bool ids(const PciLocation &at, uint32_t *id) override {
    auto f = bus_->at(to_sim(at));
    if (!f) return false;
    *id = f->config32(0);
    return true;
  }

  bool resources(const PciLocation &at, std::vector<PciResource> *out) override {
    auto f = bus_->at(to_sim(at));
    if (!f) return false;
    for (uint32_t b = 0; b < 6; ++b) {
      const sim::PciBar &bar = f->bars[b];
      if (bar.size == 0) continue;
      PciResource r;
      r.kind = bar.memory ? PciResource::kMemory : PciResource::kIo;
      r.bar = b;
      r.start = bar.base;
      r.length = bar.size;
      out->push_back(r);
    }
    if (f->irq) {
      PciResource r;
      r.kind = PciResource::kInterrupt;
      r.irq = f->irq;
      r.irq_options = f->irq_options;
      out->push_back(r);
    }
    return true;
  }

  uint32_t claim(const PciLocation &at) override {
    const sim::PciSlotId s = to_sim(at);
    if (claimed_.count(s) && bus_->exclusive_registration) return kStResourceOverlap;
    ++claimed_[s];
    return kStOk;
  }
  void release(const PciLocation &at) override {
    auto it = claimed_.find(to_sim(at));
    if (it != claimed_.end() && --it->second == 0) claimed_.erase(it);
  }

  uint32_t map_memory(const PciLocation &at, const PciResource &r, uint32_t *user) override {
    auto f = bus_->at(to_sim(at));
    if (!f || r.bar >= 6 || !f->bars[r.bar].memory) return kStNotFound;
    *user = mmio_map_target(std::make_shared<SimWindow>(f, static_cast<int>(r.bar)), f->bars[r.bar].size);
    return *user ? kStOk : 0x20000017u;
  }

  uint32_t port_io(uint64_t port, uint32_t bytes, bool write, uint64_t *value) override {
    if (write)
      bus_->port_write(port, bytes, *value);
    else
      *value = bus_->port_read(port, bytes);
    return kStOk;
  }

  bool interrupts_supported() override { return true; }

  void debug_text(const std::string &text, uint32_t level, uint32_t section) override {
    bus_->monitor.push_back(text);
  }
  bool intercept(uint32_t function, const uint8_t *, uint32_t, uint32_t *status) override {
    return bus_->take_injected(function, status);
  }
  void log(uint32_t function, const uint8_t *record, uint32_t size, uint32_t status) override {
    sim::PciRequest r;
    r.function = function;
    if (record) r.record.assign(record, record + size);
    r.status = status;
    bus_->log.push_back(std::move(r));
  }

 private:
  std::shared_ptr<sim::PciBus> bus_;
  std::map<sim::PciSlotId, int> claimed_;
};

}  // namespace

std::shared_ptr<RequestServer> make_sim_backend(std::shared_ptr<sim::PciBus> bus, wire::Interface iface) {
  auto server = std::make_shared<RequestServer>(std::make_shared<SimHost>(bus), iface);
  std::weak_ptr<RequestServer> weak = server;
  bus->on_interrupt = [weak](const sim::PciSlotId &at) {
    if (auto s = weak.lock()) s->raise_interrupt({at.bus, at.slot, at.function});
  };
  return server;
}

std::shared_ptr<RequestServer> make_sim_backend_from_env() {
  auto bus = std::make_shared<sim::PciBus>();
  sim::add_kmv100(*bus, {0, 14, 0});
  return make_sim_backend(bus);
}

SimPciScope::SimPciScope(std::shared_ptr<sim::PciBus> bus, wire::Interface iface)
    : bus_(std::move(bus)), server_(make_sim_backend(bus_, iface)) {
  set_backend(server_);
}

SimPciScope::~SimPciScope() {
  set_backend(nullptr);
  bus_->on_interrupt = nullptr;
}

}  // namespace platform::driver
