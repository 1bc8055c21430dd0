#pragma once

#include <stdint.h>

// The launcher's only channel to a user. Each operation prints exactly one line and ends
// the process, except print_os_error. Fixed messages go to standard output, the ones that
// carry a path, a template or a system error text to standard error.

// The message and a line end on standard output, then exit status 2.
[[noreturn]] void report_error_and_exit(const char* message);

// "message ([Error code] system text)" on standard error; code shown as signed 32-bit.
void print_os_error(const char* message, uint32_t code);

// Removes trailing CR and LF characters only; returns the new length.
uint32_t trim_trailing_line_breaks(char* text, uint32_t length);

// print_os_error, then exit status 2.
[[noreturn]] void report_os_error_and_exit(const char* message, uint32_t code);

// The open message with the path of the file that could not be opened, on standard error;
// exit status 2.
[[noreturn]] void report_open_failure(const wchar_t* path);

// The expansion message with the template text as compiled in, then the abnormal stop.
[[noreturn]] void report_expand_failure(const wchar_t* template_text);

// One forwarder per fixed message.
[[noreturn]] void report_header_missing();
[[noreturn]] void report_allocation_failure();
[[noreturn]] void report_decode_failure();
// Reads the last-error code itself, at the moment of the call.
[[noreturn]] void report_unpack_failure();
[[noreturn]] void report_launch_failure(uint32_t code);
