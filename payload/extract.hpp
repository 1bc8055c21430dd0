#pragma once

#include <stddef.h>

#include "paths/path_capacity.hpp"

// Writes every entry of the stream under directory, leaving alone files whose CRC-32
// already matches. Returns after the end marker with the first entry's path, the child to
// start (child_executable_path; empty when the stream holds no entry). Every failure ends
// the process.
const wchar_t* extract_payload(const wchar_t* directory);

// The first entry's path, filled by extract_payload alone.
extern wchar_t child_executable_path[path_capacity];

// Bodies pass through this one buffer on their way from the reader to the file.
constexpr size_t copy_buffer_size = 32768;
extern unsigned char copy_buffer[copy_buffer_size];
