// Windows-side parent for end-to-end tests of launchers that run at the same time. Each
// process it starts gets standard output and error in files of its own (OUT_DIR\I.out,
// OUT_DIR\I.err, input NUL) and its full 32-bit exit code in OUT_DIR\I.code ("0x%08X\n"),
// I counting from 0 in the order of starting. What the parent saw goes to OUT_DIR\crowd.txt
// as "key=value" lines.
//
//   crowd.exe together OUT_DIR COUNT COMMAND_LINE
//     COUNT processes of COMMAND_LINE, all created suspended and then resumed one right
//     after another, so that they start as nearly at once as the system allows.
//   crowd.exe mixed OUT_DIR COMMAND_LINE...
//     As together, one process of each COMMAND_LINE, in the order given.
//   crowd.exe kill-writer OUT_DIR WATCH_FILE FULL_SIZE COUNT COMMAND_LINE
//     Starts process 0 and watches WATCH_FILE until it holds more than 0 and fewer than
//     FULL_SIZE bytes, that is until process 0 is writing it, then suspends process 0 there.
//     Starts COUNT more together, lets them run for follower_grace_ms, notes whether all
//     are still running (waiting for process 0), then terminates process 0 and waits for
//     the others. Facts: writer_cut_at (bytes of WATCH_FILE when the writer stopped),
//     followers_waited (1 when none had ended before the writer was killed).
//   crowd.exe suspend-writer OUT_DIR WATCH_FILE FULL_SIZE COMMAND_LINE FOLLOWER_LINE...
//     As kill-writer, with one follower per FOLLOWER_LINE, but the writer stays suspended
//     until the followers have ended (or follower_limit_ms has passed: they are then
//     terminated), and is then resumed and waited for. Facts: writer_cut_at,
//     writer_size_after_followers (bytes of WATCH_FILE when the last follower had ended),
//     followers_ended (1 when all ended by themselves), followers_longest_ms (from their
//     start to the end of the last).
//   crowd.exe hold-lock OUT_DIR LOCK_FILE COMMAND_LINE
//     Opens LOCK_FILE (a tree's lock file, made if missing), takes its writer range, runs
//     one process of COMMAND_LINE to its end (terminated after follower_limit_ms), then
//     gives the range back. Facts: lock_taken (1 when the range was taken).
//   crowd.exe squat OUT_DIR HOW CACHE_RELATIVE COUNT COMMAND_LINE
//     Creates the named objects that launchers once took as their lock for the folder
//     CACHE_RELATIVE under the local application-data folder, holds them, and runs COUNT
//     processes together as "together" does, each terminated after follower_limit_ms. HOW
//     is held-mutex (a mutex of the lock's name, owned by crowd.exe for as long as it runs,
//     and an event of the request's name) or event (an event of the lock's name, a mutex
//     of the request's name). Facts: squatted (1 when both objects were made as asked),
//     ended_in_time (1 when no process had to be terminated).
//   crowd.exe while-running OUT_DIR READY_EVENT FIRST_COMMAND_LINE SECOND_COMMAND_LINE
//     Starts process 0, waits until it sets the named event READY_EVENT, runs process 1 to
//     its end, notes whether process 0 was still running then (first_still_running), and
//     waits for process 0.
//
// Exit status: 0 when every process was started and waited for, 100 when one could not be
// started or a watch ran out of time, 101 for a bad command line.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "payload/lock_file_layout.hpp"

