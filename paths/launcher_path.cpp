#include "paths/launcher_path.hpp"

#include "diag/stop.hpp"
#include "paths/path_text.hpp"
#include "paths/system_seams.hpp"

namespace {

// Empty until the first lookup that gets a path; never changed after it.
wchar_t launcher_path[launcher_path_capacity];
bool launcher_path_cut = false;

} // namespace

const wchar_t* get_launcher_path() {
    if (launcher_path[0] != 0) {
        return launcher_path;
    }
    // A path longer than the buffer comes back cut to 4096 units, with the full capacity as
    // its length (and, from older systems, without a terminator: then nothing is usable).
    // The template and the launcher directory take a cut path as it arrives; the command
    // line asks launcher_path_was_cut, since a cut argument 0 would name another file.
    DWORD length = own_module_file_name(launcher_path, launcher_path_capacity);
    if (bounded_length(launcher_path, launcher_path_capacity) == launcher_path_capacity) {
        stop_at_limit();
    }
    launcher_path_cut = length >= launcher_path_capacity;
    return launcher_path;
}

bool launcher_path_was_cut() {
    return launcher_path_cut;
}

void forget_launcher_path() {
    launcher_path[0] = 0;
    launcher_path_cut = false;
}
