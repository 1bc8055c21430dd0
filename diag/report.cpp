#include "diag/report.hpp"

#include <windows.h>

#include <stdlib.h>

#include "diag/decimal.hpp"
#include "diag/exit_status.hpp"
#include "diag/messages.hpp"
#include "diag/output.hpp"
#include "diag/stop.hpp"

namespace {

// Only the main thread reports, and it reports once; one line of storage serves.
MessageLine message_line;

// English (United States); no fallback to another language is asked for.
constexpr DWORD system_text_language = 1033;
// Shown when the system has no text for the code, so the line keeps its form.
constexpr char unknown_system_text[] = "unknown error";

[[noreturn]] void exit_after_report() {
    exit(static_cast<int>(reported_failure_status));
}

} // namespace

void report_error_and_exit(const char* message) {
    line_start(message_line);
    line_append(message_line, message);
    line_append(message_line, line_end);
    line_write(message_line, MessageStream::standard_output);
    exit_after_report();
}

uint32_t trim_trailing_line_breaks(char* text, uint32_t length) {
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
        text[--length] = 0;
    }
    return length;
}

void print_os_error(const char* message, uint32_t code) {
    char* system_text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
        code, system_text_language, reinterpret_cast<char*>(&system_text), 0, nullptr);
    // The platform's buffer is left to the end of the process, which follows at once.
    if (system_text != nullptr) {
        length = trim_trailing_line_breaks(system_text, length);
    }
    char code_text[16];
    format_decimal(code_text, sizeof code_text, static_cast<int32_t>(code), 1);

    line_start(message_line);
    line_append(message_line, message);
    line_append(message_line, " ([Error ");
    line_append(message_line, code_text);
    line_append(message_line, "] ");
    if (system_text != nullptr) {
        line_append_count(message_line, system_text, length);
    } else {
        line_append(message_line, unknown_system_text);
    }
    line_append(message_line, ")");
    line_append(message_line, line_end);
    line_write(message_line, MessageStream::standard_error);
}

void report_os_error_and_exit(const char* message, uint32_t code) {
    print_os_error(message, code);
    exit_after_report();
}

void report_open_failure(const wchar_t* path) {
    line_start(message_line);
    line_append_formatted(message_line, message_open_failed, path);
    line_write(message_line, MessageStream::standard_error);
    exit_after_report();
}

void report_expand_failure(const wchar_t* template_text) {
    line_start(message_line);
    line_append_formatted(message_line, message_expand_failed, template_text);
    line_write(message_line, MessageStream::standard_error);
    stop_abnormally();
}

void report_header_missing() {
    report_error_and_exit(message_header_missing);
}
void report_allocation_failure() {
    report_error_and_exit(message_allocation_failed);
}
void report_decode_failure() {
    report_error_and_exit(message_decode_failed);
}
void report_unpack_failure() {
    report_os_error_and_exit(message_unpack_failed, GetLastError());
}
void report_launch_failure(uint32_t code) {
    report_os_error_and_exit(message_launch_failed, code);
}
