#pragma once

#include <windows.h>

// A job object that the launcher alone holds, for the child alone. When its last handle goes,
// as it does when the launcher ends in any way (killed, ended from Task Manager, a parent's
// TerminateProcess), the system ends the child. Processes that the child starts leave it
// without asking, so an application's helpers and updaters live on as they would without it.
// Null when the system makes none or refuses its limits; the child then runs as it would
// without a job.
HANDLE create_child_job();
