#pragma once

#include <stdint.h>

// Starts application (the child executable path) with the re-quoted command line and the
// launcher's standard handles, environment and directory; waits; returns its exit code
// (1 if unreadable). A failed start reports "Error, couldn't launch child".
uint32_t launch_child(const wchar_t* application);
