#pragma once

#include <stddef.h>

// Writes every entry of the stream under target_directory, leaving alone files whose
// CRC-32 already matches, and records the first entry's path as child_executable_path.
// Returns after the end marker; every failure ends the process.
void extract_payload();

// Bodies pass through this one buffer on their way from the reader to the file.
constexpr size_t copy_buffer_size = 32768;
extern unsigned char copy_buffer[copy_buffer_size];

// Directories known to exist, seeded with the expansion of "{HOME}".
constexpr int created_directory_cache_capacity = 1024;
struct CreatedDirectoryCache {
    wchar_t* entries[created_directory_cache_capacity];
    // Made by this run (rather than found existing): a file in it cannot be on disk yet.
    bool made_now[created_directory_cache_capacity];
    int count;
};
extern CreatedDirectoryCache created_directory_cache;

// True when the directory exists afterwards, as far as the launcher can tell.
bool ensure_directory(const wchar_t* path);
// True when this run created the directory, so no earlier file can be in it.
bool directory_made_now(const wchar_t* path);
// Creates every missing ancestor directory of a file path; callers ignore the result.
bool ensure_parent_directories(const wchar_t* path);
