// probe.exe: a stand-in child for launcher tests. It reports on standard output what it was
// started with, then acts on its options. Other test programs parse its report, so keep the
// format below stable; add new items only as new lines before "end".
//
// Options, recognised anywhere among the arguments (argument 0 excepted) and also in the
// environment variable PROBE_OPTIONS, which is split like a command line and read after the
// arguments (so a caller whose arguments are not its own can still steer the probe). Anything
// else is ignored; a later option overrides an earlier one.
//   --quiet                    report nothing
//   --exit N                   end with exit code N: decimal or 0x hexadecimal, all 32 bits (default 0)
//   --sleep MS                 sleep MS milliseconds before ending
//   --ignore-console-events    a console control handler that returns TRUE for every event
//   --console-event-exit N     on a console control event, end at once with exit code N
//   --write-stderr TEXT        write TEXT (UTF-8) and a line feed to standard error
//   --read-stdin               read standard input to its end and report it as stdin-data
//   --ready-event NAME         set the named event (created if missing) once the report is
//                              written and the console options are in force
//   --generate-console-event T after that, GenerateConsoleCtrlEvent(T, 0): event T (0 for
//                              Ctrl+C, 1 for Ctrl+Break) to every process on the probe's console
//   --verify-tree MANIFEST     before the report, check every file that MANIFEST lists (a path
//                              relative to the probe's own folder); see "Tree check" below
//   --start-probe ARGUMENTS    start another probe (this same program) with ARGUMENTS as its
//                              command line after the program name, handing it no handles, and
//                              go on without waiting for it
//   --wait-file PATH           wait until PATH exists (at most two minutes, then go on)
//   --write-file PATH          create PATH holding "written\n"
//   --idle-after MS            sleep MS milliseconds, write the line "idle" to standard error,
//                              then wait on its message queue briefly: from then on the system
//                              counts the probe as ready for input (WaitForInputIdle in its
//                              parent returns), if it is a windowed program (probe-windowed.exe,
//                              the same probe built for the GUI subsystem). Without this option
//                              a windowed probe never becomes ready for input.
// They take effect in this order: console handlers, tree check, --start-probe, report,
// --write-stderr, --ready-event, --generate-console-event, --idle-after, --sleep, --wait-file,
// --write-file, exit. The probe writes nothing else to either stream.
//
// Tree check: MANIFEST holds one line per file, "CRC SIZE NAME": the CRC-32 in 8 hex
// digits, the size in decimal, the name relative to the probe's folder (UTF-8, backslashes).
// Each file is read whole, with full sharing so that no launcher writing beside it is
// disturbed, and must have exactly that size and CRC-32. An empty file is only sized, not
// opened: every start rewrites empty entries (an empty file cannot be mapped for the reuse
// test), and the writer's handle shares no reading, so an open could meet one of them.
//
// Report: UTF-8 lines, each ending in a line feed, in this order:
//   probe=1                    format version
//   cmdline=TEXT               GetCommandLineW
//   argc=N                     as CommandLineToArgvW splits the command line (Wine's C runtime
//   argv[I]=TEXT               splits argument 0 differently, so its argv is not used)
//   module=PATH                GetModuleFileNameW of the probe itself
//   cwd=PATH                   GetCurrentDirectoryW
//   pid=N                      GetCurrentProcessId
//   env NAME=TEXT | unset NAME the six launcher variables, always, in this order: TALVIK_ONEFILE_PARENT,
//                              TALVIK_ONEFILE_START, TALVIK_ONEFILE_TIME_US, TALVIK_ONEFILE_RANDOM,
//                              TALVIK_ONEFILE_DIRECTORY, TALVIK_ORIGINAL_ARGV0
//   env NAME=TEXT              every other variable whose name begins with TALVIK_, in block order
//   stdin=KIND                 GetFileType of each standard handle: disk, char, pipe, remote,
//   stdout=KIND                unknown, or none for a null or invalid handle
//   stderr=KIND
//   console=PIDS | none        GetConsoleProcessList: the processes attached to the probe's
//                              console, comma-separated, or none without a console
//   console-window=present | none  GetConsoleWindow
//   console-screen=WxH | none  the size of the screen buffer behind CONOUT$, or none when the
//                              console does not answer (no console, or one whose window could
//                              not be made)
//   started-pid=N              only with --start-probe: the other probe's id, 0 if it did not start
//   stdin-data=TEXT            only with --read-stdin (bytes taken as UTF-8)
//   tree=exact|damaged         only with --verify-tree: every listed file as listed, or not
//   tree-files=N               only with --verify-tree: the number of files listed
//   tree-problem=TEXT          only with --verify-tree, one per file that is not as listed
//                              (the first 20): its name and what was found
//   end
// TEXT escapes a backslash as \\, CR as \r, LF as \n, tab as \t, vertical tab as \v, any other
// unit below 0x20 as \xHH and a lone surrogate as \uHHHH (hex digits in upper case).
#include <windows.h>

