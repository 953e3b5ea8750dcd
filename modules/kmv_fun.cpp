#include "modules/kmv_fun.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modules/kmv_hard.h"
#include "platform/win/strings.h"

namespace {

constexpr KMVUSBModuleInfo kNoUsbModule{KMV_TYPE_NONE, 0, 0, -1, {}};
constexpr KMVModuleInfo kNoCard{KMV_TYPE_NONE, -1, -1, 0, -1, 0, {}};

// Texts by the code's absolute value; null where no code exists.
constexpr std::array<const char *, 25> kErrorTexts = {
    "no error",
    "can't open configuration file",
    "not valid configuration file",
    "memory allocation error",
    "can't read string from KMV configuration file",
    "No active modules - nothing was initialized",
    "Module number out of range",
    "KMV is not yet initialized or unknown module type",
    "Can't execute function - module not active",
    "Cannot initialize - KMV module already in use",
    "error during reading EEPROM",
    "error during writing to EEPROM",
    "wrong EEPROM checksum",
    "write access to EEPROM denied",
    "unknown KMV parameter id",
    "wrong KMV parameter value",
    "Error in WinDriver",
    "Error ID is out of range",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "no KMV-USB modules found",
    "Cannot connect USB module",
    "error during access to USB resource",
};

bool usb_module_in_range(int16_t module) { return module >= 0 && module < KMVUSB_MAX_MODULES; }
bool card_in_range(int16_t module) { return module >= 0 && module < KMV_MAX_MODULES; }

int16_t out_of_range() {
  kmv_err = KMV_MOD_NO;
  return KMV_MOD_NO;
}

// Reads a serial number through the reader and keeps its first 11
// characters in serial_no; left as it is (empty) when the read fails.
void reread_serial(KMVSerialReader reader, int16_t module, char (&serial_no)[12]) {
  if (reader == nullptr) return;
  char text[64] = {};
  if (reader(module, text, sizeof text) != 0) return;
  text[sizeof text - 1] = '\0';
  platform::copy_bounded(serial_no, sizeof serial_no, text);
}

}  // namespace

KMVUSBParameters kmvusb[KMVUSB_MAX_MODULES];
KMVUSBParameters kmvusb_orig[KMVUSB_MAX_MODULES];
KMVUSBModuleInfo kmvusb_mod[KMVUSB_MAX_MODULES] = {kNoUsbModule, kNoUsbModule, kNoUsbModule, kNoUsbModule};
KMVUSBModuleInfo orig_kmvusb_mod[KMVUSB_MAX_MODULES] = {kNoUsbModule, kNoUsbModule, kNoUsbModule, kNoUsbModule};
KMVUSBModulePrivate kmvusb_priv[KMVUSB_MAX_MODULES];
KMVUSBModulePrivate kmvusb_priv_orig[KMVUSB_MAX_MODULES];
uint8_t kmvusb_eep_buffer[KMVUSB_MAX_MODULES * KMVUSB_EEP_SIZE];
int16_t trqeep_valid[KMVUSB_MAX_MODULES];
int16_t trqlim_valid[KMVUSB_MAX_MODULES];
int16_t sim_ovld_cnt[8];
int16_t sim_curr_cnt[8];

void kmv_emulate_overload(int16_t module, int16_t *latch, int possible) {
  if (*latch != 0) return;  // the counter stands still while one is latched
  if (sim_ovld_cnt[module] != kmv_sim_draw_at) {
    ++sim_ovld_cnt[module];
    return;
  }
  sim_ovld_cnt[module] = 0;
  const int bits = kmv_rand() & possible;
  *latch = static_cast<int16_t>(*latch | bits);
  if (bits != 0)
    for (int16_t &n : sim_ovld_cnt) n = 0;
}

KMVParameters kmv[KMV_MAX_MODULES];
KMVParameters kmv_orig[KMV_MAX_MODULES];
KMVModuleInfo kmv_mod[KMV_MAX_MODULES] = {kNoCard, kNoCard, kNoCard, kNoCard, kNoCard, kNoCard, kNoCard, kNoCard};
KMVModuleInfo orig_kmv_mod[KMV_MAX_MODULES] = {kNoCard, kNoCard, kNoCard, kNoCard,
                                               kNoCard, kNoCard, kNoCard, kNoCard};
KMVModulePrivate kmv_priv[KMV_MAX_MODULES];
KMVModulePrivate kmv_priv_orig[KMV_MAX_MODULES];
uint8_t kmv_eep_buffer[KMV_EEP_SIZE];

int16_t kmvusb_hardware = KMV_MODE_HARDWARE;
int16_t no_of_kmvusb_modules = 0;
int16_t orig_no_of_kmvusb_modules = 0;
int16_t kmvusb_active_count = 0;
int16_t kmvusb_initialised = 0;
int16_t kmvusb_opened = 0;
int16_t kmvusb_force_mode_word = -1;
int16_t kmvusb_force_count = 0;
int16_t kmvusb_force_first = -1;
KMVUSBParameters *kmvusb_data = nullptr;
KMVUSBModulePrivate *kmvusb_priv_data = nullptr;

