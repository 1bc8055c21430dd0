// The output as talvik pack writes it: nothing left behind when a write fails or a signal
// ends the run, and a link at the output's name followed to the file it leads to.

#include "tests/tools/packed_image.hpp"
#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace fs = std::filesystem;

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

TEST(PendingOutput, FailingWriteIsReported) {
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

TEST(PendingOutput, InterruptLeavesNothingBehind) {
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
