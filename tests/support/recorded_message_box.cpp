#include "tests/support/recorded_message_box.hpp"

#include <windows.h>

#include "diag/message_box.hpp"
#include "tests/support/whole_file.hpp"

namespace {

std::wstring record_file;

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    }
    return result;
}

} // namespace

void record_message_boxes_in(const std::wstring& file) {
    record_file = file;
}

// Each call appends title, text and style, each ended by a NUL (no message holds one).
void show_message_box(const wchar_t* text, const wchar_t* title, unsigned style) {
    if (record_file.empty()) {
        return;
    }
    std::string record = utf8(title) + '\0' + utf8(text) + '\0' + std::to_string(style) + '\0';
    HANDLE file = CreateFileW(record_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<RecordedMessageBox> read_recorded_message_boxes(const std::wstring& file) {
    std::vector<RecordedMessageBox> calls;
    std::string bytes = read_whole_file(file);
    if (bytes == "<missing>") {
        return calls;
    }
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end = bytes.find('\0'); end != std::string::npos; end = bytes.find('\0', start)) {
        fields.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    for (size_t at = 0; at + 3 <= fields.size(); at += 3) {
        calls.push_back({fields[at], fields[at + 1], static_cast<unsigned>(std::stoul(fields[at + 2]))});
    }
    return calls;
}
