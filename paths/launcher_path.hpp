#pragma once

#include <stddef.h>

// The launcher's own path and buffers made from it: one unit more than a path, as the system
// may deliver a full 4096-character path.
constexpr size_t launcher_path_capacity = 4097;

// The launcher's own full path (long form, as the system reports it), looked up once and
// kept in a process-wide buffer of launcher_path_capacity units; the caller must not change
// it. Empty when the system could not say (asked again on the next call).
const wchar_t* get_launcher_path();

// Whether the system cut the kept path to fit the buffer: the real path is longer.
bool launcher_path_was_cut();

// Empties the kept path, so that a test of the lookup starts from a process that has not
// looked it up yet.
void forget_launcher_path();
