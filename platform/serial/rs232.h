#pragma once
// The RS-232 library the module library calls, over termios on tty devices.
// Ports are numbered 1..255 as COM ports are; ports.h says which tty a COM
// number names. Every call leaves its result in the error state
// (ReturnRS232Err), 0 or one of the codes below.
#include <functional>
#include <string>

enum {
  RS_NO_ERROR = 0,
  RS_SYSTEM_ERROR = -1,     // the system refused a call
  RS_BAD_PORT_NUMBER = -2,  // outside 1..255
  RS_PORT_NOT_OPEN = -3,
  RS_NO_SUCH_PORT = -4,     // no device for this COM number
  RS_BAD_SETTINGS = -5,     // baud rate, parity, data or stop bits
  RS_CANNOT_OPEN = -6,      // the device is there but does not open (busy, gone bad, no rights)
  RS_IO_ERROR = -7,         // a read or write failed: the device went away
  RS_TIMEOUT = -99,         // fewer bytes than asked came within the port's time-out
};

enum { RS_MAX_PORT = 255 };

// Opens a port: device_name "" takes the tty of the COM number; parity 0
// none, 1 odd, 2 even; the queue sizes are the kernel's. 0 or an error.
int OpenComConfig(int port, const char *device_name, long baud, int parity, int data_bits, int stop_bits,
                  int in_queue, int out_queue);
int CloseCom(int port);
// Reads up to count bytes within the port's time-out; the bytes read (the
// error state -99 when fewer came), or an error.
int ComRd(int port, char *buffer, int count);
// Writes count bytes; the bytes written, or an error.
int ComWrt(int port, const char *buffer, int count);
// Writes one byte; 1, or an error.
int ComWrtByte(int port, int byte);
int FlushInQ(int port);
int FlushOutQ(int port);
// Bytes waiting to be read / still to be sent; or an error.
int GetInQLen(int port);
int GetOutQLen(int port);
// Time-out of reads and writes (default 10 s).
int SetComTime(int port, double seconds);
int ReturnRS232Err(void);

namespace platform::serial {

// Called while a serial call waits for its device, so that a simulated
// device on a pseudo-terminal can answer on the caller's thread. A pump
// returns true when it sent bytes.
using Pump = std::function<bool()>;
int add_pump(Pump pump);
void remove_pump(int id);
// True when a pump sent bytes.
bool run_pumps();

}  // namespace platform::serial