#include <shellapi.h>

#include <zlib.h>

#include <string>
#include <vector>

namespace {

struct Options {
    bool quiet = false;
    DWORD exit_code = 0;
    DWORD sleep_ms = 0;
    bool ignore_console_events = false;
    bool exit_on_console_event = false;
    DWORD console_event_exit_code = 0;
    bool write_stderr = false;
    std::wstring stderr_text;
    bool read_stdin = false;
    std::wstring ready_event;
    std::wstring manifest;
    bool generate_console_event = false;
    DWORD generated_event = 0;
    bool start_probe = false;
    std::wstring probe_arguments;
    std::wstring wait_file;
    std::wstring write_file;
    bool become_idle = false;
    DWORD idle_after_ms = 0;
};

DWORD console_event_exit_code = 0;

std::vector<std::wstring> split(const wchar_t* command_line) {
    std::vector<std::wstring> result;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(command_line, &count);
    if (arguments == nullptr) {
        return result;
    }
    for (int at = 0; at < count; ++at) {
        result.emplace_back(arguments[at]);
    }
    LocalFree(arguments);
    return result;
}

DWORD parse_number(const std::wstring& text) {
    return static_cast<DWORD>(wcstoul(text.c_str(), nullptr, 0));
}

// Arguments from index first on; argument 0 of a command line is the program, not an option.
void read_options(Options& options, const std::vector<std::wstring>& arguments, size_t first) {
    for (size_t at = first; at < arguments.size(); ++at) {
        const std::wstring& name = arguments[at];
        bool has_value = at + 1 < arguments.size();
        if (name == L"--quiet") {
            options.quiet = true;
        } else if (name == L"--ignore-console-events") {
            options.ignore_console_events = true;
        } else if (name == L"--read-stdin") {
            options.read_stdin = true;
        } else if (has_value && name == L"--exit") {
            options.exit_code = parse_number(arguments[++at]);
        } else if (has_value && name == L"--sleep") {
            options.sleep_ms = parse_number(arguments[++at]);
        } else if (has_value && name == L"--console-event-exit") {
            options.exit_on_console_event = true;
            options.console_event_exit_code = parse_number(arguments[++at]);
        } else if (has_value && name == L"--write-stderr") {
            options.write_stderr = true;
            options.stderr_text = arguments[++at];
        } else if (has_value && name == L"--generate-console-event") {
            options.generate_console_event = true;
            options.generated_event = parse_number(arguments[++at]);
        } else if (has_value && name == L"--ready-event") {
            options.ready_event = arguments[++at];
        } else if (has_value && name == L"--verify-tree") {
            options.manifest = arguments[++at];
        } else if (has_value && name == L"--start-probe") {
            options.start_probe = true;
            options.probe_arguments = arguments[++at];
        } else if (has_value && name == L"--wait-file") {
            options.wait_file = arguments[++at];
        } else if (has_value && name == L"--write-file") {
            options.write_file = arguments[++at];
        } else if (has_value && name == L"--idle-after") {
            options.become_idle = true;
            options.idle_after_ms = parse_number(arguments[++at]);
        }
    }
}

void append_utf8(std::string& out, unsigned code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

void append_hex(std::string& out, unsigned value, int digits) {
    constexpr char hex_digits[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out += hex_digits[(value >> shift) & 0xF];
    }
}

void append_escaped(std::string& out, const wchar_t* text, size_t length) {
    for (size_t at = 0; at < length; ++at) {
        unsigned unit = text[at];
        if (unit == L'\\') {
            out += "\\\\";
        } else if (unit == L'\r') {
            out += "\\r";
        } else if (unit == L'\n') {
            out += "\\n";
        } else if (unit == L'\t') {
            out += "\\t";
        } else if (unit == L'\v') {
            out += "\\v";
        } else if (unit < 0x20) {
            out += "\\x";
            append_hex(out, unit, 2);
        } else if (unit >= 0xD800 && unit < 0xDC00 && at + 1 < length && text[at + 1] >= 0xDC00 &&
                   text[at + 1] < 0xE000) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[at + 1] - 0xDC00));
            ++at;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            out += "\\u";
            append_hex(out, unit, 4);
        } else {
            append_utf8(out, unit);
        }
    }
}

