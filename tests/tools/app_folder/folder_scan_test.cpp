// Scanning an application folder into entries: order, names, the first entry, the folders
// that cannot be packed, what --exclude leaves out, and the stamp's name at the top.

#include "tests/tools/packed_image.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/app_folder/exclude_pattern.hpp"
#include "tools/app_folder/folder_scan.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::u16string> names_of(const std::vector<AppFile>& files) {
    std::vector<std::u16string> names;
    for (const AppFile& file : files) {
        names.push_back(file.name);
    }
    return names;
}

std::string scan_error(const fs::path& folder, std::optional<std::string> exe = std::nullopt) {
    return error_of([&] { scan_app_folder(folder, exe); });
}

} // namespace

TEST(AppFolder, ExecutableFirstThenUtf16Order) {
    ScratchFolder app;
    for (const char* name : {"b.txt", "A.txt", "app.exe", "sub/z", "sub/a", "sub/deeper/x", "Z.txt", "ä.txt",
                             "\xEF\xBF\xBD.txt", "\xF0\x9F\x98\x80.txt", "empty", "bin/other.exe"}) {
        write_file(app / name, std::string("content of ") + name);
    }
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
    for (const char* name : {"a.exe", "b.exe", "bin/tool.exe", "x.txt"}) {
        write_file(app / name, "x");
    }
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
    for (const auto& [exe, message] : cases) {
        EXPECT_NE(scan_error(app.path(), std::string(exe)).find(message), std::string::npos)
            << exe << ": " << scan_error(app.path(), std::string(exe));
    }
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
        {"LPT0", "is a device name"},
        {"com0.txt", "is a device name"},
        {"COM\u00B9.log", "is a device name"},
        {"lpt\u00B3", "is a device name"},
        {"CONIN$", "is a device name"},
        {"conout$.txt", "is a device name"},
        {"nul .txt", "is a device name"},
        {"aux./x", "is a device name"},
        {"sub/CON/deep/file.txt", "is a device name"},
    };
    for (const auto& [name, message] : cases) {
        ScratchFolder app;
        write_file(app / "app.exe", "x");
        write_file(app / name, "x");
        EXPECT_NE(scan_error(app.path()).find(message), std::string::npos)
            << name << ": " << scan_error(app.path());
    }
    ScratchFolder fine;
    for (const char* name :
         {"app.exe", "console.txt", "COM10", "nullable", "a.b.c", ".hidden", "COM\u2074", "CONIN", "x}{y"}) {
        write_file(fine / name, "x");
    }
    EXPECT_EQ(scan_app_folder(fine.path(), std::nullopt).size(), 9u);
}

