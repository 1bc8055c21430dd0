#pragma once

#include <stddef.h>

// Writes value in decimal, zero-padded to at least min_digits, and a NUL. Returns the
// number of characters, or 0 (with output untouched) when they and the NUL do not fit.
size_t format_decimal(char* output, size_t capacity, long long value, int min_digits);
