#include "paths/environment.hpp"

#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include "diag/stop.hpp"
#include "paths/path_text.hpp"

namespace {

// Process-wide rather than on the stack: 64 KiB is too much for one frame, and only the
// main thread reads the environment.
wchar_t value_buffer[environment_value_capacity];

// Fills name (environment_name_capacity units) with the widened ASCII name.
void widen_name(wchar_t* name, const char* ascii_name) {
    name[0] = 0;
    widen_ascii(name, environment_name_capacity, ascii_name);
}

} // namespace

void widen_ascii(wchar_t* destination, size_t capacity, const char* text) {
    for (size_t at = 0; text[at] != 0; ++at) {
        const char byte_text[2] = {text[at], 0};
        wchar_t units[2];
        if (mbstowcs(units, byte_text, 2) != 1) {
            stop_at_limit();
        }
        size_t length = bounded_length(destination, capacity);
        if (length + 2 > capacity) {
            stop_at_limit();
        }
        destination[length] = units[0];
        destination[length + 1] = 0;
    }
}

wchar_t* read_environment_wide(const wchar_t* name) {
    DWORD length = GetEnvironmentVariableW(name, value_buffer, environment_value_capacity);
    // 0 covers both an unset variable and an empty value; a result at or above the capacity
    // is the size the value would need.
    if (length == 0 || length >= environment_value_capacity) {
        return nullptr;
    }
    return _wcsdup(value_buffer);
}

wchar_t* read_environment(const char* name) {
    wchar_t wide_name[environment_name_capacity];
    widen_name(wide_name, name);
    return read_environment_wide(wide_name);
}

void set_environment(const char* name, const wchar_t* value) {
    wchar_t wide_name[environment_name_capacity];
    widen_name(wide_name, name);
    SetEnvironmentVariableW(wide_name, value);
}

void unset_environment(const char* name) {
    wchar_t wide_name[environment_name_capacity];
    widen_name(wide_name, name);
    SetEnvironmentVariableW(wide_name, nullptr);
}
