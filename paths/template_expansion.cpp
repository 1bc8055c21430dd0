#include "paths/template_expansion.hpp"

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>

#include "constants/build_constants.hpp"
#include "diag/decimal.hpp"
#include "diag/stop.hpp"
#include "paths/environment.hpp"
#include "paths/path_text.hpp"
#include "paths/random_value.hpp"
#include "paths/shell_folder.hpp"
#include "paths/system_seams.hpp"

namespace {

// Token names and number texts: far more than any table name or 64-bit number needs.
constexpr size_t token_name_capacity = 1024;
constexpr size_t number_text_capacity = 1024;
// FILETIME counts 100-nanosecond intervals.
constexpr uint64_t filetime_units_per_microsecond = 10;
constexpr uint64_t microseconds_per_second = 1000000;
constexpr int time_us_digits = 6;

// Where the expansion stands: the output, its capacity and the current length.
struct ExpansionOutput {
    wchar_t* text;
    size_t capacity;
    size_t length;
};

size_t remaining_room(const ExpansionOutput& output) {
    return output.capacity - output.length;
}

// System calls take the room as a DWORD; no caller's buffer comes near that size.
DWORD room_for_system_call(const ExpansionOutput& output) {
    size_t room = remaining_room(output);
    return room > MAXDWORD ? MAXDWORD : static_cast<DWORD>(room);
}

// After a value was written straight into the buffer, the terminator says how far it went.
// The length takes in the written units, at most up to the buffer's last unit, which then
// holds the terminator in case the writer left none.
void clamp_and_terminate_written_value(ExpansionOutput& output) {
    output.length += bounded_length(output.text + output.length, output.capacity - 1 - output.length);
    output.text[output.length] = 0;
}

// A token value that does not fit is a limit stop, never a cut value.
void append_value(ExpansionOutput& output, const wchar_t* value) {
    size_t value_length = wcslen(value);
    if (value_length + 1 > remaining_room(output)) {
        stop_at_limit();
    }
    for (size_t at = 0; at <= value_length; ++at) {
        output.text[output.length + at] = value[at];
    }
    output.length += value_length;
}

// Removes trailing backslashes of the whole output, down to its first unit.
void strip_trailing_backslashes(ExpansionOutput& output) {
    while (output.length > 0 && output.text[output.length - 1] == L'\\') {
        output.text[--output.length] = 0;
    }
}

// Token names match ignoring the case of ASCII letters only: _wcsicmp of the "C" locale,
// the one the launcher runs in, folds no other letter.
bool same_name_ignoring_ascii_case(const wchar_t* left, const wchar_t* right) {
    return _wcsicmp(left, right) == 0;
}

bool append_temporary_directory(ExpansionOutput& output) {
    DWORD room = room_for_system_call(output);
    DWORD length = GetTempPathW(room, output.text + output.length);
    if (length == 0) {
        output.text[output.length] = 0;
        return false;
    }
    // A result at or above the room is the size the path would need: the buffer holds
    // nothing usable, and cutting the path would unpack elsewhere.
    if (length >= room) {
        stop_at_limit();
    }
    clamp_and_terminate_written_value(output);
    strip_trailing_backslashes(output);
    return true;
}

bool append_launcher_path(ExpansionOutput& output) {
    // A path longer than the room comes back cut to fit; that is used as it is.
    if (own_module_file_name(output.text + output.length, room_for_system_call(output)) == 0) {
        output.text[output.length] = 0;
        return false;
    }
    clamp_and_terminate_written_value(output);
    return true;
}

// The launcher path expanded at the current end; start receives where it begins.
bool append_nested_launcher_path(ExpansionOutput& output, size_t& start) {
    start = output.length;
    if (!expand_path_template(output.text + start, L"{PROGRAM}", remaining_room(output))) {
        return false;
    }
    clamp_and_terminate_written_value(output);
    return true;
}

bool append_launcher_base(ExpansionOutput& output) {
    size_t start = 0;
    if (!append_nested_launcher_path(output, start)) {
        return false;
    }
    if (output.length - start >= 4 &&
        same_name_ignoring_ascii_case(output.text + output.length - 4, L".EXE")) {
        output.length -= 4;
        output.text[output.length] = 0;
    }
    return true;
}

bool append_launcher_directory(ExpansionOutput& output) {
    size_t start = 0;
    if (!append_nested_launcher_path(output, start)) {
        return false;
    }
    size_t length = output.length - start;
    size_t separator = last_backslash(output.text + start, length);
    if (separator < length) {
        output.length = start + separator;
        output.text[output.length] = 0;
    }
    return true;
}

void append_process_id(ExpansionOutput& output) {
    wchar_t* parent = read_environment("TALVIK_ONEFILE_PARENT");
    if (parent != nullptr) {
        for (const wchar_t* unit = parent; *unit != 0; ++unit) {
            if (!iswdigit(*unit)) {
                stop_at_limit();
            }
        }
        append_value(output, parent);
        free(parent);
        return;
    }
    char narrow[number_text_capacity];
    if (format_decimal(narrow, sizeof narrow, static_cast<long>(GetCurrentProcessId()), 1) == 0) {
        stop_at_limit();
    }
    widen_ascii(output.text + output.length, remaining_room(output), narrow);
    clamp_and_terminate_written_value(output);
}

bool append_shell_folder_token(ExpansionOutput& output, int folder) {
    if (!append_shell_folder(output.text + output.length, folder, remaining_room(output))) {
        return false;
    }
    clamp_and_terminate_written_value(output);
    strip_trailing_backslashes(output);
    return true;
}

// Appends the value the variable publishes; false when it has none yet.
bool append_published_value(ExpansionOutput& output, const char* variable) {
    wchar_t* published = read_environment(variable);
    if (published == nullptr) {
        return false;
    }
    append_value(output, published);
    free(published);
    return true;
}

// Publishes a newly computed value before appending it, so that the text in the
// environment is exactly the appended one.
void publish_and_append(ExpansionOutput& output, const char* variable, const wchar_t* value) {
    set_environment(variable, value);
    append_value(output, value);
}

uint64_t read_system_time() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void widen_number(wchar_t* value, long long number, int min_digits) {
    char narrow[number_text_capacity];
    if (format_decimal(narrow, sizeof narrow, number, min_digits) == 0) {
        stop_at_limit();
    }
    value[0] = 0;
    widen_ascii(value, number_text_capacity, narrow);
}

void append_random_value(ExpansionOutput& output) {
    if (append_published_value(output, "TALVIK_ONEFILE_RANDOM")) {
        return;
    }
    wchar_t value[random_value_capacity];
    generate_random_value(value);
    publish_and_append(output, "TALVIK_ONEFILE_RANDOM", value);
}

void append_time_us_value(ExpansionOutput& output) {
    if (append_published_value(output, "TALVIK_ONEFILE_TIME_US")) {
        return;
    }
    uint64_t microseconds = (read_system_time() / filetime_units_per_microsecond) % microseconds_per_second;
    wchar_t value[number_text_capacity];
    widen_number(value, static_cast<long long>(microseconds), time_us_digits);
    publish_and_append(output, "TALVIK_ONEFILE_TIME_US", value);
}

void append_time_value(ExpansionOutput& output) {
    if (append_published_value(output, "TALVIK_ONEFILE_START")) {
        return;
    }
    wchar_t value[number_text_capacity];
    widen_number(value, static_cast<long long>(read_system_time()), 1);
    publish_and_append(output, "TALVIK_ONEFILE_START", value);
}

// Appends the token's value at the end of output; false for an unknown name or a failed
// lookup. Values that do not fit are limit stops.
bool resolve_token(ExpansionOutput& output, const wchar_t* name) {
    if (same_name_ignoring_ascii_case(name, L"TEMP")) {
        return append_temporary_directory(output);
    }
    if (same_name_ignoring_ascii_case(name, L"PROGRAM")) {
        return append_launcher_path(output);
    }
    if (same_name_ignoring_ascii_case(name, L"PROGRAM_BASE")) {
        return append_launcher_base(output);
    }
    if (same_name_ignoring_ascii_case(name, L"PROGRAM_DIR")) {
        return append_launcher_directory(output);
    }
    if (same_name_ignoring_ascii_case(name, L"PID")) {
        append_process_id(output);
        return true;
    }
    if (same_name_ignoring_ascii_case(name, L"HOME")) {
        return append_shell_folder_token(output, shell_folder_profile);
    }
    if (same_name_ignoring_ascii_case(name, L"CACHE_DIR")) {
        return append_shell_folder_token(output, shell_folder_local_appdata);
    }
    if (same_name_ignoring_ascii_case(name, L"COMPANY")) {
        append_value(output, talvik_company_name());
        return true;
    }
    if (same_name_ignoring_ascii_case(name, L"PRODUCT")) {
        append_value(output, talvik_product_name());
        return true;
    }
    if (same_name_ignoring_ascii_case(name, L"VERSION") ||
        same_name_ignoring_ascii_case(name, L"FILE_VERSION") ||
        same_name_ignoring_ascii_case(name, L"PRODUCT_VERSION")) {
        append_value(output, talvik_version_string());
        return true;
    }
    if (same_name_ignoring_ascii_case(name, L"RANDOM")) {
        append_random_value(output);
        return true;
    }
    if (same_name_ignoring_ascii_case(name, L"TIME_US")) {
        append_time_us_value(output);
        return true;
    }
    if (same_name_ignoring_ascii_case(name, L"TIME")) {
        append_time_value(output);
        return true;
    }
    return false;
}

} // namespace

