#pragma once
// Module control library: KMVUSB_* for up to four KMV-USB modules, KMV_* for
// up to eight KMV-100 PCI cards. Result codes and texts, the module tables,
// the mode words and the calls that only read the tables.
#include <cstddef>
#include <cstdint>

#include "pci/wd_types.h"

// ---- result codes --------------------------------------------------------

// Every call returns 0 or one of these negative codes; most also keep their
// failure in kmv_err.
typedef int16_t KMVErrorCode;
enum : KMVErrorCode {
  KMV_NONE = 0,
  KMV_OPEN_FILE = -1,
  KMV_FILE_NVALID = -2,
  KMV_MEM_ALLOC = -3,
  KMV_READ_STR = -4,
  KMV_NO_ACT_MOD = -5,
  KMV_MOD_NO = -6,
  KMV_NOT_INIT = -7,
  KMV_NOT_ACTIVE = -8,
  KMV_IN_USE = -9,
  KMV_EEPROM_READ = -10,
  KMV_EEPROM_WRITE = -11,
  KMV_EEP_CHKSUM = -12,
  KMV_EEP_WR_DIS = -13,
  KMV_BAD_PAR_ID = -14,
  KMV_BAD_PAR_VAL = -15,
  KMV_WINDRV_ERR = -16,
  KMV_ERR_ID = -17,
  KMV_NO_USB_MOD = -22,
  KMV_CONNECT_USB_MOD = -23,
  KMV_ERR_USB = -24,
};

// A module parameter: the index of its key in the module's ini section
// (USB 1..29, PCI 2..16; 0 is the active key).
typedef int16_t KMVParameterId;

// USB: connector c (0..3) has the ids 7c + 1 .. 7c + 7 in this order; the
// digital-output byte is 29.
enum : KMVParameterId {
  KMVUSB_PAR_P5V = 1,
  KMVUSB_PAR_M5V = 2,
  KMVUSB_PAR_P12V = 3,
  KMVUSB_PAR_GAIN_HV = 4,
  KMVUSB_PAR_COOLING = 5,
  KMVUSB_PAR_COOLVOLT = 6,
  KMVUSB_PAR_COOLCURR = 7,
  KMVUSB_PAR_DIGOUT = 29,
};

// ---- numbering, types, modes ---------------------------------------------

constexpr int KMVUSB_MAX_MODULES = 4;
constexpr int KMV_MAX_MODULES = 8;
constexpr int KMVUSB_EEP_SIZE = 512;  // EEPROM image per USB module
constexpr int KMV_EEP_SIZE = 128;     // EEPROM image of one PCI card
constexpr int KMVUSB_EEP_BLOCK = 49;    // USB adjust block at EEPROM address 0, check byte last
constexpr int KMVUSB_LIMIT_ADDR = 100;  // USB gain-limit block: four limits and a check byte
constexpr int KMVUSB_LIMIT_BLOCK = 5;
constexpr int16_t KMVUSB_ACCESS_CODE = 8365;  // needed to write identification data

// Module type of a slot.
enum : int16_t { KMV_TYPE_NONE = -1, KMV_TYPE_PCI = 100, KMV_TYPE_USB = 200 };
// Mode words: 0 hardware; in emulation no device is touched.
enum : int16_t { KMV_MODE_HARDWARE = 0, KMV_MODE_EMULATION = 100, KMVUSB_MODE_EMULATION = 200 };

// ---- records (packed: their sizes are the exchange format) ----------------

#pragma pack(push, 1)

struct KMVUSBConnectorParameters {
  int16_t P5V;      // +5 V supply, 0 off, 1 on
  int16_t M5V;      // -5 V supply
  int16_t P12V;     // +12 V supply
  int16_t COOLING;  // cooler switch
  float GAIN_HV;    // gain high voltage in percent, 0 to the connector's limit
  float COOLVOLT;   // cooler voltage, 0..5 V
  float COOLCURR;   // cooler current limit, 0..2 A
};

struct KMVUSBParameters {
  KMVUSBConnectorParameters connector[4];
  int16_t DIGOUT;  // digital-output byte, 0..255
  int16_t active;  // 1 = the module takes part
};

struct KMVUSBModuleInfo {
  int16_t type;         // KMV_TYPE_USB or KMV_TYPE_NONE
  int16_t port;         // port number from the USB-module manager; emulation: module + 10
  int16_t connected;    // 1 while the device is open
  int16_t init_status;
  char serial_no[12];   // at most 11 characters
};

