#pragma once

#include "resources/byte_writer.hpp"
#include "resources/res_file.hpp"

#include <vector>

// The entries of a 32-bit .res file as written by write_res_file: ordinal types and
// names, neutral language. Throws std::runtime_error for anything else or a cut file.
std::vector<ResourceEntry> read_res_file(const Bytes& res);

// A COFF object for x86-64 whose .rsrc section holds the resource directory (type,
// name, language, each level sorted by id) and the data of every entry as it stands,
// which the linker merges into the image's resource section. Resource compilers do the
// same, but rewrite version blocks on the way (string value lengths in units rather
// than bytes); this keeps every byte. No timestamp, so the object is reproducible.
Bytes write_resource_object(const std::vector<ResourceEntry>& entries);
