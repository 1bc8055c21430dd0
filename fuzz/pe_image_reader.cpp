// talvik's reading of an image: the PE headers and section table, the descriptor found in
// them, and the texts and attached data it points to. Any bytes may be given to talvik
// list; each is read or refused with a ToolError, never read out of bounds.

#include <cstdint>
#include <span>

#include "tools/host/tool_error.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/pe_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const unsigned char> image(data, size);
    try {
        PeImage pe = parse_pe_image(image);
        for (const PeSection& section : pe.sections) {
            pe_bytes_from(image, pe, section.virtual_address);
        }
        read_image_constants(image);
    } catch (const ToolError&) {
    }
    return 0;
}
