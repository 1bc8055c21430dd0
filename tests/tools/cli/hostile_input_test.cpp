// talvik against input that someone made to hurt it: images and attached data that expand
// without end, files that are no files, names that leave the tree, and output streams that
// fail. Each case runs the built program, as a user or a CI script would.

#include "payload/producer.hpp"
#include "tests/tools/hostile_blocks.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_writer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

namespace fs = std::filesystem;

namespace {

// Far below what the faults cost (1.8 GB and 793 MB), far above what a bounded listing
// needs (the program, the attached data and a window of 2^20).
constexpr long resident_limit_kib = 64 << 10;

// An image around attached data that talvik pack would refuse: made with the image writer.
void write_image_around(const BlockBytes& block, const fs::path& output) {
    CheckedStub stub = checked_embedded_stub();
    ImagePlan plan = plan_image(stub, BuildTexts{u"{TEMP}\\hostile", u"Hostile", u"Hostile", u"1.0.0.0"}, {});
    write_image(plan, output, [&](const AttachedDataSink& sink) { sink(block.data(), block.size()); });
}

std::string quoted(const fs::path& path) {
    std::string text = "'";
    text += path.string();
    text += '\'';
    return text;
}

CompressionSettings quick() {
    CompressionSettings settings;
    settings.level = 1;
    settings.threads = 1;
    return settings;
}

} // namespace

// Names of 8,192 units expand 32,768-fold from RLE blocks; a listing that collected them
// took 1.8 GB. The first one is refused, as a launcher refuses it.
TEST(HostileImage, LongNamesAreRefusedWithinBoundedMemory) {
    ScratchFolder scratch;
    write_image_around(long_names_block(8192, 16384, 20), scratch / "names.exe");
    ToolResult listed = run_talvik_binary({"list", (scratch / "names.exe").string()});
    expect_one_error_line(listed, "entry 1's name is longer than the 1023 units a launcher takes");
    EXPECT_LT(listed.max_resident_kib, resident_limit_kib);
    EXPECT_EQ(lines_of(listed.out).size(), 10u) << "the constants, and no entry";

    // The longest name a launcher takes is listed.
    write_image_around(long_names_block(1023, 3, 20), scratch / "longest.exe");
    ToolResult longest = run_talvik_binary({"list", (scratch / "longest.exe").string()});
    EXPECT_EQ(longest.exit_status, 0) << longest.err;
    EXPECT_NE(longest.out.find("3 entries, 0 bytes"), std::string::npos) << longest.err;
}

// 2^24 entries from a frame of a few KiB: a listing that collected them took 793 MB.
// Listed as they decode, they cost no memory.
TEST(HostileImage, SixteenMillionEntriesAreListedWithinBoundedMemory) {
    ScratchFolder scratch;
    constexpr std::uint64_t entries = std::uint64_t{1} << 24;
    BlockBytes block = many_empty_entries_block(entries, 20);
    EXPECT_LT(block.size(), 64u << 10) << "a small frame";
    write_image_around(block, scratch / "many.exe");
    ToolResult listed = run_shell("{ \"$TALVIK\" list " + quoted(scratch / "many.exe") +
                                  "; echo \"status $?\" >&2; } | tail -n 2");
    EXPECT_EQ(listed.err, "status 0\n");
    EXPECT_EQ(listed.out, std::string(14 - 1, ' ') + "0  00000001  a\n" + std::to_string(entries) +
                              " entries, 0 bytes\n");
    EXPECT_LT(listed.max_resident_kib, resident_limit_kib);
}

