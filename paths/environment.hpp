#pragma once

#include <stddef.h>

// Environment variables by ASCII name (widened into a 40-unit buffer: 39 characters at most,
// longer is a limit stop), and ASCII widening.
constexpr size_t environment_name_capacity = 40;
constexpr size_t environment_value_capacity = 32768;

// A new heap copy of the value, or nullptr when unset, empty, too long or out of memory.
wchar_t* read_environment_wide(const wchar_t* name);
wchar_t* read_environment(const char* name);
// The system's result is ignored.
void set_environment(const char* name, const wchar_t* value);
void unset_environment(const char* name);
// Appends text to what destination holds, one unit per byte; a byte that does not give
// exactly one unit, or no room, is a limit stop.
void widen_ascii(wchar_t* destination, size_t capacity, const char* text);
