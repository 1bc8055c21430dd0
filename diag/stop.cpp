#include "diag/stop.hpp"

#include <windows.h>

#include "diag/exit_status.hpp"

// TerminateProcess rather than abort: the C runtime's abort may print its own text,
// and the stop must be silent.
void stop_abnormally() {
    TerminateProcess(GetCurrentProcess(), abnormal_stop_status);
    // Not reached: terminating the own process does not return. Kept as a guaranteed end.
    ExitProcess(abnormal_stop_status);
}

void stop_at_limit() {
    stop_abnormally();
}
