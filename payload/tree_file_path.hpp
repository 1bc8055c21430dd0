#pragma once

#include <stddef.h>

// Paths of the launcher's own files in the root of an unpacked tree (its stamp, its lock),
// whose names are ASCII constants shared with talvik pack. A path that does not fit is a
// limit stop, as for every path of the run.

// path = directory, a backslash and name.
void make_tree_file_path(wchar_t* path, size_t capacity, const wchar_t* directory, const char* name);
// Appends "-<process id in 8 hex digits>.tmp": a temporary name of this launcher's own beside
// the file that path names, so that launchers at work at once never share one.
void append_temporary_suffix(wchar_t* path, size_t capacity);