struct KMVUSBModulePrivate {
  int16_t setup_active;    // active value read from the ini file, or 1
  int32_t device_no;       // device number for the USB-module manager, -1 none
  int32_t ftdi_index;      // device index for the register layer, -1 none
  int16_t overload_latch;  // bit c: connector c latched in overload
  int16_t curr_lmt;        // bit c: connector c in current limit
  int16_t hv_limit[4];     // gain limit per connector in percent
  int16_t enabled;         // bit c: outputs of connector c; bit 4: digital outputs
};

struct KMVUSBEepromData {
  char module_name[16];
  char serial_no[16];
  char date[16];
};

struct KMVParameters {
  int16_t card_ident;  // identity of the open card in hardware, else 0
  int16_t active;
  int16_t C1_P5V;
  int16_t C1_M5V;
  float C1_GAIN_HV;
  int16_t C1_P12V;
  int16_t C2_P5V;
  int16_t C2_M5V;
  int16_t C2_P12V;
  int16_t C2_DIGOUT;
  int16_t C3_P5V;
  int16_t C3_M5V;
  int16_t C3_P12V;
  float C3_COOLVOLT;
  float C3_COOLCURR;
  float C3_GAIN_HV;
  int16_t C3_COOLING;
};

struct KMVModuleInfo {
  int16_t type;  // KMV_TYPE_PCI or KMV_TYPE_NONE
  int16_t pci_bus;
  int16_t pci_slot;  // emulation: module + 10
  int16_t in_use;
  int16_t init_status;
  int16_t card_ident;  // non-zero once the card was counted
  char serial_no[12];
};

struct KMVEepromData {
  char serial_no[12];
  char date[12];  // "dd.mm.yyyy"
};

// Addresses and handles are pointer-wide: 64 bits with the 64-bit driver interface.
struct KMVModulePrivate {
  int16_t pci_bus_no;  // -1 any bus
  int16_t setup_active;
  uintptr_t base_addr;
  uintptr_t ctrl_addr;
  uintptr_t dac_a_addr;
  uintptr_t dac_b_addr;
  WDCDeviceHandle device;
  WDDriverHandle driver_handle;  // -1 none
  int16_t overload_latch;        // bit 0 connector 1, bit 1 connector 3
  int16_t curr_lmt;              // connector 3
  int16_t hv_limit_c1;
  int16_t hv_limit_c3;
  int16_t outputs_enabled;
};

#pragma pack(pop)

static_assert(sizeof(KMVUSBConnectorParameters) == 20);
static_assert(offsetof(KMVUSBConnectorParameters, GAIN_HV) == 8);
static_assert(sizeof(KMVUSBParameters) == 84);
static_assert(offsetof(KMVUSBParameters, DIGOUT) == 80 && offsetof(KMVUSBParameters, active) == 82);
static_assert(sizeof(KMVUSBModuleInfo) == 20);
static_assert(offsetof(KMVUSBModuleInfo, init_status) == 6 && offsetof(KMVUSBModuleInfo, serial_no) == 8);
static_assert(sizeof(KMVUSBModulePrivate) == 24);
static_assert(offsetof(KMVUSBModulePrivate, device_no) == 2 && offsetof(KMVUSBModulePrivate, enabled) == 22);
static_assert(sizeof(KMVUSBEepromData) == 48);
static_assert(offsetof(KMVUSBEepromData, serial_no) == 16 && offsetof(KMVUSBEepromData, date) == 32);
static_assert(sizeof(KMVParameters) == 42);
static_assert(offsetof(KMVParameters, C1_GAIN_HV) == 8 && offsetof(KMVParameters, C3_COOLVOLT) == 28 &&
              offsetof(KMVParameters, C3_COOLING) == 40);
static_assert(sizeof(KMVModuleInfo) == 24);
static_assert(offsetof(KMVModuleInfo, card_ident) == 10 && offsetof(KMVModuleInfo, serial_no) == 12);
static_assert(sizeof(KMVEepromData) == 24);
static_assert(offsetof(KMVEepromData, date) == 12);
static_assert(sizeof(KMVModulePrivate) == 4 + 6 * sizeof(void *) + 10);
static_assert(offsetof(KMVModulePrivate, device) == 4 + 4 * sizeof(void *) &&
              offsetof(KMVModulePrivate, overload_latch) == 4 + 6 * sizeof(void *));

