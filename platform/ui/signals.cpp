// The program without an operator, and SIGINT, SIGTERM and SIGHUP as an
// orderly quit: the handler only marks the request and writes a byte into a
// pipe that every wait of the loop watches; the loop then runs the program's
// quit on its own turn.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/ui/internal.h"

namespace platform::ui {
namespace {

int pipe_fds[2] = {-1, -1};
volatile std::sig_atomic_t pending = 0;
int received = 0;
QuitSignalHandler quit_handler;
struct sigaction old_int {}, old_term {}, old_hup {};
bool installed = false;

extern "C" void on_quit_signal(int signo) {
  const int saved = errno;
  if (pending == 0) pending = signo;  // the first signal names the request
  const char byte = 1;
  if (pipe_fds[1] >= 0) (void)!::write(pipe_fds[1], &byte, 1);
  errno = saved;
}

void drain() {
  char buf[64];
  while (pipe_fds[0] >= 0 && ::read(pipe_fds[0], buf, sizeof buf) > 0) {
  }
}

// Every running RunUserInterface ends with 0.
void quit_all() {
  for (detail::RunLevel &level : detail::state().runs) {
    level.quit = true;
    level.code = 0;
  }
}

}  // namespace

void set_unattended(bool on) { detail::state().unattended = on; }
bool unattended() { return detail::state().unattended; }

int quit_on_signals(QuitSignalHandler handler) {
  quit_handler = std::move(handler);
  if (installed) return 0;
  if (::pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    pipe_fds[0] = pipe_fds[1] = -1;
    return UIE_FAILURE;
  }
  struct sigaction sa {};
  sa.sa_handler = on_quit_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, &old_int);
  ::sigaction(SIGTERM, &sa, &old_term);
  ::sigaction(SIGHUP, &sa, &old_hup);  // the terminal that started the program was closed
  installed = true;
  pending = 0;
  received = 0;
  if (View *v = detail::state().view) v->wake();
  return 0;
}

void stop_quit_signals() {
  if (installed) {
    ::sigaction(SIGINT, &old_int, nullptr);
    ::sigaction(SIGTERM, &old_term, nullptr);
    ::sigaction(SIGHUP, &old_hup, nullptr);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    pipe_fds[0] = pipe_fds[1] = -1;
    installed = false;
  }
  quit_handler = nullptr;
  pending = 0;
  received = 0;
}

int quit_signal() { return received != 0 ? received : static_cast<int>(pending); }

int quit_signal_fd() { return pipe_fds[0]; }

namespace detail {

bool take_quit_signal() {
  if (pending == 0) return false;
  const int signo = pending;
  pending = 0;
  drain();
  if (received != 0) return true;  // the quit already runs: the same request again
  received = signo;
  if (quit_handler) {
    const QuitSignalHandler h = quit_handler;  // the handler may install another
    h(signo);
  } else {
    quit_all();
  }
  if (View *v = state().view) v->wake();
  return true;
}

void forget_quit_signal() {
  drain();
  pending = 0;
  received = 0;
}

void tell_operator_absent(const std::string &kind, const std::string &title, const std::string &message,
                          const std::string &answer) {
  if (quit_signal() == 0 && !unattended()) return;  // an operator is there to see it
  std::fprintf(stderr, "[%s] %s: %s -> %s\n", kind.c_str(), title.c_str(), message.c_str(), answer.c_str());
  std::fflush(stderr);
}

}  // namespace detail

void tell_unanswered(const std::string &kind, const std::string &title, const std::string &message,
                     const std::string &answer) {
  detail::tell_operator_absent(kind, title, message, answer);
}

}  // namespace platform::ui
