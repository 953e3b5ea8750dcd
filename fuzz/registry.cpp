// Any bytes as the text of a hive, in memory: parsed, looked up on a set of
// keys and names, changed, written out as text and parsed again. Whatever
// read as sound must read back the same, and the text must be stable: what
// is written parses into what writes the same text again.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "platform/win/registry_text.h"

namespace {

using namespace platform::registry;

const char *const kKeys[] = {"Software\\QV\\TRQ", "Software\\QV\\TRQ\\FileDialog", "Software\\QV\\TRQ\\OpenedFiles",
                             "Software\\QV\\TRQ\\PanelAttr", "Software\\QV", "software\\qv\\trq\\", "odd[", ""};
const char *const kNames[] = {"DataDir", "FilePath", "FileDir1", "FileDir2", "NoOfSETEntries", "SETFilePath1", "Path",
                              "Main",    "Good",     "Bad",      "Hidden",   "X",              "N",            "Cut",
                              "datadir", ""};
constexpr const char *kWrittenKey = "Software\\QV\\TRQ\\Fuzz";

// What each (key, name) reads as, as the registry's lookups see it: no key,
// no value, unreadable, or the type and the data.
std::map<std::string, std::string> read_all(Hive &h) {
  std::map<std::string, std::string> seen;
  for (const char *key : kKeys) {
    const std::string path = normalise(key);
    const bool exists = key_exists(h, path);
    Key *k = find_key(h, path);
    for (const char *name : kNames) {
      std::string out;
      const Value *v = k != nullptr ? find_value(*k, name) : nullptr;
      if (!exists) out = "no key";
      else if (v == nullptr) out = "no value";
      else if (!v->readable) out = "unreadable";
      else out = "0:" + std::to_string(v->type) + ":" + v->data;
      seen[std::string(key) + "/" + name] = out;
    }
  }
  return seen;
}

bool has_unreadable(const Hive &h) {
  for (const Key &k : h.keys)
    for (const Value &v : k.values)
      if (!v.readable) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Hive h;
  parse(std::string_view(reinterpret_cast<const char *>(data), size), &h);
  const auto before = read_all(h);

  Value written;
  written.name = "Written";
  written.type = REG_DWORD;
  written.data = std::string("\x07\0\0\0", 4);
  put_value(key_for(h, normalise(kWrittenKey)), written);
  const std::string text = format(h, HKEY_CURRENT_USER);

  Hive again;
  parse(text, &again);
  // Only the unreadable values kept as they were may look damaged again.
  if (again.damaged && !has_unreadable(h)) abort();
  const auto after = read_all(again);
  for (const auto &[where, what] : before) {
    // A value that read as sound survives a rewrite unchanged.
    if (what.rfind("0:", 0) == 0 && after.at(where) != what) abort();
  }
  Key *k = find_key(again, normalise(kWrittenKey));
  const Value *v = k != nullptr ? find_value(*k, "Written") : nullptr;
  if (v == nullptr || !v->readable || v->type != REG_DWORD || v->data != written.data) abort();
  if (format(again, HKEY_CURRENT_USER) != text) abort();
  return 0;
}
