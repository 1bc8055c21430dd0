#include "bench/floor_support.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<unsigned char> load_file(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail("cannot open", path);
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        fail("cannot size", path);
    }
    std::vector<unsigned char> data(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        // ReadFile takes a 32-bit count.
        DWORD piece = static_cast<DWORD>(data.size() - done < (1u << 30) ? data.size() - done : (1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, data.data() + done, piece, &got, nullptr) || got == 0) {
            fail("cannot read", path);
        }
        done += got;
    }
    CloseHandle(file);
    return data;
}

std::vector<StreamEntry> parse_entry_stream(const std::vector<unsigned char>& stream) {
    std::vector<StreamEntry> entries;
    size_t at = 0;
    auto need = [&](size_t count) {
        if (stream.size() - at < count) {
            fail("entry stream ends early");
        }
    };
    for (;;) {
        std::wstring name;
        for (;;) {
            need(2);
            auto unit = static_cast<wchar_t>(stream[at] | stream[at + 1] << 8);
            at += 2;
            if (unit == 0) {
                break;
            }
            name.push_back(unit);
        }
        if (name.empty()) {
            return entries;
        }
        need(12);
        uint64_t size = 0;
        uint32_t checksum = 0;
        std::memcpy(&size, stream.data() + at, 8);
        std::memcpy(&checksum, stream.data() + at + 8, 4);
        at += 12;
        need(static_cast<size_t>(size));
        entries.push_back({std::move(name), size, checksum, stream.data() + at});
        at += static_cast<size_t>(size);
    }
}

int64_t clock_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t elapsed_us(int64_t start, int64_t end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (end - start) * 1000000 / frequency.QuadPart;
}

void put_result(const char* key, int64_t value) {
    std::printf("%s=%lld\n", key, static_cast<long long>(value));
    std::fflush(stdout);
}

void fail(const char* what, const wchar_t* path) {
    DWORD error = GetLastError();
    if (path != nullptr) {
        std::fprintf(stderr, "floor: %s '%ls' (error %lu)\n", what, path, error);
    } else {
        std::fprintf(stderr, "floor: %s\n", what);
    }
    std::exit(1);
}
