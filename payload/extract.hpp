#pragma once

#include <stddef.h>

#include "paths/path_capacity.hpp"
#include "payload/format.hpp"

// Writes every entry of the stream under target_directory, leaving alone files whose
// CRC-32 already matches, and records the first entry's path as child_executable_path.
// Returns after the end marker; every failure ends the process.
void extract_payload();

// The entry being unpacked: its name as the stream gives it and its path under
// target_directory.
constexpr size_t entry_name_capacity = max_entry_name_units + 1;
extern wchar_t entry_name[entry_name_capacity];
extern wchar_t entry_path[path_capacity];
// The first entry's path: the child to start.
extern wchar_t child_executable_path[path_capacity];

// Bodies pass through this one buffer on their way from the reader to the file.
constexpr size_t copy_buffer_size = 32768;
extern unsigned char copy_buffer[copy_buffer_size];
