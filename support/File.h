#pragma once
// File object: one open file in a small record that remembers its handle, its
// path, whether it is open, and the reason of the last failure as a code whose
// name (bfile_error_strings) doubles as an error identifier for `error`.
// Every operation checks the state first, sets the code and returns -1 on
// failure; nothing is shown to the operator.
#include <cstdint>

struct QvFileHeader;  // support/Qv_file.h

// Paths hold at most 259 characters and the NUL.
constexpr int FILE_PATH_SIZE = 260;

// Record states.
enum { FILE_STATE_EMPTY = 0, FILE_STATE_OPEN = 1, FILE_STATE_CLOSED = 2 };

// Error codes, the index into bfile_error_strings.
enum {
  BFILE_CLOSED = 0,  // success; also an operation that needs an open file on a closed record
  BFILE_EXIST = 1,
  BFILE_NOTEXIST = 2,
  BFILE_OVERFLOW = 3,  // a tagged-file section or list too long for its header field
  BFILE_EMPTY = 4,     // operation on an empty record
  BFILE_NOTEMPTY = 5,  // open or create on a record that is not empty
  BFILE_OPEN = 6,      // missing file, path too long, or the system refused
  BFILE_CREATE = 7,
  BFILE_REMOVE = 8,
  BFILE_EOF = 9,
  BFILE_REOPEN = 10,
  BFILE_CLOSE = 11,
  BFILE_TELL = 12,
  BFILE_SEEK = 13,
  BFILE_READ = 14,
  BFILE_WRITE = 15,
  IO_ERR_USCMD = 16,  // not set here; the application's own identifier
  BFILE_ERROR_COUNT = 17
};
extern const char *const bfile_error_strings[BFILE_ERROR_COUNT];

struct FileRecord {
  int32_t handle;               // valid in state 1 only
  int32_t error;                // code of the last operation
  int32_t state;                // FILE_STATE_*
  char path[FILE_PATH_SIZE];    // full path; empty in state 0
  QvFileHeader *header;         // owned by the tagged-file container, else null
};

// Lifecycle.
int create_empty_file(FileRecord *record);
int create_file_class(FileRecord *record, const char *path);
int open_file(FileRecord *record, const char *path);
int create_file(FileRecord *record, const char *path);
// As create_file, on a file the caller has made and holds open as handle (a
// descriptor of the file layer, owned by the record from now on), so that no
// name is looked up again; -1 with "BFILE_NOTEMPTY" or "BFILE_OPEN".
int attach_file(FileRecord *record, int handle, const char *path);
int reopen_file(FileRecord *record);
int close_file(FileRecord *record);
int close_and_free(FileRecord *record);
int unlink_file(FileRecord *record);  // the same as close_and_free; deletes nothing
int exist_file(const char *path);

// Position.
int64_t tell_file(FileRecord *record);
int64_t seek_file(FileRecord *record, int64_t offset, int origin);
int64_t rewind_file(FileRecord *record);
int64_t end_file(FileRecord *record);
int64_t size_file(FileRecord *record);

// Input and output. Counts are bytes.
int64_t read_file(FileRecord *record, void *buffer, int64_t count);
// One CR LF line into buffer (length bytes with the NUL): its length + 1; -3
// when no CR came within length - 1 characters (those are kept and the
// position is behind them); -1 at the end of the file or on an error. A last
// line without CR LF is returned as a line.
int read_file_c(FileRecord *record, char *buffer, int length);
int64_t write_file(FileRecord *record, const void *buffer, int64_t count);
// Writes text with a CR before every LF; the bytes written, or -1.
int64_t write_file_c(FileRecord *record, const char *text);
// Formats (at most 1023 characters, the rest is cut) and writes like write_file_c.
int64_t writef(FileRecord *record, const char *format, ...) __attribute__((format(printf, 2, 3)));
int error_file(FileRecord *record);
int state_file(FileRecord *record);

// Without a caller in the program.
// Closes an open file and empties the record (the record's memory is its user's).
int delete_file(FileRecord *record);
// Copies to out (FILE_PATH_SIZE bytes) the path from its last separator on,
// that separator included, cut at the last dot.
int get_filename(FileRecord *record, char *out);
// A second handle on the kept path, the record untouched; -1 on failure.
int dup_file(FileRecord *record);
// Reads at most length - 1 bytes, packs the text in place (CR dropped, runs of
// blanks and tabs to one blank, repeated LF to one) and stores a byte 1 behind
// it; returns the packed length or -1.
int64_t read_compressed(FileRecord *record, char *buffer, int64_t length);
