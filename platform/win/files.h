#pragma once
// File functions of the run-time engine and the programmer's toolbox, over POSIX.
// Handles are small ints; files are always binary (CR LF is part of the formats
// the program writes). Positions and counts are 64 bits wide.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// OpenFile modes and actions.
enum { VAL_READ_WRITE = 0, VAL_READ_ONLY = 1, VAL_WRITE_ONLY = 2 };
enum { VAL_TRUNCATE = 0, VAL_APPEND = 1, VAL_OPEN_AS_IS = 2 };
enum { VAL_BINARY = 0, VAL_ASCII = 1 };

// Opens path; returns a handle or -1. VAL_TRUNCATE and VAL_APPEND create a
// missing file; VAL_OPEN_AS_IS never creates one. The type is accepted and
// ignored: no line-end translation is done.
int OpenFile(const char *path, int mode, int action, int type);
// 0, or -1 when the handle is not open or closing failed.
int CloseFile(int handle);
// The count read (0 at the end of the file), or -1.
int64_t ReadFile(int handle, void *buffer, int64_t count);
// The count written, or -1.
int64_t WriteFile(int handle, const void *buffer, int64_t count);
// Moves the position by offset from origin 0 start, 1 current, 2 end; returns
// the new position or -1.
int64_t SetFilePtr(int handle, int64_t offset, int origin);

// Existence of a regular file: 1 exists, 0 does not (also for a directory), -1
// when the system cannot tell. The size is stored when size is not null.
int FileExists(const char *path, int64_t *size);
// 0 with the size of a regular file, or a negative code of the table below.
int GetFileSize(const char *path, int64_t *size);
// Attributes of a file: 0 a file, 1 a directory, a negative code when it
// cannot be had. Any flag pointer may be null; read_only is set when nobody
// may write the file by its permission bits.
int GetFileAttrs(const char *path, int *read_only, int *system, int *hidden, int *archive);

// Results of MakeDir and CopyFile (0 success).
enum {
  DIR_IO_PATH_NOT_FOUND = -1,  // a component of the path does not exist (CopyFile: the source)
  DIR_IO_ERROR = -3,           // any other failure of the system
  DIR_IO_NO_MEMORY = -4,
  DIR_IO_INVALID_PATH = -5,    // empty, too long, or a source that is no regular file
  DIR_IO_ACCESS_DENIED = -6,
  DIR_IO_DISK_FULL = -8,
  DIR_IO_EXISTS = -9,          // MakeDir: a directory or file of that name exists
};
// Makes one directory (its parent must exist).
int MakeDir(const char *path);
// Copies a regular file to target, or into target when that is a directory,
// keeping its permission bits. The copy is written beside the target under a
// temporary name and renamed over it when complete, so a failed copy leaves
// the target as it was. Copying a file onto itself changes nothing.
int CopyFile(const char *source, const char *target);
inline int CVI_CopyFile(const char *source, const char *target) { return CopyFile(source, target); }

// Code of the last file call of this layer, 0 after a success.
enum {
  FMT_IO_NO_ERROR = 0,
  FMT_IO_TOO_MANY_FILES = 1,
  FMT_IO_ERROR = 2,
  FMT_IO_FILE_NOT_FOUND = 3,
  FMT_IO_ACCESS_DENIED = 4,
  FMT_IO_DISK_FULL = 5,
  FMT_IO_BAD_HANDLE = 6,
};
int GetFmtIOError(void);
// A fixed text for a code (never null).
const char *GetFmtIOErrorString(int code);

// Break-on-library-errors switch: kept as a flag, nothing breaks on Linux.
int GetBreakOnLibraryErrors(void);
void DisableBreakOnLibraryErrors(void);
void EnableBreakOnLibraryErrors(void);
// Commit mode: writes reach the system at once anyway; returns the old mode.
int SetCommitMode(int commit);

// The run-time engine's prefixed names for the same calls.
inline int CVI_OpenFile(const char *path, int mode, int action, int type) {
  return OpenFile(path, mode, action, type);
}
inline int CVI_CloseFile(int handle) { return CloseFile(handle); }
inline int64_t CVI_ReadFile(int handle, void *buffer, int64_t count) { return ReadFile(handle, buffer, count); }
inline int64_t CVI_WriteFile(int handle, const void *buffer, int64_t count) {
  return WriteFile(handle, buffer, count);
}
inline int CVI_SetCommitMode(int commit) { return SetCommitMode(commit); }

namespace platform::files {

// Files the program opens by a name it was given are plain files: a FIFO
// would stop the open (or the reads) until some writer comes, a device may
// act on being opened, and neither is a file of ours.

// What a file of this type (st_mode) is when it is no plain file ("a FIFO",
// "a folder", "a device", "a socket", "a symbolic link"); null for a plain file.
const char *kind_of(unsigned mode);
// Opens path (relative to dir; AT_FDCWD for the working folder) with open's
// flags, never waiting: a name that is no plain file is refused before and
// after the open (one swapped in between), and the descriptor is blocking
// again when returned. -1 with errno set on failure; a refused file gives
// EISDIR (a folder) or EINVAL and, when refused is not null, a text such as
// "<path> is a FIFO, not a plain file" (else refused is emptied).
int open_plain_at(int dir, const char *path, int flags, std::string *refused = nullptr, unsigned create_mode = 0666);
int open_plain(const char *path, int flags, std::string *refused = nullptr);
// The same as a stdio stream; mode as fopen's ("r", "rb", "r+b", "a+", "w").
FILE *fopen_plain(const char *path, const char *mode, std::string *refused = nullptr);
// path for a report, with what it is when it names something that is no
// plain file: "/x/kmvusb.ini (a FIFO, not a plain file)".
std::string with_kind(const char *path);

// Fault injection for tests: the hook sees every call before the system does.
enum class Op { open, close, read, write, seek };
struct Fault {
  bool fail = false;          // the call returns -1 without touching the file
  int code = FMT_IO_ERROR;    // the GetFmtIOError code of that failure
  int64_t limit = -1;         // read/write: transfer at most this many bytes
};
using FaultHook = std::function<Fault(Op op, int handle, int64_t count)>;
// Installs the hook (an empty one switches injection off); returns the old one.
FaultHook set_fault_hook(FaultHook hook);

}  // namespace platform::files
