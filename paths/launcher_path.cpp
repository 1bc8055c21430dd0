#include "paths/launcher_path.hpp"

#include "diag/stop.hpp"
#include "paths/path_text.hpp"
#include "paths/system_seams.hpp"

namespace {

// Empty until the first lookup that gets a path; never changed after it.
wchar_t launcher_path[launcher_path_capacity];

} // namespace

const wchar_t* get_launcher_path() {
    if (launcher_path[0] != 0) {
        return launcher_path;
    }
    // GetModuleFileNameW does not report truncation by its result alone: a cut path comes
    // back with the full capacity as its length. Only the terminator tells the text is whole
    // enough to use. A path the system cuts at 4096 units is kept as it arrives, as {PROGRAM}
    // keeps its cut path: every place the launcher hands on its own path (argument 0, its
    // directory, the template) then shows the same text, and no later step stops over a path
    // an earlier one used.
    own_module_file_name(launcher_path, launcher_path_capacity);
    if (bounded_length(launcher_path, launcher_path_capacity) == launcher_path_capacity) {
        stop_at_limit();
    }
    return launcher_path;
}

void forget_launcher_path() {
    launcher_path[0] = 0;
}
