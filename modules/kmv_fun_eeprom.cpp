// USB module EEPROM: the adjust block (identification) and the gain-limit
// block, each ending in a check byte that makes its byte sum 0x55.
#include <cstdio>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "platform/win/strings.h"

uint8_t trqlim_buffer[KMVUSB_MAX_MODULES][KMVUSB_LIMIT_BLOCK];
const KMVEepField kmvusb_eep_par[3] = {{0, 16}, {16, 16}, {32, 16}};

namespace {

constexpr int kTextMax = 15;  // characters of one identification field

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

bool in_range(int16_t module) { return module >= 0 && module < KMVUSB_MAX_MODULES; }

int16_t check_module(int16_t module) {
  if (!in_range(module)) return fail(KMV_MOD_NO);
  if (!kmvusb[module].active) return fail(KMV_NOT_ACTIVE);
  return KMV_NONE;
}

int16_t check_limit_args(int16_t module, int16_t connector, const int16_t *limit) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (connector < 0 || connector > 3 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  return KMV_NONE;
}

uint8_t *image_of(int16_t m) { return kmvusb_eep_buffer + KMVUSB_EEP_SIZE * m; }

// A read of count bytes that must deliver them all.
bool read_block(int16_t m, uint8_t *buf, unsigned short address, int count) {
  int done = 0;
  const int r = kmvusb_lower.read_user_eep(kmvusb_priv[m].ftdi_index, buf, address, count, &done, 1);
  return r == 0 && done == count;
}

bool block_ok(const uint8_t *block, int length) { return test_QV_checksum(block, length) == 0; }

// A field of data as text of at most 15 characters, zero-padded.
void put_field(uint8_t *image, int index, const char *text) {
  const KMVEepField f = kmvusb_eep_par[index];
  uint8_t *dst = image + f.offset;
  std::memset(dst, 0, static_cast<size_t>(f.length));
  std::memcpy(dst, text, strnlen(text, kTextMax));
}

// A field of the image as a terminated text (a full 16-byte field is cut).
void get_field(const uint8_t *image, int index, char *text) {
  const KMVEepField f = kmvusb_eep_par[index];
  std::memset(text, 0, static_cast<size_t>(f.length));
  const char *src = reinterpret_cast<const char *>(image + f.offset);
  std::memcpy(text, src, strnlen(src, kTextMax));
}

}  // namespace

int16_t load_kmvusb_adjust_para_from_eeprom(int16_t module, char *image, int16_t reread) {
  if (!in_range(module)) return fail(KMV_MOD_NO);
  if (image == nullptr) return fail(KMV_OPEN_FILE);
  if (kmvusb_emulated()) return KMV_NONE;
  auto *block = reinterpret_cast<uint8_t *>(image);
  if (reread || !trqeep_valid[module]) {
    if (!read_block(module, block, 0, KMVUSB_EEP_BLOCK)) {
      trqeep_valid[module] = 0;
      return fail(KMV_EEPROM_READ);
    }
  }
  if (!block_ok(block, KMVUSB_EEP_BLOCK)) {
    trqeep_valid[module] = 0;
    return fail(KMV_EEP_CHKSUM);
  }
  trqeep_valid[module] = 1;
  return KMV_NONE;
}

int16_t save_kmvusb_adjust_para_in_eeprom(int16_t module, char *image) {
  if (!in_range(module)) return fail(KMV_MOD_NO);
  if (image == nullptr) return fail(KMV_OPEN_FILE);
  if (kmvusb_emulated()) return KMV_NONE;
  auto *block = reinterpret_cast<uint8_t *>(image);
  prepare_QV_checksum(block, KMVUSB_EEP_BLOCK);
  trqeep_valid[module] = 0;
  if (kmvusb_lower.write_user_eep(kmvusb_priv[module].ftdi_index, block, 0, KMVUSB_EEP_BLOCK) != 0)
    return fail(KMV_EEPROM_WRITE);
  if (!read_block(module, block, 0, KMVUSB_EEP_BLOCK)) return fail(KMV_EEPROM_READ);
  if (!block_ok(block, KMVUSB_EEP_BLOCK)) return fail(KMV_EEP_CHKSUM);
  trqeep_valid[module] = 1;
  return KMV_NONE;
}

int16_t KMVUSB_get_eeprom_data(int16_t module, KMVUSBEepromData *data) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (data == nullptr) return KMV_NONE;
  if (kmvusb_emulated()) {
    *data = KMVUSBEepromData{};
    std::snprintf(data->module_name, sizeof data->module_name, "KMV-USB-%d", module + 1);
    std::snprintf(data->serial_no, sizeof data->serial_no, "00000%d", module + 1);
    std::snprintf(data->date, sizeof data->date, "%s", "08.05.2019");
  }
  uint8_t *image = image_of(module);
  const int16_t r = load_kmvusb_adjust_para_from_eeprom(module, reinterpret_cast<char *>(image), 0);
  if (r == 0 && !kmvusb_emulated()) {
    get_field(image, 0, data->module_name);
    get_field(image, 1, data->serial_no);
    get_field(image, 2, data->date);
  }
  return r;
}

