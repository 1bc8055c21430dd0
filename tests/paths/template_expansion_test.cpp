// Expansion of {TOKEN} path templates.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include <gtest/gtest.h>

#include "constants/build_constants.hpp"
#include "paths/path_capacity.hpp"
#include "paths/shell_folder.hpp"
#include "paths/template_expansion.hpp"
#include "tests/paths/test_support.hpp"

namespace {

constexpr wchar_t random_variable[] = L"TALVIK_ONEFILE_RANDOM";
constexpr wchar_t time_us_variable[] = L"TALVIK_ONEFILE_TIME_US";
constexpr wchar_t start_variable[] = L"TALVIK_ONEFILE_START";
constexpr wchar_t parent_variable[] = L"TALVIK_ONEFILE_PARENT";

// The expansion with a given capacity; "<false>" when it fails.
std::wstring expanded(const wchar_t* path_template, size_t capacity = path_capacity) {
    std::wstring buffer(capacity, L'#');
    if (!expand_path_template(buffer.data(), path_template, capacity)) {
        return L"<false>";
    }
    return buffer.c_str();
}

bool all_digits(const std::wstring& text) {
    for (wchar_t unit : text) {
        if (unit < L'0' || unit > L'9') {
            return false;
        }
    }
    return !text.empty();
}

TEST(TemplateScan, DocumentedExamples) {
    struct Case {
        const wchar_t* path_template;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"", L""},
        {L"C:\\plain\\path with blanks/and:colons", L"C:\\plain\\path with blanks/and:colons"},
        {L"{COMPANY}", L"Fernwick Studio"},
        {L"{company}", L"Fernwick Studio"},
        {L"{Product}", L"Orrin Deck"},
        {L"{VERSION}", L"1.20.0.0"},
        {L"{file_version}", L"1.20.0.0"},
        {L"{Product_Version}", L"1.20.0.0"},
        {L"{COMPANY}\\{PRODUCT}-{VERSION}", L"Fernwick Studio\\Orrin Deck-1.20.0.0"},
        // The b collected before the second brace is dropped.
        {L"a{b{COMPANY}", L"aFernwick Studio"},
        // A token still open at the end is dropped without error.
        {L"x{HOME", L"x"},
        {L"x{", L"x"},
        // A closing brace outside a token is literal text.
        {L"a}b", L"a}b"},
        {L"{COMPANY}}", L"Fernwick Studio}"},
        // Unknown names, the empty one and names with blanks fail.
        {L"{}", L"<false>"},
        {L"{FOO}", L"<false>"},
        {L"{ HOME }", L"<false>"},
        {L"{COMPANY_}", L"<false>"},
        {L"ok{FOO}", L"<false>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(expanded(c.path_template), c.expected) << c.path_template;
    }
}

TEST(TemplateScan, CaseOfNamesIsIgnored) {
    EXPECT_EQ(expanded(L"{home}"), expanded(L"{HOME}"));
    EXPECT_EQ(expanded(L"{Cache_Dir}"), expanded(L"{CACHE_DIR}"));
    EXPECT_EQ(expanded(L"{tEmP}"), expanded(L"{TEMP}"));
    EXPECT_NE(expanded(L"{HOME}"), L"<false>");
}

TEST(TemplateScan, OverlongTokenNames) {
    constexpr size_t token_name_capacity = 1024;
    for (size_t length : {token_name_capacity - 1, token_name_capacity, size_t{5000}}) {
        std::wstring name(length, L'N');
        EXPECT_EQ(expanded((L"x{" + name + L"}").c_str()), L"<false>") << length;
        // Unclosed, or restarted by another brace, the long name is dropped like any other.
        EXPECT_EQ(expanded((L"x{" + name).c_str()), L"x") << length;
        EXPECT_EQ(expanded((L"x{" + name + L"{COMPANY}").c_str()), L"xFernwick Studio") << length;
    }
}

TEST(TemplateScan, LiteralTextAgainstCapacity) {
    for (size_t capacity : {1u, 2u, 16u, 4096u}) {
        std::wstring fits(capacity - 1, L'l');
        std::wstring one_more(capacity, L'l');
        EXPECT_EQ(expanded(fits.c_str(), capacity), fits) << capacity;
        EXPECT_EQ(expanded(one_more.c_str(), capacity), L"<false>") << capacity;
    }
    // Literal text after a value counts against the room the value left.
    EXPECT_EQ(expanded(L"{COMPANY}!", 17), L"Fernwick Studio!");
    EXPECT_EQ(expanded(L"{COMPANY}!", 16), L"<false>");
}

TEST(TemplateScanDeathTest, ValueThatDoesNotFitIsLimitStop) {
    EXPECT_EQ(expanded(L"{COMPANY}", 16), L"Fernwick Studio");
    EXPECT_EXIT(expanded(L"{COMPANY}", 15), testing::ExitedWithCode(limit_stop_status), "");
    EXPECT_EXIT(expanded(L"ab{VERSION}", 10), testing::ExitedWithCode(limit_stop_status), "");
}

TEST(ShellFolderTokens, StripTrailingBackslashes) {
    std::wstring home = shell_folder_without_trailing_backslashes(shell_folder_profile);
    std::wstring cache = shell_folder_without_trailing_backslashes(shell_folder_local_appdata);
    EXPECT_EQ(expanded(L"{HOME}"), home);
    EXPECT_EQ(expanded(L"{CACHE_DIR}"), cache);
    EXPECT_EQ(expanded(L"{HOME}\\x"), home + L"\\x");
}

TEST(ShellFolderTokens, BuildTemplateGivesTargetDirectory) {
    std::wstring cache = shell_folder_without_trailing_backslashes(shell_folder_local_appdata);
    EXPECT_EQ(expanded(talvik_path_template()), cache + L"\\FernwickStudio\\Orrin-Deck\\1.20");
}

std::wstring system_temporary_path() {
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, path);
    return std::wstring(path, length);
}

