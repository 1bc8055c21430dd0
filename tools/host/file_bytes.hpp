#pragma once

#include "resources/byte_writer.hpp"

#include <filesystem>

// The whole file; throws ToolError "cannot read <what> <path>" when it cannot be opened.
Bytes read_file_bytes(const std::filesystem::path& path, const char* what);
