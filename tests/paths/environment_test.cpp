// Environment variables by ASCII name and ASCII widening.
#include <windows.h>

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "paths/environment.hpp"
#include "tests/paths/test_support.hpp"

namespace {

constexpr wchar_t probe_wide_name[] = L"TALVIK_PATHS_PROBE";
constexpr char probe_name[] = "TALVIK_PATHS_PROBE";

// The value that read_environment gives, as a string; "<none>" for none.
std::wstring read_as_text(const char* name) {
    wchar_t* value = read_environment(name);
    if (value == nullptr) {
        return L"<none>";
    }
    std::wstring text = value;
    free(value);
    return text;
}

TEST(EnvironmentRead, ValuesAndAbsence) {
    SavedVariable saved(probe_wide_name);
    struct Case {
        const wchar_t* system_value; // nullptr: not set
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"value", L"value"},
        {L"C:\\dir with blank\\x", L"C:\\dir with blank\\x"},
        {L"\u00e9\u4e2d", L"\u00e9\u4e2d"},
        {L"", L"<none>"}, // set to the empty text reads as unset
        {nullptr, L"<none>"},
    };
    for (const Case& c : cases) {
        SetEnvironmentVariableW(probe_wide_name, c.system_value);
        EXPECT_EQ(read_as_text(probe_name), c.expected) << (c.system_value ? c.system_value : L"(unset)");
    }
}

TEST(EnvironmentRead, ReturnsIndependentHeapCopies) {
    SavedVariable saved(probe_wide_name);
    SetEnvironmentVariableW(probe_wide_name, L"first");
    wchar_t* first = read_environment_wide(probe_wide_name);
    wchar_t* second = read_environment_wide(probe_wide_name);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    SetEnvironmentVariableW(probe_wide_name, L"changed");
    EXPECT_STREQ(first, L"first");
    free(first);
    free(second);
}

// The platform's limit is 32767 characters (Wine keeps one fewer): whatever it holds at
// that length must come back whole through the value buffer.
TEST(EnvironmentRead, LongestValueTheSystemKeeps) {
    SavedVariable saved(probe_wide_name);
    std::wstring longest(environment_value_capacity - 1, L'v');
    SetEnvironmentVariableW(probe_wide_name, longest.c_str());
    std::wstring held;
    ASSERT_TRUE(system_variable(probe_wide_name, held));
    ASSERT_GE(held.size(), environment_value_capacity - 2);
    std::wstring read = read_as_text(probe_name);
    EXPECT_TRUE(read == held) << "read " << read.size() << " units of " << held.size();
}

TEST(EnvironmentWrite, SetAndUnset) {
    SavedVariable saved(probe_wide_name);
    std::wstring value;
    set_environment(probe_name, L"C:\\Program Files\\x");
    ASSERT_TRUE(system_variable(probe_wide_name, value));
    EXPECT_EQ(value, L"C:\\Program Files\\x");
    unset_environment(probe_name);
    EXPECT_FALSE(system_variable(probe_wide_name, value));
    // Removing a variable that is not set is harmless and leaves others alone.
    SetEnvironmentVariableW(L"TALVIK_PATHS_NEIGHBOUR", L"kept");
    unset_environment(probe_name);
    EXPECT_FALSE(system_variable(probe_wide_name, value));
    ASSERT_TRUE(system_variable(L"TALVIK_PATHS_NEIGHBOUR", value));
    EXPECT_EQ(value, L"kept");
    SetEnvironmentVariableW(L"TALVIK_PATHS_NEIGHBOUR", nullptr);
}

// 39 characters fit the 40-unit name buffer with its terminator.
constexpr char longest_name[] = "TALVIK_PATHS_NAME_OF_39_CHARACTERS_XXXX";
constexpr char too_long_name[] = "TALVIK_PATHS_NAME_OF_40_CHARACTERS_XXXXX";
static_assert(sizeof longest_name - 1 == environment_name_capacity - 1);
static_assert(sizeof too_long_name - 1 == environment_name_capacity);

TEST(EnvironmentName, LongestNameWorks) {
    SavedVariable saved(L"TALVIK_PATHS_NAME_OF_39_CHARACTERS_XXXX");
    set_environment(longest_name, L"39");
    EXPECT_EQ(read_as_text(longest_name), L"39");
    unset_environment(longest_name);
    EXPECT_EQ(read_as_text(longest_name), L"<none>");
}

TEST(EnvironmentNameDeathTest, NameOfFortyCharactersIsLimitStop) {
    EXPECT_EXIT(read_environment(too_long_name), testing::ExitedWithCode(limit_stop_status), "");
    EXPECT_EXIT(set_environment(too_long_name, L"x"), testing::ExitedWithCode(limit_stop_status), "");
    EXPECT_EXIT(unset_environment(too_long_name), testing::ExitedWithCode(limit_stop_status), "");
}

constexpr size_t process_id_text_capacity = 128;

TEST(WidenAscii, AppendsOneUnitPerByte) {
    struct Case {
        const wchar_t* before;
        const char* text;
        const wchar_t* after;
    };
    const Case cases[] = {
        {L"", "", L""},         {L"ab", "", L"ab"}, {L"", "1234", L"1234"}, {L"pid ", "1234", L"pid 1234"},
        {L"", "\x7f", L"\x7f"},
    };
    for (const Case& c : cases) {
        wchar_t buffer[process_id_text_capacity];
        wcscpy(buffer, c.before);
        widen_ascii(buffer, process_id_text_capacity, c.text);
        EXPECT_STREQ(buffer, c.after) << c.text;
    }
}

TEST(WidenAscii, FillsCapacityLessOne) {
    wchar_t buffer[process_id_text_capacity];
    buffer[0] = 0;
    std::string text(process_id_text_capacity - 1, '7');
    widen_ascii(buffer, process_id_text_capacity, text.c_str());
    EXPECT_EQ(std::wstring(buffer), std::wstring(process_id_text_capacity - 1, L'7'));

    buffer[0] = L'x';
    buffer[1] = 0;
    widen_ascii(buffer, process_id_text_capacity, std::string(process_id_text_capacity - 2, '7').c_str());
    EXPECT_EQ(wcslen(buffer), process_id_text_capacity - 1);
}

TEST(WidenAsciiDeathTest, OneMoreThanFitsIsLimitStop) {
    wchar_t buffer[process_id_text_capacity];
    buffer[0] = 0;
    std::string text(process_id_text_capacity, '7');
    EXPECT_EXIT(widen_ascii(buffer, process_id_text_capacity, text.c_str()),
                testing::ExitedWithCode(limit_stop_status), "");
    // The same when text already in the buffer leaves one unit too few.
    wcscpy(buffer, L"x");
    std::string rest(process_id_text_capacity - 1, '7');
    EXPECT_EXIT(widen_ascii(buffer, process_id_text_capacity, rest.c_str()),
                testing::ExitedWithCode(limit_stop_status), "");
}

} // namespace
