// The launch step with the probe as child: exit codes, what the child inherits, and a
// failed start.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "child/console_events.hpp"
#include "child/launch.hpp"
#include "probe_support.hpp"

namespace {

std::vector<std::wstring> own_arguments() {
    int count = 0;
    wchar_t** vector = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments(vector, vector + count);
    LocalFree(vector);
    return arguments;
}

TEST(ChildLaunch, ExitCodesPassThroughAllThirtyTwoBits) {
    const uint32_t codes[] = {0, 3, 0xC0000005u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
    for (uint32_t code : codes) {
        std::wstring options = L"--quiet --exit " + std::to_wstring(code);
        EXPECT_EQ(launch_probe_captured(options.c_str()).exit_code, code);
        EXPECT_EQ(child_process_handle, nullptr);
    }
}

// The child gets this program's own arguments, with its full path as argument 0.
TEST(ChildLaunch, ChildReceivesTheLauncherArgumentsAndPath) {
    CapturedRun run = launch_probe_captured(L"");
    ProbeReport report = parse_probe_report(run.out);
    ASSERT_TRUE(report.complete) << run.out;
    std::vector<std::wstring> expected = own_arguments();
    expected[0] = own_module_path();
    EXPECT_EQ(report.arguments, expected);
    EXPECT_EQ(report.items["module"], probe_path());
}

TEST(ChildLaunch, ChildStartsInTheLauncherCurrentDirectory) {
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    std::wstring directory = make_temp_directory(L"cwd");
    ASSERT_TRUE(SetCurrentDirectoryW(directory.c_str()));
    CapturedRun run = launch_probe_captured(L"");
    SetCurrentDirectoryW(saved);
    ProbeReport report = parse_probe_report(run.out);
    ASSERT_TRUE(report.complete) << run.out;
    EXPECT_EQ(report.items["cwd"], directory);
}

TEST(ChildLaunch, ChildSeesTheEnvironmentAsSetBeforeTheLaunch) {
    ScopedVariable set(L"TALVIK_ONEFILE_DIRECTORY", L"C:\\Orrin Deck");
    ScopedVariable removed(L"TALVIK_ONEFILE_RANDOM", nullptr);
    ScopedVariable extra(L"TALVIK_EXTRA", L"h\u00e9llo\tworld");
    ProbeReport report = parse_probe_report(launch_probe_captured(L"").out);
    ASSERT_TRUE(report.complete);
    EXPECT_EQ(report.items["env TALVIK_ONEFILE_DIRECTORY"], L"C:\\Orrin Deck");
    EXPECT_EQ(report.items["env TALVIK_EXTRA"], L"h\u00e9llo\tworld");
    EXPECT_NE(std::find(report.unset.begin(), report.unset.end(), "TALVIK_ONEFILE_RANDOM"),
              report.unset.end());
}

// Files as standard handles: the child reads the launcher's input and writes to its output
// and error files.
TEST(ChildLaunch, RedirectedFilesReachTheChild) {
    CapturedRun run =
        launch_probe_captured(L"--read-stdin --write-stderr \"to the error file\"", "line one\nline two\n");
    ProbeReport report = parse_probe_report(run.out);
    ASSERT_TRUE(report.complete) << run.out;
    EXPECT_EQ(report.items["stdin"], L"disk");
    EXPECT_EQ(report.items["stdout"], L"disk");
    EXPECT_EQ(report.items["stderr"], L"disk");
    EXPECT_EQ(report.items["stdin-data"], L"line one\nline two\n");
    EXPECT_EQ(run.err, "to the error file\n");
}

// Pipes as standard handles. Only the child's ends are inheritable: an inherited write end
// of the input pipe would keep the child from ever seeing its end.
TEST(ChildLaunch, RedirectedPipesReachTheChild) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE input_read, input_write, output_read, output_write, error_read, error_write;
    ASSERT_TRUE(CreatePipe(&input_read, &input_write, &inheritable, 0));
    ASSERT_TRUE(CreatePipe(&output_read, &output_write, &inheritable, 0));
    ASSERT_TRUE(CreatePipe(&error_read, &error_write, &inheritable, 0));
    SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(error_read, HANDLE_FLAG_INHERIT, 0);

    std::string input = "through a pipe\n";
    DWORD wrote = 0;
    WriteFile(input_write, input.data(), static_cast<DWORD>(input.size()), &wrote, nullptr);
    CloseHandle(input_write);
    auto drain = [](HANDLE pipe, std::string* text) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            text->append(chunk, got);
        }
    };
    std::string out, err;
    std::thread out_reader(drain, output_read, &out);
    std::thread err_reader(drain, error_read, &err);

    HANDLE saved_in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE saved_out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE saved_err = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, input_read);
    SetStdHandle(STD_OUTPUT_HANDLE, output_write);
    SetStdHandle(STD_ERROR_HANDLE, error_write);
    uint32_t code;
    {
        ScopedVariable steering(L"PROBE_OPTIONS", L"--read-stdin --write-stderr piped --exit 9");
        code = launch_child(probe_path().c_str());
    }
    SetStdHandle(STD_INPUT_HANDLE, saved_in);
    SetStdHandle(STD_OUTPUT_HANDLE, saved_out);
    SetStdHandle(STD_ERROR_HANDLE, saved_err);
    CloseHandle(input_read);
    CloseHandle(output_write);
    CloseHandle(error_write);
    out_reader.join();
    err_reader.join();
    CloseHandle(output_read);
    CloseHandle(error_read);

    EXPECT_EQ(code, 9u);
    ProbeReport report = parse_probe_report(out);
    ASSERT_TRUE(report.complete) << out;
    EXPECT_EQ(report.items["stdin"], L"pipe");
    EXPECT_EQ(report.items["stdout"], L"pipe");
    EXPECT_EQ(report.items["stderr"], L"pipe");
    EXPECT_EQ(report.items["stdin-data"], L"through a pipe\n");
    EXPECT_EQ(err, "piped\n");
}