// ---- tables and scalars (the library owns them) ----------------------------

extern KMVUSBParameters kmvusb[KMVUSB_MAX_MODULES];       // current settings
extern KMVUSBParameters kmvusb_orig[KMVUSB_MAX_MODULES];  // as read from the ini file
extern KMVUSBModuleInfo kmvusb_mod[KMVUSB_MAX_MODULES];
extern KMVUSBModuleInfo orig_kmvusb_mod[KMVUSB_MAX_MODULES];  // after the scan and each start
extern KMVUSBModulePrivate kmvusb_priv[KMVUSB_MAX_MODULES];
extern KMVUSBModulePrivate kmvusb_priv_orig[KMVUSB_MAX_MODULES];
extern uint8_t kmvusb_eep_buffer[KMVUSB_MAX_MODULES * KMVUSB_EEP_SIZE];  // module m at 512 * m
extern int16_t trqeep_valid[KMVUSB_MAX_MODULES];
extern int16_t trqlim_valid[KMVUSB_MAX_MODULES];
extern int16_t sim_ovld_cnt[8];  // emulation call counters, one per slot
extern int16_t sim_curr_cnt[8];
extern uint8_t trqlim_buffer[KMVUSB_MAX_MODULES][KMVUSB_LIMIT_BLOCK];  // limit block images

// (offset, length) of the identification fields in the USB adjust block.
struct KMVEepField {
  int16_t offset;
  int16_t length;
};
extern const KMVEepField kmvusb_eep_par[3];  // module_name, serial_no, date

extern KMVParameters kmv[KMV_MAX_MODULES];
extern KMVParameters kmv_orig[KMV_MAX_MODULES];
extern KMVModuleInfo kmv_mod[KMV_MAX_MODULES];
extern KMVModuleInfo orig_kmv_mod[KMV_MAX_MODULES];
extern KMVModulePrivate kmv_priv[KMV_MAX_MODULES];
extern KMVModulePrivate kmv_priv_orig[KMV_MAX_MODULES];
extern uint8_t kmv_eep_buffer[KMV_EEP_SIZE];

extern int16_t kmvusb_hardware;  // 0 hardware, 200 emulation
extern int16_t no_of_kmvusb_modules;
extern int16_t orig_no_of_kmvusb_modules;
extern int16_t kmvusb_active_count;
extern int16_t kmvusb_initialised;  // 0 not started, 1 hardware, -1 emulation
extern int16_t kmvusb_opened;
extern int16_t kmvusb_force_mode_word;  // -1 not forced
extern int16_t kmvusb_force_count;      // 0 not forced
extern int16_t kmvusb_force_first;      // -1 not forced
extern KMVUSBParameters *kmvusb_data;   // the module addressed by a parameter call
extern KMVUSBModulePrivate *kmvusb_priv_data;

extern int16_t kmv_hardware;  // 0 hardware, 100 emulation
extern int16_t no_of_kmv_modules;
extern int16_t orig_no_of_kmv_modules;
extern int16_t kmv_active_count;
extern int16_t kmv_initialised;
extern int16_t kmv_opened;
extern int16_t kmv_force_mode_word;
extern int16_t kmv_force_count;
extern int16_t kmv_force_first;
extern KMVParameters *kmv_data;
extern KMVModulePrivate *kmv_priv_data;

extern int16_t kmv_err;              // the last failure
extern char kmv_err_string[128];     // the last driver message, for KMV_WINDRV_ERR

// ---- calls -----------------------------------------------------------------
// Module numbers: USB 0..3, PCI 0..7; outside the range KMV_MOD_NO (kept in kmv_err).

// The module's active field (0 or 1).
int16_t KMVUSB_test_if_active(int16_t module);
int16_t KMV_test_if_active(int16_t module);

// 0, and *status = the slot's init_status when status is not null.
int16_t KMVUSB_get_init_status(int16_t module, int16_t *status);
int16_t KMV_get_init_status(int16_t module, int16_t *status);

// Copies the slot record (type -1 and init_status -1 before the library was
// started); in hardware an empty serial number of a started module is read
// again first.
int16_t KMVUSB_get_module_info(int16_t module, KMVUSBModuleInfo *info);
int16_t KMV_get_module_info(int16_t module, KMVModuleInfo *info);

// The mode word.
int16_t KMVUSB_get_mode(void);
int16_t KMV_get_mode(void);

