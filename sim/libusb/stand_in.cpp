// libusb-1.0 for a simulated bus: the calls libftdi1 makes, answered through
// the host that attached itself (usbsim_host.h). Without a host the bus is
// empty. Single-threaded, as everything that loads it here.
#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "sim/libusb/usbsim_host.h"

struct libusb_context {
  int debug = 0;
};

struct libusb_device {
  int refs = 1;
  trq_usbsim_device info{};
  std::vector<uint8_t> device_desc;
  std::vector<uint8_t> config_desc;
};

struct libusb_device_handle {
  libusb_device *dev = nullptr;
  unsigned claimed = 0;  // bit per interface
  bool auto_detach = false;
  unsigned detached_by_us = 0;  // re-attached on release when auto_detach
};

namespace {

const trq_usbsim_host *g_host = nullptr;
libusb_context g_default_context;
int g_contexts = 0;

// Device objects stay one per device session while referenced, as libusb keeps them.
std::map<std::pair<uint64_t, uint64_t>, libusb_device *> &devices() {
  static std::map<std::pair<uint64_t, uint64_t>, libusb_device *> m;
  return m;
}

struct PendingTransfer {
  libusb_transfer *transfer;
  bool cancelled;
};
std::deque<PendingTransfer> g_pending;

libusb_device *device_for(const trq_usbsim_device &info) {
  auto &m = devices();
  const auto key = std::make_pair(info.id, info.session);
  if (auto it = m.find(key); it != m.end()) {
    ++it->second->refs;
    return it->second;
  }
  auto dev = std::make_unique<libusb_device>();
  dev->info = info;
  for (uint8_t type : {uint8_t{1}, uint8_t{2}}) {
    std::vector<uint8_t> buf(4096);
    const int n = g_host ? g_host->descriptor(g_host->self, info.id, info.session, type, buf.data(),
                                              static_cast<int>(buf.size()))
                         : LIBUSB_ERROR_NO_DEVICE;
    buf.resize(n > 0 ? std::min<size_t>(static_cast<size_t>(n), buf.size()) : 0);
    (type == 1 ? dev->device_desc : dev->config_desc) = std::move(buf);
  }
  libusb_device *raw = dev.release();
  m[key] = raw;
  return raw;
}

int host_gone() { return LIBUSB_ERROR_NO_DEVICE; }

uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Splits a configuration descriptor into libusb's records, as libusb does.
int parse_config(const std::vector<uint8_t> &raw, libusb_config_descriptor **out) {
  if (raw.size() < LIBUSB_DT_CONFIG_SIZE || raw[1] != LIBUSB_DT_CONFIG) return LIBUSB_ERROR_IO;
  auto *cfg = static_cast<libusb_config_descriptor *>(std::calloc(1, sizeof(libusb_config_descriptor)));
  if (!cfg) return LIBUSB_ERROR_NO_MEM;
  cfg->bLength = raw[0];
  cfg->bDescriptorType = raw[1];
  cfg->wTotalLength = le16(&raw[2]);
  cfg->bNumInterfaces = raw[4];
  cfg->bConfigurationValue = raw[5];
  cfg->iConfiguration = raw[6];
  cfg->bmAttributes = raw[7];
  cfg->MaxPower = raw[8];
  auto *ifaces = static_cast<libusb_interface *>(std::calloc(cfg->bNumInterfaces ? cfg->bNumInterfaces : 1,
                                                             sizeof(libusb_interface)));
  if (!ifaces) {
    std::free(cfg);
    return LIBUSB_ERROR_NO_MEM;
  }
  cfg->interface = ifaces;
  const size_t total = std::min<size_t>(raw.size(), cfg->wTotalLength);
  libusb_interface_descriptor *current = nullptr;
  for (size_t pos = raw[0]; pos + 2 <= total && raw[pos] >= 2; pos += raw[pos]) {
    const uint8_t *d = &raw[pos];
    if (pos + d[0] > total) break;
    if (d[1] == LIBUSB_DT_INTERFACE && d[0] >= LIBUSB_DT_INTERFACE_SIZE && d[2] < cfg->bNumInterfaces) {
      libusb_interface &itf = ifaces[d[2]];
      auto *alts = static_cast<libusb_interface_descriptor *>(
          std::realloc(const_cast<libusb_interface_descriptor *>(itf.altsetting),
                       sizeof(libusb_interface_descriptor) * (itf.num_altsetting + 1)));
      if (!alts) break;
      itf.altsetting = alts;
      current = &alts[itf.num_altsetting++];
      std::memset(current, 0, sizeof *current);
      current->bLength = d[0];
      current->bDescriptorType = d[1];
      current->bInterfaceNumber = d[2];
      current->bAlternateSetting = d[3];
      current->bNumEndpoints = 0;
      current->bInterfaceClass = d[5];
      current->bInterfaceSubClass = d[6];
      current->bInterfaceProtocol = d[7];
      current->iInterface = d[8];
    } else if (d[1] == LIBUSB_DT_ENDPOINT && d[0] >= LIBUSB_DT_ENDPOINT_SIZE && current) {
      auto *eps = static_cast<libusb_endpoint_descriptor *>(
          std::realloc(const_cast<libusb_endpoint_descriptor *>(current->endpoint),
                       sizeof(libusb_endpoint_descriptor) * (current->bNumEndpoints + 1)));
      if (!eps) break;
      current->endpoint = eps;
      libusb_endpoint_descriptor &ep = eps[current->bNumEndpoints++];
      std::memset(&ep, 0, sizeof ep);
      ep.bLength = d[0];
      ep.bDescriptorType = d[1];
      ep.bEndpointAddress = d[2];
      ep.bmAttributes = d[3];
      ep.wMaxPacketSize = le16(&d[4]);
      ep.bInterval = d[6];
    }
  }
  *out = cfg;
  return LIBUSB_SUCCESS;
}

bool alive(libusb_device_handle *h) { return h && h->dev; }

}  // namespace

