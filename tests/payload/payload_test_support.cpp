#include "payload_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "paths/full_path.hpp"
#include "payload/directory_cache.hpp"
#include "payload/extract.hpp"
#include "payload/extraction_lock.hpp"
#include "payload/format.hpp"
#include "payload/reader.hpp"
#include "tests/support/lock_patience_seam.hpp"

std::string pattern(std::size_t length, std::uint32_t seed) {
    std::string text(length, '\0');
    std::uint32_t state = seed | 1;
    for (char& c : text) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state % 11);
    }
    return text;
}

CompressionSettings quick_settings() {
    CompressionSettings settings;
    settings.level = 3;
    settings.threads = 1;
    return settings;
}

Bytes attached_data_for(const std::vector<PayloadSource>& sources) {
    return build_attached_data(sources, quick_settings());
}

std::u16string to_u16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

std::string to_ascii(const std::wstring& text) {
    std::string ascii;
    for (wchar_t unit : text) {
        ascii.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return ascii;
}

std::wstring fresh_directory() {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_GT(length, 0u);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::wstring directory =
        std::wstring(temp, length) + L"talvik-payload\\" + std::wstring(name.begin(), name.end());
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    std::filesystem::create_directories(directory);
    return directory;
}

void write_file(const std::wstring& path, const std::string& contents) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << to_ascii(path);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr));
    CloseHandle(file);
}

bool file_exists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string read_file(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::string contents(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t at = 0;
    DWORD got = 0;
    while (at < contents.size() &&
           ReadFile(file, contents.data() + at, static_cast<DWORD>(contents.size() - at), &got, nullptr) &&
           got > 0) {
        at += got;
    }
    contents.resize(at);
    CloseHandle(file);
    return contents;
}

std::vector<std::wstring> directory_names(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::uint64_t last_write_time(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

void set_last_write_time(const std::wstring& path, std::uint64_t time) {
    // Directories open only with backup semantics.
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << to_ascii(path);
    FILETIME file_time{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &file_time));
    CloseHandle(file);
}

void extract_here(const Bytes& block, const std::wstring& target) {
    ASSERT_LT(target.size(), path_capacity);
    std::memcpy(target_directory, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    child_executable_path[0] = 0;
    // The copies of an earlier run are left behind; a test process is short.
    created_directory_cache.count = 0;
    extraction_lock = {};
    ASSERT_TRUE(attached_data_has_header(block.data(), block.size()));
    open_payload_reader(block.data() + attached_data_header_size, block.size() - attached_data_header_size);
    extract_payload(target_directory);
    close_payload_reader();
}

namespace {

std::wstring scratch_file(const wchar_t* suffix) {
    static int runs = 0;
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring directory = std::wstring(temp, length) + L"talvik-payload-child";
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(runs++) +
           suffix;
}

HANDLE inheritable_output(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ChildExtraction start_extraction_in_child(const Bytes& block, const std::wstring& target) {
    ChildExtraction child;
    child.block_path = scratch_file(L".block");
    child.output_path = scratch_file(L".out");
    child.error_path = scratch_file(L".err");
    write_file(child.block_path, std::string(block.begin(), block.end()));

    wchar_t program[MAX_PATH + 1];
    GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
    std::wstring command_line = L"\"" + std::wstring(program) + L"\"";

    HANDLE output = inheritable_output(child.output_path);
    HANDLE error = inheritable_output(child.error_path);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = error;
    SetEnvironmentVariableW(child_block_variable, child.block_path.c_str());
    SetEnvironmentVariableW(child_target_variable, target.c_str());
    SetEnvironmentVariableW(child_patience_variable, std::to_wstring(lock_patience_in_tests_ms).c_str());
    child.started = CreateProcessW(program, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &child.process);
    SetEnvironmentVariableW(child_block_variable, nullptr);
    SetEnvironmentVariableW(child_target_variable, nullptr);
    SetEnvironmentVariableW(child_patience_variable, nullptr);
    CloseHandle(output);
    CloseHandle(error);
    EXPECT_TRUE(child.started);
    return child;
}

bool still_running(const ChildExtraction& child) {
    return child.started && WaitForSingleObject(child.process.hProcess, 0) == WAIT_TIMEOUT;
}

ChildRun finish_extraction_in_child(ChildExtraction& child) {
    ChildRun run{~DWORD{0}, "", ""};
    if (child.started) {
        WaitForSingleObject(child.process.hProcess, INFINITE);
        GetExitCodeProcess(child.process.hProcess, &run.exit_code);
        CloseHandle(child.process.hThread);
        CloseHandle(child.process.hProcess);
        child.started = false;
    }
    run.standard_output = read_file(child.output_path);
    run.standard_error = read_file(child.error_path);
    DeleteFileW(child.block_path.c_str());
    DeleteFileW(child.output_path.c_str());
    DeleteFileW(child.error_path.c_str());
    return run;
}

ChildRun extract_in_child(const Bytes& block, const std::wstring& target) {
    ChildExtraction child = start_extraction_in_child(block, target);
    return finish_extraction_in_child(child);
}
