// The image's own standard functions (runtime/), run in runtime_cases.exe, a program linked
// as the launcher image is; each test here runs one group of its cases as a child and checks
// every line it reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// runtime_cases.exe is built beside this program.
std::wstring cases_program_path() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"runtime_cases.exe";
}

struct CasesRun {
    bool started = false;
    DWORD exit_code = ~DWORD{0};
    std::vector<std::string> lines;
};

CasesRun run_cases(const std::wstring& group) {
    CasesRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        return run;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION process{};
    std::wstring program = cases_program_path();
    std::wstring command_line = L"\"" + program + L"\" " + group;
    run.started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &process);
    // Only the child holds the write end now, so the read below ends when the child does.
    CloseHandle(write_end);
    std::string output;
    if (run.started) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            output.append(chunk, got);
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(read_end);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        run.lines.push_back(line);
    }
    return run;
}

// Every case line is "ok ..." (a "FAIL ..." line fails the test with its text), the summary
// line counts them, and the exit code is the number of failures. At least minimum_cases ran,
// so that a table that lost its rows cannot pass.
void expect_group_passes(const std::wstring& group, size_t minimum_cases) {
    CasesRun run = run_cases(group);
    ASSERT_TRUE(run.started) << "runtime_cases.exe did not start: " << GetLastError();
    ASSERT_FALSE(run.lines.empty()) << "no output";
    size_t passed = 0;
    size_t failed = 0;
    for (size_t i = 0; i + 1 < run.lines.size(); ++i) {
        const std::string& line = run.lines[i];
        if (line.rfind("ok ", 0) == 0) {
            ++passed;
        } else if (line.rfind("FAIL ", 0) == 0) {
            ++failed;
            ADD_FAILURE() << line;
        } else {
            ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    std::ostringstream summary;
    summary << "end " << passed << " " << failed;
    EXPECT_EQ(run.lines.back(), summary.str());
    EXPECT_EQ(run.exit_code, failed);
    EXPECT_GE(passed + failed, minimum_cases);
}

TEST(RuntimeMemory, MemcpyCopiesEverySizeAndAlignment) {
    expect_group_passes(L"memcpy", 240);
}

TEST(RuntimeMemory, MemmoveMovesOverlappingRangesBothWays) {
    expect_group_passes(L"memmove", 100);
}

TEST(RuntimeMemory, MemsetSetsTheLowByteOfTheValue) {
    expect_group_passes(L"memset", 300);
}

TEST(RuntimeMemory, MemcmpComparesBytesAsUnsigned) {
    expect_group_passes(L"memcmp", 20);
}

TEST(RuntimeHeap, AllocatesZeroesResizesAndCopies) {
    expect_group_passes(L"heap", 20);
}

TEST(RuntimeText, LengthsOfNarrowAndWideText) {
    expect_group_passes(L"length", 10);
}

TEST(RuntimeText, WcsicmpFoldsOnlyAsciiLetters) {
    expect_group_passes(L"wcsicmp", 15);
}

TEST(RuntimeText, MbstowcsWidensBytesWithinTheCapacity) {
    expect_group_passes(L"mbstowcs", 11);
}

TEST(RuntimeText, IswdigitClassifiesOnlyAsciiDigits) {
    expect_group_passes(L"iswdigit", 10);
}

TEST(RuntimeLinkage, NoneOfTheFunctionsIsImported) {
    expect_group_passes(L"linkage", 15);
}

TEST(RuntimeCases, AnUnknownGroupFails) {
    CasesRun run = run_cases(L"no-such-group");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 1u);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines.front().rfind("FAIL group", 0), 0u);
}

} // namespace
