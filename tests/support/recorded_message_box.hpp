#pragma once

#include <string>
#include <vector>

// The test programs' definition of show_message_box (diag/message_box.hpp) records each call
// in a file instead of showing a box, so that a death test's parent can read back what a
// windowed launcher would have shown. Nothing is recorded while no file is named.
void record_message_boxes_in(const std::wstring& file);

struct RecordedMessageBox {
    std::string title; // UTF-8
    std::string text;  // UTF-8
    unsigned style = 0;

    friend bool operator==(const RecordedMessageBox&, const RecordedMessageBox&) = default;
};

// The calls recorded in the file, in order; none when it does not exist.
std::vector<RecordedMessageBox> read_recorded_message_boxes(const std::wstring& file);
