#include "payload/reader.hpp"

#include <stdlib.h>
#include <string.h>

#include "diag/report.hpp"
#include "payload/format.hpp"
#include "payload/progress_counters.hpp"

PayloadReader payload_reader;

bool attached_data_has_header(const unsigned char* data, uint64_t length) {
    if (length < attached_data_header_size) {
        return false;
    }
    for (size_t at = 0; at < attached_data_header_size; ++at) {
        if (data[at] != attached_data_header[at]) {
            return false;
        }
    }
    return true;
}

void open_payload_reader(const unsigned char* frame, uint64_t frame_length) {
    void* window = malloc(decode_window_size);
    if (window == nullptr) {
        report_allocation_failure();
    }
    payload_reader.context = ZSTD_createDCtx();
    if (payload_reader.context == nullptr) {
        report_allocation_failure();
    }
    payload_reader.input.src = frame;
    payload_reader.input.size = frame_length;
    payload_reader.input.pos = 0;
    // An empty window, so that the first request decodes.
    payload_reader.window.dst = window;
    payload_reader.window.size = 0;
    payload_reader.window.pos = 0;
}

void read_payload_bytes(void* destination, uint64_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    ZSTD_inBuffer& input = payload_reader.input;
    ZSTD_outBuffer& window = payload_reader.window;
    // A call that fills the whole window may leave decoded bytes inside the decoder even
    // when all input is consumed; then the decoder must be asked again.
    bool filled = false;
    while (count > 0) {
        size_t available = window.size - window.pos;
        if (available > 0) {
            size_t take = count < available ? static_cast<size_t>(count) : available;
            memcpy(out, static_cast<unsigned char*>(window.dst) + window.pos, take);
            window.pos += take;
            out += take;
            count -= take;
            continue;
        }
        if (input.pos >= input.size && !filled) {
            // The input is used up and the decoder holds nothing more, yet bytes are owed.
            report_decode_failure();
        }
        window.size = decode_window_size;
        window.pos = 0;
        size_t result = ZSTD_decompressStream(payload_reader.context, &window, &input);
        filled = window.pos == decode_window_size;
        if (ZSTD_isError(result)) {
            report_decode_failure();
        }
        count_decoded_bytes(window.pos);
        // A call that produced nothing leaves the window empty, and the loop asks again; the
        // decoder itself reports an error after repeated calls without progress.
        window.size = window.pos;
        window.pos = 0;
    }
}

void close_payload_reader() {
    ZSTD_freeDCtx(payload_reader.context);
    payload_reader.context = nullptr;
    free(payload_reader.window.dst);
    payload_reader.window.dst = nullptr;
    payload_reader.window.size = 0;
    payload_reader.window.pos = 0;
}
