#include "paths/full_path.hpp"

#include <windows.h>

#include <string.h>

#include "diag/stop.hpp"

wchar_t target_directory[path_capacity];

void normalize_target_directory() {
    wchar_t full_path[path_capacity];
    DWORD length = GetFullPathNameW(target_directory, path_capacity, full_path, nullptr);
    // A result at or above the capacity is the size the full path would need.
    if (length == 0 || length >= path_capacity) {
        stop_at_limit();
    }
    memcpy(target_directory, full_path, length * sizeof(wchar_t));
    target_directory[length] = 0;
}
