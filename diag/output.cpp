#include "diag/output.hpp"

#include <windows.h>

#include <string.h>

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
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(handle, line.text, static_cast<DWORD>(line.length), &written, nullptr);
}
