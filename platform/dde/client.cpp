// The client side: a conversation is a connected socket; every call waits
// for its answer (or its time-out) on that socket alone.
#include <poll.h>
#include <sys/socket.h>
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

namespace {

using platform::dde::detail::Deadline;
using platform::dde::detail::fail;
using platform::dde::detail::ms_left;
namespace wire = platform::dde::wire;

unsigned int g_connect_timeout = 10000;

struct Conversation {
  unsigned int handle = 0;
  int fd = -1;
  std::string topic;
  DDEFuncPtr callback = nullptr;
  void *callback_data = nullptr;
  std::uint32_t seq = 0;

  Conversation() = default;
  Conversation(const Conversation &) = delete;
  Conversation &operator=(const Conversation &) = delete;
  ~Conversation() {
    if (fd >= 0) close(fd);
  }
};

std::vector<std::unique_ptr<Conversation>> g_conversations;

Conversation *find(unsigned int handle) {
  for (auto &c : g_conversations)
    if (c->handle == handle) return c.get();
  return nullptr;
}

// The server closed the conversation: it is gone here too, and the client's
// callback hears it as the server's disconnect.
int ended(unsigned int handle) {
  auto it = std::find_if(g_conversations.begin(), g_conversations.end(),
                         [&](const auto &c) { return c->handle == handle; });
  if (it == g_conversations.end()) return DDE_ERR_CONVERSATION_ENDED;
  const std::unique_ptr<Conversation> c = std::move(*it);
  g_conversations.erase(it);
  if (c->callback != nullptr) {
    std::array<char, DDE_MAX_NAME + 1> topic{};
    std::array<char, 1> item{};
    c->topic.copy(topic.data(), DDE_MAX_NAME);
    c->callback(handle, topic.data(), item.data(), DDE_DISCONNECT, 0, 0, nullptr, c->callback_data);
  }
  return fail(DDE_ERR_CONVERSATION_ENDED, "the server ended the conversation");
}

// 0, DDE_ERR_TIMEOUT, or DDE_ERR_CONVERSATION_ENDED when the socket is dead.
int send_all(int fd, const std::vector<std::uint8_t> &bytes, Deadline deadline) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return DDE_ERR_CONVERSATION_ENDED;
    pollfd p{fd, POLLOUT, 0};
    const int left = ms_left(deadline);
    if (left == 0 || poll(&p, 1, left) == 0) return fail(DDE_ERR_TIMEOUT, "the server takes no more data");
  }
  return 0;
}

