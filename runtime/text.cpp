// Text functions with the default ("C") locale's behaviour: each byte is the UTF-16 unit
// of the same value, and only ASCII letters and digits are classified.
#include <stddef.h>
#include <wchar.h>

extern "C" {

size_t strlen(const char* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

size_t wcslen(const wchar_t* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

static wchar_t fold_ascii(wchar_t unit) {
    return (unit >= L'A' && unit <= L'Z') ? unit + (L'a' - L'A') : unit;
}

int _wcsicmp(const wchar_t* left, const wchar_t* right) {
    for (;; ++left, ++right) {
        wchar_t a = fold_ascii(*left);
        wchar_t b = fold_ascii(*right);
        if (a != b || a == 0) {
            return static_cast<int>(a) - static_cast<int>(b);
        }
    }
}

size_t mbstowcs(wchar_t* destination, const char* source, size_t capacity) {
    size_t count = 0;
    while (source[count] != 0) {
        if (destination != nullptr) {
            if (count == capacity) {
                return count;
            }
            destination[count] = static_cast<unsigned char>(source[count]);
        }
        ++count;
    }
    if (destination != nullptr && count < capacity) {
        destination[count] = 0;
    }
    return count;
}

int iswdigit(wint_t unit) {
    return unit >= L'0' && unit <= L'9';
}
}
