#pragma once

#include <windows.h>

#include <stdint.h>

// Starts application (the child executable path) with the re-quoted command line and the
// launcher's standard handles, environment and directory, and shares it with the console
// handler. Unless the image lets it outlive the launcher, the child runs in a job that ends it
// when the launcher ends; a windowed image gives a console child a console without a window.
// Returns the child's process handle, which the caller hands to wait_for_child. A failed
// start reports "Error, couldn't launch child".
HANDLE start_child(const wchar_t* application);

// Waits for the child without a time limit, closes its handle and its job and returns its
// exit code (1 if unreadable).
uint32_t wait_for_child(HANDLE child);

// Both in one: the launch step of a run that has nothing to do while the child starts.
uint32_t launch_child(const wchar_t* application);
