#include "sim/usb_bus.h"

#include <dlfcn.h>
#include <libusb.h>
#include <link.h>

#include <algorithm>
#include <cstring>

#include "platform/d2xx/eeprom_layout.h"
#include "platform/d2xx/ftd2xx.h"
#include "platform/win/clock.h"

namespace sim {
namespace {

constexpr uint16_t kLangEnUs = 0x0409;

// What enumeration shows of each chip family.
struct ChipInfo {
  uint16_t bcd_device;
  int interfaces;
  int max_packet;
  bool high_speed;
};

ChipInfo chip_info(uint32_t type) {
  switch (type) {
    case FT_DEVICE_232H: return {0x0900, 1, 512, true};
    case FT_DEVICE_2232H: return {0x0700, 2, 512, true};
    case FT_DEVICE_4232H: return {0x0800, 4, 512, true};
    case FT_DEVICE_232R: return {0x0600, 1, 64, false};
    case FT_DEVICE_2232C: return {0x0500, 2, 64, false};
    default: return {0x0400, 1, 64, false};
  }
}

void put16(std::vector<uint8_t> &v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x & 0xFF));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

std::vector<uint8_t> string_descriptor(const std::string &s) {
  const size_t chars = std::min<size_t>(s.size(), 126);
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * chars), LIBUSB_DT_STRING};
  for (size_t i = 0; i < chars; ++i) put16(d, static_cast<uint8_t>(s[i]));
  return d;
}


// The file the loader took a library of this soname from.
std::string loaded_path(const char *soname) {
  struct Search {
    const char *soname;
    std::string path;
  } s{soname, {}};
  dl_iterate_phdr(
      [](dl_phdr_info *info, size_t, void *p) {
        auto *s = static_cast<Search *>(p);
        const std::string name = info->dlpi_name ? info->dlpi_name : "";
        const size_t slash = name.rfind('/');
        if (name.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, s->soname) == 0) s->path = name;
        return 0;
      },
      &s);
  return s.path;
}

}  // namespace

UsbCounts &operator+=(UsbCounts &a, const UsbCounts &b) {
  a.control += b.control;
  a.bulk_out += b.bulk_out;
  a.bulk_in += b.bulk_in;
  a.packets_in += b.packets_in;
  a.empty_in += b.empty_in;
  a.bytes_out += b.bytes_out;
  a.bytes_in += b.bytes_in;
  a.latency_wait += b.latency_wait;
  return a;
}

