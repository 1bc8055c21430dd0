#include "tests/support/module_file_name_seam.hpp"

#include "paths/system_seams.hpp"

ModuleFileNameCall module_file_name_stand_in = nullptr;

DWORD own_module_file_name(wchar_t* buffer, DWORD capacity) {
    if (module_file_name_stand_in != nullptr) {
        return module_file_name_stand_in(buffer, capacity);
    }
    return GetModuleFileNameW(nullptr, buffer, capacity);
}