#define API extern "C" __attribute__((visibility("default")))

API int trq_usbsim_attach(const trq_usbsim_host *host) {
  g_host = host && host->version == TRQ_USBSIM_VERSION ? host : nullptr;
  return TRQ_USBSIM_VERSION;
}

// ---- context ----

API int LIBUSB_CALL libusb_init(libusb_context **ctx) {
  if (ctx) {
    *ctx = new (std::nothrow) libusb_context;
    if (!*ctx) return LIBUSB_ERROR_NO_MEM;
  }
  ++g_contexts;
  return LIBUSB_SUCCESS;
}

API void LIBUSB_CALL libusb_exit(libusb_context *ctx) {
  if (ctx && ctx != &g_default_context) delete ctx;
  if (g_contexts > 0) --g_contexts;
}

API void LIBUSB_CALL libusb_set_debug(libusb_context *ctx, int level) {
  (ctx ? ctx : &g_default_context)->debug = level;
}

API int LIBUSB_CALL libusb_set_option(libusb_context *, enum libusb_option, ...) { return LIBUSB_SUCCESS; }

API const struct libusb_version *LIBUSB_CALL libusb_get_version(void) {
  static const libusb_version v = {1, 0, 26, 0, "", "simulated bus"};
  return &v;
}

API int LIBUSB_CALL libusb_has_capability(uint32_t capability) {
  return capability == LIBUSB_CAP_HAS_CAPABILITY ? 1 : 0;
}

API const char *LIBUSB_CALL libusb_error_name(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    default: return "LIBUSB_ERROR_OTHER";
  }
}

API const char *LIBUSB_CALL libusb_strerror(int code) { return libusb_error_name(code); }

// ---- devices ----

API ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context *, libusb_device ***list) {
  std::vector<trq_usbsim_device> found;
  if (g_host) {
    const int n = g_host->list(g_host->self, nullptr, 0);
    if (n < 0) return n;
    found.resize(static_cast<size_t>(n));
    const int m = g_host->list(g_host->self, found.data(), n);
    found.resize(static_cast<size_t>(std::clamp(m, 0, n)));
  }
  auto **out = static_cast<libusb_device **>(std::calloc(found.size() + 1, sizeof(libusb_device *)));
  if (!out) return LIBUSB_ERROR_NO_MEM;
  for (size_t i = 0; i < found.size(); ++i) out[i] = device_for(found[i]);
  *list = out;
  return static_cast<ssize_t>(found.size());
}

