#pragma once
// The registry's hives as the program holds them, and their text form (the
// file format described in registry.h). Not for the registry's users.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win/registry.h"

namespace platform::registry {

struct Value {
  std::string name;
  uint32_t type = 0;
  std::string data;  // a string's text (no NUL), or the bytes
  bool readable = true;
  std::string raw;  // the line as read, written back while the value is unreadable
};

struct Key {
  std::string path;  // parts joined by '\', in the case first written
  std::vector<Value> values;
  std::unordered_map<std::string, size_t> index;  // lower-case name -> position in values
};

struct Hive {
  std::vector<Key> keys;
  bool damaged = false;
  std::string text;  // the file as read
};

// The parts of a key path between '\', empty parts dropped.
std::string normalise(std::string_view path);
// Whether the key or a key below it is in the hive ("" always is).
bool key_exists(const Hive &h, std::string_view path);
// Keys and values by name, without regard to case; null when missing.
Key *find_key(Hive &h, std::string_view path);
Value *find_value(Key &k, std::string_view name);
// A later value of the same name replaces the earlier one in its place.
void put_value(Key &k, Value v);
// The key, added when missing.
Key &key_for(Hive &h, const std::string &path);

// Reads a hive's text: damaged lines are passed over and h->damaged set; a
// value whose data is unreadable is kept as its line.
void parse(std::string_view text, Hive *h);
// The text a hive is written as.
std::string format(const Hive &h, HKEY root);

}  // namespace platform::registry
