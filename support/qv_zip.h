#pragma once
// Zip container: PKWARE ZIP archives, or one gzip stream (RFC 1952), written
// into and read from a file, an open handle or memory. Entries are stored or
// raw-deflated (zlib), optionally with the traditional PKWARE encryption and a
// caller's password. Every call returns a code (ZIP_OK or one of ZIP_ERR_*);
// a writer keeps its first error and skips every later write.
//
// Handles are the system's file descriptors; the writer and the reader
// duplicate a handle they are given and close their copy. Entry names use '/'
// between components; folder entries end in '/'. No ZIP64: what does not fit
// 32-bit sizes and offsets or 65,534 entries is refused with ZIP_ERR_TOOBIG.
#include <cstddef>
#include <cstdint>

// Codes of the writer and the reader.
enum {
  ZIP_OK = 0,
  ZIP_ERR_OPEN = 1,         // a file cannot be created or opened
  ZIP_ERR_NOMEM = 2,        // out of memory
  ZIP_ERR_WRITE = 3,        // a write to the target failed
  ZIP_ERR_RESOURCE = 4,     // the requested data resource is missing
  ZIP_ERR_NOTFOUND = 5,     // no entry of that name
  ZIP_ERR_NOTZIP = 6,       // no end record, or no gzip magic
  ZIP_ERR_READ = 7,         // a read from the source failed or came short
  ZIP_ERR_ENDRECORD = 8,    // the end record names other disks, or its sizes do not fit
  ZIP_ERR_ARGS = 9,         // bad argument, unknown or closed writer or reader
  ZIP_ERR_NOTMEM = 10,      // ZipGetMemory on an archive not in its own memory
  ZIP_ERR_MEMSIZE = 11,     // memory archive too small (or of size 0)
  ZIP_ERR_TOOBIG = 12,      // beyond 32-bit sizes or offsets, or too many entries
  ZIP_ERR_NAME = 13,        // an entry name that is empty, too long or escapes the base directory
  ZIP_ERR_SEEK = 16,        // the source cannot seek
  ZIP_ERR_UNSUPPORTED = 17, // compression method, strong encryption or ZIP64 not supported
  ZIP_ERR_CORRUPT = 18,     // inflate error, CRC-32 or size mismatch, damaged records
  ZIP_ERR_PASSWORD = 19,    // the check byte of the encryption header differs
  ZIP_ERR_ABORT = 20,       // stopped by save_abort, load_abort or the abort option
  ZIP_ERR_FULL = 21,        // the output buffer holds less than the entry
};

// ZipOptions bits.
constexpr uint32_t ZIP_OPTION_GZIP = 0x80000000u;
constexpr uint32_t ZIP_OPTION_ABORT = 0x40000000u;

// UnzipFindItem flag.
constexpr uint32_t UNZIP_IGNORE_CASE = 0x1;

// Entry names handed out hold at most this many bytes with the NUL.
constexpr int ZIP_NAME_SIZE = 260;

struct QvZipWriter;
struct QvUnzipReader;
struct QvZipMapping;
using ZipHandle = QvZipWriter *;
using UnzipHandle = QvUnzipReader *;
// An archive's own memory, handed to the caller by ZipGetMemory.
using ZipMappingHandle = QvZipMapping *;

// Progress and abort of the current entry. ZipPartDone: source bytes read of
// its size (1 for an empty source); update_zip_progress, when set, is called
// after every source read; save_abort nonzero stops the compressor (ZIP_ERR_ABORT).
extern double ZipPartDone;
extern void (*update_zip_progress)(void);
extern int save_abort;
// LoadPartDone: bytes extracted of the entry's size; update_load_progress is
// called after every piece; load_abort nonzero stops the extraction (ZIP_ERR_ABORT).
extern double LoadPartDone;
extern void (*update_load_progress)(void);
extern int load_abort;

