// Measuring parent of every Windows-side run: starts one command line, times it from outside
// with QueryPerformanceCounter (CreateProcessW to the end of the wait), and optionally
// samples the child's memory counters while it runs.
//
//   bench-runner.exe run OUTPUT_FILE POLL_MS COMMAND_LINE
//     the child's standard output and error go to OUTPUT_FILE, its input is NUL. With POLL_MS
//     above 0 the counters are read every POLL_MS ms and once more after the child ended.
//   bench-runner.exe together OUTPUT_FILE COUNT COMMAND_LINE
//     COUNT processes of COMMAND_LINE, created suspended and resumed together; timed from
//     the first creation to the end of the last one. All share OUTPUT_FILE for their output.
//     exit_code is the first non-zero exit code among them (0 when all ended with 0).
//   bench-runner.exe stamped OUTPUT_FILE COMMAND_LINE
//     as run without sampling, and first, right after the child's creation, the system time
//     just before it as created_unix_us (microseconds since 1970; under Wine the clock of
//     Linux), written out at once: a watcher on the Linux side times what the child shows
//     from there.
//   bench-runner.exe watch-lock OUTPUT_FILE LOCK_FILE COMMAND_LINE
//     as run, without memory counters, reading the progress record of LOCK_FILE (a tree's
//     unpack lock, payload/lock_file_layout.hpp) every millisecond while the child runs:
//     record_changes (how often it changed) and longest_silence_us (the longest time it
//     stayed the same, from when the file appeared to the last change), what a launcher
//     waiting for the child would have seen.
//   bench-runner.exe where
//     prints the local application-data folder ({CACHE_DIR}).
//
// Prints "key=value" lines: outside_us, exit_code and, when sampling, the largest values seen
// of the counters (PROCESS_MEMORY_COUNTERS_EX) and whether the read after the exit worked.
// Wine answers the counters from the live Linux process, so they are sampled while it runs.
#include <windows.h>

#include <psapi.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "payload/lock_file_layout.hpp"

namespace {

struct MemoryPeaks {
    SIZE_T peak_working_set = 0;
    SIZE_T working_set = 0;
    SIZE_T peak_pagefile = 0;
    SIZE_T pagefile = 0;
    SIZE_T private_usage = 0;
    int samples = 0;
};

bool sample_memory(HANDLE process, MemoryPeaks& peaks) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
        return false;
    }
    // A process that has already gone may answer with zeros under Wine.
    if (counters.PeakWorkingSetSize == 0 && counters.WorkingSetSize == 0) {
        return false;
    }
    auto raise = [](SIZE_T& peak, SIZE_T value) { peak = value > peak ? value : peak; };
    raise(peaks.peak_working_set, counters.PeakWorkingSetSize);
    raise(peaks.working_set, counters.WorkingSetSize);
    raise(peaks.peak_pagefile, counters.PeakPagefileUsage);
    raise(peaks.pagefile, counters.PagefileUsage);
    raise(peaks.private_usage, counters.PrivateUsage);
    ++peaks.samples;
    return true;
}

int64_t microseconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
}

// The children's standard handles: input NUL, output and error the output file.
struct ChildHandles {
    HANDLE input;
    HANDLE output;
    STARTUPINFOW startup;
};

bool open_child_handles(const wchar_t* output_path, ChildHandles& handles) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    handles.output = CreateFileW(output_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 CREATE_ALWAYS, 0, nullptr);
    handles.input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                OPEN_EXISTING, 0, nullptr);
    if (handles.output == INVALID_HANDLE_VALUE || handles.input == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "bench-runner: cannot open the child's standard handles (error %lu)\n",
                     GetLastError());
        return false;
    }
    handles.startup = {};
    handles.startup.cb = sizeof handles.startup;
    handles.startup.dwFlags = STARTF_USESTDHANDLES;
    handles.startup.hStdInput = handles.input;
    handles.startup.hStdOutput = handles.output;
    handles.startup.hStdError = handles.output;
    return true;
}

void close_child_handles(ChildHandles& handles) {
    CloseHandle(handles.output);
    CloseHandle(handles.input);
}

// FILETIME counts 100 ns from 1601; this many of them lie before 1970.
constexpr uint64_t filetime_of_1970 = 116444736000000000ull;

int run(const wchar_t* output_path, DWORD poll_ms, const wchar_t* command_line, bool stamped = false) {
    ChildHandles handles;
    if (!open_child_handles(output_path, handles)) {
        return 101;
    }
    PROCESS_INFORMATION process = {};
    std::wstring writable(command_line);
    MemoryPeaks peaks;
    bool read_after_exit = false;

    LARGE_INTEGER start;
    LARGE_INTEGER end;
    FILETIME created;
    GetSystemTimePreciseAsFileTime(&created);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &handles.startup, &process)) {
        std::fprintf(stderr, "bench-runner: cannot start %ls (error %lu)\n", command_line, GetLastError());
        return 100;
    }
    if (stamped) {
        uint64_t ticks = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        std::printf("created_unix_us=%llu\n",
                    static_cast<unsigned long long>((ticks - filetime_of_1970) / 10));
        std::fflush(stdout);
    }
    if (poll_ms == 0) {
        WaitForSingleObject(process.hProcess, INFINITE);
        QueryPerformanceCounter(&end);
    } else {
        while (WaitForSingleObject(process.hProcess, poll_ms) == WAIT_TIMEOUT) {
            sample_memory(process.hProcess, peaks);
        }
        QueryPerformanceCounter(&end);
        read_after_exit = sample_memory(process.hProcess, peaks);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    close_child_handles(handles);

    std::printf("outside_us=%lld\nexit_code=%lu\n", static_cast<long long>(microseconds(start, end)), code);
    if (poll_ms > 0) {
        std::printf("samples=%d\nread_after_exit=%d\n", peaks.samples, read_after_exit ? 1 : 0);
        std::printf("peak_working_set=%llu\nworking_set=%llu\npeak_pagefile=%llu\npagefile=%llu\nprivate_"
                    "usage=%llu\n",
                    static_cast<unsigned long long>(peaks.peak_working_set),
                    static_cast<unsigned long long>(peaks.working_set),
                    static_cast<unsigned long long>(peaks.peak_pagefile),
                    static_cast<unsigned long long>(peaks.pagefile),
                    static_cast<unsigned long long>(peaks.private_usage));
    }
    return 0;
}

