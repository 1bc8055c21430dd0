#pragma once

// Helpers of the payload tests: attached data made by the producer, scratch directories in
// the Wine prefix, file contents and times, and extraction runs in a second process.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/producer.hpp"

using Bytes = std::vector<unsigned char>;

// Status of the limit stop.
constexpr DWORD limit_stop_status = 3;
constexpr DWORD reported_status = 2;

// Deterministic bytes that compress a little.
std::string pattern(std::size_t length, std::uint32_t seed);

// Producer settings that keep the tests quick: low level, no worker threads.
CompressionSettings quick_settings();
Bytes attached_data_for(const std::vector<PayloadSource>& sources);

std::u16string to_u16(const std::wstring& text);
// ASCII text as the launcher's messages print it.
std::string to_ascii(const std::wstring& text);

// A new, empty directory for the current test under the temporary folder; no trailing backslash.
std::wstring fresh_directory();

void write_file(const std::wstring& path, const std::string& contents);
bool file_exists(const std::wstring& path);
// The whole file, or "<missing>".
std::string read_file(const std::wstring& path);
// The names in a directory, without "." and "..", sorted.
std::vector<std::wstring> directory_names(const std::wstring& directory);

// Last-write time of a file or directory as a 64-bit count; 0 when it cannot be read.
std::uint64_t last_write_time(const std::wstring& path);
void set_last_write_time(const std::wstring& path, std::uint64_t time);
// 2001-01-01, a time no file written by a test can have.
constexpr std::uint64_t old_file_time = 126227808000000000ull;

// Extraction in this process with fresh launcher state: target_directory set, no child
// executable path yet, an empty directory cache.
void extract_here(const Bytes& block, const std::wstring& target);

// Extraction in a second process, this test program started again (see extraction_child.cpp),
// with its standard streams sent to files.
struct ChildRun {
    DWORD exit_code;
    std::string standard_output;
    std::string standard_error;
};
ChildRun extract_in_child(const Bytes& block, const std::wstring& target);

// The same in two steps, for tests that act while the child extracts.
struct ChildExtraction {
    bool started = false;
    PROCESS_INFORMATION process{};
    std::wstring block_path;
    std::wstring output_path;
    std::wstring error_path;
};
ChildExtraction start_extraction_in_child(const Bytes& block, const std::wstring& target);
bool still_running(const ChildExtraction& child);
ChildRun finish_extraction_in_child(ChildExtraction& child);

// Environment names through which extract_in_child hands the child its work, and the lock's
// patience in force in this process (tests/support/lock_patience_seam.hpp).
constexpr wchar_t child_block_variable[] = L"PAYLOAD_TEST_CHILD_BLOCK";
constexpr wchar_t child_target_variable[] = L"PAYLOAD_TEST_CHILD_TARGET";
constexpr wchar_t child_patience_variable[] = L"PAYLOAD_TEST_CHILD_LOCK_PATIENCE_MS";
