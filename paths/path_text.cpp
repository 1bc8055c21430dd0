#include "paths/path_text.hpp"

#include <string.h>
#include <wchar.h>

size_t bounded_length(const wchar_t* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != 0) {
        ++length;
    }
    return length;
}

wchar_t ascii_upper(wchar_t unit) {
    return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - (L'a' - L'A')) : unit;
}

size_t last_backslash(const wchar_t* text, size_t length) {
    for (size_t at = length; at > 0; --at) {
        if (text[at - 1] == L'\\') {
            return at - 1;
        }
    }
    return length;
}

bool join_path(wchar_t* out, size_t capacity, const wchar_t* directory, const wchar_t* name,
               size_t name_units) {
    size_t directory_units = wcslen(directory);
    if (directory_units + 1 + name_units + 1 > capacity) {
        return false;
    }
    memmove(out, directory, directory_units * sizeof(wchar_t));
    out[directory_units] = L'\\';
    memmove(out + directory_units + 1, name, name_units * sizeof(wchar_t));
    out[directory_units + 1 + name_units] = 0;
    return true;
}
