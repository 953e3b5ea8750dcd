#pragma once
// Paths and directories: splitting, full paths, completion against a directory,
// default names and extensions, writability probes.
//
// Parsing accepts '\' and '/' as separators and a drive ("C:") at the start;
// paths composed here use '/'. A path that begins with a separator or a drive
// is rooted. Case is kept. Path buffers hold QV_PATH_SIZE bytes; a composition
// that would not fit fails and leaves the caller's buffers as they were.
#include <cstddef>

constexpr size_t QV_PATH_SIZE = 260;

// fnsplit flags.
enum {
  FNSPLIT_WILDCARDS = 1,  // '*' or '?' in the name or extension
  FNSPLIT_EXTENSION = 2,
  FNSPLIT_FILENAME = 4,
  FNSPLIT_DIRECTORY = 8,
  FNSPLIT_DRIVE = 16
};
// Buffer sizes of the parts, the NUL included; longer parts are cut.
constexpr size_t FNSPLIT_DRIVE_SIZE = 3;
constexpr size_t FNSPLIT_DIR_SIZE = 256;
constexpr size_t FNSPLIT_NAME_SIZE = 256;
constexpr size_t FNSPLIT_EXT_SIZE = 32;

// Splits path into drive ("C:"), directory (with its separators as written),
// name and extension (from the last '.', which it includes); any buffer may be
// null, every given one is emptied first. Returns the flags of the parts found.
int fnsplit(const char *path, char *drive, char *dir, char *name, char *ext);

// The toolbox's split into drive ("C:"), directory (with its separators as
// written) and file name (name and extension); any buffer may be null. drive
// holds FNSPLIT_DRIVE_SIZE bytes, dir and file QV_PATH_SIZE. 0, or -1 (every
// given buffer empty) when a part would be cut.
int SplitPath(const char *path, char *drive, char *dir, char *file);

namespace qv {
// The full path: relative paths are taken from the current directory, "." and
// ".." components resolved (never above the root), separators written as '/',
// no trailing separator except for the root. Into buffer (size bytes), or into
// a new block of its exact size (to free()) when buffer is null. Null when the
// current directory cannot be had or the result does not fit.
char *_fullpath(char *buffer, const char *path, size_t size);
}  // namespace qv

// Completes path (in/out) against dir (in/out): a rooted path is made full, a
// relative directory is taken under dir, a bare name with extension is looked
// for in the current directory and otherwise put into dir (with a name buffer)
// or the current directory; dir becomes the directory of a path made full, and
// name (QV_PATH_SIZE bytes, may be null) receives name plus extension. Other
// paths stay as they are. 0, or -1 when a result would not fit.
int get_dir(char *path, char *dir, char *name);

// Completes a file name: without a name (or with wildcards) path becomes
// default_path when one is given; else default_ext is appended unless the
// extension equals it (case ignored), and a path without directory or drive is
// put into default_dir. Returns the split flags of the result, the name flag
// cleared for wildcards; -1 (path unchanged) when the result would not fit.
int check_filepath(char *path, const char *default_path, const char *default_dir, const char *default_ext);

// 1 when the file exists or a file can be created in its directory.
int IsPathValid(const char *path);
// 0 when the path's own directory is usable (out receives path); else 1 and
// out becomes default_dir plus the path's file name; -1 when that would not fit.
int GetValidPath(const char *path, const char *default_dir, char *out);
// *writable 1 when the file can be opened for writing (an existing one) or
// created (a missing one, removed again); 0, or -91 when the existence test
// fails, -93 for any other answer of it.
int MyGetFileWritability(const char *path, int *writable);
