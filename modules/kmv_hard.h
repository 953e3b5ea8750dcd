#pragma once
// Inside the module library: the layers below it as one replaceable table
// (the register layer of the transport and the USB-module manager), the
// pseudo-random source of the emulation, and the steps its files share.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "pci/p9050_qv.h"
#include "pci/wd_types.h"
#include "support/Util_fun_parfile.h"

// Reads the serial number of a started module (USB module or PCI card) into
// text, a terminated text within size bytes. 0 on success, negative on
// failure (text is then left empty).
typedef int16_t (*KMVSerialReader)(int16_t module, char *text, size_t size);

// Used by KMVUSB_get_module_info for a started module with an empty serial
// number: a re-read of the module's EEPROM block.
extern KMVSerialReader kmvusb_serial_reader;
// Used by KMV_get_module_info for a counted card with an empty serial number
// (the card's EEPROM).
extern KMVSerialReader kmv_serial_reader;

// The USB reader: get_kmvusb_serial_number.
int16_t kmvusb_serial_reader_eeprom(int16_t module, char *text, size_t size);
// The card reader: get_kmv_serial_number.
int16_t kmv_serial_reader_eeprom(int16_t module, char *text, size_t size);

// What the USB module calls use below them. Defaults: the transport
// (FTDI_func.h) and the manager (qv_usb_fun.h); tests put fakes in.
struct KMVUSBLowerLayer {
  void (*set_trq_mode)(unsigned short mode, int trace);
  int (*set_register)(int dev, int reg, unsigned short value);
  int (*set_bit_in_register)(int dev, int reg, int bit, short state);
  int (*get_register)(int dev, int reg, unsigned short *value);
  int (*set_dac_chan)(int dev, unsigned char channel, unsigned short code);
  int (*clear_all_dacs)(int dev);
  int (*read_user_eep)(int dev, unsigned char *buf, unsigned short address, int count, int *done, int open);
  int (*write_user_eep)(int dev, const unsigned char *data, unsigned short address, int count);
  int16_t (*find_devices)(int16_t kind);
  int16_t (*connect_device)(int16_t number);
  int16_t (*disconnect_device)(int16_t number);
  int16_t (*reconnect_device)(int16_t number);
};
extern KMVUSBLowerLayer kmvusb_lower;
KMVUSBLowerLayer kmvusb_default_lower();

// Source of the emulation's overload and current-limit draws (std::rand by
// default); only its low four bits are used.
extern int (*kmv_rand)(void);

// The emulation draws on the call at which a module's counter stands here.
inline constexpr int kmv_sim_draw_at = 50;

// Emulated overloads of both families: while none is latched in *latch, the
// module's counter runs up to the draw mark; there a random pick of the
// connectors in `possible` latches, and any overload restarts every counter.
void kmv_emulate_overload(int16_t module, int16_t *latch, int possible);

// ---- shared by the library's files ------------------------------------------

// Emulation: no device is touched.
bool kmvusb_emulated();
// The register layer's cache row of module m's device, null when the module
// has no device index.
unsigned short *kmvusb_regdata(int16_t m);
// Per module, the DAC channels to write even when the cache holds the code
// (after a reconnect the module may have lost its DAC state).
extern uint16_t kmvusb_dac_stale[4];
// Writes one DAC channel of module m: only a changed (or stale) code unless
// always is set. 0 or KMV_ERR_USB.
int16_t kmvusb_write_dac(int16_t m, int channel, uint16_t code, bool always);
// One parameter of module m, once the caller has checked the module.
int16_t kmvusb_apply_parameter(int16_t m, int16_t par_id, int16_t send, float value);
// Starts module m from its ini record (used by KMVUSB_init and KMVUSB_set_mode).
int16_t kmvusb_start_module(int16_t m);
// Pointers kmvusb_data and kmvusb_priv_data to module m.
void kmvusb_select(int16_t m);

// ---- helpers shared by the USB and PCI files ---------------------------------

// A float truncated toward zero to 16 bits as an unsigned value (-1 -> 65535),
// saturating where the conversion would be undefined.
uint16_t kmv_truncate_u16(float v);
// A switch value: truncated, then clamped to 0..1.
uint16_t kmv_switch_value(float v);
// A DAC code: the product clamped as float to 0..4095, then rounded.
uint16_t kmv_dac_code(double scaled);
constexpr double kKmvDacScale = 4095.1;

