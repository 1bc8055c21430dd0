// Linked only into the launcher image; test programs link a definition they can steer.
#include "paths/system_seams.hpp"

DWORD own_module_file_name(wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
}
