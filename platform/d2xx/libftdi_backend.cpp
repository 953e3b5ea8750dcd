#include "platform/d2xx/libftdi_backend.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/d2xx/eeprom_layout.h"
#include "platform/win/clock.h"

namespace platform::d2xx {
namespace {

constexpr int kReadChunk = 4096;
constexpr DWORD kDefaultUsbTimeoutMs = 5000;

// Chip type from the device's release number, as D2XX numbers it.
DWORD chip_type(uint16_t bcd_device) {
  switch (bcd_device & 0xFF00) {
    case 0x0200: return FT_DEVICE_AM;
    case 0x0400: return FT_DEVICE_BM;
    case 0x0500: return FT_DEVICE_2232C;
    case 0x0600: return FT_DEVICE_232R;
    case 0x0700: return FT_DEVICE_2232H;
    case 0x0800: return FT_DEVICE_4232H;
    case 0x0900: return FT_DEVICE_232H;
    case 0x1000: return FT_DEVICE_X_SERIES;
    default: return FT_DEVICE_UNKNOWN;
  }
}

using OpenKeys = std::shared_ptr<std::set<std::string>>;

class LibftdiDevice : public Device {
 public:
  LibftdiDevice(std::shared_ptr<FtdiApi> api, ftdi_context *ctx, std::string key, OpenKeys open_keys)
      : api_(std::move(api)), ctx_(ctx), key_(std::move(key)), open_keys_(std::move(open_keys)) {
    open_keys_->insert(key_);
  }
  ~LibftdiDevice() override {
    api_->usb_close(ctx_);
    api_->free_context(ctx_);
    open_keys_->erase(key_);
  }

  FT_STATUS write(const UCHAR *data, DWORD count, DWORD *written) override {
    quiet_since_ = -1.0;  // what is written may make the chip send at once
    const int r = api_->write_data(ctx_, data, static_cast<int>(count));
    if (r < 0) return FT_IO_ERROR;
    *written = static_cast<DWORD>(r);
    return FT_OK;
  }

  // libftdi returns whatever one transfer brought (often nothing): loop to the time-out.
  FT_STATUS read(UCHAR *data, DWORD count, DWORD *received) override {
    const double deadline = platform::clock::now() + read_timeout_ms_ / 1000.0;
    while (fifo_.size() < count) {
      int got = 0;
      if (!fill(count - static_cast<DWORD>(fifo_.size()), &got)) return FT_IO_ERROR;
      if (fifo_.size() >= count || platform::clock::now() >= deadline) break;
      if (got == 0) platform::clock::sleep(0.001);
    }
    const DWORD n = std::min<DWORD>(count, static_cast<DWORD>(fifo_.size()));
    std::copy(fifo_.begin(), fifo_.begin() + n, data);
    fifo_.erase(fifo_.begin(), fifo_.begin() + n);
    *received = n;
    return FT_OK;
  }

  // libftdi has no queue status: one transfer's worth goes into our own FIFO.
  // After a transfer came back empty the chip sends nothing before its latency
  // timer runs out again, unless something is written to it meanwhile (or, in
  // a serial mode, a whole packet's worth arrives on its pins): a poll before
  // then would only wait for that timer (16 ms a poll, 8 s for the transport's
  // 500 polls of a reply that never comes), where D2XX's answers at once.
  FT_STATUS queue_status(DWORD *waiting) override {
    if (quiet_since_ < 0 || platform::clock::now() >= quiet_since_ + latency_ms_ / 1000.0) {
      int got = 0;
      if (!fill(1, &got)) return FT_IO_ERROR;
      quiet_since_ = got == 0 ? platform::clock::now() : -1.0;
    }
    *waiting = static_cast<DWORD>(fifo_.size());
    return FT_OK;
  }

  FT_STATUS reset() override {
    fifo_.clear();
    return api_->usb_reset(ctx_) < 0 ? FT_IO_ERROR : FT_OK;
  }

  FT_STATUS purge(DWORD mask) override {
    int r = 0;
    if (mask & FT_PURGE_RX) {
      fifo_.clear();
      r |= api_->tciflush(ctx_) < 0;
    }
    if (mask & FT_PURGE_TX) r |= api_->tcoflush(ctx_) < 0;
    return r ? FT_IO_ERROR : FT_OK;
  }

