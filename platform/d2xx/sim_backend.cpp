#include "platform/d2xx/sim_backend.h"

#include <cstdio>
#include <cstdlib>

namespace platform::d2xx {
namespace {

// An open simulated device; dead once the device left the bus after the open.
class SimDevice : public Device {
 public:
  SimDevice(std::shared_ptr<sim::Bus> bus, sim::FtdiDevice *d) : bus_(std::move(bus)), d_(d), session_(d->session()) {}
  ~SimDevice() override {
    if (alive()) d_->close();
  }
  FT_STATUS write(const UCHAR *data, DWORD count, DWORD *written) override {
    if (alive()) bus_->before_write(*d_);
    return alive() ? d_->write(data, count, written) : FT_IO_ERROR;
  }
  FT_STATUS read(UCHAR *data, DWORD count, DWORD *received) override {
    return alive() ? d_->read(data, count, received) : FT_IO_ERROR;
  }
  FT_STATUS queue_status(DWORD *waiting) override { return alive() ? d_->queue_status(waiting) : FT_IO_ERROR; }
  FT_STATUS reset() override { return alive() ? d_->reset() : FT_IO_ERROR; }
  FT_STATUS purge(DWORD mask) override { return alive() ? d_->purge(mask) : FT_IO_ERROR; }
  FT_STATUS set_timeouts(DWORD r, DWORD w) override { return alive() ? d_->set_timeouts(r, w) : FT_IO_ERROR; }
  FT_STATUS set_chars(UCHAR a, UCHAR b, UCHAR c, UCHAR e) override {
    return alive() ? d_->set_chars(a, b, c, e) : FT_IO_ERROR;
  }
  FT_STATUS set_latency_timer(UCHAR ms) override { return alive() ? d_->set_latency_timer(ms) : FT_IO_ERROR; }
  FT_STATUS set_usb_parameters(DWORD in, DWORD out) override {
    return alive() ? d_->set_usb_parameters(in, out) : FT_IO_ERROR;
  }
  FT_STATUS set_bit_mode(UCHAR mask, UCHAR mode) override {
    return alive() ? d_->set_bit_mode(mask, mode) : FT_IO_ERROR;
  }
  FT_STATUS get_bit_mode(UCHAR *pins) override { return alive() ? d_->get_bit_mode(pins) : FT_IO_ERROR; }
  FT_STATUS cycle_port() override {
    if (!alive()) return FT_IO_ERROR;
    const FT_STATUS st = d_->cycle_port();
    return st;
  }
  FT_STATUS com_port(LONG *port) override {
    if (!alive()) return FT_IO_ERROR;
    *port = -1;
    return FT_OK;
  }
  FT_STATUS ua_size(DWORD *size) override { return alive() ? d_->ua_size(size) : FT_IO_ERROR; }
  FT_STATUS ua_read(UCHAR *data, DWORD length, DWORD *read) override {
    return alive() ? d_->ua_read(data, length, read) : FT_IO_ERROR;
  }

 private:
  bool alive() const { return d_->plugged() && d_->session() == session_; }
  std::shared_ptr<sim::Bus> bus_;
  sim::FtdiDevice *d_;
  uint64_t session_;
};

class SimBackend : public Backend {
 public:
  explicit SimBackend(std::shared_ptr<sim::Bus> bus) : bus_(std::move(bus)) {}
  const char *name() const override { return "sim"; }
  FT_STATUS list(std::vector<ListedDevice> *devices) override {
    devices->clear();
    for (sim::FtdiDevice *d : bus_->listed()) {
      ListedDevice l;
      l.held_elsewhere = d->held_elsewhere();
      l.high_speed = d->type() == 6 || d->type() == 7 || d->type() == 8;
      l.type = d->type();
      l.id = d->id();
      l.loc_id = d->loc_id();
      l.serial = d->serial();
      l.description = d->description();
      l.key = d->serial();
      devices->push_back(std::move(l));
    }
    return FT_OK;
  }
  FT_STATUS open(const ListedDevice &device, std::unique_ptr<Device> *opened) override {
    sim::FtdiDevice *d = bus_->device(device.key);
    if (!d || !d->plugged()) return FT_DEVICE_NOT_FOUND;
    const FT_STATUS st = d->open();
    if (st != FT_OK) return st;
    *opened = std::make_unique<SimDevice>(bus_, d);
    return FT_OK;
  }

 private:
  std::shared_ptr<sim::Bus> bus_;
};

}  // namespace

std::shared_ptr<Backend> make_sim_backend(std::shared_ptr<sim::Bus> bus) {
  return std::make_shared<SimBackend>(std::move(bus));
}

std::shared_ptr<Backend> make_sim_backend_from_env() {
  auto bus = std::make_shared<sim::Bus>();
  const char *sel = std::getenv("QV_D2XX");
  const char *file = std::getenv("QV_D2XX_SIM");
  std::string path;
  if (sel && std::string(sel) != "sim") path = sel;
  else if (file && *file) path = file;
  if (path.empty()) {
    bus->add_module("KMV00001");
  } else {
    std::string why;
    if (!sim::load_description(*bus, path, &why)) {
      std::fprintf(stderr, "simulated FTDI bus: %s\n", why.c_str());
      bus = std::make_shared<sim::Bus>();
    }
  }
  return make_sim_backend(std::move(bus));
}

SimBusScope::SimBusScope(std::shared_ptr<sim::Bus> bus) : bus_(std::move(bus)) {
  set_backend(make_sim_backend(bus_));
}

SimBusScope::~SimBusScope() { set_backend(make_empty_backend()); }

}  // namespace platform::d2xx