TEST(HostileImage, WhatIsNoRegularFileIsRefusedAtOnce) {
    ScratchFolder scratch;
    ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0600), 0);
    fs::create_directories(scratch / "folder");
    // A sparse file one byte past the largest image talvik reads.
    { std::ofstream(scratch / "huge.exe").put('\0'); }
    fs::resize_file(scratch / "huge.exe", std::uint64_t{0x7FFFF000} + (16 << 20) + 1);

    const std::pair<fs::path, const char*> cases[] = {
        {"/dev/zero", "it is no regular file"},
        {scratch / "fifo", "it is no regular file"},
        {scratch / "folder", "it is no regular file"},
        {scratch / "missing.exe", "No such file or directory"},
        {scratch / "huge.exe", "it has 2164256769 bytes, more than the 2164256768 it may have"},
    };
    for (const auto& [path, message] : cases) {
        SCOPED_TRACE(path.string());
        ScratchFolder capture;
        RunningTool tool = start_talvik_binary({"list", path.string()}, {}, capture.path());
        // A FIFO without a writer would block an open or read for ever: a generous bound
        // turns that into a failure instead of a hang.
        bool ended = false;
        for (int waited_ms = 0; waited_ms < 30000 && !ended; waited_ms += 10) {
            siginfo_t info = {};
            // WNOWAIT: wait_for collects it below, with its memory use.
            ended = waitid(P_PID, static_cast<id_t>(tool.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                    info.si_pid == tool.pid;
            if (!ended) {
                usleep(10000);
            }
        }
        if (!ended) {
            kill(tool.pid, SIGKILL);
        }
        ToolResult result = wait_for(tool);
        ASSERT_TRUE(ended) << "still reading";
        expect_one_error_line(result, "cannot read the image " + path.string() + ": " + message);
        EXPECT_LT(result.max_resident_kib, resident_limit_kib);
    }
}

// A body that declares 2^62 bytes decodes 128 KiB from every 4 bytes of frame, for as long
// as the frame lasts. On a terminal the listing shows that it works, and Ctrl+C stops it.
TEST(HostileImage, EndlessBodyShowsProgressAndStopsOnCtrlC) {
    ScratchFolder scratch;
    // 2^20 blocks: 128 GiB to decode, minutes of work.
    write_image_around(endless_body_block(std::uint64_t{1} << 62, std::size_t{1} << 20),
                       scratch / "bomb.exe");
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    int program_side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(program_side, 0);
    ScratchFolder capture;
    RunningTool tool =
        start_talvik_binary({"list", (scratch / "bomb.exe").string()}, {}, capture.path(), program_side);
    std::string received;
    // Generous: the first report comes a tenth of a second after the decoding starts.
    for (int waited_ms = 0; waited_ms < 60000 && received.find("MiB") == std::string::npos; waited_ms += 50) {
        pollfd ready = {terminal, POLLIN, 0};
        if (poll(&ready, 1, 50) > 0) {
            char buffer[4096];
            ssize_t got = read(terminal, buffer, sizeof buffer);
            if (got > 0) {
                received.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    EXPECT_NE(received.find("\rtalvik: decoding: 0 entries, "), std::string::npos) << received;
    kill(tool.pid, SIGINT);
    ToolResult result = wait_for(tool);
    close(program_side);
    close(terminal);
    EXPECT_EQ(result.exit_status, -SIGINT);
    EXPECT_LT(result.max_resident_kib, resident_limit_kib);

    // Without a terminal the same block is decoded to its end, then refused.
    write_image_around(endless_body_block(std::uint64_t{1} << 62, 64), scratch / "short.exe");
    ToolResult refused = run_talvik_binary({"list", (scratch / "short.exe").string()});
    expect_one_error_line(refused, "the entry stream ends before its end marker");
    EXPECT_EQ(refused.err.find("decoding"), std::string::npos);
}

// Output that does not reach its stream is a failure, whichever command wrote it.
TEST(HostileOutput, FullOrClosedStandardOutputFailsTheCommand) {
    ScratchFolder scratch;
    BlockBytes block = build_attached_data({{u"app.exe", {}, tiny_pe()}, {u"data.txt", {}, "x"}}, quick());
    write_image_around(block, scratch / "image.exe");
    std::string image = quoted(scratch / "image.exe");
    for (const std::string& command : {"list " + image, std::string("--help"), std::string("--version"),
                                       std::string("help list"), std::string("pack --help")}) {
        SCOPED_TRACE(command);
        ToolResult ok = run_shell("exec \"$TALVIK\" " + command);
        EXPECT_EQ(ok.exit_status, 0) << ok.err;
        expect_one_error_line(run_shell("exec \"$TALVIK\" " + command + " > /dev/full"),
                              "cannot write to standard output");
        expect_one_error_line(run_shell("exec \"$TALVIK\" " + command + " >&-"),
                              "cannot write to standard output");
    }
    // A listing longer than the stream's buffer stops at the first failed write.
    BlockBytes many = many_empty_entries_block(100000, 20);
    write_image_around(many, scratch / "many.exe");
    expect_one_error_line(run_shell("exec \"$TALVIK\" list " + quoted(scratch / "many.exe") + " > /dev/full"),
                          "cannot write the listing");
    // pack prints its summary on standard error.
    fs::create_directories(scratch / "app");
    write_file(scratch / "app/app.exe", tiny_pe());
    ToolResult packed = run_shell("exec \"$TALVIK\" pack " + quoted(scratch / "app") + " -o " +
                                  quoted(scratch / "out.exe") + " 2> /dev/full");
    EXPECT_EQ(packed.exit_status, 1);
}

namespace {

class GivenAttachedData : public ::testing::Test {
  protected:
    ToolResult pack_around(const BlockBytes& block) {
        write_file(scratch / "block.bin", block);
        return run_talvik_binary({"pack", "--attached-data", (scratch / "block.bin").string(), "-o",
                                  (out / "image.exe").string(), "--product", "Given"});
    }
    ToolResult pack_around(const std::vector<PayloadSource>& sources) {
        return pack_around(build_attached_data(sources, quick()));
    }
    void expect_refused(const ToolResult& result, const std::string& message) {
        expect_one_error_line(result, "the attached data " + (scratch / "block.bin").string() +
                                          " is refused: " + message);
        EXPECT_EQ(files_below(out.path()), std::vector<std::string>{}) << "no output, no temporary file";
    }
    ScratchFolder scratch, out;
};

} // namespace

TEST_F(GivenAttachedData, BytesThatNoLauncherCouldUnpackAreRefused) {
    std::mt19937 random(26);
    BlockBytes noise(65536);
    for (unsigned char& byte : noise) {
        byte = static_cast<unsigned char>(random());
    }
    expect_refused(pack_around(noise), "the attached data does not start with \"KAY\"");
    BlockBytes kay_noise = noise;
    kay_noise[0] = 'K', kay_noise[1] = 'A', kay_noise[2] = 'Y';
    expect_refused(pack_around(kay_noise), "the attached data holds no whole zstd frame");
    expect_refused(pack_around(BlockBytes{'K', 'A', 'Y'}), "the attached data does not start with \"KAY\"");
    // A whole PE file: talvik's own launcher stub.
    std::span<const unsigned char> stub = embedded_stub_bytes();
    expect_refused(pack_around(BlockBytes(stub.begin(), stub.end())),
                   "the attached data does not start with \"KAY\"");

    BlockBytes good = build_attached_data({{u"app.exe", {}, tiny_pe()}}, quick());
    BlockBytes cut = good;
    cut.resize(cut.size() - 12);
    expect_refused(pack_around(cut), "the attached data holds no whole zstd frame");
    BlockBytes junk_after = good;
    junk_after.insert(junk_after.end() - 8, {1, 2, 3, 4, 5, 6, 7, 8});
    expect_refused(pack_around(junk_after), "the attached data's trailer count does not equal its offset");
    expect_refused(pack_around(endless_body_block(std::uint64_t{1} << 40, 16)),
                   "the entry stream ends before its end marker");
}

TEST_F(GivenAttachedData, EntriesThatNoLauncherWouldUnpackAreRefused) {
    for (const std::u16string& name :
         {std::u16string(u"..\\..\\x.txt"), std::u16string(u"C:x"), std::u16string(u"\\x"),
          std::u16string(u"a:b"), std::u16string(u"a\\\\b"), std::u16string(u"a/b")}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        expect_refused(pack_around({{u"app.exe", {}, tiny_pe()}, {name, {}, "escaped"}}),
                       "entry 2's name \"" + std::string(name.begin(), name.end()) +
                           "\" is one a launcher refuses");
        expect_refused(pack_around({{name, {}, tiny_pe()}}), "entry 1's name");
    }
    expect_refused(pack_around({{u"app.exe", {}, tiny_pe()}, {std::u16string(1024, u'n'), {}, "x"}}),
                   "entry 2's name is longer than the 1023 units a launcher takes");
    expect_refused(pack_around(BlockBytes(long_names_block(8192, 4096, 20))),
                   "entry 1's name is longer than the 1023 units");

    // A body that does not match its checksum: one bit of the last entry's stored CRC-32.
    std::vector<unsigned char> stream =
        build_entry_stream({{u"app.exe", {}, tiny_pe()}, {u"data.txt", {}, "x"}});
    stream[stream.size() - 2 - 1 - 4] ^= 1;
    std::vector<unsigned char> frame(ZSTD_compressBound(stream.size()));
    frame.resize(ZSTD_compress(frame.data(), frame.size(), stream.data(), stream.size(), 1));
    expect_refused(pack_around(wrap_attached_data(frame)), "1 entries do not match their checksum");
    expect_refused(pack_around(many_empty_entries_block(0, 20)), "it holds no entry");
}

TEST_F(GivenAttachedData, ValidBlockGetsItsDecodedLengthInTheDescriptor) {
    std::vector<PayloadSource> sources = {{u"app.exe", {}, tiny_pe()}, {u"data\\one.txt", {}, "one"}};
    ToolResult packed = pack_around(sources);
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    ImageConstants constants = read_image_constants(read_file(out / "image.exe"));
    EXPECT_EQ(constants.entry_stream_length, build_entry_stream(sources).size());
    EXPECT_EQ(constants.attached_data, read_file(scratch / "block.bin"));

    // 2^24 empty entries are a valid stream, checked within bounded memory too.
    ToolResult many = pack_around(many_empty_entries_block(std::uint64_t{1} << 24, 20));
    EXPECT_EQ(many.exit_status, 0) << many.err;
    EXPECT_LT(many.max_resident_kib, resident_limit_kib);
    EXPECT_EQ(read_image_constants(read_file(out / "image.exe")).entry_stream_length,
              (std::uint64_t{16} << 24) + 2);
}
