#include "child/console_events.hpp"

#include "child/grace_period.hpp"

HANDLE child_process_handle = nullptr;

namespace {

bool is_acted_on(DWORD event_type) {
    switch (event_type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return true;
    default:
        return false;
    }
}

} // namespace

void finish_child() {
    // One exchange both reads and empties the variable, so of all the callers (the main
    // thread and any number of handler calls) exactly one gets the handle.
    HANDLE child = InterlockedExchangePointer(&child_process_handle, nullptr);
    if (child == nullptr) {
        return;
    }
    // A failed wait counts as a time-out: the child is ended rather than left unbounded.
    if (WaitForSingleObject(child, console_event_grace_ms()) != WAIT_OBJECT_0) {
        TerminateProcess(child, 0);
    }
    CloseHandle(child);
}

// Runs on a thread of the platform's, possibly several at once. The child shares the console
// and gets the event itself; this only bounds how long it may take to end. FALSE passes the
// event on to the next handler, by default the one that ends the launcher.
BOOL WINAPI on_console_event(DWORD event_type) {
    if (is_acted_on(event_type)) {
        finish_child();
    }
    return FALSE;
}