UsbBus::UsbBus(std::shared_ptr<Bus> bus) : bus_(std::move(bus)) {
  host_.version = TRQ_USBSIM_VERSION;
  host_.self = this;
  host_.list = [](void *p, trq_usbsim_device *out, int max) { return self(p)->list(out, max); };
  host_.descriptor = [](void *p, uint64_t id, uint64_t session, uint8_t type, uint8_t *buf, int len) {
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    std::vector<uint8_t> out;
    const int r = self(p)->descriptor(*d, type, 0, 0, &out);
    if (r < 0) return r;
    std::copy_n(out.begin(), std::min<size_t>(out.size(), static_cast<size_t>(std::max(len, 0))), buf);
    return static_cast<int>(out.size());
  };
  host_.open = [](void *p, uint64_t id, uint64_t session) {
    State *st = nullptr;
    if (!self(p)->live(id, session, &st)) return int{LIBUSB_ERROR_NO_DEVICE};
    ++st->handles;
    return int{LIBUSB_SUCCESS};
  };
  host_.close = [](void *p, uint64_t id, uint64_t session) {
    State *st = nullptr;
    if (self(p)->live(id, session, &st) && st->handles > 0) --st->handles;
  };
  host_.claim = [](void *p, uint64_t id, uint64_t session, int itf) {
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    if (itf < 0 || itf >= self(p)->interfaces(*d)) return int{LIBUSB_ERROR_NOT_FOUND};
    Channel &ch = st->channel[itf];
    if (ch.claimed) return int{LIBUSB_ERROR_BUSY};
    // Held by another process, or still bound to the serial driver: the kernel says busy.
    if (d->held_elsewhere() || ch.kernel_driver) return int{LIBUSB_ERROR_BUSY};
    if (itf == 0 && d->open() != FT_OK) return int{LIBUSB_ERROR_BUSY};
    ch.claimed = true;
    return int{LIBUSB_SUCCESS};
  };
  host_.release = [](void *p, uint64_t id, uint64_t session, int itf) {
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    if (itf < 0 || itf >= self(p)->interfaces(*d) || !st->channel[itf].claimed) return int{LIBUSB_ERROR_NOT_FOUND};
    st->channel[itf].claimed = false;
    if (itf == 0) d->close();
    return int{LIBUSB_SUCCESS};
  };
  host_.kernel_driver = [](void *p, uint64_t id, uint64_t session, int itf, int op) {
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    if (itf < 0 || itf >= self(p)->interfaces(*d)) return int{LIBUSB_ERROR_NOT_FOUND};
    Channel &ch = st->channel[itf];
    // Another process's claim is usbfs: a driver that cannot be detached.
    if (d->held_elsewhere()) return op == 0 ? 1 : int{LIBUSB_ERROR_INVALID_PARAM};
    switch (op) {
      case 0: return ch.kernel_driver ? 1 : 0;
      case 1:
        if (!ch.kernel_driver) return int{LIBUSB_ERROR_NOT_FOUND};
        ch.kernel_driver = false;
        return int{LIBUSB_SUCCESS};
      default:
        if (ch.kernel_driver) return int{LIBUSB_ERROR_BUSY};
        if (ch.claimed) return int{LIBUSB_ERROR_BUSY};
        ch.kernel_driver = true;
        return int{LIBUSB_SUCCESS};
    }
  };
  host_.control = [](void *p, uint64_t id, uint64_t session, uint8_t type, uint8_t req, uint16_t value,
                     uint16_t index, uint8_t *data, uint16_t length, unsigned) {
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    ++st->counts.control;
    return self(p)->control(*d, *st, type, req, value, index, data, length);
  };
  host_.bulk = [](void *p, uint64_t id, uint64_t session, uint8_t ep, uint8_t *data, int length, int *transferred,
                  unsigned timeout_ms) {
    *transferred = 0;
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    // Interface n has IN endpoint 0x81 + 2n and OUT endpoint 0x02 + 2n.
    const int channel = ((ep & 0x7F) - 1) / 2;
    const bool in = (ep & LIBUSB_ENDPOINT_IN) != 0;
    if (channel < 0 || channel >= self(p)->interfaces(*d) || (ep & 0x7F) != (in ? 1 : 2) + 2 * channel)
      return int{LIBUSB_ERROR_NOT_FOUND};
    if (in) return self(p)->bulk_in(*d, *st, channel, data, length, transferred, timeout_ms);
    ++st->counts.bulk_out;
    if (channel != 0) {  // a second channel with nothing behind it takes everything
      *transferred = length;
      st->counts.bytes_out += static_cast<uint64_t>(length);
      return length;
    }
    uint32_t written = 0;
    const uint32_t status = d->write(data, static_cast<uint32_t>(std::max(length, 0)), &written);
    *transferred = static_cast<int>(written);
    st->counts.bytes_out += written;
    if (status != FT_OK) return int{LIBUSB_ERROR_IO};
    // A chip that stops taking data lets the host's transfer time out.
    if (static_cast<int>(written) < length) return int{LIBUSB_ERROR_TIMEOUT};
    return length;
  };
  host_.reset = [](void *p, uint64_t id, uint64_t session) {
    State *st = nullptr;
    FtdiDevice *d = self(p)->live(id, session, &st);
    if (!d) return int{LIBUSB_ERROR_NO_DEVICE};
    // The chip re-enumerates: its handles die and libusb finds a new device.
    d->cycle_port();
    return int{LIBUSB_ERROR_NOT_FOUND};
  };
}

UsbBus::~UsbBus() {
  if (attach_) attach_(nullptr);
  if (library_) dlclose(library_);
}

bool UsbBus::attach(std::string *why) {
  if (!library_) library_ = dlopen("libusb-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    *why = std::string("libusb-1.0.so.0 cannot be loaded: ") + dlerror();
    return false;
  }
  library_path_ = loaded_path("libusb-1.0.so.0");
  attach_ = reinterpret_cast<trq_usbsim_attach_fn>(dlsym(library_, TRQ_USBSIM_ATTACH));
  if (!attach_) {
    *why = "the libusb-1.0.so.0 loaded (" + library_path_ + ") is not the stand-in of the simulated bus";
    return false;
  }
  if (attach_(&host_) != TRQ_USBSIM_VERSION) {
    attach_ = nullptr;
    *why = "the libusb stand-in at " + library_path_ + " speaks another version";
    return false;
  }
  return true;
}

FtdiDevice *UsbBus::find(uint64_t id) {
  for (FtdiDevice *d : bus_->listed())
    if (reinterpret_cast<uint64_t>(d) == id) return d;
  return nullptr;
}

