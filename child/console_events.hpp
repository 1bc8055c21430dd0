#pragma once

#include <windows.h>

// A process handle of the running child, shared with the console handler; null when there is
// none. It changes hands only by an atomic exchange: whoever takes a non-null handle out owns
// it and alone waits on, terminates and closes it.
extern HANDLE child_process_handle;

// Takes the shared handle, if any is left, gives the child the grace period to end,
// terminates it with exit code 0 otherwise, and closes the handle.
void finish_child();

// Console control handler: bounds the child's life after an event; always FALSE.
BOOL WINAPI on_console_event(DWORD event_type);
