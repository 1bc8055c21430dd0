#pragma once

// Directories known to exist, seeded with the expansion of "{HOME}", so that the many files
// of one directory cost one directory check.
constexpr int created_directory_cache_capacity = 1024;
struct CreatedDirectoryCache {
    wchar_t* entries[created_directory_cache_capacity];
    // Made by this run (rather than found existing) while it held the extraction lock
    // without a break since; cleared when it gives the lock up.
    bool made_now[created_directory_cache_capacity];
    int count;
};
extern CreatedDirectoryCache created_directory_cache;

// True when the directory exists afterwards, as far as the launcher can tell.
bool ensure_directory(const wchar_t* path);
// True when this run created the directory (see made_now).
bool directory_made_now(const wchar_t* path);
// Clears made_now for every directory: the lock was given up.
void forget_directories_made_now();
// Creates every missing ancestor directory of a file path; callers ignore the result.
bool ensure_parent_directories(const wchar_t* path);
