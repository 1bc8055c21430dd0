#pragma once

#include <windows.h>

#include <stdint.h>

// A process handle of the running child, shared with the console handler; null when there is
// none. It changes hands only by an atomic exchange: whoever takes a non-null handle out owns
// it and alone waits on, terminates and closes it.
extern HANDLE child_process_handle;

// How long a console event lets the child take to end before it is terminated.
constexpr DWORD child_grace_period_ms = 5000;

// The grace period in force: child_grace_period_ms; tests shorten it.
extern DWORD console_event_grace_ms;

// Starts application (the child executable path) with the re-quoted command line and the
// launcher's standard handles, environment and directory; waits; returns its exit code
// (1 if unreadable). A failed start reports "Error, couldn't launch child".
uint32_t launch_child(const wchar_t* application);

// Takes the shared handle, if any is left, gives the child the grace period to end,
// terminates it with exit code 0 otherwise, and closes the handle.
void finish_child();

// Console control handler: bounds the child's life after an event; always FALSE.
BOOL WINAPI on_console_event(DWORD event_type);
