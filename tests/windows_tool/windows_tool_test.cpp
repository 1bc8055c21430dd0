// talvik.exe, run under Wine, against the Linux talvik on the same app folders: the images
// must be the same bytes, and every listing, help text and refusal the same lines and status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "resources/png.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

fs::path windows_tool() {
    return win_build_dir() / "talvik.exe";
}

struct Result {
    int status = -1;
    std::string output; // stdout, then stderr
};

// Paths in messages differ in form only: "Z:\work\app\x" on Windows, "/work/app/x" on Linux.
std::string without_path_form(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    for (std::size_t at; (at = text.find("Z:/")) != std::string::npos;) {
        text.erase(at, 2);
    }
    return text;
}

// A compressible text that is no mere repetition, so that the compressor has work to do.
std::string varied_text(std::size_t size) {
    std::string text;
    unsigned state = 12345;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text +=
            "line " + std::to_string(state % 1000) + " of the manual, " + std::to_string(text.size()) + "\n";
    }
    text.resize(size);
    return text;
}

class WindowsTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(windows_tool()) || !fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build with talvik.exe and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        work = fresh_dir(name);
    }

    // The app folder most cases pack: names beyond ASCII and with blanks, nested folders,
    // names that sort differently by case, an empty file and one large enough for the
    // compressor's threads.
    void make_app(const fs::path& app) {
        fs::create_directories(app);
        fs::copy_file(probe_exe(), app / "Orrin Deck.exe");
        write_file(app / "données" / "été.txt", "été\n");
        write_file(app / "日本語" / "ファイル.txt", "日本語\r\n");
        write_file(app / "with blank" / "a b c.txt", "blank\n");
        write_file(app / "a" / "b" / "c" / "d" / "e.txt", "deep\n");
        write_file(app / "Zebra.txt", "Z");
        write_file(app / "apple.txt", "a");
        write_file(app / "_under.txt", "_");
        write_file(app / "empty.bin", "");
        write_file(app / "big" / "manual.txt", varied_text(3 << 20));
        write_file(app / "logs" / "run.log", "left out\n");
        write_file(app / "cache" / "x.bin", "left out\n");
        write_file(app / "tools" / "helper.exe", read_file(probe_exe()));
    }

    std::vector<std::string> make_icons() {
        std::vector<std::string> arguments;
        for (std::uint32_t size : {16, 24, 32, 48, 64, 128, 256}) {
            Bytes rgba(std::size_t{size} * size * 4);
            for (std::size_t i = 0; i < rgba.size(); ++i) {
                rgba[i] = static_cast<unsigned char>((i * 7 + size) & 0xFF);
            }
            Bytes png = encode_png_rgba(size, size, rgba);
            std::string file = "icon-" + std::to_string(size) + ".png";
            write_file(work / "icons" / file, std::string(png.begin(), png.end()));
            arguments.insert(arguments.end(), {"--icon", "icons/" + file});
        }
        return arguments;
    }

    Result linux_tool(const std::vector<std::string>& arguments) {
        std::vector<std::string> command{TALVIK_TOOL};
        command.insert(command.end(), arguments.begin(), arguments.end());
        Result result;
        result.status = run_command(command, work, &result.output);
        return result;
    }

    Result windows(const std::vector<std::string>& arguments) {
        std::string command_line = quote_argument(windows_path(windows_tool()));
        for (const std::string& argument : arguments) {
            command_line += ' ';
            command_line += quote_argument(argument);
        }
        // Wine turns its own arguments into UTF-16 by the Linux locale.
        Outcome outcome = run_windows(work, command_line, {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}});
        Result result;
        result.status = outcome.exit_code ? static_cast<int>(*outcome.exit_code) : -1;
        result.output = outcome.out + outcome.err;
        return result;
    }

    // Packs with both tools, OUTPUT naming the image inside out-linux/ and out-windows/.
    void expect_same_image(std::vector<std::string> arguments, const std::string& output) {
        fs::create_directories(work / "out-linux");
        fs::create_directories(work / "out-windows");
        arguments.push_back("--quiet");
        std::vector<std::string> for_linux = arguments;
        for_linux.insert(for_linux.end(), {"-o", "out-linux/" + output});
        std::vector<std::string> for_windows = arguments;
        for_windows.insert(for_windows.end(), {"-o", "out-windows\\" + output});
        Result linux_run = linux_tool(for_linux);
        ASSERT_EQ(linux_run.status, 0) << linux_run.output;
        Result windows_run = windows(for_windows);
        ASSERT_EQ(windows_run.status, 0) << windows_run.output;
        EXPECT_EQ(windows_run.output, "");
        std::string linux_image = read_file(work / "out-linux" / output);
        std::string windows_image = read_file(work / "out-windows" / output);
        ASSERT_GT(linux_image.size(), 100000u);
        ASSERT_EQ(windows_image.size(), linux_image.size());
        EXPECT_TRUE(windows_image == linux_image) << "the images differ in their bytes";
        // Nothing is left beside the output.
        std::size_t files = 0;
        for (const auto& entry : fs::directory_iterator(work / "out-windows")) {
            files += entry.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, 1u);
    }

    // Both tools, the same arguments, in the same folder: the same status and lines.
    void expect_same_answer(const std::vector<std::string>& arguments) {
        Result linux_run = linux_tool(arguments);
        Result windows_run = windows(arguments);
        std::string shown;
        for (const std::string& argument : arguments) {
            shown += ' ';
            shown += argument;
        }
        EXPECT_EQ(windows_run.status, linux_run.status) << "talvik" << shown << "\n" << windows_run.output;
        EXPECT_EQ(without_path_form(windows_run.output), without_path_form(linux_run.output))
            << "talvik" << shown;
    }

    std::string name;
    fs::path work;
};

