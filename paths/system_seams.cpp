#include "paths/system_seams.hpp"

namespace {

DWORD own_module_file_name(wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
}

} // namespace

// Constant-initialised: the launcher image runs no static constructors.
constinit ModuleFileNameCall module_file_name_call = own_module_file_name;
