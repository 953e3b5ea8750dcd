#pragma once
// Tagged file container, the format of setup and data files: a 42-byte
// checksummed little-endian header, then CR LF text sections that open with a
// tag line ("*IDENTIFICATION", "*SETUP", "*SETUP_") and close with "*END".
// All input and output goes through the File object; the header lives behind
// the FileRecord's header pointer from open/create to unlink_qvfile.
//
// Lists passed to the writers and returned by the readers are NUL-separated
// strings ended by an empty string (a double NUL).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/File.h"

constexpr int QV_HEADER_SIZE = 42;
constexpr uint16_t QV_HEADER_SUM = 0x55AA;     // the 16-bit sum of all 21 header words
constexpr uint16_t QV_MARK_VALID = 0x5555;     // written with the header
constexpr uint16_t QV_MARK_INVALID = 0x1111;   // set in memory by a failed check

// The header as fields; on disk it is serialised field by field (offsets in
// the comments), never as this struct.
struct QvFileHeader {
  uint16_t kind;              //  0: bits 0-3 revision, bits 4-15 module-type code
  int32_t ident_offset;       //  2
  int16_t ident_length;       //  6: bytes of the identification section
  int32_t setup_offset;       //  8
  uint16_t setup_length;      // 12: bytes of the setup section
  int32_t block_offset;       // 14: first data block
  int16_t block_count;        // 18
  uint32_t block_length;      // 20: common (or largest) data-block length
  int32_t descr_offset;       // 24: description area
  int16_t descr_item_size;    // 28
  int16_t descr_item_count;   // 30
  uint16_t mark;              // 32: QV_MARK_*
  uint32_t ext_block_count;   // 34: extended data-block count
  uint16_t word19;            // 38: per-block extension length
  uint16_t checksum;          // 40
};

void qv_header_to_bytes(const QvFileHeader *header, uint8_t bytes[QV_HEADER_SIZE]);
void qv_header_from_bytes(QvFileHeader *header, const uint8_t bytes[QV_HEADER_SIZE]);
// The 16-bit sum of the 21 little-endian words.
uint16_t qv_header_word_sum(const uint8_t bytes[QV_HEADER_SIZE]);
// Sets the checksum so that the word sum is QV_HEADER_SUM; returns it.
uint16_t prepare_hdr_chksum(QvFileHeader *header);

// Filled when a setup section carries a binary parameter block: its first 14
// bytes and its first four bytes as an int. Cleared by every setup read.
extern unsigned char QVbin_hdr[14];
extern int bin_para_found;

// Opening: the path, with ext (when not null) in place of its extension.
// open_qvfile leaves the file closed (state 2), create_qvfile truncates it and
// leaves it open for put_info. Both start with a zeroed header. 1 or -1.
int open_qvfile(FileRecord *record, const char *path, const char *ext);
int create_qvfile(FileRecord *record, const char *path, const char *ext);
// As create_qvfile, on a new empty file already open as handle (attach_file).
int create_qvfile_on(FileRecord *record, int handle, const char *path);
// Closes, forgets the path and frees the header; close_and_free's result.
int unlink_qvfile(FileRecord *record);

// Identification: the file's revision (1 when it is 0) when the header is valid
// and the identification holds ident; else 0. flag 1 admits the "LMR" family.
int valid_qvfile(FileRecord *record, const char *ident, short flag);
// The same without the flag; code receives the module-type code when the file
// is accepted with a revision above 11, else 0.
int valid_qvfile_ext(FileRecord *record, const char *ident, int *code);

// Whether the file holds every byte its header gives the identification and
// setup sections: 1 it does, 0 it ends inside one (a cut file), -1 the file
// has no valid header.
int qv_sections_whole(FileRecord *record);

// Section readers. buffer null asks for the size to allocate; the pointer value
// -1 only runs the search (result 0); else the compressed lines are copied as a
// list and the result is the bytes counted (the lengths plus one NUL each, plus
// 1). A line longer than one read comes whole, as far as its section goes. A
// buffer must hold the size the query returned. Records in state 2 are
// reopened and closed again.
int get(FileRecord *record, const char *section, const char *ident, char *buffer);
int get_info(FileRecord *record, char *buffer, const char *ident);  // ident's own line left out
int get_body(FileRecord *record, char *buffer);
int get_bin_body(FileRecord *record, char *buffer);

// Section writers, on a record opened by create_qvfile. 0, or -1 when a seek
// or write failed (the record keeps the code) or a section does not fit its
// length field (BFILE_OVERFLOW). put_info writes at offset 42 with code's bits
// 4-15 as module-type code; put_body writes at the current position.
int put(FileRecord *record, const char *section, const char *ident, int code, const char *lines, size_t size = 0);
int put_info(FileRecord *record, const char *ident, int code, const char *lines);
// size: the bytes of lines the caller holds; a binary parameter block
// ("BIN_PARA_BEGIN:", NUL, i32 length, data) right behind the list's double
// NUL is written only when it lies wholly within them. 0: the list alone.
int put_body(FileRecord *record, const char *lines, size_t size = 0);
// A raw setup section of an i32 length followed by that many bytes.
int put_bin_body(FileRecord *record, const char *block);

// Line form of the readers: cut at ';', tab/LF/CR/FF to blanks, trimmed, runs of
// blanks collapsed. Returns the new length.
int qv_strcompress(char *line);
// The strings of a list, then a null pointer; an empty list yields one empty
// string. _ext also gives the bytes up to and including the last string's NUL.
std::vector<const char *> qv_strconvert(const char *list);
std::vector<const char *> qv_strconvert_ext(const char *list, size_t *bytes);

// Without a caller in the program.
// The older 26-byte header form: 1 when a line of the identification ends in pattern.
int valid_ruk_file(FileRecord *record, const char *pattern);
// Reads the description area (item size x item count bytes) into buffer when
// one is given; returns that product, 0 without a valid header.
int get_measure_info(FileRecord *record, void *buffer, int16_t *item_size, int16_t *item_count);
