#include "paths/shell_folder.hpp"

#include <windows.h>

#include <shlobj.h>

#include "diag/stop.hpp"

bool append_shell_folder(wchar_t* destination, int folder, size_t capacity) {
    wchar_t folder_path[MAX_PATH];
    if (SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, folder_path) != S_OK) {
        return false;
    }
    size_t length = 0;
    while (length < capacity && destination[length] != 0) {
        ++length;
    }
    size_t folder_length = 0;
    while (folder_path[folder_length] != 0) {
        ++folder_length;
    }
    if (length + folder_length + 1 > capacity) {
        stop_at_limit();
    }
    for (size_t at = 0; at < folder_length; ++at) {
        destination[length + at] = folder_path[at];
    }
    destination[length + folder_length] = 0;
    return true;
}
