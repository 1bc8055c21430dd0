#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>
#include <filesystem>

// The whole of a regular file of at most max_size bytes. Throws ToolError "cannot read <what>
// <path>: <why>" when it cannot be opened, is no regular file (a FIFO, a device, a folder:
// refused at once, without reading or waiting) or is larger.
Bytes read_file_bytes(const std::filesystem::path& path, const char* what, std::uint64_t max_size);
