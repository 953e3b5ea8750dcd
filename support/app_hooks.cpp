#include "support/app_hooks.h"

#include <sys/statvfs.h>
#include <unistd.h>

__attribute__((weak)) void shutdown(void) {}

__attribute__((weak)) int hardware = 1;

__attribute__((weak)) int IsDriveReady(const char *drive, int *ready) {
  if (ready == nullptr || drive == nullptr) return -1;
  const char *where = *drive != '\0' ? drive : ".";
  struct statvfs st {};
  *ready = statvfs(where, &st) == 0 && (st.f_flag & ST_RDONLY) == 0 && access(where, W_OK) == 0;
  return 0;
}