namespace {

// How long followers of a stopped writer run before the writer is killed: long enough
// for them to decode the few entries before the watched file and begin waiting for it.
constexpr DWORD follower_grace_ms = 1500;
// How long a suspended writer is given to finish a write it was inside when suspended.
constexpr DWORD suspend_settle_ms = 200;
// A writer not seen inside the watched file within this time counts as a failed watch.
constexpr DWORD watch_limit_ms = 120000;
// Processes that should end by themselves are terminated after this long, far beyond any
// wait of theirs that is not endless, so that a test never hangs on one.
constexpr DWORD follower_limit_ms = 120000;
// The exit code given to a process terminated for running past follower_limit_ms.
constexpr UINT overdue_exit_code = 0xDEAD0001;

struct Started {
    PROCESS_INFORMATION process{};
    bool ok = false;
};

std::wstring out_dir;
std::string facts;

void note(const char* key, unsigned long long value) {
    char line[128];
    std::snprintf(line, sizeof line, "%s=%llu\n", key, value);
    facts += line;
}

HANDLE inheritable(const std::wstring& path, bool output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), output ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, output ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Creates process index with its own output files; suspended when asked.
Started start(int index, const std::wstring& command_line, bool suspended) {
    Started started;
    std::wstring base = out_dir + L"\\" + std::to_wstring(index);
    HANDLE input = inheritable(L"NUL", false);
    HANDLE output = inheritable(base + L".out", true);
    HANDLE error = inheritable(base + L".err", true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    std::wstring writable = command_line;
    started.ok =
        CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, suspended ? CREATE_SUSPENDED : 0,
                       nullptr, nullptr, &startup, &started.process);
    if (!started.ok) {
        std::fprintf(stderr, "crowd: cannot start %ls (error %lu)\n", command_line.c_str(), GetLastError());
    }
    CloseHandle(input);
    CloseHandle(output);
    CloseHandle(error);
    return started;
}

// Waits for the process, writes its exit code and closes its handles.
void finish(int index, Started& started) {
    if (!started.ok) {
        return;
    }
    WaitForSingleObject(started.process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(started.process.hProcess, &code);
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
    FILE* file = _wfopen((out_dir + L"\\" + std::to_wstring(index) + L".code").c_str(), L"wb");
    if (file != nullptr) {
        std::fprintf(file, "0x%08lX\n", code);
        std::fclose(file);
    }
}

// Waits up to limit_ms for the process to end and terminates it otherwise; false then.
bool end_within(Started& started, DWORD limit_ms) {
    if (!started.ok || WaitForSingleObject(started.process.hProcess, limit_ms) == WAIT_OBJECT_0) {
        return true;
    }
    TerminateProcess(started.process.hProcess, overdue_exit_code);
    return false;
}

// Processes first, first + 1, ... of the command lines, created suspended, then resumed
// together.
std::vector<Started> start_together(int first, const std::vector<std::wstring>& command_lines) {
    std::vector<Started> crowd;
    for (const std::wstring& command_line : command_lines) {
        crowd.push_back(start(first + static_cast<int>(crowd.size()), command_line, true));
    }
    for (Started& started : crowd) {
        if (started.ok) {
            ResumeThread(started.process.hThread);
        }
    }
    return crowd;
}

std::vector<Started> start_together(int first, int count, const std::wstring& command_line) {
    return start_together(first, std::vector<std::wstring>(count, command_line));
}

bool all_started(const std::vector<Started>& crowd) {
    for (const Started& started : crowd) {
        if (!started.ok) {
            return false;
        }
    }
    return true;
}

long long file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                  data.nFileSizeLow);
}

int together(const std::vector<std::wstring>& command_lines) {
    std::vector<Started> crowd = start_together(0, command_lines);
    bool ok = all_started(crowd);
    for (size_t index = 0; index < crowd.size(); ++index) {
        finish(static_cast<int>(index), crowd[index]);
    }
    return ok ? 0 : 100;
}

// Starts process 0 and suspends it inside watch_file; false, with process 0 ended, when it
// was not seen there.
bool start_writer_and_stop_it_inside(Started& writer, const std::wstring& watch_file, long long full_size,
                                     const std::wstring& command_line) {
    writer = start(0, command_line, false);
    if (!writer.ok) {
        return false;
    }
    // Polled without sleeping: a write of several MiB lasts tens of milliseconds.
    ULONGLONG deadline = GetTickCount64() + watch_limit_ms;
    long long size = -1;
    while (GetTickCount64() < deadline && WaitForSingleObject(writer.process.hProcess, 0) == WAIT_TIMEOUT) {
        size = file_size(watch_file);
        if (size > 0 && size < full_size) {
            break;
        }
    }
    if (!(size > 0 && size < full_size)) {
        std::fprintf(stderr, "crowd: the writer was not seen inside %ls (size %lld)\n", watch_file.c_str(),
                     size);
        TerminateProcess(writer.process.hProcess, 1);
        finish(0, writer);
        return false;
    }
    SuspendThread(writer.process.hThread);
    Sleep(suspend_settle_ms);
    note("writer_cut_at", static_cast<unsigned long long>(file_size(watch_file)));
    return true;
}