// Waits for the answer to request seq; *reply gets it. Answers to earlier
// requests that timed out are passed over.
int receive(int fd, std::uint32_t seq, Deadline deadline, wire::Frame *reply) {
  wire::Reader reader(true);
  std::array<std::uint8_t, 4096> buf;
  for (;;) {
    while (!reader.complete()) {
      const ssize_t n = recv(fd, buf.data(), std::min(reader.wanted(), buf.size()), MSG_DONTWAIT);
      if (n > 0) {
        if (!reader.feed(buf.data(), static_cast<std::size_t>(n)))
          return fail(DDE_ERR_PROTOCOL, "the server's answer is not understood");
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return DDE_ERR_CONVERSATION_ENDED;
      pollfd p{fd, POLLIN, 0};
      const int left = ms_left(deadline);
      if (left == 0 || poll(&p, 1, left) == 0) return fail(DDE_ERR_TIMEOUT, "no answer from the server in time");
    }
    *reply = reader.take();
    if (reply->header.seq == seq) return 0;
  }
}

// One request on a conversation: 0 with the answer, or a DDE_ERR_* code.
int transact(unsigned int handle, wire::Header h, std::string_view item, const void *data, std::size_t size,
             unsigned int timeout, wire::Frame *reply) {
  Conversation *c = find(handle);
  if (c == nullptr) return fail(DDE_ERR_BAD_CONVERSATION, "no conversation " + std::to_string(handle));
  h.seq = ++c->seq;
  if (timeout == 0) h.flags = wire::kNoReply;
  // Sending gets its own few seconds even for an answer not waited for.
  const Deadline deadline = platform::dde::detail::deadline_in(timeout == 0 ? 5000 : timeout);
  int r = send_all(c->fd, wire::encode(h, item, data, size), deadline);
  if (r == 0 && timeout != 0) r = receive(c->fd, h.seq, deadline, reply);
  if (r == DDE_ERR_CONVERSATION_ENDED) return ended(handle);
  if (r == 0 && timeout != 0 && reply->header.value != 1)
    return fail(DDE_ERR_REFUSED, "the server refused the request");
  return r;
}

bool valid_name(const char *name) { return name != nullptr && strnlen(name, DDE_MAX_NAME + 1) <= DDE_MAX_NAME; }

// Connects to the socket sock of the open folder dir_fd (whose path is dir).
int connect_socket(int dir_fd, const std::string &dir, const std::string &sock, Deadline deadline, int *out) {
  const std::string path = dir + "/" + sock;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(DDE_ERR_SYSTEM, std::string("socket: ") + std::strerror(errno));
  for (;;) {
    auto to = [fd](const sockaddr *a, socklen_t n) { return connect(fd, a, n); };
    if (platform::dde::detail::at_address(dir_fd, dir, sock, to) == 0) break;
    const int e = errno;
    if (e == EINTR) continue;
    if (e == EAGAIN) {  // the server's queue is full: it is busy, try again shortly
      const int left = ms_left(deadline);
      if (left == 0) {
        close(fd);
        return fail(DDE_ERR_TIMEOUT, "the server accepts no connection in time");
      }
      poll(nullptr, 0, std::min(left, 10));
      continue;
    }
    close(fd);
    if (e == ENOENT || e == ECONNREFUSED || e == ENOTDIR)
      return fail(DDE_ERR_NO_SERVER, "no server at " + path);
    return fail(DDE_ERR_SYSTEM, "cannot reach " + path + ": " + std::strerror(e));
  }
  // Only a server of our own user hears what we say.
  if (!platform::dde::detail::peer_is_owner(fd)) {
    close(fd);
    return fail(DDE_ERR_FOREIGN_SERVER, path + " is served by another user");
  }
  *out = fd;
  return 0;
}

}  // namespace

int ConnectToDDEServer(int *conversationHandle, const char *serviceName, const char *topicName,
                       DDEFuncPtr clientCallback, void *callbackData) {
  using namespace platform::dde::detail;
  clear_error();
  if (conversationHandle == nullptr || !valid_name(topicName))
    return fail(DDE_ERR_BAD_ARGUMENT, "no handle or an unusable topic");
  const std::string file = service_file(serviceName);
  if (file.empty()) return fail(DDE_ERR_BAD_ARGUMENT, "unusable service name");
  const Deadline deadline = deadline_in(g_connect_timeout);
  // A folder another user holds is named as the cause, not taken for "no server".
  std::string dir;
  int dir_fd = -1;
  if (const int r = ensure_directory(&dir, false, &dir_fd); r != 0) return r;
  auto c = std::make_unique<Conversation>();
  const int r_connect = connect_socket(dir_fd, dir, file + ".sock", deadline, &c->fd);
  close(dir_fd);
  if (r_connect != 0) return r_connect;
  c->handle = next_handle();
  c->topic = topicName;
  c->callback = clientCallback;
  c->callback_data = callbackData;
  wire::Header h;
  h.kind = DDE_CONNECT;
  h.seq = ++c->seq;
  int r = send_all(c->fd, wire::encode(h, c->topic, nullptr, 0), deadline);
  wire::Frame reply;
  if (r == 0) r = receive(c->fd, h.seq, deadline, &reply);
  if (r == DDE_ERR_CONVERSATION_ENDED || (r == 0 && reply.header.value != 1))
    return fail(DDE_ERR_REFUSED, std::string("the server refused the conversation on \"") + topicName + "\"");
  if (r != 0) return r;
  *conversationHandle = static_cast<int>(c->handle);
  g_conversations.push_back(std::move(c));
  return 0;
}

