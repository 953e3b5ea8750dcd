// KMV-100 card EEPROM (the bridge's 128-byte serial EEPROM): the adjust block
// with serial number and date at byte 102, the two gain limits at 100 and 101
// with their check byte at 127.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "pci/plx_eep.h"
#include "platform/win/strings.h"

const KMVEepField kmv_eep_par[2] = {{0, 12}, {12, 12}};

namespace {

constexpr uint16_t kChip = 0x9050;
constexpr int kTextMax = 11;  // characters of one identification field
constexpr int kLimitCheck = 127;

int16_t fail(int16_t code) {
  kmv_err = code;
  return code;
}

int16_t check_card(int16_t m) {
  if (m < 0 || m >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  if (!kmv[m].active) return fail(KMV_NOT_ACTIVE);
  return KMV_NONE;
}

// Bytes of the EEPROM through the word-wide access; `bytes` rounded up to
// whole words (the buffer holds them).
bool eep_read(int16_t m, int address, int count, uint8_t *out, int out_size) {
  uint16_t words[KMV_EEP_SIZE / 2 + 1] = {};
  if (read_pci_eep(kmv_priv[m].device, kChip, KMV_EEP_SIZE, static_cast<int16_t>(address),
                   static_cast<int16_t>(count), words) != 0)
    return false;
  std::memcpy(out, words, static_cast<size_t>(out_size));
  return true;
}

bool eep_write(int16_t m, int address, int count, const uint8_t *in, int in_size) {
  uint16_t words[KMV_EEP_SIZE / 2 + 1] = {};
  std::memcpy(words, in, static_cast<size_t>(in_size));
  return write_pci_eep(kmv_priv[m].device, kChip, KMV_EEP_SIZE, static_cast<int16_t>(address),
                       static_cast<int16_t>(count), words) == 0;
}

bool block_ok(const uint8_t *block, int length) { return test_QV_checksum(block, length) == 0; }

bool limits_ok(const uint8_t pair[2], uint8_t check) { return ((pair[0] + pair[1] + check) & 0xFF) == 0x55; }

int16_t &limit_of(int16_t m, int16_t k) { return k == 0 ? kmv_priv[m].hv_limit_c1 : kmv_priv[m].hv_limit_c3; }

void put_field(uint8_t *image, int index, const char *text, size_t size) {
  const KMVEepField f = kmv_eep_par[index];
  std::memset(image + f.offset, 0, static_cast<size_t>(f.length));
  std::memcpy(image + f.offset, text, strnlen(text, std::min<size_t>(size, kTextMax)));
}

void get_field(const uint8_t *image, int index, char *text) {
  const KMVEepField f = kmv_eep_par[index];
  std::memset(text, 0, static_cast<size_t>(f.length));
  const char *src = reinterpret_cast<const char *>(image + f.offset);
  std::memcpy(text, src, strnlen(src, kTextMax));
}

}  // namespace

int16_t load_kmv_adjust_para_from_eeprom(int16_t module, char *image) {
  if (module < 0 || module >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  if (image == nullptr) return fail(KMV_OPEN_FILE);
  if (kmv_emulated()) return KMV_NONE;
  auto *block = reinterpret_cast<uint8_t *>(image);
  if (!eep_read(module, KMV_EEP_BLOCK_ADDR, KMV_EEP_BLOCK, block, KMV_EEP_BLOCK + 1)) return fail(KMV_EEPROM_READ);
  return block_ok(block, KMV_EEP_BLOCK) ? int16_t{KMV_NONE} : fail(KMV_EEP_CHKSUM);
}

int16_t save_kmv_adjust_para_in_eeprom(int16_t module, char *image) {
  if (module < 0 || module >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  if (image == nullptr) return fail(KMV_OPEN_FILE);
  if (kmv_emulated()) return KMV_NONE;
  auto *block = reinterpret_cast<uint8_t *>(image);
  // The block's odd length makes its last word carry byte 127, the limits'
  // check byte: it goes back as it was.
  uint8_t tail[2] = {};
  if (!eep_read(module, kLimitCheck, 2, tail, 2)) return fail(KMV_EEPROM_READ);
  block[KMV_EEP_BLOCK - 1] = tail[0];
  block[KMV_EEP_BLOCK] = tail[1];
  prepare_QV_checksum(block, KMV_EEP_BLOCK);
  if (!eep_write(module, KMV_EEP_BLOCK_ADDR, KMV_EEP_BLOCK, block, KMV_EEP_BLOCK + 1)) return fail(KMV_EEPROM_WRITE);
  if (!eep_read(module, KMV_EEP_BLOCK_ADDR, KMV_EEP_BLOCK, block, KMV_EEP_BLOCK + 1)) return fail(KMV_EEPROM_READ);
  return block_ok(block, KMV_EEP_BLOCK) ? int16_t{KMV_NONE} : fail(KMV_EEP_CHKSUM);
}

int16_t KMV_get_eeprom_data(int16_t module, KMVEepromData *data) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (data == nullptr) return KMV_NONE;
  if (kmv_emulated()) {
    *data = KMVEepromData{};
    std::snprintf(data->serial_no, sizeof data->serial_no, "810000000%d", module + 1);
    std::snprintf(data->date, sizeof data->date, "%s", "17.10.2001");
  }
  const int16_t r = load_kmv_adjust_para_from_eeprom(module, reinterpret_cast<char *>(kmv_eep_buffer));
  if (r == 0 && !kmv_emulated()) {
    get_field(kmv_eep_buffer, 0, data->serial_no);
    get_field(kmv_eep_buffer, 1, data->date);
  }
  return r;
}

int16_t KMV_write_eeprom_data(int16_t module, int16_t access_code, KMVEepromData *data) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (access_code != KMV_ACCESS_CODE) return fail(KMV_EEP_WR_DIS);
  if (data == nullptr) return KMV_NONE;
  put_field(kmv_eep_buffer, 0, data->serial_no, sizeof data->serial_no);
  put_field(kmv_eep_buffer, 1, data->date, sizeof data->date);
  const int16_t r = save_kmv_adjust_para_in_eeprom(module, reinterpret_cast<char *>(kmv_eep_buffer));
  if (kmv_emulated() || r != 0) return r;
  get_field(kmv_eep_buffer, 0, data->serial_no);
  get_field(kmv_eep_buffer, 1, data->date);
  platform::copy_bounded(kmv_mod[module].serial_no, sizeof kmv_mod[module].serial_no, data->serial_no);
  return KMV_NONE;
}

int16_t get_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (module < 0 || module >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  if (connector < 0 || connector > 1 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  if (!kmv_emulated()) {
    uint8_t pair[2] = {}, tail[2] = {};
    if (!eep_read(module, KMV_LIMIT_ADDR, 2, pair, 2) || !eep_read(module, 126, 2, tail, 2))
      return fail(KMV_EEPROM_READ);
    limit_of(module, connector) = limits_ok(pair, tail[1]) ? pair[connector] : int16_t{100};
  }
  *limit = limit_of(module, connector);
  return KMV_NONE;
}

int16_t set_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (module < 0 || module >= KMV_MAX_MODULES) return fail(KMV_MOD_NO);
  if (connector < 0 || connector > 1 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  // The limit is one byte in the EEPROM: a larger value would wrap.
  if (*limit < 0 || *limit > 255) return fail(KMV_BAD_PAR_VAL);
  uint8_t pair[2] = {static_cast<uint8_t>(kmv_priv[module].hv_limit_c1),
                     static_cast<uint8_t>(kmv_priv[module].hv_limit_c3)};
  pair[connector] = static_cast<uint8_t>(*limit);
  int16_t now = pair[connector];
  if (!kmv_emulated()) {
    if (!eep_write(module, KMV_LIMIT_ADDR, 2, pair, 2)) return fail(KMV_EEPROM_WRITE);
    uint8_t tail[2] = {};
    if (!eep_read(module, 126, 2, tail, 2)) return fail(KMV_EEPROM_READ);
    tail[1] = static_cast<uint8_t>(0x55 - pair[0] - pair[1]);
    if (!eep_write(module, 126, 2, tail, 2)) return fail(KMV_EEPROM_WRITE);
    if (!eep_read(module, KMV_LIMIT_ADDR, 2, pair, 2) || !eep_read(module, 126, 2, tail, 2))
      return fail(KMV_EEPROM_READ);
    now = limits_ok(pair, tail[1]) ? pair[connector] : int16_t{100};
  }
  limit_of(module, connector) = now;
  *limit = now;
  return KMV_NONE;
}

int16_t KMV_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (connector < 0 || connector > 1 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  return get_limit(module, connector, limit);
}

int16_t KMV_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit) {
  if (const int16_t r = check_card(module); r != 0) return r;
  if (connector < 0 || connector > 1 || limit == nullptr) return fail(KMV_BAD_PAR_VAL);
  const int16_t r = set_limit(module, connector, limit);
  if (r != 0) return r;
  // The stored gain as it is, within the new limit; sent while the outputs are on.
  kmv_select(module);
  const float gain = connector == 0 ? kmv[module].C1_GAIN_HV : kmv[module].C3_GAIN_HV;
  kmv_apply_parameter(module, connector == 0 ? KMV_PAR_C1_GAIN_HV : KMV_PAR_C3_GAIN_HV,
                      kmv_priv[module].outputs_enabled, gain);
  return r;
}
