// The child's command line: our quoting against the platform's own splitting, exact forms
// of the documented cases, and the limit at 32,767 units.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "child/command_line.hpp"
#include "probe_support.hpp"

namespace {

using Arguments = std::vector<std::wstring>;

std::wstring join(const Arguments& arguments, size_t capacity = command_line_capacity) {
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    std::vector<wchar_t> buffer(capacity, L'#');
    join_arguments(buffer.data(), capacity, static_cast<int>(pointers.size()), pointers.data());
    return buffer.data();
}

Arguments split(const std::wstring& command_line) {
    int count = 0;
    wchar_t** vector = CommandLineToArgvW(command_line.c_str(), &count);
    Arguments arguments(vector, vector + count);
    LocalFree(vector);
    return arguments;
}

// Show arguments readably in failure messages: every unit below 0x20 or above 0x7E in hex.
std::string visible(const std::wstring& text) {
    std::string shown;
    for (wchar_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            char hex[12];
            snprintf(hex, sizeof hex, "<%04X>", static_cast<unsigned>(unit));
            shown += hex;
        }
    }
    return shown;
}

const wchar_t plain_program[] = L"C:\\launcher.exe";

// Vectors after a plain argument 0. Grouped by what makes them hard for the splitting.
const std::vector<Arguments> round_trip_cases = {
    // Plain arguments pass as they are.
    {L"plain"},
    {L"one", L"two", L"three"},
    {L"--flag=value", L"C:\\dir\\file.txt", L"a'b", L"100%"},
    // Blanks and the other separators the splitting knows.
    {L"a b"},
    {L" leading", L"trailing ", L"  "},
    {L"tab\there", L"line\nfeed", L"vertical\vtab", L"carriage\rreturn"},
    {L"\t"},
    // Double quotes with 0, 1 and 3 backslashes in front.
    {L"\""},
    {L"a\"b", L"\"quoted\"", L"\"\""},
    {L"a\\\"b", L"\\\"", L"a b\\\"c"},
    {L"a\\\\\\\"b", L"\\\\\\\""},
    // Backslashes: literal unless a quote follows, doubled before a closing quote.
    {L"C:\\dir\\", L"C:\\dir\\\\", L"\\", L"\\\\"},
    {L"a b\\", L"a b\\\\", L"C:\\Program Files\\", L"\\\\server\\share name\\"},
    {L"a\\\\b c", L"a\\b\\c d\\e"},
    // Empty arguments first, in the middle and last.
    {L"", L"after"},
    {L"before", L"", L"after"},
    {L"before", L""},
    {L"", L"", L""},
    {L""},
    // Text beyond ASCII, a surrogate pair and a lone surrogate pass unit for unit.
    {L"h\u00e9llo w\u00f6rld", L"\u65e5\u672c\u8a9e", L"\U0001F600 smile", L"lone\xD800"},
};

TEST(ChildCommandLine, RoundTripsThroughThePlatformSplitting) {
    for (const Arguments& tail : round_trip_cases) {
        Arguments arguments = {plain_program};
        arguments.insert(arguments.end(), tail.begin(), tail.end());
        std::wstring command_line = join(arguments);
        Arguments back = split(command_line);
        ASSERT_EQ(back.size(), arguments.size()) << visible(command_line);
        for (size_t index = 0; index < arguments.size(); ++index) {
            EXPECT_EQ(back[index], arguments[index])
                << "argument " << index << " of " << visible(command_line);
        }
    }
}

