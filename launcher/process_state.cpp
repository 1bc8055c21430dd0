#include "launcher/process_state.hpp"

wchar_t target_directory[path_capacity];
wchar_t entry_path[path_capacity];
wchar_t entry_name[entry_name_capacity];
wchar_t child_executable_path[path_capacity];
wchar_t launcher_directory[launcher_path_capacity];
