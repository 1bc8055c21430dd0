// talvik as a program: help, mistakes on the command line and in the app folder, and
// whole images made from a tiny app folder and read back.

#include "constants/image_descriptor.hpp"
#include "payload/entry_listing.hpp"
#include "payload/producer.hpp"
#include "resources/icon_group.hpp"
#include "resources/manifest.hpp"
#include "resources/png.hpp"
#include "resources/version_block.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/host/tool_messages.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/pe_file.hpp"
#include "tools/list/list_command.hpp"
#include "tools/pack/image_metadata.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path win_build_dir = TALVIK_WIN_BUILD_DIR;
const fs::path stub_image = win_build_dir / "talvik-stub.exe";

// Any file with the MZ and PE signatures passes as the first entry.
std::string tiny_pe() {
    std::string pe(128, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 64;
    pe.replace(64, 4, std::string("PE\0\0", 4));
    return pe;
}

void expect_one_error_line(const ToolResult& result, const std::string& message) {
    EXPECT_EQ(result.exit_status, 1);
    std::vector<std::string> lines = lines_of(result.err);
    ASSERT_EQ(lines.size(), 1u) << result.err;
    EXPECT_EQ(lines[0].rfind("talvik: error: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(message), std::string::npos) << lines[0];
}

} // namespace

TEST(TalvikCommand, Help) {
    ToolResult top = run_talvik_binary({"--help"});
    EXPECT_EQ(top.exit_status, 0);
    EXPECT_NE(top.out.find("talvik pack APP_DIR -o OUT.exe"), std::string::npos);
    EXPECT_NE(top.out.find("talvik list IMAGE.exe"), std::string::npos);
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
    expect_one_error_line(run_talvik_binary({"list"}), "usage: talvik list IMAGE.exe");
}

TEST(TalvikCommand, EachCommandHasItsOwnHelp) {
    ToolResult pack = run_talvik_binary({"pack", "--help"});
    ToolResult list = run_talvik_binary({"list", "--help"});
    ASSERT_EQ(pack.exit_status, 0);
    ASSERT_EQ(list.exit_status, 0);
    EXPECT_TRUE(pack.out.starts_with("usage: talvik pack APP_DIR")) << pack.out;
    EXPECT_TRUE(list.out.starts_with("usage: talvik list IMAGE.exe")) << list.out;
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

TEST(TalvikCommand, DamagedBinaryWritesNothing) {
    ScratchFolder scratch;
    write_file(scratch / "app/app.exe", tiny_pe());
    fs::create_directories(scratch / "out");
    Bytes tool = read_file(talvik_binary());
    Bytes stub = read_file(stub_image);
    auto at = std::search(tool.begin(), tool.end(), stub.begin(), stub.end());
    ASSERT_NE(at, tool.end()) << "talvik carries the stub's bytes";
    std::size_t stub_offset = static_cast<std::size_t>(at - tool.begin());
    std::size_t descriptor = std::string(stub.begin(), stub.end()).find("TALVIK-IMAGE-DSC");
    // One byte in the middle of the launcher's code, and one field of its descriptor.
    for (std::size_t offset : {stub.size() / 2, descriptor + 20}) {
        SCOPED_TRACE(offset);
        Bytes damaged = tool;
        damaged[stub_offset + offset] ^= 0x01;
        write_file(scratch / "talvik", damaged);
        fs::permissions(scratch / "talvik", fs::perms::owner_all);
        ToolResult result =
            run_shell("exec " + (scratch / "talvik").string() + " pack " + (scratch / "app").string() +
                      " -o " + (scratch / "out/app.exe").string());
        expect_one_error_line(result, "talvik's built-in launcher stub is damaged");
        EXPECT_EQ(files_below(scratch / "out"), std::vector<std::string>{});
    }
}

namespace {

// An app folder and an output folder in one scratch folder.
struct SmallPack {
    explicit SmallPack(std::size_t random_bytes = 0) {
        write_file(scratch / "app/app.exe", tiny_pe());
        std::string noise(random_bytes, '\0');
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (char& byte : noise) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            byte = static_cast<char>(state);
        }
        write_file(scratch / "app/noise.bin", noise);
        fs::create_directories(scratch / "out");
    }
    std::vector<std::string> args() const {
        return {"pack", (scratch / "app").string(), "-o", (scratch / "out/app.exe").string()};
    }
    ScratchFolder scratch;
};

} // namespace

TEST(TalvikCommand, FailingWriteIsReported) {
    // A file size limit makes the write fail for real: EFBIG once the image passes 64 KiB,
    // with SIGXFSZ ignored so that the write reports it instead of ending the process.
    SmallPack small(200000);
    std::string command = "ulimit -f 128 && trap '' XFSZ && exec \"$TALVIK\"";
    for (const std::string& arg : small.args()) {
        command += " '" + arg + "'";
    }
    ToolResult result = run_shell(command + " --level 1");
    expect_one_error_line(result, "cannot write " + (small.scratch / "out").string());
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    EXPECT_EQ(files_below(small.scratch / "out"), std::vector<std::string>{});
}

TEST(TalvikCommand, InterruptLeavesNothingBehind) {
    // 48 MB that do not compress keep talvik busy for many seconds at level 19; the signal
    // comes once the pending output has appeared.
    SmallPack small(48 << 20);
    ScratchFolder capture;
    RunningTool tool = start_talvik_binary(small.args(), {}, capture.path());
    // Bounded, so that a talvik that never gets that far fails the test instead of hanging it.
    for (int tries = 0; tries < 6000 && files_below(small.scratch / "out").empty(); ++tries) {
        usleep(1000);
    }
    EXPECT_FALSE(files_below(small.scratch / "out").empty()) << "the pending output exists while it runs";
    usleep(100000);
    kill(tool.pid, SIGTERM);
    ToolResult result = wait_for(tool);
    EXPECT_EQ(result.exit_status, -SIGTERM) << result.err;
    EXPECT_EQ(files_below(small.scratch / "out"), std::vector<std::string>{});
}

namespace {

// A tiny application: the stub image as its executable and a few other files.
class PackedImage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(stub_image)) {
            GTEST_SKIP() << "no Windows build in " << win_build_dir;
        }
        write_file(app / "Orrin Deck.exe", read_file(stub_image));
        write_file(app / "data/empty.bin", "");
        write_file(app / "data/numbers.txt", std::string(5000, '7'));
        write_file(app / "ünïcode/名前.txt", "name");
        write_file(app / "Z.txt", "z");
    }

    ToolResult pack(const fs::path& output, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"pack",      app.path().string(), "-o",        output.string(),
                                         "--company", "Fernwick Studio",   "--product", "Orrin Deck",
                                         "--version", "1.20.0.0"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_talvik_binary(args, {"TMPDIR=" + temp.path().string()});
    }

    ScratchFolder app, out, temp;
};