int16_t KMVUSB_write_eeprom_data(int16_t module, int16_t access_code, KMVUSBEepromData *data) {
  if (const int16_t r = check_module(module); r != 0) return r;
  if (access_code != KMVUSB_ACCESS_CODE) return fail(KMV_EEP_WR_DIS);
  if (data == nullptr) return KMV_NONE;
  // Local copies: the texts of data may fill their fields without a terminator.
  char name[17] = {}, serial[17] = {}, date[17] = {};
  std::memcpy(name, data->module_name, 16);
  std::memcpy(serial, data->serial_no, 16);
  std::memcpy(date, data->date, 16);
  uint8_t *image = image_of(module);
  put_field(image, 0, name);
  put_field(image, 1, serial);
  put_field(image, 2, date);
  const int16_t r = save_kmvusb_adjust_para_in_eeprom(module, reinterpret_cast<char *>(image));
  if (kmvusb_emulated() || r != 0) return r;
  get_field(image, 0, data->module_name);
  get_field(image, 1, data->serial_no);
  get_field(image, 2, data->date);
  platform::copy_bounded(kmvusb_mod[module].serial_no, sizeof kmvusb_mod[module].serial_no, data->serial_no);
  return KMV_NONE;
}

int16_t getusb_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (!in_range(module)) return fail(KMV_MOD_NO);
  if (connector < 0 || connector > 3 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  KMVUSBModulePrivate &p = kmvusb_priv[module];
  if (!kmvusb_emulated()) {
    uint8_t *block = trqlim_buffer[module];
    if (!trqlim_valid[module]) {
      uint8_t fresh[KMVUSB_LIMIT_BLOCK] = {};
      if (!read_block(module, fresh, KMVUSB_LIMIT_ADDR, KMVUSB_LIMIT_BLOCK)) return fail(KMV_EEPROM_READ);
      std::memcpy(block, fresh, sizeof fresh);
    }
    const bool ok = block_ok(block, KMVUSB_LIMIT_BLOCK);
    trqlim_valid[module] = ok ? 1 : 0;
    p.hv_limit[connector] = ok ? block[connector] : int16_t{100};
  }
  *limit = p.hv_limit[connector];
  return KMV_NONE;
}

int16_t setusb_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (!in_range(module)) return fail(KMV_MOD_NO);
  if (connector < 0 || connector > 3 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  // The limit is one byte in the EEPROM: a larger value would wrap (256 to 0).
  if (*limit < 0 || *limit > 255) return fail(KMV_BAD_PAR_VAL);
  KMVUSBModulePrivate &p = kmvusb_priv[module];
  uint8_t block[KMVUSB_LIMIT_BLOCK] = {};
  for (int c = 0; c < 4; ++c) block[c] = static_cast<uint8_t>(p.hv_limit[c]);
  std::memcpy(trqlim_buffer[module], block, 4);
  if (*limit == p.hv_limit[connector]) return KMV_NONE;
  block[connector] = static_cast<uint8_t>(*limit);
  int16_t now = block[connector];
  if (!kmvusb_emulated()) {
    trqlim_valid[module] = 0;
    prepare_QV_checksum(block, KMVUSB_LIMIT_BLOCK);
    std::memcpy(trqlim_buffer[module], block, sizeof block);
    if (kmvusb_lower.write_user_eep(p.ftdi_index, block, KMVUSB_LIMIT_ADDR, KMVUSB_LIMIT_BLOCK) != 0)
      return fail(KMV_EEPROM_WRITE);
    if (!read_block(module, block, KMVUSB_LIMIT_ADDR, KMVUSB_LIMIT_BLOCK)) return fail(KMV_EEPROM_READ);
    std::memcpy(trqlim_buffer[module], block, sizeof block);
    const bool ok = block_ok(block, KMVUSB_LIMIT_BLOCK);
    trqlim_valid[module] = ok ? 1 : 0;
    now = ok ? block[connector] : int16_t{100};
  } else {
    std::memcpy(trqlim_buffer[module], block, 4);
  }
  p.hv_limit[connector] = now;
  *limit = now;
  return KMV_NONE;
}

int16_t KMVUSB_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (const int16_t r = check_limit_args(module, connector, limit); r != 0) return r;
  return getusb_limit(module, connector, limit);
}

int16_t KMVUSB_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (const int16_t r = check_limit_args(module, connector, limit); r != 0) return r;
  const int16_t r = setusb_limit(module, connector, limit);
  if (r != 0) return r;
  // The stored gain as it is, within the new limit; sent only while this
  // connector's outputs are enabled.
  const auto send = static_cast<int16_t>(kmvusb_priv[module].enabled & (1 << connector));
  kmvusb_select(module);
  kmvusb_apply_parameter(module, static_cast<int16_t>(7 * connector + KMVUSB_PAR_GAIN_HV), send,
                         kmvusb[module].connector[connector].GAIN_HV);
  return r;
}
