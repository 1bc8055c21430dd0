// Full path of the target directory, the launcher's own path, and shell folders.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include <gtest/gtest.h>

#include "child/command_line.hpp"
#include "paths/full_path.hpp"
#include "paths/launcher_path.hpp"
#include "paths/path_text.hpp"
#include "paths/shell_folder.hpp"
#include "tests/paths/test_support.hpp"

namespace {

std::wstring current_directory() {
    wchar_t path[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    return std::wstring(path, length);
}

// Runs in a known current directory below the temporary folder and puts the old one back.
class FullPath : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = current_directory();
        wchar_t temporary[MAX_PATH];
        GetTempPathW(MAX_PATH, temporary);
        work_ = std::wstring(temporary) + L"talvik-paths-test";
        CreateDirectoryW(work_.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryW(work_.c_str()));
        work_ = current_directory();
    }
    void TearDown() override {
        SetCurrentDirectoryW(saved_.c_str());
        RemoveDirectoryW(work_.c_str());
    }

    std::wstring saved_;
    std::wstring work_;
};

std::wstring normalized(const std::wstring& path) {
    wcscpy(target_directory, path.c_str());
    normalize_target_directory();
    return target_directory;
}

TEST_F(FullPath, ResolvesDotsAndRelativePaths) {
    std::wstring parent = work_.substr(0, work_.rfind(L'\\'));
    std::wstring drive = work_.substr(0, 2);
    struct Case {
        std::wstring path;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"a", work_ + L"\\a"},
        {L"a\\.\\b\\..\\c", work_ + L"\\a\\c"},
        {L".\\FernwickStudio\\Orrin-Deck\\1.20", work_ + L"\\FernwickStudio\\Orrin-Deck\\1.20"},
        {L"..\\x", parent + L"\\x"},
        {L"\\rooted", drive + L"\\rooted"},
        {L"C:\\Users\\x\\..\\y\\.\\z", L"C:\\Users\\y\\z"},
        {L"C:\\Users\\Local\\FernwickStudio", L"C:\\Users\\Local\\FernwickStudio"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(normalized(c.path), c.expected) << c.path;
    }
}

// An absolute path of n characters: "C:" and components of up to 100 characters.
std::wstring absolute_path_of_length(size_t length) {
    std::wstring path = L"C:";
    while (path.size() < length) {
        size_t component = length - path.size() - 1;
        path += L'\\';
        path.append(component > 100 ? 100 : component, L'd');
    }
    return path;
}

TEST_F(FullPath, LongestFullPathFits) {
    std::wstring longest = absolute_path_of_length(path_capacity - 1);
    EXPECT_EQ(normalized(longest), longest);
}

TEST_F(FullPath, TooLongFullPathIsLimitStop) {
    // Fits the buffer as given; the current directory in front makes its full path too long.
    std::wstring relative(path_capacity - 1, L'r');
    for (size_t at = 100; at < relative.size(); at += 101) {
        relative[at] = L'\\';
    }
    EXPECT_EXIT(normalized(relative), testing::ExitedWithCode(limit_stop_status), "");
}

TEST(LauncherPath, IsTheSystemsModulePath) {
    forget_launcher_path();
    wchar_t expected[MAX_PATH];
    GetModuleFileNameW(nullptr, expected, MAX_PATH);
    EXPECT_STREQ(get_launcher_path(), expected);
}

TEST(LauncherPath, AsksTheSystemOnce) {
    forget_launcher_path();
    FakeModulePath fake(L"C:\\Apps\\Tool.exe");
    const wchar_t* first = get_launcher_path();
    const wchar_t* second = get_launcher_path();
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, L"C:\\Apps\\Tool.exe");
    EXPECT_EQ(FakeModulePath::calls, 1);
}

TEST(LauncherPath, FailedLookupIsNotCached) {
    forget_launcher_path();
    {
        FakeModulePath failing(L"");
        EXPECT_STREQ(get_launcher_path(), L"");
        EXPECT_STREQ(get_launcher_path(), L"");
        EXPECT_EQ(FakeModulePath::calls, 2);
    }
    FakeModulePath fake(L"C:\\Apps\\Tool.exe");
    EXPECT_STREQ(get_launcher_path(), L"C:\\Apps\\Tool.exe");
    EXPECT_EQ(FakeModulePath::calls, 1);
}

TEST(LauncherPath, OverlongPathArrivesCut) {
    forget_launcher_path();
    std::wstring exact = L"C:\\" + std::wstring(launcher_path_capacity - 4, L'p');
    {
        FakeModulePath fake(exact.c_str());
        EXPECT_EQ(std::wstring(get_launcher_path()), exact);
    }
    forget_launcher_path();
    std::wstring overlong = exact + L"\\Tool.exe";
    FakeModulePath fake(overlong.c_str());
    EXPECT_EQ(std::wstring(get_launcher_path()), overlong.substr(0, launcher_path_capacity - 1));
    EXPECT_TRUE(launcher_path_was_cut());
}

