#include "paths/launcher_path.hpp"

#include "diag/stop.hpp"
#include "launcher/process_state.hpp"
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
    // enough to use.
    module_file_name_call(launcher_path, launcher_path_capacity);
    size_t length = 0;
    while (length < launcher_path_capacity && launcher_path[length] != 0) {
        ++length;
    }
    if (length == launcher_path_capacity) {
        stop_at_limit();
    }
    return launcher_path;
}

void forget_launcher_path() {
    launcher_path[0] = 0;
}
