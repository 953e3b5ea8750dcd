#pragma once
// The file a fuzz target writes each input to: created once in a folder
// held in memory where there is one, removed when the target ends. On a disk
// folder every rewrite of the file (truncated, written, closed) starts a
// write-back that the next input waits for: the targets that read their
// input as a file ran at half their speed or less.
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

// The temporary folder when it is held in memory, else /dev/shm when that
// can be written, else the temporary folder all the same.
inline std::filesystem::path scratch_dir() {
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  const auto in_memory = [](const char *dir) {
    struct statfs fs {};
    return statfs(dir, &fs) == 0 && fs.f_type == TMPFS_MAGIC && access(dir, W_OK | X_OK) == 0;
  };
  if (in_memory(temp.c_str())) return temp;
  if (in_memory("/dev/shm")) return "/dev/shm";
  return temp;
}

inline const std::string &scratch_path() {
  struct Scratch {
    Scratch() {
      path = (scratch_dir() / "trq-fuzz-XXXXXX").string();
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