int kill_writer(const std::wstring& watch_file, long long full_size, int count,
                const std::wstring& command_line) {
    Started writer;
    if (!start_writer_and_stop_it_inside(writer, watch_file, full_size, command_line)) {
        return 100;
    }
    std::vector<Started> followers = start_together(1, count, command_line);
    Sleep(follower_grace_ms);
    bool waited = true;
    for (const Started& started : followers) {
        waited = waited && started.ok && WaitForSingleObject(started.process.hProcess, 0) == WAIT_TIMEOUT;
    }
    note("followers_waited", waited ? 1 : 0);
    TerminateProcess(writer.process.hProcess, 0xDEAD);
    finish(0, writer);
    for (int index = 0; index < count; ++index) {
        finish(index + 1, followers[index]);
    }
    return all_started(followers) ? 0 : 100;
}

int suspend_writer(const std::wstring& watch_file, long long full_size, const std::wstring& command_line,
                   const std::vector<std::wstring>& follower_lines) {
    Started writer;
    if (!start_writer_and_stop_it_inside(writer, watch_file, full_size, command_line)) {
        return 100;
    }
    ULONGLONG started_at = GetTickCount64();
    std::vector<Started> followers = start_together(1, follower_lines);
    bool ended = true;
    for (Started& follower : followers) {
        ULONGLONG spent = GetTickCount64() - started_at;
        DWORD left = spent < follower_limit_ms ? static_cast<DWORD>(follower_limit_ms - spent) : 0;
        ended = end_within(follower, left) && ended;
    }
    note("followers_longest_ms", GetTickCount64() - started_at);
    note("followers_ended", ended ? 1 : 0);
    note("writer_size_after_followers", static_cast<unsigned long long>(file_size(watch_file)));
    ResumeThread(writer.process.hThread);
    finish(0, writer);
    for (size_t index = 0; index < followers.size(); ++index) {
        finish(static_cast<int>(index) + 1, followers[index]);
    }
    return all_started(followers) ? 0 : 100;
}

int hold_lock(const std::wstring& lock_file, const std::wstring& command_line) {
    HANDLE file =
        CreateFileW(lock_file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(lock_writer_offset);
    at.OffsetHigh = static_cast<DWORD>(lock_writer_offset >> 32);
    bool taken =
        file != INVALID_HANDLE_VALUE &&
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, lock_range_length, 0, &at);
    note("lock_taken", taken ? 1 : 0);
    Started run = start(0, command_line, false);
    end_within(run, follower_limit_ms);
    finish(0, run);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return run.ok && taken ? 0 : 100;
}

// The names that launchers once gave their lock: "Global\talvik-unpack-", FNV-1a over the
// UTF-16 units of the folder's full path upper-cased as the invariant locale does it, '-',
// the same over the user's profile folder; the request's name adds "-waiting".
uint64_t old_name_hash(const std::wstring& text) {
    std::wstring folded(text.size() + 1, L'\0');
    int length =
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), static_cast<int>(text.size()),
                      folded.data(), static_cast<int>(folded.size()), nullptr, nullptr, 0);
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int at = 0; at < length; ++at) {
        uint16_t unit = folded[at];
        hash = (hash ^ (unit & 0xFF)) * 0x100000001b3ull;
        hash = (hash ^ (unit >> 8)) * 0x100000001b3ull;
    }
    return hash;
}

std::wstring hex16(uint64_t value) {
    wchar_t text[17];
    std::swprintf(text, 17, L"%016llx", static_cast<unsigned long long>(value));
    return text;
}

