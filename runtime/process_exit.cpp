// Ways out of the image. Nothing is buffered (messages go straight to WriteFile), so the
// normal exit has nothing to flush.
#include <windows.h>

#include "diag/exit_status.hpp"

extern "C" {

[[noreturn]] void exit(int status) {
    ExitProcess(static_cast<UINT>(status));
}

[[noreturn]] void abort() {
    TerminateProcess(GetCurrentProcess(), abnormal_stop_status);
    __builtin_unreachable();
}
}