std::uint32_t stored_checksum(const std::string& body) {
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    return crc == 0 ? 1 : crc;
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The resource directory of an image, down to its data.
std::vector<ResourceLeaf> read_resources(const Bytes& file, const PeImage& image) {
    const PeDataDirectory& directory = image.data_directories.at(resource_directory_index);
    return read_resource_section(pe_bytes_from(file, image, directory.virtual_address),
                                 directory.virtual_address);
}

} // namespace

TEST_F(PackedImage, ListShowsConstantsAndEntries) {
    ToolResult packed = pack(out / "Orrin-Deck.exe", {"-q"});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    EXPECT_EQ(packed.err, "") << "--quiet";
    EXPECT_EQ(files_below(temp.path()), std::vector<std::string>{}) << "the work folder is gone";

    ToolResult listed = run_talvik_binary({"list", (out / "Orrin-Deck.exe").string()});
    ASSERT_EQ(listed.exit_status, 0) << listed.err;
    Bytes stub = read_file(stub_image);
    std::string exe(stub.begin(), stub.end());
    auto line = [](std::uint64_t size, const std::string& body, const std::string& name) {
        std::string size_text = std::to_string(size);
        return std::string(14 - size_text.size(), ' ') + size_text + "  " + hex8(stored_checksum(body)) +
               "  " + name;
    };
    std::vector<std::string> expected = {
        "template  {CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20",
        "company   Fernwick Studio",
        "product   Orrin Deck",
        "version   1.20.0.0",
        "subsystem console",
    };
    std::vector<std::string> lines = lines_of(listed.out);
    ASSERT_EQ(lines.size(), 16u) << listed.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5), expected);
    EXPECT_EQ(lines[5].rfind("attached  ", 0), 0u);
    EXPECT_EQ(lines[6], "reuse     crc");
    EXPECT_EQ(lines[7], "old trees remove");
    EXPECT_EQ(lines[8], "child     ends with the launcher");
    EXPECT_EQ(lines[9], "progress  none (console image)");
    EXPECT_EQ(lines[10], line(exe.size(), exe, "Orrin Deck.exe"));
    EXPECT_EQ(lines[11], line(1, "z", "Z.txt"));
    EXPECT_EQ(lines[12], line(0, "", "data\\empty.bin"));
    EXPECT_EQ(lines[13], line(5000, std::string(5000, '7'), "data\\numbers.txt"));
    EXPECT_EQ(lines[14], line(4, "name", "ünïcode\\名前.txt"));
    EXPECT_EQ(lines[15], "5 entries, " + std::to_string(exe.size() + 5005) + " bytes");
    EXPECT_EQ(hex8(stored_checksum("")), "00000001") << "an empty body carries 1";
}

TEST_F(PackedImage, SameInputsGiveTheSameBytes) {
    fs::create_directories(out / "second place");
    ToolResult first = pack(out / "first.exe");
    ToolResult second = pack(out / "second place/other name.exe");
    ASSERT_EQ(first.exit_status, 0) << first.err;
    ASSERT_EQ(second.exit_status, 0) << second.err;
    EXPECT_NE(first.err.find("talvik: packed 5 files"), std::string::npos) << first.err;
    Bytes image = read_file(out / "first.exe");
    EXPECT_EQ(image, read_file(out / "second place/other name.exe"));
    // Neither the work folder nor the output's name reach the image.
    std::string bytes(image.begin(), image.end());
    EXPECT_EQ(bytes.find(temp.path().string()), std::string::npos);
    EXPECT_EQ(bytes.find("first.exe"), std::string::npos);
    EXPECT_EQ(bytes.find(app.path().string()), std::string::npos);
    EXPECT_EQ(fs::status(out / "first.exe").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace

// Nothing of the run's surroundings reaches the image: each case packs the same inputs
// with one thing changed, and must give the reference bytes.
TEST_F(PackedImage, SameBytesWhateverTheSurroundings) {
    ASSERT_EQ(pack(out / "reference.exe", {"-q"}).exit_status, 0);
    Bytes reference = read_file(out / "reference.exe");

    // The same files with other modification times, in another folder.
    fs::path moved = temp / "moved app";
    fs::copy(app.path(), moved, fs::copy_options::recursive);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(moved)) {
        fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    }
    fs::create_directories(temp / "elsewhere/deeper");
    fs::create_directories(temp / "other tmp");

    const std::string options = " --company 'Fernwick Studio' --product 'Orrin Deck' --version 1.20.0.0 -q";
    auto pack_of = [&](const fs::path& folder) { return "\"$TALVIK\" pack " + quoted(folder.string()); };
    struct Case {
        const char* what;
        std::string script;
        fs::path image;
    };
    const fs::path elsewhere = temp / "elsewhere/deeper";
    const Case cases[] = {
        {"output path", pack_of(app.path()) + " -o " + quoted((out / "a b/c d.exe").string()) + options,
         out / "a b/c d.exe"},
        {"working folder, relative paths",
         "cd " + quoted(elsewhere.string()) + " && \"$TALVIK\" pack " +
             quoted(fs::relative(app.path(), elsewhere).string()) + " -o " +
             quoted(fs::relative(out / "relative.exe", elsewhere).string()) + options,
         out / "relative.exe"},
        {"TMPDIR",
         "TMPDIR=" + quoted((temp / "other tmp").string()) + " " + pack_of(app.path()) + " -o " +
             quoted((out / "tmpdir.exe").string()) + options,
         out / "tmpdir.exe"},
        {"umask",
         "umask 077 && " + pack_of(app.path()) + " -o " + quoted((out / "umask.exe").string()) + options,
         out / "umask.exe"},
        {"input mtimes and folder", pack_of(moved) + " -o " + quoted((out / "moved.exe").string()) + options,
         out / "moved.exe"},
        {"time of day, 2001",
         "faketime '2001-02-03 04:05:06' " + pack_of(app.path()) + " -o " +
             quoted((out / "2001.exe").string()) + options,
         out / "2001.exe"},
        {"time of day, 2037",
         "faketime '2037-12-31 23:59:58' " + pack_of(app.path()) + " -o " +
             quoted((out / "2037.exe").string()) + options,
         out / "2037.exe"},
        {"empty environment",
         "exec env -i \"$TALVIK\" pack " + quoted(app.path().string()) + " -o " +
             quoted((out / "bare-env.exe").string()) + options,
         out / "bare-env.exe"},
    };
    fs::create_directories(out / "a b");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ToolResult result = run_shell(c.script);
        ASSERT_EQ(result.exit_status, 0) << c.script << "\n" << result.err;
        EXPECT_TRUE(read_file(c.image) == reference);
    }
    EXPECT_EQ(fs::status(out / "umask.exe").permissions() & fs::perms::all, fs::perms::owner_all)
        << "only the file's mode follows the umask";
}