int DisconnectFromDDEServer(unsigned int conversationHandle) {
  using namespace platform::dde::detail;
  clear_error();
  auto it = std::find_if(g_conversations.begin(), g_conversations.end(),
                         [&](const auto &c) { return c->handle == conversationHandle; });
  if (it == g_conversations.end())
    return fail(DDE_ERR_BAD_CONVERSATION, "no conversation " + std::to_string(conversationHandle));
  wire::Header h;
  h.kind = DDE_DISCONNECT;
  h.flags = wire::kNoReply;
  // A goodbye that does not fit is said by closing the socket all the same.
  send_all((*it)->fd, wire::encode(h, {}, nullptr, 0), deadline_in(0));
  g_conversations.erase(it);
  return 0;
}

int ClientDDEWrite(unsigned int conversationHandle, const char *itemName, int dataFormat, const void *dataPtr,
                   unsigned int dataSize, unsigned int timeout) {
  platform::dde::detail::clear_error();
  if (!valid_name(itemName) || (dataPtr == nullptr && dataSize > 0))
    return fail(DDE_ERR_BAD_ARGUMENT, "no data or an unusable item name");
  if (dataSize > DDE_MAX_DATA)
    return fail(DDE_ERR_TOO_LARGE, std::to_string(dataSize) + " bytes, at most " + std::to_string(DDE_MAX_DATA));
  wire::Header h;
  h.kind = DDE_DATAREADY;
  h.format = dataFormat;
  wire::Frame reply;
  return transact(conversationHandle, h, itemName, dataPtr, dataSize, timeout, &reply);
}

int ClientDDERead(unsigned int conversationHandle, const char *itemName, int dataFormat, void *dataBuffer,
                  unsigned int bufferSize, unsigned int timeout) {
  platform::dde::detail::clear_error();
  if (!valid_name(itemName) || (dataBuffer == nullptr && bufferSize > 0) || timeout == 0)
    return fail(DDE_ERR_BAD_ARGUMENT, "no buffer, no time to answer or an unusable item name");
  const unsigned int capacity = std::min<unsigned int>(bufferSize, DDE_MAX_DATA);
  wire::Header h;
  h.kind = DDE_REQUESTDATA;
  h.format = dataFormat;
  h.value = static_cast<std::int32_t>(capacity);
  wire::Frame reply;
  const int r = transact(conversationHandle, h, itemName, nullptr, 0, timeout, &reply);
  if (r != 0) return r;
  if (reply.data.size() > capacity) return fail(DDE_ERR_PROTOCOL, "the server answered more than was asked");
  if (!reply.data.empty()) std::memcpy(dataBuffer, reply.data.data(), reply.data.size());
  return static_cast<int>(reply.data.size());
}

int ClientDDEExecute(unsigned int conversationHandle, const char *command, unsigned int timeout) {
  platform::dde::detail::clear_error();
  if (command == nullptr) return fail(DDE_ERR_BAD_ARGUMENT, "no command");
  const std::size_t n = strnlen(command, DDE_MAX_DATA + 1);
  if (n > DDE_MAX_DATA) return fail(DDE_ERR_TOO_LARGE, "command longer than " + std::to_string(DDE_MAX_DATA));
  wire::Header h;
  h.kind = DDE_EXECUTE;
  h.format = DDE_TEXT;
  wire::Frame reply;
  return transact(conversationHandle, h, {}, command, n, timeout, &reply);
}

namespace platform::dde {

void set_connect_timeout(unsigned int milliseconds) { g_connect_timeout = milliseconds; }

}  // namespace platform::dde
