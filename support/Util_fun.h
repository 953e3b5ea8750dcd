#pragma once
// The utility library: parameter files, value clamps and numeric helpers,
// paths and directories.
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_parfile.h"
#include "support/Util_fun_paths.h"
