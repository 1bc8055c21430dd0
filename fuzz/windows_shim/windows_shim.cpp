#include <windows.h>

#include <cstdlib>

#include "diag/stop.hpp"

// VirtualAlloc gives zeroed pages; the parser's tables rely on that.
LPVOID VirtualAlloc(LPVOID, SIZE_T size, DWORD, DWORD) {
    return std::calloc(1, size);
}

BOOL VirtualFree(LPVOID address, SIZE_T, DWORD) {
    std::free(address);
    return 1;
}

HANDLE CreateFileW(const wchar_t*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    std::abort();
}

BOOL GetFileSizeEx(HANDLE, LARGE_INTEGER*) {
    std::abort();
}

BOOL ReadFile(HANDLE, void*, DWORD, DWORD*, void*) {
    std::abort();
}

BOOL CloseHandle(HANDLE) {
    std::abort();
}

HANDLE FindFirstFileExW(const wchar_t*, FINDEX_INFO_LEVELS, void*, FINDEX_SEARCH_OPS, void*, DWORD) {
    std::abort();
}

BOOL FindNextFileW(HANDLE, WIN32_FIND_DATAW*) {
    std::abort();
}

BOOL FindClose(HANDLE) {
    std::abort();
}

// Names the stamp's temporary file, which the parser never writes.
DWORD GetCurrentProcessId() {
    std::abort();
}

// The launcher's limit stop, for a path the parser never builds.
void stop_at_limit() {
    std::abort();
}
