#include "child/command_line.hpp"

#include <windows.h>

#include <shellapi.h>
#include <string.h>

#include "diag/stop.hpp"
#include "paths/launcher_path.hpp"

namespace {

// Process creation may write into the command line, so it lives in writable storage.
wchar_t child_command_line[command_line_capacity];

// Characters that make the platform's splitting end or alter an argument unless it is quoted.
constexpr wchar_t quoting_set[] = L" \t\n\v\"";

// The text so far: length units in a buffer of capacity units, always NUL-terminated.
struct CommandLineText {
    wchar_t* units;
    size_t capacity;
    size_t length;
};

void append_units(CommandLineText& text, const wchar_t* units, size_t count) {
    // The terminator needs one unit of its own: count + 1 must fit in what is left.
    if (count >= text.capacity - text.length) {
        stop_at_limit();
    }
    memcpy(text.units + text.length, units, count * sizeof(wchar_t));
    text.length += count;
    text.units[text.length] = 0;
}

void append_repeated(CommandLineText& text, wchar_t unit, size_t count) {
    if (count >= text.capacity - text.length) {
        stop_at_limit();
    }
    for (size_t at = 0; at < count; ++at) {
        text.units[text.length + at] = unit;
    }
    text.length += count;
    text.units[text.length] = 0;
}

// An empty argument is quoted too: written as nothing it would vanish when the child splits
// its command line, and every later argument would move up one place.
bool needs_quoting(const wchar_t* argument) {
    if (argument[0] == 0) {
        return true;
    }
    for (const wchar_t* unit = argument; *unit != 0; ++unit) {
        for (const wchar_t* special = quoting_set; *special != 0; ++special) {
            if (*unit == *special) {
                return true;
            }
        }
    }
    return false;
}

// The inverse of the platform's splitting: backslashes are literal unless a run of them ends
// at a double quote, where 2k backslashes give k and a quote that opens or closes, and 2k+1
// give k and a literal quote. So a run before a literal quote is written 2k+1 long, and a run
// before the closing quote 2k long.
void append_quoted(CommandLineText& text, const wchar_t* argument) {
    append_units(text, L"\"", 1);
    const wchar_t* unit = argument;
    for (;;) {
        size_t backslashes = 0;
        while (*unit == L'\\') {
            ++backslashes;
            ++unit;
        }
        if (*unit == 0) {
            append_repeated(text, L'\\', 2 * backslashes);
            break;
        }
        if (*unit == L'"') {
            append_repeated(text, L'\\', 2 * backslashes + 1);
        } else {
            append_repeated(text, L'\\', backslashes);
        }
        append_units(text, unit, 1);
        ++unit;
    }
    append_units(text, L"\"", 1);
}

} // namespace

void join_arguments(wchar_t* buffer, size_t capacity, int argument_count, const wchar_t* const* arguments) {
    CommandLineText text = {buffer, capacity, 0};
    if (capacity == 0) {
        stop_at_limit();
    }
    buffer[0] = 0;
    for (int index = 0; index < argument_count; ++index) {
        if (index > 0) {
            append_units(text, L" ", 1);
        }
        if (needs_quoting(arguments[index])) {
            append_quoted(text, arguments[index]);
        } else {
            append_units(text, arguments[index], wcslen(arguments[index]));
        }
    }
}

wchar_t* build_child_command_line() {
    int argument_count = 0;
    // The vector is never released: the process ends with the child. No vector at all means
    // the platform had no memory to split with; going on without the arguments would hand the
    // child a different command, so the run stops.
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &argument_count);
    if (arguments == nullptr) {
        stop_at_limit();
    }
    child_command_line[0] = 0;
    // Without its own path, or with only the part of it that fit, the launcher cannot give
    // the child its argument 0.
    const wchar_t* launcher_path = get_launcher_path();
    if (launcher_path[0] == 0 || launcher_path_was_cut()) {
        stop_at_limit();
    }
    if (argument_count <= 0) {
        return child_command_line;
    }
    arguments[0] = const_cast<wchar_t*>(launcher_path);
    join_arguments(child_command_line, command_line_capacity, argument_count, arguments);
    return child_command_line;
}
