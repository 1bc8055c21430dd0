#include "diag/output.hpp"

#include <windows.h>

#include <string.h>

#include "constants/build_constants.hpp"
#include "diag/message_box.hpp"
#include "diag/windowed_image.hpp"

namespace {

// The line as a message box shows it: one UTF-16 unit per byte (the line is ASCII but for
// a system text's bytes), without the line end.
wchar_t message_box_text[MessageLine::capacity];
// Written by the reporting main thread, read by the progress window's.
bool failure_box_opened;

// GetFileType fails for a value that is no open file handle of this process (one that a
// parent put in the start-up data but never passed on, or a handle of another kind of
// object): nothing can be written there. A file handle of a type it does not know
// (FILE_TYPE_UNKNOWN with no error) is open all the same, and gets the line.
bool is_open_handle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    SetLastError(NO_ERROR);
    return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

void show_line_in_message_box(const MessageLine& line) {
    size_t length = line.length;
    while (length > 0 && (line.text[length - 1] == '\r' || line.text[length - 1] == '\n')) {
        --length;
    }
    for (size_t at = 0; at < length; ++at) {
        message_box_text[at] = static_cast<unsigned char>(line.text[at]);
    }
    message_box_text[length] = 0;
    __atomic_store_n(&failure_box_opened, true, __ATOMIC_RELAXED);
    show_message_box(message_box_text, talvik_product_name(), MB_OK | MB_ICONERROR);
}

} // namespace

bool failure_box_opening() {
    return __atomic_load_n(&failure_box_opened, __ATOMIC_RELAXED);
}

void line_start(MessageLine& line) {
    line.length = 0;
    line.text[0] = 0;
}

void line_append_count(MessageLine& line, const char* text, size_t count) {
    size_t room = MessageLine::capacity - 1 - line.length;
    if (count > room) {
        count = room;
    }
    memcpy(line.text + line.length, text, count);
    line.length += count;
    line.text[line.length] = 0;
}

void line_append(MessageLine& line, const char* text) {
    line_append_count(line, text, strlen(text));
}

void line_append_wide(MessageLine& line, const wchar_t* text) {
    for (size_t at = 0; text[at] != 0; ++at) {
        wchar_t unit = text[at];
        char narrow = '?';
        if (unit < 0x80) {
            narrow = static_cast<char>(unit);
        } else if (unit >= 0xD800 && unit <= 0xDBFF && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
            ++at;
        }
        line_append_count(line, &narrow, 1);
    }
}

void line_append_formatted(MessageLine& line, const char* format, const wchar_t* value) {
    const char* placeholder = format;
    while (*placeholder != 0 && !(placeholder[0] == '%' && placeholder[1] == 'l' && placeholder[2] == 's')) {
        ++placeholder;
    }
    if (*placeholder == 0) {
        line_append(line, format);
        return;
    }
    line_append_count(line, format, static_cast<size_t>(placeholder - format));
    line_append_wide(line, value);
    const char* rest = placeholder + 3;
    size_t rest_length = strlen(rest);
    if (rest_length > 0 && rest[rest_length - 1] == '\n') {
        line_append_count(line, rest, rest_length - 1);
        line_append(line, line_end);
    } else {
        line_append(line, rest);
    }
}

void line_write(const MessageLine& line, MessageStream stream) {
    HANDLE handle =
        GetStdHandle(stream == MessageStream::standard_output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    // A windowed launcher started from the shell has no console and usually no standard
    // handles, so its line would vanish.
    if (running_image_is_windowed() && !is_open_handle(handle)) {
        show_line_in_message_box(line);
        return;
    }
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(handle, line.text, static_cast<DWORD>(line.length), &written, nullptr);
}
