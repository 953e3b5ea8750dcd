// trq_remote: tells a running TRQ program to load a setup file or to quit,
// through its remote-control service.
#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/dde/dde.h"

namespace {

constexpr const char *kTopic = "DDE Data Exchange";
constexpr std::size_t kMaxFileName = 259;  // what the program keeps of a name

enum Exit { ok = 0, usage_error = 2, no_server = 3, refused = 4, timed_out = 5, failed = 6 };

void usage(std::FILE *to) {
  std::fputs(
      "usage: trq_remote [--service NAME] [--timeout SECONDS] load FILE\n"
      "       trq_remote [--service NAME] [--timeout SECONDS] quit\n"
      "Tells the running TRQ program to load the setup file FILE (*.set), or to quit\n"
      "as its quit button does. NAME is the program's service (default KMV-USB);\n"
      "SECONDS how long to wait for its answer (default 20).\n"
      "Exit status: 0 accepted, 2 bad usage, 3 no program runs, 4 refused (another\n"
      "client has taken over), 5 no answer in time, 6 other failure.\n",
      to);
}

int report(int code, const std::string &service, double seconds) {
  switch (code) {
    case DDE_ERR_NO_SERVER:
      std::fprintf(stderr, "trq_remote: no program serves \"%s\" (is TRQ running?)\n", service.c_str());
      return no_server;
    case DDE_ERR_REFUSED:
      std::fprintf(stderr, "trq_remote: the program serving \"%s\" refused the request\n", service.c_str());
      return refused;
    case DDE_ERR_CONVERSATION_ENDED:
      std::fprintf(stderr, "trq_remote: the program serving \"%s\" ended the conversation before it answered\n",
                   service.c_str());
      return failed;
    case DDE_ERR_UNSAFE_DIRECTORY:
      std::fprintf(stderr,
                   "trq_remote: cannot reach \"%s\": %s, so no TRQ of this user can serve there "
                   "(remove it, or set XDG_RUNTIME_DIR)\n",
                   service.c_str(), platform::dde::last_error_detail().c_str());
      return failed;
    case DDE_ERR_TIMEOUT:
      std::fprintf(stderr, "trq_remote: no answer from \"%s\" within %g s (is a dialog open?)\n", service.c_str(),
                   seconds);
      return timed_out;
    default: {
      const std::string &detail = platform::dde::last_error_detail();
      std::fprintf(stderr, "trq_remote: %s%s%s\n", platform::dde::error_text(code), detail.empty() ? "" : ": ",
                   detail.c_str());
      return code == DDE_ERR_BAD_ARGUMENT ? usage_error : failed;
    }
  }
}

bool is_setup_file(const std::filesystem::path &p) {
  return strcasecmp(p.extension().string().c_str(), ".set") == 0;
}

// What a name that is no plain file is instead; null for a plain file.
const char *not_a_file(const std::filesystem::file_status &st) {
  using std::filesystem::file_type;
  switch (st.type()) {
    case file_type::regular: return nullptr;
    case file_type::not_found: return "no such file";
    case file_type::directory: return "is a folder, not a setup file";
    case file_type::fifo: return "is a FIFO (named pipe), not a setup file";
    case file_type::socket: return "is a socket, not a setup file";
    case file_type::block:
    case file_type::character: return "is a device, not a setup file";
    default: return "cannot be examined";
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::string service = "KMV-USB";
  double seconds = 20.0;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    const std::string_view opt = argv[i];
    if (opt == "--help") {
      usage(stdout);
      return ok;
    }
    if ((opt == "--service" || opt == "--timeout") && i + 1 < argc) {
      const char *value = argv[++i];
      if (opt == "--service") {
        service = value;
        continue;
      }
      char *end = nullptr;
      seconds = std::strtod(value, &end);
      if (end != value && *end == '\0' && seconds > 0 && seconds <= 3600) continue;
      std::fprintf(stderr, "trq_remote: --timeout wants seconds between 0 and 3600, not \"%s\"\n", value);
      return usage_error;
    }
    usage(stderr);
    return usage_error;
  }
  const std::string_view command = i < argc ? argv[i] : "";
  const bool load = command == "load" && argc - i == 2;
  const bool quit = command == "quit" && argc - i == 1;
  if (!load && !quit) {
    usage(stderr);
    return usage_error;
  }

  std::string file;
  if (load) {
    // The program runs elsewhere: it gets the full name of an existing setup file.
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(argv[i + 1], ec).lexically_normal();
    if (const char *what = not_a_file(ec ? std::filesystem::file_status{} : std::filesystem::status(p, ec))) {
      std::fprintf(stderr, "trq_remote: %s: %s\n", argv[i + 1], what);
      return usage_error;
    }
    if (!is_setup_file(p)) {
      std::fprintf(stderr, "trq_remote: %s: the program loads setup files (*.set) only\n", argv[i + 1]);
      return usage_error;
    }
    file = p.string();
    if (file.size() > kMaxFileName) {
      std::fprintf(stderr, "trq_remote: %s: the full name is longer than %zu characters\n", argv[i + 1],
                   kMaxFileName);
      return usage_error;
    }
  }

  const auto timeout = static_cast<unsigned int>(std::ceil(seconds * 1000.0));
  platform::dde::set_connect_timeout(timeout);
  int handle = -1;
  if (const int r = ConnectToDDEServer(&handle, service.c_str(), kTopic, nullptr, nullptr); r != 0)
    return report(r, service, seconds);
  const int r = load ? ClientDDEWrite(handle, "File_Name", DDE_TEXT, file.data(), file.size(), timeout)
                     : ClientDDEExecute(handle, "Quit", timeout);
  if (r != DDE_ERR_CONVERSATION_ENDED) DisconnectFromDDEServer(handle);
  return r == 0 ? ok : report(r, service, seconds);
}
