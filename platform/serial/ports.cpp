// Serial ports by COM number: the tty naming rule, sysfs friendly names,
// description files, and disabling and re-enabling a port's USB interface.
#include "platform/serial/ports.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/win/clock.h"
#include "platform/win/files.h"

namespace platform::serial {
namespace {

namespace fs = std::filesystem;

PortLister &lister() {
  static PortLister l;
  return l;
}

struct Range {
  const char *prefix;
  int first_com;
  int count;
};
constexpr Range kRanges[] = {{"ttyS", 1, 32}, {"ttyUSB", 33, 64}, {"ttyACM", 97, 64}};

std::string read_line(const fs::path &p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string trim(const std::string &s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Writes a value into a sysfs attribute.
bool write_attribute(const fs::path &p, const char *value) {
  std::ofstream out(p);
  if (!out) return false;
  out << value;
  out.flush();
  return static_cast<bool>(out);
}

// Re-enables a USB interface by its authorized flag, then waits (3 s at
// most) for its tty to come back. Taking the flag away unbinds the driver,
// and giving it back binds none: the kernel probes the interface again only
// when its name is written to drivers_probe.
int reinstall_interface(const std::string &interface_dir, const std::string &tty_path) {
  const fs::path flag = fs::path(interface_dir) / "authorized";
  if (!write_attribute(flag, "0")) return -1;
  platform::clock::sleep(0.5);
  if (!write_attribute(flag, "1")) return -1;
  // Its result does not matter: the tty tells.
  write_attribute(fs::path(sysfs_root()) / "bus" / "usb" / "drivers_probe",
                  fs::path(interface_dir).filename().c_str());
  for (int i = 0; i < 30; ++i) {
    std::error_code ec;
    if (fs::exists(tty_path, ec)) return 0;
    platform::clock::sleep(0.1);
  }
  return -1;
}

// The USB ports of sysfs: ttyACM* and ttyUSB*, named by their USB strings.
std::vector<PortEntry> sysfs_ports() {
  std::vector<PortEntry> out;
  const fs::path root = fs::path(sysfs_root()) / "class" / "tty";
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(root, ec)) {
    const std::string tty = entry.path().filename().string();
    if (tty.rfind("ttyACM", 0) != 0 && tty.rfind("ttyUSB", 0) != 0) continue;
    const int com = com_of_tty(tty);
    if (com == 0) continue;
    std::error_code e2;
    fs::path dir = fs::canonical(entry.path() / "device", e2);
    if (e2) continue;
    std::string interface_dir, product, interface_name;
    // Up from the port: first its USB interface, then the USB device.
    for (int depth = 0; depth < 4 && !dir.empty() && dir != dir.root_path(); ++depth, dir = dir.parent_path()) {
      if (interface_dir.empty() && fs::exists(dir / "bInterfaceNumber", e2)) {
        interface_dir = dir.string();
        interface_name = read_line(dir / "interface");
      }
      if (fs::exists(dir / "idVendor", e2)) {
        product = read_line(dir / "product");
        break;
      }
    }
    PortEntry p;
    p.com = com;
    p.path = dev_root() + "/" + tty;
    p.name = product.empty() ? std::string("USB Serial Device") : product;
    if (!interface_name.empty() && interface_name != product) p.name += " - " + interface_name;
    p.name += " (COM" + std::to_string(com) + ")";
    p.usb_interface = interface_dir;
    if (!interface_dir.empty()) p.reinstall = [interface_dir, path = p.path] { return reinstall_interface(interface_dir, path); };
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace

std::string dev_root() {
  const char *r = std::getenv("QV_DEV_ROOT");
  return r && *r ? r : "/dev";
}

std::string sysfs_root() {
  const char *r = std::getenv("QV_SYSFS_ROOT");
  return r && *r ? r : "/sys";
}

int com_of_tty(const std::string &tty) {
  for (const Range &r : kRanges) {
    const std::string prefix = r.prefix;
    if (tty.rfind(prefix, 0) != 0 || tty.size() == prefix.size()) continue;
    const std::string digits = tty.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) || digits.size() > 3)
      continue;
    const int k = std::stoi(digits);
    return k < r.count ? r.first_com + k : 0;
  }
  return 0;
}

std::string tty_of_com(int com) {
  for (const Range &r : kRanges)
    if (com >= r.first_com && com < r.first_com + r.count) return r.prefix + std::to_string(com - r.first_com);
  return "";
}

bool load_port_description(const std::string &path, std::vector<PortEntry> *ports, std::string *error) {
  std::string refused;
  FILE *f = platform::files::fopen_plain(path.c_str(), "r", &refused);
  if (f == nullptr) {
    *error = refused.empty() ? "cannot read " + path : "cannot read " + refused;
    return false;
  }
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  std::istringstream in(text);
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    line = trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const auto eq = line.find('='), comma = line.find(',', eq == std::string::npos ? 0 : eq);
    int com = 0;
    if (eq == std::string::npos || comma == std::string::npos || std::sscanf(line.c_str(), "%d", &com) != 1 ||
        com < 1 || com > 255) {
      *error = "line " + std::to_string(lineno) + ": expected COM number = device path, friendly name";
      return false;
    }
    PortEntry p;
    p.com = com;
    p.path = trim(line.substr(eq + 1, comma - eq - 1));
    p.name = trim(line.substr(comma + 1));
    ports->push_back(std::move(p));
  }
  return true;
}

std::vector<PortEntry> list_ports() {
  std::vector<PortEntry> ports;
  if (lister()) {
    ports = lister()();
  } else if (const char *file = std::getenv("QV_SERIAL"); file && *file) {
    std::string why;
    if (!load_port_description(file, &ports, &why)) {
      std::fprintf(stderr, "serial ports: %s\n", why.c_str());
      ports.clear();
    }
    // Ports whose device is gone are not present.
    std::erase_if(ports, [](const PortEntry &p) {
      std::error_code ec;
      return !fs::exists(p.path, ec);
    });
  } else {
    ports = sysfs_ports();
  }
  std::sort(ports.begin(), ports.end(), [](const PortEntry &a, const PortEntry &b) { return a.com < b.com; });
  return ports;
}

std::string path_of(int com) {
  for (const PortEntry &p : list_ports())
    if (p.com == com) return p.path;
  if (lister() || std::getenv("QV_SERIAL")) return "";
  const std::string tty = tty_of_com(com);
  return tty.empty() ? "" : dev_root() + "/" + tty;
}

int reinstall(int com) {
  for (const PortEntry &p : list_ports())
    if (p.com == com) return p.reinstall ? p.reinstall() : -1;
  return -1;
}

void set_port_lister(PortLister l) { lister() = std::move(l); }

}  // namespace platform::serial