API void LIBUSB_CALL libusb_free_device_list(libusb_device **list, int unref) {
  if (!list) return;
  if (unref)
    for (libusb_device **p = list; *p; ++p) libusb_unref_device(*p);
  std::free(list);
}

API libusb_device *LIBUSB_CALL libusb_ref_device(libusb_device *dev) {
  if (dev) ++dev->refs;
  return dev;
}

API void LIBUSB_CALL libusb_unref_device(libusb_device *dev) {
  if (!dev || --dev->refs > 0) return;
  devices().erase(std::make_pair(dev->info.id, dev->info.session));
  delete dev;
}

API uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *dev) { return dev->info.bus_number; }
API uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *dev) { return dev->info.address; }
API uint8_t LIBUSB_CALL libusb_get_port_number(libusb_device *dev) {
  return dev->info.port_count ? dev->info.ports[dev->info.port_count - 1] : 0;
}
API int LIBUSB_CALL libusb_get_port_numbers(libusb_device *dev, uint8_t *ports, int len) {
  if (len < dev->info.port_count) return LIBUSB_ERROR_OVERFLOW;
  std::copy(dev->info.ports, dev->info.ports + dev->info.port_count, ports);
  return dev->info.port_count;
}
API libusb_device *LIBUSB_CALL libusb_get_parent(libusb_device *) { return nullptr; }
API int LIBUSB_CALL libusb_get_device_speed(libusb_device *dev) { return dev->info.speed; }

API int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *desc) {
  const auto &d = dev->device_desc;
  if (d.size() < LIBUSB_DT_DEVICE_SIZE) return LIBUSB_ERROR_IO;
  desc->bLength = d[0];
  desc->bDescriptorType = d[1];
  desc->bcdUSB = le16(&d[2]);
  desc->bDeviceClass = d[4];
  desc->bDeviceSubClass = d[5];
  desc->bDeviceProtocol = d[6];
  desc->bMaxPacketSize0 = d[7];
  desc->idVendor = le16(&d[8]);
  desc->idProduct = le16(&d[10]);
  desc->bcdDevice = le16(&d[12]);
  desc->iManufacturer = d[14];
  desc->iProduct = d[15];
  desc->iSerialNumber = d[16];
  desc->bNumConfigurations = d[17];
  return LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_get_config_descriptor(libusb_device *dev, uint8_t index,
                                                 struct libusb_config_descriptor **config) {
  if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
  return parse_config(dev->config_desc, config);
}

API int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device *dev,
                                                        struct libusb_config_descriptor **config) {
  return parse_config(dev->config_desc, config);
}

API void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor *config) {
  if (!config) return;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface &itf = config->interface[i];
    for (int a = 0; a < itf.num_altsetting; ++a) std::free(const_cast<libusb_endpoint_descriptor *>(itf.altsetting[a].endpoint));
    std::free(const_cast<libusb_interface_descriptor *>(itf.altsetting));
  }
  std::free(const_cast<libusb_interface *>(config->interface));
  std::free(config);
}

API int LIBUSB_CALL libusb_get_max_packet_size(libusb_device *dev, unsigned char endpoint) {
  libusb_config_descriptor *cfg = nullptr;
  if (parse_config(dev->config_desc, &cfg) != LIBUSB_SUCCESS) return LIBUSB_ERROR_OTHER;
  int size = LIBUSB_ERROR_NOT_FOUND;
  for (int i = 0; i < cfg->bNumInterfaces; ++i)
    for (int a = 0; a < cfg->interface[i].num_altsetting; ++a) {
      const libusb_interface_descriptor &alt = cfg->interface[i].altsetting[a];
      for (int e = 0; e < alt.bNumEndpoints; ++e)
        if (alt.endpoint[e].bEndpointAddress == endpoint) size = alt.endpoint[e].wMaxPacketSize;
    }
  libusb_free_config_descriptor(cfg);
  return size;
}

