#include "payload/tree_file_path.hpp"

#include <windows.h>

#include <wchar.h>

#include "diag/stop.hpp"
#include "paths/path_text.hpp"

namespace {

// The longest name of the launcher's own files, terminator included.
constexpr size_t tree_file_name_capacity = 32;

} // namespace

void make_tree_file_path(wchar_t* path, size_t capacity, const wchar_t* directory, const char* name) {
    wchar_t wide[tree_file_name_capacity];
    size_t units = 0;
    for (; name[units] != 0; ++units) {
        if (units + 1 >= tree_file_name_capacity) {
            stop_at_limit();
        }
        wide[units] = static_cast<wchar_t>(name[units]);
    }
    if (!join_path(path, capacity, directory, wide, units)) {
        stop_at_limit();
    }
}

void append_temporary_suffix(wchar_t* path, size_t capacity) {
    constexpr wchar_t digits[] = L"0123456789abcdef";
    constexpr wchar_t extension[] = L".tmp";
    constexpr size_t suffix_units = 1 + 8 + sizeof extension / sizeof(wchar_t) - 1;
    size_t length = wcslen(path);
    if (length + suffix_units + 1 > capacity) {
        stop_at_limit();
    }
    DWORD id = GetCurrentProcessId();
    wchar_t* out = path + length;
    *out++ = L'-';
    for (int shift = 28; shift >= 0; shift -= 4) {
        *out++ = digits[(id >> shift) & 0xF];
    }
    for (wchar_t unit : extension) {
        *out++ = unit;
    }
}