TEST_F(PackedImage, HeaderResourcesAndLayout) {
    ToolResult packed = pack(out / "image.exe", {"-q"});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    Bytes file = read_file(out / "image.exe");
    PeImage image = parse_pe_image(file);
    EXPECT_EQ(image.machine, 0x8664);
    EXPECT_EQ(image.optional_magic, pe32_plus_magic);
    EXPECT_EQ(image.subsystem, 3) << "console";
    EXPECT_EQ(image.checksum, 0u);
    EXPECT_EQ(image.stack_reserve, 0x968000u);
    EXPECT_EQ(image.stack_commit, 0x1000u);
    EXPECT_EQ(image.heap_reserve, 0x100000u);
    EXPECT_EQ(image.heap_commit, 0x1000u);
    ASSERT_FALSE(image.sections.empty());
    const PeSection& last = image.sections.back();
    EXPECT_EQ(file.size(), std::size_t{last.raw_pointer} + last.raw_size)
        << "nothing appended after the last section";

    // The stub's sections as they were, then the two that talvik adds.
    Bytes stub_bytes = read_file(stub_image);
    PeImage stub = parse_pe_image(stub_bytes);
    ASSERT_EQ(image.sections.size(), stub.sections.size() + 2);
    for (std::size_t i = 0; i < stub.sections.size(); ++i) {
        EXPECT_EQ(image.sections[i].name, stub.sections[i].name);
        EXPECT_EQ(image.sections[i].raw_pointer, stub.sections[i].raw_pointer);
        EXPECT_EQ(image.sections[i].virtual_address, stub.sections[i].virtual_address);
    }
    const PeSection& data = image.sections[stub.sections.size()];
    const PeSection& resources = image.sections.back();
    EXPECT_EQ(data.name, ".talvik");
    EXPECT_EQ(resources.name, ".rsrc");
    for (const PeSection* section : {&data, &resources}) {
        EXPECT_EQ(section->characteristics, 0x40000040u) << section->name << ": read-only initialised data";
        EXPECT_EQ(section->virtual_address % 4096, 0u) << section->name;
        EXPECT_EQ(section->raw_size % 512, 0u) << section->name;
        EXPECT_GE(section->raw_size, section->virtual_size) << section->name;
    }
    EXPECT_GE(data.virtual_address, stub.size_of_image);
    EXPECT_GE(resources.virtual_address, data.virtual_address + data.virtual_size);
    EXPECT_EQ(resources.raw_pointer, data.raw_pointer + data.raw_size);
    EXPECT_EQ(image.size_of_image, (resources.virtual_address + resources.virtual_size + 4095) / 4096 * 4096);
    EXPECT_EQ(image.size_of_initialized_data,
              stub.size_of_initialized_data + data.raw_size + resources.raw_size);
    EXPECT_EQ(image.data_directories.at(resource_directory_index).virtual_address, resources.virtual_address);
    EXPECT_EQ(image.data_directories.at(resource_directory_index).size, resources.virtual_size);
    // The attached data starts its section, on a page of the file, so that Wine maps it from
    // the file rather than copying it into the launcher's private memory.
    EXPECT_EQ(data.raw_pointer % 4096, 0u);
    ImageConstants constants = read_image_constants(file);
    ASSERT_GE(data.raw_size, constants.attached_data.size());
    EXPECT_TRUE(std::equal(constants.attached_data.begin(), constants.attached_data.end(),
                           file.begin() + data.raw_pointer));

    // Everything else of the stub is copied unchanged: only the header fields above, the new
    // section headers and the descriptor's fields differ.
    auto masked = [&](Bytes bytes) {
        bytes.resize(stub_bytes.size());
        std::size_t optional = stub.optional_offset;
        std::size_t table_end = stub.section_table_offset + stub.sections.size() * 40;
        std::size_t descriptor = std::string(stub_bytes.begin(), stub_bytes.end()).find("TALVIK-IMAGE-DSC");
        for (auto [from, count] : std::vector<std::pair<std::size_t, std::size_t>>{
                 {stub.pe_offset + 6, 2},
                 {optional + 8, 4},
                 {optional + 56, 4},
                 {optional + 64, 4},
                 {optional + 112 + 2 * 8, 8},
                 {table_end, 80},
                 {descriptor + 16, sizeof(ImageDescriptor) - 16}}) {
            std::fill_n(bytes.begin() + from, count, 0);
        }
        return bytes;
    };
    EXPECT_TRUE(masked(file) == masked(stub_bytes));
    EXPECT_TRUE(std::all_of(file.begin() + stub_bytes.size(), file.begin() + data.raw_pointer,
                            [](unsigned char byte) { return byte == 0; }))
        << "zeros up to the page the attached data starts on";

    PackOptions options;
    options.company = "Fernwick Studio";
    options.product = "Orrin Deck";
    options.version = "1.20.0.0";
    VersionTexts texts = resolve_image_metadata(options, "unused").version_texts;
    std::vector<Bytes> icons = default_icon_images();
    std::string manifest = launcher_manifest();

    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> expected;
    for (std::uint32_t i = 0; i < 7; ++i) {
        expected[{3, i + 1}] = icons[i];
    }
    expected[{14, 1}] = write_group_icon_directory(icons);
    expected[{16, 1}] = write_version_block(texts);
    expected[{24, 1}] = Bytes(manifest.begin(), manifest.end());

    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> found;
    for (const ResourceLeaf& leaf : read_resources(file, image)) {
        EXPECT_EQ(leaf.language, 0u) << leaf.type << "/" << leaf.id;
        found[{leaf.type, leaf.id}] = leaf.data;
    }
    EXPECT_EQ(found.size(), expected.size());
    for (const auto& [key, data] : expected) {
        EXPECT_EQ(found[key], data) << "type " << key.first << " id " << key.second;
    }
}

