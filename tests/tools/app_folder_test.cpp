// Scanning an application folder into entries: order, names, the first entry, and the
// folders that cannot be packed.

#include "tests/tools/test_support.hpp"
#include "tools/app_folder.hpp"
#include "tools/report.hpp"
#include "tools/text.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::u16string> names_of(const std::vector<AppFile>& files) {
    std::vector<std::u16string> names;
    for (const AppFile& file : files)
        names.push_back(file.name);
    return names;
}

std::string scan_error(const fs::path& folder, std::optional<std::string> exe = std::nullopt) {
    try {
        scan_app_folder(folder, exe);
    } catch (const ToolError& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace

TEST(AppFolder, ExecutableFirstThenUtf16Order) {
    ScratchFolder app;
    for (const char* name : {"b.txt", "A.txt", "app.exe", "sub/z", "sub/a", "sub/deeper/x", "Z.txt", "ä.txt",
                             "\xEF\xBF\xBD.txt", "\xF0\x9F\x98\x80.txt", "empty", "bin/other.exe"})
        write_file(app / name, std::string("content of ") + name);
    fs::create_directories(app / "nothing/inside");

    std::vector<AppFile> files = scan_app_folder(app.path(), std::nullopt);
    // U+1F600 is D83D DE00 in UTF-16 and sorts before U+FFFD there, unlike in UTF-8.
    EXPECT_EQ(names_of(files),
              (std::vector<std::u16string>{u"app.exe", u"A.txt", u"Z.txt", u"b.txt", u"bin\\other.exe",
                                           u"empty", u"sub\\a", u"sub\\deeper\\x", u"sub\\z", u"ä.txt",
                                           u"😀.txt", u"\uFFFD.txt"}));
    EXPECT_EQ(files[0].size, std::string("content of app.exe").size());
    EXPECT_EQ(files[0].file, app / "app.exe");

    // Another scan of the same folder gives the same order.
    EXPECT_EQ(names_of(scan_app_folder(app.path(), std::nullopt)), names_of(files));
}

TEST(AppFolder, ExeOptionNamesTheFirstEntry) {
    ScratchFolder app;
    for (const char* name : {"a.exe", "b.exe", "bin/tool.exe", "x.txt"})
        write_file(app / name, "x");
    for (const char* exe : {"bin/tool.exe", "bin\\tool.exe"}) {
        std::vector<AppFile> files = scan_app_folder(app.path(), std::string(exe));
        EXPECT_EQ(names_of(files),
                  (std::vector<std::u16string>{u"bin\\tool.exe", u"a.exe", u"b.exe", u"x.txt"}));
    }
    EXPECT_EQ(scan_app_folder(app.path(), std::string("x.txt"))[0].name, u"x.txt") << "any file may be named";
}

TEST(AppFolder, ExeOptionMistakes) {
    ScratchFolder app;
    write_file(app / "a.exe", "x");
    write_file(app / "sub/b.exe", "x");
    const std::pair<const char*, const char*> cases[] = {
        {"../a.exe", "without \".\", \"..\""},
        {"sub/../a.exe", "without \".\", \"..\""},
        {"./a.exe", "without \".\", \"..\""},
        {"sub//b.exe", "empty parts"},
        {"sub/", "empty parts"},
        {"C:\\a.exe", "has a drive"},
        {"C:a.exe", "has a drive"},
        {"\\a.exe", "starts with a separator"},
        {"/a.exe", "starts with a separator"},
        {"missing.exe", "no such file"},
        {"A.EXE", "no such file"},
        {"", "--exe is empty"},
    };
    for (const auto& [exe, message] : cases)
        EXPECT_NE(scan_error(app.path(), std::string(exe)).find(message), std::string::npos)
            << exe << ": " << scan_error(app.path(), std::string(exe));
}

TEST(AppFolder, ExecutableMissingOrAmbiguous) {
    ScratchFolder none, several, folder_only;
    write_file(none / "readme.txt", "x");
    write_file(none / "bin/app.exe", "x");
    write_file(none / ".exe", "x");
    write_file(several / "a.exe", "x");
    write_file(several / "B.EXE", "x");
    EXPECT_NE(scan_error(none.path()).find("no .exe file at the top"), std::string::npos);
    EXPECT_NE(scan_error(several.path()).find("several .exe files at the top of"), std::string::npos);
    EXPECT_NE(scan_error(several.path()).find("(B.EXE, a.exe)"), std::string::npos);
    EXPECT_NE(scan_error(folder_only.path()).find("no .exe file"), std::string::npos);
}

TEST(AppFolder, NamesWindowsCannotTake) {
    const std::pair<std::string, const char*> cases[] = {
        {"bad\xFF.txt", "is not valid UTF-8"},
        {"a:b.txt", "cannot hold"},
        {"what?.txt", "cannot hold"},
        {"pipe|.txt", "cannot hold"},
        {"back\\slash.txt", "cannot hold"},
        {"tab\t.txt", "cannot hold"},
        {"sub/star*.txt", "cannot hold"},
        {"dot.", "ends with a dot or a blank"},
        {"folder /x", "ends with a dot or a blank"},
        {"nul.txt", "is a device name"},
        {"sub/Com7", "is a device name"},
        {"LPT1.log.txt", "is a device name"},
    };
    for (const auto& [name, message] : cases) {
        ScratchFolder app;
        write_file(app / "app.exe", "x");
        write_file(app / name, "x");
        EXPECT_NE(scan_error(app.path()).find(message), std::string::npos)
            << name << ": " << scan_error(app.path());
    }
    ScratchFolder fine;
    for (const char* name : {"app.exe", "console.txt", "COM10", "nullable", "a.b.c", ".hidden", "LPT0"})
        write_file(fine / name, "x");
    EXPECT_EQ(scan_app_folder(fine.path(), std::nullopt).size(), 7u);
}

TEST(AppFolder, NameLengthLimit) {
    // Four folders of 200 units and their separators take 804 units; the file adds the rest.
    std::string folders = std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(200, 'c') +
                          "/" + std::string(200, 'd') + "/";
    ScratchFolder exact, over;
    write_file(exact / "app.exe", "x");
    write_file(exact / (folders + std::string(219, 'e')), "x");
    std::vector<AppFile> files = scan_app_folder(exact.path(), std::nullopt);
    EXPECT_EQ(files[1].name.size(), 1023u);

    write_file(over / "app.exe", "x");
    write_file(over / (folders + std::string(220, 'e')), "x");
    EXPECT_NE(scan_error(over.path()).find("longer than 1023 UTF-16 units"), std::string::npos);

    // Units, not bytes: 250 two-byte characters in UTF-8 are 250 units.
    ScratchFolder wide;
    std::string umlauts;
    for (int i = 0; i < 120; ++i)
        umlauts += "ü";
    write_file(wide / "app.exe", "x");
    write_file(wide / (folders + umlauts), "x");
    EXPECT_EQ(scan_app_folder(wide.path(), std::nullopt)[1].name.size(), 924u);
}

TEST(AppFolder, NamesDifferingOnlyInCase) {
    ScratchFolder app;
    write_file(app / "app.exe", "x");
    write_file(app / "Data/file.txt", "x");
    write_file(app / "data/FILE.txt", "x");
    EXPECT_NE(scan_error(app.path()).find("differ only in case"), std::string::npos);
}

TEST(AppFolder, SymbolicLinks) {
    ScratchFolder outside;
    write_file(outside / "secret.txt", "outside");
    {
        ScratchFolder app;
        write_file(app / "app.exe", "x");
        write_file(app / "real/data.txt", "inside data");
        fs::create_symlink("real/data.txt", app / "link.txt");
        fs::create_directory_symlink("real", app / "linked-dir");
        std::vector<AppFile> files = scan_app_folder(app.path(), std::nullopt);
        EXPECT_EQ(names_of(files), (std::vector<std::u16string>{u"app.exe", u"link.txt",
                                                                u"linked-dir\\data.txt", u"real\\data.txt"}));
        EXPECT_EQ(files[1].size, std::string("inside data").size())
            << "a link is packed as what it points to";
    }
    const std::pair<const char*, const char*> cases[] = {
        {"file out", "leads out of the app folder"},
        {"folder out", "leads out of the app folder"},
        {"dangling", "leads nowhere"},
        {"loop", "makes a loop"},
    };
    for (const auto& [what, message] : cases) {
        ScratchFolder app;
        write_file(app / "app.exe", "x");
        std::string kind = what;
        if (kind == "file out")
            fs::create_symlink(outside / "secret.txt", app / "secret.txt");
        else if (kind == "folder out")
            fs::create_directory_symlink(outside.path(), app / "sub");
        else if (kind == "dangling")
            fs::create_symlink(app / "missing", app / "broken");
        else {
            fs::create_directories(app / "sub");
            fs::create_directory_symlink("..", app / "sub/up");
        }
        EXPECT_NE(scan_error(app.path()).find(message), std::string::npos)
            << what << ": " << scan_error(app.path());
    }
}

TEST(AppFolder, FoldersThatCannotBeRead) {
    ScratchFolder scratch;
    EXPECT_NE(scan_error(scratch / "missing").find("does not exist or is no folder"), std::string::npos);
    write_file(scratch / "plain", "x");
    EXPECT_NE(scan_error(scratch / "plain").find("does not exist or is no folder"), std::string::npos);

    ScratchFolder app;
    write_file(app / "app.exe", "x");
    ASSERT_EQ(mkfifo((app / "pipe").c_str(), 0600), 0);
    EXPECT_NE(scan_error(app.path()).find("is not a regular file"), std::string::npos);
}

TEST(AppFolder, UnreadableFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    ScratchFolder locked;
    write_file(locked / "app.exe", "x");
    write_file(locked / "private.txt", "x");
    fs::permissions(locked / "private.txt", fs::perms::none);
    EXPECT_NE(scan_error(locked.path()).find("cannot read"), std::string::npos);
}
