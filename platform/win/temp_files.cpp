#include "platform/win/temp_files.h"

#include <filesystem>
#include <system_error>

namespace platform {

bool is_temp_of(std::string_view name, std::string_view file, std::string_view mark) {
  if (name.size() != file.size() + mark.size() + kTempRandomChars) return false;
  if (name.substr(0, file.size()) != file || name.substr(file.size(), mark.size()) != mark) return false;
  for (const char c : name.substr(name.size() - kTempRandomChars))
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

void for_each_temp_of(const std::string &dir, std::string_view file, std::string_view mark,
                      const std::function<void(const std::string &path)> &each) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (is_temp_of(name, file, mark) && std::filesystem::is_regular_file(it->symlink_status(type_ec)))
      each(it->path().string());
  }
}

}  // namespace platform
