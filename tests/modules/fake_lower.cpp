#include "tests/modules/fake_lower.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/qv_usb_fun.h"

namespace fake {
namespace {

Lower the_fake;
std::vector<int> rand_values;
size_t rand_next = 0;

int scripted_rand() {
  if (rand_values.empty()) return 0;
  const int v = rand_values[rand_next % rand_values.size()];
  ++rand_next;
  return v;
}

std::string hex4(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v & 0xFFFF);
  return b;
}

bool valid(int dev) { return dev >= 0 && dev < 8; }

// Logs an access and returns its injected status.
int access(const std::string &what) {
  const int st = the_fake.fault ? the_fake.fault(what) : 0;
  the_fake.traffic.push_back(st != 0 ? what + "!" : what);
  return st;
}

void set_trq_mode(unsigned short mode, int) {
  TRQ_mode = mode == 5 ? 5 : 0;
  the_fake.calls.push_back("trq " + std::to_string(TRQ_mode));
}

int set_register(int dev, int reg, unsigned short value) {
  if (!valid(dev) || reg < 0 || reg > 3) return -1;
  if (TRQ_mode == 0 && access("R" + std::to_string(reg) + "=" + hex4(value)) != 0) return -1;
  kmv_regdata[dev][reg] = value;
  return 0;
}

int set_bit_in_register(int dev, int reg, int bit, short state) {
  if (!valid(dev) || reg < 0 || reg > 3 || bit < 0 || bit > 15) return -1;
  const unsigned v = kmv_regdata[dev][reg];
  return set_register(dev, reg, static_cast<unsigned short>(state ? v | 1u << bit : v & ~(1u << bit)));
}

int get_register(int dev, int reg, unsigned short *value) {
  if (!valid(dev) || reg < 0 || reg > 3 || value == nullptr) return -1;
  const unsigned mask = reg == 1 ? 0x000F : reg == 3 ? 0xFFFF : 0;
  if (TRQ_mode != 0 || mask == 0) {
    *value = kmv_regdata[dev][reg];
    return 0;
  }
  if (access("r" + std::to_string(reg)) != 0) return -1;
  *value = static_cast<unsigned short>((the_fake.pins[dev][reg] & mask) | (kmv_regdata[dev][reg] & ~mask));
  return 0;
}

int set_dac_chan(int dev, unsigned char channel, unsigned short code) {
  if (!valid(dev) || channel > 15) return -1;
  if (TRQ_mode == 0 && access("D" + std::to_string(channel) + "=" + std::to_string(code)) != 0) return -1;
  kmv_regdata[dev][4 + channel] = code;
  return 0;
}

int clear_all_dacs(int dev) {
  if (!valid(dev)) return -1;
  if (TRQ_mode == 0 && access("CLR") != 0) return -1;
  std::fill(kmv_regdata[dev] + 4, kmv_regdata[dev] + 20, 0);
  return 0;
}

int read_user_eep(int dev, unsigned char *buf, unsigned short address, int count, int *done, int) {
  if (!valid(dev)) return -1;
  if (count < 1 || address + count > 512) return -4;
  if (TRQ_mode != 0) return 0;
  if (const int st = access("E" + std::to_string(address) + "+" + std::to_string(count)); st != 0) return st;
  const int n = the_fake.short_read >= 0 ? std::min(the_fake.short_read, count) : count;
  std::memcpy(buf, the_fake.eeprom[dev].data() + address, static_cast<size_t>(n));
  if (done) *done = n;
  return 0;
}

int write_user_eep(int dev, const unsigned char *data, unsigned short address, int count) {
  if (!valid(dev)) return -1;
  if (count < 1 || address + count > 512) return -4;
  if (TRQ_mode != 0) return 0;
  if (const int st = access("W" + std::to_string(address) + "+" + std::to_string(count)); st != 0) return st;
  std::memcpy(the_fake.eeprom[dev].data() + address, data, static_cast<size_t>(count));
  return 0;
}

int16_t find_devices(int16_t kind) {
  the_fake.calls.push_back("find " + std::to_string(kind));
  return the_fake.found;
}

int16_t connect_device(int16_t n) {
  the_fake.calls.push_back("connect " + std::to_string(n));
  const auto it = the_fake.connect_result.find(n);
  const int16_t r = it == the_fake.connect_result.end() ? 0 : it->second;
  if (r == 0 && n >= 0 && n < QVUSB_MAX_DEVICES) {
    if (!usb_dev[n].connected) {
      // A fresh connect starts the module's cache afresh, as the real one does.
      std::fill(std::begin(kmv_regdata[usb_dev[n].device_no]), std::end(kmv_regdata[usb_dev[n].device_no]), 0);
      kmv_regdata[usb_dev[n].device_no][1] |= 0xEF00;
    }
    usb_dev[n].connected = 1;
  }
  return r;
}

int16_t disconnect_device(int16_t n) {
  if (TRQ_mode != 0) return 0;  // the register layer works on its cache only
  the_fake.calls.push_back("disconnect " + std::to_string(n));
  if (n >= 0 && n < QVUSB_MAX_DEVICES) usb_dev[n].connected = 0;
  return 0;
}

int16_t reconnect_device(int16_t n) {
  the_fake.calls.push_back("reconnect " + std::to_string(n));
  const auto it = the_fake.reconnect_result.find(n);
  return it == the_fake.reconnect_result.end() ? int16_t{0} : it->second;
}

constexpr KMVUSBLowerLayer kFakeLayer{set_trq_mode,   set_register,   set_bit_in_register, get_register,
                                      set_dac_chan,   clear_all_dacs, read_user_eep,       write_user_eep,
                                      find_devices,   connect_device, disconnect_device,   reconnect_device};

void put_text(uint8_t *dst, const std::string &text) { std::memcpy(dst, text.data(), std::min<size_t>(text.size(), 16)); }

}  // namespace

