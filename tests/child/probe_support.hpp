#pragma once

#include "tests/support/whole_file.hpp"

#include <windows.h>

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

// Status of the limit stop.
constexpr int limit_stop_status = 3;

// Windows paths of the helper programs built beside the tests.
std::wstring probe_path();
std::wstring launch_host_path();

// This test program's own path, as GetModuleFileNameW gives it.
std::wstring own_module_path();

// The probe's report, values unescaped: "argv[1]" -> text, "env TALVIK_X" -> text, ...
struct ProbeReport {
    std::map<std::string, std::wstring> items;
    std::vector<std::wstring> arguments;
    std::vector<std::string> unset;
    bool complete = false;
};
ProbeReport parse_probe_report(const std::string& text);

// Gives a variable a value (or removes it, for nullptr) while it lives.
class ScopedVariable {
  public:
    ScopedVariable(const wchar_t* name, const wchar_t* value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::wstring name_;
    std::wstring saved_;
    bool was_set_;
};

// A new empty directory under the temporary folder, unique to this call.
std::wstring make_temp_directory(const wchar_t* tag);
// A directory under the temporary folder named by tag alone, so that a death test's child,
// which runs the test body again, finds the same one; created when missing.
std::wstring stable_temp_directory(const wchar_t* tag);
// A file that a child inherits: created anew (or opened for reading) with an inheritable handle.
HANDLE create_inheritable_file(const std::wstring& path, bool for_reading);
void write_whole_file(const std::wstring& path, const std::string& bytes);

// launch_child(probe) in this process with the probe steered by options (PROBE_OPTIONS), its
// standard output and error sent to files, standard input from a file holding stdin_bytes.
struct CapturedRun {
    uint32_t exit_code = 0;
    std::string out;
    std::string err;
};
CapturedRun launch_probe_captured(const wchar_t* options, const std::string& stdin_bytes = "");

// Starts the probe directly (not through the launch step) with the given arguments; returns
// its process handle, or null.
HANDLE start_probe(const std::wstring& arguments);
// The process's exit code once it has ended (waits at most timeout_ms; ~0u on time-out).
uint32_t exit_code_after(HANDLE process, DWORD timeout_ms);

// Runs launch_host.exe RESULT_FILE APPLICATION ARGUMENTS... with its standard output and error
// in files and standard input empty; waits at most timeout_ms (then ends it, status ~0u).
struct HostRun {
    uint32_t status = 0;
    std::string result;
    std::string out;
    std::string err;
};
// raw_tail, when given, is appended to the host's command line as it is.
HostRun run_launch_host(const std::wstring& application, const std::vector<std::wstring>& arguments,
                        DWORD creation_flags = 0, const std::wstring& raw_tail = L"");

// The same in two steps, for tests that act while the host runs: the host started (inside
// job, when one is given, from before its first instruction), then waited for (at most 60 s,
// then ended) and its files read. The host's files lie in directory: out.txt, err.txt and
// result.txt, which a test may read while it runs.
struct StartedHost {
    HANDLE process = nullptr;
    std::wstring directory;
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    HANDLE err = nullptr;
};
StartedHost start_launch_host(const std::wstring& application, const std::vector<std::wstring>& arguments,
                              DWORD creation_flags = 0, const std::wstring& raw_tail = L"",
                              HANDLE job = nullptr);
HostRun finish_launch_host(StartedHost& host);
