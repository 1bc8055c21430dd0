#pragma once

#include <stddef.h>

// Process-wide buffers of the run sequence. Capacities count UTF-16 units including the
// terminator; every write into them checks room first.
constexpr size_t path_capacity = 4096;
constexpr size_t entry_name_capacity = 1024;
// The launcher's own path and its directory: one more than a path, as the system may
// deliver a full 4096-character path.
constexpr size_t launcher_path_capacity = 4097;

extern wchar_t target_directory[path_capacity];
extern wchar_t entry_path[path_capacity];
extern wchar_t entry_name[entry_name_capacity];
extern wchar_t child_executable_path[path_capacity];
extern wchar_t launcher_directory[launcher_path_capacity];
