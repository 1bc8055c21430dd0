// Console start-up for the launcher image: the UTF-16 argument vector as the platform
// splits it, the environment block, and the run sequence's result as the exit code.
#include <windows.h>

#include <shellapi.h>

#include "launcher/run_launcher.hpp"

extern "C" [[noreturn]] void talvik_entry() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) {
        // No vector means no memory to start with; nothing sensible can run.
        argc = 0;
    }
    wchar_t* environment = GetEnvironmentStringsW();
    ExitProcess(run_launcher(argc, argv, environment));
}
