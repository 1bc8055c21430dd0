#pragma once

#include "tools/image/pe_file.hpp"

#include <cstdint>
#include <span>

// A launcher stub that images can be made from, with what the writer needs to know of it.
struct CheckedStub {
    std::span<const unsigned char> bytes;
    PeImage pe;
    std::size_t descriptor_offset = 0; // file offset of its one descriptor
};

// Checks the bytes the way the writer relies on them: a PE32+ image for x86-64, page-sized
// sections and a file alignment that divides a page, room in the headers for two more section
// headers, the file ending with its last section, no resources, signature or section of the
// names talvik adds, and exactly one descriptor, empty. Throws ToolError naming the first
// fault.
CheckedStub check_stub(std::span<const unsigned char> bytes);

// The checksum recorded for the embedded stub when talvik is built: CRC-32 of its bytes.
std::uint32_t stub_checksum(std::span<const unsigned char> bytes);