int16_t kmv_hardware = KMV_MODE_HARDWARE;
int16_t no_of_kmv_modules = 0;
int16_t orig_no_of_kmv_modules = 0;
int16_t kmv_active_count = 0;
int16_t kmv_initialised = 0;
int16_t kmv_opened = 0;
int16_t kmv_force_mode_word = -1;
int16_t kmv_force_count = 0;
int16_t kmv_force_first = -1;
KMVParameters *kmv_data = nullptr;
KMVModulePrivate *kmv_priv_data = nullptr;

int16_t kmv_err = KMV_NONE;
char kmv_err_string[128];

int16_t KMVUSB_test_if_active(int16_t module) {
  if (!usb_module_in_range(module)) return out_of_range();
  return kmvusb[module].active;
}

int16_t KMV_test_if_active(int16_t module) {
  if (!card_in_range(module)) return out_of_range();
  return kmv[module].active;
}

int16_t KMVUSB_get_init_status(int16_t module, int16_t *status) {
  if (!usb_module_in_range(module)) return out_of_range();
  if (status != nullptr) *status = kmvusb_mod[module].init_status;
  return KMV_NONE;
}

int16_t KMV_get_init_status(int16_t module, int16_t *status) {
  if (!card_in_range(module)) return out_of_range();
  if (status != nullptr) *status = kmv_mod[module].init_status;
  return KMV_NONE;
}

int16_t KMVUSB_get_module_info(int16_t module, KMVUSBModuleInfo *info) {
  if (!usb_module_in_range(module)) return out_of_range();
  if (info == nullptr) return KMV_NONE;
  if (kmvusb_initialised == 0) {
    *info = kNoUsbModule;
    return KMV_NONE;
  }
  KMVUSBModuleInfo &slot = kmvusb_mod[module];
  if (kmvusb_hardware == KMV_MODE_HARDWARE && slot.type != KMV_TYPE_NONE && slot.init_status == 0 &&
      slot.connected == 1 && slot.serial_no[0] == '\0') {
    reread_serial(kmvusb_serial_reader, module, slot.serial_no);
  }
  *info = slot;
  return KMV_NONE;
}

int16_t KMV_get_module_info(int16_t module, KMVModuleInfo *info) {
  if (!card_in_range(module)) return out_of_range();
  if (info == nullptr) return KMV_NONE;
  if (kmv_initialised == 0) {
    *info = kNoCard;
    return KMV_NONE;
  }
  KMVModuleInfo &slot = kmv_mod[module];
  if (kmv_hardware == KMV_MODE_HARDWARE && slot.type != KMV_TYPE_NONE && slot.serial_no[0] == '\0' &&
      slot.card_ident != 0) {
    reread_serial(kmv_serial_reader, module, slot.serial_no);
  }
  *info = slot;
  return KMV_NONE;
}

int16_t KMVUSB_get_mode(void) { return kmvusb_hardware; }
int16_t KMV_get_mode(void) { return kmv_hardware; }

int16_t KMV_get_error_string(int16_t code, char *buf, int16_t maxlen) {
  if (buf == nullptr || maxlen <= 0) return KMV_NONE;
  const int index = std::abs(static_cast<int>(code));
  const char *text = index < static_cast<int>(kErrorTexts.size()) ? kErrorTexts[index] : nullptr;
  if (text == nullptr) text = kErrorTexts[-KMV_ERR_ID];
  // The driver message may fill its whole buffer without a terminator.
  const size_t msg_len = strnlen(kmv_err_string, sizeof kmv_err_string);
  if (index == -KMV_WINDRV_ERR && msg_len > 0) {
    char composed[sizeof "WinDriver : " + sizeof kmv_err_string];
    std::snprintf(composed, sizeof composed, "WinDriver : %.*s", static_cast<int>(msg_len), kmv_err_string);
    platform::copy_bounded(buf, static_cast<size_t>(maxlen), composed);
  } else {
    platform::copy_bounded(buf, static_cast<size_t>(maxlen), text);
  }
  return KMV_NONE;
}

namespace {

// Outputs and coolers off, device released: the connected modules on the way out.
void release_connected(bool clear_active) {
  for (int16_t m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    if (!kmvusb_mod[m].connected) continue;
    disable_outputs_usb(m, -1, 1);
    kmvusb_priv[m].enabled = 0;
    kmvusb_lower.disconnect_device(static_cast<int16_t>(kmvusb_priv[m].device_no));
    kmvusb_mod[m].connected = 0;
    orig_kmvusb_mod[m].connected = 0;
    if (clear_active) kmvusb[m].active = 0;
  }
}

}  // namespace

void kmvusb_cleanup(void) {
  release_connected(false);
  for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    kmvusb_mod[m].init_status = -1;
    orig_kmvusb_mod[m].init_status = -1;
  }
}

int16_t KMVUSB_close(void) {
  if (!kmvusb_opened) return 1;
  release_connected(true);
  for (int m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    orig_kmvusb_mod[m] = KMVUSBModuleInfo{0, 0, 0, -1, {}};
    kmvusb_mod[m].type = KMV_TYPE_NONE;
    kmvusb_mod[m].init_status = -1;
  }
  kmvusb_hardware = KMV_MODE_HARDWARE;
  kmvusb_opened = 0;
  kmvusb_cleanup();
  // Not started, and the register layer talks to devices again.
  kmvusb_initialised = 0;
  kmvusb_lower.set_trq_mode(0, 0);
  return 2;
}
