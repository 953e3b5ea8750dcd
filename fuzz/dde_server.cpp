// Any bytes as what a client sends to a DDE server: the server runs on the
// headless loop until it has closed the socket. No crash, no hang, and the
// callback sees only well-formed transactions on conversations it accepted.
// The same bytes also go to a client's reader of answers.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "platform/dde/dde.h"
#include "platform/dde/wire.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"

namespace {

constexpr const char *kService = "FUZZ";
std::set<unsigned int> g_open;  // conversations the callback accepted

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "bogus transaction: %s\n", what);
    std::abort();
  }
}

int callback(unsigned int handle, char *topic, char *item, int type, int format, int size, void *data, void *) {
  check(handle > 0 && topic != nullptr && item != nullptr, "missing handle or names");
  check(std::strlen(topic) <= DDE_MAX_NAME, "topic too long");
  check(size >= 0 && size <= DDE_MAX_DATA, "size out of range");
  switch (type) {
    case DDE_CONNECT:
      check(g_open.insert(handle).second, "connect on an open conversation");
      return 1;
    case DDE_DISCONNECT: check(g_open.erase(handle) == 1, "disconnect of no conversation"); return 1;
    case DDE_DATAREADY:
    case DDE_REQUESTDATA:
    case DDE_ADVISELOOP:
    case DDE_ADVISESTOP:
      check(g_open.count(handle) == 1, "transaction outside a conversation");
      check(std::strlen(item) <= DDE_MAX_NAME, "item too long");
      if (type == DDE_DATAREADY) check(static_cast<const char *>(data)[size] == '\0', "data without its guard");
      if (type == DDE_REQUESTDATA && size > 0) std::memset(data, 'r', static_cast<std::size_t>(size) / 2);
      return size % 2 == 0 ? 1 : 0;
    case DDE_EXECUTE:
      check(g_open.count(handle) == 1, "execute outside a conversation");
      check(std::strlen(item) <= static_cast<std::size_t>(size), "command longer than its size");
      return std::strcmp(item, "Quit") == 0 ? 1 : 0;
    default: check(false, "unknown type"); return 0;
  }
}

bool setup() {
  static std::string dir = [] {
    std::string d = (std::filesystem::temp_directory_path() / "trq-fuzz-dde-XXXXXX").string();
    if (mkdtemp(d.data()) == nullptr) std::abort();
    return d;
  }();
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  platform::ui::headless::set_running(true);
  if (RegisterDDEServer(kService, callback, nullptr) != 0) std::abort();
  std::atexit([] {
    UnregisterDDEServer(kService);
    std::filesystem::remove_all(dir);
  });
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool ready = setup();
  (void)ready;

  platform::dde::wire::Reader replies(true);
  replies.feed(data, size);

  // Beyond the socket's buffer the writer would wait for a reader that is
  // this very thread.
  size = std::min<size_t>(size, 64 * 1024);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  platform::dde::socket_path(kService).copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) std::abort();
  if (size > 0 && send(fd, data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) std::abort();
  shutdown(fd, SHUT_WR);
  // The server has done with the bytes when it closes its end.
  const int watch = platform::ui::watch_fd(fd, [](int s) {
    char buf[4096];
    if (recv(s, buf, sizeof buf, 0) <= 0) QuitUserInterface(0);
  });
  RunUserInterface();
  platform::ui::unwatch_fd(watch);
  close(fd);
  if (!g_open.empty()) check(false, "a conversation outlived its socket");
  return 0;
}
