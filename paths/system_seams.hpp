#pragma once

#include <windows.h>

// GetModuleFileNameW for the process's own module, the one system call of the paths code
// that tests stand in: no test can start itself from a drive root or a 4096-unit path, or
// count the lookups the system answers. The launcher image links paths/system_seams.cpp, the
// plain call; test programs link tests/support/module_file_name_seam.cpp, through which the
// launcher-path and template tests (FakeModulePath) give a path of their choosing.
DWORD own_module_file_name(wchar_t* buffer, DWORD capacity);
