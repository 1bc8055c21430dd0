#pragma once

#include <stddef.h>

// Scans over UTF-16 text in fixed buffers, where a terminator may be missing.

// Units before the terminator, looking at no more than capacity of them; capacity when none
// of those is the terminator.
size_t bounded_length(const wchar_t* text, size_t capacity);

// The unit with an ASCII lower-case letter made upper case, every other unit unchanged.
wchar_t ascii_upper(wchar_t unit);

// Where the last backslash stands among the first length units of text; length when none
// of them is one.
size_t last_backslash(const wchar_t* text, size_t length);

// out = directory, one backslash and the first name_units units of name, terminated. False,
// with out untouched, when that needs more than capacity units: each caller decides what a
// path that does not fit means.
bool join_path(wchar_t* out, size_t capacity, const wchar_t* directory, const wchar_t* name,
               size_t name_units);
