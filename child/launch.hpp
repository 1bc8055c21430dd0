#pragma once

#include <windows.h>

#include <stdint.h>

// The running child's process handle, shared with the console handler; null when there is none.
extern HANDLE child_process_handle;

// How long a console event lets the child take to end before it is terminated.
constexpr DWORD child_grace_period_ms = 5000;

// Starts application (the child executable path) with the re-quoted command line and the
// launcher's standard handles, environment and directory; waits; returns its exit code
// (1 if unreadable). A failed start reports "Error, couldn't launch child".
uint32_t launch_child(const wchar_t* application);

void finish_child();

// Console control handler: bounds the child's life after an event; always FALSE.
BOOL WINAPI on_console_event(DWORD event_type);