TEST_F(WindowsTool, DefaultImageIsTheSameAndRuns) {
    make_app(work / "app");
    std::string template_text = "{CACHE_DIR}\\TalvikWindowsTool\\" + name;
    expect_same_image({"pack", "app", "--template", template_text, "--exe", "Orrin Deck.exe"},
                      "Démarrer.exe");

    fs::path target = local_appdata() / "TalvikWindowsTool" / name;
    fs::remove_all(target);
    Outcome outcome = run_windows(work, "out-windows\\Démarrer.exe first \"two words\"",
                                  {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}});
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_TRUE(report.complete) << outcome.out;
    ASSERT_EQ(report.argv.size(), 3u);
    EXPECT_EQ(report.argv[1], "first");
    EXPECT_EQ(report.argv[2], "two words");
    EXPECT_EQ(read_file(target / "données" / "été.txt"), "été\n");
    EXPECT_EQ(read_file(target / "日本語" / "ファイル.txt"), "日本語\r\n");
    EXPECT_EQ(read_file(target / "big" / "manual.txt"), varied_text(3 << 20));
    fs::remove_all(target);
}

TEST_F(WindowsTool, ImagesWithEveryOptionAreTheSame) {
    make_app(work / "app");
    std::vector<std::string> icons = make_icons();
    std::vector<std::string> arguments{
        "pack",       "app",       "--exe",  "tools\\helper.exe", "--company", "Fernwick Studio", "--product",
        "Orrin Deck", "--version", "1.20.3", "--exclude",         "*.log",     "--exclude",       "cache/",
        "--level",    "5"};
    arguments.insert(arguments.end(), icons.begin(), icons.end());
    // A file whose full path is well past Windows' old limit of 260 units.
    fs::path deep = work / "app" / "long";
    // Deep enough wherever the build tree lies.
    for (int level = 0; windows_path(deep / "file.txt").size() <= 400; ++level) {
        deep /= "folder-with-a-long-name-" + std::to_string(level);
    }
    write_file(deep / "file.txt", "far down\n");
    expect_same_image(arguments, "Orrin Deck.exe");
}

TEST_F(WindowsTool, WindowedImageFromAnAbsoluteFolderIsTheSame) {
    make_app(work / "Ünïcode app");
    // Each tool names the folder in its own form; the images must not show it.
    fs::create_directories(work / "out-linux");
    fs::create_directories(work / "out-windows");
    Result linux_run = linux_tool({"pack", (work / "Ünïcode app").string(), "--exe", "tools/helper.exe",
                                   "--windowed", "--level", "1", "-q", "-o", "out-linux/w.exe"});
    ASSERT_EQ(linux_run.status, 0) << linux_run.output;
    Result windows_run =
        windows({"pack", windows_path(work / "Ünïcode app"), "--exe", "tools/helper.exe", "--windowed",
                 "--level", "1", "-q", "-o", windows_path(work / "out-windows/w.exe")});
    ASSERT_EQ(windows_run.status, 0) << windows_run.output;
    EXPECT_TRUE(read_file(work / "out-windows" / "w.exe") == read_file(work / "out-linux" / "w.exe"));
}

TEST_F(WindowsTool, ReplacesAnEarlierImageInPlace) {
    make_app(work / "app");
    write_file(work / "old.exe", "an earlier build");
    Result first = windows({"pack", "app", "--level", "1", "-q", "-o", "old.exe", "--exe", "Orrin Deck.exe"});
    ASSERT_EQ(first.status, 0) << first.output;
    Result linux_run =
        linux_tool({"pack", "app", "--level", "1", "-q", "-o", "linux.exe", "--exe", "Orrin Deck.exe"});
    ASSERT_EQ(linux_run.status, 0) << linux_run.output;
    EXPECT_TRUE(read_file(work / "old.exe") == read_file(work / "linux.exe"));
}

