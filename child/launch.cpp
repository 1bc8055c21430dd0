#include "child/launch.hpp"

#include <windows.h>

#include <string.h>

#include "child/child_job.hpp"
#include "child/command_line.hpp"
#include "child/console_events.hpp"
#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"
#include "diag/exit_status.hpp"
#include "diag/report.hpp"
#include "diag/windowed_image.hpp"

namespace {

// The job that ends the running child with the launcher; null when there is none (the image
// lets the child outlive the launcher, or the system made or allowed no job). Held from the
// child's start until it has ended.
HANDLE child_job = nullptr;

DWORD creation_flags(bool suspended) {
    DWORD flags = NORMAL_PRIORITY_CLASS;
    // A windowed launcher has no console to share, so Windows would open a console window for
    // a console child. This gives it a console without a window instead; the system ignores
    // the flag for a windowed child.
    if (running_image_is_windowed()) {
        flags |= CREATE_NO_WINDOW;
    }
    if (suspended) {
        flags |= CREATE_SUSPENDED;
    }
    return flags;
}

} // namespace

HANDLE start_child(const wchar_t* application) {
    STARTUPINFOW startup_info;
    memset(&startup_info, 0, sizeof startup_info);
    startup_info.cb = sizeof startup_info;
    startup_info.dwFlags = STARTF_USESTDHANDLES;
    startup_info.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup_info.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup_info.hStdError = GetStdHandle(STD_ERROR_HANDLE);

    wchar_t* command_line = build_child_command_line();

    HANDLE job = talvik_child_lifetime() == child_ends_with_launcher ? create_child_job() : nullptr;
    PROCESS_INFORMATION process_information;
    memset(&process_information, 0, sizeof process_information);
    // Suspended while there is a job to put it in, so that it runs no instruction outside it.
    // No environment and no directory: the child gets the launcher's, as they are now.
    if (!CreateProcessW(application, command_line, nullptr, nullptr, TRUE, creation_flags(job != nullptr),
                        nullptr, nullptr, &startup_info, &process_information)) {
        DWORD error = GetLastError();
        if (job != nullptr) {
            CloseHandle(job);
        }
        report_launch_failure(error);
    }
    HANDLE child = process_information.hProcess;
    if (job != nullptr) {
        // An outer job that forbids this one (a system without nested jobs) leaves the child
        // to run as it would without a job.
        if (!AssignProcessToJobObject(job, child)) {
            CloseHandle(job);
            job = nullptr;
        }
        if (ResumeThread(process_information.hThread) == static_cast<DWORD>(-1)) {
            DWORD error = GetLastError();
            // A child that can never run must not be left suspended for ever.
            TerminateProcess(child, reported_failure_status);
            CloseHandle(process_information.hThread);
            CloseHandle(child);
            if (job != nullptr) {
                CloseHandle(job);
            }
            report_launch_failure(error);
        }
    }
    CloseHandle(process_information.hThread);
    child_job = job;

    // The main thread keeps the creation handle to itself and shares a duplicate, so that a
    // console handler closing the shared one can never pull a handle out from under the
    // unlimited wait or the exit code read. Without a duplicate (no handles left) the child
    // still gets console events itself; only the bound on its life is lost.
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

    // The child has ended, and the processes it started are outside the job, so closing it
    // ends nothing.
    if (child_job != nullptr) {
        CloseHandle(child_job);
        child_job = nullptr;
    }

    // Releases the shared duplicate unless a handler has taken it; the child has ended, so
    // this does not wait.
    finish_child();
    return exit_code;
}

uint32_t launch_child(const wchar_t* application) {
    return wait_for_child(start_child(application));
}
