#include "tests/paths/test_support.hpp"

#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

const wchar_t* fake_path = L"";

DWORD fake_module_file_name(wchar_t* buffer, DWORD capacity) {
    ++FakeModulePath::calls;
    DWORD length = static_cast<DWORD>(wcslen(fake_path));
    if (length == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (capacity == 0) {
        return 0;
    }
    DWORD copied = length < capacity ? length : capacity - 1;
    wmemcpy(buffer, fake_path, copied);
    buffer[copied] = 0;
    return length < capacity ? length : capacity;
}

} // namespace

int FakeModulePath::calls = 0;

FakeModulePath::FakeModulePath(const wchar_t* path) : saved_(module_file_name_stand_in) {
    fake_path = path;
    calls = 0;
    module_file_name_stand_in = fake_module_file_name;
}

FakeModulePath::~FakeModulePath() {
    module_file_name_stand_in = saved_;
}

bool system_variable(const wchar_t* name, std::wstring& value) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    // An empty value still needs one unit for its terminator: 0 means no variable.
    if (needed == 0) {
        value.clear();
        return false;
    }
    std::wstring buffer(needed, L'\0');
    DWORD length = GetEnvironmentVariableW(name, buffer.data(), needed);
    buffer.resize(length);
    value = buffer;
    return true;
}

SavedVariable::SavedVariable(const wchar_t* name) : name_(name) {
    was_set_ = system_variable(name, value_);
}

SavedVariable::~SavedVariable() {
    SetEnvironmentVariableW(name_.c_str(), was_set_ ? value_.c_str() : nullptr);
}

std::wstring shell_folder_without_trailing_backslashes(int folder) {
    wchar_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    std::wstring text = path;
    while (!text.empty() && text.back() == L'\\') {
        text.pop_back();
    }
    return text;
}