  FT_STATUS set_timeouts(DWORD read_ms, DWORD write_ms) override {
    read_timeout_ms_ = read_ms;
    // libftdi's are per transfer; keep them long enough for any one transfer.
    ctx_->usb_read_timeout = static_cast<int>(std::max(read_ms, kDefaultUsbTimeoutMs));
    ctx_->usb_write_timeout = static_cast<int>(write_ms ? write_ms : kDefaultUsbTimeoutMs);
    return FT_OK;
  }

  FT_STATUS set_chars(UCHAR event_char, UCHAR event_enable, UCHAR error_char, UCHAR error_enable) override {
    if (api_->set_event_char(ctx_, event_char, event_enable) < 0) return FT_IO_ERROR;
    return api_->set_error_char(ctx_, error_char, error_enable) < 0 ? FT_IO_ERROR : FT_OK;
  }

  FT_STATUS set_latency_timer(UCHAR ms) override {
    if (ms < 1) return FT_INVALID_PARAMETER;
    if (api_->set_latency_timer(ctx_, ms) < 0) return FT_IO_ERROR;
    latency_ms_ = ms;
    return FT_OK;
  }

  FT_STATUS set_usb_parameters(DWORD in_size, DWORD out_size) override {
    if (in_size && api_->read_data_set_chunksize(ctx_, in_size) < 0) return FT_IO_ERROR;
    if (out_size && api_->write_data_set_chunksize(ctx_, out_size) < 0) return FT_IO_ERROR;
    return FT_OK;
  }

  FT_STATUS set_bit_mode(UCHAR mask, UCHAR mode) override {
    return api_->set_bitmode(ctx_, mask, mode) < 0 ? FT_IO_ERROR : FT_OK;
  }

  FT_STATUS get_bit_mode(UCHAR *pins) override { return api_->read_pins(ctx_, pins) < 0 ? FT_IO_ERROR : FT_OK; }

  FT_STATUS cycle_port() override {
    // The device re-enumerates; libusb reports that as "not found", which is the point.
    const int r = api_->reset_device(ctx_->usb_dev);
    return r == 0 || r == LIBUSB_ERROR_NOT_FOUND ? FT_OK : FT_IO_ERROR;
  }

  FT_STATUS com_port(LONG *port) override {
    *port = -1;  // libftdi holds the interface: there is no serial port meanwhile
    return FT_OK;
  }

  FT_STATUS ua_size(DWORD *size) override {
    const FT_STATUS st = load_eeprom();
    if (st != FT_OK) return st;
    *size = static_cast<DWORD>(ua_end_ - ua_begin_);
    return FT_OK;
  }

  FT_STATUS ua_read(UCHAR *data, DWORD length, DWORD *read) override {
    const FT_STATUS st = load_eeprom();
    if (st != FT_OK) return st;
    if (length > static_cast<DWORD>(ua_end_ - ua_begin_)) return FT_INVALID_PARAMETER;
    std::copy(image_.begin() + ua_begin_, image_.begin() + ua_begin_ + length, data);
    *read = length;
    return FT_OK;
  }

  // The image is decoded and laid out here, not by libftdi: its decoder
  // crashes on a blank chip and its builder drops what it does not decode,
  // the user area among it.
  FT_STATUS ee_read(ProductRecord *r) override {
    const FT_STATUS st = load_eeprom();
    if (st != FT_OK) return st;
    return eeprom_layout::decode(chip_image(), r) ? FT_OK : FT_EEPROM_NOT_PROGRAMMED;
  }

  FT_STATUS ee_program(const ProductRecord &r) override {
    const FT_STATUS st = load_eeprom();
    if (st != FT_OK) return st;
    std::vector<uint8_t> img = chip_image();
    int b = 0, e = 0;
    std::vector<uint8_t> user;
    if (eeprom_layout::user_area(img, &b, &e)) user.assign(img.begin() + b, img.begin() + e);
    if (!eeprom_layout::lay_out(img, r, user)) return FT_INVALID_PARAMETER;
    return write_image(img);
  }

  FT_STATUS ua_write(const UCHAR *data, DWORD length) override {
    const FT_STATUS st = load_eeprom();
    if (st != FT_OK) return st;
    if (length > static_cast<DWORD>(ua_end_ - ua_begin_)) return FT_INVALID_PARAMETER;
    std::vector<uint8_t> img = chip_image();
    std::copy_n(data, length, img.begin() + ua_begin_);
    eeprom_layout::set_checksum(img);
    return write_image(img);
  }

