// The child of the old-tree figures: prints the system time at which it began to run
// (microseconds since 1970; under Wine the clock of Linux, which bench-runner's stamped
// mode also reads), so that the time from the launcher's creation to its child's start can
// be told apart from the launcher's whole run.
#include <windows.h>

#include <cstdint>
#include <cstdio>

int wmain() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    constexpr uint64_t filetime_of_1970 = 116444736000000000ull;
    uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    std::printf("started_unix_us=%llu\n", static_cast<unsigned long long>((ticks - filetime_of_1970) / 10));
    return 0;
}