void append_item(std::string& out, const char* name, const std::wstring& value) {
    out += name;
    out += '=';
    append_escaped(out, value.data(), value.size());
    out += '\n';
}

std::wstring module_path() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring current_directory() {
    std::wstring path(32768, L'\0');
    path.resize(GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data()));
    return path;
}

bool read_variable(const wchar_t* name, std::wstring& value) {
    value.assign(32768, L'\0');
    SetLastError(0);
    DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return false;
    }
    value.resize(length);
    return true;
}

const char* handle_kind(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return "none";
    }
    switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
        return "disk";
    case FILE_TYPE_CHAR:
        return "char";
    case FILE_TYPE_PIPE:
        return "pipe";
    case FILE_TYPE_REMOTE:
        return "remote";
    default:
        return "unknown";
    }
}

constexpr const wchar_t* launcher_variables[] = {
    L"TALVIK_ONEFILE_PARENT", L"TALVIK_ONEFILE_START",     L"TALVIK_ONEFILE_TIME_US",
    L"TALVIK_ONEFILE_RANDOM", L"TALVIK_ONEFILE_DIRECTORY", L"TALVIK_ORIGINAL_ARGV0",
};

bool is_launcher_variable(const std::wstring& name) {
    for (const wchar_t* known : launcher_variables) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

void append_environment(std::string& out) {
    std::string narrow_name;
    for (const wchar_t* name : launcher_variables) {
        std::wstring value;
        narrow_name.clear();
        append_escaped(narrow_name, name, wcslen(name));
        if (read_variable(name, value)) {
            out += "env ";
            append_item(out, narrow_name.c_str(), value);
        } else {
            out += "unset " + narrow_name + "\n";
        }
    }
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != 0; entry += wcslen(entry) + 1) {
        std::wstring text = entry;
        // Skip the hidden per-drive entries ("=C:=C:\...") that begin with '='.
        size_t equals = text.find(L'=', 1);
        if (text.rfind(L"TALVIK_", 0) != 0 || equals == std::wstring::npos) {
            continue;
        }
        std::wstring name = text.substr(0, equals);
        if (is_launcher_variable(name)) {
            continue;
        }
        narrow_name.clear();
        append_escaped(narrow_name, name.data(), name.size());
        out += "env ";
        append_item(out, narrow_name.c_str(), text.substr(equals + 1));
    }
    FreeEnvironmentStringsW(block);
}

std::wstring read_all_stdin() {
    std::string bytes;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(input, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    std::wstring text(bytes.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                                    static_cast<int>(text.size())));
    return text;
}

void write_all(DWORD which, const std::string& text) {
    HANDLE handle = GetStdHandle(which);
    size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        if (!WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote, nullptr) ||
            wrote == 0) {
            return;
        }
        done += wrote;
    }
}

// The outcome of the tree check, as report lines.
struct TreeCheck {
    bool exact = true;
    size_t files = 0;
    std::vector<std::string> problems;
};

constexpr size_t reported_tree_problems = 20;
// --idle-after: the one wait on the message queue that makes the probe ready for input.
constexpr DWORD queue_wait_ms = 10;
constexpr DWORD tree_read_chunk = 1 << 16;

std::wstring from_utf8(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    return wide;
}

