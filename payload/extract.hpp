#pragma once

#include <stddef.h>

// Writes every entry of the stream under target_directory, leaving alone files whose
// CRC-32 already matches, and records the first entry's path as child_executable_path.
// Returns after the end marker; every failure ends the process.
void extract_payload();

// Bodies pass through this one buffer on their way from the reader to the file.
constexpr size_t copy_buffer_size = 32768;
extern unsigned char copy_buffer[copy_buffer_size];
