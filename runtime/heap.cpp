// The C heap functions over the process heap.
#include <windows.h>

#include <stddef.h>

extern "C" {

void* malloc(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void* calloc(size_t count, size_t size) {
    if (size != 0 && count > static_cast<size_t>(-1) / size) {
        return nullptr;
    }
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * size);
}

void* realloc(void* block, size_t size) {
    if (block == nullptr) {
        return malloc(size);
    }
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void free(void* block) {
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

size_t wcslen(const wchar_t* text);

wchar_t* _wcsdup(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(malloc(bytes));
    if (copy != nullptr) {
        const wchar_t* from = text;
        wchar_t* to = copy;
        while ((*to++ = *from++) != 0) {
        }
    }
    return copy;
}
}