// Text of a result code (by its absolute value; unknown codes give the
// KMV_ERR_ID text) into buf of maxlen bytes, always terminated; for
// KMV_WINDRV_ERR with a driver message "WinDriver : " and that message.
// Always 0.
int16_t KMV_get_error_string(int16_t code, char *buf, int16_t maxlen);

// ---- USB modules: start ---------------------------------------------------

// Fixes mode, module count and first module (counted from 1) for the next
// KMVUSB_init; mode -1, count < 1 and first 0 mean not forced.
void KMVUSB_force_mode(int16_t mode, int16_t count, int16_t first);
// Starts the USB modules from the ini file (or forced or default values when
// ini_path is null or empty): the last module start's result, KMV_NO_ACT_MOD
// when no module runs, KMV_OPEN_FILE, or the file check's own result.
int16_t KMVUSB_init(const char *ini_path);
// Serial text (the 16-byte EEPROM field; text holds 17 bytes), the number in
// it from its third character, and the variant of module k (1 or 2 by "-1" or
// "-2" in the module name, else 0; variant may be null). 0, -1 for a null
// text, or the EEPROM read's result.
int16_t get_kmvusb_serial_number(int16_t k, uint32_t *number, char *text, int32_t *variant);

// ---- USB modules: parameters -----------------------------------------------
// Send flag: 0 store only; 3 store and update the cached register only; any
// other value writes to the module. Cooler values are written whatever the flag.

int16_t KMVUSB_set_parameter(int16_t module, int16_t par_id, int16_t send, float value);  // module -1 = every active
int16_t KMVUSB_set_parameters(int16_t module, int16_t send, const KMVUSBParameters *rec);
// One connector's seven parameters (connector 4: the digital-output byte).
int16_t setusb_parameters(int16_t module, int16_t connector, int16_t send, const KMVUSBParameters *rec);
int16_t KMVUSB_get_parameters(int16_t module, KMVUSBParameters *out);
int16_t KMVUSB_get_parameter(int16_t module, int16_t par_id, float *value);

// ---- USB modules: outputs, states, mode, reconnect ---------------------------

// Connector -1 = all and the digital outputs, 4 = the digital outputs only.
int16_t KMVUSB_enable_outputs(int16_t module, int16_t connector, int16_t enable);
int16_t KMVUSB_clear_overload(int16_t module, int16_t connector);
// *state: bit c = connector c in overload / at its cooler current limit.
int16_t KMVUSB_get_overload_state(int16_t module, int16_t *state);
int16_t KMVUSB_get_curr_lmt_state(int16_t module, int16_t *state);
// Switches between hardware (0) and emulation (200); flags[j] asks module j
// to run. The mode on success, KMV_NOT_INIT before KMVUSB_init.
int16_t KMVUSB_set_mode(int16_t mode, const int16_t flags[4]);
// Reopens a module whose USB link was lost; the caller sends its enables and
// parameters again. 0 or KMV_CONNECT_USB_MOD.
int16_t KMVUSB_reconnect(int16_t module);
// Switches outputs off (connector -1: everything), coolers too when asked.
// Every write is tried; KMV_ERR_USB when any failed.
int16_t disable_outputs_usb(int16_t module, int16_t connector, int16_t with_coolers);

// ---- USB modules: EEPROM adjust data and gain limits -------------------------

int16_t KMVUSB_get_eeprom_data(int16_t module, KMVUSBEepromData *data);
// Needs the access code; each text is cut to 15 characters.
int16_t KMVUSB_write_eeprom_data(int16_t module, int16_t access_code, KMVUSBEepromData *data);
int16_t KMVUSB_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
// *limit (0..255) becomes the connector's gain limit; the stored gain is
// applied again within it. On return *limit is the limit in force.
int16_t KMVUSB_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
// The adjust block into image (reread, or when the cached one is not valid)
// and its check.
int16_t load_kmvusb_adjust_para_from_eeprom(int16_t module, char *image, int16_t reread);
int16_t save_kmvusb_adjust_para_in_eeprom(int16_t module, char *image);
int16_t getusb_limit(int16_t module, int16_t connector, int16_t *limit);
int16_t setusb_limit(int16_t module, int16_t connector, int16_t *limit);

// ---- USB modules: close --------------------------------------------------------

// Outputs of every connected module off, devices released, library not
// started: 1 when it was never opened, else 2.
int16_t KMVUSB_close(void);
// Outputs of every connected module off and its device released; safe to
// call repeatedly.
void kmvusb_cleanup(void);