// ---- handles ----

API int LIBUSB_CALL libusb_open(libusb_device *dev, libusb_device_handle **handle) {
  if (!g_host) return host_gone();
  const int r = g_host->open(g_host->self, dev->info.id, dev->info.session);
  if (r < 0) return r;
  auto *h = new (std::nothrow) libusb_device_handle;
  if (!h) {
    g_host->close(g_host->self, dev->info.id, dev->info.session);
    return LIBUSB_ERROR_NO_MEM;
  }
  h->dev = libusb_ref_device(dev);
  *handle = h;
  return LIBUSB_SUCCESS;
}

API libusb_device *LIBUSB_CALL libusb_get_device(libusb_device_handle *handle) { return handle->dev; }

API int LIBUSB_CALL libusb_release_interface(libusb_device_handle *h, int interface_number) {
  if (interface_number < 0 || interface_number > 31 || !(h->claimed & 1u << interface_number))
    return LIBUSB_ERROR_NOT_FOUND;
  h->claimed &= ~(1u << interface_number);
  if (!g_host) return host_gone();
  const trq_usbsim_device &i = h->dev->info;
  const int r = g_host->release(g_host->self, i.id, i.session, interface_number);
  if (r == LIBUSB_SUCCESS && h->auto_detach && (h->detached_by_us & 1u << interface_number)) {
    h->detached_by_us &= ~(1u << interface_number);
    g_host->kernel_driver(g_host->self, i.id, i.session, interface_number, 2);
  }
  return r;
}

API void LIBUSB_CALL libusb_close(libusb_device_handle *h) {
  if (!h) return;
  // The kernel releases what a closing process still holds.
  for (int i = 0; i < 32; ++i)
    if (h->claimed & 1u << i) libusb_release_interface(h, i);
  if (g_host) g_host->close(g_host->self, h->dev->info.id, h->dev->info.session);
  libusb_unref_device(h->dev);
  delete h;
}

API libusb_device_handle *LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context *ctx, uint16_t vendor_id,
                                                                      uint16_t product_id) {
  libusb_device **list = nullptr;
  const ssize_t n = libusb_get_device_list(ctx, &list);
  libusb_device_handle *h = nullptr;
  for (ssize_t i = 0; i < n && !h; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == vendor_id && d.idProduct == product_id &&
        libusb_open(list[i], &h) != 0)
      h = nullptr;
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  return h;
}

API int LIBUSB_CALL libusb_get_configuration(libusb_device_handle *h, int *config) {
  if (!alive(h)) return LIBUSB_ERROR_NO_DEVICE;
  if (!g_host) return host_gone();
  uint8_t value = 0;
  const trq_usbsim_device &i = h->dev->info;
  const int r = g_host->control(g_host->self, i.id, i.session, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_CONFIGURATION,
                                0, 0, &value, 1, 1000);
  if (r < 0) return r;
  *config = value;
  return LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_set_configuration(libusb_device_handle *h, int configuration) {
  if (!g_host) return host_gone();
  if (h->claimed) return LIBUSB_ERROR_BUSY;
  const trq_usbsim_device &i = h->dev->info;
  const int r = g_host->control(g_host->self, i.id, i.session, LIBUSB_ENDPOINT_OUT, LIBUSB_REQUEST_SET_CONFIGURATION,
                                static_cast<uint16_t>(configuration), 0, nullptr, 0, 1000);
  return r < 0 ? r : LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *h, int interface_number) {
  if (interface_number < 0 || interface_number > 31) return LIBUSB_ERROR_INVALID_PARAM;
  if (h->claimed & 1u << interface_number) return LIBUSB_SUCCESS;
  if (!g_host) return host_gone();
  const trq_usbsim_device &i = h->dev->info;
  if (h->auto_detach && g_host->kernel_driver(g_host->self, i.id, i.session, interface_number, 0) == 1 &&
      g_host->kernel_driver(g_host->self, i.id, i.session, interface_number, 1) == LIBUSB_SUCCESS)
    h->detached_by_us |= 1u << interface_number;
  const int r = g_host->claim(g_host->self, i.id, i.session, interface_number);
  if (r < 0) return r;
  h->claimed |= 1u << interface_number;
  return LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle *h, int interface_number, int alt) {
  if (!(h->claimed & 1u << interface_number)) return LIBUSB_ERROR_NOT_FOUND;
  return alt == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

API int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle *h, int interface_number) {
  if (!g_host) return host_gone();
  return g_host->kernel_driver(g_host->self, h->dev->info.id, h->dev->info.session, interface_number, 0);
}

API int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle *h, int interface_number) {
  if (!g_host) return host_gone();
  const int r = g_host->kernel_driver(g_host->self, h->dev->info.id, h->dev->info.session, interface_number, 1);
  // libusb leaves errno as the failed ioctl set it; callers read it.
  if (r == LIBUSB_ERROR_NOT_FOUND) errno = ENODATA;
  return r;
}

