// The RS-232 calls over termios.
#include "platform/serial/rs232.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <map>

#include "platform/serial/ports.h"
#include "platform/win/clock.h"

namespace platform::serial {
namespace {

struct Port {
  int fd = -1;
  double timeout = 10.0;
};

struct State {
  std::array<Port, RS_MAX_PORT + 1> ports;
  int error = 0;
  std::map<int, Pump> pumps;
  int next_pump = 1;
  double last_traffic = -1.0;  // real time bytes last went to or came from a device
};

State &state() {
  static State s;
  return s;
}

int fail(int code) {
  state().error = code;
  return code;
}

// The open port of a number, or null with the error state set.
Port *open_port(int port) {
  if (port < 1 || port > RS_MAX_PORT) {
    fail(RS_BAD_PORT_NUMBER);
    return nullptr;
  }
  Port &p = state().ports[port];
  if (p.fd < 0) {
    fail(RS_PORT_NOT_OPEN);
    return nullptr;
  }
  return &p;
}

speed_t speed_of(long baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}

double real_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void note_traffic() { state().last_traffic = real_now(); }

// Bytes on a pseudo-terminal take a moment of real time through the kernel,
// even while the program's clock is virtual.
bool bytes_in_flight() { return real_now() - state().last_traffic < 0.05; }

// One step of waiting for the device: 1 ms of real time on the real clock;
// on the virtual clock, real time only while bytes are under way.
void wait_for_device(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (!platform::clock::is_virtual()) {
    ::poll(&p, 1, 1);
    return;
  }
  if (bytes_in_flight()) ::poll(&p, 1, 1);
  platform::clock::sleep(0.001);
}

bool hung_up(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// An error of a read or write that means the device is gone.
bool device_gone(int e) { return e == EIO || e == ENXIO || e == ENODEV || e == EBADF || e == EPIPE; }

}  // namespace

int add_pump(Pump pump) {
  State &s = state();
  const int id = s.next_pump++;
  s.pumps[id] = std::move(pump);
  return id;
}

void remove_pump(int id) { state().pumps.erase(id); }

bool run_pumps() {
  // A pump may remove itself or others: run over a copy.
  const std::map<int, Pump> pumps = state().pumps;
  bool sent = false;
  for (const auto &[id, p] : pumps)
    if (p && p()) sent = true;
  if (sent) note_traffic();
  return sent;
}

}  // namespace platform::serial

using namespace platform::serial;

int OpenComConfig(int port, const char *device_name, long baud, int parity, int data_bits, int stop_bits,
                  int /*in_queue*/, int /*out_queue*/) {
  if (port < 1 || port > RS_MAX_PORT) return fail(RS_BAD_PORT_NUMBER);
  const speed_t speed = speed_of(baud);
  if (speed == 0 || parity < 0 || parity > 2 || data_bits < 5 || data_bits > 8 || stop_bits < 1 || stop_bits > 2)
    return fail(RS_BAD_SETTINGS);
  if (state().ports[port].fd >= 0) CloseCom(port);
  const std::string path = device_name && *device_name ? std::string(device_name) : path_of(port);
  if (path.empty()) return fail(RS_NO_SUCH_PORT);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno == ENOENT ? RS_NO_SUCH_PORT : RS_CANNOT_OPEN);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    ::close(fd);
    return fail(RS_CANNOT_OPEN);
  }
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= sizes[data_bits - 5] | CLOCAL | CREAD;
  if (parity) t.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
  if (stop_bits == 2) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    ::close(fd);
    return fail(RS_CANNOT_OPEN);
  }
  ::tcflush(fd, TCIOFLUSH);
  state().ports[port].fd = fd;
  state().ports[port].timeout = 10.0;
  return fail(RS_NO_ERROR);
}

int CloseCom(int port) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  ::close(p->fd);
  p->fd = -1;
  return fail(RS_NO_ERROR);
}

int ComRd(int port, char *buffer, int count) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  if (!buffer || count < 0) return fail(RS_BAD_SETTINGS);
  const double deadline = platform::clock::now() + p->timeout;
  int got = 0;
  while (got < count) {
    run_pumps();
    const ssize_t r = ::read(p->fd, buffer + got, static_cast<size_t>(count - got));
    if (r > 0) {
      got += static_cast<int>(r);
      continue;
    }
    // In raw mode a read of 0 is no data, or the far end's hang-up.
    if (r == 0 ? hung_up(p->fd) : (errno != EAGAIN && errno != EINTR)) {
      fail(r == 0 || device_gone(errno) ? RS_IO_ERROR : RS_SYSTEM_ERROR);
      return got > 0 ? got : ReturnRS232Err();
    }
    if (platform::clock::now() >= deadline) {
      fail(RS_TIMEOUT);
      return got;
    }
    wait_for_device(p->fd);
  }
  fail(RS_NO_ERROR);
  return got;
}

int ComWrt(int port, const char *buffer, int count) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  if (!buffer || count < 0) return fail(RS_BAD_SETTINGS);
  const double deadline = platform::clock::now() + p->timeout;
  int done = 0;
  while (done < count) {
    const ssize_t r = ::write(p->fd, buffer + done, static_cast<size_t>(count - done));
    if (r > 0) {
      done += static_cast<int>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EINTR) return fail(device_gone(errno) ? RS_IO_ERROR : RS_SYSTEM_ERROR);
    run_pumps();
    if (platform::clock::now() >= deadline) {
      fail(RS_TIMEOUT);
      return done;
    }
    wait_for_device(p->fd);
  }
  note_traffic();
  run_pumps();
  fail(RS_NO_ERROR);
  return done;
}

int ComWrtByte(int port, int byte) {
  const char b = static_cast<char>(byte);
  const int r = ComWrt(port, &b, 1);
  return r == 1 ? 1 : (r < 0 ? r : ReturnRS232Err());
}

int FlushInQ(int port) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  run_pumps();
  ::tcflush(p->fd, TCIFLUSH);
  return fail(RS_NO_ERROR);
}

int FlushOutQ(int port) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  ::tcflush(p->fd, TCOFLUSH);
  return fail(RS_NO_ERROR);
}

int GetInQLen(int port) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  run_pumps();
  int n = 0;
  for (int tries = 0;; ++tries) {
    if (::ioctl(p->fd, FIONREAD, &n) != 0) return fail(device_gone(errno) ? RS_IO_ERROR : RS_SYSTEM_ERROR);
    if (n > 0 || tries >= 5 || !bytes_in_flight()) break;
    pollfd pf{p->fd, POLLIN, 0};
    ::poll(&pf, 1, 1);
    run_pumps();
  }
  fail(RS_NO_ERROR);
  return n;
}

int GetOutQLen(int port) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  run_pumps();
  int n = 0;
  if (::ioctl(p->fd, TIOCOUTQ, &n) != 0) return fail(device_gone(errno) ? RS_IO_ERROR : RS_SYSTEM_ERROR);
  fail(RS_NO_ERROR);
  return n;
}

int SetComTime(int port, double seconds) {
  Port *p = open_port(port);
  if (!p) return ReturnRS232Err();
  if (seconds < 0) return fail(RS_BAD_SETTINGS);
  p->timeout = seconds;
  return fail(RS_NO_ERROR);
}

int ReturnRS232Err(void) { return platform::serial::state().error; }