TEST_F(WindowsTool, ListHelpAndVersionSayTheSame) {
    make_app(work / "app");
    Result packed =
        linux_tool({"pack", "app", "--exe", "Orrin Deck.exe", "--level", "1", "-q", "-o", "a.exe"});
    ASSERT_EQ(packed.status, 0) << packed.output;
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{"list", "a.exe"},
                                                                                           {"list", "--help"},
                                                                                           {"--help"},
                                                                                           {"-h"},
                                                                                           {"--version"},
                                                                                           {"help", "pack"},
                                                                                           {"help", "list"},
                                                                                           {"pack", "--help"},
                                                                                           {}}) {
        expect_same_answer(arguments);
    }
}

TEST_F(WindowsTool, RefusalsSayTheSame) {
    make_app(work / "app");
    fs::create_directories(work / "no exe");
    write_file(work / "no exe" / "readme.txt", "text");
    fs::create_directories(work / "two exes");
    write_file(work / "two exes" / "a.exe", read_file(probe_exe()));
    write_file(work / "two exes" / "b.exe", read_file(probe_exe()));
    write_file(work / "elsewhere" / "secret.txt", "secret");
    // Windows programs see a Linux link to a folder as a reparse point, as a junction or
    // a directory symbolic link shows; one to a file resolves out of their sight.
    fs::create_directories(work / "folder link");
    write_file(work / "folder link" / "app.exe", read_file(probe_exe()));
    fs::create_directory_symlink(work / "elsewhere", work / "folder link" / "outside");
    fs::create_directories(work / "file link");
    write_file(work / "file link" / "app.exe", read_file(probe_exe()));
    fs::create_symlink(work / "elsewhere" / "secret.txt", work / "file link" / "secret.txt");
    fs::create_directories(work / "inner link");
    write_file(work / "inner link" / "app.exe", read_file(probe_exe()));
    write_file(work / "inner link" / "data" / "one.txt", "one");
    fs::create_directory_symlink("data", work / "inner link" / "also data");
    write_file(work / "not an image.exe", "MZ but nothing more");

    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"pack", "missing", "-o", "x.exe"},
             {"pack", "no exe", "-o", "x.exe"},
             {"pack", "two exes", "-o", "x.exe"},
             {"pack", "folder link", "-o", "x.exe"},
             {"pack", "file link", "-o", "x.exe"},
             {"pack", "app", "-o", "x.exe", "--version", "1.2.3.4.5"},
             {"pack", "app", "-o", "x.exe", "--version", "1.x"},
             {"pack", "app", "-o", "x.exe", "--exe", "../app/Orrin Deck.exe"},
             {"pack", "app", "-o", "x.exe", "--exe", "C:\\app.exe"},
             {"pack", "app", "-o", "x.exe", "--exe", "missing.exe"},
             {"pack", "app", "-o", "app", "--exe", "Orrin Deck.exe"},
             {"pack", "app", "-o", "no folder/x.exe", "--exe", "Orrin Deck.exe"},
             {"pack", "app", "-o", "x.exe", "--level", "23"},
             {"pack", "app"},
             {"list", "missing.exe"},
             {"list", "not an image.exe"},
             {"frobnicate"},
         }) {
        expect_same_answer(arguments);
    }
    EXPECT_FALSE(fs::exists(work / "x.exe"));

    // A link that stays inside the folder is packed as what it leads to, by both.
    expect_same_image({"pack", "inner link", "--level", "1"}, "inner.exe");
}

// Only system DLLs: no mingw runtime (libstdc++, libgcc, winpthread) and no zlib or zstd
// beside talvik.exe; and long paths are asked for in its manifest.
TEST_F(WindowsTool, ImportsOnlySystemLibraries) {
    std::string dump;
    ASSERT_EQ(
        run_command({"/usr/bin/x86_64-w64-mingw32-objdump", "-p", windows_tool().string()}, work, &dump), 0);
    const std::set<std::string> system_libraries{"kernel32.dll", "msvcrt.dll",   "shell32.dll",
                                                 "user32.dll",   "advapi32.dll", "ntdll.dll"};
    std::istringstream lines(dump);
    std::vector<std::string> imported;
    for (std::string line; std::getline(lines, line);) {
        std::size_t at = line.find("DLL Name: ");
        if (at == std::string::npos) {
            continue;
        }
        std::string library = line.substr(at + 10);
        std::transform(library.begin(), library.end(), library.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        imported.push_back(library);
        EXPECT_TRUE(system_libraries.contains(library)) << library;
    }
    EXPECT_FALSE(imported.empty()) << dump;
    EXPECT_NE(read_file(windows_tool()).find("<longPathAware"), std::string::npos);
}

} // namespace
