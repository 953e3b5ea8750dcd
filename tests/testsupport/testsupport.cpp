#include "tests/testsupport/testsupport.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/win/clock.h"

namespace testsupport {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "trq-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return path_ + "/" + name; }

std::string TempDir::write(const std::string &name, const std::string &content) const {
  const std::string p = file(name);
  std::ofstream out(p, std::ios::binary);
  out << content;
  return p;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string source_path(const std::string &relative) { return std::string(TRQ_SOURCE_DIR) + "/" + relative; }

std::vector<std::string> program_command(std::vector<std::string> args) {
#ifdef TRQ_EMULATOR
  args.insert(args.begin(), TRQ_EMULATOR);
#endif
  return args;
}

bool accepts_connections(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  const bool ok = fd >= 0 && connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

VirtualClock::VirtualClock() { platform::clock::use_virtual(true); }
VirtualClock::~VirtualClock() { platform::clock::use_virtual(false); }

std::set<std::string> names_in(const std::string &dir) {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(dir, ec)) out.insert(e.path().filename().string());
  return out;
}

bool make_socket_file(const std::string &path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  const bool ok = bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

pid_t start_folder_swapper(const std::string &a, const std::string &b) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  alarm(120);
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
  // Quick bursts and states held a while, of random lengths.
  for (unsigned n = 1;; n = n * 1103515245u + 12345u) {
    renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
    if ((n >> 30) == 0) {
      const timespec pause{0, static_cast<long>((n >> 8) % 100000)};
      nanosleep(&pause, nullptr);
    } else {
      volatile unsigned spin = (n >> 16) % 4000;
      while (spin > 0) spin = spin - 1;
    }
  }
}

void stop_folder_swapper(pid_t swapper) {
  if (swapper <= 0) return;
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
}

}  // namespace testsupport
