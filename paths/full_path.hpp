#pragma once

#include "paths/path_capacity.hpp"

// The directory the run unpacks into: the expanded path template, then its full path.
extern wchar_t target_directory[path_capacity];

// Makes target_directory a full path in place; a failure or a result of 4096 units or more
// is a limit stop.
void normalize_target_directory();