// ---- PCI cards (KMV-100): start ------------------------------------------------

// PCI parameter ids (the keys' positions in a KMV_MODULEn section).
enum : KMVParameterId {
  KMV_PAR_C1_P5V = 2,
  KMV_PAR_C1_M5V = 3,
  KMV_PAR_C1_P12V = 4,
  KMV_PAR_C1_GAIN_HV = 5,
  KMV_PAR_C2_P5V = 6,
  KMV_PAR_C2_M5V = 7,
  KMV_PAR_C2_P12V = 8,
  KMV_PAR_C2_DIGOUT = 9,
  KMV_PAR_C3_COOLING = 10,
  KMV_PAR_C3_COOLVOLT = 11,
  KMV_PAR_C3_COOLCURR = 12,
  KMV_PAR_C3_GAIN_HV = 13,
  KMV_PAR_C3_P5V = 14,
  KMV_PAR_C3_M5V = 15,
  KMV_PAR_C3_P12V = 16,
};
constexpr int16_t KMV_ACCESS_CODE = 8365;
constexpr int KMV_EEP_BLOCK = 25;        // adjust block at byte 102: serial, date, check byte
constexpr int KMV_EEP_BLOCK_ADDR = 102;
constexpr int KMV_LIMIT_ADDR = 100;      // the two gain limits; their check byte is byte 127
extern const KMVEepField kmv_eep_par[2];  // serial_no, date within the adjust block

// Mode 0 hardware or 100 emulation, card count and first card (from 1) for
// the next KMV_init.
void KMV_force_mode(int16_t mode, int16_t count, int16_t first);
// Starts the cards from the ini file (or forced or default values): the last
// card start's result, KMV_NO_ACT_MOD when no card runs, KMV_OPEN_FILE, the
// file check's result, or KMV_WINDRV_ERR when a card cannot be opened.
int16_t KMV_init(const char *ini_path);
// The serial text of card m (text holds 13 bytes) and the number in it from
// its third character: 1, or KMV_EEPROM_READ / KMV_WINDRV_ERR.
int16_t get_kmv_serial_number(int16_t m, uint32_t *number, char *text);

// ---- PCI cards: parameters, outputs, states, mode, close -----------------------

// Nothing is sent in emulation or with send 0.
int16_t KMV_set_parameter(int16_t module, int16_t par_id, int16_t send, float value);  // module -1 = every active
int16_t KMV_set_parameters(int16_t module, int16_t send, const KMVParameters *rec);
int16_t KMV_get_parameters(int16_t module, KMVParameters *out);
int16_t KMV_get_parameter(int16_t module, int16_t par_id, float *value);
int16_t KMV_enable_outputs(int16_t module, int16_t enable);  // module -1 = every active
int16_t KMV_clear_overload(int16_t module);                  // module -1 = every active
// *state: bit 0 connector 1, bit 1 connector 3 in overload / 1 at the cooler current limit.
int16_t KMV_get_overload_state(int16_t module, int16_t *state);
int16_t KMV_get_curr_lmt_state(int16_t module, int16_t *state);
// Switches between hardware (0) and emulation (100); flags[j] asks card j to
// run; takeover lets a card marked in use by another program be taken.
int16_t KMV_set_mode(int16_t mode, int16_t takeover, const int16_t flags[8]);
// Outputs of every card in use off, markers cleared, cards closed: 1 when
// never opened, else 2.
int16_t KMV_close(void);
void kmv_cleanup(void);
// Every supply off, digital outputs 0, overload reset pulsed; the cooler too
// when asked, else its switch is kept.
void disable_outputs(int16_t module, int16_t with_cooler);

// ---- PCI cards: EEPROM adjust data and gain limits ------------------------------
// Connector 0 is connector 1, connector 1 is connector 3.

int16_t KMV_get_eeprom_data(int16_t module, KMVEepromData *data);
int16_t KMV_write_eeprom_data(int16_t module, int16_t access_code, KMVEepromData *data);
int16_t KMV_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
int16_t KMV_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
// The adjust block into image (26 bytes: the block and the limits' check byte).
int16_t load_kmv_adjust_para_from_eeprom(int16_t module, char *image);
int16_t save_kmv_adjust_para_in_eeprom(int16_t module, char *image);
int16_t get_limit(int16_t module, int16_t connector, int16_t *limit);
int16_t set_limit(int16_t module, int16_t connector, int16_t *limit);

