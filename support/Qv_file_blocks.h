#pragma once
// Data blocks of a tagged file: behind the setup section a description area
// and a chain of blocks, each a 22-byte block header followed by its data
// (stored as it is, or packed as a zip archive with the one entry
// "data_block"). The same blocks can be built in, and read from, a memory
// image of such a file. Nothing is shown to anyone: the writers return 0 (or
// -1 where they return counts) and the readers -1 when they fail.
//
// The description and the blocks always lie behind the setup section: while
// the header's offsets still name the setup section, they start at its end.
#include <cstdint>

#include "support/File.h"
#include "support/Qv_file.h"
#include "support/qv_zip.h"  // save_abort, load_abort and the progress hooks

constexpr int QV_BLOCK_HEADER_SIZE = 22;
constexpr uint16_t QV_BLOCK_PACKED = 0x1000;        // type bit: the data is a zip archive
constexpr uint32_t QV_MAX_BLOCK_LENGTH = 0x8000000;  // put_data_block's largest common length
constexpr int32_t QV_MAX_DESCRIPTION = 0xFFFF;       // bytes of a description area
constexpr int QV_REVISION_NUMBERED = 10;             // files whose blocks are found by number
// get_data_info flags.
constexpr int QV_INFO_NIBBLE_4_5 = 0x100;  // a block type's low nibble is 4 or 5
constexpr int QV_INFO_NIBBLE_HIGH = 0x800;  // a block type's low nibble is above 9

// The block header as fields; on disk it is serialised field by field.
struct QvBlockHeader {
  uint16_t number;       //  0: block number (revision 10); else byte 0 bits 32-39 of the
                         //     data offset, byte 1 those of the next offset
  uint32_t data_offset;  //  2: absolute offset of the data (low 32 bits)
  uint32_t next_offset;  //  6: absolute offset of the next block header (low 32 bits)
  uint16_t type;         // 10
  int16_t descr_number;  // 12
  uint32_t value;        // 14: the caller's value, the search key outside revision 10
  uint32_t length;       // 18: the data's length unpacked
};
void qv_block_to_bytes(const QvBlockHeader *block, uint8_t bytes[QV_BLOCK_HEADER_SIZE]);
void qv_block_from_bytes(QvBlockHeader *block, const uint8_t bytes[QV_BLOCK_HEADER_SIZE]);

// Writes item_size x item_count bytes of data as the description area (at most
// QV_MAX_DESCRIPTION), stores both numbers and the common block length in the
// header and puts the first block behind the area. Once blocks exist only a
// description of the same size may be written again. The bytes written, or -1.
int put_measure_info(FileRecord *record, const void *data, int16_t item_size, int16_t item_count,
                     uint32_t block_length);

// Appends a block of the header's block length (at most QV_MAX_BLOCK_LENGTH),
// counts it and rewrites the header; the file is left closed. Type 1 is stored
// as 3. Returns the file's end position, or 0.
int64_t put_data_block(FileRecord *record, uint32_t value, uint16_t type, int16_t descr_number, const void *data);
// The same with its own length: with QV_BLOCK_PACKED in type the data is
// packed first (unpacked, with the bit cleared, when that fails). Types 17,
// low nibble 8 and low nibble 0xA are stored as 19, 9 and 0xB. Unpacked data
// of 128 MiB or more goes in 128 MiB pieces with ZipPartDone and
// update_zip_progress after each; save_abort stops it, and then nothing of the
// block remains. The header's block length grows to length.
int64_t put_long_data_block(FileRecord *record, uint32_t value, uint16_t type, uint32_t length, int16_t descr_number,
                            const void *data);
// As put_data_block, with the header's word 19 bytes of extension between the
// block header and the data.
int64_t put_extended_data_block(FileRecord *record, uint32_t value, uint16_t type, int16_t descr_number,
                                const void *data, const void *extension);

// In a memory image: destination is where the block goes, position its offset
// in the image. Counts the block in header and recomputes its checksum;
// returns the position behind the block, or 0.
int64_t put_data_block_to_buffer(void *destination, QvFileHeader *header, int64_t position, uint32_t value,
                                 uint16_t type, int16_t descr_number, const void *data);
int64_t put_long_data_block_to_buffer(void *destination, QvFileHeader *header, int64_t position, uint32_t value,
                                      uint16_t type, uint32_t length, int16_t descr_number, const void *data);

// Readers. From start (the first block when start < 1) the chain is walked by
// its next offsets, at most the extended block count of blocks (revision 10:
// as long as the offsets grow), for the block whose value (revision 10: number)
// is key. Its data goes to destination, which holds the header's block length;
// the type and description number to the outputs (either may be null).
// Returns that block's next offset, or -1 (not found, a chain that leaves the
// image or file, a block larger than the header's block length).
// The image reader copies packed blocks as they are stored.
int64_t get_data_block_from_buffer(const void *image, int64_t image_size, const QvFileHeader *header, uint32_t key,
                                   int64_t start, uint16_t *type, int16_t *descr_number, void *destination);
// The file reader unpacks packed blocks; unpacked data of 128 MiB or more is
// read in 128 MiB pieces with LoadPartDone and update_load_progress after
// each, and load_abort stops it (-1).
int64_t get_data_block(FileRecord *record, uint32_t key, int64_t start, uint16_t *type, int16_t *descr_number,
                       void *destination);
// Also reads the word-19 bytes of extension into extension.
int64_t get_extended_data_block(FileRecord *record, uint32_t key, int64_t start, uint16_t *type,
                                int16_t *descr_number, void *destination, void *extension);

// Reads the header again and walks every block: per block (the first capacity
// of them) its type, description number and unpacked length; the number of
// blocks and the header's block length. Returns the QV_INFO_* flags, or -1.
int get_data_info(FileRecord *record, uint16_t *types, int16_t *descr_numbers, uint32_t *lengths,
                  uint32_t capacity, uint32_t *count, uint32_t *block_length);
// The same, and each block's extension (word-19 bytes each) into extensions.
int get_extended_data_info(FileRecord *record, uint16_t *types, int16_t *descr_numbers, uint32_t *lengths,
                           void *extensions, uint32_t capacity, uint32_t *count, uint32_t *block_length);

// Packs length bytes as a zip archive with the entry "data_block" and writes
// it at the open file's current position. The archive's size, or -1.
int64_t compress_buf_and_write_to_file(FileRecord *record, const void *data, uint32_t length);

namespace qv_blocks_testing {
// Test seam: the piece size of long blocks (128 MiB); returns the old one.
int64_t set_piece_size(int64_t bytes);
}  // namespace qv_blocks_testing
