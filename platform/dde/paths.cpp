// The socket folder, service file names, peer checks and the error texts.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/dde/dde.h"
#include "platform/dde/internal.h"
#include "platform/win/own_folder.h"

namespace platform::dde::detail {
namespace {

thread_local std::string g_detail;  // per thread: a client may call from beside the serving loop
uid_t g_owner = static_cast<uid_t>(-1);
std::atomic<unsigned int> g_next_handle{1};
std::atomic<bool> g_descriptor_paths{true};

}  // namespace

unsigned int next_handle() {
  unsigned int h = g_next_handle.fetch_add(1);
  // Handles must also fit the int the application keeps them in.
  if (h > 0x7FFFFFF0u) {
    g_next_handle = 2;
    h = 1;
  }
  return h;
}

int fail(int code, const std::string &detail) {
  g_detail = detail;
  return code;
}

void clear_error() { g_detail.clear(); }

uid_t owner_uid() { return g_owner == static_cast<uid_t>(-1) ? geteuid() : g_owner; }

void set_owner_uid(uid_t uid) { g_owner = uid; }

bool peer_is_owner(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
  return cred.uid == owner_uid();
}

std::string directory() {
  const char *run = getenv("XDG_RUNTIME_DIR");
  if (run != nullptr && run[0] == '/') return std::string(run) + "/qv-dde";
  // No runtime folder: a private one of our own in the shared temporary folder.
  return "/tmp/qv-dde-" + std::to_string(geteuid());
}

int ensure_directory(std::string *path, bool create, int *dir_fd) {
  *path = directory();
  std::string why;
  const int needs = platform::kFolderPrivate | (create ? platform::kFolderCreate : 0);
  switch (platform::open_own_folder(*path, needs, dir_fd, &why)) {
    case platform::FolderCheck::ok: return 0;
    case platform::FolderCheck::missing: return fail(DDE_ERR_NO_SERVER, why);
    case platform::FolderCheck::system_error: return fail(DDE_ERR_SYSTEM, why);
    default: return fail(DDE_ERR_UNSAFE_DIRECTORY, why);
  }
}

int at_address(int dir_fd, const std::string &dir, const std::string &name,
               const std::function<int(const sockaddr *, socklen_t)> &op) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const auto *a = reinterpret_cast<const sockaddr *>(&addr);
  // The folder's descriptor as a path: it leads to the folder that was opened
  // and checked, whatever its name is meanwhile made to lead to.
  const std::string by_fd = "/proc/self/fd/" + std::to_string(dir_fd);
  struct stat via{}, opened{};
  if (g_descriptor_paths && stat(by_fd.c_str(), &via) == 0 && fstat(dir_fd, &opened) == 0 &&
      via.st_dev == opened.st_dev && via.st_ino == opened.st_ino) {
    (by_fd + "/" + name).copy(addr.sun_path, sizeof addr.sun_path - 1);
    return op(a, sizeof addr);
  }
  (dir + "/" + name).copy(addr.sun_path, sizeof addr.sun_path - 1);
  return op(a, sizeof addr);
}

void set_descriptor_paths(bool allowed) { g_descriptor_paths = allowed; }

std::string service_file(const char *service) {
  if (service == nullptr) return "";
  const std::size_t n = strnlen(service, DDE_MAX_NAME + 1);
  if (n == 0 || n > DDE_MAX_NAME) return "";
  // Service names ignore case; anything beyond letters, digits, '-', '_' is escaped.
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ch = static_cast<unsigned char>(service[i]);
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<unsigned char>(ch - 'A' + 'a');
    if ((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_') {
      out += static_cast<char>(ch);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", ch);
      out += hex;
    }
  }
  // The path must fit a socket address with the folder and ".sock".
  if (directory().size() + 1 + out.size() + 5 >= sizeof(sockaddr_un{}.sun_path)) return "";
  return out;
}

Deadline deadline_in(unsigned int milliseconds) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

int ms_left(Deadline d) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(d - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left.count());
}

}  // namespace platform::dde::detail

namespace platform::dde {

const char *error_text(int code) {
  switch (code) {
    case DDE_ERR_BAD_ARGUMENT: return "invalid argument";
    case DDE_ERR_NO_SERVER: return "no server runs for this service";
    case DDE_ERR_REFUSED: return "the server refused the request";
    case DDE_ERR_TIMEOUT: return "the server did not answer in time";
    case DDE_ERR_BAD_CONVERSATION: return "no such conversation";
    case DDE_ERR_SERVICE_TAKEN: return "another program already serves this service";
    case DDE_ERR_SYSTEM: return "system error";
    case DDE_ERR_UNSAFE_DIRECTORY: return "the socket folder is not private to this user";
    case DDE_ERR_TOO_LARGE: return "data too large";
    case DDE_ERR_FOREIGN_SERVER: return "the server runs as another user";
    case DDE_ERR_NOT_REGISTERED: return "service not registered";
    case DDE_ERR_PROTOCOL: return "the peer does not speak this protocol";
    case DDE_ERR_CONVERSATION_ENDED: return "the server ended the conversation";
    default: return code >= 0 ? "no error" : "unknown error";
  }
}

const std::string &last_error_detail() { return detail::g_detail; }

std::string socket_directory() { return detail::directory(); }

std::string socket_path(const char *serviceName) {
  const std::string f = detail::service_file(serviceName);
  return f.empty() ? "" : detail::directory() + "/" + f + ".sock";
}

}  // namespace platform::dde