// The whole hand-over in a process of its own: the host's arguments, an empty one among
// them, reach the child unchanged after the host's own path.
TEST(ChildLaunch, HostArgumentsReachTheChildUnchanged) {
    std::vector<std::wstring> arguments = {L"a b",          L"",   L"x\\\"y", L"C:\\dir\\",
                                           L"C:\\my dir\\", L"\t", L"last"};
    HostRun run = run_launch_host(probe_path(), arguments);
    EXPECT_EQ(run.status, 0u);
    EXPECT_EQ(run.result, "exit=0x00000000 passed-on=0\n");
    ProbeReport report = parse_probe_report(run.out);
    ASSERT_TRUE(report.complete) << run.out;
    ASSERT_GE(report.arguments.size(), 3u);
    EXPECT_EQ(report.arguments[0], launch_host_path());
    EXPECT_EQ(std::vector<std::wstring>(report.arguments.begin() + 3, report.arguments.end()), arguments);
}

// A command line that fits the host but not, re-quoted, the child: each argument made of one
// double quote grows from two units, \", to four, "\"". The run stops with no message and no
// child.
TEST(ChildLaunch, OverlongChildCommandLineStopsWithoutAChild) {
    std::wstring tail;
    for (int count = 0; count < 10000; ++count) {
        tail += L" \\\"";
    }
    HostRun run = run_launch_host(probe_path(), {}, 0, tail);
    EXPECT_EQ(run.status, static_cast<uint32_t>(limit_stop_status));
    EXPECT_EQ(run.result, "<missing>");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

// A 32-bit exit code reaches a Windows-side parent of the launch step unchanged.
TEST(ChildLaunch, ExitCodeReachesTheHostUnchanged) {
    ScopedVariable steering(L"PROBE_OPTIONS", L"--quiet --exit 0xC0000005");
    EXPECT_EQ(run_launch_host(probe_path(), {}).result, "exit=0xC0000005 passed-on=0\n");
}

std::string system_text(DWORD code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, 1033, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n')) {
        result.pop_back();
    }
    return result;
}

// A start that fails prints one line in the system error form on standard error, nothing on
// standard output, and ends with status 2; no child runs.
TEST(ChildLaunchDeathTest, FailedStartIsReported) {
    std::wstring directory = stable_temp_directory(L"launch-failure");
    write_whole_file(directory + L"\\not-a-program.exe", "plain text, not an executable\r\n");
    struct Case {
        std::wstring application;
        DWORD code;
    };
    const Case cases[] = {
        {directory + L"\\missing.exe", ERROR_FILE_NOT_FOUND},
        {directory + L"\\no-such-directory\\missing.exe", ERROR_PATH_NOT_FOUND},
        {directory + L"\\not-a-program.exe", ERROR_BAD_EXE_FORMAT},
        {L"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& test_case : cases) {
        std::wstring tag = std::to_wstring(&test_case - cases);
        std::wstring out_path = directory + L"\\out-" + tag + L".txt";
        std::wstring err_path = directory + L"\\err-" + tag + L".txt";
        DeleteFileW(out_path.c_str());
        DeleteFileW(err_path.c_str());
        EXPECT_EXIT(
            {
                SetStdHandle(STD_OUTPUT_HANDLE, create_inheritable_file(out_path, false));
                SetStdHandle(STD_ERROR_HANDLE, create_inheritable_file(err_path, false));
                launch_child(test_case.application.c_str());
            },
            ::testing::ExitedWithCode(2), "");
        EXPECT_EQ(read_whole_file(out_path), "");
        EXPECT_EQ(read_whole_file(err_path), "Error, couldn't launch child ([Error " +
                                                 std::to_string(test_case.code) + "] " +
                                                 system_text(test_case.code) + ")\r\n");
    }
}

} // namespace
