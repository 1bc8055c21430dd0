#include "child/launch.hpp"

#include <windows.h>

#include <string.h>

#include "child/command_line.hpp"
#include "child/console_events.hpp"
#include "diag/exit_status.hpp"
#include "diag/report.hpp"

HANDLE start_child(const wchar_t* application) {
    STARTUPINFOW startup_info;
    memset(&startup_info, 0, sizeof startup_info);
    startup_info.cb = sizeof startup_info;
    startup_info.dwFlags = STARTF_USESTDHANDLES;
    startup_info.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup_info.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup_info.hStdError = GetStdHandle(STD_ERROR_HANDLE);

    wchar_t* command_line = build_child_command_line();

    PROCESS_INFORMATION process_information;
    memset(&process_information, 0, sizeof process_information);
    // No environment and no directory: the child gets the launcher's, as they are now.
    if (!CreateProcessW(application, command_line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &startup_info, &process_information)) {
        report_launch_failure(GetLastError());
    }
    CloseHandle(process_information.hThread);

    // The main thread keeps the creation handle to itself and shares a duplicate, so that a
    // console handler closing the shared one can never pull a handle out from under the
    // unlimited wait or the exit code read. Without a duplicate (no handles left) the child
    // still gets console events itself; only the bound on its life is lost.
    HANDLE child = process_information.hProcess;
    HANDLE shared = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &shared, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        InterlockedExchangePointer(&child_process_handle, shared);
    }
    return child;
}

uint32_t wait_for_child(HANDLE child) {
    WaitForSingleObject(child, INFINITE);
    // A child that a console handler terminated reads as 0 here, the code it was given.
    DWORD code = 0;
    uint32_t exit_code = GetExitCodeProcess(child, &code) ? code : child_exit_code_unreadable;
    CloseHandle(child);

    // Releases the shared duplicate unless a handler has taken it; the child has ended, so
    // this does not wait.
    finish_child();
    return exit_code;
}

uint32_t launch_child(const wchar_t* application) {
    return wait_for_child(start_child(application));
}
