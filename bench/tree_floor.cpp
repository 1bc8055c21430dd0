// Write and check floors: the file work of an unpack, and nothing else, over an entry
// stream already in memory.
//
//   tree-floor.exe write ENTRY_STREAM_FILE TARGET_DIR
//     every entry written as the launcher writes a missing file: each directory created
//     once, top level first; CREATE_ALWAYS; the body in WriteFile calls of 32,768 bytes.
//   tree-floor.exe probe-write ENTRY_STREAM_FILE TARGET_DIR
//     the same, but each file is first opened for reading, as the launcher's reuse test
//     does; on an empty tree every such open fails.
//   tree-floor.exe check ENTRY_STREAM_FILE TARGET_DIR
//     every file of an intact tree opened, mapped and checksummed with zlib's crc32, as
//     the launcher's reuse test does.
//
// Prints work_us (the timed file work), files, bytes, and for check the number of files
// whose checksum differs (mismatches) or that could not be mapped (unmapped: empty files,
// which the launcher rewrites at every start).
#include <zlib.h>

#include <cwchar>
#include <unordered_set>

#include "bench/floor_support.hpp"

namespace {

// The launcher's copy buffer (payload/extract.hpp).
constexpr DWORD write_chunk_size = 32768;

std::wstring parent_of(const std::wstring& path) {
    size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

// Creates the missing levels between the nearest known ancestor and directory, top down:
// one CreateDirectoryW per directory of the tree.
void make_directory(std::unordered_set<std::wstring>& known, const std::wstring& directory) {
    if (directory.empty() || known.count(directory) != 0) {
        return;
    }
    make_directory(known, parent_of(directory));
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        fail("cannot create directory", directory.c_str());
    }
    known.insert(directory);
}

HANDLE open_for_reuse_test(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void write_tree(const std::vector<StreamEntry>& entries, const std::wstring& target, bool probe) {
    std::unordered_set<std::wstring> known;
    // The target's parent exists, as the launcher's home directory does.
    known.insert(parent_of(target));
    for (const StreamEntry& entry : entries) {
        std::wstring path = target + L'\\' + entry.name;
        if (probe) {
            HANDLE existing = open_for_reuse_test(path);
            if (existing != INVALID_HANDLE_VALUE) {
                CloseHandle(existing);
            }
        }
        make_directory(known, parent_of(path));
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fail("cannot create", path.c_str());
        }
        for (uint64_t done = 0; done < entry.size;) {
            DWORD chunk = entry.size - done < write_chunk_size ? static_cast<DWORD>(entry.size - done)
                                                               : write_chunk_size;
            DWORD written = 0;
            if (!WriteFile(file, entry.body + done, chunk, &written, nullptr)) {
                fail("cannot write", path.c_str());
            }
            done += chunk;
        }
        CloseHandle(file);
    }
}

struct CheckCounts {
    int64_t mismatches = 0;
    int64_t unmapped = 0;
};

CheckCounts check_tree(const std::vector<StreamEntry>& entries, const std::wstring& target) {
    CheckCounts counts;
    for (const StreamEntry& entry : entries) {
        std::wstring path = target + L'\\' + entry.name;
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fail("cannot open", path.c_str());
        }
        uint32_t checksum = 0;
        LARGE_INTEGER length;
        if (GetFileSizeEx(file, &length) && length.QuadPart > 0) {
            HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
            if (mapping != nullptr) {
                const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
                if (view != nullptr) {
                    uLong crc = crc32(0, static_cast<const Bytef*>(view), static_cast<uInt>(length.QuadPart));
                    checksum = crc == 0 ? 1 : static_cast<uint32_t>(crc);
                    UnmapViewOfFile(view);
                }
                CloseHandle(mapping);
            }
        }
        CloseHandle(file);
        if (checksum == 0) {
            ++counts.unmapped;
        } else if (checksum != entry.checksum) {
            ++counts.mismatches;
        }
    }
    return counts;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc == 4 ? argv[1] : L"";
    if (mode != L"write" && mode != L"probe-write" && mode != L"check") {
        fail("usage: tree-floor.exe write|probe-write|check ENTRY_STREAM_FILE TARGET_DIR");
    }
    std::vector<unsigned char> stream = load_file(argv[2]);
    std::vector<StreamEntry> entries = parse_entry_stream(stream);
    std::wstring target = argv[3];
    int64_t bytes = 0;
    for (const StreamEntry& entry : entries) {
        bytes += static_cast<int64_t>(entry.size);
    }
    int64_t start = clock_now();
    if (mode != L"check") {
        write_tree(entries, target, mode == L"probe-write");
        put_result("work_us", elapsed_us(start, clock_now()));
    } else {
        CheckCounts counts = check_tree(entries, target);
        put_result("work_us", elapsed_us(start, clock_now()));
        put_result("mismatches", counts.mismatches);
        put_result("unmapped", counts.unmapped);
    }
    put_result("files", static_cast<int64_t>(entries.size()));
    put_result("bytes", bytes);
    return 0;
}