TEST(TempToken, NeverEndsInBackslash) {
    std::wstring system = system_temporary_path();
    ASSERT_EQ(system.back(), L'\\');
    std::wstring stripped = system.substr(0, system.find_last_not_of(L'\\') + 1);
    EXPECT_EQ(expanded(L"{TEMP}"), stripped);
    std::wstring with_file = expanded(L"{TEMP}\\x");
    EXPECT_EQ(with_file, stripped + L"\\x");
    EXPECT_EQ(with_file.find(L"\\\\"), std::wstring::npos);
}

TEST(TempTokenDeathTest, PathThatDoesNotFitIsLimitStop) {
    std::wstring system = system_temporary_path();
    // Exactly enough room for the path the system reports and its terminator.
    EXPECT_NE(expanded(L"{TEMP}", system.size() + 1), L"<false>");
    EXPECT_EXIT(expanded(L"{TEMP}", system.size()), testing::ExitedWithCode(limit_stop_status), "");
}

TEST(ProgramTokens, SuffixesAndRoots) {
    struct Case {
        const wchar_t* launcher;
        const wchar_t* base;
        const wchar_t* directory;
    };
    const Case cases[] = {
        {L"C:\\Apps\\Tool.EXE", L"C:\\Apps\\Tool", L"C:\\Apps"},
        {L"C:\\Apps\\Tool.exe", L"C:\\Apps\\Tool", L"C:\\Apps"},
        {L"C:\\Apps\\Tool.eXe", L"C:\\Apps\\Tool", L"C:\\Apps"},
        {L"C:\\Tool.exe", L"C:\\Tool", L"C:"},
        {L"C:\\Apps\\Tool.com", L"C:\\Apps\\Tool.com", L"C:\\Apps"},
        {L"C:\\Apps\\Tool.exe.bak", L"C:\\Apps\\Tool.exe.bak", L"C:\\Apps"},
        {L"C:\\Apps\\Tool", L"C:\\Apps\\Tool", L"C:\\Apps"},
        {L"C:\\Apps.exe\\Tool", L"C:\\Apps.exe\\Tool", L"C:\\Apps.exe"},
        {L".exe", L"", L".exe"},
        {L"Tool.exe", L"Tool", L"Tool.exe"},
    };
    for (const Case& c : cases) {
        FakeModulePath fake(c.launcher);
        EXPECT_EQ(expanded(L"{PROGRAM}"), c.launcher);
        EXPECT_EQ(expanded(L"{PROGRAM_BASE}"), c.base) << c.launcher;
        EXPECT_EQ(expanded(L"{PROGRAM_DIR}"), c.directory) << c.launcher;
        // The suffix and the cut look only at the launcher path, not at the text before it.
        EXPECT_EQ(expanded(L"x\\y.exe\\{program_dir}"), std::wstring(L"x\\y.exe\\") + c.directory)
            << c.launcher;
        EXPECT_EQ(expanded(L"a\\{PROGRAM_BASE}.log"), std::wstring(L"a\\") + c.base + L".log") << c.launcher;
    }
}

TEST(ProgramTokens, RealLauncherPath) {
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    EXPECT_EQ(expanded(L"{PROGRAM}"), own);
}

TEST(ProgramTokens, CutPathIsUsedFailedLookupFails) {
    {
        FakeModulePath fake(L"C:\\Apps\\Tool.exe");
        // Room for "C:\Apps" only: the path arrives cut, which is no failure.
        EXPECT_EQ(expanded(L"{PROGRAM}", 8), L"C:\\Apps");
        EXPECT_EQ(expanded(L"a{PROGRAM_DIR}", 9), L"aC:");
    }
    FakeModulePath failing(L"");
    for (const wchar_t* path_template : {L"{PROGRAM}", L"{PROGRAM_BASE}", L"{PROGRAM_DIR}"}) {
        EXPECT_EQ(expanded(path_template), L"<false>") << path_template;
    }
}

