#pragma once

#include <stdint.h>

#include <zstd.h>

// The one streaming reader over the attached data's frame. Decoded bytes wait in a fixed
// window and are handed out in exactly the amounts asked for.
constexpr size_t decode_window_size = 131072;

struct PayloadReader {
    ZSTD_DCtx* context;
    ZSTD_inBuffer input;
    // Between decoder calls: dst is the window, size the end of valid bytes, pos the read position.
    ZSTD_outBuffer window;
};

extern PayloadReader payload_reader;

// True when the block starts with 'K','A','Y'.
bool attached_data_has_header(const unsigned char* data, uint64_t length);

// Allocates the window, creates the decoder and points it at the frame (the bytes after
// the header). An allocation failure reports "Error, couldn't allocate memory.".
void open_payload_reader(const unsigned char* frame, uint64_t frame_length);

// Copies exactly count decoded bytes to destination, or ends the process with the decode message.
void read_payload_bytes(void* destination, uint64_t count);

// Frees the decoder (its result ignored), then the window.
void close_payload_reader();