UsbBus::State &UsbBus::state(FtdiDevice &d) {
  State &st = states_[&d];
  if (st.session != d.session()) {
    // A new enumeration: drivers bound again, nothing claimed, a new address.
    const UsbCounts counts = st.counts;
    st = State{};
    st.session = d.session();
    st.counts = counts;
    st.address = next_address_;
    next_address_ = static_cast<uint8_t>(next_address_ % 127 + 1);
    for (Channel &ch : st.channel) ch.last_packet = platform::clock::now();
  }
  return st;
}

FtdiDevice *UsbBus::live(uint64_t id, uint64_t session, State **st) {
  FtdiDevice *d = find(id);
  if (!d || !d->plugged() || d->session() != session) return nullptr;
  *st = &state(*d);
  return d;
}

int UsbBus::interfaces(const FtdiDevice &d) const { return std::min(chip_info(d.type()).interfaces, 2); }

int UsbBus::list(trq_usbsim_device *out, int max) {
  const std::vector<FtdiDevice *> devs = bus_->listed();
  int i = 0;
  for (FtdiDevice *d : devs) {
    if (i < max && out) {
      State &st = state(*d);
      trq_usbsim_device &u = out[i];
      u = trq_usbsim_device{};
      u.id = reinterpret_cast<uint64_t>(d);
      u.session = d->session();
      u.bus_number = 1;
      u.address = st.address;
      u.port_count = 1;
      // The port a device sits in stays while it is attached: its place on the bus.
      u.ports[0] = static_cast<uint8_t>((d->loc_id() & 0x7F) ? d->loc_id() & 0x7F : i + 1);
      u.speed = chip_info(d->type()).high_speed ? LIBUSB_SPEED_HIGH : LIBUSB_SPEED_FULL;
    }
    ++i;
  }
  return i;
}

int UsbBus::descriptor(FtdiDevice &d, uint8_t type, uint8_t index, uint16_t lang, std::vector<uint8_t> *out) {
  const ChipInfo chip = chip_info(d.type());
  out->clear();
  switch (type) {
    case LIBUSB_DT_DEVICE:
      *out = {LIBUSB_DT_DEVICE_SIZE, LIBUSB_DT_DEVICE};
      put16(*out, 0x0200);
      out->insert(out->end(), {0, 0, 0, static_cast<uint8_t>(chip.high_speed ? 64 : 8)});
      put16(*out, static_cast<uint16_t>(d.id() >> 16));
      put16(*out, static_cast<uint16_t>(d.id() & 0xFFFF));
      put16(*out, chip.bcd_device);
      out->insert(out->end(), {1, 2, 3, 1});
      return static_cast<int>(out->size());
    case LIBUSB_DT_CONFIG: {
      if (index != 0) return LIBUSB_ERROR_PIPE;
      const int n = interfaces(d);
      *out = {LIBUSB_DT_CONFIG_SIZE, LIBUSB_DT_CONFIG, 0, 0, static_cast<uint8_t>(n), 1, 0, 0xA0, 50};
      for (int i = 0; i < n; ++i) {
        out->insert(out->end(), {LIBUSB_DT_INTERFACE_SIZE, LIBUSB_DT_INTERFACE, static_cast<uint8_t>(i), 0, 2, 0xFF,
                                 0xFF, 0xFF, 2});
        for (uint8_t ep : {static_cast<uint8_t>(0x81 + 2 * i), static_cast<uint8_t>(0x02 + 2 * i)}) {
          out->insert(out->end(), {LIBUSB_DT_ENDPOINT_SIZE, LIBUSB_DT_ENDPOINT, ep, LIBUSB_TRANSFER_TYPE_BULK});
          put16(*out, static_cast<uint16_t>(chip.max_packet));
          out->push_back(0);
        }
      }
      (*out)[2] = static_cast<uint8_t>(out->size() & 0xFF);
      (*out)[3] = static_cast<uint8_t>(out->size() >> 8);
      return static_cast<int>(out->size());
    }
    case LIBUSB_DT_STRING:
      if (index == 0) {
        *out = {4, LIBUSB_DT_STRING};
        put16(*out, kLangEnUs);
        return 4;
      }
      if (lang != kLangEnUs) return LIBUSB_ERROR_PIPE;
      switch (index) {
        case 1: {
          // The chip takes its strings from its EEPROM; a blank one gives the maker's name.
          platform::d2xx::ProductRecord r;
          if (!platform::d2xx::eeprom_layout::decode(d.eeprom_image(), &r)) r = platform::d2xx::ProductRecord{};
          *out = string_descriptor(r.manufacturer);
          break;
        }
        case 2: *out = string_descriptor(d.description()); break;
        case 3: *out = string_descriptor(d.serial()); break;
        default: return LIBUSB_ERROR_PIPE;
      }
      return static_cast<int>(out->size());
    default: return LIBUSB_ERROR_PIPE;
  }
}

