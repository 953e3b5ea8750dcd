#pragma once
// Writing a whole tagged setup file so that a failure never costs the file
// that was there before: the file is written as a temporary file in the same
// directory (".<name>.trq-XXXXXX", locked while it is written), flushed to
// disk, and only then renamed over the old one. A symbolic link is kept: the
// file it points to is the one replaced. Each save first removes the
// temporaries of the same file that killed saves left (never a locked one).
#include <cstddef>

#include "support/File.h"

// Writes the identification list (with ident and the module-type code) and
// the body list of body_size bytes to path through record (which must be
// empty and is empty again afterwards). 0, or -1 after reporting the file
// error's name with path through error(); the old file is then untouched.
int write_setup_file(FileRecord *record, const char *path, const char *ident, int code, const char *info,
                     const char *body, std::size_t body_size);