TEST_F(PackedImage, WindowedImageDiffersOnlyInItsSubsystem) {
    ASSERT_EQ(pack(out / "console.exe", {"-q"}).exit_status, 0);
    ToolResult windowed = pack(out / "windowed.exe", {"-q", "--windowed"});
    ASSERT_EQ(windowed.exit_status, 0) << windowed.err;
    Bytes console_bytes = read_file(out / "console.exe");
    Bytes windowed_bytes = read_file(out / "windowed.exe");
    PeImage console_image = parse_pe_image(console_bytes);
    EXPECT_EQ(console_image.subsystem, subsystem_windows_console);
    EXPECT_EQ(parse_pe_image(windowed_bytes).subsystem, subsystem_windows_gui);
    // Byte for byte the same but the two of the Subsystem field: the checksum, the one field
    // that could depend on it, stays 0.
    ASSERT_EQ(windowed_bytes.size(), console_bytes.size());
    std::size_t subsystem_field = console_image.optional_offset + 68;
    for (std::size_t at = 0; at < console_bytes.size(); ++at) {
        if (at != subsystem_field && at != subsystem_field + 1) {
            ASSERT_EQ(windowed_bytes[at], console_bytes[at]) << "at offset " << at;
        }
    }
    EXPECT_EQ(parse_pe_image(windowed_bytes).checksum, 0u);

    // The same around a ready block of attached data.
    ImageConstants constants = read_image_constants(console_bytes);
    write_file(out / "attached.bin", constants.attached_data);
    ASSERT_EQ(run_talvik_binary({"pack", "--attached-data", (out / "attached.bin").string(), "-o",
                                 (out / "rebuilt.exe").string(), "--company", "Fernwick Studio", "--product",
                                 "Orrin Deck", "--version", "1.20.0.0", "--windowed", "-q"})
                  .exit_status,
              0);
    EXPECT_EQ(read_file(out / "rebuilt.exe"), windowed_bytes);

    auto subsystem_line = [](const fs::path& image) {
        std::vector<std::string> lines = lines_of(run_talvik_binary({"list", image.string()}).out);
        return lines.size() > 4 ? lines[4] : "(no such line)";
    };
    EXPECT_EQ(subsystem_line(out / "console.exe"), "subsystem console");
    EXPECT_EQ(subsystem_line(out / "windowed.exe"), "subsystem windowed");
    // Only talvik's own two kinds are named; any other value shows as its number.
    Bytes native = console_bytes;
    native[subsystem_field] = 1;
    write_file(out / "native.exe", native);
    EXPECT_EQ(subsystem_line(out / "native.exe"), "subsystem other (1)");
}

