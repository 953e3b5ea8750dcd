#pragma once
// The NUL-separated string lists the tagged container's writers take and its
// readers give.
#include <string>
#include <vector>

namespace testsupport {

// A writer's list: NUL-separated strings and a closing NUL.
inline std::string list(const std::vector<std::string> &lines) {
  std::string s;
  for (const auto &l : lines) s += l + '\0';
  return s + '\0';
}

// The strings of a reader's list.
inline std::vector<std::string> strings(const std::vector<char> &buf) {
  std::vector<std::string> out;
  for (size_t i = 0; i < buf.size() && buf[i] != '\0'; i += out.back().size() + 1) out.emplace_back(&buf[i]);
  return out;
}

}  // namespace testsupport
