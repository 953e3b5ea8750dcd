#pragma once
// A DDE server served by the headless loop on the test's thread, and clients
// that talk to it from a second thread (the other program), with their own
// runtime folder per test.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dde/dde.h"
#include "platform/dde/internal.h"
#include "platform/dde/wire.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"
#include "tests/testsupport/testsupport.h"

namespace ddetest {

constexpr const char *kService = "KMV-USB";
constexpr const char *kTopic = "DDE Data Exchange";

// One transaction as the server callback saw it.
struct Txn {
  unsigned int handle = 0;
  std::string topic;
  std::string item;
  int type = 0;
  int format = 0;
  std::string data;
  bool operator==(const Txn &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Txn &t) {
  return os << "{" << t.handle << " " << t.type << " '" << t.topic << "' '" << t.item << "' fmt " << t.format
            << " '" << t.data << "'}";
}

class DdeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ui::headless::reset();
    platform::ui::headless::set_running(true);
    old_runtime_ = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    for (const std::string &s : registered_) UnregisterDDEServer(s.c_str());
    platform::dde::detail::set_owner_uid(static_cast<uid_t>(-1));
    platform::dde::set_connect_timeout(10000);
    platform::ui::headless::set_running(false);
    platform::ui::headless::reset();
    if (old_runtime_.empty()) unsetenv("XDG_RUNTIME_DIR");
    else setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
  }

  // The server records every transaction; answer() decides (1 by default).
  int serve(const char *service = kService) {
    const int r = RegisterDDEServer(service, &DdeTest::callback, this);
    if (r == 0) registered_.push_back(service);
    return r;
  }

  // Runs the client code on its own thread while this thread's loop serves.
  void with_client(const std::function<void()> &client) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const int watch = platform::ui::watch_fd(done[0], [](int) { QuitUserInterface(0); });
    std::thread t([&] {
      client();
      (void)!write(done[1], "x", 1);
    });
    RunUserInterface();
    t.join();
    platform::ui::unwatch_fd(watch);
    close(done[0]);
    close(done[1]);
  }

  // One more turn of the serving loop for what the last client left in the
  // sockets (its disconnect) before the client's thread ended.
  void settle() { with_client([] {}); }

  static int callback(unsigned int handle, char *topic, char *item, int type, int format, int size, void *data,
                      void *self) {
    auto *t = static_cast<DdeTest *>(self);
    Txn txn{handle, topic, item, type, format, ""};
    if (type == DDE_DATAREADY && size > 0) txn.data.assign(static_cast<const char *>(data), size);
    t->log.push_back(txn);
    if (t->on_txn) return t->on_txn(txn, static_cast<char *>(data), size);
    return 1;
  }

  std::vector<Txn> log;
  // Decides on a transaction (and may fill a read's buffer); none accepts all.
  std::function<int(const Txn &, char *data, int size)> on_txn;

  std::vector<int> types() const {
    std::vector<int> out;
    for (const Txn &t : log) out.push_back(t.type);
    return out;
  }

  testsupport::TempDir dir_;

 private:
  std::string old_runtime_;
  std::vector<std::string> registered_;
};

// A socket to the service that speaks whatever the test sends.
inline int raw_connect(const char *service = kService) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  platform::dde::socket_path(service).copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline std::vector<std::uint8_t> frame(int kind, std::string_view item = {}, std::string_view data = {},
                                       int format = DDE_TEXT, std::uint32_t seq = 1) {
  platform::dde::wire::Header h;
  h.kind = static_cast<std::uint8_t>(kind);
  h.format = format;
  h.seq = seq;
  return platform::dde::wire::encode(h, item, data.data(), data.size());
}

inline bool send_bytes(int fd, const std::vector<std::uint8_t> &b) {
  return send(fd, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
}

// Whether the server closed the socket within the time (answers are skipped).
inline bool closed_by_server(int fd, int ms = 5000) {
  std::uint8_t buf[256];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

}  // namespace ddetest
