// talvik.exe's platform layer on its own, under Wine, in a folder of its own below the
// prefix's temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "tools/host/platform.hpp"

namespace {

namespace fs = std::filesystem;

class PlatformWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / (L"talvik-platform-" + std::to_wstring(GetCurrentProcessId()) +
                                              L"-" + std::to_wstring(GetTickCount64()));
        fs::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void write(const fs::path& file, const std::string& bytes) {
        std::ofstream out(file, std::ios::binary);
        out << bytes;
    }
    std::string read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path folder;
};

TEST(PlatformWindowsText, PathsRoundTripThroughUtf8) {
    const std::string names[] = {"plain.txt", "données\\été.txt", "日本語", "\xF0\x9F\x8E\xB2 dice", ""};
    for (const std::string& name : names) {
        EXPECT_EQ(path_to_utf8(path_from_utf8(name)), name) << name;
    }
    EXPECT_EQ(path_from_utf8("\xC3\xA9").native(), std::wstring(L"\u00E9"));
    EXPECT_EQ(path_from_utf8("\xF0\x9F\x8E\xB2").native(), std::wstring(L"\xD83C\xDFB2"));
}

// A name Windows allows but Unicode does not: it must not turn into a valid, other name.
TEST(PlatformWindowsText, UnpairedSurrogatesGiveBytesNoUtf8ReaderAccepts) {
    EXPECT_EQ(path_to_utf8(fs::path(std::wstring(L"a\xD800"
                                                 L"b"))),
              "a\xED\xA0\x80"
              "b");
    EXPECT_EQ(path_to_utf8(fs::path(std::wstring(L"\xDC00"))), "\xED\xB0\x80");
    EXPECT_EQ(path_to_utf8(fs::path(std::wstring(L"x\xD83C"))), "x\xED\xA0\xBC");
}

TEST_F(PlatformWindows, OutputKindsOfWhatANameMayHold) {
    std::error_code error;
    write(folder / "file.exe", "x");
    EXPECT_EQ(output_kind(folder / "file.exe", error), OutputKind::regular_file);
    EXPECT_FALSE(error);
    EXPECT_EQ(output_kind(folder, error), OutputKind::folder);
    EXPECT_EQ(output_kind(folder / "missing.exe", error), OutputKind::missing);
    EXPECT_FALSE(error);
    EXPECT_EQ(output_kind(folder / "no folder" / "missing.exe", error), OutputKind::missing);
    EXPECT_FALSE(error);
    EXPECT_EQ(output_kind(L"NUL", error), OutputKind::device);
}

TEST_F(PlatformWindows, RealPathsCompareEqualForOneFile) {
    write(folder / "file.txt", "x");
    fs::create_directories(folder / "sub");
    std::error_code error;
    fs::path direct = real_path(folder / "file.txt", error);
    ASSERT_FALSE(error) << error.message();
    fs::path roundabout = real_path(folder / "sub" / ".." / "FILE.TXT", error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(direct, roundabout);
    EXPECT_FALSE(direct.native().starts_with(L"\\\\?\\")) << direct;
    real_path(folder / "missing", error);
    EXPECT_TRUE(error);
}

TEST_F(PlatformWindows, LongPathsAreListedAndResolved) {
    fs::path deep = folder;
    for (int level = 0; level < 12; ++level) {
        deep /= L"folder-with-a-long-name-" + std::to_wstring(level);
    }
    ASSERT_GT(deep.native().size(), 300u);
    fs::create_directories(L"\\\\?\\" + deep.native());
    write(L"\\\\?\\" + (deep / "one.txt").native(), "1");
    write(L"\\\\?\\" + (deep / "two.txt").native(), "2");
    std::error_code error;
    std::vector<fs::path> names = folder_names(deep, error);
    ASSERT_FALSE(error) << error.message();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<fs::path>{"one.txt", "two.txt"}));
    FolderEntry entry = look_at_entry(real_path(deep, error) / "two.txt", error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_FALSE(entry.is_link);
    EXPECT_TRUE(fs::is_regular_file(entry.status));
    int fd = open_for_reading(entry.target);
    ASSERT_GE(fd, 0);
    char byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(byte, '2');
    ::close(fd);
}

TEST_F(PlatformWindows, AnEarlierOutputIsReplacedInOneStep) {
    write(folder / "app.exe", "the earlier image");
    std::error_code error;
    fs::path temporary = create_unique_file(folder, ".app.exe.talvik-", error);
    ASSERT_FALSE(error) << error.message();
    fs::path other = create_unique_file(folder, ".app.exe.talvik-", error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_NE(temporary, other);
    EXPECT_TRUE(temporary.filename().native().starts_with(L".app.exe.talvik-"));

    int fd = open_for_writing(temporary);
    ASSERT_GE(fd, 0);
    // Line ends stay as they are: the file is binary.
    ASSERT_EQ(::write(fd, "MZ\n\n", 4), 4);
    ASSERT_TRUE(seek_to(fd, 1));
    ASSERT_EQ(::write(fd, "Z", 1), 1);
    // An interrupt may remove the file while it is open.
    remove_on_interrupt(temporary);
    keep_on_interrupt();
    ASSERT_EQ(::close(fd), 0);

    replace_file(temporary, folder / "app.exe", error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(read(folder / "app.exe"), "MZ\n\n");
    EXPECT_FALSE(fs::exists(temporary));
    fs::remove(other);
}

TEST_F(PlatformWindows, AFileOpenForWritingMayBeRemoved) {
    int fd = open_for_writing(folder / "pending.exe");
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(DeleteFileW((folder / "pending.exe").c_str()));
    ::close(fd);
    EXPECT_FALSE(fs::exists(folder / "pending.exe"));
}

} // namespace
