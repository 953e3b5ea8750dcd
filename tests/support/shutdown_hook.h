#pragma once
// The test program's stand-in for the application's shutdown(): it counts
// its calls and writes a marker to standard error, so that a test of a
// fatal path can see that it ran, and in which order.
namespace test_shutdown {
extern int calls;
// Run inside shutdown() when set (e.g. a report of its own).
extern void (*also)();
}  // namespace test_shutdown