API int LIBUSB_CALL libusb_attach_kernel_driver(libusb_device_handle *h, int interface_number) {
  if (!g_host) return host_gone();
  return g_host->kernel_driver(g_host->self, h->dev->info.id, h->dev->info.session, interface_number, 2);
}

API int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle *h, int enable) {
  h->auto_detach = enable != 0;
  return LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_reset_device(libusb_device_handle *h) {
  if (!g_host) return host_gone();
  return g_host->reset(g_host->self, h->dev->info.id, h->dev->info.session);
}

API int LIBUSB_CALL libusb_clear_halt(libusb_device_handle *h, unsigned char) {
  return alive(h) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE;
}

// ---- synchronous transfers ----

API int LIBUSB_CALL libusb_control_transfer(libusb_device_handle *h, uint8_t request_type, uint8_t request,
                                            uint16_t value, uint16_t index, unsigned char *data, uint16_t length,
                                            unsigned int timeout) {
  if (!g_host) return host_gone();
  const trq_usbsim_device &i = h->dev->info;
  return g_host->control(g_host->self, i.id, i.session, request_type, request, value, index, data, length, timeout);
}

API int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle *h, unsigned char endpoint, unsigned char *data,
                                         int length, int *transferred, unsigned int timeout) {
  int done = 0;
  const int r = g_host ? g_host->bulk(g_host->self, h->dev->info.id, h->dev->info.session, endpoint, data, length,
                                      &done, timeout)
                       : host_gone();
  if (transferred) *transferred = done;
  return r < 0 ? r : LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle *h, unsigned char endpoint, unsigned char *data,
                                              int length, int *transferred, unsigned int timeout) {
  return libusb_bulk_transfer(h, endpoint, data, length, transferred, timeout);
}

API int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle *h, uint8_t desc_index,
                                                       unsigned char *data, int length) {
  if (desc_index == 0) return LIBUSB_ERROR_INVALID_PARAM;
  if (length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  uint8_t buf[255];
  int r = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR, LIBUSB_DT_STRING << 8, 0, buf,
                                  sizeof buf, 1000);
  if (r < 0) return r;
  if (r < 4) return LIBUSB_ERROR_IO;
  const uint16_t langid = le16(&buf[2]);
  r = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                              static_cast<uint16_t>(LIBUSB_DT_STRING << 8 | desc_index), langid, buf, sizeof buf, 1000);
  if (r < 0) return r;
  if (r < 2 || buf[1] != LIBUSB_DT_STRING || buf[0] > r) return LIBUSB_ERROR_IO;
  int n = 0;
  for (int k = 2; k + 1 < buf[0] && n < length - 1; k += 2)
    data[n++] = (buf[k + 1] || buf[k] & 0x80) ? '?' : static_cast<unsigned char>(buf[k]);
  data[n] = 0;
  return n;
}

// ---- asynchronous transfers: run when events are handled ----

