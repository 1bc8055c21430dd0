// Byte copies and compares. Built without builtins and loop-pattern detection, so the
// compiler cannot turn these loops back into calls to themselves.
#include <stddef.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
    void* result = destination;
    // rep movsb is the fast path on every CPU with ERMS, and small enough for the image.
    asm volatile("rep movsb" : "+D"(destination), "+S"(source), "+c"(count) : : "memory");
    return result;
}

void* memmove(void* destination, const void* source, size_t count) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    if (to <= from || to >= from + count) {
        return memcpy(destination, source, count);
    }
    while (count > 0) {
        --count;
        to[count] = from[count];
    }
    return destination;
}

void* memset(void* destination, int value, size_t count) {
    void* result = destination;
    asm volatile("rep stosb" : "+D"(destination), "+c"(count) : "a"(value) : "memory");
    return result;
}

int memcmp(const void* left, const void* right, size_t count) {
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    for (size_t i = 0; i < count; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}
}
