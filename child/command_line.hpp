#pragma once

#include <stddef.h>

// The platform's command-line limit: 32767 units of text and a terminator.
constexpr size_t command_line_capacity = 32768;

// The launcher's own arguments, re-quoted for the platform's splitting, with argument 0
// replaced by the launcher's full path. Returns the process-wide writable buffer.
wchar_t* build_child_command_line();

// Writes the arguments into buffer (capacity units, terminator included), separated by one
// blank and each quoted so that the platform's splitting gives it back unchanged. Ends the
// run by the limit stop when they do not fit; nothing is ever cut.
void join_arguments(wchar_t* buffer, size_t capacity, int argument_count, const wchar_t* const* arguments);
