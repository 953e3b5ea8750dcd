#pragma once
// The file a fuzz target writes each input to: created once in the
// temporary folder, removed when the target ends.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

inline const std::string &scratch_path() {
  struct Scratch {
    Scratch() {
      path = (std::filesystem::temp_directory_path() / "trq-fuzz-XXXXXX").string();
      const int fd = mkstemp(path.data());
      if (fd < 0) std::abort();
      close(fd);
    }
    ~Scratch() { unlink(path.c_str()); }
    std::string path;
  };
  static const Scratch s;
  return s.path;
}

// Replaces the scratch file's content with the input; false when it could not.
inline bool write_scratch(const uint8_t *data, size_t size) {
  std::FILE *f = std::fopen(scratch_path().c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written;
}

}  // namespace fuzzing
