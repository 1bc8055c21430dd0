#pragma once

#include <windows.h>

// The test programs' definition of own_module_file_name (paths/system_seams.hpp) calls this
// stand-in when one is set, and GetModuleFileNameW for the own module otherwise.
using ModuleFileNameCall = DWORD (*)(wchar_t* buffer, DWORD capacity);
extern ModuleFileNameCall module_file_name_stand_in;
