#pragma once

// Attached data made to hurt a reader: blocks that expand far beyond their size, made
// directly with zstd's raw and RLE blocks or by compressing a repetitive entry stream.

#include <cstddef>
#include <cstdint>
#include <vector>

using BlockBytes = std::vector<unsigned char>;

// One entry "a" that declares body_size bytes, followed by rle_blocks blocks of 128 KiB of
// zeros each (4 bytes of frame per block): the frame ends long before the body does.
BlockBytes endless_body_block(std::uint64_t body_size, std::size_t rle_blocks);

// entries entries named "a", each of size 0, and the end marker, compressed with a window
// of 2^window_log: 16 bytes of stream per entry, next to nothing of frame.
BlockBytes many_empty_entries_block(std::uint64_t entries, int window_log);

// entries entries whose names are name_units units of 'n', each of size 0.
BlockBytes long_names_block(std::size_t name_units, std::size_t entries, int window_log);
