#include "paths/path_text.hpp"

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