Lower &lower() { return the_fake; }

std::vector<std::string> Lower::take() {
  std::vector<std::string> out;
  out.swap(traffic);
  return out;
}

std::vector<std::string> Lower::take_calls() {
  std::vector<std::string> out;
  out.swap(calls);
  return out;
}

void Lower::set_limit_block(int i, const std::array<uint8_t, 4> &limits, bool valid_check) {
  uint8_t *l = eeprom[i].data() + 100;
  std::memcpy(l, limits.data(), 4);
  prepare_QV_checksum(l, 5);
  if (!valid_check) l[4] = static_cast<uint8_t>(l[4] + 1);
}

void Lower::add_device(int i, const std::string &serial, const std::string &name,
                       const std::array<uint8_t, 4> &limits) {
  usb_module_record &r = usb_dev[i];
  r = usb_module_record{};
  r.kind = 5;
  r.present = 1;
  r.device_no = i;
  std::snprintf(r.serial, sizeof r.serial, "FT%04d", i);
  uint8_t *e = eeprom[i].data();
  std::memset(e, 0, 49);
  put_text(e, name);
  put_text(e + 16, serial);
  put_text(e + 32, "01.02.2020");
  prepare_QV_checksum(e, 49);
  set_limit_block(i, limits);
  for (auto &p : pins[i]) p = 0xFFFF;
  pins[i][3] = 0;  // no overload
}

void reset_library() {
  const KMVUSBModuleInfo none{KMV_TYPE_NONE, 0, 0, -1, {}};
  for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    kmvusb[m] = kmvusb_orig[m] = KMVUSBParameters{};
    kmvusb_mod[m] = orig_kmvusb_mod[m] = none;
    kmvusb_priv[m] = kmvusb_priv_orig[m] = KMVUSBModulePrivate{};
    trqeep_valid[m] = trqlim_valid[m] = 0;
    kmvusb_dac_stale[m] = 0;
  }
  std::memset(kmvusb_eep_buffer, 0, sizeof kmvusb_eep_buffer);
  std::memset(trqlim_buffer, 0, sizeof trqlim_buffer);
  std::memset(sim_ovld_cnt, 0, sizeof sim_ovld_cnt);
  std::memset(sim_curr_cnt, 0, sizeof sim_curr_cnt);
  kmvusb_hardware = KMV_MODE_HARDWARE;
  no_of_kmvusb_modules = orig_no_of_kmvusb_modules = kmvusb_active_count = 0;
  kmvusb_initialised = kmvusb_opened = 0;
  kmvusb_force_mode_word = -1;
  kmvusb_force_count = 0;
  kmvusb_force_first = -1;
  kmvusb_data = nullptr;
  kmvusb_priv_data = nullptr;
  kmv_err = KMV_NONE;
  kmv_err_string[0] = '\0';
  std::memset(kmv_regdata, 0, sizeof kmv_regdata);
  TRQ_mode = 0;
  for (int i = 0; i < QVUSB_MAX_DEVICES; ++i) {
    usb_dev[i] = usb_module_record{};
    usb_dev_info[i] = usb_module_info{};
  }
}

void set_rand_sequence(std::vector<int> values) {
  rand_values = std::move(values);
  rand_next = 0;
}

void Fixture::SetUp() {
  saved_ = kmvusb_lower;
  saved_rand_ = kmv_rand;
  kmvusb_lower = kFakeLayer;
  kmv_rand = scripted_rand;
  set_rand_sequence({});
  the_fake = Lower{};
  reset_library();
}

void Fixture::TearDown() {
  reset_library();
  kmvusb_lower = saved_;
  kmv_rand = saved_rand_;
  the_fake = Lower{};
}

void Fixture::start_hardware(int n) {
  for (int i = 0; i < n; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "KM%02d", 10 + i);
    fake().add_device(i, serial);
  }
  fake().found = static_cast<int16_t>(n);
  KMVUSB_force_mode(0, static_cast<int16_t>(n), 1);
  ASSERT_EQ(KMVUSB_init(nullptr), 0);
  fake().take();
  fake().take_calls();
}

void Fixture::start_emulation(int count) {
  KMVUSB_force_mode(KMVUSB_MODE_EMULATION, static_cast<int16_t>(count), 1);
  ASSERT_EQ(KMVUSB_init(nullptr), 0);
  fake().take();
  fake().take_calls();
}

}  // namespace fake
