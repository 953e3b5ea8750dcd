#pragma once
// Small fixtures shared by the test programs.
#include <sys/types.h>

#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const;
  // Writes content to a file in the directory and returns its path.
  std::string write(const std::string &name, const std::string &content) const;

 private:
  std::string path_;
};

// Reads a whole file ("" when it cannot be read).
std::string read_file(const std::string &path);

// Path of a file in the source tree, e.g. source_path("resources/kmv_err.dat").
std::string source_path(const std::string &relative);

// The command line that starts one of this build's programs as a child
// process: args (args[0] the program) as they stand, or, where the 32-bit
// build runs its programs under an emulator, through that emulator. The
// result's first element is the file to execute.
std::vector<std::string> program_command(std::vector<std::string> args);

// The Unix socket at path takes a connection now (its file appears at bind,
// a moment before it listens).
bool accepts_connections(const std::string &path);

// The names of the entries of a folder (empty when it cannot be read).
std::set<std::string> names_in(const std::string &dir);

// Leaves a Unix socket's file at path (bound, then closed); false where it
// cannot be made.
bool make_socket_file(const std::string &path);

// A child process that swaps the folder a with b (a link to another folder)
// over and over, as another user where this one is root, until killed (or
// for two minutes at most): every gap between a check of a by its name and
// a use of it comes to be crossed by a swap. Its pid, or -1.
pid_t start_folder_swapper(const std::string &a, const std::string &b);
// Ends it.
void stop_folder_swapper(pid_t swapper);

// Switches the virtual clock on for its lifetime.
class VirtualClock {
 public:
  VirtualClock();
  ~VirtualClock();
};

}  // namespace testsupport
