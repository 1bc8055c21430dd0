// Windows-side parent for end-to-end tests: Wine hands Linux only the low 8 bits of an
// exit code, so this program starts a command line, waits, and writes the child's full
// 32-bit exit code to a file.
//
//   runner.exe CODE_FILE COMMAND_LINE
//
// COMMAND_LINE is passed to CreateProcessW unchanged (no application name), with the
// runner's standard handles, environment and current directory. CODE_FILE receives
// "0x%08X\n". The runner exits 0 once the child has been waited for, 100 if it could
// not start it (the system error code then goes to CODE_FILE as "start-failed N").
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 3) {
        fprintf(stderr, "usage: runner.exe CODE_FILE COMMAND_LINE\n");
        return 101;
    }
    std::wstring command_line = arguments[2];
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
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
    FILE* file = _wfopen(arguments[1], L"wb");
    if (file != nullptr) {
        fputs(text, file);
        fclose(file);
    }
    return status;
}
