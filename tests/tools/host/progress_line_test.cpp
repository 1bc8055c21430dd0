// The progress line of talvik pack on a terminal: every step, then the summary.

#include "tests/tools/packed_image.hpp"
#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>

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
