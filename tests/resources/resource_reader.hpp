#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Reads a resource section back, for the tests of the section and of whole images.

struct ResourceLeaf {
    std::uint32_t type, id, language;
    std::vector<unsigned char> data;
};

// The three levels of a resource directory (type, name, language) down to the data, for a
// section whose first byte lies at section_rva; every leaf's data must lie in the section.
std::vector<ResourceLeaf> read_resource_section(std::span<const unsigned char> section,
                                                std::uint32_t section_rva);