 private:
  std::vector<uint8_t> chip_image() const { return std::vector<uint8_t>(image_.begin(), image_.begin() + eeprom_size_); }

  // Only the words that change, the checksum word last; the image is read
  // afresh next time.
  FT_STATUS write_image(const std::vector<uint8_t> &img) {
    if (!api_->write_eeprom_location) return FT_NOT_SUPPORTED;
    const std::vector<uint8_t> old = chip_image();
    eeprom_loaded_ = false;
    const int words = static_cast<int>(img.size()) / 2;
    for (int w = 0; w < words; ++w) {
      const uint16_t value = eeprom_layout::word_at(img, 2 * w);
      if (value == eeprom_layout::word_at(old, 2 * w)) continue;
      if (api_->write_eeprom_location(ctx_, w, value) < 0) return FT_EEPROM_WRITE_FAILED;
    }
    return FT_OK;
  }

  // libftdi's read goes on fetching packets until it has the size asked for or
  // a packet comes empty, which the chip sends only when its latency timer runs
  // out: ask for no more than is wanted, then take what that transfer brought
  // beyond it from libftdi's buffer, which costs no transfer.
  bool fill(DWORD want, int *got) {
    std::array<unsigned char, kReadChunk> buf;
    *got = 0;
    int size = static_cast<int>(std::clamp<DWORD>(want, 1, kReadChunk));
    do {
      const int r = api_->read_data(ctx_, buf.data(), size);
      if (r < 0) return false;
      fifo_.insert(fifo_.end(), buf.begin(), buf.begin() + r);
      *got += r;
      if (r < size) break;
      size = static_cast<int>(std::min<unsigned>(ctx_->readbuffer_remaining, kReadChunk));
    } while (size > 0);
    return true;
  }

  FT_STATUS load_eeprom() {
    if (eeprom_loaded_) return FT_OK;
    if (api_->read_eeprom(ctx_) < 0) return FT_EEPROM_READ_FAILED;
    int size = 0;
    if (api_->get_eeprom_value(ctx_, CHIP_SIZE, &size) < 0) return FT_EEPROM_READ_FAILED;
    if (size <= 0 || size > static_cast<int>(image_.size())) return FT_EEPROM_NOT_PROGRAMMED;
    if (api_->get_eeprom_buf(ctx_, image_.data(), static_cast<int>(image_.size())) < 0) return FT_EEPROM_READ_FAILED;
    if (!user_area_bounds(image_.data(), size, &ua_begin_, &ua_end_)) ua_begin_ = ua_end_ = 0;
    eeprom_size_ = size;
    eeprom_loaded_ = true;
    return FT_OK;
  }

  std::shared_ptr<FtdiApi> api_;
  ftdi_context *ctx_;
  std::string key_;
  OpenKeys open_keys_;
  std::deque<UCHAR> fifo_;
  DWORD read_timeout_ms_ = 0;
  // The chip's latency timer as we set it; until then the shortest there is.
  UCHAR latency_ms_ = 1;
  // When a transfer last came back empty with nothing written since; -1 none.
  double quiet_since_ = -1.0;
  bool eeprom_loaded_ = false;
  std::array<UCHAR, 256> image_{};
  int eeprom_size_ = 0;
  int ua_begin_ = 0;
  int ua_end_ = 0;
};

class LibftdiBackend : public Backend {
 public:
  explicit LibftdiBackend(std::shared_ptr<FtdiApi> api) : api_(std::move(api)), open_keys_(std::make_shared<std::set<std::string>>()) {}
  ~LibftdiBackend() override {
    release_found();
    if (list_ctx_) api_->free_context(list_ctx_);
  }

  const char *name() const override { return "libftdi1"; }

  FT_STATUS list(std::vector<ListedDevice> *devices) override {
    devices->clear();
    if (!list_ctx_) list_ctx_ = api_->new_context();
    if (!list_ctx_) return FT_INSUFFICIENT_RESOURCES;
    ftdi_device_list *head = nullptr;
    // Vendor and product 0: libftdi's list of FTDI's own ids.
    if (api_->usb_find_all(list_ctx_, &head, 0, 0) < 0) return FT_OTHER_ERROR;
    std::vector<Found> found;
    for (ftdi_device_list *p = head; p; p = p->next) found.push_back(describe(p->dev));
    api_->list_free(&head);
    // libusb's order follows enumeration; D2XX callers number devices by list index.
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.order < b.order; });
    release_found();
    found_ = std::move(found);
    for (const Found &f : found_) devices->push_back(f.info);
    return FT_OK;
  }

