#pragma once

#include <stddef.h>

// A message line under construction: fixed storage, written with one WriteFile so that
// each message reaches the stream whole.
struct MessageLine {
    // Paths are at most 4095 units and print one byte per unit; the rest is short text.
    static constexpr size_t capacity = 16384;
    char text[capacity];
    size_t length;
};

// Line end of every message: the CR LF that a text-mode stream writes for "\n".
constexpr char line_end[] = "\r\n";

void line_start(MessageLine& line);
// Appends as much of text as fits; a system text longer than the line is cut, never overrun.
void line_append(MessageLine& line, const char* text);
void line_append_count(MessageLine& line, const char* text, size_t count);
// Appends UTF-16 text narrowed for the default locale: ASCII units as they are, every other
// character (a surrogate pair counts as one) as '?', so the line stays one whole line.
void line_append_wide(MessageLine& line, const wchar_t* text);
// Expands a format holding one "%ls" and ending in "\n", with value in place of the %ls.
void line_append_formatted(MessageLine& line, const char* format, const wchar_t* value);

enum class MessageStream { standard_output, standard_error };
// Writes the line with one WriteFile; a failed write is ignored. A windowed image shows the
// line in a message box instead when the stream has no open handle.
void line_write(const MessageLine& line, MessageStream stream);

// Whether a failure line is being shown in a message box: set just before the box opens and
// never cleared, as the process ends once the box is closed. Any thread may ask, so that a
// progress window makes way for the box.
bool failure_box_opening();
