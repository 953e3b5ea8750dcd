#include "support/app_hooks.h"

__attribute__((weak)) void shutdown(void) {}

__attribute__((weak)) int hardware = 1;