  FT_STATUS open(const ListedDevice &device, std::unique_ptr<Device> *opened) override {
    auto it = std::find_if(found_.begin(), found_.end(), [&](const Found &f) { return f.info.key == device.key; });
    if (it == found_.end()) return FT_DEVICE_NOT_FOUND;
    ftdi_context *ctx = api_->new_context();
    if (!ctx) return FT_INSUFFICIENT_RESOURCES;
    ctx->module_detach_mode = api_->detach_mode;
    if (api_->set_interface(ctx, INTERFACE_A) < 0 || api_->usb_open_dev(ctx, it->dev) < 0) {
      api_->free_context(ctx);
      return still_attached(it->dev) ? FT_DEVICE_NOT_OPENED : FT_DEVICE_NOT_FOUND;
    }
    *opened = std::make_unique<LibftdiDevice>(api_, ctx, device.key, open_keys_);
    return FT_OK;
  }

 private:
  struct Found {
    libusb_device *dev = nullptr;
    ListedDevice info;
    std::vector<int> order;  // bus, then the port path
  };

  Found describe(libusb_device *dev) {
    Found f;
    f.dev = api_->ref_device(dev);
    const uint8_t bus = api_->get_bus_number(dev);
    std::array<uint8_t, 8> ports{};
    const int n = std::max(0, api_->get_port_numbers(dev, ports.data(), static_cast<int>(ports.size())));
    std::string key = std::to_string(bus) + "-";
    f.order.push_back(bus);
    DWORD loc = bus;
    for (int i = 0; i < n; ++i) {
      key += (i ? "." : "") + std::to_string(ports[i]);
      f.order.push_back(ports[i]);
      loc = loc << 4 | (ports[i] & 0x0F);
    }
    f.info.key = key;
    f.info.loc_id = loc;
    libusb_device_descriptor desc{};
    if (api_->get_device_descriptor(dev, &desc) == 0) {
      f.info.id = static_cast<DWORD>(desc.idVendor) << 16 | desc.idProduct;
      f.info.type = chip_type(desc.bcdDevice);
    }
    f.info.high_speed =
        f.info.type == FT_DEVICE_2232H || f.info.type == FT_DEVICE_4232H || f.info.type == FT_DEVICE_232H;
    // A device another process holds shows flags only, as D2XX shows it.
    const bool ours = open_keys_->count(key) != 0;
    if (!ours && api_->interface_driver && api_->interface_driver(key) == "usbfs") {
      f.info.held_elsewhere = true;
      return f;
    }
    std::array<char, 128> description{}, serial{};
    if (api_->usb_get_strings(list_ctx_, dev, nullptr, 0, description.data(), static_cast<int>(description.size()),
                              serial.data(), static_cast<int>(serial.size())) >= 0) {
      f.info.description = description.data();
      f.info.serial = serial.data();
    }
    return f;
  }

  // Whether libusb still lists this very device. One that enumerated again
  // (a port cycle, a programmed EEPROM) is a new libusb device in the same
  // place; the one we listed is gone.
  bool still_attached(libusb_device *dev) {
    ftdi_device_list *head = nullptr;
    if (api_->usb_find_all(list_ctx_, &head, 0, 0) < 0) return true;
    bool found = false;
    for (ftdi_device_list *p = head; p; p = p->next) found = found || p->dev == dev;
    api_->list_free(&head);
    return found;
  }

  void release_found() {
    for (Found &f : found_)
      if (f.dev) api_->unref_device(f.dev);
    found_.clear();
  }

  std::shared_ptr<FtdiApi> api_;
  OpenKeys open_keys_;
  ftdi_context *list_ctx_ = nullptr;
  std::vector<Found> found_;
};

std::string sysfs_interface_driver(const std::string &name) {
  std::error_code ec;
  const auto link = std::filesystem::read_symlink("/sys/bus/usb/devices/" + name + ":1.0/driver", ec);
  return ec ? std::string() : link.filename().string();
}

template <typename T>
bool bind(void *lib, const char *name, T *slot) {
  *slot = reinterpret_cast<T>(dlsym(lib, name));
  return *slot != nullptr;
}

}  // namespace

