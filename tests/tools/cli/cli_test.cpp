// talvik as a program: help, commands, and mistakes on the command line and in the app
// folder, each refused in one line with nothing written.

#include "resources/byte_writer.hpp"
#include "resources/png.hpp"
#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

TEST(TalvikCommand, Help) {
    ToolResult top = run_talvik_binary({"--help"});
    EXPECT_EQ(top.exit_status, 0);
    EXPECT_NE(top.out.find("talvik pack APP_DIR -o OUT.exe"), std::string::npos);
    EXPECT_NE(top.out.find("talvik list [--json] IMAGE.exe"), std::string::npos);
    ToolResult pack = run_talvik_binary({"pack", "--help"});
    EXPECT_EQ(pack.exit_status, 0);
    for (const char* option :
         {"--exe", "--company", "--product", "--version", "--template", "--copyright", "--icon", "--level",
          "--window-log", "--attached-data", "--quiet", "--windowed"}) {
        EXPECT_NE(pack.out.find(option), std::string::npos) << option;
    }
    // Nothing of a toolchain is left in what the user reads.
    for (const char* gone : {"--lib-dir", "TALVIK_LIB_DIR", "TALVIK_MINGW", "mingw"}) {
        EXPECT_EQ(pack.out.find(gone), std::string::npos) << gone;
    }
    EXPECT_NE(pack.out.find("--exclude '*.pdb' --exclude '.git/'"), std::string::npos);
    EXPECT_NE(pack.out.find("symbolic link is followed"), std::string::npos);
    ToolResult nothing = run_talvik_binary({});
    EXPECT_EQ(nothing.exit_status, 1);
    expect_one_error_line(run_talvik_binary({"frobnicate"}), "unknown command \"frobnicate\"");
    expect_one_error_line(run_talvik_binary({"list"}), "usage: talvik list [--json] IMAGE.exe");
}

TEST(TalvikCommand, EachCommandHasItsOwnHelp) {
    ToolResult pack = run_talvik_binary({"pack", "--help"});
    ToolResult list = run_talvik_binary({"list", "--help"});
    ASSERT_EQ(pack.exit_status, 0);
    ASSERT_EQ(list.exit_status, 0);
    EXPECT_TRUE(pack.out.starts_with("usage: talvik pack APP_DIR")) << pack.out;
    EXPECT_TRUE(list.out.starts_with("usage: talvik list [--json] IMAGE.exe")) << list.out;
    EXPECT_EQ(list.out.find("--exclude"), std::string::npos) << "not the pack help";
    const std::pair<std::vector<std::string>, const std::string*> same[] = {
        {{"help", "pack"}, &pack.out}, {{"help", "list"}, &list.out},
        {{"list", "-h"}, &list.out},   {{"--help", "pack"}, &pack.out},
        {{"pack", "-h"}, &pack.out},   {{"pack", "some-dir", "--help"}, &pack.out},
    };
    for (const auto& [args, expected] : same) {
        ToolResult result = run_talvik_binary(args);
        EXPECT_EQ(result.exit_status, 0) << args[0] << " " << args[1];
        EXPECT_EQ(result.out, *expected) << args[0] << " " << args[1];
    }
    ToolResult top = run_talvik_binary({"help"});
    EXPECT_EQ(top.exit_status, 0);
    EXPECT_EQ(top.out, run_talvik_binary({"--help"}).out);
    expect_one_error_line(run_talvik_binary({"help", "frobnicate"}), "no help for \"frobnicate\"");
    expect_one_error_line(run_talvik_binary({"what\nnow"}), "unknown command \"what\\nnow\"");
}

