#pragma once

// Shared parts of the decode, write and check floors: whole-file loading, a
// QueryPerformanceCounter clock, the entry stream walk and the result line the driver reads.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct StreamEntry {
    std::wstring name;
    uint64_t size;
    uint32_t checksum;
    const unsigned char* body;
};

// The whole file in memory; ends the process with a message when it cannot be read.
std::vector<unsigned char> load_file(const wchar_t* path);

// The entries of an uncompressed entry stream, bodies pointing into it; ends the process on
// a malformed stream.
std::vector<StreamEntry> parse_entry_stream(const std::vector<unsigned char>& stream);

int64_t clock_now();
// Microseconds between two clock_now() readings.
int64_t elapsed_us(int64_t start, int64_t end);

// One "key=value" line per figure, on standard output, for bench.py.
void put_result(const char* key, int64_t value);

[[noreturn]] void fail(const char* what, const wchar_t* path = nullptr);
