#include "platform/win/clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace platform::clock {
namespace {

bool virtual_on = false;
double virtual_now = 0.0;
std::time_t fixed_wall = 0;
SleepObserver observer;

double real_now() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return duration<double>(steady_clock::now() - start).count();
}

}  // namespace

double now() { return virtual_on ? virtual_now : real_now(); }

void sleep(double seconds) {
  if (!(seconds > 0.0)) seconds = 0.0;
  if (virtual_on) {
    virtual_now += seconds;
  } else if (seconds > 0.0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }
  if (observer) observer(seconds);
}

void spin(double seconds) {
  if (!(seconds > 0.0)) seconds = 0.0;
  if (virtual_on) {
    virtual_now += seconds;
  } else {
    const double until = real_now() + seconds;
    while (real_now() < until) {
    }
  }
  if (observer) observer(seconds);
}

void use_virtual(bool on) {
  virtual_on = on;
  virtual_now = 0.0;
}

bool is_virtual() { return virtual_on; }

void advance(double seconds) {
  if (virtual_on && seconds > 0.0) virtual_now += seconds;
}

void set_wall_time(std::time_t t) { fixed_wall = t; }

std::time_t wall_time() { return fixed_wall != 0 ? fixed_wall : std::time(nullptr); }

SleepObserver set_sleep_observer(SleepObserver obs) {
  SleepObserver old = std::move(observer);
  observer = std::move(obs);
  return old;
}

}  // namespace platform::clock

double Timer(void) {
  // Millisecond resolution, as the operator-facing timer has always had.
  // The small margin keeps a whole millisecond that floating point put just
  // below itself (1.001 s read as 1.000).
  const double t = platform::clock::now();
  return std::floor(t * 1000.0 + 1e-6) / 1000.0;
}

void Delay(double seconds) { platform::clock::sleep(seconds); }

void Sleep(unsigned int milliseconds) { platform::clock::sleep(milliseconds / 1000.0); }

namespace {
std::tm local_now() {
  const std::time_t t = platform::clock::wall_time();
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}
}  // namespace

char *DateStr(void) {
  static char buf[16];
  const std::tm tm = local_now();
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
  return buf;
}

char *TimeStr(void) {
  static char buf[16];
  const std::tm tm = local_now();
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}
