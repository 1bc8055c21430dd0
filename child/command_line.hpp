#pragma once

#include <stddef.h>

// The platform's command-line limit: 32767 units of text and a terminator.
constexpr size_t command_line_capacity = 32768;

// The launcher's own arguments, re-quoted for the platform's splitting, with argument 0
// replaced by the launcher's full path. Returns the process-wide writable buffer.
wchar_t* build_child_command_line();
