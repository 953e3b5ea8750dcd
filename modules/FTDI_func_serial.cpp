// The serial-port devices 8..15: finding the laser modules' ports, what
// answers on them, presence, and opening and closing them.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "modules/FTDI_func.h"
#include "platform/serial/ports.h"
#include "platform/serial/rs232.h"
#include "platform/win/clock.h"
#include "platform/win/strings.h"

int ARD_COM_ports[ARD_MAX_PORTS];
int COM_opened[ARD_SLOTS];
int QV_Arduino_Type[ARD_SLOTS];
int ard_dev_no = -1;
int num_arduino_devs = 0;
int RS232Error = 0;

namespace {

constexpr long kBaud = 19200;
constexpr int kQueue = 512;
constexpr double kPortTimeout = 2.0;
constexpr double kMorePortsDebounce = 6.0;

double more_ports_since = -1.0;  // when a call first saw more ports than known

bool contains_any_case(const std::string &text, const std::string &needle) {
  auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b)); });
  return it != text.end();
}

// The COM number of a friendly name: after the first "COM" that a number follows.
int com_number(const std::string &name) {
  for (size_t at = name.find("COM"); at != std::string::npos; at = name.find("COM", at + 1)) {
    int n = 0;
    if (std::sscanf(name.c_str() + at, "COM%d", &n) == 1) return n;
  }
  return 0;
}

int open_laser_port(int port) {
  return OpenComConfig(port, "", kBaud, 0, 8, 1, kQueue, kQueue);
}

void read_away(int port) {
  char junk[kQueue];
  for (int n = GetInQLen(port); n > 0; n = GetInQLen(port))
    if (ComRd(port, junk, std::min(n, kQueue)) <= 0) break;
}

}  // namespace

int LocateCom(const char *name, int *ports, int max) {
  if (!name || !ports || max <= 0) return 0;
  int stored = 0;
  for (const platform::serial::PortEntry &p : platform::serial::list_ports()) {
    if (stored >= max) break;
    if (p.name.find(name) == std::string::npos && !contains_any_case(p.name, name)) continue;
    const int n = com_number(p.name);
    if (n >= 1 && n <= 255) ports[stored++] = n;
  }
  return stored;
}

int get_ard_info(int port, char *text) {
  if (text) text[0] = '\0';
  int r = open_laser_port(port);
  if (r == RS_CANNOT_OPEN && reinstall_port(port) == 0) r = open_laser_port(port);
  if (r != 0) {
    if (text) platform::copy_bounded(text, ARD_INFO_LEN, " COM error\n");
    return r;
  }
  SetComTime(port, kPortTimeout);
  FlushInQ(port);
  FlushOutQ(port);
  read_away(port);
  send_state_cmd_to_ARD(port, 0x11, 0);
  if (ard_state[1] != 0) send_state_cmd_to_ARD(port, 0x22, 0);
  send_cmd_to_ARD(port, 'I');
  Delay(0.005);
  char buf[ARD_INFO_LEN] = {};
  const int waiting = GetInQLen(port);
  int got = 0;
  if (waiting > 0) got = ComRd(port, buf, std::min(waiting, ARD_INFO_LEN - 1));
  buf[std::max(got, 0)] = '\0';
  if (text) platform::copy_bounded(text, ARD_INFO_LEN, buf);
  const int err = ReturnRS232Err();
  CloseCom(port);
  return err;
}

int GetArduinoDevices(int *count) {
  num_arduino_devs = LocateCom("Arduino Leonardo", ARD_COM_ports, ARD_MAX_PORTS);
  if (count) *count = num_arduino_devs;
  ard_dev_no = -1;
  std::fill(std::begin(QV_Arduino_Type), std::end(QV_Arduino_Type), 0);
  for (int slot = 0; slot < std::min(num_arduino_devs, static_cast<int>(ARD_SLOTS)); ++slot) {
    char text[ARD_INFO_LEN] = {};
    get_ard_info(ARD_COM_ports[slot], text);
    const std::string t = text;
    if (t.find("QV") != std::string::npos && contains_any_case(t, "GOR4")) {
      QV_Arduino_Type[slot] = 3;
      ard_dev_no = FTDI_MAX_DEVICES + slot;
    } else {
      QV_Arduino_Type[slot] = -1;
    }
  }
  return ard_dev_no;
}

int TestIfArduinoPresent(int dev) {
  if ((dev >= 0 && dev < FTDI_MAX_DEVICES) || dev > ARD_LAST_DEVICE) return 0;
  const int slot = dev - FTDI_MAX_DEVICES;
  const int port = dev >= FTDI_MAX_DEVICES && COM_opened[slot] ? ARD_COM_ports[slot] : 0;
  int found[ARD_MAX_PORTS];
  const int n = LocateCom("Arduino Leonardo", found, ARD_MAX_PORTS);
  if (port == 0) {
    if (n == num_arduino_devs) {
      more_ports_since = -1.0;
    } else if (n < num_arduino_devs) {
      num_arduino_devs = n;
    } else {
      // A port that appears is taken only once it stayed for a while.
      const double now = platform::clock::now();
      if (more_ports_since < 0) more_ports_since = now;
      if (now - more_ports_since > kMorePortsDebounce) {
        num_arduino_devs = n;
        more_ports_since = -1.0;
      }
    }
    return n > 0 ? 1 : 0;
  }
  if (std::find(found, found + n, port) != found + n) return 1;
  COM_opened[slot] = 0;
  CloseCom(port);
  num_arduino_devs = n;
  ard_dev_no = -1;
  return 0;
}

namespace ftdi_serial {

int close_port_device(int dev);

int open_port_device(int dev) {
  const int slot = dev - FTDI_MAX_DEVICES;
  if (COM_opened[slot]) close_port_device(dev);
  const int port = ARD_COM_ports[slot];
  // A slot the last scan left without a port is no device.
  if (slot >= num_arduino_devs || port < 1) return -1;
  const int r = open_laser_port(port);
  if (r != 0) {
    RS232Error = r;
    return r;
  }
  SetComTime(port, kPortTimeout);
  FlushInQ(port);
  FlushOutQ(port);
  COM_opened[slot] = 1;
  std::fill(std::begin(ard_state), std::end(ard_state), 0);
  if (QV_Arduino_Type[slot] == 3) {
    std::fill(std::begin(gor_regdata[slot]), std::end(gor_regdata[slot]), 0);
    gor_regdata[slot][3] |= 0x9C;
  }
  return 0;
}

int close_port_device(int dev) {
  const int slot = dev - FTDI_MAX_DEVICES;
  if (!COM_opened[slot]) return -1;
  COM_opened[slot] = 0;
  return CloseCom(ARD_COM_ports[slot]);
}

}  // namespace ftdi_serial