// The template keeps a cut path; the child's argument 0 must be the launcher's real path.
TEST(LauncherPathDeathTest, CutPathIsNoArgumentZero) {
    std::wstring exact = L"C:\\" + std::wstring(launcher_path_capacity - 4, L'p');
    forget_launcher_path();
    {
        FakeModulePath fake(exact.c_str());
        EXPECT_LE(std::wstring(build_child_command_line()).find(exact), 1u) << "argument 0, quoted or not";
        EXPECT_FALSE(launcher_path_was_cut());
    }
    forget_launcher_path();
    std::wstring overlong = exact + L"\\Tool.exe";
    FakeModulePath fake(overlong.c_str());
    EXPECT_EXIT(build_child_command_line(), testing::ExitedWithCode(limit_stop_status), "");
}

// Scans over fixed buffers: what they look at stops at the bound, terminator or not.
TEST(PathText, BoundedLengthStopsAtTerminatorOrCapacity) {
    const wchar_t unterminated[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(bounded_length(unterminated, 4), 4u);
    EXPECT_EQ(bounded_length(unterminated, 2), 2u);
    EXPECT_EQ(bounded_length(L"ab", 10), 2u);
    EXPECT_EQ(bounded_length(L"ab", 3), 2u);
    EXPECT_EQ(bounded_length(L"", 1), 0u);
    EXPECT_EQ(bounded_length(L"ab", 0), 0u);
}

TEST(PathText, AsciiUpperChangesOnlyAsciiLowerCase) {
    EXPECT_EQ(ascii_upper(L'a'), L'A');
    EXPECT_EQ(ascii_upper(L'z'), L'Z');
    EXPECT_EQ(ascii_upper(L'Q'), L'Q');
    EXPECT_EQ(ascii_upper(L'`'), L'`');
    EXPECT_EQ(ascii_upper(L'{'), L'{');
    EXPECT_EQ(ascii_upper(L'\u00e9'), L'\u00e9') << "letters beyond ASCII stay as they are";
}

TEST(PathText, LastBackslashLooksOnlyAtTheGivenLength) {
    struct Case {
        const wchar_t* text;
        size_t length;
        size_t expected;
    };
    const Case cases[] = {
        {L"C:\\Apps\\Tool.exe", 16, 7},
        {L"C:\\Apps\\Tool.exe", 7, 2},
        {L"C:\\Apps\\Tool.exe", 3, 2},
        {L"C:\\Apps\\Tool.exe", 2, 2},
        {L"\\name", 5, 0},
        {L"name", 4, 4},
        {L"dir\\", 4, 3},
        {L"", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(last_backslash(c.text, c.length), c.expected) << c.text << " " << c.length;
    }
}

// A join that fits to the last unit is made whole; one unit more leaves the output as it was,
// so no caller can go on with a cut path.
TEST(PathText, JoinPathFitsExactlyOrLeavesTheOutput) {
    wchar_t out[12];
    wcscpy(out, L"untouched");
    EXPECT_TRUE(join_path(out, 12, L"C:\\dir", L"name.txtXYZ", 3));
    EXPECT_STREQ(out, L"C:\\dir\\nam");
    EXPECT_TRUE(join_path(out, 12, L"C:\\dir", L"name", 4));
    EXPECT_STREQ(out, L"C:\\dir\\name") << "11 units and the terminator";
    wcscpy(out, L"untouched");
    EXPECT_FALSE(join_path(out, 12, L"C:\\dir", L"names", 5));
    EXPECT_STREQ(out, L"untouched");
    // A path already in the output may be the directory: the stamp check joins onto its own pattern.
    wcscpy(out, L"C:\\dir");
    EXPECT_TRUE(join_path(out, 12, out, L"*", 1));
    EXPECT_STREQ(out, L"C:\\dir\\*");
}

std::wstring system_folder(int folder) {
    wchar_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}

TEST(ShellFolder, AppendsAfterExistingText) {
    struct Case {
        const wchar_t* before;
        int folder;
    };
    const Case cases[] = {
        {L"", shell_folder_profile},
        {L"", shell_folder_local_appdata},
        {L"prefix\\", shell_folder_local_appdata},
    };
    for (const Case& c : cases) {
        wchar_t buffer[path_capacity];
        wcscpy(buffer, c.before);
        EXPECT_TRUE(append_shell_folder(buffer, c.folder, path_capacity));
        EXPECT_EQ(std::wstring(buffer), c.before + system_folder(c.folder)) << c.folder;
    }
}

TEST(ShellFolder, FailedLookupLeavesDestination) {
    constexpr int no_such_folder = 0xFFFF;
    wchar_t buffer[path_capacity] = L"kept";
    EXPECT_FALSE(append_shell_folder(buffer, no_such_folder, path_capacity));
    EXPECT_STREQ(buffer, L"kept");
}

TEST(ShellFolderDeathTest, ExactRoomFitsOneLessIsLimitStop) {
    std::wstring folder = system_folder(shell_folder_profile);
    size_t exact = wcslen(L"ab") + folder.size() + 1;
    wchar_t buffer[path_capacity] = L"ab";
    EXPECT_TRUE(append_shell_folder(buffer, shell_folder_profile, exact));
    EXPECT_EQ(std::wstring(buffer), L"ab" + folder);
    wcscpy(buffer, L"ab");
    EXPECT_EXIT(append_shell_folder(buffer, shell_folder_profile, exact - 1),
                testing::ExitedWithCode(limit_stop_status), "");
}

} // namespace
