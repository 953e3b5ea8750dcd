// Stand-in for the error-reporting object until the real one is merged in;
// delete this file then. It only defines what support/Qv_err.h declares.
#include "support/Qv_err.h"

int error(const char *id, ...) {
  (void)id;
  return 0;
}
char *error_dat = nullptr;
char *error_out = nullptr;
int errmsg_to_screen = 0;
int errmsg_to_file = 0;
int GenWrFileErr = 0;
char GenWrFileErrStr[256] = "";