// A parameter-file section description whose rows are released with it.
class KMVIniSection {
 public:
  KMVIniSection(const char *pattern, int n, const char *const names[]);
  ~KMVIniSection();
  KMVIniSection(const KMVIniSection &) = delete;
  KMVIniSection &operator=(const KMVIniSection &) = delete;
  bool ok() const { return ok_; }
  ParFileSection *get() { return &section_; }
  // Renames row `row`.
  void rename(int row, const char *name);
  // Row 0, the active flag, at the section found at pos; its key "ACTIVE"
  // is the fallback when the row's own key is missing. 0 when neither is there.
  int32_t read_active(FILE *f, int32_t pos);
  // The section's position in f; -1 when it, or this table, is missing.
  int32_t find(FILE *f);
  // Typed rows of the section at pos, clamped to their range; a missing key
  // reads as `missing` (integers) or 0.
  int16_t read_int(FILE *f, int32_t pos, int row, int lo, int hi, int32_t missing = 0);
  float read_float(FILE *f, int32_t pos, int row, float max);
  int16_t read_byte(FILE *f, int32_t pos, int row);  // an unsigned 0..255

 private:
  char pattern_[32] = {};
  ParFileSection section_{0, nullptr, nullptr};
  bool ok_ = false;
};

// Checks an ini file of the family by its marker, opens it and reads its base
// section's mode key, or takes the forced mode word (consumed). The mode word
// changes only to hardware (0) or the family's emulation word. On success the
// file stays open in *f with the base section at *pos. 0, or the failure.
int16_t kmv_open_ini(const char *path, const char *marker, KMVIniSection &base, FILE **f, int32_t *pos,
                     int16_t *force_mode_word, int16_t *mode_word, int16_t emulation_word);

// Without a file: the first forced slot (slot 0 when none) is made active,
// and with a forced count (>= 1) as many slots from there.
template <typename Activate>
void kmv_default_slots(int slots, int16_t force_first, int16_t force_count, Activate activate) {
  const int first = force_first < 0 ? 0 : force_first;
  const int end = force_count >= 1 ? first + force_count : first + 1;
  for (int m = first; m < end && m < slots; ++m) activate(m);
}

// Emulation numbers every slot whose active flag is set; with a forced count
// only that many from the first forced slot, all others made inactive.
template <typename ActiveFlag, typename Take>
void kmv_number_emulated(int slots, int16_t force_first, int16_t force_count, ActiveFlag flag, Take take) {
  if (force_count < 1) {
    for (int m = 0; m < slots; ++m)
      if (flag(m)) take(m);
    return;
  }
  for (int m = 0; m < slots; ++m) flag(m) = 0;
  int taken = 0;
  for (int m = force_first < 0 ? 0 : force_first; m < slots && taken < force_count; ++m, ++taken) {
    flag(m) = 1;
    take(m);
  }
}

// ---- PCI cards ----------------------------------------------------------------

// Register access of the cards: the driver's port accessors once KMV_init has
// installed them (they fail without a driver until then).
typedef int (*KMVReadPortFun)(QVPort port);
typedef WDStatus (*KMVWriteBytePortFun)(QVPort port, uint8_t value);
typedef WDStatus (*KMVWriteWordPortFun)(QVPort port, uint16_t value);
extern KMVReadPortFun rd_byte_fun;
extern KMVReadPortFun rd_word_fun;
extern KMVWriteBytePortFun wr_byte_fun;
extern KMVWriteWordPortFun wr_word_fun;

extern uint32_t plx_open_options;    // open options of the cards (ini "PLX_OPEN")
extern int cardNum[8];                // slot -> card index in the driver's count
extern WDDriverHandle orig_hWD;       // the driver handle at the last start
extern int kmv_bus_list[8];           // bus numbers holding cards, ascending
extern int kmv_bus_count;

// The platform code: 3 is the platform whose driver gives port access (the
// accessors are installed, and clean-up leaves the driver to close the cards).
extern int (*kmv_platform)(void);

bool kmv_emulated();
// Pointers kmv_data and kmv_priv_data to card m.
void kmv_select(int16_t m);
// One parameter of card m, once the caller has checked the card.
int16_t kmv_apply_parameter(int16_t m, int16_t par_id, int16_t send, float value);
// Starts card m from its ini record; takeover lets a card marked in use by
// another program be taken.
int16_t kmv_start_card(int16_t m, int16_t takeover);
// The in-use marker (bridge CNTRL bit 7) of an open card.
bool kmv_in_use_marker(int16_t m);
void kmv_set_in_use_marker(int16_t m, bool on);
// Closes card m's device (its marker left as it is) and forgets its identity.
void kmv_close_device(int16_t m);
// Keeps the PLX layer's last message as the driver text of KMV_WINDRV_ERR.
void kmv_keep_driver_message(const char *text);