bool user_area_bounds(const uint8_t *image, int size, int *begin, int *end) {
  if (size != 128 && size != 256) return false;
  int strings_end = 0;
  for (int k = 0; k < 3; ++k) {
    const int offset = image[0x0E + 2 * k] & (size - 1);
    const int length = image[0x0F + 2 * k];
    if (length == 0) continue;
    strings_end = std::max(strings_end, offset + length);
  }
  const int checksum = size - 2;
  if (strings_end == 0 || strings_end > checksum) return false;
  *begin = strings_end;
  *end = checksum;
  return true;
}

std::shared_ptr<FtdiApi> load_libftdi_api() {
  void *lib = dlopen("libftdi1.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!lib) lib = dlopen("libftdi1.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  auto api = std::make_shared<FtdiApi>();
  api->library = std::shared_ptr<void>(lib, [](void *h) { dlclose(h); });
  bool ok = bind(lib, "ftdi_new", &api->new_context) && bind(lib, "ftdi_free", &api->free_context) &&
            bind(lib, "ftdi_set_interface", &api->set_interface) &&
            bind(lib, "ftdi_usb_find_all", &api->usb_find_all) && bind(lib, "ftdi_list_free", &api->list_free) &&
            bind(lib, "ftdi_usb_get_strings", &api->usb_get_strings) &&
            bind(lib, "ftdi_usb_open_dev", &api->usb_open_dev) && bind(lib, "ftdi_usb_close", &api->usb_close) &&
            bind(lib, "ftdi_usb_reset", &api->usb_reset) && bind(lib, "ftdi_tciflush", &api->tciflush) &&
            bind(lib, "ftdi_tcoflush", &api->tcoflush) && bind(lib, "ftdi_read_data", &api->read_data) &&
            bind(lib, "ftdi_write_data", &api->write_data) && bind(lib, "ftdi_set_bitmode", &api->set_bitmode) &&
            bind(lib, "ftdi_read_pins", &api->read_pins) &&
            bind(lib, "ftdi_set_latency_timer", &api->set_latency_timer) &&
            bind(lib, "ftdi_read_data_set_chunksize", &api->read_data_set_chunksize) &&
            bind(lib, "ftdi_write_data_set_chunksize", &api->write_data_set_chunksize) &&
            bind(lib, "ftdi_set_event_char", &api->set_event_char) &&
            bind(lib, "ftdi_set_error_char", &api->set_error_char) && bind(lib, "ftdi_read_eeprom", &api->read_eeprom) &&
            bind(lib, "ftdi_get_eeprom_value", &api->get_eeprom_value) &&
            bind(lib, "ftdi_get_eeprom_buf", &api->get_eeprom_buf) &&
            bind(lib, "libusb_get_bus_number", &api->get_bus_number) &&
            bind(lib, "libusb_get_port_numbers", &api->get_port_numbers) &&
            bind(lib, "libusb_get_device_descriptor", &api->get_device_descriptor) &&
            bind(lib, "libusb_ref_device", &api->ref_device) && bind(lib, "libusb_unref_device", &api->unref_device) &&
            bind(lib, "libusb_reset_device", &api->reset_device);
  if (!ok) return nullptr;
  ftdi_version_info (*version)(void) = nullptr;
  if (bind(lib, "ftdi_get_library_version", &version)) {
    const ftdi_version_info v = version();
    if (v.major > 1 || (v.major == 1 && v.minor >= 5)) api->detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
  }
  // The chip's own word-write request, sent as libftdi sends its requests.
  int (*control)(libusb_device_handle *, uint8_t, uint8_t, uint16_t, uint16_t, unsigned char *, uint16_t,
                 unsigned int) = nullptr;
  if (bind(lib, "libusb_control_transfer", &control))
    api->write_eeprom_location = [control](ftdi_context *c, int address, unsigned short value) {
      if (!c->usb_dev || address < 0 || address > 0xFFFF) return -2;
      constexpr uint8_t kVendorToDevice = 0x40;  // vendor request, to the device, host to device
      return control(c->usb_dev, kVendorToDevice, SIO_WRITE_EEPROM_REQUEST, value,
                     static_cast<uint16_t>(address), nullptr, 0, static_cast<unsigned>(c->usb_write_timeout)) < 0
                 ? -1
                 : 0;
    };
  api->interface_driver = sysfs_interface_driver;
  return api;
}

std::shared_ptr<Backend> make_libftdi_backend(std::shared_ptr<FtdiApi> api) {
  return std::make_shared<LibftdiBackend>(std::move(api));
}

}  // namespace platform::d2xx
