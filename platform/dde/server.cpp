// The server side: one listening socket per registered service, one socket
// per conversation, all served by the user-interface loop when it is idle.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/dde/dde.h"
#include "platform/dde/internal.h"
#include "platform/dde/wire.h"
#include "platform/ui/ui.h"

namespace {

using platform::dde::detail::fail;
namespace wire = platform::dde::wire;
using Clock = std::chrono::steady_clock;

// A few idle sockets must not lock out the client that has something to say.
constexpr std::size_t kMaxConnections = 32;
constexpr auto kHandshakeTime = std::chrono::seconds(5);
constexpr int kAcceptsPerTurn = 16;

struct Connection {
  unsigned int handle = 0;
  int fd = -1;
  int watch = 0;
  bool connected = false;  // the callback accepted the connect
  bool released = false;   // the program let it go (a newer client took over)
  std::string topic;
  wire::Reader reader{false};
  Clock::time_point opened = Clock::now();
  Clock::time_point active = opened;  // its last request

  Connection() = default;
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;
  ~Connection() {
    if (watch > 0) platform::ui::unwatch_fd(watch);
    if (fd >= 0) close(fd);
  }
};

struct Server {
  int id = 0;
  std::string name;
  std::string file;  // the service's name in the folder
  std::string path;
  DDEFuncPtr callback = nullptr;
  void *callback_data = nullptr;
  int listen_fd = -1;
  int lock_fd = -1;
  int dir_fd = -1;  // the checked socket folder, through which its files are reached
  int watch = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::vector<std::unique_ptr<Connection>> conns;

