#include "tests/support/shutdown_hook.h"

#include <cstdio>

#include "support/app_hooks.h"

namespace test_shutdown {
int calls = 0;
void (*also)() = nullptr;
}  // namespace test_shutdown

void shutdown(void) {
  ++test_shutdown::calls;
  std::fputs("shutdown called\n", stderr);
  if (test_shutdown::also != nullptr) test_shutdown::also();
}
