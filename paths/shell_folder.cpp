#include "paths/shell_folder.hpp"

#include <windows.h>

#include <shlobj.h>
#include <wchar.h>

#include "diag/stop.hpp"
#include "paths/path_text.hpp"

bool append_shell_folder(wchar_t* destination, int folder, size_t capacity) {
    wchar_t folder_path[MAX_PATH];
    if (SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, folder_path) != S_OK) {
        return false;
    }
    size_t length = bounded_length(destination, capacity);
    size_t folder_length = wcslen(folder_path);
    if (length + folder_length + 1 > capacity) {
        stop_at_limit();
    }
    for (size_t at = 0; at < folder_length; ++at) {
        destination[length + at] = folder_path[at];
    }
    destination[length + folder_length] = 0;
    return true;
}