int UsbBus::control(FtdiDevice &d, State &st, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                    uint8_t *data, uint16_t length) {
  if ((type & 0x60) == LIBUSB_REQUEST_TYPE_VENDOR) return vendor(d, st, type, request, value, index, data, length);
  if ((type & 0x60) != LIBUSB_REQUEST_TYPE_STANDARD) return LIBUSB_ERROR_PIPE;
  const bool in = (type & LIBUSB_ENDPOINT_IN) != 0;
  switch (request) {
    case LIBUSB_REQUEST_GET_DESCRIPTOR: {
      if (!in) return LIBUSB_ERROR_PIPE;
      std::vector<uint8_t> desc;
      const int r = descriptor(d, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF), index, &desc);
      if (r < 0) return r;
      const size_t n = std::min<size_t>(desc.size(), length);
      std::copy_n(desc.begin(), n, data);
      return static_cast<int>(n);
    }
    case LIBUSB_REQUEST_GET_CONFIGURATION:
      if (!in || length < 1) return LIBUSB_ERROR_PIPE;
      data[0] = 1;
      return 1;
    case LIBUSB_REQUEST_SET_CONFIGURATION: return value == 1 ? 0 : LIBUSB_ERROR_PIPE;
    case LIBUSB_REQUEST_GET_STATUS:
      if (!in || length < 2) return LIBUSB_ERROR_PIPE;
      data[0] = data[1] = 0;
      return 2;
    default: return LIBUSB_ERROR_PIPE;
  }
}

// FTDI's vendor requests. The low byte of the index names the channel (1 = A)
// for the SIO requests and the word address for the EEPROM requests.
int UsbBus::vendor(FtdiDevice &d, State &st, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                   uint8_t *data, uint16_t length) {
  const bool in = (type & LIBUSB_ENDPOINT_IN) != 0;
  const int port = index & 0xFF;
  const int channel = port == 0 ? 0 : port - 1;
  if (request < 0x90 && channel >= interfaces(d)) return LIBUSB_ERROR_PIPE;
  // A second channel has nothing behind it: it takes its settings and forgets them.
  const bool engine = channel == 0;
  const auto ok = [](uint32_t status) { return status == FT_OK ? 0 : int{LIBUSB_ERROR_PIPE}; };
  switch (request) {
    case 0x00:  // reset: 0 the whole channel, 1 the OUT FIFO, 2 the IN FIFO
      if (!engine) return 0;
      if (value == 0) return ok(d.reset());
      if (value == 1) return ok(d.purge(FT_PURGE_TX));
      if (value == 2) return ok(d.purge(FT_PURGE_RX));
      return LIBUSB_ERROR_PIPE;
    case 0x01:  // modem control
    case 0x02:  // flow control
    case 0x03:  // baud rate
    case 0x04:  // data characteristics
      return 0;
    case 0x05:  // modem status
      if (!in || length < 2) return LIBUSB_ERROR_PIPE;
      data[0] = kModemStatus0;
      data[1] = kModemStatus1;
      return 2;
    case 0x06:  // event character
    case 0x07:  // error character
      if (request == 0x06) {
        st.event_char = static_cast<uint8_t>(value & 0xFF);
        st.event_enable = static_cast<uint8_t>(value >> 8 & 1);
      } else {
        st.error_char = static_cast<uint8_t>(value & 0xFF);
        st.error_enable = static_cast<uint8_t>(value >> 8 & 1);
      }
      return engine ? ok(d.set_chars(st.event_char, st.event_enable, st.error_char, st.error_enable)) : 0;
    case 0x09:  // latency timer
      return engine ? ok(d.set_latency_timer(static_cast<uint8_t>(value & 0xFF))) : 0;
    case 0x0A:  // latency timer, read
      if (!in || length < 1) return LIBUSB_ERROR_PIPE;
      data[0] = engine ? d.latency_ms() : 16;
      return 1;
    case 0x0B:  // bit mode: mode in the high byte, pin directions in the low
      return engine ? ok(d.set_bit_mode(static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8))) : 0;
    case 0x0C: {  // the pins now
      if (!in || length < 1) return LIBUSB_ERROR_PIPE;
      uint8_t pins = 0xFF;
      if (engine && d.get_bit_mode(&pins) != FT_OK) return LIBUSB_ERROR_PIPE;
      data[0] = pins;
      return 1;
    }
    case 0x90:  // EEPROM word read
      if (!in || length < 2) return LIBUSB_ERROR_PIPE;
      {
        const uint16_t w = d.eeprom_read_word(index);
        data[0] = static_cast<uint8_t>(w & 0xFF);
        data[1] = static_cast<uint8_t>(w >> 8);
      }
      return 2;
    case 0x91:  // EEPROM word write
      d.eeprom_write_word(index, value);
      return 0;
    case 0x92:  // EEPROM erase
      d.eeprom_erase();
      return 0;
    default: return LIBUSB_ERROR_PIPE;
  }
}

