#pragma once

#include <windows.h>

// Watches what the code under test does with process handles, by replacing this program's
// import table entries for CloseHandle, WaitForSingleObject, TerminateProcess,
// GetExitCodeProcess, CreateProcessW, DuplicateHandle and CreateJobObjectW (the launcher code
// calls them through that table). While an audit runs, every handle that CreateProcessW,
// DuplicateHandle or CreateJobObjectW hands out is tracked, and each close and use of a
// tracked handle counted.
void install_handle_audit();

struct HandleAuditResult {
    int tracked = 0;
    // Tracked handles closed exactly once, not at all, and more than once.
    int closed_once = 0;
    int never_closed = 0;
    int closed_again = 0;
    // Waits, terminations and exit code reads on a tracked handle after its close.
    int used_after_close = 0;
};

void begin_handle_audit();
// Adds a handle made some other way.
void track_handle(HANDLE handle);
HandleAuditResult end_handle_audit();
