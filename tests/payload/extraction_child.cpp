// The second process of extract_in_child: this test program started again with a block file
// and a target directory in its environment. It is told apart before GoogleTest's main runs,
// so no test and no test set-up is repeated; it unpacks like the launcher and exits.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "diag/report.hpp"
#include "paths/full_path.hpp"
#include "payload/extract.hpp"
#include "payload/format.hpp"
#include "payload/reader.hpp"
#include "payload_test_support.hpp"
#include "tests/support/lock_patience_seam.hpp"

namespace {

std::wstring variable(const wchar_t* name) {
    wchar_t value[path_capacity];
    DWORD length = GetEnvironmentVariableW(name, value, path_capacity);
    return length > 0 && length < path_capacity ? std::wstring(value, length) : std::wstring();
}

std::vector<unsigned char> read_block(const std::wstring& path) {
    std::vector<unsigned char> block;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ExitProcess(100);
    }
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    block.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!block.empty() && !ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
        ExitProcess(101);
    }
    CloseHandle(file);
    return block;
}

bool run_extraction_if_asked() {
    std::wstring block_path = variable(child_block_variable);
    if (block_path.empty()) {
        return false;
    }
    std::wstring target = variable(child_target_variable);
    lock_patience_in_tests_ms =
        static_cast<DWORD>(std::wcstoul(variable(child_patience_variable).c_str(), nullptr, 10));
    std::memcpy(target_directory, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    static std::vector<unsigned char> block = read_block(block_path);
    if (!attached_data_has_header(block.data(), block.size())) {
        report_header_missing();
    }
    open_payload_reader(block.data() + attached_data_header_size, block.size() - attached_data_header_size);
    extract_payload(target_directory);
    close_payload_reader();
    std::exit(0);
}

const bool extraction_child = run_extraction_if_asked();

} // namespace