int squat(const std::wstring& how, const std::wstring& cache_relative, int count,
          const std::wstring& command_line) {
    wchar_t local[MAX_PATH];
    wchar_t profile[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local) != S_OK ||
        SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile) != S_OK) {
        return 100;
    }
    std::wstring lock_name = L"Global\\talvik-unpack-" +
                             hex16(old_name_hash(std::wstring(local) + L"\\" + cache_relative)) + L"-" +
                             hex16(old_name_hash(profile));
    std::wstring request_name = lock_name + L"-waiting";
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    if (how == L"held-mutex") {
        first = CreateMutexW(nullptr, TRUE, lock_name.c_str());
        second = CreateEventW(nullptr, TRUE, FALSE, request_name.c_str());
    } else if (how == L"event") {
        first = CreateEventW(nullptr, TRUE, FALSE, lock_name.c_str());
        second = CreateMutexW(nullptr, FALSE, request_name.c_str());
    }
    note("squatted", first != nullptr && second != nullptr && GetLastError() != ERROR_ALREADY_EXISTS ? 1 : 0);
    std::vector<Started> crowd = start_together(0, count, command_line);
    bool in_time = true;
    for (int index = 0; index < count; ++index) {
        in_time = end_within(crowd[index], follower_limit_ms) && in_time;
        finish(index, crowd[index]);
    }
    note("ended_in_time", in_time ? 1 : 0);
    CloseHandle(first);
    CloseHandle(second);
    return all_started(crowd) ? 0 : 100;
}

int while_running(const std::wstring& ready_event, const std::wstring& first_line,
                  const std::wstring& second_line) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ready_event.c_str());
    Started first = start(0, first_line, false);
    if (!first.ok || ready == nullptr) {
        return 100;
    }
    HANDLE waits[2] = {ready, first.process.hProcess};
    bool seen_ready = WaitForMultipleObjects(2, waits, FALSE, watch_limit_ms) == WAIT_OBJECT_0;
    note("first_ready", seen_ready ? 1 : 0);
    Started second = start(1, second_line, false);
    finish(1, second);
    note("first_still_running", WaitForSingleObject(first.process.hProcess, 0) == WAIT_TIMEOUT ? 1 : 0);
    finish(0, first);
    CloseHandle(ready);
    return second.ok && seen_ready ? 0 : 100;
}

} // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    int status = 101;
    if (arguments != nullptr && count >= 3) {
        std::wstring mode = arguments[1];
        out_dir = arguments[2];
        if (mode == L"together" && count == 5) {
            status = together(std::vector<std::wstring>(_wtoi(arguments[3]), arguments[4]));
        } else if (mode == L"mixed" && count >= 4) {
            status = together(std::vector<std::wstring>(arguments + 3, arguments + count));
        } else if (mode == L"kill-writer" && count == 7) {
            status = kill_writer(arguments[3], _wcstoi64(arguments[4], nullptr, 10), _wtoi(arguments[5]),
                                 arguments[6]);
        } else if (mode == L"suspend-writer" && count >= 7) {
            status = suspend_writer(arguments[3], _wcstoi64(arguments[4], nullptr, 10), arguments[5],
                                    std::vector<std::wstring>(arguments + 6, arguments + count));
        } else if (mode == L"hold-lock" && count == 5) {
            status = hold_lock(arguments[3], arguments[4]);
        } else if (mode == L"squat" && count == 7) {
            status = squat(arguments[3], arguments[4], _wtoi(arguments[5]), arguments[6]);
        } else if (mode == L"while-running" && count == 6) {
            status = while_running(arguments[3], arguments[4], arguments[5]);
        }
    }
    if (status == 101) {
        std::fprintf(
            stderr,
            "usage: crowd.exe together OUT_DIR COUNT COMMAND_LINE\n"
            "       crowd.exe mixed OUT_DIR COMMAND_LINE...\n"
            "       crowd.exe kill-writer OUT_DIR WATCH_FILE FULL_SIZE COUNT COMMAND_LINE\n"
            "       crowd.exe suspend-writer OUT_DIR WATCH_FILE FULL_SIZE COMMAND_LINE FOLLOWER_LINE...\n"
            "       crowd.exe hold-lock OUT_DIR LOCK_FILE COMMAND_LINE\n"
            "       crowd.exe squat OUT_DIR HOW CACHE_RELATIVE COUNT COMMAND_LINE\n"
            "       crowd.exe while-running OUT_DIR READY_EVENT FIRST SECOND\n");
        return status;
    }
    FILE* file = _wfopen((out_dir + L"\\crowd.txt").c_str(), L"wb");
    if (file != nullptr) {
        std::fputs(facts.c_str(), file);
        std::fclose(file);
    }
    return status;
}