std::string whole_file(const std::wstring& path, bool& ok) {
    std::string bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = file != INVALID_HANDLE_VALUE;
    if (!ok) {
        return "open failed, error " + std::to_string(GetLastError());
    }
    char chunk[tree_read_chunk];
    DWORD got = 0;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) {
        bytes.append(chunk, got);
    }
    if (!ok) {
        bytes = "read failed, error " + std::to_string(GetLastError());
    }
    CloseHandle(file);
    return bytes;
}

void note_problem(TreeCheck& check, const std::string& name, const std::string& what) {
    check.exact = false;
    if (check.problems.size() < reported_tree_problems) {
        check.problems.push_back(name + ": " + what);
    }
}

// One manifest line: "CRC SIZE NAME".
void check_tree_file(TreeCheck& check, const std::wstring& folder, const std::string& line) {
    size_t first_blank = line.find(' ');
    size_t second_blank = line.find(' ', first_blank + 1);
    if (first_blank == std::string::npos || second_blank == std::string::npos) {
        note_problem(check, line, "not a manifest line");
        return;
    }
    unsigned long expected_crc = std::stoul(line.substr(0, first_blank), nullptr, 16);
    unsigned long long expected_size =
        std::stoull(line.substr(first_blank + 1, second_blank - first_blank - 1));
    std::string name = line.substr(second_blank + 1);
    std::wstring path = folder + L"\\" + from_utf8(name);
    ++check.files;
    if (expected_size == 0) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeLow != 0 ||
            data.nFileSizeHigh != 0 || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            note_problem(check, name, "not an empty file");
        }
        return;
    }
    bool ok = false;
    std::string bytes = whole_file(path, ok);
    if (!ok) {
        note_problem(check, name, bytes);
        return;
    }
    unsigned long crc =
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    if (bytes.size() != expected_size || crc != expected_crc) {
        note_problem(check, name, "size " + std::to_string(bytes.size()) + ", crc " + std::to_string(crc));
    }
}

TreeCheck check_tree(const std::wstring& manifest) {
    TreeCheck check;
    std::wstring folder = module_path();
    folder.resize(folder.rfind(L'\\'));
    bool ok = false;
    std::string text = whole_file(folder + L"\\" + manifest, ok);
    if (!ok) {
        note_problem(check, "manifest", text);
        return check;
    }
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty()) {
            check_tree_file(check, folder, line);
        }
    }
    return check;
}

constexpr DWORD console_process_capacity = 64;

void append_console(std::string& out) {
    DWORD processes[console_process_capacity];
    DWORD count = GetConsoleProcessList(processes, console_process_capacity);
    std::string list;
    for (DWORD at = 0; at < count && at < console_process_capacity; ++at) {
        if (at > 0) {
            list += ',';
        }
        list += std::to_string(processes[at]);
    }
    out += "console=" + (list.empty() ? std::string("none") : list) + "\n";
    out += std::string("console-window=") + (GetConsoleWindow() != nullptr ? "present" : "none") + "\n";
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::string size = "none";
    if (screen != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(screen, &info)) {
        size = std::to_string(info.dwSize.X) + "x" + std::to_string(info.dwSize.Y);
    }
    if (screen != INVALID_HANDLE_VALUE) {
        CloseHandle(screen);
    }
    out += "console-screen=" + size + "\n";
}

// The other probe's process id, 0 when it did not start.
DWORD start_other_probe(const std::wstring& arguments) {
    std::wstring command_line = L"probe.exe " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(module_path().c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

// Bounds --wait-file, so that a probe whose file never comes still ends; the poll is short
// beside the waits of the tests that use it.
constexpr DWORD wait_file_limit_ms = 120000;
constexpr DWORD wait_file_poll_ms = 20;

void wait_for_file(const std::wstring& path) {
    for (DWORD waited = 0; waited < wait_file_limit_ms; waited += wait_file_poll_ms) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Sleep(wait_file_poll_ms);
    }
}

void write_marker_file(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD wrote = 0;
    WriteFile(file, "written\n", 8, &wrote, nullptr);
    CloseHandle(file);
}

// A wait on its message queue is what the system takes for ready for input (under Wine a
// mere look at the queue is not). USER32 is loaded here only, so that the probe's other
// runs load none.
void wait_on_message_queue() {
    using WaitCall = DWORD(WINAPI*)(DWORD, const HANDLE*, BOOL, DWORD, DWORD);
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    if (user32 == nullptr) {
        return;
    }
    auto wait = reinterpret_cast<WaitCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "MsgWaitForMultipleObjects")));
    if (wait != nullptr) {
        wait(0, nullptr, FALSE, queue_wait_ms, QS_ALLINPUT);
    }
}

