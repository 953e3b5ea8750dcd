#pragma once
// Serial ports by COM number and friendly name.
//
// A tty's COM number is fixed by its kernel name: ttyS<k> is COM k+1 (k < 32),
// ttyUSB<k> is COM 33+k and ttyACM<k> is COM 97+k (k < 64 each). The friendly
// name of a USB port is its USB product string, its interface string after
// " - " when the interface has one, and " (COMn)", read from sysfs.
//
// QV_SERIAL naming a description file puts its ports in place of the real
// ones (sim/ builds such ports on pseudo-terminals):
//   # COM number = device path, friendly name
//   5 = /dev/pts/7, Arduino Leonardo (COM5)
#include <functional>
#include <string>
#include <vector>

namespace platform::serial {

struct PortEntry {
  int com = 0;
  std::string path;
  std::string name;          // friendly name
  std::string usb_interface;  // sysfs directory of its USB interface ("" for none)
  // Disables and re-enables the port's device: 0, or -1 when that cannot be done.
  std::function<int()> reinstall;
};

// The present ports, by COM number.
std::vector<PortEntry> list_ports();
// The device path of a COM number ("" when none).
std::string path_of(int com);
// COM number of a tty's kernel name ("ttyACM0" -> 97), 0 when it has none.
int com_of_tty(const std::string &tty);
std::string tty_of_com(int com);
// Disables and re-enables the port of exactly this COM number.
int reinstall(int com);

// Ports in place of the system's (tests and simulators); null returns to them.
using PortLister = std::function<std::vector<PortEntry>()>;
void set_port_lister(PortLister lister);
// sysfs root, "/sys" unless QV_SYSFS_ROOT names another; the device
// directory, "/dev" unless QV_DEV_ROOT does (tests).
std::string sysfs_root();
std::string dev_root();
// The ports of a description file; false with a reason when it cannot be read.
bool load_port_description(const std::string &path, std::vector<PortEntry> *ports, std::string *error);

}  // namespace platform::serial