// --- writer ------------------------------------------------------------------
// The writer is stored through out (null on failure). password null or "" for
// no encryption.
int ZipCreateHandle(ZipHandle *out, int handle, const char *password);
int ZipCreateFileA(ZipHandle *out, const char *path, const char *password);
int ZipCreateFileW(ZipHandle *out, const wchar_t *path, const char *password);
// memory null: a new block of size bytes of the archive's own; size 0 gives
// ZIP_ERR_MEMSIZE.
int ZipCreateBuffer(ZipHandle *out, void *memory, size_t size, const char *password);

// Entries. Names ending in one of the extensions of packed formats (".zip",
// ".gz", ...) are stored, all others deflated. The Raw variants write the data
// as a gzip stream instead (no archive), as does any add in gzip mode; a
// writer holds one gzip stream at most.
int ZipAddFileA(ZipHandle zip, const char *name, const char *path);
int ZipAddFileW(ZipHandle zip, const wchar_t *name, const wchar_t *path);
int ZipAddFileRawA(ZipHandle zip, const char *name, const char *path);
int ZipAddFileRawW(ZipHandle zip, const wchar_t *name, const wchar_t *path);
int ZipAddBufferA(ZipHandle zip, const char *name, const void *data, size_t length);
int ZipAddBufferW(ZipHandle zip, const wchar_t *name, const void *data, size_t length);
int ZipAddBufferRaw(ZipHandle zip, const char *name, const void *data, size_t length);
// Reads the handle from its position to its end.
int ZipAddHandleA(ZipHandle zip, const char *name, int handle);
int ZipAddHandleW(ZipHandle zip, const wchar_t *name, int handle);
int ZipAddHandleRaw(ZipHandle zip, const char *name, int handle);
// Reads exactly length bytes from a pipe (less is ZIP_ERR_READ).
int ZipAddPipeA(ZipHandle zip, const char *name, int handle, int64_t length);
int ZipAddPipeW(ZipHandle zip, const wchar_t *name, int handle, int64_t length);
int ZipAddPipeRaw(ZipHandle zip, const char *name, int handle, int64_t length);
// A folder entry without data; '/' is appended when missing.
int ZipAddFolderA(ZipHandle zip, const char *name);
int ZipAddFolderW(ZipHandle zip, const wchar_t *name);
// Every file and folder below path, recursively, as name/<relative path>
// (name null or "": the relative paths alone). Symbolic links to folders are
// not followed.
int ZipAddDirA(ZipHandle zip, const char *name, const char *path);
int ZipAddDirW(ZipHandle zip, const wchar_t *name, const wchar_t *path);

// Writes the central directory (not in gzip mode), releases the target and
// frees the writer; returns the first error.
int ZipClose(ZipHandle zip);
// For an archive in its own memory: writes the central directory and hands out
// base and length. With mapping the writer is freed and the caller owns the
// memory (ZipCloseMapping); without it the writer stays, must still be closed,
// and the memory goes with it. Any other archive: ZIP_ERR_NOTMEM with null and 0.
int ZipGetMemory(ZipHandle zip, void **base, uint32_t *length, ZipMappingHandle *mapping);
// Releases memory handed out by ZipGetMemory; 0, or -1 for an unknown mapping.
int ZipCloseMapping(ZipMappingHandle mapping);
// Memory archives only (else ZIP_ERR_ARGS): starts again at offset 0 with no
// entries, the error and the abort option cleared.
int ZipResetMemory(ZipHandle zip);
// ORs ZIP_OPTION_GZIP and ZIP_OPTION_ABORT into the writer; other bits: ZIP_ERR_ARGS.
int ZipOptions(ZipHandle zip, uint32_t flags);
// The text of a code into buffer (length bytes with the NUL, cut to fit);
// returns the characters stored.
int ZipFormatMessageA(int code, char *buffer, size_t length);
int ZipFormatMessageW(int code, wchar_t *buffer, size_t length);

