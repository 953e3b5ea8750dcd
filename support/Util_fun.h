#pragma once
// The utility library: parameter files, value clamps and numeric helpers,
// paths and directories, application registration and registry settings,
// file dialogs with history, panel geometry and settings records, titles,
// dates and timing, hover help.
#include "support/Util_fun_dialogs.h"
#include "support/Util_fun_geometry.h"
#include "support/Util_fun_help.h"
#include "support/Util_fun_numeric.h"
#include "support/Util_fun_parfile.h"
#include "support/Util_fun_paths.h"
#include "support/Util_fun_registry.h"
#include "support/Util_fun_titles.h"
