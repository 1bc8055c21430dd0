#include "probe_support.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "child/command_line.hpp"
#include "child/launch.hpp"

namespace {

// CMake hands the programs' Unix paths; Wine shows the Unix root as drive Z:.
std::wstring windows_path(const char* unix_path) {
    std::wstring path = L"Z:";
    for (const char* at = unix_path; *at != 0; ++at) {
        path += *at == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*at));
    }
    return path;
}

std::wstring from_utf8(const std::string& bytes) {
    std::wstring text(bytes.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                                    static_cast<int>(text.size())));
    return text;
}

// Undoes the probe's escapes; the rest is UTF-8.
std::wstring unescape(const std::string& value) {
    std::wstring result;
    std::string pending;
    auto flush = [&] {
        result += from_utf8(pending);
        pending.clear();
    };
    for (size_t at = 0; at < value.size(); ++at) {
        if (value[at] != '\\' || at + 1 == value.size()) {
            pending += value[at];
            continue;
        }
        flush();
        char kind = value[++at];
        switch (kind) {
        case 'r':
            result += L'\r';
            break;
        case 'n':
            result += L'\n';
            break;
        case 't':
            result += L'\t';
            break;
        case 'v':
            result += L'\v';
            break;
        case 'x':
            result += static_cast<wchar_t>(std::stoul(value.substr(at + 1, 2), nullptr, 16));
            at += 2;
            break;
        case 'u':
            result += static_cast<wchar_t>(std::stoul(value.substr(at + 1, 4), nullptr, 16));
            at += 4;
            break;
        default:
            result += static_cast<wchar_t>(kind);
            break;
        }
    }
    flush();
    return result;
}

} // namespace

std::wstring probe_path() {
    return windows_path(PROBE_PATH);
}
std::wstring launch_host_path() {
    return windows_path(LAUNCH_HOST_PATH);
}

std::wstring own_module_path() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

ProbeReport parse_probe_report(const std::string& text) {
    ProbeReport report;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line == "end") {
            report.complete = true;
        } else if (line.rfind("unset ", 0) == 0) {
            report.unset.push_back(line.substr(6));
        } else if (size_t equals = line.find('='); equals != std::string::npos) {
            report.items[line.substr(0, equals)] = unescape(line.substr(equals + 1));
        }
    }
    for (size_t index = 0; report.items.count("argv[" + std::to_string(index) + "]") != 0; ++index) {
        report.arguments.push_back(report.items["argv[" + std::to_string(index) + "]"]);
    }
    return report;
}

ScopedVariable::ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    saved_.assign(32768, L'\0');
    SetLastError(0);
    DWORD length = GetEnvironmentVariableW(name, saved_.data(), static_cast<DWORD>(saved_.size()));
    was_set_ = !(length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND);
    saved_.resize(length);
    SetEnvironmentVariableW(name, value);
}

ScopedVariable::~ScopedVariable() {
    SetEnvironmentVariableW(name_.c_str(), was_set_ ? saved_.c_str() : nullptr);
}

// Process ids come back from run to run under Wine, so a name is taken only once the
// directory did not exist before.
std::wstring make_temp_directory(const wchar_t* tag) {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    for (;;) {
        std::wstring path = std::wstring(base) + L"talvik-child-" + tag + L"-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            return path;
        }
    }
}

std::wstring stable_temp_directory(const wchar_t* tag) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring path = std::wstring(base) + L"talvik-child-" + tag;
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

HANDLE create_inheritable_file(const std::wstring& path, bool for_reading) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    return CreateFileW(path.c_str(), for_reading ? GENERIC_READ : GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                       for_reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void write_whole_file(const std::wstring& path, const std::string& bytes) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD wrote = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
    CloseHandle(file);
}

CapturedRun launch_probe_captured(const wchar_t* options, const std::string& stdin_bytes) {
    std::wstring directory = make_temp_directory(L"run");
    write_whole_file(directory + L"\\in.txt", stdin_bytes);
    HANDLE in = create_inheritable_file(directory + L"\\in.txt", true);
    HANDLE out = create_inheritable_file(directory + L"\\out.txt", false);
    HANDLE err = create_inheritable_file(directory + L"\\err.txt", false);
    HANDLE saved_in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE saved_out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE saved_err = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, in);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);

    CapturedRun run;
    {
        ScopedVariable steering(L"PROBE_OPTIONS", options);
        run.exit_code = launch_child(probe_path().c_str());
    }

    SetStdHandle(STD_INPUT_HANDLE, saved_in);
    SetStdHandle(STD_OUTPUT_HANDLE, saved_out);
    SetStdHandle(STD_ERROR_HANDLE, saved_err);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    run.out = read_whole_file(directory + L"\\out.txt");
    run.err = read_whole_file(directory + L"\\err.txt");
    return run;
}

HANDLE start_probe(const std::wstring& arguments) {
    std::wstring command_line = L"probe.exe " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(probe_path().c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

uint32_t exit_code_after(HANDLE process, DWORD timeout_ms) {
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) {
        return ~0u;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

StartedHost start_launch_host(const std::wstring& application, const std::vector<std::wstring>& arguments,
                              DWORD creation_flags, const std::wstring& raw_tail, HANDLE job) {
    StartedHost host;
    host.directory = make_temp_directory(L"host");
    std::vector<std::wstring> all = {launch_host_path(), host.directory + L"\\result.txt", application};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : all) {
        pointers.push_back(argument.c_str());
    }
    std::vector<wchar_t> command_line(command_line_capacity);
    join_arguments(command_line.data(), command_line.size(), static_cast<int>(pointers.size()),
                   pointers.data());
    command_line.resize(wcslen(command_line.data()));
    command_line.insert(command_line.end(), raw_tail.begin(), raw_tail.end());
    command_line.push_back(0);

    write_whole_file(host.directory + L"\\in.txt", "");
    host.in = create_inheritable_file(host.directory + L"\\in.txt", true);
    host.out = create_inheritable_file(host.directory + L"\\out.txt", false);
    host.err = create_inheritable_file(host.directory + L"\\err.txt", false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = host.in;
    startup.hStdOutput = host.out;
    startup.hStdError = host.err;
    PROCESS_INFORMATION process{};
    DWORD flags = creation_flags | (job != nullptr ? CREATE_SUSPENDED : 0);
    if (!CreateProcessW(launch_host_path().c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                        nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "launch_host.exe did not start: " << GetLastError();
        return host;
    }
    if (job != nullptr) {
        EXPECT_TRUE(AssignProcessToJobObject(job, process.hProcess)) << GetLastError();
        ResumeThread(process.hThread);
    }
    CloseHandle(process.hThread);
    host.process = process.hProcess;
    return host;
}

HostRun finish_launch_host(StartedHost& host) {
    HostRun run;
    if (host.process != nullptr) {
        run.status = exit_code_after(host.process, 60000);
        if (run.status == ~0u) {
            TerminateProcess(host.process, 1);
            WaitForSingleObject(host.process, INFINITE);
        }
        CloseHandle(host.process);
        host.process = nullptr;
    }
    CloseHandle(host.in);
    CloseHandle(host.out);
    CloseHandle(host.err);
    run.result = read_whole_file(host.directory + L"\\result.txt");
    run.out = read_whole_file(host.directory + L"\\out.txt");
    run.err = read_whole_file(host.directory + L"\\err.txt");
    return run;
}

HostRun run_launch_host(const std::wstring& application, const std::vector<std::wstring>& arguments,
                        DWORD creation_flags, const std::wstring& raw_tail) {
    StartedHost host = start_launch_host(application, arguments, creation_flags, raw_tail);
    return finish_launch_host(host);
}