// --- reader ------------------------------------------------------------------
// One entry. attributes: the archive's external attributes (the high 16 bits
// a Unix mode when there is one); mtime: the stamp as seconds since 1970.
struct UnzipEntry {
  int32_t index;  // in: the entry wanted; -1 asks for the number of entries, returned here
  uint32_t attributes;
  uint16_t dos_time;
  uint16_t dos_date;
  uint32_t crc;  // CRC-32 of the data
  int64_t mtime;
  int64_t compressed_size;
  int64_t uncompressed_size;
  // '/' between components; '\' read as '/'; ".", "..", drives and leading
  // separators removed.
  char name[ZIP_NAME_SIZE];
};
static_assert(offsetof(UnzipEntry, mtime) == 16 && offsetof(UnzipEntry, name) == 40, "one layout in both builds");
struct UnzipEntryW {
  int32_t index;
  uint32_t attributes;
  uint16_t dos_time;
  uint16_t dos_date;
  uint32_t crc;  // CRC-32 of the data
  int64_t mtime;
  int64_t compressed_size;
  int64_t uncompressed_size;
  wchar_t name[ZIP_NAME_SIZE];
};

int UnzipOpenFileA(UnzipHandle *out, const char *path, const char *password);
int UnzipOpenFileW(UnzipHandle *out, const wchar_t *path, const char *password);
// A gzip file: one entry, named after the stream's stored name (or the file's
// name without ".gz"). The entry is the first member; opening inflates it once
// to find its trailer, and bytes after the member are passed over. A damaged
// member opens with the size of what it yields before the damage.
int UnzipOpenFileRawA(UnzipHandle *out, const char *path, const char *password);
int UnzipOpenFileRawW(UnzipHandle *out, const wchar_t *path, const char *password);
int UnzipOpenHandle(UnzipHandle *out, int handle, const char *password);
int UnzipOpenHandleRaw(UnzipHandle *out, int handle, const char *password);
// The memory stays the caller's and must outlive the reader. memory null names
// one of the program's data resources, of which it has none: ZIP_ERR_RESOURCE.
int UnzipOpenBuffer(UnzipHandle *out, const void *memory, size_t length, const char *password);
int UnzipOpenBufferRaw(UnzipHandle *out, const void *memory, size_t length, const char *password);

int UnzipGetItemA(UnzipHandle unzip, UnzipEntry *entry);
int UnzipGetItemW(UnzipHandle unzip, UnzipEntryW *entry);
// Finds the entry named entry->name (with '\' read as '/'); fills entry.
int UnzipFindItemA(UnzipHandle unzip, UnzipEntry *entry, uint32_t flags);
int UnzipFindItemW(UnzipHandle unzip, UnzipEntryW *entry, uint32_t flags);
// Extracts entry->index to name (null: the entry's name) below the base
// directory, creating missing folders; a folder entry only creates its folder.
// A name that would leave the base directory is refused (ZIP_ERR_NAME).
int UnzipItemToFileA(UnzipHandle unzip, const char *name, const UnzipEntry *entry);
int UnzipItemToFileW(UnzipHandle unzip, const wchar_t *name, const UnzipEntryW *entry);
int UnzipItemToHandle(UnzipHandle unzip, int handle, const UnzipEntry *entry);
// At most length bytes; an entry that does not fit gives ZIP_ERR_FULL with the
// part that fits in memory.
int UnzipItemToBuffer(UnzipHandle unzip, void *memory, size_t length, const UnzipEntry *entry);
// The base directory for UnzipItemToFile* ("" is the current one).
int UnzipSetBaseDirA(UnzipHandle unzip, const char *dir);
int UnzipSetBaseDirW(UnzipHandle unzip, const wchar_t *dir);
int UnzipClose(UnzipHandle unzip);
int UnzipFormatMessageA(int code, char *buffer, size_t length);
int UnzipFormatMessageW(int code, wchar_t *buffer, size_t length);

// Packs a curve of 16-bit samples (length bytes, length / 2 samples) into
// output (length bytes): per sample 3 bytes 00 lo hi for the first one or a
// change of 64 or more, one byte 01-3F for an increase, 40|n for a decrease by
// n, and runs of equal samples as 80|n (n < 128) or 80 lo hi (up to 65,535;
// longer runs are split). When the packed form would reach length - 3 bytes
// the samples are copied as they are. Returns the bytes in output: the packed
// length, or length.
int compress_curve(const uint16_t *samples, uint8_t *output, int length);
