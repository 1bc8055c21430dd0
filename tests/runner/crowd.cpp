// Windows-side parent for end-to-end tests of launchers that run at the same time. Each
// process it starts gets standard output and error in files of its own (OUT_DIR\I.out,
// OUT_DIR\I.err, input NUL) and its full 32-bit exit code in OUT_DIR\I.code ("0x%08X\n"),
// I counting from 0 in the order of starting. What the parent saw goes to OUT_DIR\crowd.txt
// as "key=value" lines.
//
//   crowd.exe together OUT_DIR COUNT COMMAND_LINE
//     COUNT processes of COMMAND_LINE, all created suspended and then resumed one right
//     after another, so that they start as nearly at once as the system allows.
//   crowd.exe kill-writer OUT_DIR WATCH_FILE FULL_SIZE COUNT COMMAND_LINE
//     Starts process 0 and watches WATCH_FILE until it holds more than 0 and fewer than
//     FULL_SIZE bytes, that is until process 0 is writing it, then suspends process 0 there.
//     Starts COUNT more together, lets them run for follower_grace_ms, notes whether all
//     are still running (waiting for process 0), then terminates process 0 and waits for
//     the others. Facts: writer_cut_at (bytes of WATCH_FILE when the writer stopped),
//     followers_waited (1 when none had ended before the writer was killed).
//   crowd.exe while-running OUT_DIR READY_EVENT FIRST_COMMAND_LINE SECOND_COMMAND_LINE
//     Starts process 0, waits until it sets the named event READY_EVENT, runs process 1 to
//     its end, notes whether process 0 was still running then (first_still_running), and
//     waits for process 0.
//
// Exit status: 0 when every process was started and waited for, 100 when one could not be
// started or a watch ran out of time, 101 for a bad command line.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// How long followers of a stopped writer run before the writer is killed: long enough
// for them to decode the few entries before the watched file and begin waiting for it.
constexpr DWORD follower_grace_ms = 1500;
// How long a suspended writer is given to finish a write it was inside when suspended.
constexpr DWORD suspend_settle_ms = 200;
// A writer not seen inside the watched file within this time counts as a failed watch.
constexpr DWORD watch_limit_ms = 120000;

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

// Processes first .. first + count - 1, created suspended, then resumed together.
std::vector<Started> start_together(int first, int count, const std::wstring& command_line) {
    std::vector<Started> crowd;
    for (int index = 0; index < count; ++index) {
        crowd.push_back(start(first + index, command_line, true));
    }
    for (Started& started : crowd) {
        if (started.ok) {
            ResumeThread(started.process.hThread);
        }
    }
    return crowd;
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

int together(int count, const std::wstring& command_line) {
    std::vector<Started> crowd = start_together(0, count, command_line);
    bool ok = all_started(crowd);
    for (int index = 0; index < count; ++index) {
        finish(index, crowd[index]);
    }
    return ok ? 0 : 100;
}

int kill_writer(const std::wstring& watch_file, long long full_size, int count,
                const std::wstring& command_line) {
    Started writer = start(0, command_line, false);
    if (!writer.ok) {
        return 100;
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
        return 100;
    }
    SuspendThread(writer.process.hThread);
    Sleep(suspend_settle_ms);
    note("writer_cut_at", static_cast<unsigned long long>(file_size(watch_file)));

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
            status = together(_wtoi(arguments[3]), arguments[4]);
        } else if (mode == L"kill-writer" && count == 7) {
            status = kill_writer(arguments[3], _wcstoi64(arguments[4], nullptr, 10), _wtoi(arguments[5]),
                                 arguments[6]);
        } else if (mode == L"while-running" && count == 6) {
            status = while_running(arguments[3], arguments[4], arguments[5]);
        }
    }
    if (status == 101) {
        std::fprintf(stderr, "usage: crowd.exe together OUT_DIR COUNT COMMAND_LINE\n"
                             "       crowd.exe kill-writer OUT_DIR WATCH_FILE FULL_SIZE COUNT COMMAND_LINE\n"
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