TEST(PidToken, PublishedParentOrOwnId) {
    SavedVariable saved(parent_variable);
    SetEnvironmentVariableW(parent_variable, L"1234");
    EXPECT_EQ(expanded(L"{PID}"), L"1234");
    SetEnvironmentVariableW(parent_variable, nullptr);
    EXPECT_EQ(expanded(L"{pid}"), std::to_wstring(GetCurrentProcessId()));
    // The fallback is not published.
    std::wstring value;
    EXPECT_FALSE(system_variable(parent_variable, value));
    // An empty value counts as unset.
    SetEnvironmentVariableW(parent_variable, L"");
    EXPECT_EQ(expanded(L"{PID}"), std::to_wstring(GetCurrentProcessId()));
}

TEST(PidTokenDeathTest, NonDigitOrNoRoomIsLimitStop) {
    SavedVariable saved(parent_variable);
    for (const wchar_t* value : {L"12a4", L"-1", L" 12", L"12 "}) {
        SetEnvironmentVariableW(parent_variable, value);
        EXPECT_EXIT(expanded(L"{PID}"), testing::ExitedWithCode(limit_stop_status), "") << value;
    }
    SetEnvironmentVariableW(parent_variable, L"1234");
    EXPECT_EQ(expanded(L"{PID}", 5), L"1234");
    EXPECT_EXIT(expanded(L"{PID}", 4), testing::ExitedWithCode(limit_stop_status), "");
    SetEnvironmentVariableW(parent_variable, nullptr);
    std::wstring own = std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(expanded(L"{PID}", own.size() + 1), own);
    EXPECT_EXIT(expanded(L"{PID}", own.size()), testing::ExitedWithCode(limit_stop_status), "");
}

TEST(SharedValues, RandomIsStableAndPublished) {
    SavedVariable saved(random_variable);
    SetEnvironmentVariableW(random_variable, nullptr);
    std::wstring first = expanded(L"{RANDOM}");
    ASSERT_EQ(first.size(), 11u);
    std::wstring published;
    ASSERT_TRUE(system_variable(random_variable, published));
    EXPECT_EQ(published, first);
    EXPECT_EQ(expanded(L"{RANDOM}-{random}"), first + L"-" + first);
    // A value already published is used as it stands.
    SetEnvironmentVariableW(random_variable, L"inherited");
    EXPECT_EQ(expanded(L"{RANDOM}"), L"inherited");
}

TEST(SharedValues, TimeUsHasSixDigits) {
    SavedVariable saved(time_us_variable);
    for (int reading = 0; reading < 50; ++reading) {
        SetEnvironmentVariableW(time_us_variable, nullptr);
        std::wstring value = expanded(L"{TIME_US}");
        ASSERT_EQ(value.size(), 6u) << value;
        EXPECT_TRUE(all_digits(value)) << value;
        std::wstring published;
        ASSERT_TRUE(system_variable(time_us_variable, published));
        EXPECT_EQ(published, value);
        EXPECT_EQ(expanded(L"{TIME_US}"), value);
    }
    SetEnvironmentVariableW(time_us_variable, L"000042");
    EXPECT_EQ(expanded(L"{time_us}"), L"000042");
}

TEST(SharedValues, TimeIsFiletimeCount) {
    SavedVariable saved(start_variable);
    SetEnvironmentVariableW(start_variable, nullptr);
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    std::wstring value = expanded(L"{TIME}");
    FILETIME after;
    GetSystemTimeAsFileTime(&after);
    ASSERT_TRUE(all_digits(value)) << value;
    EXPECT_NE(value[0], L'0');
    unsigned long long count = std::stoull(value);
    EXPECT_GE(count, (static_cast<unsigned long long>(before.dwHighDateTime) << 32) | before.dwLowDateTime);
    EXPECT_LE(count, (static_cast<unsigned long long>(after.dwHighDateTime) << 32) | after.dwLowDateTime);
    std::wstring published;
    ASSERT_TRUE(system_variable(start_variable, published));
    EXPECT_EQ(published, value);
    EXPECT_EQ(expanded(L"{TIME}"), value);
}

TEST(SharedValuesDeathTest, PublishedValueThatDoesNotFitIsLimitStop) {
    SavedVariable saved(random_variable);
    SetEnvironmentVariableW(random_variable, L"0123456789");
    EXPECT_EQ(expanded(L"{RANDOM}", 11), L"0123456789");
    EXPECT_EXIT(expanded(L"{RANDOM}", 10), testing::ExitedWithCode(limit_stop_status), "");
}

} // namespace
