// Windows-side parent for end-to-end tests: Wine hands Linux only the low 8 bits of an
// exit code, so this program starts a command line, waits, and writes the child's full
// 32-bit exit code to a file.
//
//   runner.exe [--pass-std-handles | --no-std-handles] CODE_FILE COMMAND_LINE
//
// COMMAND_LINE is passed to CreateProcessW unchanged (no application name), with the
// runner's environment and current directory. Its standard handles: by default the child
// inherits them as the system does it for the child's kind; --pass-std-handles hands it the
// runner's own three explicitly (STARTF_USESTDHANDLES), which a windowed (GUI) child needs
// to get any on Windows; --no-std-handles hands it none at all, as when Explorer starts a
// windowed program. CODE_FILE receives "0x%08X\n". The runner exits 0 once the child has
// been waited for, 100 if it could not start it (the system error code then goes to
// CODE_FILE as "start-failed N").
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool pass_handles = count == 4 && wcscmp(arguments[1], L"--pass-std-handles") == 0;
    bool no_handles = count == 4 && wcscmp(arguments[1], L"--no-std-handles") == 0;
    int first = pass_handles || no_handles ? 2 : 1;
    if (arguments == nullptr || count != first + 2) {
        fprintf(stderr, "usage: runner.exe [--pass-std-handles | --no-std-handles] CODE_FILE COMMAND_LINE\n");
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
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    char text[64];
    int status = 0;
    if (!started) {
        snprintf(text, sizeof text, "start-failed %lu\n", GetLastError());
        status = 100;
    } else {
        CloseHandle(process.hThread);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        snprintf(text, sizeof text, "0x%08lX\n", code);
    }
    FILE* file = _wfopen(code_file, L"wb");
    if (file != nullptr) {
        fputs(text, file);
        fclose(file);
    }
    return status;
}