// One bulk IN transfer: packets of at most max_packet bytes, each opening with
// the status bytes, until a short packet or the length is reached. With
// nothing to send the chip answers when its latency timer runs out.
int UsbBus::bulk_in(FtdiDevice &d, State &st, int channel, uint8_t *data, int length, int *transferred,
                    unsigned timeout_ms) {
  ++st.counts.bulk_in;
  const int max_packet = chip_info(d.type()).max_packet;
  const double start = platform::clock::now();
  const double deadline = timeout_ms ? start + timeout_ms / 1000.0 : 1e300;
  Channel &ch = st.channel[channel];
  const bool engine = channel == 0;
  const double latency = (engine ? d.latency_ms() : 16) / 1000.0;
  int n = 0;
  uint64_t payload = 0;
  while (n + 2 <= length) {
    uint32_t ready = engine ? d.usb_ready() : 0;
    if (ready == 0) {
      const double timer = ch.last_packet + latency;
      const double due = std::min(timer, engine ? d.usb_reply_due() : 1e300);
      const double now = platform::clock::now();
      if (due > deadline) {
        if (deadline > now) platform::clock::sleep(deadline - now);
        st.counts.latency_wait += platform::clock::now() - start;
        *transferred = n;
        return LIBUSB_ERROR_TIMEOUT;
      }
      if (due > now) platform::clock::sleep(due - now);
      if (engine && platform::clock::now() + 1e-12 >= timer) d.usb_latency_expired();
      ready = engine ? d.usb_ready() : 0;
      if (ready == 0 && platform::clock::now() + 1e-12 < timer) continue;  // a reply fell due but was lost
    }
    const int room = std::min(max_packet, length - n);
    const uint32_t take = std::min<uint32_t>(ready, static_cast<uint32_t>(room - 2));
    data[n] = kModemStatus0;
    data[n + 1] = kModemStatus1;
    const uint32_t got = engine ? d.usb_take(data + n + 2, take) : 0;
    n += 2 + static_cast<int>(got);
    payload += got;
    ch.last_packet = platform::clock::now();
    ++st.counts.packets_in;
    if (2 + static_cast<int>(got) < max_packet) break;  // a short packet ends the transfer
  }
  if (payload == 0) ++st.counts.empty_in;
  st.counts.bytes_in += payload;
  st.counts.latency_wait += platform::clock::now() - start;
  *transferred = n;
  return n;
}

UsbCounts UsbBus::counts(const std::string &serial) const {
  for (const auto &[d, st] : states_)
    if (d->serial() == serial) return st.counts;
  return {};
}

UsbCounts UsbBus::counts() const {
  UsbCounts all;
  for (const auto &[d, st] : states_) all += st.counts;
  return all;
}

void UsbBus::clear_counts() {
  for (auto &[d, st] : states_) st.counts = UsbCounts{};
}

int UsbBus::open_handles() const {
  int n = 0;
  for (const auto &[d, st] : states_) n += st.handles;
  return n;
}

bool UsbBus::kernel_driver_bound(const std::string &serial, int interface_number) const {
  const FtdiDevice *d = bus_->device(serial);
  if (!d || !d->plugged() || interface_number < 0 || interface_number >= interfaces(*d)) return false;
  const auto it = states_.find(d);
  // Nothing has touched it since it enumerated.
  if (it == states_.end() || it->second.session != d->session()) return true;
  return it->second.channel[interface_number].kernel_driver;
}

int UsbBus::claimed_interfaces() const {
  int n = 0;
  for (const auto &[d, st] : states_)
    for (const Channel &ch : st.channel) n += ch.claimed;
  return n;
}

}  // namespace sim
