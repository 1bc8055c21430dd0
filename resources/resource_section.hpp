#pragma once

#include "resources/byte_writer.hpp"
#include "resources/resource_entry.hpp"

#include <cstdint>
#include <vector>

// The contents of an image's .rsrc section placed at section_rva: the resource directory
// (type, name, language, each level sorted by id, no timestamps) followed by the data of
// every entry as it stands, each 8-byte aligned; the data entries hold the data's address
// relative to the image base. Resource compilers rewrite version blocks on the way (string
// value lengths in units rather than bytes); this keeps every byte. Throws
// std::runtime_error for two entries of the same type and id.
Bytes write_resource_section(const std::vector<ResourceEntry>& entries, std::uint32_t section_rva);