// Every mistake: status 1, one line, and nothing new in the output folder.
TEST(TalvikCommand, MistakesLeaveNoOutput) {
    ScratchFolder scratch;
    fs::path good = scratch / "good", out_dir = scratch / "out";
    write_file(good / "app.exe", tiny_pe());
    write_file(good / "data.txt", "x");
    fs::create_directories(out_dir);
    std::string out = (out_dir / "app.exe").string();
    auto folder_with = [&](const std::string& name,
                           const std::vector<std::pair<std::string, std::string>>& files) {
        fs::path folder = scratch / name;
        for (const auto& [file, contents] : files) {
            write_file(folder / file, contents);
        }
        fs::create_directories(folder);
        return folder.string();
    };
    std::string no_exe = folder_with("no-exe", {{"data.txt", "x"}});
    std::string two_exe = folder_with("two-exe", {{"a.exe", tiny_pe()}, {"b.exe", tiny_pe()}});
    std::string not_pe = folder_with("not-pe", {{"app.exe", "MZ but nothing else"}});
    std::string short_pe = folder_with("short-pe", {{"app.exe", "MZ"}});
    std::string deep = folder_with(
        "deep", {{"app.exe", tiny_pe()},
                 {std::string(250, 'a') + "/" + std::string(250, 'b') + "/" + std::string(250, 'c') + "/" +
                      std::string(250, 'd') + "/" + std::string(30, 'e'),
                  "x"}});
    std::string escape = folder_with("escape", {{"app.exe", tiny_pe()}});
    fs::create_symlink(scratch / "good/data.txt", scratch / "escape/data.txt");
    write_file(scratch / "two-bytes", "KA");
    // Sparse: the size is all that is read of it before it is refused.
    write_file(scratch / "huge.bin", "KAY");
    fs::resize_file(scratch / "huge.bin", std::uintmax_t{3} << 30);
    std::string newline = folder_with("newline", {{"app.exe", tiny_pe()}, {"line\nbreak.txt", "x"}});
    fs::create_symlink("data.txt", good / "link-to-data");
    std::string two_bytes_link = (scratch / "two-bytes-link").string();
    fs::create_symlink(scratch / "two-bytes", two_bytes_link);
    // An output that leads to an input file: refused before the icon is even read.
    std::string out_link = (scratch / "icon-link.png").string();
    fs::create_symlink(scratch / "icon.png", out_link);
    // Special files where the output goes; they must stay what they are.
    fs::path specials = scratch / "specials";
    fs::create_directories(specials / "folder");
    ASSERT_EQ(mkfifo((specials / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", specials / "link-to-fifo");
    fs::create_symlink("folder", specials / "link-to-folder");
    fs::create_symlink("missing", specials / "dangling");
    std::vector<std::string> specials_before = files_below(specials);
    write_file(scratch / "icon.png", encode_png_rgba(16, 16, Bytes(16 * 16 * 4, 0)));

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string g = good.string();
    const Case cases[] = {
        {{"pack", (scratch / "missing").string(), "-o", out}, "does not exist or is no folder"},
        {{"pack", no_exe, "-o", out}, "no .exe file at the top"},
        {{"pack", two_exe, "-o", out}, "several .exe files"},
        {{"pack", not_pe, "-o", out}, "is not a Windows executable"},
        {{"pack", short_pe, "-o", out}, "is not a Windows executable"},
        {{"pack", g, "-o", out, "--exe", "data.txt"}, "data.txt is not a Windows executable"},
        {{"pack", g, "-o", out, "--exe", "../good/app.exe"}, "without \".\", \"..\""},
        {{"pack", g, "-o", out, "--exe", "C:\\app.exe"}, "has a drive"},
        {{"pack", g, "-o", out, "--exe", "\\app.exe"}, "starts with a separator"},
        {{"pack", g, "-o", out, "--exe", "nope.exe"}, "no such file"},
        {{"pack", deep, "-o", out}, "longer than 1023 UTF-16 units"},
        {{"pack", escape, "-o", out}, "leads out of the app folder"},
        {{"pack", g, "-o", out, "--version", "1.2.3.4.5"}, "is not 1 to 4 numbers"},
        {{"pack", g, "-o", out, "--version", "1.2.3.70000"}, "is not 1 to 4 numbers"},
        {{"pack", g, "-o", out, "--version", "1.2\n3"}, "version \"1.2\\n3\" is not"},
        {{"pack", g, "-o", out, "--template", "{CACHE_DIR}\\{}"}, "unknown token {}"},
        {{"pack", g, "-o", out, "--exclude", "app.exe"}, "leaves out; the first entry is always packed"},
        {{"pack", g, "-o", out, "--exe", "app.exe", "--exclude", "*.EXE"}, "--exe app.exe is excluded"},
        {{"pack", g, "-o", out, "--product", "CON"}, "a device name on Windows"},
        {{"pack", newline, "-o", out}, "line\\nbreak.txt has a character"},
        {{"pack", g, "-o", (good / "app.exe").string()}, "would overwrite an input file, " + g + "/app.exe"},
        {{"pack", g, "-o", (good / "link-to-data").string()}, "would overwrite an input file"},
        {{"pack", g, "-o", (good / "app.exe").string(), "--exe", "data.txt"},
         "would overwrite an input file"},
        {{"pack", g, "-o", out_link, "--icon", (scratch / "icon.png").string()},
         "would overwrite an input file, the icon"},
        {{"pack", "-o", two_bytes_link, "--attached-data", (scratch / "two-bytes").string()},
         "would overwrite an input file, the attached data"},
        {{"pack", g, "-o", (scratch / "no-such\nfolder/app.exe").string()},
         "no-such\\nfolder does not exist"},
        {{"pack", g, "-o", (scratch / "specials/fifo").string()},
         "is a named pipe (FIFO), not a regular file"},
        {{"pack", g, "-o", (scratch / "specials/link-to-fifo").string()},
         "is a symbolic link to a named pipe (FIFO), not a regular file"},
        {{"pack", g, "-o", (scratch / "specials/link-to-folder").string()},
         "is a symbolic link to a folder, not a regular file"},
        {{"pack", g, "-o", (scratch / "specials/dangling").string()}, "a symbolic link that leads nowhere"},
        {{"pack", g, "-o", out_dir.string() + "/"}, "names a folder"},
        {{"pack", g, "-o", out, "--template", "{CACHE_DIR}\\{NAME}"}, "unknown token {NAME}"},
        {{"pack", g, "-o", out, "--product", "a/b"}, "give --template"},
        {{"pack", g, "-o", out, "--company", "\xFF"}, "the company name is not valid UTF-8"},
        {{"pack", g, "-o", out, "--level", "99"}, "--level wants"},
        {{"pack", g, "-o", out, "--window-log", "30"}, "--window-log wants"},
        {{"pack", g, "-o", out, "--bogus"}, "unknown option --bogus"},
        {{"pack", g}, "no output file"},
        {{"pack", g, "-o", (scratch / "no-such-folder/app.exe").string()}, "the output folder"},
        {{"pack", g, "-o", out_dir.string()}, "is a folder"},
        {{"pack", g, "-o", out, "--icon", (scratch / "icon.png").string()}, "exactly 7"},
        {{"pack", g, "-o", out, "--icon", (scratch / "missing.png").string()}, "cannot read the icon"},
        {{"pack", "-o", out, "--attached-data", (scratch / "two-bytes").string()},
         "shorter than its 3-byte header"},
        {{"pack", "-o", out, "--attached-data", (scratch / "absent").string()}, "is no readable file"},
        {{"pack", g, "-o", out, "--attached-data", (scratch / "two-bytes").string()}, "not both"},
        {{"pack", "-o", out, "--attached-data", (scratch / "huge.bin").string()},
         "too large for a launcher image: at most"},
        {{"pack", g, "-o", out, "--lib-dir", (scratch / "no-lib").string()}, "unknown option --lib-dir"},
        {{"list", (scratch / "missing.exe").string()}, "cannot read"},
        {{"list", (good / "data.txt").string()}, "not a PE image"},
        {{"list", (good / "app.exe").string()}, "no talvik build constants"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ToolResult result = run_talvik_binary(c.args);
        expect_one_error_line(result, c.message);
        EXPECT_EQ(files_below(out_dir), std::vector<std::string>{});
        EXPECT_EQ(files_below(specials), specials_before) << "no temporary file beside a special one";
        EXPECT_TRUE(fs::is_fifo(specials / "fifo"));
        Bytes exe = read_file(good / "app.exe");
        EXPECT_EQ(std::string(exe.begin(), exe.end()), tiny_pe()) << "an input stays as it was";
    }
}
