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
// Writes count bytes at the start of the user area: the D2XX status, or -1
// when nothing can be written (closed, no area, more than the area holds).
int WriteUserEEprom(int dev, int count, const char *data);

// ---- bit-bang, product EEPROM, command strings ----

struct usb_module_record;

extern unsigned char port_val;  // the pin byte last read by GetBitVal
// The product record FT_EE_Read fills and FT_EE_Program writes, its strings in the buffers below.
extern FT_PROGRAM_DATA eep_prod;
extern char ManufacturerBuf[32];
extern char ManufacturerIdBuf[16];
extern char DescriptionBuf[64];
extern char SerialNumberBuf[16];

int SetBitMode(int dev, unsigned char mask, unsigned char mode);
int GetBitMode(int dev);
int SetBitVal(int dev, int bit, int value);
int GetBitVal(int dev, int bit);
int ReadProdEE(int dev, FT_PROGRAM_DATA *record);
int WriteProdEE(int dev, FT_PROGRAM_DATA *record);
// Replaces the description from " Q&V" on (or appends) with tail, programs
// it and reopens the device once it has enumerated again; -1 when the new
// description would not fit.
int Change_Device_Description(int dev, const char *tail);
int USB_PortRead(int dev, int port, char *value);
int USB_PortWrite(int dev, int port, unsigned char value);
int USB_PinRead(int dev, int port, int pin, char *state);
int USB_PinWrite(int dev, int port, int pin, int state);
int ActivateDelay(int dev, int line, int on);
// Sets the six delay lines of the record's sync-delay box to the nearest
// step of 0.5 ns; *ns = the delay set.
int SetSyncDelay(double *ns, usb_module_record *rec);
int SetActiveInput(int on, usb_module_record *rec);
// LED2 of a KMV-USB module (or a two-register module): 0 when it reads back
// as written, 1 when not, -1 for another device.
int SetKmvLed2(int dev, int on);

// ---- serial-port devices (numbers 8..15): the laser modules ----

enum { ARD_MAX_PORTS = 255, ARD_SLOTS = 8, ARD_INFO_LEN = 128, GOR_WORDS = 21, ARD_LAST_DEVICE = 15 };

extern int ARD_COM_ports[ARD_MAX_PORTS];  // COM numbers LocateCom found; the first 8 are devices 8..15
extern int COM_opened[ARD_SLOTS];         // 1 while this program holds the slot's port open
extern int QV_Arduino_Type[ARD_SLOTS];    // 3 a laser module answered, -1 something else
extern int ard_dev_no;                    // 8 + slot of the last laser module found, -1 none
extern int num_arduino_devs;              // serial ports found
extern int RS232Error;                    // the serial layer's error of the last open

// Finds the laser modules' ports; returns ard_dev_no.
int GetArduinoDevices(int *count);
// COM numbers (1..255) of the present ports whose friendly name holds name
// (in any case); how many were stored, at most max.
int LocateCom(const char *name, int *ports, int max);
// What answers on a port: its identification text into text (ARD_INFO_LEN
// bytes, always terminated); the serial layer's error state.
int get_ard_info(int port, char *text);
// 1 when the serial-port device (or, for dev -1, any port) is present.
int TestIfArduinoPresent(int dev);

// Laser-module data block (and register cache row): registers 0..3, DAC
// channels 0..11 in words 4..15, words 16..20 kept with it.
struct GORDeviceData {
  uint16_t words[GOR_WORDS];
};
static_assert(sizeof(GORDeviceData) == 42);
enum { GOR_DATA_ADDRESS = 48, GOR_DATA_BYTES = 43, GOR_DAC_CHANNELS = 12, GOR_RELAY_REGISTER = 2 };

extern unsigned char ard_state[6];  // id, state, cmd, err, spare, check
extern unsigned short gor_regdata[ARD_SLOTS][GOR_WORDS];
extern GORDeviceData gor_data[ARD_SLOTS];

// Byte level: each takes the COM port number.
int send_byte_to_ARD(int port, unsigned char byte);
int ard_wait_out_queue(int port);
int ard_read_state(int port);
int ard_wait_ready(int port, const char *word);
int send_state_cmd_to_ARD(int port, unsigned char cmd, unsigned char param);
int send_cmd_to_ARD(int port, unsigned char letter);
int send_param_to_ARD(int port, const unsigned char *p1, int n1, const unsigned char *p2, int n2,
                      const unsigned char *p3, int n3);

// Module level: dev is the current laser module's device number.
int GOR_set_register(int dev, int reg, unsigned short value);
int GOR_get_register(int dev, int reg, unsigned short *value);
int GOR_set_dac_chan(int dev, int channel, unsigned short code);
int GOR_get_dac_chan(int dev, int channel, unsigned short *code);
int GOR_set_dac_voltage(int dev, int channel, double *volts);
// Relays 0..7 are the bits of register 2.
int GOR_set_relay(int dev, int relay, int on);
int GOR_get_relays(int dev, unsigned short *bits);
// source / target 0: the module's EEPROM; 1: the cache (get) or the hardware (set).
// Cache-only (QVUSB_mode non-zero): the EEPROM is gor_data alone.
int GOR_get_data(int dev, int source, GORDeviceData *out);
int GOR_set_data(int dev, int target, const GORDeviceData *data);
// Cache-only: checked, then 0 with nothing read (*done 0) or written.
int ARD_ReadUserEEP(int dev, unsigned char *buf, int address, int count, int *done);
int ARD_WriteUserEEP(int dev, const unsigned char *data, int address, int count);
// Disables and re-enables the port of exactly this COM number: 0 or -1.
int reinstall_port(int port);
// Days after 1 January 2011 as "dd.mm.yyyy" (text holds 11); and back (-1 for a bad date).
void prepare_date_str(int days, char *text);
int prepare_date_val(const char *text);

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
