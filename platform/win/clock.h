#pragma once
// Time for the whole program: every wait and clock read goes through here, so
// tests can run on a virtual clock where a sleep advances time at once.
#include <ctime>
#include <functional>

namespace platform::clock {

// Seconds on the monotonic clock (virtual time when the virtual clock is on).
double now();
// Blocks for the given seconds; on the virtual clock only advances time.
void sleep(double seconds);
// Waits a few microseconds by reading the clock until they have passed (a
// sleep that short costs more CPU than it waits, and lasts far longer). On
// the virtual clock only advances time. Counts as a sleep for the observer.
void spin(double seconds);

// Virtual clock for tests. Switching it on starts virtual time at 0.
void use_virtual(bool on);
bool is_virtual();
void advance(double seconds);

// Wall-clock time for dates and times; tests may fix it (0 = real time).
void set_wall_time(std::time_t t);
std::time_t wall_time();

// Observer called after every sleep with the seconds slept (the simulated
// hardware uses it to finish its timed work). Returns the previous observer.
using SleepObserver = std::function<void(double)>;
SleepObserver set_sleep_observer(SleepObserver obs);

}  // namespace platform::clock

// Seconds since the first call of the program's clock, millisecond resolution.
double Timer(void);
// Waits the given seconds.
void Delay(double seconds);
// Waits the given milliseconds.
void Sleep(unsigned int milliseconds);
// "MM-DD-YYYY" and "HH:MM:SS" of the current local time, in static buffers.
char *DateStr(void);
char *TimeStr(void);
