// The D2XX calls over the chosen backend: handles, the list snapshot and the
// rules D2XX callers rely on.
#include "platform/d2xx/ftd2xx.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "platform/d2xx/backend.h"
#include "platform/d2xx/libftdi_backend.h"
#include "platform/d2xx/sim_backend.h"
#include "platform/win/strings.h"

namespace platform::d2xx {
namespace {

class EmptyBackend : public Backend {
 public:
  const char *name() const override { return "none"; }
  FT_STATUS list(std::vector<ListedDevice> *devices) override {
    devices->clear();
    return FT_OK;
  }
  FT_STATUS open(const ListedDevice &, std::unique_ptr<Device> *) override { return FT_DEVICE_NOT_FOUND; }
};

struct Handle {
  std::unique_ptr<Device> device;
  ListedDevice info;
};

struct State {
  std::shared_ptr<Backend> backend;
  std::vector<std::unique_ptr<Handle>> handles;
  std::vector<ListedDevice> snapshot;
  bool have_snapshot = false;
};

State &state() {
  static State s;
  return s;
}

std::shared_ptr<Backend> choose_backend() {
  const char *sel = std::getenv("QV_D2XX");
  const std::string choice = sel ? sel : "";
  struct stat st {};
  if (choice == "sim" || (!choice.empty() && ::stat(choice.c_str(), &st) == 0 && S_ISREG(st.st_mode)))
    return make_sim_backend_from_env();
  if (choice == "none") return make_empty_backend();
  if (auto api = load_libftdi_api()) return make_libftdi_backend(std::move(api));
  return make_empty_backend();
}

Handle *find(FT_HANDLE h) {
  for (auto &p : state().handles)
    if (p.get() == h) return p.get();
  return nullptr;
}

Handle *held_by_us(const std::string &key) {
  for (auto &p : state().handles)
    if (p->info.key == key) return p.get();
  return nullptr;
}

void fill_node(const ListedDevice &d, FT_DEVICE_LIST_INFO_NODE *node) {
  std::memset(node, 0, sizeof *node);
  Handle *ours = held_by_us(d.key);
  node->Flags = (d.held_elsewhere || ours ? DWORD{FT_FLAGS_OPENED} : 0u) | (d.high_speed ? DWORD{FT_FLAGS_HISPEED} : 0u);
  if (d.held_elsewhere) return;
  node->Type = d.type;
  node->ID = d.id;
  node->LocId = d.loc_id;
  platform::copy_bounded(node->SerialNumber, sizeof node->SerialNumber, d.serial.c_str());
  platform::copy_bounded(node->Description, sizeof node->Description, d.description.c_str());
  node->ftHandle = ours;
}

FT_STATUS take_snapshot() {
  State &s = state();
  std::vector<ListedDevice> list;
  const FT_STATUS st = backend().list(&list);
  if (st != FT_OK) return st;
  s.snapshot = std::move(list);
  s.have_snapshot = true;
  return FT_OK;
}

template <typename F>
FT_STATUS with_device(FT_HANDLE h, F f) {
  Handle *p = find(h);
  if (!p) return FT_INVALID_HANDLE;
  return f(*p->device);
}

}  // namespace

Backend &backend() {
  State &s = state();
  if (!s.backend) s.backend = choose_backend();
  return *s.backend;
}

void set_backend(std::shared_ptr<Backend> b) {
  State &s = state();
  s.handles.clear();
  s.snapshot.clear();
  s.have_snapshot = false;
  s.backend = std::move(b);
}

std::shared_ptr<Backend> make_empty_backend() { return std::make_shared<EmptyBackend>(); }

}  // namespace platform::d2xx

using namespace platform::d2xx;

FT_STATUS FT_CreateDeviceInfoList(DWORD *count) {
  if (!count) return FT_INVALID_PARAMETER;
  *count = 0;
  const FT_STATUS st = take_snapshot();
  if (st != FT_OK) return st;
  *count = static_cast<DWORD>(state().snapshot.size());
  return FT_OK;
}

FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *list, DWORD *count) {
  if (!list || !count) return FT_INVALID_PARAMETER;
  const State &s = state();
  const DWORD n = std::min<DWORD>(*count, static_cast<DWORD>(s.snapshot.size()));
  for (DWORD i = 0; i < n; ++i) fill_node(s.snapshot[i], &list[i]);
  *count = n;
  return FT_OK;
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD *flags, DWORD *type, DWORD *id, DWORD *loc_id, void *serial,
                                 void *description, FT_HANDLE *handle) {
  const State &s = state();
  if (index >= s.snapshot.size()) return FT_DEVICE_NOT_FOUND;
  FT_DEVICE_LIST_INFO_NODE node;
  fill_node(s.snapshot[index], &node);
  if (flags) *flags = node.Flags;
  if (type) *type = node.Type;
  if (id) *id = node.ID;
  if (loc_id) *loc_id = node.LocId;
  if (serial) std::memcpy(serial, node.SerialNumber, sizeof node.SerialNumber);
  if (description) std::memcpy(description, node.Description, sizeof node.Description);
  if (handle) *handle = node.ftHandle;
  return FT_OK;
}

FT_STATUS FT_Open(int index, FT_HANDLE *handle) {
  if (!handle) return FT_INVALID_PARAMETER;
  *handle = nullptr;
  State &s = state();
  if (!s.have_snapshot) {
    const FT_STATUS st = take_snapshot();
    if (st != FT_OK) return st;
  }
  if (index < 0 || static_cast<size_t>(index) >= s.snapshot.size()) return FT_DEVICE_NOT_FOUND;
  if (s.snapshot[index].held_elsewhere || held_by_us(s.snapshot[index].key)) return FT_DEVICE_NOT_OPENED;
  auto h = std::make_unique<Handle>();
  h->info = s.snapshot[index];
  FT_STATUS st = backend().open(h->info, &h->device);
  if (st == FT_DEVICE_NOT_FOUND) {
    // The device listed there left the bus since the list was taken. When it
    // enumerated again (a port cycle, a programmed EEPROM) a fresh list shows
    // it in the same place, and the entry takes its fresh strings; the
    // caller's numbering of the other entries stays as it was.
    std::vector<ListedDevice> fresh;
    st = backend().list(&fresh);
    if (st != FT_OK) return st;
    const auto again =
        std::find_if(fresh.begin(), fresh.end(), [&](const ListedDevice &f) { return f.key == h->info.key; });
    if (again == fresh.end()) return FT_DEVICE_NOT_FOUND;
    s.snapshot[index] = *again;
    if (again->held_elsewhere) return FT_DEVICE_NOT_OPENED;
    h->info = *again;
    st = backend().open(h->info, &h->device);
  }
  if (st != FT_OK) return st;
  if (!h->device) return FT_DEVICE_NOT_OPENED;
  *handle = h.get();
  s.handles.push_back(std::move(h));
  return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  auto &hs = state().handles;
  auto it = std::find_if(hs.begin(), hs.end(), [&](const auto &p) { return p.get() == handle; });
  if (it == hs.end()) return FT_INVALID_HANDLE;
  hs.erase(it);
  return FT_OK;
}

FT_STATUS FT_GetDeviceInfo(FT_HANDLE handle, FT_DEVICE *type, DWORD *id, char *serial, char *description,
                           void *reserved) {
  Handle *p = find(handle);
  if (!p) return FT_INVALID_HANDLE;
  if (type) *type = p->info.type;
  if (id) *id = p->info.id;
  if (serial) platform::copy_bounded(serial, 16, p->info.serial.c_str());
  if (description) platform::copy_bounded(description, 64, p->info.description.c_str());
  return FT_OK;
}

FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, DWORD count, DWORD *written) {
  if (!buffer || !written) return FT_INVALID_PARAMETER;
  *written = 0;
  return with_device(handle, [&](Device &d) { return d.write(static_cast<const UCHAR *>(buffer), count, written); });
}

FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD count, DWORD *received) {
  if (!buffer || !received) return FT_INVALID_PARAMETER;
  *received = 0;
  return with_device(handle, [&](Device &d) { return d.read(static_cast<UCHAR *>(buffer), count, received); });
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *waiting) {
  if (!waiting) return FT_INVALID_PARAMETER;
  *waiting = 0;
  return with_device(handle, [&](Device &d) { return d.queue_status(waiting); });
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
  return with_device(handle, [&](Device &d) { return d.reset(); });
}

FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  return with_device(handle, [&](Device &d) { return d.purge(mask); });
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD read_ms, DWORD write_ms) {
  return with_device(handle, [&](Device &d) { return d.set_timeouts(read_ms, write_ms); });
}

FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR event_char, UCHAR event_enable, UCHAR error_char, UCHAR error_enable) {
  return with_device(handle,
                     [&](Device &d) { return d.set_chars(event_char, event_enable, error_char, error_enable); });
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms) {
  return with_device(handle, [&](Device &d) { return d.set_latency_timer(ms); });
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD in_size, DWORD out_size) {
  return with_device(handle, [&](Device &d) { return d.set_usb_parameters(in_size, out_size); });
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
  return with_device(handle, [&](Device &d) { return d.set_bit_mode(mask, mode); });
}

FT_STATUS FT_GetBitMode(FT_HANDLE handle, UCHAR *pins) {
  if (!pins) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device &d) { return d.get_bit_mode(pins); });
}

FT_STATUS FT_CyclePort(FT_HANDLE handle) {
  return with_device(handle, [&](Device &d) { return d.cycle_port(); });
}

FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, LONG *port) {
  if (!port) return FT_INVALID_PARAMETER;
  *port = -1;
  return with_device(handle, [&](Device &d) { return d.com_port(port); });
}

FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD *size) {
  if (!size) return FT_INVALID_PARAMETER;
  *size = 0;
  return with_device(handle, [&](Device &d) { return d.ua_size(size); });
}

FT_STATUS FT_EE_UARead(FT_HANDLE handle, UCHAR *data, DWORD length, DWORD *read) {
  if (!data || !read) return FT_INVALID_PARAMETER;
  *read = 0;
  return with_device(handle, [&](Device &d) { return d.ua_read(data, length, read); });
}

FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, UCHAR *data, DWORD length) {
  if (!data) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device &d) { return d.ua_write(data, length); });
}

namespace {
bool signed_record(const FT_PROGRAM_DATA *data) {
  return data && data->Signature1 == FT_EE_SIGNATURE1 && data->Signature2 == FT_EE_SIGNATURE2;
}
std::string text_of(const char *s, size_t max) { return s ? std::string(s, strnlen(s, max)) : std::string(); }
}  // namespace

FT_STATUS FT_EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA *data) {
  if (!signed_record(data)) return FT_INVALID_PARAMETER;
  ProductRecord r;
  const FT_STATUS st = with_device(handle, [&](Device &d) { return d.ee_read(&r); });
  if (st != FT_OK) return st;
  data->VendorId = r.vendor_id;
  data->ProductId = r.product_id;
  data->MaxPower = r.max_power_ma;
  data->SelfPowered = r.self_powered;
  data->RemoteWakeup = r.remote_wakeup;
  data->PnP = 1;
  if (data->Manufacturer) platform::copy_bounded(data->Manufacturer, FT_EE_MANUFACTURER_LEN, r.manufacturer.c_str());
  if (data->ManufacturerId)
    platform::copy_bounded(data->ManufacturerId, FT_EE_MANUFACTURER_ID_LEN, r.serial.substr(0, 2).c_str());
  if (data->Description) platform::copy_bounded(data->Description, FT_EE_DESCRIPTION_LEN, r.description.c_str());
  if (data->SerialNumber) platform::copy_bounded(data->SerialNumber, FT_EE_SERIAL_LEN, r.serial.c_str());
  return FT_OK;
}

FT_STATUS FT_EE_Program(FT_HANDLE handle, FT_PROGRAM_DATA *data) {
  if (!signed_record(data)) return FT_INVALID_PARAMETER;
  ProductRecord r;
  r.vendor_id = data->VendorId;
  r.product_id = data->ProductId;
  r.max_power_ma = data->MaxPower;
  r.self_powered = data->SelfPowered != 0;
  r.remote_wakeup = data->RemoteWakeup != 0;
  r.manufacturer = text_of(data->Manufacturer, FT_EE_MANUFACTURER_LEN);
  r.description = text_of(data->Description, FT_EE_DESCRIPTION_LEN);
  r.serial = text_of(data->SerialNumber, FT_EE_SERIAL_LEN);
  // Texts that fill their whole buffer have no end: refuse rather than guess.
  if (r.manufacturer.size() >= FT_EE_MANUFACTURER_LEN || r.description.size() >= FT_EE_DESCRIPTION_LEN ||
      r.serial.size() >= FT_EE_SERIAL_LEN)
    return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device &d) { return d.ee_program(r); });
}
