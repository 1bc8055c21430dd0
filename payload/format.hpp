#pragma once

#include <stddef.h>
#include <stdint.h>

#include "paths/path_capacity.hpp"

// Layout of the attached data: 'K','A','Y', one zstd frame, zero bytes up to a multiple
// of 8, then the 64-bit offset of that count itself. The frame decodes to the entry
// stream: per entry a UTF-16LE name and its 0x0000, a 64-bit size, a 32-bit CRC-32
// (0 stored as 1) and the body; an empty name ends the stream. Integers are little-endian.
constexpr unsigned char attached_data_header[3] = {'K', 'A', 'Y'};
constexpr size_t attached_data_header_size = sizeof attached_data_header;
constexpr size_t attached_data_alignment = 8;
// The 64-bit count that closes the block.
constexpr size_t attached_data_trailer_size = 8;

// The longest entry name the launcher takes, in UTF-16 units without the terminator; a longer
// one is undecodable data. Joined to the target directory with one backslash, a name must fit
// a path buffer with its terminator.
constexpr size_t max_entry_name_units = 1023;
constexpr size_t max_entry_path_units = path_capacity - 1;

// Window sizes a frame may ask for, as powers of two: the smallest window zstd encodes, and
// the decoder's default limit, which the launcher never raises.
constexpr int min_window_log = 10;
constexpr int max_window_log = 27;

// The checksum 0 means "no usable file on disk", so a CRC-32 of 0 is stored and compared as 1.
constexpr uint32_t checksum_from_crc(uint32_t crc) {
    return crc == 0 ? 1 : crc;
}
