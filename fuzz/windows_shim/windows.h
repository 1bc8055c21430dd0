#pragma once

// The few Win32 names that payload/stamp_check.cpp uses, so that its parser builds for the
// host's fuzzer (with -fshort-wchar, as wchar_t is 16 bits on Windows). Only the memory
// calls work (windows_shim.cpp); the file and listing calls stop the fuzzer, since the
// parser under test never reaches them.

#include <stddef.h>
#include <stdint.h>

using BOOL = int;
using DWORD = uint32_t;
using SIZE_T = size_t;
using HANDLE = void*;
using LPVOID = void*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
#define MAX_PATH 260
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 1u
#define FILE_SHARE_WRITE 2u
#define FILE_SHARE_DELETE 4u
#define OPEN_EXISTING 3u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define MEM_COMMIT 0x1000u
#define MEM_RESERVE 0x2000u
#define MEM_RELEASE 0x8000u
#define PAGE_READWRITE 4u
#define FIND_FIRST_EX_LARGE_FETCH 2u

union LARGE_INTEGER {
    int64_t QuadPart;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD nFileSizeHigh, nFileSizeLow, dwReserved0, dwReserved1;
    wchar_t cFileName[MAX_PATH];
    wchar_t cAlternateFileName[14];
};

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD nFileSizeHigh, nFileSizeLow;
};

enum FINDEX_INFO_LEVELS { FindExInfoStandard, FindExInfoBasic };
enum FINDEX_SEARCH_OPS { FindExSearchNameMatch };

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protection);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type);
HANDLE CreateFileW(const wchar_t* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped);
BOOL CloseHandle(HANDLE handle);
HANDLE FindFirstFileExW(const wchar_t* pattern, FINDEX_INFO_LEVELS level, void* data,
                        FINDEX_SEARCH_OPS search, void* filter, DWORD flags);
BOOL FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE listing);
DWORD GetCurrentProcessId();
