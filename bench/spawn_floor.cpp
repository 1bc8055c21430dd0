// Spawn floor: what a launcher cannot avoid once the tree is in place. It starts the program
// named by its one argument with CreateProcessW, as the launcher starts its child (same
// standard handles, flags and inheritance), waits, and ends with the child's exit code.
// Linked like the launcher image: no C runtime, its own entry point, KERNEL32 only.
// Built a second time with SPAWN_FLOOR_LOADS_SHELL32, it first makes the SHELL32 calls of
// every launcher start (splitting its command line, the local application-data folder), to
// show what importing SHELL32 costs.
//
//   spawn-floor.exe "C:\path\to\program.exe"
#include <windows.h>

#ifdef SPAWN_FLOOR_LOADS_SHELL32
#include <shellapi.h>
#include <shlobj.h>
#endif

namespace {

// The platform's command line limit, terminator included.
constexpr size_t command_line_capacity = 32768;

wchar_t child_command_line[command_line_capacity];
wchar_t child_application[command_line_capacity];

// Past argument 0 of the floor's own command line (quoted or not) and the blanks after it.
const wchar_t* skip_own_name(const wchar_t* text) {
    if (*text == L'"') {
        ++text;
        while (*text != 0 && *text != L'"') {
            ++text;
        }
        if (*text == L'"') {
            ++text;
        }
    } else {
        while (*text != 0 && *text != L' ' && *text != L'\t') {
            ++text;
        }
    }
    while (*text == L' ' || *text == L'\t') {
        ++text;
    }
    return text;
}

} // namespace

extern "C" [[noreturn]] void spawn_floor_entry() {
#ifdef SPAWN_FLOOR_LOADS_SHELL32
    int argument_count = 0;
    LocalFree(CommandLineToArgvW(GetCommandLineW(), &argument_count));
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, child_application);
#endif
    const wchar_t* rest = skip_own_name(GetCommandLineW());
    // The child's command line is the rest as given; its application name the same, unquoted.
    size_t length = 0;
    size_t application_length = 0;
    for (; rest[length] != 0; ++length) {
        if (length + 1 >= command_line_capacity) {
            ExitProcess(3);
        }
        child_command_line[length] = rest[length];
        if (rest[length] != L'"') {
            child_application[application_length++] = rest[length];
        }
    }
    child_command_line[length] = 0;
    child_application[application_length] = 0;
    if (length == 0) {
        ExitProcess(2);
    }

    STARTUPINFOW startup_info = {};
    startup_info.cb = sizeof startup_info;
    startup_info.dwFlags = STARTF_USESTDHANDLES;
    startup_info.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup_info.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup_info.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process_information = {};
    if (!CreateProcessW(child_application, child_command_line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup_info, &process_information)) {
        ExitProcess(2);
    }
    CloseHandle(process_information.hThread);
    WaitForSingleObject(process_information.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process_information.hProcess, &code);
    CloseHandle(process_information.hProcess);
    ExitProcess(code);
}