// The same vectors, all at once, through a real child: what the probe reports is what the
// platform gave it after process creation.
TEST(ChildCommandLine, RoundTripsThroughARealChild) {
    Arguments arguments = {probe_path()};
    for (const Arguments& tail : round_trip_cases) {
        arguments.insert(arguments.end(), tail.begin(), tail.end());
    }
    std::wstring command_line = join(arguments);

    std::wstring directory = make_temp_directory(L"round-trip");
    HANDLE out = create_inheritable_file(directory + L"\\out.txt", false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(probe_path().c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    EXPECT_EQ(exit_code_after(process.hProcess, 60000), 0u);
    CloseHandle(process.hProcess);
    CloseHandle(out);

    ProbeReport report = parse_probe_report(read_whole_file(directory + L"\\out.txt"));
    ASSERT_TRUE(report.complete);
    EXPECT_EQ(report.items["cmdline"], command_line);
    ASSERT_EQ(report.arguments.size(), arguments.size());
    for (size_t index = 0; index < arguments.size(); ++index) {
        EXPECT_EQ(report.arguments[index], arguments[index]) << "argument " << index;
    }
}

TEST(ChildCommandLine, DocumentedFormsAreExact) {
    struct Case {
        Arguments arguments;
        std::wstring expected;
    };
    const Case cases[] = {
        {{L"L"}, L"L"},
        {{L"L", L"a b"}, L"L \"a b\""},
        {{L"L", L"plain", L"C:\\dir\\"}, L"L plain C:\\dir\\"},
        // A blank and a final backslash: the backslash doubled before the closing quote.
        {{L"L", L"a b\\"}, L"L \"a b\\\\\""},
        // k backslashes before a quote become 2k+1, for k = 0, 1 and 3.
        {{L"L", L"a\"b"}, L"L \"a\\\"b\""},
        {{L"L", L"a\\\"b"}, L"L \"a\\\\\\\"b\""},
        {{L"L", L"a\\\\\\\"b"}, L"L \"a\\\\\\\\\\\\\\\"b\""},
        // Backslashes before an ordinary character stay as they are, quoted or not.
        {{L"L", L"a\\\\b c"}, L"L \"a\\\\b c\""},
        {{L"L", L"\\\\server\\share"}, L"L \\\\server\\share"},
        {{L"L", L"\t"}, L"L \"\t\""},
        {{L"L", L"v\vt"}, L"L \"v\vt\""},
        // An empty argument is kept as a pair of quotes.
        {{L"L", L"x", L"", L"y"}, L"L x \"\" y"},
        {{L"L", L""}, L"L \"\""},
        // Argument 0 is quoted only when it needs it.
        {{L"C:\\Orrin Deck\\orrin.exe", L"a"}, L"\"C:\\Orrin Deck\\orrin.exe\" a"},
        {{L"C:\\OrrinDeck\\orrin.exe", L"a"}, L"C:\\OrrinDeck\\orrin.exe a"},
    };
    for (const Case& test_case : cases) {
        EXPECT_EQ(visible(join(test_case.arguments)), visible(test_case.expected));
    }
}

TEST(ChildCommandLine, ArgumentZeroWithABlankSurvivesTheSplitting) {
    Arguments arguments = {L"C:\\Program Files\\Orrin Deck\\orrin.exe", L"a"};
    EXPECT_EQ(split(join(arguments)), arguments);
}

// Text of exactly the capacity less one fits, and nothing beyond the buffer is touched.
TEST(ChildCommandLine, TextOfExactlyTheCapacityFits) {
    Arguments arguments = {L"x", std::wstring(command_line_capacity - 3, L'a')};
    std::vector<wchar_t> buffer(command_line_capacity + 8, L'#');
    const wchar_t* pointers[] = {arguments[0].c_str(), arguments[1].c_str()};
    join_arguments(buffer.data(), command_line_capacity, 2, pointers);
    EXPECT_EQ(wcslen(buffer.data()), command_line_capacity - 1);
    for (size_t at = command_line_capacity; at < buffer.size(); ++at) {
        EXPECT_EQ(buffer[at], L'#');
    }
}

// One unit more than fits ends the run by the limit stop, wherever the unit comes from:
// plain text, a quote, an escape, the doubled final backslash, an empty argument.
TEST(ChildCommandLineDeathTest, OneUnitTooManyIsALimitStop) {
    struct Case {
        Arguments arguments;
        size_t fitting_capacity;
    };
    const Case cases[] = {
        {{L"x", std::wstring(command_line_capacity - 3, L'a')}, command_line_capacity},
        {{L"x", L"a b"}, 8},
        {{L"x", L"a\"b"}, 9},
        {{L"x", L"a b\\"}, 10},
        {{L"x", L""}, 5},
    };
    for (const Case& test_case : cases) {
        EXPECT_EQ(join(test_case.arguments, test_case.fitting_capacity).size(),
                  test_case.fitting_capacity - 1);
        EXPECT_EXIT(join(test_case.arguments, test_case.fitting_capacity - 1),
                    ::testing::ExitedWithCode(limit_stop_status), "");
    }
    EXPECT_EXIT(join({L"x", std::wstring(command_line_capacity - 2, L'a')}),
                ::testing::ExitedWithCode(limit_stop_status), "");
}

// The platform path: this program's own command line, with argument 0 replaced by its path.
TEST(ChildCommandLine, BuildsFromTheProcessCommandLine) {
    Arguments own = split(GetCommandLineW());
    ASSERT_FALSE(own.empty());
    own[0] = own_module_path();
    wchar_t* first = build_child_command_line();
    EXPECT_EQ(split(first), own);
    // A second call gives the same text in the same buffer.
    std::wstring text = first;
    EXPECT_EQ(build_child_command_line(), first);
    EXPECT_EQ(std::wstring(first), text);
}

} // namespace
