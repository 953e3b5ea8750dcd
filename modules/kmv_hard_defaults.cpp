// The layers below the module library as they stand in the program, and the
// serial-number readers of the module-info calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modules/FTDI_func.h"
#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"
#include "modules/qv_usb_fun.h"
#include "platform/win/files.h"
#include "platform/win/strings.h"
#include "support/Util_fun_numeric.h"

int16_t kmvusb_serial_reader_eeprom(int16_t module, char *text, size_t size) {
  if (text == nullptr || size == 0) return -1;
  text[0] = '\0';
  char serial[17] = {};
  uint32_t number = 0;
  const int16_t r = get_kmvusb_serial_number(module, &number, serial, nullptr);
  if (r != 0) return r;
  platform::copy_bounded(text, size, serial);
  return KMV_NONE;
}

int16_t kmv_serial_reader_eeprom(int16_t module, char *text, size_t size) {
  if (text == nullptr || size == 0) return -1;
  text[0] = '\0';
  char serial[13] = {};
  uint32_t number = 0;
  const int16_t r = get_kmv_serial_number(module, &number, serial);
  if (r < 0) return r;
  platform::copy_bounded(text, size, serial);
  return KMV_NONE;
}

KMVSerialReader kmvusb_serial_reader = kmvusb_serial_reader_eeprom;
KMVSerialReader kmv_serial_reader = kmv_serial_reader_eeprom;

namespace {
constexpr KMVUSBLowerLayer kTransportAndManager{
    Set_TRQ_mode,       KMV_set_register,     KMV_set_bit_in_register, KMV_get_register,
    KMV_set_dac_chan,   KMV_clear_all_dacs,   KMV_ReadUserEEP,         KMV_WriteUserEEP,
    QVUSB_find_devices, QVUSB_connect_device, QVUSB_disconnect_device, QVUSB_reconnect_device,
};
}  // namespace

KMVUSBLowerLayer kmvusb_default_lower() { return kTransportAndManager; }
KMVUSBLowerLayer kmvusb_lower = kTransportAndManager;

int (*kmv_rand)(void) = std::rand;

KMVIniSection::KMVIniSection(const char *pattern, int n, const char *const names[]) {
  std::snprintf(pattern_, sizeof pattern_, "%s", pattern);
  section_.pattern = pattern_;
  ok_ = create_parset(&section_, n, names) == 0;
}

int32_t KMVIniSection::read_active(FILE *f, int32_t pos) {
  int32_t active = 0;
  if (get_parameter(f, &section_, pos, 0, &active, 'I') == 1) return active;
  char own[sizeof section_.keywords[0].name];
  platform::copy_bounded(own, sizeof own, section_.keywords[0].name);
  rename(0, "ACTIVE");
  get_parameter(f, &section_, pos, 0, &active, 'I');
  rename(0, own);
  return active;
}

int32_t KMVIniSection::find(FILE *f) { return ok_ ? get_section_pos(f, &section_) : -1; }

int16_t KMVIniSection::read_int(FILE *f, int32_t pos, int row, int lo, int hi, int32_t missing) {
  int32_t v = missing;
  get_parameter(f, &section_, pos, row, &v, 'I');
  return static_cast<int16_t>(lim(v, lo, hi));
}

float KMVIniSection::read_float(FILE *f, int32_t pos, int row, float max) {
  float v = 0.0f;
  get_parameter(f, &section_, pos, row, &v, 'F');
  return limf(v, 0.0f, max);
}

int16_t KMVIniSection::read_byte(FILE *f, int32_t pos, int row) {
  uint32_t v = 0;
  get_parameter(f, &section_, pos, row, &v, 'U');
  return static_cast<int16_t>(limlu(v, 0, 255));
}

KMVIniSection::~KMVIniSection() { std::free(section_.keywords); }

void KMVIniSection::rename(int row, const char *name) {
  platform::copy_bounded(section_.keywords[row].name, sizeof section_.keywords[row].name, name);
}

namespace {
// Linux with the driver device: the port accessors reach the cards.
int linux_with_driver() { return 3; }
}  // namespace

int (*kmv_platform)(void) = linux_with_driver;

int16_t kmv_open_ini(const char *path, const char *marker, KMVIniSection &base, FILE **f, int32_t *pos,
                     int16_t *force_mode_word, int16_t *mode_word, int16_t emulation_word) {
  *f = nullptr;
  const int valid = check_if_valid(path, marker);
  if (valid != 0) return static_cast<int16_t>(valid);
  FILE *file = platform::files::fopen_plain(path, "rb");
  if (file == nullptr) {
    kmv_err = KMV_OPEN_FILE;
    return KMV_OPEN_FILE;
  }
  *pos = base.ok() ? get_section_pos(file, base.get()) : -1;
  if (*pos < 0) {
    std::fclose(file);
    kmv_err = KMV_OPEN_FILE;
    return KMV_OPEN_FILE;
  }
  int32_t word = -1;
  if (*force_mode_word < 0) {
    get_parameter(file, base.get(), *pos, 0, &word, 'I');
  } else {
    word = *force_mode_word;
    *force_mode_word = -1;
  }
  if (word == KMV_MODE_HARDWARE || word == emulation_word) *mode_word = static_cast<int16_t>(word);
  *f = file;
  return KMV_NONE;
}