bool expand_path_template(wchar_t* output_text, const wchar_t* path_template, size_t capacity) {
    if (capacity == 0) {
        stop_at_limit();
    }
    ExpansionOutput output = {output_text, capacity, 0};
    output.text[0] = 0;

    wchar_t name[token_name_capacity];
    size_t name_length = 0;
    bool inside_token = false;
    // A name too long for its buffer matches no token; it fails the expansion when closed.
    bool name_too_long = false;
    for (const wchar_t* unit = path_template; *unit != 0; ++unit) {
        if (*unit == L'{') {
            // A brace inside a token starts the name afresh; what was collected is dropped.
            inside_token = true;
            name_length = 0;
            name_too_long = false;
        } else if (inside_token && *unit == L'}') {
            inside_token = false;
            if (name_too_long) {
                return false;
            }
            name[name_length] = 0;
            if (!resolve_token(output, name)) {
                return false;
            }
        } else if (inside_token) {
            if (name_length + 1 < token_name_capacity) {
                name[name_length++] = *unit;
            } else {
                name_too_long = true;
            }
        } else {
            // Literal text, a "}" outside a token included.
            if (remaining_room(output) < 2) {
                return false;
            }
            output.text[output.length++] = *unit;
            output.text[output.length] = 0;
        }
    }
    // A token still open at the end is dropped.
    return true;
}
