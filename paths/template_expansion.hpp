#pragma once

#include <stddef.h>

// Expands {TOKEN} placeholders into output (capacity units, terminator included).
// False when the expansion cannot be done (unknown token, failed lookup, no room for
// literal text); output then holds a prefix the caller must not use.
bool expand_path_template(wchar_t* output, const wchar_t* path_template, size_t capacity);