TEST(AppFolder, MessagesShowNamesOnOneLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"new\nline.txt", "new\\nline.txt has a character"},
        {"carriage\rreturn", "carriage\\rreturn has a character"},
        {"bad\xFF\xFE.txt", "bad\\xff\\xfe.txt is not valid UTF-8"},
        {"escape\x1B[2J", "escape\\x1b[2J has a character"},
        {"sub\n/x", "sub\\n has a character"},
    };
    for (const auto& [name, message] : cases) {
        ScratchFolder app;
        write_file(app / "app.exe", "x");
        write_file(app / name, "x");
        std::string error = scan_error(app.path());
        EXPECT_EQ(error.find_first_of("\n\r\x1B"), std::string::npos) << error;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    // Windows takes U+2028 in a name; a message shows it escaped all the same.
    ScratchFolder app;
    write_file(app / "a\u2028b.exe", "x");
    write_file(app / "c.exe", "x");
    EXPECT_NE(scan_error(app.path()).find("a\\u2028b.exe"), std::string::npos) << scan_error(app.path());
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
    for (int i = 0; i < 120; ++i) {
        umlauts += "ü";
    }
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

TEST(AppFolder, CaseClashesByWindowsRules) {
    struct Case {
        std::vector<const char*> files;
        const char* message;
    };
    const Case cases[] = {
        {{"\u00C9.txt", "\u00E9.txt"}, "the file \u00C9.txt and the file \u00E9.txt differ only in case"},
        {{"\u0414\u0430\u043D\u043D\u044B\u0435", "\u0434\u0430\u043D\u043D\u044B\u0435"},
         "differ only in case"},
        {{"\u1F80.txt", "\u1F88.txt"}, "differ only in case"},
        {{"\u0131.txt", "I.txt"}, "differ only in case"},
        {{"Data", "data/x"}, "the file Data and the folder data (of data\\x) differ only in case"},
        {{"APP.EXE/y", "app.exe"}, "the folder APP.EXE (of APP.EXE\\y) and the file app.exe"},
        {{"a/B/c", "a/b/d"}, "the folder a\\B (of a\\B\\c) and the folder a\\b (of a\\b\\d)"},
        {{"x/\u00FFy", "x/\u0178Y"}, "differ only in case"},
    };
    for (const Case& c : cases) {
        ScratchFolder app;
        write_file(app / "main.exe", "x");
        for (const char* file : c.files) {
            write_file(app / file, "x");
        }
        EXPECT_NE(scan_error(app.path(), "main.exe").find(c.message), std::string::npos)
            << c.files[0] << ": " << scan_error(app.path(), "main.exe");
    }
    // Names that only a full or locale-specific mapping would join are apart on NTFS.
    ScratchFolder apart;
    for (const char* name : {"app.exe", "stra\u00DFe", "STRASSE", "\u212A", "k", "\U00010428", "\U00010400",
                             "data/x", "data2"}) {
        write_file(apart / name, "x");
    }
    EXPECT_EQ(scan_app_folder(apart.path(), std::nullopt).size(), 9u);
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
        if (kind == "file out") {
            fs::create_symlink(outside / "secret.txt", app / "secret.txt");
        } else if (kind == "folder out") {
            fs::create_directory_symlink(outside.path(), app / "sub");
        } else if (kind == "dangling") {
            fs::create_symlink(app / "missing", app / "broken");
        } else {
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
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop root";
    }
    ScratchFolder locked;
    write_file(locked / "app.exe", "x");
    write_file(locked / "private.txt", "x");
    fs::permissions(locked / "private.txt", fs::perms::none);
    EXPECT_NE(scan_error(locked.path()).find("cannot read"), std::string::npos);
}

namespace {

ScanSettings excluding(std::vector<std::string> patterns, std::optional<std::string> exe = std::nullopt) {
    ScanSettings settings;
    settings.exe = exe;
    for (const std::string& pattern : patterns) {
        settings.excludes.push_back(parse_exclude_pattern(pattern));
    }
    return settings;
}

std::string scan_error(const fs::path& folder, const ScanSettings& settings) {
    return error_of([&] { scan_app_folder(folder, settings); });
}

} // namespace

TEST(AppFolder, ExcludedFilesAndFolders) {
    ScratchFolder app;
    for (const char* name : {"app.exe", "app.pdb", "lib/x.dll", "lib/x.PDB", "docs/a.md", "docs/sub/b.md",
                             "src/build/out.o", "build/keep.txt", "Notes.TXT"}) {
        write_file(app / name, "x");
    }
    ScanSettings settings = excluding({"*.pdb", "/docs/*.md", "src/build/", "notes.txt"});
    std::size_t progress_calls = 0;
    settings.progress = [&](std::size_t files, std::uint64_t bytes) {
        ++progress_calls;
        EXPECT_EQ(bytes, files) << "one byte a file";
    };
    EXPECT_EQ(
        names_of(scan_app_folder(app.path(), settings)),
        (std::vector<std::u16string>{u"app.exe", u"build\\keep.txt", u"docs\\sub\\b.md", u"lib\\x.dll"}));
    EXPECT_EQ(progress_calls, 4u);
}

TEST(AppFolder, WhatIsExcludedIsNotChecked) {
    ScratchFolder app, outside;
    write_file(app / "app.exe", "x");
    write_file(app / "build/CON", "x");
    write_file(app / "build/Data", "x");
    write_file(app / "build/data/x", "x");
    write_file(app / "cache/bad\xFF", "x");
    ASSERT_EQ(mkfifo((app / "cache/pipe").c_str(), 0600), 0);
    fs::create_symlink(app / "missing", app / "dangling.lnk");
    fs::create_symlink(outside.path(), app / "outside.lnk");
    write_file(app / "\u00E9.txt", "x");
    write_file(app / "\u00C9.TXT", "x");
    EXPECT_NE(scan_error(app.path()), "(no error)") << "refused without the excludes";
    EXPECT_EQ(names_of(scan_app_folder(app.path(), excluding({"build/", "cache", "*.lnk", "\u00C9.txt"}))),
              (std::vector<std::u16string>{u"app.exe"}))
        << "\u00C9.txt matches both names, as Windows would";
}

TEST(AppFolder, TheFirstEntryCannotBeExcluded) {
    ScratchFolder app;
    write_file(app / "app.exe", "x");
    write_file(app / "bin/tool.exe", "x");
    EXPECT_NE(scan_error(app.path(), excluding({"*.EXE"}))
                  .find("but app.exe, which --exclude \"*.EXE\" leaves out"),
              std::string::npos)
        << scan_error(app.path(), excluding({"*.EXE"}));
    EXPECT_NE(scan_error(app.path(), excluding({"bin/"}, "bin/tool.exe"))
                  .find("--exe bin/tool.exe is excluded by --exclude \"bin/\""),
              std::string::npos);
    EXPECT_NE(scan_error(app.path(), excluding({"TOOL.*"}, "bin/tool.exe")).find("is excluded"),
              std::string::npos);
    // Another exe left out is no matter.
    EXPECT_EQ(scan_app_folder(app.path(), excluding({"bin/"}))[0].name, u"app.exe");
}

TEST(AppFolder, SkippedFilesAreNotPacked) {
    ScratchFolder app;
    write_file(app / "app.exe", "x");
    write_file(app / ".app-packed.exe.talvik-AbCdEf", "pending");
    write_file(app / "app-packed.exe", "earlier image");
    fs::create_symlink("app-packed.exe", app / "link.exe");
    ScanSettings settings;
    settings.exe = "app.exe";
    settings.skipped_files = {fs::canonical(app / ".app-packed.exe.talvik-AbCdEf"),
                              fs::canonical(app / "app-packed.exe")};
    EXPECT_EQ(names_of(scan_app_folder(app.path(), settings)), (std::vector<std::u16string>{u"app.exe"}))
        << "a link to a skipped file is skipped too";

    // The output may not be an input, unless it is left out.
    write_file(app / "notes.txt", "the user's own");
    settings.output = fs::canonical(app / "notes.txt");
    EXPECT_NE(scan_error(app.path(), settings).find("would overwrite an input file, "), std::string::npos);
    settings.excludes.push_back(parse_exclude_pattern("*.txt"));
    EXPECT_EQ(scan_app_folder(app.path(), settings).size(), 1u);
}

TEST_F(PackedImage, StampAndLockNamesAtTheTopAreRefused) {
    struct Kept {
        const char* name;
        const char* why;
    };
    for (const Kept& kept :
         {Kept{".talvik-stamp", "their stamp"}, Kept{".TALVIK-Stamp", "their stamp"},
          Kept{".talvik-stamp-0000002a.tmp", "their stamp"}, Kept{".talvik-lock", "their lock"},
          Kept{".Talvik-LOCK", "their lock"}, Kept{".talvik-lock-0000002a.tmp", "their lock"}}) {
        ScratchFolder folder;
        write_file(folder.path() / "Orrin Deck.exe", read_file(stub_image));
        write_file(folder.path() / kept.name, "mine");
        ToolResult result =
            run_talvik_binary({"pack", folder.path().string(), "-o", (out / "x.exe").string()});
        expect_one_error_line(result, std::string("launchers keep for ") + kept.why);
        EXPECT_NE(result.err.find(kept.name), std::string::npos) << result.err;
    }
    // Below the top it is a file like any other, and an exclude takes it out at the top.
    ScratchFolder folder;
    write_file(folder.path() / "Orrin Deck.exe", read_file(stub_image));
    write_file(folder.path() / "docs" / ".talvik-stamp", "mine");
    write_file(folder.path() / ".talvik-stamp", "mine");
    ToolResult result = run_talvik_binary({"pack", folder.path().string(), "-o", (out / "y.exe").string(),
                                           "-q", "--exclude", "/.talvik-stamp"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    ToolResult listed = run_talvik_binary({"list", (out / "y.exe").string()});
    EXPECT_NE(listed.out.find("docs\\.talvik-stamp"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("2 entries"), std::string::npos) << listed.out;
}
