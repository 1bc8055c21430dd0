// The stub talvik carries, checked before anything is written: a damaged talvik binary
// refuses to pack.

#include "resources/byte_writer.hpp"
#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

TEST(EmbeddedStub, DamagedBinaryWritesNothing) {
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
