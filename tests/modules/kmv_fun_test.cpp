#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "modules/kmv_fun.h"
#include "modules/kmv_hard.h"

namespace {

// Saves the library's tables and puts them back after each test.
class Tables : public testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(usb_, kmvusb, sizeof usb_);
    std::memcpy(usb_mod_, kmvusb_mod, sizeof usb_mod_);
    std::memcpy(pci_, kmv, sizeof pci_);
    std::memcpy(pci_mod_, kmv_mod, sizeof pci_mod_);
    std::memcpy(err_string_, kmv_err_string, sizeof err_string_);
    scalars_ = {kmvusb_initialised, kmvusb_hardware, kmv_initialised, kmv_hardware, kmv_err};
    readers_ = {kmvusb_serial_reader, kmv_serial_reader};
    kmv_err = KMV_NONE;
    reads_ = 0;
  }
  void TearDown() override {
    std::memcpy(kmvusb, usb_, sizeof usb_);
    std::memcpy(kmvusb_mod, usb_mod_, sizeof usb_mod_);
    std::memcpy(kmv, pci_, sizeof pci_);
    std::memcpy(kmv_mod, pci_mod_, sizeof pci_mod_);
    std::memcpy(kmv_err_string, err_string_, sizeof err_string_);
    kmvusb_initialised = scalars_[0];
    kmvusb_hardware = scalars_[1];
    kmv_initialised = scalars_[2];
    kmv_hardware = scalars_[3];
    kmv_err = scalars_[4];
    kmvusb_serial_reader = readers_[0];
    kmv_serial_reader = readers_[1];
  }

  // A started USB module in slot m whose serial number is empty.
  static void start_usb_module(int16_t m) {
    kmvusb_initialised = 1;
    kmvusb_hardware = KMV_MODE_HARDWARE;
    kmvusb_mod[m] = KMVUSBModuleInfo{KMV_TYPE_USB, 7, 1, 0, {}};
  }
  static void start_card(int16_t m) {
    kmv_initialised = 1;
    kmv_hardware = KMV_MODE_HARDWARE;
    kmv_mod[m] = KMVModuleInfo{KMV_TYPE_PCI, 2, 5, 1, 0, 0x1234, {}};
  }

  static inline int reads_ = 0;
  static int16_t long_serial(int16_t, char *text, size_t size) {
    ++reads_;
    std::snprintf(text, size, "%s", "1234567890ABCDEF");
    return 0;
  }
  static int16_t failing_serial(int16_t, char *text, size_t size) {
    ++reads_;
    std::snprintf(text, size, "%s", "partial");
    return KMV_EEPROM_READ;
  }

  KMVUSBParameters usb_[KMVUSB_MAX_MODULES];
  KMVUSBModuleInfo usb_mod_[KMVUSB_MAX_MODULES];
  KMVParameters pci_[KMV_MAX_MODULES];
  KMVModuleInfo pci_mod_[KMV_MAX_MODULES];
  char err_string_[128];
  std::array<int16_t, 5> scalars_{};
  std::array<KMVSerialReader, 2> readers_{};
};

std::string error_text(int16_t code, int16_t maxlen = 200) {
  std::array<char, 256> buf;
  buf.fill('#');
  EXPECT_EQ(KMV_get_error_string(code, buf.data(), maxlen), 0);
  return buf.data();
}

