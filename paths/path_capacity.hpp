#pragma once

#include <stddef.h>

// Capacity of every path buffer of the run, in UTF-16 units including the terminator: the
// classic 4095-character limit of a path the launcher builds. Every write into such a buffer
// checks room first.
constexpr size_t path_capacity = 4096;
