// Windows-side parent for end-to-end tests: Wine hands Linux only the low 8 bits of an
// exit code, so this program starts a command line, waits, and writes the child's full
// 32-bit exit code to a file.
//
//   runner.exe [OPTIONS] CODE_FILE COMMAND_LINE
//
// COMMAND_LINE is passed to CreateProcessW unchanged (no application name), with the
// runner's environment and current directory. Its standard handles: by default the child
// inherits them as the system does it for the child's kind; --pass-std-handles hands it the
// runner's own three explicitly (STARTF_USESTDHANDLES), which a windowed (GUI) child needs
// to get any on Windows; --no-std-handles hands it none at all, as when Explorer starts a
// windowed program. Other options:
//   --console-without-window   the child gets a console of its own without a window
//                              (CREATE_NO_WINDOW), one that works with no display; give
//                              --pass-std-handles too, or its output goes to that console
//   --kill-once-ready EVENT    terminate the child, as a CI time-out or Task Manager's
//                              "End task" would, once the named event EVENT is set (by the
//                              child's own child, the probe) and at least kill_delay_ms after
//                              the start; then wait for the child's child to end
// CODE_FILE receives "0x%08X\n". With --kill-once-ready a line "grandchild-exit=0x%08X" or
// "grandchild-exit=running" follows: the exit code of the process that the child had started
// (the launcher's child), or that it had not ended grandchild_end_limit_ms after the kill.
// The runner exits 0 once the child has been waited for, 100 if it could not start it (the
// system error code then goes to CODE_FILE as "start-failed N") or with --kill-once-ready
// found no ready event or no child of the child in time.
#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The "1 s after start" of a killed launcher: it has unpacked and started its child by then
// on a quiet machine; on a busy one the ready event decides.
constexpr DWORD kill_delay_ms = 1000;
// How long a child may take to start its own child and signal readiness: generous, since
// the first start of an image unpacks it.
constexpr DWORD ready_limit_ms = 120000;
// How long the launcher's child may run on after the launcher was killed: far beyond the
// few seconds that the tests' children sleep.
constexpr DWORD grandchild_end_limit_ms = 60000;
// The exit code a terminated launcher gets; any code does, none is ever read as the child's.
constexpr UINT killed_exit_code = 0xDEAD;

// The first process whose parent is parent_id, opened to be waited for; null when none.
HANDLE open_child_of(DWORD parent_id) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    HANDLE found = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == nullptr;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent_id && entry.th32ProcessID != parent_id) {
            found = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

// Waits for the ready event and the delay, kills the child, waits for the child's child; the
// lines after the exit code. Empty when there was nothing to kill in time.
std::string kill_once_ready(const PROCESS_INFORMATION& process, HANDLE ready, ULONGLONG started) {
    if (WaitForSingleObject(ready, ready_limit_ms) != WAIT_OBJECT_0) {
        return "";
    }
    ULONGLONG elapsed = GetTickCount64() - started;
    if (elapsed < kill_delay_ms) {
        Sleep(static_cast<DWORD>(kill_delay_ms - elapsed));
    }
    HANDLE grandchild = open_child_of(process.dwProcessId);
    if (grandchild == nullptr) {
        return "";
    }
    TerminateProcess(process.hProcess, killed_exit_code);
    WaitForSingleObject(process.hProcess, INFINITE);
    char line[64];
    if (WaitForSingleObject(grandchild, grandchild_end_limit_ms) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(grandchild, &code);
        snprintf(line, sizeof line, "grandchild-exit=0x%08lX\n", code);
    } else {
        snprintf(line, sizeof line, "grandchild-exit=running\n");
    }
    CloseHandle(grandchild);
    return line;
}

} // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool pass_handles = false;
    bool no_handles = false;
    bool console_without_window = false;
    const wchar_t* ready_event = nullptr;
    int first = 1;
    for (; arguments != nullptr && first < count; ++first) {
        if (wcscmp(arguments[first], L"--pass-std-handles") == 0) {
            pass_handles = true;
        } else if (wcscmp(arguments[first], L"--no-std-handles") == 0) {
            no_handles = true;
        } else if (wcscmp(arguments[first], L"--console-without-window") == 0) {
            console_without_window = true;
        } else if (wcscmp(arguments[first], L"--kill-once-ready") == 0 && first + 1 < count) {
            ready_event = arguments[++first];
        } else {
            break;
        }
    }
    if (arguments == nullptr || count != first + 2 || (pass_handles && no_handles)) {
        fprintf(stderr,
                "usage: runner.exe [--pass-std-handles | --no-std-handles] [--console-without-window] "
                "[--kill-once-ready EVENT] CODE_FILE COMMAND_LINE\n");
        return 101;
    }
    const wchar_t* code_file = arguments[first];
    std::wstring command_line = arguments[first + 1];
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (pass_handles || no_handles) {
        startup.dwFlags = STARTF_USESTDHANDLES;
    }
    if (pass_handles) {
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    // Created before the child, so that the probe's --ready-event opens this one.
    HANDLE ready = ready_event != nullptr ? CreateEventW(nullptr, TRUE, FALSE, ready_event) : nullptr;
    PROCESS_INFORMATION process{};
    ULONGLONG started_at = GetTickCount64();
    BOOL started =
        CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                       console_without_window ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup, &process);
    std::string text;
    int status = 0;
    if (!started) {
        char line[64];
        snprintf(line, sizeof line, "start-failed %lu\n", GetLastError());
        text = line;
        status = 100;
    } else {
        CloseHandle(process.hThread);
        std::string after;
        if (ready != nullptr) {
            after = kill_once_ready(process, ready, started_at);
            if (after.empty()) {
                TerminateProcess(process.hProcess, killed_exit_code);
                status = 100;
            }
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        char line[64];
        snprintf(line, sizeof line, "0x%08lX\n", code);
        text = line + after;
    }
    if (ready != nullptr) {
        CloseHandle(ready);
    }
    FILE* file = _wfopen(code_file, L"wb");
    if (file != nullptr) {
        fputs(text.c_str(), file);
        fclose(file);
    }
    return status;
}