TEST_F(Tables, EveryCodeHasItsText) {
  kmv_err_string[0] = '\0';
  struct Case {
    int16_t code;
    const char *text;
  };
  const Case cases[] = {
      {KMV_NONE, "no error"},
      {KMV_OPEN_FILE, "can't open configuration file"},
      {KMV_FILE_NVALID, "not valid configuration file"},
      {KMV_MEM_ALLOC, "memory allocation error"},
      {KMV_READ_STR, "can't read string from KMV configuration file"},
      {KMV_NO_ACT_MOD, "No active modules - nothing was initialized"},
      {KMV_MOD_NO, "Module number out of range"},
      {KMV_NOT_INIT, "KMV is not yet initialized or unknown module type"},
      {KMV_NOT_ACTIVE, "Can't execute function - module not active"},
      {KMV_IN_USE, "Cannot initialize - KMV module already in use"},
      {KMV_EEPROM_READ, "error during reading EEPROM"},
      {KMV_EEPROM_WRITE, "error during writing to EEPROM"},
      {KMV_EEP_CHKSUM, "wrong EEPROM checksum"},
      {KMV_EEP_WR_DIS, "write access to EEPROM denied"},
      {KMV_BAD_PAR_ID, "unknown KMV parameter id"},
      {KMV_BAD_PAR_VAL, "wrong KMV parameter value"},
      {KMV_WINDRV_ERR, "Error in WinDriver"},
      {KMV_ERR_ID, "Error ID is out of range"},
      {KMV_NO_USB_MOD, "no KMV-USB modules found"},
      {KMV_CONNECT_USB_MOD, "Cannot connect USB module"},
      {KMV_ERR_USB, "error during access to USB resource"},
      // the same by absolute value
      {24, "error during access to USB resource"},
      {6, "Module number out of range"},
      // no row, or beyond the table
      {-18, "Error ID is out of range"},
      {21, "Error ID is out of range"},
      {25, "Error ID is out of range"},
      {-25, "Error ID is out of range"},
      {-100, "Error ID is out of range"},
      {INT16_MIN, "Error ID is out of range"},
      {INT16_MAX, "Error ID is out of range"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(error_text(c.code), c.text);
  }
  EXPECT_EQ(kmv_err, KMV_NONE);
}

TEST_F(Tables, DriverErrorCarriesTheDriverMessage) {
  std::snprintf(kmv_err_string, sizeof kmv_err_string, "%s", "Cannot open WinDriver device");
  EXPECT_EQ(error_text(KMV_WINDRV_ERR), "WinDriver : Cannot open WinDriver device");
  EXPECT_EQ(error_text(16), "WinDriver : Cannot open WinDriver device");
  EXPECT_EQ(error_text(KMV_ERR_USB), "error during access to USB resource");
  kmv_err_string[0] = '\0';
  EXPECT_EQ(error_text(KMV_WINDRV_ERR), "Error in WinDriver");
}

TEST_F(Tables, ErrorTextIsBoundedAndTerminated) {
  // A driver message filling its whole buffer, without a terminator.
  std::memset(kmv_err_string, 'm', sizeof kmv_err_string);
  const std::string full = error_text(KMV_WINDRV_ERR);
  EXPECT_EQ(full, "WinDriver : " + std::string(128, 'm'));
  EXPECT_EQ(error_text(KMV_WINDRV_ERR, 12), "WinDriver :");
  EXPECT_EQ(error_text(KMV_NONE, 3), "no");
  EXPECT_EQ(error_text(KMV_NONE, 1), "");

  std::array<char, 4> buf{'#', '#', '#', '#'};
  EXPECT_EQ(KMV_get_error_string(KMV_NONE, buf.data(), 0), 0);
  EXPECT_EQ(KMV_get_error_string(KMV_NONE, buf.data(), -5), 0);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(KMV_get_error_string(KMV_NONE, nullptr, 100), 0);
}

TEST_F(Tables, ModuleInfoBeforeInit) {
  ASSERT_EQ(kmvusb_initialised, 0);
  ASSERT_EQ(kmv_initialised, 0);
  for (int16_t m = 0; m < KMVUSB_MAX_MODULES; ++m) {
    SCOPED_TRACE(m);
    KMVUSBModuleInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(KMVUSB_get_module_info(m, &info), 0);
    EXPECT_EQ(info.type, -1);
    EXPECT_EQ(info.port, 0);
    EXPECT_EQ(info.connected, 0);
    EXPECT_EQ(info.init_status, -1);
    EXPECT_EQ(std::string(info.serial_no, sizeof info.serial_no), std::string(12, '\0'));
    EXPECT_EQ(KMVUSB_test_if_active(m), 0);
  }
  for (int16_t m = 0; m < KMV_MAX_MODULES; ++m) {
    SCOPED_TRACE(m);
    KMVModuleInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(KMV_get_module_info(m, &info), 0);
    EXPECT_EQ(info.type, -1);
    EXPECT_EQ(info.pci_bus, -1);
    EXPECT_EQ(info.pci_slot, -1);
    EXPECT_EQ(info.in_use, 0);
    EXPECT_EQ(info.init_status, -1);
    EXPECT_EQ(info.card_ident, 0);
    EXPECT_EQ(std::string(info.serial_no, sizeof info.serial_no), std::string(12, '\0'));
  }
  EXPECT_EQ(KMVUSB_get_mode(), KMV_MODE_HARDWARE);
  EXPECT_EQ(KMV_get_mode(), KMV_MODE_HARDWARE);
  EXPECT_EQ(kmv_err, KMV_NONE);
}

TEST_F(Tables, ModuleNumbersOutsideTheRangeGiveMinusSix) {
  const int16_t usb_bad[] = {-1, 4, INT16_MIN, INT16_MAX};
  const int16_t pci_bad[] = {-1, 8, INT16_MIN, INT16_MAX};
  int16_t status = 99;
  KMVUSBModuleInfo usb_info{};
  KMVModuleInfo pci_info{};
  for (int16_t m : usb_bad) {
    SCOPED_TRACE(m);
    kmv_err = KMV_NONE;
    EXPECT_EQ(KMVUSB_test_if_active(m), KMV_MOD_NO);
    EXPECT_EQ(kmv_err, KMV_MOD_NO);
    kmv_err = KMV_NONE;
    EXPECT_EQ(KMVUSB_get_init_status(m, &status), KMV_MOD_NO);
    EXPECT_EQ(kmv_err, KMV_MOD_NO);
    kmv_err = KMV_NONE;
    EXPECT_EQ(KMVUSB_get_module_info(m, &usb_info), KMV_MOD_NO);
    EXPECT_EQ(kmv_err, KMV_MOD_NO);
    EXPECT_EQ(KMVUSBstd_test_if_active(m), KMV_MOD_NO);
    EXPECT_EQ(KMVUSBstd_get_init_status(m, &status), KMV_MOD_NO);
    EXPECT_EQ(KMVUSBstd_get_module_info(m, nullptr), KMV_MOD_NO);
  }
  for (int16_t m : pci_bad) {
    SCOPED_TRACE(m);
    kmv_err = KMV_NONE;
    EXPECT_EQ(KMV_test_if_active(m), KMV_MOD_NO);
    EXPECT_EQ(kmv_err, KMV_MOD_NO);
    kmv_err = KMV_NONE;
    EXPECT_EQ(KMV_get_init_status(m, &status), KMV_MOD_NO);
    EXPECT_EQ(kmv_err, KMV_MOD_NO);
    kmv_err = KMV_NONE;
    EXPECT_EQ(KMV_get_module_info(m, &pci_info), KMV_MOD_NO);
    EXPECT_EQ(kmv_err, KMV_MOD_NO);
    EXPECT_EQ(KMVstd_test_if_active(m), KMV_MOD_NO);
    EXPECT_EQ(KMVstd_get_init_status(m, &status), KMV_MOD_NO);
    EXPECT_EQ(KMVstd_get_module_info(m, nullptr), KMV_MOD_NO);
  }
  EXPECT_EQ(status, 99);
  // The last slot of each family is in range.
  EXPECT_EQ(KMVUSB_get_init_status(3, nullptr), 0);
  EXPECT_EQ(KMV_get_init_status(7, nullptr), 0);
}

TEST_F(Tables, ReadCallsReportTheTables) {
  kmvusb[2].active = 1;
  kmvusb_mod[2].init_status = -4;
  kmv[5].active = 1;
  kmv_mod[5].init_status = -3;
  kmvusb_hardware = KMVUSB_MODE_EMULATION;
  kmv_hardware = KMV_MODE_EMULATION;
  int16_t status = 0;
  EXPECT_EQ(KMVUSB_test_if_active(2), 1);
  EXPECT_EQ(KMVUSBstd_test_if_active(2), 1);
  EXPECT_EQ(KMVUSB_get_init_status(2, &status), 0);
  EXPECT_EQ(status, -4);
  EXPECT_EQ(KMV_test_if_active(5), 1);
  EXPECT_EQ(KMV_get_init_status(5, &status), 0);
  EXPECT_EQ(status, -3);
  EXPECT_EQ(KMVstd_get_init_status(5, &status), 0);
  EXPECT_EQ(KMVUSB_get_mode(), 200);
  EXPECT_EQ(KMVUSBstd_get_mode(), 200);
  EXPECT_EQ(KMV_get_mode(), 100);
  EXPECT_EQ(KMVstd_get_mode(), 100);
  std::array<char, 64> buf{};
  EXPECT_EQ(KMVstd_get_error_string(-8, buf.data(), 64), 0);
  EXPECT_STREQ(buf.data(), "Can't execute function - module not active");
}

TEST_F(Tables, UsbModuleInfoReReadsAnEmptySerialNumber) {
  start_usb_module(1);
  kmvusb_serial_reader = long_serial;
  KMVUSBModuleInfo info{};
  EXPECT_EQ(KMVUSB_get_module_info(1, &info), 0);
  EXPECT_EQ(reads_, 1);
  EXPECT_STREQ(info.serial_no, "1234567890A");  // the first 11 characters
  EXPECT_STREQ(kmvusb_mod[1].serial_no, "1234567890A");
  EXPECT_EQ(info.type, KMV_TYPE_USB);
  EXPECT_EQ(info.port, 7);
  // Kept: no second read.
  EXPECT_EQ(KMVUSB_get_module_info(1, &info), 0);
  EXPECT_EQ(reads_, 1);
}

TEST_F(Tables, UsbModuleInfoReadsOnlyForAStartedConnectedModuleInHardware) {
  kmvusb_serial_reader = long_serial;
  struct Case {
    const char *name;
    void (*change)();
  };
  const Case cases[] = {
      {"emulation", [] { kmvusb_hardware = KMVUSB_MODE_EMULATION; }},
      {"no module", [] { kmvusb_mod[0].type = KMV_TYPE_NONE; }},
      {"start failed", [] { kmvusb_mod[0].init_status = -2; }},
      {"not connected", [] { kmvusb_mod[0].connected = 0; }},
      {"serial known", [] { std::snprintf(kmvusb_mod[0].serial_no, 12, "%s", "0042"); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    start_usb_module(0);
    c.change();
    const KMVUSBModuleInfo before = kmvusb_mod[0];
    KMVUSBModuleInfo info{};
    reads_ = 0;
    EXPECT_EQ(KMVUSB_get_module_info(0, &info), 0);
    EXPECT_EQ(reads_, 0);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
  }
}

TEST_F(Tables, FailedSerialReadLeavesItEmpty) {
  start_usb_module(3);
  start_card(6);
  kmvusb_serial_reader = failing_serial;
  kmv_serial_reader = failing_serial;
  KMVUSBModuleInfo usb{};
  KMVModuleInfo pci{};
  EXPECT_EQ(KMVUSB_get_module_info(3, &usb), 0);
  EXPECT_EQ(KMV_get_module_info(6, &pci), 0);
  EXPECT_EQ(reads_, 2);
  EXPECT_STREQ(usb.serial_no, "");
  EXPECT_STREQ(pci.serial_no, "");
  // The default readers: with no module EEPROM (and no card access) to read they fail the same way.
  kmvusb_serial_reader = readers_[0];
  kmv_serial_reader = readers_[1];
  EXPECT_EQ(KMVUSB_get_module_info(3, &usb), 0);
  EXPECT_EQ(KMV_get_module_info(6, &pci), 0);
  EXPECT_STREQ(usb.serial_no, "");
  EXPECT_STREQ(pci.serial_no, "");
}

TEST_F(Tables, CardInfoReadsTheSerialOfACountedCard) {
  kmv_serial_reader = long_serial;
  start_card(4);
  kmv_mod[4].card_ident = 0;  // not counted: no read
  KMVModuleInfo info{};
  EXPECT_EQ(KMV_get_module_info(4, &info), 0);
  EXPECT_EQ(reads_, 0);
  start_card(4);
  EXPECT_EQ(KMVstd_get_module_info(4, &info), 0);
  EXPECT_EQ(reads_, 1);
  EXPECT_STREQ(info.serial_no, "1234567890A");
  EXPECT_EQ(info.pci_bus, 2);
  EXPECT_EQ(info.pci_slot, 5);
  EXPECT_EQ(info.card_ident, 0x1234);
}

TEST(Records, ExchangedLayouts) {
  // Every field where the exchange format puts it, in both builds.
  EXPECT_EQ(offsetof(KMVUSBConnectorParameters, M5V), 2u);
  EXPECT_EQ(offsetof(KMVUSBConnectorParameters, P12V), 4u);
  EXPECT_EQ(offsetof(KMVUSBConnectorParameters, COOLING), 6u);
  EXPECT_EQ(offsetof(KMVUSBConnectorParameters, COOLVOLT), 12u);
  EXPECT_EQ(offsetof(KMVUSBConnectorParameters, COOLCURR), 16u);
  EXPECT_EQ(offsetof(KMVUSBParameters, connector) + 3 * sizeof(KMVUSBConnectorParameters), 60u);
  EXPECT_EQ(offsetof(KMVUSBModuleInfo, port), 2u);
  EXPECT_EQ(offsetof(KMVUSBModuleInfo, connected), 4u);
  EXPECT_EQ(offsetof(KMVUSBModulePrivate, ftdi_index), 6u);
  EXPECT_EQ(offsetof(KMVUSBModulePrivate, overload_latch), 10u);
  EXPECT_EQ(offsetof(KMVUSBModulePrivate, curr_lmt), 12u);
  EXPECT_EQ(offsetof(KMVUSBModulePrivate, hv_limit), 14u);
  EXPECT_EQ(offsetof(KMVParameters, C1_P12V), 12u);
  EXPECT_EQ(offsetof(KMVParameters, C2_DIGOUT), 20u);
  EXPECT_EQ(offsetof(KMVParameters, C3_P12V), 26u);
  EXPECT_EQ(offsetof(KMVParameters, C3_COOLCURR), 32u);
  EXPECT_EQ(offsetof(KMVParameters, C3_GAIN_HV), 36u);
  EXPECT_EQ(offsetof(KMVModuleInfo, pci_slot), 4u);
  EXPECT_EQ(offsetof(KMVModuleInfo, in_use), 6u);
  EXPECT_EQ(offsetof(KMVModuleInfo, init_status), 8u);
  EXPECT_EQ(sizeof(KMVModulePrivate), sizeof(void *) == 8 ? 62u : 38u);
  EXPECT_EQ(sizeof kmvusb_eep_buffer, 2048u);
  EXPECT_EQ(sizeof kmv_eep_buffer, 128u);
}

}  // namespace
