#pragma once
// D2XX-shaped FTDI device access: the calls the module library makes, with
// D2XX's status numbers and rules. The devices behind it come from a backend
// chosen at run time (platform/d2xx/backend.h): libftdi1 for real devices, the
// simulated bus of sim/, or none (no devices; the program runs in emulation).
#include <cstddef>
#include <cstdint>

typedef void *FT_HANDLE;
typedef uint32_t FT_STATUS;
typedef uint32_t DWORD;
typedef uint8_t UCHAR;
typedef int32_t LONG;
typedef uint32_t FT_DEVICE;
typedef uint16_t WORD;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_INVALID_BAUD_RATE = 7,
  FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
  FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
  FT_FAILED_TO_WRITE_DEVICE = 10,
  FT_EEPROM_READ_FAILED = 11,
  FT_EEPROM_WRITE_FAILED = 12,
  FT_EEPROM_ERASE_FAILED = 13,
  FT_EEPROM_NOT_PRESENT = 14,
  FT_EEPROM_NOT_PROGRAMMED = 15,
  FT_INVALID_ARGS = 16,
  FT_NOT_SUPPORTED = 17,
  FT_OTHER_ERROR = 18,
};

// Chip types as D2XX numbers them.
enum : FT_DEVICE {
  FT_DEVICE_BM = 0,
  FT_DEVICE_AM = 1,
  FT_DEVICE_100AX = 2,
  FT_DEVICE_UNKNOWN = 3,
  FT_DEVICE_2232C = 4,
  FT_DEVICE_232R = 5,
  FT_DEVICE_2232H = 6,
  FT_DEVICE_4232H = 7,
  FT_DEVICE_232H = 8,
  FT_DEVICE_X_SERIES = 9,
};

// Flags of a device-list entry.
enum : DWORD { FT_FLAGS_OPENED = 1, FT_FLAGS_HISPEED = 2 };

// FT_Purge masks.
enum : DWORD { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };

// FT_SetBitMode modes.
enum : UCHAR { FT_BITMODE_RESET = 0x00, FT_BITMODE_ASYNC_BITBANG = 0x01, FT_BITMODE_MPSSE = 0x02 };

// One entry of the device list. A device held by another process shows its
// flags only; every other field is zero.
struct FT_DEVICE_LIST_INFO_NODE {
  DWORD Flags;
  DWORD Type;
  DWORD ID;  // vendor << 16 | product
  DWORD LocId;
  char SerialNumber[16];
  char Description[64];
  FT_HANDLE ftHandle;  // our handle when this process holds the device open
};
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, SerialNumber) == 16);
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, Description) == 32);
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, ftHandle) == 96);
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == (sizeof(void *) == 4 ? 100 : 104));

// Takes a fresh snapshot of the attached devices; *count = entries.
FT_STATUS FT_CreateDeviceInfoList(DWORD *count);
// Copies the snapshot into list (room for *count entries, as the last
// FT_CreateDeviceInfoList gave); *count = entries copied.
FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *list, DWORD *count);
// One snapshot entry; serial holds 16 and description 64 characters.
// FT_DEVICE_NOT_FOUND for an index beyond the snapshot.
FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD *flags, DWORD *type, DWORD *id, DWORD *loc_id, void *serial,
                                 void *description, FT_HANDLE *handle);

// Opens the device at this index of the snapshot (taking one when none was).
FT_STATUS FT_Open(int index, FT_HANDLE *handle);
FT_STATUS FT_Close(FT_HANDLE handle);
FT_STATUS FT_GetDeviceInfo(FT_HANDLE handle, FT_DEVICE *type, DWORD *id, char *serial, char *description,
                           void *reserved);

// Writes count bytes; *written = bytes taken.
FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, DWORD count, DWORD *written);
// Waits for count bytes up to the read time-out; a time-out is FT_OK with a
// short *received.
FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD count, DWORD *received);
// Bytes waiting in the receive queue; never blocks for data.
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *waiting);

FT_STATUS FT_ResetDevice(FT_HANDLE handle);
FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD read_ms, DWORD write_ms);
FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR event_char, UCHAR event_enable, UCHAR error_char,
                      UCHAR error_enable);
FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms);
FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD in_size, DWORD out_size);
FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);
FT_STATUS FT_GetBitMode(FT_HANDLE handle, UCHAR *pins);
// Makes the device leave and rejoin the bus; the handle is of no use after it.
FT_STATUS FT_CyclePort(FT_HANDLE handle);
// -1 when the device has no serial port.
FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, LONG *port);

// The user area of the FTDI chip's EEPROM.
FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD *size);
FT_STATUS FT_EE_UARead(FT_HANDLE handle, UCHAR *data, DWORD length, DWORD *read);
FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, UCHAR *data, DWORD length);

// The product record of the chip's EEPROM. The caller sets the signatures and
// the version and points the strings at its own buffers: manufacturer 32,
// manufacturer id 16, description 64, serial number 16 characters.
struct FT_PROGRAM_DATA {
  DWORD Signature1;  // 0x00000000
  DWORD Signature2;  // 0xFFFFFFFF
  DWORD Version;
  WORD VendorId;
  WORD ProductId;
  char *Manufacturer;
  char *ManufacturerId;
  char *Description;
  char *SerialNumber;
  WORD MaxPower;  // mA
  WORD PnP;
  WORD SelfPowered;
  WORD RemoteWakeup;
};
enum : DWORD { FT_EE_SIGNATURE1 = 0x00000000, FT_EE_SIGNATURE2 = 0xFFFFFFFF };
enum { FT_EE_MANUFACTURER_LEN = 32, FT_EE_MANUFACTURER_ID_LEN = 16, FT_EE_DESCRIPTION_LEN = 64,
       FT_EE_SERIAL_LEN = 16 };

FT_STATUS FT_EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA *data);
// Writes the record; the user area keeps its bytes. The chip shows the new
// strings after it next enumerates (FT_CyclePort).
FT_STATUS FT_EE_Program(FT_HANDLE handle, FT_PROGRAM_DATA *data);