int together(const wchar_t* output_path, int count, const wchar_t* command_line) {
    ChildHandles handles;
    if (count < 1 || count > MAXIMUM_WAIT_OBJECTS || !open_child_handles(output_path, handles)) {
        return 101;
    }
    PROCESS_INFORMATION processes[MAXIMUM_WAIT_OBJECTS] = {};
    HANDLE waits[MAXIMUM_WAIT_OBJECTS];
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    for (int index = 0; index < count; ++index) {
        std::wstring writable(command_line);
        if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                            nullptr, &handles.startup, &processes[index])) {
            std::fprintf(stderr, "bench-runner: cannot start %ls (error %lu)\n", command_line,
                         GetLastError());
            return 100;
        }
        waits[index] = processes[index].hProcess;
    }
    for (int index = 0; index < count; ++index) {
        ResumeThread(processes[index].hThread);
    }
    WaitForMultipleObjects(static_cast<DWORD>(count), waits, TRUE, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD first_failure = 0;
    int failed = 0;
    for (int index = 0; index < count; ++index) {
        DWORD code = 0;
        GetExitCodeProcess(processes[index].hProcess, &code);
        if (code != 0) {
            first_failure = first_failure == 0 ? code : first_failure;
            ++failed;
        }
        CloseHandle(processes[index].hThread);
        CloseHandle(processes[index].hProcess);
    }
    close_child_handles(handles);
    std::printf("outside_us=%lld\nexit_code=%lu\nfailed=%d\n",
                static_cast<long long>(microseconds(start, end)), first_failure, failed);
    return 0;
}

// The lock file's progress record as it is now; false while there is no file. A file too
// short for a record reads as zeros.
bool read_progress(HANDLE& file, const wchar_t* path, unsigned char (&record)[lock_record_size]) {
    if (file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
    }
    OVERLAPPED at = {};
    at.Offset = lock_record_offset;
    DWORD read = 0;
    std::memset(record, 0, sizeof record);
    ReadFile(file, record, sizeof record, &read, &at);
    return true;
}

int watch_lock(const wchar_t* output_path, const wchar_t* lock_path, const wchar_t* command_line) {
    ChildHandles handles;
    if (!open_child_handles(output_path, handles)) {
        return 101;
    }
    PROCESS_INFORMATION process = {};
    std::wstring writable(command_line);
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &handles.startup, &process)) {
        std::fprintf(stderr, "bench-runner: cannot start %ls (error %lu)\n", command_line, GetLastError());
        return 100;
    }
    HANDLE lock = INVALID_HANDLE_VALUE;
    unsigned char seen[lock_record_size] = {};
    unsigned char now[lock_record_size];
    bool appeared = false;
    LARGE_INTEGER changed_at = {};
    int64_t longest_silence_us = 0;
    int changes = 0;
    while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {
        if (!read_progress(lock, lock_path, now)) {
            continue;
        }
        LARGE_INTEGER at;
        QueryPerformanceCounter(&at);
        if (!appeared) {
            appeared = true;
            changed_at = at;
            std::memcpy(seen, now, sizeof seen);
        } else if (std::memcmp(seen, now, sizeof seen) != 0) {
            int64_t silence = microseconds(changed_at, at);
            longest_silence_us = silence > longest_silence_us ? silence : longest_silence_us;
            changed_at = at;
            std::memcpy(seen, now, sizeof seen);
            ++changes;
        }
    }
    QueryPerformanceCounter(&end);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (lock != INVALID_HANDLE_VALUE) {
        CloseHandle(lock);
    }
    close_child_handles(handles);
    std::printf("outside_us=%lld\nexit_code=%lu\nrecord_changes=%d\nlongest_silence_us=%lld\n",
                static_cast<long long>(microseconds(start, end)), code, changes,
                static_cast<long long>(longest_silence_us));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"where") == 0) {
        wchar_t folder[MAX_PATH];
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
            return 102;
        }
        std::printf("local_appdata=%ls\n", folder);
        return 0;
    }
    if (argc == 5 && std::wcscmp(argv[1], L"together") == 0) {
        return together(argv[2], static_cast<int>(std::wcstoul(argv[3], nullptr, 10)), argv[4]);
    }
    if (argc == 5 && std::wcscmp(argv[1], L"watch-lock") == 0) {
        return watch_lock(argv[2], argv[3], argv[4]);
    }
    if (argc == 5 && std::wcscmp(argv[1], L"run") == 0) {
        return run(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)), argv[4]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"stamped") == 0) {
        return run(argv[2], 0, argv[3], true);
    }
    std::fprintf(stderr, "usage: bench-runner.exe run OUTPUT_FILE POLL_MS COMMAND_LINE | stamped OUTPUT_FILE "
                         "COMMAND_LINE | together OUTPUT_FILE COUNT COMMAND_LINE | watch-lock OUTPUT_FILE "
                         "LOCK_FILE COMMAND_LINE | where\n");
    return 101;
}
