// launch_host.exe: the launcher's last steps in miniature, for tests that need the launch step
// in a process of its own (its own command line, its own console).
//
//   launch_host.exe RESULT_FILE APPLICATION [ARGUMENTS...]
//
// It registers on_console_event as the launcher does and runs launch_child(APPLICATION), which
// hands all of the host's arguments on, argument 0 replaced by the host's path. Before
// on_console_event it registers a recorder, so that the recorder runs after it for each
// event: it counts the events that on_console_event passed on and returns TRUE, keeping the
// host alive to write its result (the launcher itself would leave the event to the default
// handling, which ends it). With LAUNCH_HOST_GRACE_MS set, that replaces the grace period;
// with LAUNCH_HOST_EVENTS=N the host waits (up to 30 s) until N events have been passed on;
// LAUNCH_HOST_CHILD_LIFETIME replaces the image's choice of child lifetime (0 ends the child
// with the host, 1 lets it outlive the host).
//
// RESULT_FILE then receives "exit=0x%08X passed-on=N\n" and the host ends with status 0.
// A launch failure or a limit stop ends it as it ends the launcher, with no result file.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "child/console_events.hpp"
#include "child/grace_period.hpp"
#include "child/launch.hpp"
#include "tests/support/child_lifetime_seam.hpp"
#include "tests/support/grace_period_seam.hpp"

namespace {

volatile LONG passed_on = 0;

BOOL WINAPI record_event(DWORD) {
    InterlockedIncrement(&passed_on);
    return TRUE;
}

DWORD variable_number(const wchar_t* name, DWORD fallback) {
    wchar_t text[32];
    DWORD length = GetEnvironmentVariableW(name, text, 32);
    return length == 0 || length >= 32 ? fallback : static_cast<DWORD>(wcstoul(text, nullptr, 0));
}

} // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 3) {
        fprintf(stderr, "usage: launch_host.exe RESULT_FILE APPLICATION [ARGUMENTS...]\n");
        return 101;
    }
    grace_period_in_tests_ms = variable_number(L"LAUNCH_HOST_GRACE_MS", child_grace_period_ms);
    DWORD expected_events = variable_number(L"LAUNCH_HOST_EVENTS", 0);
    child_lifetime_in_tests = variable_number(L"LAUNCH_HOST_CHILD_LIFETIME", child_lifetime_in_tests);
    SetConsoleCtrlHandler(record_event, TRUE);
    SetConsoleCtrlHandler(on_console_event, TRUE);

    uint32_t code = launch_child(arguments[2]);

    for (int waited = 0; static_cast<DWORD>(passed_on) < expected_events && waited < 3000; ++waited) {
        Sleep(10);
    }
    FILE* file = _wfopen(arguments[1], L"wb");
    if (file == nullptr) {
        return 102;
    }
    fprintf(file, "exit=0x%08X passed-on=%ld\n", code, static_cast<long>(passed_on));
    fclose(file);
    return 0;
}