BOOL WINAPI ignore_console_event(DWORD) {
    return TRUE;
}

BOOL WINAPI exit_on_console_event(DWORD) {
    ExitProcess(console_event_exit_code);
}

} // namespace

int main() {
    std::vector<std::wstring> arguments = split(GetCommandLineW());
    Options options;
    read_options(options, arguments, 1);
    std::wstring extra;
    if (read_variable(L"PROBE_OPTIONS", extra) && !extra.empty()) {
        read_options(options, split((L"probe " + extra).c_str()), 1);
    }

    if (options.ignore_console_events) {
        SetConsoleCtrlHandler(ignore_console_event, TRUE);
    }
    if (options.exit_on_console_event) {
        console_event_exit_code = options.console_event_exit_code;
        SetConsoleCtrlHandler(exit_on_console_event, TRUE);
    }

    TreeCheck tree;
    if (!options.manifest.empty()) {
        tree = check_tree(options.manifest);
    }

    DWORD started_pid = options.start_probe ? start_other_probe(options.probe_arguments) : 0;

    if (!options.quiet) {
        std::string report = "probe=1\n";
        append_item(report, "cmdline", GetCommandLineW());
        report += "argc=" + std::to_string(arguments.size()) + "\n";
        for (size_t at = 0; at < arguments.size(); ++at) {
            append_item(report, ("argv[" + std::to_string(at) + "]").c_str(), arguments[at]);
        }
        append_item(report, "module", module_path());
        append_item(report, "cwd", current_directory());
        report += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
        append_environment(report);
        report += std::string("stdin=") + handle_kind(STD_INPUT_HANDLE) + "\n";
        report += std::string("stdout=") + handle_kind(STD_OUTPUT_HANDLE) + "\n";
        report += std::string("stderr=") + handle_kind(STD_ERROR_HANDLE) + "\n";
        append_console(report);
        if (options.start_probe) {
            report += "started-pid=" + std::to_string(started_pid) + "\n";
        }
        if (options.read_stdin) {
            append_item(report, "stdin-data", read_all_stdin());
        }
        if (!options.manifest.empty()) {
            report += std::string("tree=") + (tree.exact ? "exact" : "damaged") + "\n";
            report += "tree-files=" + std::to_string(tree.files) + "\n";
            for (const std::string& problem : tree.problems) {
                append_item(report, "tree-problem", from_utf8(problem));
            }
        }
        report += "end\n";
        write_all(STD_OUTPUT_HANDLE, report);
    } else if (options.read_stdin) {
        read_all_stdin();
    }

    if (options.write_stderr) {
        std::string text;
        int size =
            WideCharToMultiByte(CP_UTF8, 0, options.stderr_text.data(),
                                static_cast<int>(options.stderr_text.size()), nullptr, 0, nullptr, nullptr);
        text.resize(size);
        WideCharToMultiByte(CP_UTF8, 0, options.stderr_text.data(),
                            static_cast<int>(options.stderr_text.size()), text.data(), size, nullptr,
                            nullptr);
        write_all(STD_ERROR_HANDLE, text + "\n");
    }

    if (!options.ready_event.empty()) {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, options.ready_event.c_str());
        if (event != nullptr) {
            SetEvent(event);
            CloseHandle(event);
        }
    }
    if (options.generate_console_event) {
        GenerateConsoleCtrlEvent(options.generated_event, 0);
    }
    if (options.become_idle) {
        Sleep(options.idle_after_ms);
        // The line first: a parent that acts on the readiness acts after it.
        write_all(STD_ERROR_HANDLE, "idle\n");
        wait_on_message_queue();
    }
    if (options.sleep_ms > 0) {
        Sleep(options.sleep_ms);
    }
    if (!options.wait_file.empty()) {
        wait_for_file(options.wait_file);
    }
    if (!options.write_file.empty()) {
        write_marker_file(options.write_file);
    }
    ExitProcess(options.exit_code);
}
