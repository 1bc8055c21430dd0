// The launcher's reading of attached data: the header test, the stream reader over the
// zstd decoder (built as the image builds it) and the walk of extract_payload over names,
// sizes, checksums and bodies, with its name checks. Whatever the block, the reader must
// hand out exactly what it is asked for or stop with the decode message; no name past the
// checks may lead out of the tree. The launcher's stops end this one input instead.

#include <csetjmp>
#include <cstdint>
#include <cstdlib>

#include "diag/report.hpp"
#include "payload/current_entry.hpp"
#include "payload/entry_name_check.hpp"
#include "payload/format.hpp"
#include "payload/reader.hpp"

namespace {

std::jmp_buf stopped;
wchar_t name[entry_name_capacity];
unsigned char body[32768];

// Mirrors read_entry_name in extract.cpp: the name unit by unit, refused past the buffer
// or by the check; false for the end marker.
bool read_name() {
    size_t length = 0;
    for (;;) {
        uint16_t unit = 0;
        read_payload_bytes(&unit, sizeof unit);
        if (unit == 0) {
            break;
        }
        if (length + 1 >= entry_name_capacity) {
            report_decode_failure();
        }
        name[length++] = static_cast<wchar_t>(unit);
    }
    name[length] = 0;
    if (length > 0 && !entry_name_stays_in_tree(name, length)) {
        report_decode_failure();
    }
    return length > 0;
}

void walk_entries() {
    while (read_name()) {
        // A name that passed must hold no drive, stream or absolute start.
        if (name[0] == L'\\' || name[0] == L'/') {
            std::abort();
        }
        uint64_t size = 0;
        uint32_t checksum = 0;
        read_payload_bytes(&size, sizeof size);
        read_payload_bytes(&checksum, sizeof checksum);
        while (size > 0) {
            uint64_t chunk = size < sizeof body ? size : sizeof body;
            read_payload_bytes(body, chunk);
            size -= chunk;
        }
    }
}

} // namespace

[[noreturn]] void report_decode_failure() {
    std::longjmp(stopped, 1);
}

[[noreturn]] void report_allocation_failure() {
    std::longjmp(stopped, 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!attached_data_has_header(data, size)) {
        return 0;
    }
    if (setjmp(stopped) == 0) {
        open_payload_reader(data + attached_data_header_size, size - attached_data_header_size);
        walk_entries();
    }
    close_payload_reader();
    return 0;
}