// ---- standard-call twins: the same calls with the callee-cleans convention
// of the 32-bit build, results widened to 32 bits -----------------------------

#if defined(__i386__)
#define KMV_STDCALL __attribute__((stdcall))
#else
#define KMV_STDCALL
#endif

int32_t KMV_STDCALL KMVUSBstd_test_if_active(int16_t module);
int32_t KMV_STDCALL KMVUSBstd_get_init_status(int16_t module, int16_t *status);
int32_t KMV_STDCALL KMVUSBstd_get_module_info(int16_t module, KMVUSBModuleInfo *info);
int32_t KMV_STDCALL KMVUSBstd_get_mode(void);
int32_t KMV_STDCALL KMVUSBstd_init(const char *ini_path);
int32_t KMV_STDCALL KMVUSBstd_set_parameters(int16_t module, int16_t send, const KMVUSBParameters *rec);
int32_t KMV_STDCALL KMVUSBstd_set_parameter(int16_t module, int16_t par_id, int16_t send, float value);
int32_t KMV_STDCALL KMVUSBstd_get_parameters(int16_t module, KMVUSBParameters *out);
int32_t KMV_STDCALL KMVUSBstd_get_parameter(int16_t module, int16_t par_id, float *value);
int32_t KMV_STDCALL KMVUSBstd_enable_outputs(int16_t module, int16_t connector, int16_t enable);
int32_t KMV_STDCALL KMVUSBstd_clear_overload(int16_t module, int16_t connector);
int32_t KMV_STDCALL KMVUSBstd_get_overload_state(int16_t module, int16_t *state);
int32_t KMV_STDCALL KMVUSBstd_get_curr_lmt_state(int16_t module, int16_t *state);
int32_t KMV_STDCALL KMVUSBstd_set_mode(int16_t mode, const int16_t flags[4]);
int32_t KMV_STDCALL KMVUSBstd_get_eeprom_data(int16_t module, KMVUSBEepromData *data);
int32_t KMV_STDCALL KMVUSBstd_write_eeprom_data(int16_t module, int16_t access_code, KMVUSBEepromData *data);
int32_t KMV_STDCALL KMVUSBstd_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
int32_t KMV_STDCALL KMVUSBstd_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
int32_t KMV_STDCALL KMVUSBstd_close(void);
int32_t KMV_STDCALL KMVUSBstd_reconnect(int16_t module);

int32_t KMV_STDCALL KMVstd_test_if_active(int16_t module);
int32_t KMV_STDCALL KMVstd_get_init_status(int16_t module, int16_t *status);
int32_t KMV_STDCALL KMVstd_get_module_info(int16_t module, KMVModuleInfo *info);
int32_t KMV_STDCALL KMVstd_get_mode(void);
int32_t KMV_STDCALL KMVstd_get_error_string(int16_t code, char *buf, int16_t maxlen);
int32_t KMV_STDCALL KMVstd_init(const char *ini_path);
int32_t KMV_STDCALL KMVstd_set_parameters(int16_t module, int16_t send, const KMVParameters *rec);
int32_t KMV_STDCALL KMVstd_set_parameter(int16_t module, int16_t par_id, int16_t send, float value);
int32_t KMV_STDCALL KMVstd_get_parameters(int16_t module, KMVParameters *out);
int32_t KMV_STDCALL KMVstd_get_parameter(int16_t module, int16_t par_id, float *value);
int32_t KMV_STDCALL KMVstd_enable_outputs(int16_t module, int16_t enable);
int32_t KMV_STDCALL KMVstd_clear_overload(int16_t module);
int32_t KMV_STDCALL KMVstd_get_overload_state(int16_t module, int16_t *state);
int32_t KMV_STDCALL KMVstd_get_curr_lmt_state(int16_t module, int16_t *state);
int32_t KMV_STDCALL KMVstd_set_mode(int16_t mode, int16_t takeover, const int16_t flags[8]);
int32_t KMV_STDCALL KMVstd_get_eeprom_data(int16_t module, KMVEepromData *data);
int32_t KMV_STDCALL KMVstd_write_eeprom_data(int16_t module, int16_t access_code, KMVEepromData *data);
int32_t KMV_STDCALL KMVstd_get_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
int32_t KMV_STDCALL KMVstd_set_gain_HV_limit(int16_t module, int16_t connector, int16_t *limit);
int32_t KMV_STDCALL KMVstd_close(void);
