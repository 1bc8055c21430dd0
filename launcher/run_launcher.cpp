#include "launcher/run_launcher.hpp"

#include <windows.h>

#include <string.h>

#include "child/console_events.hpp"
#include "child/launch.hpp"
#include "constants/build_constants.hpp"
#include "diag/decimal.hpp"
#include "diag/messages.hpp"
#include "diag/report.hpp"
#include "diag/stop.hpp"
#include "launcher/progress_window.hpp"
#include "paths/environment.hpp"
#include "paths/full_path.hpp"
#include "paths/launcher_path.hpp"
#include "paths/path_text.hpp"
#include "paths/template_expansion.hpp"
#include "payload/extract.hpp"
#include "payload/extraction_lock.hpp"
#include "payload/format.hpp"
#include "payload/old_trees.hpp"
#include "payload/reader.hpp"
#include "payload/stamp_check.hpp"

namespace {

constexpr size_t process_id_text_capacity = 128;
// Under Wine every file operation of the removal goes through the one server process that
// the child's start needs as well: removing at once delayed the child's start by a quarter
// (bench/README.md, old trees).
constexpr DWORD old_trees_pause_ms = 500;

// Process-wide like every buffer of the run: the process id as text, narrow and wide, and
// the launcher's directory.
char process_id_narrow[process_id_text_capacity];
wchar_t process_id_wide[process_id_text_capacity];
wchar_t launcher_directory[launcher_path_capacity];

void publish_parent_process_id() {
    if (format_decimal(process_id_narrow, sizeof process_id_narrow, static_cast<long>(GetCurrentProcessId()),
                       1) == 0) {
        stop_at_limit();
    }
    process_id_wide[0] = 0;
    widen_ascii(process_id_wide, process_id_text_capacity, process_id_narrow);
    set_environment("TALVIK_ONEFILE_PARENT", process_id_wide);
}

// The launcher directory is its own path up to, not including, the last backslash.
void publish_launcher_directory() {
    const wchar_t* launcher_path = get_launcher_path();
    size_t length = wcslen(launcher_path);
    if (length + 1 > launcher_path_capacity) {
        stop_at_limit();
    }
    memcpy(launcher_directory, launcher_path, (length + 1) * sizeof(wchar_t));
    launcher_directory[last_backslash(launcher_directory, length)] = 0;
    set_environment("TALVIK_ONEFILE_DIRECTORY", launcher_directory);
}

// Decodes the attached data, whose header was found, into directory; the first entry's
// path, the child.
const wchar_t* unpack_attached_data(const wchar_t* directory) {
    const unsigned char* attached_data = talvik_attached_data();
    uint64_t attached_data_length = talvik_attached_data_length();
    open_payload_reader(attached_data + attached_data_header_size,
                        attached_data_length - attached_data_header_size);
    const wchar_t* child = extract_payload(directory);
    close_payload_reader();
    return child;
}

} // namespace

uint32_t run_launcher(int argument_count, wchar_t** arguments, wchar_t* environment) {
    (void)environment;

    SetDllDirectoryW(L"");
    // The clock of a slow start runs from here.
    start_progress_window();
    unset_environment("TALVIK_ONEFILE_START");
    unset_environment("TALVIK_ONEFILE_TIME_US");
    unset_environment("TALVIK_ONEFILE_RANDOM");
    publish_parent_process_id();
    const wchar_t* path_template = talvik_path_template();
    if (!expand_path_template(target_directory, path_template, path_capacity)) {
        report_expand_failure(path_template);
    }
    normalize_target_directory();
    if (!SetConsoleCtrlHandler(on_console_event, TRUE)) {
        report_error_and_exit(message_handler_registration_failed);
    }

    // An image without attached data makes no directory.
    if (!attached_data_has_header(talvik_attached_data(), talvik_attached_data_length())) {
        report_header_missing();
    }
    // Marked before anything looks at the tree, so that no launcher removes it meanwhile.
    mark_tree_in_use(target_directory);
    // A tree that still matches the stamp of the last complete start needs neither the
    // attached data nor the extraction.
    const wchar_t* child = tree_matches_stamp(target_directory);
    if (child == nullptr) {
        child = unpack_attached_data(target_directory);
    }

    publish_launcher_directory();
    // A platform that could not split the command line leaves no argument 0.
    set_environment("TALVIK_ORIGINAL_ARGV0", argument_count > 0 ? arguments[0] : L"");
    HANDLE child_process = start_child(child);
    hand_child_to_progress_window(child_process);
    // While the child runs, so that it never waits for the removal; after a pause that
    // leaves the child's own start (its loader, its first files) without a competitor.
    WaitForSingleObject(child_process, old_trees_pause_ms);
    remove_old_trees(target_directory);
    uint32_t exit_code = wait_for_child(child_process);
    end_tree_use();
    return exit_code;
}
