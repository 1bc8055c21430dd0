#pragma once

#include <stddef.h>

constexpr int shell_folder_profile = 40;       // CSIDL_PROFILE
constexpr int shell_folder_local_appdata = 28; // CSIDL_LOCAL_APPDATA

// Appends the folder's path to destination; false (destination unchanged) when the lookup
// fails, a limit stop when it does not fit.
bool append_shell_folder(wchar_t* destination, int folder, size_t capacity);