  Server() = default;
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;
  ~Server() {
    conns.clear();
    if (watch > 0) platform::ui::unwatch_fd(watch);
    if (listen_fd >= 0) close(listen_fd);
    // Only our own socket: a successor may already have replaced it.
    struct stat st{};
    const std::string sock = file + ".sock";
    if (!path.empty() && fstatat(dir_fd, sock.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev &&
        st.st_ino == ino)
      unlinkat(dir_fd, sock.c_str(), 0);
    if (lock_fd >= 0) close(lock_fd);  // releases the service name
    if (dir_fd >= 0) close(dir_fd);
  }
};

std::vector<std::unique_ptr<Server>> g_servers;
int g_next_server = 1;

Server *find_server(int id) {
  for (auto &s : g_servers)
    if (s->id == id) return s.get();
  return nullptr;
}

Connection *find_conn(int server, unsigned int handle) {
  Server *s = find_server(server);
  if (s == nullptr) return nullptr;
  for (auto &c : s->conns)
    if (c->handle == handle) return c.get();
  return nullptr;
}

// Runs the callback on copies, so that nothing it does to the library
// (unregistering, ending conversations) pulls the strings from under it.
int invoke(int server, unsigned int handle, int type, const std::string &topic, char *item, int format, int size,
           void *data) {
  const Server *s = find_server(server);
  if (s == nullptr || s->callback == nullptr) return 0;
  const DDEFuncPtr cb = s->callback;
  void *cb_data = s->callback_data;
  std::array<char, DDE_MAX_NAME + 1> t{};
  topic.copy(t.data(), DDE_MAX_NAME);
  return cb(handle, t.data(), item, type, format, size, data, cb_data);
}

int invoke_named(int server, unsigned int handle, int type, const std::string &topic, const std::string &item,
                 int format, int size, void *data) {
  std::array<char, DDE_MAX_NAME + 1> i{};
  item.copy(i.data(), DDE_MAX_NAME);
  return invoke(server, handle, type, topic, i.data(), format, size, data);
}

// Ends a conversation; one the callback had accepted hears its disconnect.
void drop(int server, unsigned int handle, bool notify) {
  Server *s = find_server(server);
  if (s == nullptr) return;
  auto it = std::find_if(s->conns.begin(), s->conns.end(), [&](const auto &c) { return c->handle == handle; });
  if (it == s->conns.end()) return;
  const bool was_connected = (*it)->connected;
  const std::string topic = (*it)->topic;
  s->conns.erase(it);
  if (notify && was_connected) invoke_named(server, handle, DDE_DISCONNECT, topic, "", 0, 0, nullptr);
}

// Never waits: a client that does not take its answers loses the conversation.
bool send_all(int fd, const std::vector<std::uint8_t> &bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

void answer(int server, unsigned int handle, const wire::Header &request, int result, const char *data,
            std::size_t size) {
  if (request.flags & wire::kNoReply) return;
  Connection *c = find_conn(server, handle);
  if (c == nullptr) return;
  wire::Header h;
  h.kind = wire::kReply;
  h.seq = request.seq;
  h.value = result;
  if (!send_all(c->fd, wire::encode(h, {}, data, size))) drop(server, handle, true);
}

void handle_frame(int server, unsigned int handle, wire::Frame f) {
  Connection *c = find_conn(server, handle);
  const wire::Header &h = f.header;
  c->active = Clock::now();
  if (!c->connected) {
    // The first word of a conversation must be its connect.
    if (h.kind != DDE_CONNECT) return drop(server, handle, false);
    c->topic = f.item;
    const int r = invoke_named(server, handle, DDE_CONNECT, f.item, "", 0, 0, nullptr);
    c = find_conn(server, handle);
    if (c == nullptr) return;
    if (r == 1) c->connected = true;
    answer(server, handle, h, r == 1 ? 1 : 0, nullptr, 0);
    if (r != 1) drop(server, handle, false);
    return;
  }
  const std::string topic = c->topic;
  int r = 0;
  switch (h.kind) {
    case DDE_DISCONNECT: return drop(server, handle, true);
    case DDE_DATAREADY: {
      f.data.push_back('\0');  // a guard for callbacks that read the data as a string
      r = invoke_named(server, handle, DDE_DATAREADY, topic, f.item, h.format, static_cast<int>(h.data_len),
                       f.data.data());
      break;
    }
    case DDE_REQUESTDATA: {
      std::vector<char> buf(static_cast<std::size_t>(h.value) + 1, '\0');
      r = invoke_named(server, handle, DDE_REQUESTDATA, topic, f.item, h.format, h.value, buf.data());
      std::size_t n = 0;
      if (r == 1) n = h.format == DDE_TEXT ? strnlen(buf.data(), static_cast<std::size_t>(h.value)) : buf.size() - 1;
      return answer(server, handle, h, r == 1 ? 1 : 0, buf.data(), n);
    }
    case DDE_ADVISELOOP:
    case DDE_ADVISESTOP: r = invoke_named(server, handle, h.kind, topic, f.item, h.format, 0, nullptr); break;
    case DDE_EXECUTE: {
      f.data.push_back('\0');
      r = invoke(server, handle, DDE_EXECUTE, topic, f.data.data(), DDE_TEXT, static_cast<int>(h.data_len),
                 f.data.data());
      break;
    }
    default: return drop(server, handle, true);  // a second connect
  }
  answer(server, handle, h, r == 1 ? 1 : 0, nullptr, 0);
}

// Reads what the current frame still lacks; a complete frame is served, the
// next one waits in the socket for the next turn of the loop.
void serve(int server, unsigned int handle) {
  Connection *c = find_conn(server, handle);
  if (c == nullptr) return;
  std::array<std::uint8_t, 4096> buf;
  while (!c->reader.complete()) {
    const ssize_t n = recv(c->fd, buf.data(), std::min(c->reader.wanted(), buf.size()), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // the rest comes later
    if (n <= 0) return drop(server, handle, true);  // gone, half a frame or none
    if (!c->reader.feed(buf.data(), static_cast<std::size_t>(n))) return drop(server, handle, true);
  }
  handle_frame(server, handle, c->reader.take());
}

// Whether a request waits in the socket, not served yet.
bool has_request(const Connection &c) {
  char byte;
  return recv(c.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

// Makes room for one more client, so that a new one is always served: stale
// handshakes go, and in a full table the conversations the program let go,
// then sockets still in their handshake, then the conversation idle longest
// (one whose request waits only when every one has). False when the server
// is gone meanwhile (its callback may unregister it).
bool make_room(int server) {
  Server *s = find_server(server);
  if (s == nullptr) return false;
  const auto now = Clock::now();
  std::erase_if(s->conns, [&](const auto &c) { return !c->connected && now - c->opened > kHandshakeTime; });
  if (s->conns.size() < kMaxConnections) return true;
  auto rank = [](const Connection &c) { return c.released ? 0 : !c.connected ? 1 : !has_request(c) ? 2 : 3; };
  const auto victim = std::min_element(s->conns.begin(), s->conns.end(), [&](const auto &a, const auto &b) {
    const int ra = rank(*a), rb = rank(*b);
    return ra != rb ? ra < rb : a->active < b->active;
  });
  drop(server, (*victim)->handle, true);
  return find_server(server) != nullptr;
}

void accept_clients(int server) {
  for (int i = 0; i < kAcceptsPerTurn; ++i) {
    Server *s = find_server(server);
    if (s == nullptr) return;
    const int fd = accept4(s->listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    // Another user's program gets no word in.
    if (!platform::dde::detail::peer_is_owner(fd)) {
      close(fd);
      continue;
    }
    if (!make_room(server)) {
      close(fd);
      return;
    }
    s = find_server(server);
    auto c = std::make_unique<Connection>();
    c->handle = platform::dde::detail::next_handle();
    c->fd = fd;
    c->watch = platform::ui::watch_fd(fd, [server, h = c->handle](int) { serve(server, h); }, true);
    s->conns.push_back(std::move(c));
  }
}

Server *find_by_file(const std::string &file) {
  for (auto &s : g_servers)
    if (s->file == file) return s.get();
  return nullptr;
}

std::string holder_of(int lock_fd) {
  std::array<char, 32> pid{};
  const ssize_t n = pread(lock_fd, pid.data(), pid.size() - 1, 0);
  if (n <= 0) return "another program";
  return "another program (process " + std::string(pid.data(), strnlen(pid.data(), pid.size())) + ")";
}

}  // namespace

int RegisterDDEServer(const char *serviceName, DDEFuncPtr serverCallback, void *callbackData) {
  using namespace platform::dde::detail;
  clear_error();
  if (serverCallback == nullptr) return fail(DDE_ERR_BAD_ARGUMENT, "no server callback");
  const std::string file = service_file(serviceName);
  if (file.empty()) return fail(DDE_ERR_BAD_ARGUMENT, "unusable service name");
  const std::string name = serviceName;
  if (find_by_file(file) != nullptr)
    return fail(DDE_ERR_SERVICE_TAKEN, "this program already serves \"" + name + "\"");
  std::string dir;
  int dir_fd = -1;
  if (const int r = ensure_directory(&dir, true, &dir_fd); r != 0) return r;

  auto s = std::make_unique<Server>();
  s->dir_fd = dir_fd;
  s->id = g_next_server++;
  s->name = name;
  s->file = file;
  s->callback = serverCallback;
  s->callback_data = callbackData;
  // The lock is the name: it goes with its holder, however that ends.
  const std::string lock_name = file + ".lock";
  const std::string lock = dir + "/" + lock_name;
  s->lock_fd = openat(dir_fd, lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (s->lock_fd < 0) return fail(DDE_ERR_SYSTEM, "cannot open " + lock + ": " + std::strerror(errno));
  if (flock(s->lock_fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return fail(DDE_ERR_SYSTEM, "cannot lock " + lock + ": " + std::strerror(errno));
    return fail(DDE_ERR_SERVICE_TAKEN, holder_of(s->lock_fd) + " already serves \"" + name + "\"");
  }
  const std::string pid = std::to_string(getpid());
  if (ftruncate(s->lock_fd, 0) != 0 || pwrite(s->lock_fd, pid.data(), pid.size(), 0) < 0) {
    // Only the message naming the holder suffers.
  }

  // Holding the lock, any socket there is a leftover of a program that died.
  const std::string sock = file + ".sock";
  const std::string path = dir + "/" + sock;
  if (unlinkat(dir_fd, sock.c_str(), 0) != 0 && errno != ENOENT)
    return fail(DDE_ERR_SYSTEM, "cannot remove the old " + path + ": " + std::strerror(errno));
  s->listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s->listen_fd < 0) return fail(DDE_ERR_SYSTEM, std::string("socket: ") + std::strerror(errno));
  const int listen_fd = s->listen_fd;
  if (at_address(dir_fd, dir, sock, [listen_fd](const sockaddr *a, socklen_t n) { return bind(listen_fd, a, n); }) != 0)
    return fail(DDE_ERR_SYSTEM, "cannot create " + path + ": " + std::strerror(errno));
  // Only this user makes files in the folder: a socket of ours there is the one just bound.
  struct stat st{};
  if (fstatat(dir_fd, sock.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != geteuid())
    return fail(DDE_ERR_UNSAFE_DIRECTORY, dir + " was replaced by another folder while in use");
  s->path = path;
  if (fchmodat(dir_fd, sock.c_str(), 0600, 0) != 0)
    return fail(DDE_ERR_SYSTEM, "cannot protect " + path + ": " + std::strerror(errno));
  s->dev = st.st_dev;
  s->ino = st.st_ino;
  if (listen(s->listen_fd, SOMAXCONN) != 0)
    return fail(DDE_ERR_SYSTEM, "cannot listen on " + path + ": " + std::strerror(errno));
  const int id = s->id;
  s->watch = platform::ui::watch_fd(s->listen_fd, [id](int) { accept_clients(id); }, true);
  if (s->watch <= 0) return fail(DDE_ERR_SYSTEM, "the event loop does not watch the socket");
  g_servers.push_back(std::move(s));
  return 0;
}

namespace platform::dde {

void release_conversation(unsigned int handle) {
  for (auto &s : g_servers)
    for (auto &c : s->conns)
      if (c->handle == handle) c->released = true;
}

}  // namespace platform::dde

int UnregisterDDEServer(const char *serviceName) {
  using namespace platform::dde::detail;
  clear_error();
  const std::string file = service_file(serviceName);
  auto it = std::find_if(g_servers.begin(), g_servers.end(), [&](const auto &s) { return s->file == file; });
  if (file.empty() || it == g_servers.end())
    return fail(DDE_ERR_NOT_REGISTERED, "\"" + std::string(serviceName ? serviceName : "") + "\" is not registered");
  std::unique_ptr<Server> gone = std::move(*it);
  g_servers.erase(it);
  return 0;
}
