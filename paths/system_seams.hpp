#pragma once

#include <windows.h>

// The one system call the paths code reaches through a pointer, so that tests can stand in
// a launcher path of their choosing (a drive root, another suffix) or count the lookups.
// It is GetModuleFileNameW for the process's own module unless a test replaces it.
using ModuleFileNameCall = DWORD (*)(wchar_t* buffer, DWORD capacity);
extern ModuleFileNameCall module_file_name_call;

// Empties the cached launcher path, so that a test starts from a process that has not looked
// it up yet.
void forget_launcher_path();
