#include "sim/bus.h"

#include <algorithm>
#include <fstream>
#include <map>

namespace sim {

Bus::Entry *Bus::find(const std::string &serial) {
  for (auto &e : entries_)
    if (e->device->serial() == serial) return e.get();
  return nullptr;
}

KmvModule &Bus::add_module(const std::string &serial, const ModuleOptions &options) {
  auto e = std::make_unique<Entry>();
  e->device = std::make_unique<FtdiDevice>(serial, options.description);
  e->device->record_calls(record_calls_);
  e->device->set_type(8);
  e->device->set_id(0x04036014);
  e->device->set_loc_id(next_loc_++);
  e->device->set_user_block(options.number, options.user_block_valid);
  e->module = std::make_unique<KmvModule>(e->device->i2c());
  KmvModule &m = *e->module;
  order_.push_back(e.get());
  entries_.push_back(std::move(e));
  return m;
}

FtdiDevice &Bus::add_device(const std::string &serial, const std::string &description, uint32_t type) {
  auto e = std::make_unique<Entry>();
  e->device = std::make_unique<FtdiDevice>(serial, description);
  e->device->record_calls(record_calls_);
  e->device->set_type(type);
  // FTDI's product id of each chip family, as enumeration shows it.
  const uint32_t pid = type == 8 ? 0x6014 : type == 6 || type == 4 ? 0x6010 : type == 7 ? 0x6011 : 0x6001;
  e->device->set_id(0x04030000 | pid);
  e->device->set_loc_id(next_loc_++);
  FtdiDevice &d = *e->device;
  order_.push_back(e.get());
  entries_.push_back(std::move(e));
  return d;
}

void Bus::record_calls(bool on) {
  record_calls_ = on;
  for (auto &e : entries_) e->device->record_calls(on);
}

CommandBoard &Bus::add_command_board(const std::string &serial, const BoardOptions &options) {
  FtdiDevice &d = add_device(serial, options.description, 5);
  d.set_user_block(options.number);
  Entry *e = find(serial);
  e->command = std::make_unique<CommandBoard>(d, options.board_id);
  return *e->command;
}

BitBangBoard &Bus::add_bitbang_board(const std::string &serial, const std::string &description, uint16_t number) {
  FtdiDevice &d = add_device(serial, description, 8);
  d.set_user_block(number);
  Entry *e = find(serial);
  e->bitbang = std::make_unique<BitBangBoard>(d);
  return *e->bitbang;
}

CommandBoard *Bus::command_board(const std::string &serial) {
  Entry *e = find(serial);
  return e ? e->command.get() : nullptr;
}

BitBangBoard *Bus::bitbang_board(const std::string &serial) {
  Entry *e = find(serial);
  return e ? e->bitbang.get() : nullptr;
}

FtdiDevice *Bus::device(const std::string &serial) {
  Entry *e = find(serial);
  return e ? e->device.get() : nullptr;
}

KmvModule *Bus::module(const std::string &serial) {
  Entry *e = find(serial);
  return e ? e->module.get() : nullptr;
}

std::vector<FtdiDevice *> Bus::listed() {
  std::vector<FtdiDevice *> out;
  for (Entry *e : order_) out.push_back(e->device.get());
  return out;
}

int Bus::index_of(const std::string &serial) {
  for (size_t i = 0; i < order_.size(); ++i)
    if (order_[i]->device->serial() == serial) return static_cast<int>(i);
  return -1;
}

void Bus::unplug(const std::string &serial) {
  Entry *e = find(serial);
  if (!e) return;
  auto it = std::find(order_.begin(), order_.end(), e);
  if (it == order_.end()) return;
  e->last_index = static_cast<int>(it - order_.begin());
  order_.erase(it);
  e->device->set_plugged(false);
}

void Bus::replug(const std::string &serial, int index, bool power_lost) {
  Entry *e = find(serial);
  if (!e || std::find(order_.begin(), order_.end(), e) != order_.end()) return;
  int at = index < 0 ? e->last_index : index;
  at = std::clamp(at, 0, static_cast<int>(order_.size()));
  order_.insert(order_.begin() + at, e);
  e->device->set_plugged(true);
  // A device that left the bus comes back with a fresh chip state.
  e->device->power_on();
  if (power_lost && e->module) e->module->power_cycle();
}

void Bus::set_held_elsewhere(const std::string &serial, bool held) {
  if (FtdiDevice *d = device(serial)) d->set_held_elsewhere(held);
}

void Bus::set_input_pins(const std::string &serial, int reg, uint16_t pins) {
  if (KmvModule *m = module(serial)) m->set_input_pins(reg, pins);
}

uint16_t Bus::register_latch(const std::string &serial, int reg) {
  KmvModule *m = module(serial);
  return m ? m->register_latch(reg) : 0;
}

uint16_t Bus::dac_output(const std::string &serial, int channel) {
  KmvModule *m = module(serial);
  return m ? m->dac_output(channel) : 0;
}

namespace {
std::string trim(const std::string &s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool parse_number(const std::string &s, unsigned long *v) {
  try {
    size_t used = 0;
    *v = std::stoul(s, &used, 0);
    return used == s.size();
  } catch (...) {
    return false;
  }
}

struct Section {
  std::string kind;
  int line = 0;
  std::map<std::string, std::string> keys;
};

bool apply(Bus &bus, const Section &sec, std::string *error) {
  const auto get = [&](const char *k, const std::string &def) {
    auto it = sec.keys.find(k);
    return it == sec.keys.end() ? def : it->second;
  };
  const auto number = [&](const char *k, unsigned long def, unsigned long *v) {
    auto it = sec.keys.find(k);
    if (it == sec.keys.end()) {
      *v = def;
      return true;
    }
    if (parse_number(it->second, v)) return true;
    *error = "line " + std::to_string(sec.line) + ": " + k + " is not a number";
    return false;
  };
  const std::string serial = get("serial", "");
  if (serial.empty() || serial.size() > 15) {
    *error = "line " + std::to_string(sec.line) + ": serial missing or longer than 15 characters";
    return false;
  }
  unsigned long held = 0;
  if (!number("held_elsewhere", 0, &held)) return false;
  if (sec.kind == "module") {
    ModuleOptions o;
    o.description = get("description", o.description);
    unsigned long n = 0;
    if (!number("number", 1, &n)) return false;
    o.number = static_cast<uint16_t>(n);
    KmvModule &m = bus.add_module(serial, o);
    // With a name the module's EEPROM holds a valid adjust block (name, serial
    // number, date) and gain limits of 100 %, as a module from production does.
    if (const std::string name = get("name", ""); !name.empty()) {
      const auto checked = [](std::vector<uint8_t> block) {
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < block.size(); ++i) sum = static_cast<uint8_t>(sum + block[i]);
        block.back() = static_cast<uint8_t>(0x55 - sum);
        return block;
      };
      std::vector<uint8_t> adjust(49, 0);
      const auto put = [&](const std::string &text, size_t at) {
        std::copy_n(text.begin(), std::min<size_t>(text.size(), 15), adjust.begin() + static_cast<long>(at));
      };
      put(name, 0);
      put(get("module_serial", serial), 16);
      put(get("date", "01.01.2024"), 32);
      m.load_eeprom(0, checked(adjust));
      m.load_eeprom(100, checked({100, 100, 100, 100, 0}));
    }
    for (int r = 0; r < 4; ++r) {
      const std::string key = "pins" + std::to_string(r);
      unsigned long p = 0;  // a missing key keeps the module's quiet default
      if (!number(key.c_str(), m.input_pins(r), &p)) return false;
      m.set_input_pins(r, static_cast<uint16_t>(p));
    }
  } else if (sec.kind == "board") {
    BoardOptions o;
    const std::string wiring = get("wiring", "command");
    unsigned long n = 0;
    if (!number("number", 1, &n)) return false;
    if (wiring == "command") {
      o.description = get("description", o.description);
      o.number = static_cast<uint16_t>(n);
      o.board_id = get("board_id", o.board_id);
      bus.add_command_board(serial, o);
    } else if (wiring == "bitbang") {
      bus.add_bitbang_board(serial, get("description", "UM232H Q&V1"), static_cast<uint16_t>(n));
    } else {
      *error = "line " + std::to_string(sec.line) + ": wiring is command or bitbang";
      return false;
    }
  } else {
    unsigned long type = 0;
    if (!number("type", 5, &type)) return false;
    bus.add_device(serial, get("description", "FT232R USB UART"), static_cast<uint32_t>(type));
  }
  bus.set_held_elsewhere(serial, held != 0);
  unsigned long com = 0;
  if (!number("com_port", 0, &com)) return false;
  if (com > 0) bus.device(serial)->set_com_port(static_cast<int32_t>(com));
  return true;
}
}  // namespace

bool load_description(Bus &bus, const std::string &path, std::string *error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  static const char *const known[] = {"serial", "number", "description", "type", "held_elsewhere",
                                      "pins0",  "pins1",  "pins2",       "pins3",
                                      "wiring", "board_id", "com_port", "name", "module_serial", "date"};
  std::vector<Section> sections;
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    line = trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      const std::string kind = trim(line.substr(1, line.size() - 2));
      if (kind != "module" && kind != "device" && kind != "board") {
        *error = "line " + std::to_string(lineno) + ": unknown section [" + kind + "]";
        return false;
      }
      sections.push_back(Section{kind, lineno, {}});
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos || sections.empty()) {
      *error = "line " + std::to_string(lineno) + ": expected [module], [device], [board] or key = value";
      return false;
    }
    const std::string key = trim(line.substr(0, eq));
    if (std::find_if(std::begin(known), std::end(known), [&](const char *k) { return key == k; }) == std::end(known)) {
      *error = "line " + std::to_string(lineno) + ": unknown key " + key;
      return false;
    }
    sections.back().keys[key] = trim(line.substr(eq + 1));
  }
  for (const Section &s : sections)
    if (!apply(bus, s, error)) return false;
  return true;
}

}  // namespace sim
