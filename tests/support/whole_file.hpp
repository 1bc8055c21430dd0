#pragma once

#include <string>

// The bytes of a file, read with full sharing (a writer may still hold it), or "<missing>".
std::string read_whole_file(const std::wstring& path);