API struct libusb_transfer *LIBUSB_CALL libusb_alloc_transfer(int iso_packets) {
  const size_t size =
      sizeof(libusb_transfer) + sizeof(libusb_iso_packet_descriptor) * static_cast<size_t>(std::max(0, iso_packets));
  return static_cast<libusb_transfer *>(std::calloc(1, size));
}

API void LIBUSB_CALL libusb_free_transfer(struct libusb_transfer *transfer) {
  if (!transfer) return;
  if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(transfer->buffer);
  std::free(transfer);
}

API int LIBUSB_CALL libusb_submit_transfer(struct libusb_transfer *transfer) {
  if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK && transfer->type != LIBUSB_TRANSFER_TYPE_CONTROL)
    return LIBUSB_ERROR_NOT_SUPPORTED;
  for (const PendingTransfer &p : g_pending)
    if (p.transfer == transfer) return LIBUSB_ERROR_BUSY;
  if (!g_host) return host_gone();
  g_pending.push_back({transfer, false});
  return LIBUSB_SUCCESS;
}

API int LIBUSB_CALL libusb_cancel_transfer(struct libusb_transfer *transfer) {
  for (PendingTransfer &p : g_pending)
    if (p.transfer == transfer && !p.cancelled) {
      p.cancelled = true;
      return LIBUSB_SUCCESS;
    }
  return LIBUSB_ERROR_NOT_FOUND;
}

namespace {
void run_transfer(PendingTransfer p) {
  libusb_transfer *t = p.transfer;
  if (p.cancelled) {
    t->status = LIBUSB_TRANSFER_CANCELLED;
    t->actual_length = 0;
  } else if (t->type == LIBUSB_TRANSFER_TYPE_CONTROL) {
    const uint8_t *s = t->buffer;
    const int r = libusb_control_transfer(t->dev_handle, s[0], s[1], le16(&s[2]), le16(&s[4]),
                                          t->buffer + LIBUSB_CONTROL_SETUP_SIZE, le16(&s[6]), t->timeout);
    t->actual_length = r < 0 ? 0 : r;
    t->status = r >= 0 ? LIBUSB_TRANSFER_COMPLETED
                : r == LIBUSB_ERROR_TIMEOUT ? LIBUSB_TRANSFER_TIMED_OUT
                : r == LIBUSB_ERROR_NO_DEVICE ? LIBUSB_TRANSFER_NO_DEVICE
                : r == LIBUSB_ERROR_PIPE ? LIBUSB_TRANSFER_STALL
                                          : LIBUSB_TRANSFER_ERROR;
  } else {
    int done = 0;
    const int r = libusb_bulk_transfer(t->dev_handle, t->endpoint, t->buffer, t->length, &done, t->timeout);
    t->actual_length = done;
    t->status = r == 0 ? LIBUSB_TRANSFER_COMPLETED
                : r == LIBUSB_ERROR_TIMEOUT ? LIBUSB_TRANSFER_TIMED_OUT
                : r == LIBUSB_ERROR_NO_DEVICE ? LIBUSB_TRANSFER_NO_DEVICE
                                              : LIBUSB_TRANSFER_ERROR;
  }
  const bool free_after = t->flags & LIBUSB_TRANSFER_FREE_TRANSFER;
  if (t->callback) t->callback(t);
  if (free_after) libusb_free_transfer(t);
}

int handle_events(int *completed) {
  while (!g_pending.empty() && !(completed && *completed)) {
    PendingTransfer p = g_pending.front();
    g_pending.pop_front();
    run_transfer(p);
  }
  return LIBUSB_SUCCESS;
}
}  // namespace

API int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context *, struct timeval *, int *completed) {
  return handle_events(completed);
}
API int LIBUSB_CALL libusb_handle_events_timeout(libusb_context *, struct timeval *) { return handle_events(nullptr); }
API int LIBUSB_CALL libusb_handle_events(libusb_context *) { return handle_events(nullptr); }
API int LIBUSB_CALL libusb_handle_events_completed(libusb_context *, int *completed) { return handle_events(completed); }
