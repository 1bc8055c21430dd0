#pragma once

#include <stddef.h>

#include "paths/path_capacity.hpp"
#include "payload/format.hpp"

// The entry being unpacked, shared by the extraction that fills it and the stamp that
// records it: its name as the stream gives it and its path under the target directory.
constexpr size_t entry_name_capacity = max_entry_name_units + 1;
extern wchar_t entry_name[entry_name_capacity];
extern wchar_t entry_path[path_capacity];
