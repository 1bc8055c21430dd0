// Listing floor: the file-system work of a warm start that trusts its stamp, and nothing
// else. Lists TARGET_DIR and every directory below it once, with the basic information
// level and large fetch, and reads each file's size and last-write time.
//
//   list-floor.exe TARGET_DIR
//
// Prints work_us (the timed listing), files and directories.
#include <cwchar>
#include <string>
#include <vector>

#include "bench/floor_support.hpp"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fail("usage: list-floor.exe TARGET_DIR");
    }
    int64_t start = clock_now();
    std::vector<std::wstring> pending{argv[1]};
    int64_t files = 0;
    int64_t directories = 0;
    uint64_t sum = 0;
    while (!pending.empty()) {
        std::wstring directory = pending.back();
        pending.pop_back();
        ++directories;
        WIN32_FIND_DATAW found;
        HANDLE listing = FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &found,
                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (listing == INVALID_HANDLE_VALUE) {
            fail("cannot list", directory.c_str());
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
                    pending.push_back(directory + L"\\" + found.cFileName);
                }
                continue;
            }
            ++files;
            sum += found.nFileSizeLow + found.ftLastWriteTime.dwLowDateTime;
        } while (FindNextFileW(listing, &found));
        FindClose(listing);
    }
    int64_t end = clock_now();
    put_result("work_us", elapsed_us(start, end));
    put_result("files", files);
    put_result("directories", directories);
    put_result("checksum_of_metadata", static_cast<int64_t>(sum & 0xFFFF));
    return 0;
}
