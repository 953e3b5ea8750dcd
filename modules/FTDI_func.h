#pragma once
// FTDI device discovery and access, and the MPSSE I2C transport to the
// registers, DAC and EEPROM of KMV-USB modules (and of the two-register
// module). Device numbers 0..7 are indexes of the D2XX device list.
#include <cstdint>

#include "platform/d2xx/ftd2xx.h"

// ---- discovery and device access ----

enum { FTDI_MAX_DEVICES = 8, FTDI_DESCR_LEN = 64, FTDI_DESCR_ENTRIES = 16 };

extern FT_HANDLE FTDIHandle[FTDI_MAX_DEVICES];  // null while closed
// The device-list index each device number opens (the number itself unless a
// device came back at another index); a full scan puts every entry back.
extern int FTDIListIndex[FTDI_MAX_DEVICES];
void ResetFtdiListIndex(void);
extern int FTDI_Type[FTDI_MAX_DEVICES];         // model class 0..5 of the last scan
extern int QV_FTDI_Type[FTDI_MAX_DEVICES];      // module-type digit 0..9 from the description tag
extern char DeviceDescr[FTDI_DESCR_ENTRIES][FTDI_DESCR_LEN];

extern int ftdi_dev_no;   // first device of kind 1, or the first one carrying a tag
extern int kmv_dev_no;    // last device of kind 5 found
extern int vaj_dev_no;    // last device of kind 6 found
extern int prior_dev_no;  // the serial adapter (kind 3 scans)
extern int Prior_port_no;
extern int num_ftdi_devs;
extern int num_kmv_devs;
extern int num_vaj_devs;
extern int num_prior_devs;

extern char Board_ID[16];           // last board identification read
extern unsigned char UM232PortVal[2];  // last values written to the two bit-bang ports
extern int QVUSB_mode;
extern int QV_show_debug_msg;

// Classifies the listed devices; *count = devices of the kind; returns the
// kind's found-device number (-1 none; kind 2: -1).
int GetFtdiDevices(int kind, int *count);
// The same count for kinds 1, 5 and 6 without touching the globals; serial
// (16 characters) = serial number of the last one, "" when none. 0; kind 2: -1.
int GetFtdiDevicesExt(int kind, int *count, char *serial);
// Type, id, serial number (16) and description (64) of a listed device; the
// D2XX status, or -1 with *flags = -1 when dev is not in the list.
int GetDeviceInfo(int dev, int *flags, unsigned int *type, unsigned int *id, char *serial, char *description);
int DeviceOpened(int dev);
int GetComPortNumber(int dev);
// Opens and prepares a device; keep = 0 starts a KMV-USB module's register
// cache afresh. 0 or an error.
int OpenDevice(int dev, int keep);
int CloseDevice(int dev);
// Board identification (5 characters) into id, which holds at least 6.
int USB_GetBoardId(int dev, char *id);
void Set_QVUSB_mode(unsigned short mode, int trace);

// Command-string access to boards behind an FTDI FIFO.
int USB_Read(int dev, void *buf, int count, unsigned int *done);
int USB_Write(int dev, const unsigned char *data, int count, int *done);
int USB_SendCommandString(int dev, const char *payload, int n);

// First *count bytes (at most the area's size) of the FTDI chip's user area.
int ReadUserEEprom(int dev, int *count, char *data);

// ---- MPSSE I2C transport ----

enum { USB_BUF_SIZE = 1024 };

struct KMVDeviceData {
  uint16_t registers[4];
  uint16_t dac[16];
};
static_assert(sizeof(KMVDeviceData) == 40);

extern unsigned char UsbOutBuf[FTDI_MAX_DEVICES][USB_BUF_SIZE];
extern unsigned char UsbInpBuf[FTDI_MAX_DEVICES][USB_BUF_SIZE];
// Per device: registers 0..3, then DAC channels 0..15, as last written.
extern unsigned short kmv_regdata[FTDI_MAX_DEVICES][20];
extern unsigned short vaj_regdata[FTDI_MAX_DEVICES][2];
extern int TRQ_mode;  // 0 hardware, 5 cache only
extern int VAJ_mode;  // 0 hardware, 6 cache only
extern int TRQ_show_debug_msg;

void Set_TRQ_mode(unsigned short mode, int trace);
void Set_VAJ_mode(unsigned short mode, int trace);
int Configure_MPSSE_for_I2C(int dev);

int SetI2CLinesIdle(int dev);
int SetI2CStart(int dev);
int SetI2CStop(int dev);
int SendAddrAndCheckACK(int dev, int read, unsigned char address);
int SendByteAndCheckACK(int dev, unsigned char byte);
int ReadByteAndSendACK(int dev, int ack);

int KMV_set_register(int dev, int reg, unsigned short value);
int KMV_set_bit_in_register(int dev, int reg, int bit, short state);
int KMV_get_register(int dev, int reg, unsigned short *value);
int KMV_set_dac_chan(int dev, unsigned char channel, unsigned short code);
int KMV_set_dac_voltage(int dev, int channel, double *volts);
int KMV_get_dac_chan(int dev, int channel, short *code);
int KMV_clear_all_dacs(int dev);
int KMV_ReadUserEEP(int dev, unsigned char *buf, unsigned short address, int count, int *done, int open);
int KMV_WriteUserEEP(int dev, const unsigned char *data, unsigned short address, int count);
int read_i2c_bytes(int dev, unsigned short address, int count, unsigned char *buf);
int write_i2c_bytes(int dev, unsigned short address, int count, const unsigned char *data);
int KMV_get_data(int dev, int source, KMVDeviceData *out);
int KMV_set_data(int dev, int target, KMVDeviceData data);

// Check byte: the 8-bit sum of a block including its last byte is 0x55.
void prepare_QV_checksum(unsigned char *block, int length);
// 0 when the block's sum is 0x55, else 1.
int test_QV_checksum(const unsigned char *block, int length);

int VAJ_set_register(int dev, int reg, unsigned short value);
int VAJ_set_bit_in_register(int dev, int reg, int bit, short state);
int VAJ_get_register(int dev, int reg, unsigned short *value);
int VAJ_ReadUserEEP(int dev, unsigned char *buf, unsigned short address, int count, int *done);
int VAJ_WriteUserEEP(int dev, const unsigned char *data, unsigned short address, int count);
int VAJ_get_data(int dev, int source, int *out);
int VAJ_set_data(int dev, int target, int data);
