#pragma once
// Large-file access: the system's file calls with 64-bit positions and a
// process-wide last error that can be turned into a text or a pop-up.
// Handles are the system's file descriptors. Modes and actions have the
// values of OpenFile (platform/win/files.h).
#include <cstdint>

// Mode 0 read/write and 2 write-only open or create; any other mode opens an
// existing file read-only. Unless the mode is 1, action 1 puts the position at
// the end, any other at the start, and action 0 also truncates there.
// Returns the handle, or -1 (also when the truncation failed).
int OpenLargeFile(const char *path, int mode, int action);
// 0, or -1 when closing failed; the last error is left as it is.
int CloseLargeFile(int handle);
// The count moved, or -1 with the last error set.
int64_t ReadLargeFile(int handle, void *buffer, int64_t count);
int64_t WriteLargeFile(int handle, const void *buffer, int64_t count);
// Moves by unit * count bytes (64-bit product) from origin 0 start, 1 current,
// 2 end; 0 or -1.
int SetFilePtr64(int handle, uint32_t unit, int32_t count, int origin);

// The last error (the system's code, 0 after a success).
uint32_t GetLastLargeFileErr(void);
// "" for code 0, else "<operation> failed with error <last error>: <text of code>".
// Points to a buffer of this object that the next call overwrites.
char *GetLargeFileErrorString(uint32_t code);
// Shows a pending last error in a "File Access Error" pop-up and clears it;
// returns the code it found (0 when none was pending).
uint32_t CheckLastLargeFileErr(void);

// 0 with the size of a regular file in *size (when size is not null), or -1
// when the file cannot be opened for reading or is not a regular file.
int GetFileSize64(const char *path, int64_t *size);
// 1 when GetFileSize64 succeeds, else 0.
int FileExists64(const char *path, int64_t *size);

// The speaker: there is none to sound here; returns 0.
int SDK_Beep(int frequency, int duration);
