#include "tests/testsupport/testsupport.h"

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
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

}  // namespace testsupport