TEST_F(PackedImage, ReuseCheckIsOneDescriptorFieldShownByList) {
    ASSERT_EQ(pack(out / "crc.exe", {"-q"}).exit_status, 0);
    ASSERT_EQ(pack(out / "metadata.exe", {"-q", "--reuse-check", "metadata"}).exit_status, 0);
    Bytes crc_bytes = read_file(out / "crc.exe");
    Bytes metadata_bytes = read_file(out / "metadata.exe");
    ASSERT_EQ(crc_bytes.size(), metadata_bytes.size());
    std::vector<std::size_t> differing;
    for (std::size_t at = 0; at < crc_bytes.size(); ++at) {
        if (crc_bytes[at] != metadata_bytes[at]) {
            differing.push_back(at);
        }
    }
    std::vector<std::size_t> descriptors = find_image_descriptors(crc_bytes, parse_pe_image(crc_bytes));
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(differing, std::vector<std::size_t>{descriptors[0] + offsetof(ImageDescriptor, reuse_check)});
    EXPECT_EQ(read_descriptor(metadata_bytes, descriptors[0]).reuse_check, reuse_check_metadata);
    EXPECT_EQ(read_descriptor(metadata_bytes, descriptors[0]).descriptor_size, image_descriptor_filled_size);

    auto reuse_line = [](const fs::path& image) {
        std::vector<std::string> lines = lines_of(run_talvik_binary({"list", image.string()}).out);
        return lines.size() > 6 ? lines[6] : "(no such line)";
    };
    EXPECT_EQ(reuse_line(out / "crc.exe"), "reuse     crc");
    EXPECT_EQ(reuse_line(out / "metadata.exe"), "reuse     metadata");
    // A writer from before the field filled in 56 bytes: the field is not read, so crc.
    Bytes older = metadata_bytes;
    patch_u32(older, descriptors[0] + offsetof(ImageDescriptor, descriptor_size), 56);
    write_file(out / "older.exe", older);
    EXPECT_EQ(reuse_line(out / "older.exe"), "reuse     crc");
    Bytes unknown = crc_bytes;
    patch_u32(unknown, descriptors[0] + offsetof(ImageDescriptor, reuse_check), 7);
    write_file(out / "unknown.exe", unknown);
    EXPECT_EQ(reuse_line(out / "unknown.exe"), "reuse     other (7, taken as crc)");
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

TEST_F(PackedImage, AttachedDataTakenAsItIs) {
    ASSERT_EQ(pack(out / "original.exe", {"-q"}).exit_status, 0);
    ImageConstants constants = read_image_constants(read_file(out / "original.exe"));
    write_file(out / "attached.bin", constants.attached_data);

    ToolResult rebuilt = run_talvik_binary({"pack", "--attached-data", (out / "attached.bin").string(), "-o",
                                            (out / "rebuilt.exe").string(), "--company", "Fernwick Studio",
                                            "--product", "Orrin Deck", "--version", "1.20.0.0"});
    ASSERT_EQ(rebuilt.exit_status, 0) << rebuilt.err;
    EXPECT_NE(rebuilt.err.find("around " + std::to_string(constants.attached_data.size()) + " bytes"),
              std::string::npos);
    EXPECT_EQ(read_file(out / "rebuilt.exe"), read_file(out / "original.exe"));

    // Any block of three bytes or more is taken; list then says what is wrong with it.
    write_file(out / "odd.bin", std::string("KAY"));
    ASSERT_EQ(run_talvik_binary({"pack", "--attached-data", (out / "odd.bin").string(), "-o",
                                 (out / "odd.exe").string(), "-q"})
                  .exit_status,
              0);
    ImageConstants odd = read_image_constants(read_file(out / "odd.exe"));
    EXPECT_EQ(odd.attached_data, (Bytes{'K', 'A', 'Y'}));
    EXPECT_EQ(odd.product_name, u"odd") << "product from the output name";
    expect_one_error_line(run_talvik_binary({"list", (out / "odd.exe").string()}),
                          "does not start with \"KAY\"");
}

TEST_F(PackedImage, GivenIconsAndOptions) {
    std::vector<std::string> extra = {"--template",
                                      "{TEMP}\\{Product}-{VERSION}",
                                      "--copyright",
                                      "© Fernwick",
                                      "--exe",
                                      "Orrin Deck.exe",
                                      "--level",
                                      "3",
                                      "--window-log",
                                      "20",
                                      "-q"};
    std::vector<Bytes> icons;
    for (std::uint32_t size : icon_sizes) {
        Bytes pixels(std::size_t{size} * size * 4, static_cast<unsigned char>(size));
        icons.push_back(encode_png_rgba(size, size, pixels));
        fs::path file = out / ("icon" + std::to_string(size) + ".png");
        write_file(file, icons.back());
        extra.insert(extra.begin(), {"--icon", file.string()});
    }
    ToolResult packed = pack(out / "image.exe", extra);
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    Bytes file = read_file(out / "image.exe");
    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> found;
    for (const ResourceLeaf& leaf : read_resources(file, parse_pe_image(file))) {
        found[{leaf.type, leaf.id}] = leaf.data;
    }
    for (std::uint32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(found[std::make_pair(3u, i + 1)], icons[i]) << icon_sizes[i];
    }
    EXPECT_EQ(found[std::make_pair(14u, 1u)], write_group_icon_directory(icons));
    ImageConstants constants = read_image_constants(file);
    EXPECT_EQ(constants.path_template, u"{TEMP}\\{Product}-{VERSION}");
    // The frame's window descriptor declares 2^20 (exponent 10 above the 2^10 base).
    ASSERT_GT(constants.attached_data.size(), 8u);
    EXPECT_EQ(constants.attached_data[3], 0x28);
    unsigned char descriptor = constants.attached_data[3 + 5];
    EXPECT_LE(descriptor >> 3, 10) << "window of at most 2^20";
}

TEST_F(PackedImage, LongPathsAreWarnedAbout) {
    // 43 units for {CACHE_DIR}, 4041 for the rest: names of 11 units still fit, "Z.txt" too.
    ToolResult packed = pack(out / "image.exe", {"--template", "{CACHE_DIR}\\" + std::string(4040, 'x')});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    std::vector<std::string> lines = lines_of(packed.err);
    ASSERT_GE(lines.size(), 2u) << packed.err;
    EXPECT_EQ(
        lines[0].rfind("talvik: warning: 4 name(s) may exceed the launcher's path limit of 4095 units", 0),
        0u)
        << lines[0];
    EXPECT_NE(lines[0].find("the longest: data\\numbers.txt"), std::string::npos) << lines[0];
}

TEST_F(PackedImage, ListFindsDamage) {
    ASSERT_EQ(pack(out / "image.exe", {"-q"}).exit_status, 0);
    Bytes image = read_file(out / "image.exe");
    std::string bytes(image.begin(), image.end());
    std::size_t descriptor = bytes.find("TALVIK-IMAGE-DSC");
    ASSERT_NE(descriptor, std::string::npos);
    ImageConstants constants = read_image_constants(image);
    std::size_t attached =
        bytes.find(std::string(constants.attached_data.begin(), constants.attached_data.end()));
    ASSERT_NE(attached, std::string::npos);
    std::size_t trailer = attached + constants.attached_data.size() - 8;

    struct Case {
        const char* what;
        std::size_t offset;
        const char* message;
    };
    const Case cases[] = {
        {"marker", descriptor + 3, "no talvik build constants"},
        {"template address", descriptor + offsetof(ImageDescriptor, path_template) + 3,
         "path template lies outside its sections"},
        {"version address", descriptor + offsetof(ImageDescriptor, version_string) + 2,
         "version string lies outside its sections"},
        {"attached data length", descriptor + offsetof(ImageDescriptor, attached_data_length) + 4,
         "attached data lies outside its sections"},
        {"header", attached + 1, "does not start with \"KAY\""},
        {"frame magic", attached + 3, "no whole zstd frame"},
        {"trailer count", trailer, "trailer count"},
        {"last frame byte", trailer - 3, "frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = image;
        damaged[c.offset] ^= 0x40;
        write_file(out / "damaged.exe", damaged);
        ToolResult listed = run_talvik_binary({"list", (out / "damaged.exe").string()});
        expect_one_error_line(listed, c.message);
    }
}

TEST_F(PackedImage, OutputInsideTheAppFolderIsNeverPacked) {
    // As in "cd app && talvik pack . -o Orrin-Deck-packed.exe", run again and again.
    fs::path image = app / "Orrin-Deck-packed.exe";
    ToolResult first = pack(image, {"-q"});
    ASSERT_EQ(first.exit_status, 0) << first.err;
    Bytes first_bytes = read_file(image);
    for (std::vector<std::string> extra :
         {std::vector<std::string>{"-q"}, {"-q", "--exe", "Orrin Deck.exe"}}) {
        ToolResult again = pack(image, extra);
        ASSERT_EQ(again.exit_status, 0) << again.err;
        EXPECT_EQ(read_file(image), first_bytes)
            << "neither the earlier image nor a temporary file is packed";
    }
    ToolResult listed = run_talvik_binary({"list", image.string()});
    ASSERT_EQ(listed.exit_status, 0) << listed.err;
    EXPECT_NE(listed.out.find("\n5 entries"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("packed"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find(".talvik-"), std::string::npos) << listed.out;
    EXPECT_EQ(files_below(app.path()).size(), 8u) << "no temporary file left";
}

TEST_F(PackedImage, OutputLinkLeadsToTheFileWritten) {
    write_file(out / "releases/orrin-1.20.exe", "an old build");
    fs::create_symlink("releases/orrin-1.20.exe", out / "latest.exe");
    ToolResult linked = pack(out / "latest.exe", {"-q"});
    ASSERT_EQ(linked.exit_status, 0) << linked.err;
    ASSERT_EQ(pack(out / "direct.exe", {"-q"}).exit_status, 0);
    EXPECT_TRUE(fs::is_symlink(out / "latest.exe")) << "the link stays";
    EXPECT_EQ(read_file(out / "releases/orrin-1.20.exe"), read_file(out / "direct.exe"));
    EXPECT_EQ(files_below(out / "releases"), std::vector<std::string>{"orrin-1.20.exe"});
}

TEST_F(PackedImage, ExcludesAndAShortVersion) {
    std::vector<std::string> args = {"pack",
                                     app.path().string(),
                                     "--output=" + (out / "image.exe").string(),
                                     "--product",
                                     "Orrin Deck",
                                     "--company",
                                     "Fernwick Studio",
                                     "--version",
                                     "1.02.3",
                                     "--exclude",
                                     "DATA/",
                                     "--exclude",
                                     "z.txt",
                                     "-q"};
    ToolResult packed = run_talvik_binary(args, {"TMPDIR=" + temp.path().string()});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    ToolResult listed = run_talvik_binary({"list", (out / "image.exe").string()});
    ASSERT_EQ(listed.exit_status, 0) << listed.err;
    std::vector<std::string> lines = lines_of(listed.out);
    ASSERT_EQ(lines.size(), 13u) << listed.out;
    EXPECT_EQ(lines[0], "template  {CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.2");
    EXPECT_EQ(lines[3], "version   1.2.3.0");
    EXPECT_TRUE(lines[10].ends_with("  Orrin Deck.exe")) << lines[10];
    EXPECT_TRUE(lines[11].ends_with("  ünïcode\\名前.txt")) << lines[11];

    Bytes file = read_file(out / "image.exe");
    PackOptions options;
    options.company = "Fernwick Studio";
    options.product = "Orrin Deck";
    options.version = "1.2.3.0";
    Bytes expected = write_version_block(resolve_image_metadata(options, "unused").version_texts);
    bool found = false;
    for (const ResourceLeaf& leaf : read_resources(file, parse_pe_image(file))) {
        if (leaf.type == 16) {
            found = leaf.data == expected;
        }
    }
    EXPECT_TRUE(found) << "the version block holds 1.2.3.0";
}

TEST_F(PackedImage, SummaryGivesTheImageSize) {
    ToolResult packed = pack(out / "image.exe");
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    std::string size = std::to_string(fs::file_size(out / "image.exe"));
    std::vector<std::string> lines = lines_of(packed.err);
    ASSERT_EQ(lines.size(), 1u) << packed.err;
    EXPECT_TRUE(lines[0].starts_with("talvik: packed 5 files, ")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("image.exe, " + size_text(std::stoull(size)) + " (" + size +
                                   " bytes), template {CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20"))
        << lines[0];
    EXPECT_EQ(packed.err.find("\r"), std::string::npos) << "no progress line off a terminal";
}

TEST_F(PackedImage, ProgressOnATerminalCoversEveryStep) {
    std::vector<std::string> args = {"pack", app.path().string(), "-o" + (out / "image.exe").string()};
    ToolResult packed = run_talvik_on_terminal(args, {"TMPDIR=" + temp.path().string()});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    const std::string& seen = packed.err;
    std::size_t scanning = seen.find("\rtalvik: scanning: ");
    std::size_t compressing = seen.find("\rtalvik: compressing 5/5 files, ");
    std::size_t writing = seen.find("\rtalvik: writing the image\033[K");
    std::size_t summary = seen.find("\r\033[Ktalvik: packed 5 files");
    EXPECT_NE(scanning, std::string::npos) << seen;
    EXPECT_LT(scanning, compressing) << seen;
    EXPECT_LT(compressing, writing) << seen;
    EXPECT_LT(writing, summary) << "the line is cleared before the summary: " << seen;
    EXPECT_NE(seen.find(" KiB of "), std::string::npos) << "binary units, named as such: " << seen;
    EXPECT_EQ(seen.find(" MB"), std::string::npos) << seen;

    ToolResult quiet =
        run_talvik_on_terminal({"pack", app.path().string(), "-o", (out / "quiet.exe").string(), "-q"},
                               {"TMPDIR=" + temp.path().string()});
    ASSERT_EQ(quiet.exit_status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
}

namespace {

// Packs a folder as a new user would, with no names given: what the image's template is and
// what the pack printed.
struct DefaultPack {
    ToolResult result;
    ImageConstants constants;
};

DefaultPack pack_with_defaults(const fs::path& folder, const fs::path& output,
                               std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"pack", folder.string(), "-o", output.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    DefaultPack packed{run_talvik_binary(args), {}};
    if (packed.result.exit_status == 0) {
        packed.constants = read_image_constants(read_file(output));
    }
    return packed;
}

std::string template_of(const DefaultPack& packed) {
    return utf16_to_utf8(packed.constants.path_template);
}

} // namespace

// Every npm package unpacks to a folder "package": the default template must keep two of
// them apart, and keep the same contents together.
TEST_F(PackedImage, DefaultTemplateWithoutVersionNamesTheContents) {
    fs::path first = app / "one/package";
    fs::path second = app / "two/package";
    for (const fs::path& folder : {first, second}) {
        write_file(folder / "app.exe", tiny_pe());
        write_file(folder / "data.txt", "the same start");
    }
    write_file(second / "data.txt", "other contents");

    DefaultPack a = pack_with_defaults(first, out / "a.exe");
    DefaultPack again = pack_with_defaults(first, out / "again.exe");
    DefaultPack b = pack_with_defaults(second, out / "b.exe");
    ASSERT_EQ(a.result.exit_status, 0) << a.result.err;
    ASSERT_EQ(again.result.exit_status, 0) << again.result.err;
    ASSERT_EQ(b.result.exit_status, 0) << b.result.err;

    std::string identity = identity_text(a.constants.attached_data_identity);
    EXPECT_EQ(template_of(a), "{CACHE_DIR}\\package\\package\\" + identity.substr(0, 12));
    EXPECT_EQ(template_of(again), template_of(a)) << "the same contents, the same folder";
    EXPECT_NE(template_of(b), template_of(a)) << "other contents, another folder";
    EXPECT_EQ(template_of(b), "{CACHE_DIR}\\package\\package\\" +
                                  identity_text(b.constants.attached_data_identity).substr(0, 12));
    EXPECT_EQ(utf16_to_utf8(a.constants.version_string), "1.0.0.0") << "the version stays the default";

    // The summary line names the template the image got; list shows the same.
    std::vector<std::string> lines = lines_of(a.result.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.front().ends_with(", template " + template_of(a))) << lines.front();
    ToolResult listed = run_talvik_binary({"list", (out / "a.exe").string()});
    EXPECT_EQ(lines_of(listed.out).at(0), "template  " + template_of(a));

    // With a version the template is the one it always was; with --template, the given one.
    DefaultPack versioned = pack_with_defaults(first, out / "versioned.exe", {"--version", "2.5.1"});
    ASSERT_EQ(versioned.result.exit_status, 0) << versioned.result.err;
    EXPECT_EQ(template_of(versioned), "{CACHE_DIR}\\package\\package\\2.5");
    DefaultPack given = pack_with_defaults(first, out / "given.exe", {"--template", "{TEMP}\\x"});
    ASSERT_EQ(given.result.exit_status, 0) << given.result.err;
    EXPECT_EQ(template_of(given), "{TEMP}\\x");
}

TEST_F(PackedImage, DefaultTemplateAroundReadyAttachedData) {
    ASSERT_EQ(pack(out / "original.exe", {"-q"}).exit_status, 0);
    ImageConstants original = read_image_constants(read_file(out / "original.exe"));
    write_file(out / "attached.bin", original.attached_data);
    ToolResult rebuilt = run_talvik_binary(
        {"pack", "--attached-data", (out / "attached.bin").string(), "-o", (out / "My App.exe").string()});
    ASSERT_EQ(rebuilt.exit_status, 0) << rebuilt.err;
    ImageConstants constants = read_image_constants(read_file(out / "My App.exe"));
    EXPECT_EQ(constants.attached_data_identity, original.attached_data_identity);
    std::string expected =
        "{CACHE_DIR}\\MyApp\\My-App\\" + identity_text(original.attached_data_identity).substr(0, 12);
    EXPECT_EQ(utf16_to_utf8(constants.path_template), expected);
    std::vector<std::string> lines = lines_of(rebuilt.err);
    ASSERT_EQ(lines.size(), 2u) << rebuilt.err;
    EXPECT_EQ(lines[1],
              "talvik: warning: no --product given: the product name is \"My App\", from the output's name; "
              "give --product to choose it");
    EXPECT_TRUE(lines[0].ends_with(", template " + expected)) << lines[0];
}

TEST_F(PackedImage, WarnsOnceWhenTheProductComesFromTheFolder) {
    write_file(app / "sub/My Tool/tool.exe", tiny_pe());
    DefaultPack named = pack_with_defaults(app / "sub/My Tool", out / "named.exe");
    ASSERT_EQ(named.result.exit_status, 0) << named.result.err;
    std::vector<std::string> lines = lines_of(named.result.err);
    ASSERT_EQ(lines.size(), 2u) << named.result.err;
    EXPECT_EQ(lines[1], "talvik: warning: no --product given: the product name is \"My Tool\", from the app "
                        "folder's name; give --product to choose it");
    EXPECT_TRUE(lines[0].starts_with("talvik: packed 1 files")) << lines[0];
    EXPECT_EQ(utf16_to_utf8(named.constants.product_name), "My Tool");

    // It follows the summary, so --quiet leaves it out too; with --product there is none.
    DefaultPack quiet = pack_with_defaults(app / "sub/My Tool", out / "quiet.exe", {"-q"});
    EXPECT_EQ(quiet.result.err, "");
    DefaultPack given = pack_with_defaults(app / "sub/My Tool", out / "given.exe", {"--product", "Tool"});
    ASSERT_EQ(given.result.exit_status, 0) << given.result.err;
    EXPECT_EQ(given.result.err.find("warning"), std::string::npos) << given.result.err;
}

// The stream is cut into jobs by size alone, so the number of workers cannot change a byte.
TEST_F(PackedImage, SameBytesForEveryThreadCount) {
    fs::path big = app / "big";
    write_file(big / "app.exe", tiny_pe());
    // Several compression jobs' worth of data that compresses, with repeats far apart.
    std::string chunk;
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < (std::size_t{1} << 20); ++i) {
        state = state * 1103515245u + 12345u;
        chunk += static_cast<char>('a' + (state >> 16) % 11);
    }
    for (std::size_t file = 0; file < 3 * compression_job_size / chunk.size(); ++file) {
        write_file(big / ("part" + std::to_string(file) + ".txt"),
                   chunk.substr(0, chunk.size() - file * 1000));
    }
    std::vector<Bytes> images;
    for (const char* threads : {"1", "2", "8"}) {
        fs::path image = out / (std::string("threads-") + threads + ".exe");
        ToolResult packed = run_talvik_binary({"pack", big.string(), "-o", image.string(), "--product", "Big",
                                               "--level", "1", "--threads", threads, "-q"});
        ASSERT_EQ(packed.exit_status, 0) << packed.err;
        images.push_back(read_file(image));
    }
    EXPECT_TRUE(images[0] == images[1]) << "1 and 2 threads";
    EXPECT_TRUE(images[0] == images[2]) << "1 and 8 threads";
    ToolResult listed = run_talvik_binary({"list", (out / "threads-8.exe").string()});
    EXPECT_EQ(listed.exit_status, 0) << listed.err;
}

// The launcher's settings are descriptor fields after the reuse check, each shown by list;
// the entry stream's length goes in whether the data comes from a folder or a ready block.
TEST_F(PackedImage, LauncherSettingsAreDescriptorFieldsShownByList) {
    ASSERT_EQ(pack(out / "default.exe", {"-q", "--windowed"}).exit_status, 0);
    ASSERT_EQ(pack(out / "chosen.exe",
                   {"-q", "--windowed", "--old-trees", "keep", "--child-outlives-launcher", "--no-progress"})
                  .exit_status,
              0);
    auto settings_lines = [](const fs::path& image) {
        std::vector<std::string> lines = lines_of(run_talvik_binary({"list", image.string()}).out);
        return lines.size() > 9 ? std::vector<std::string>(lines.begin() + 7, lines.begin() + 10)
                                : std::vector<std::string>{};
    };
    EXPECT_EQ(settings_lines(out / "default.exe"),
              (std::vector<std::string>{"old trees remove", "child     ends with the launcher",
                                        "progress  window when a start is slow"}));
    EXPECT_EQ(
        settings_lines(out / "chosen.exe"),
        (std::vector<std::string>{"old trees keep", "child     outlives the launcher", "progress  off"}));

    ImageConstants constants = read_image_constants(read_file(out / "default.exe"));
    std::vector<unsigned char> stream =
        build_entry_stream({{u"Orrin Deck.exe", app / "Orrin Deck.exe", {}},
                            {u"Z.txt", app / "Z.txt", {}},
                            {u"data\\empty.bin", app / "data/empty.bin", {}},
                            {u"data\\numbers.txt", app / "data/numbers.txt", {}},
                            {u"ünïcode\\名前.txt", app / "ünïcode/名前.txt", {}}});
    EXPECT_EQ(constants.entry_stream_length, stream.size());
    write_file(out / "block.bin", constants.attached_data);
    ASSERT_EQ(run_talvik_binary({"pack", "--attached-data", (out / "block.bin").string(), "-o",
                                 (out / "rebuilt.exe").string(), "-q"})
                  .exit_status,
              0);
    EXPECT_EQ(read_image_constants(read_file(out / "rebuilt.exe")).entry_stream_length, stream.size());

    // An image whose writer stopped before these fields keeps old trees, as images did before.
    Bytes older = read_file(out / "chosen.exe");
    std::vector<std::size_t> descriptors = find_image_descriptors(older, parse_pe_image(older));
    ASSERT_EQ(descriptors.size(), 1u);
    patch_u32(older, descriptors[0] + offsetof(ImageDescriptor, descriptor_size), 60);
    write_file(out / "older.exe", older);
    EXPECT_EQ(settings_lines(out / "older.exe"),
              (std::vector<std::string>{"old trees keep", "child     ends with the launcher",
                                        "progress  window when a start is slow"}));
}
