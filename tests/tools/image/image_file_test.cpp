// The output file's copies of the attached data: through the kernel or through memory.

#include "resources/byte_writer.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/image/image_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <thread>

namespace fs = std::filesystem;

TEST(ImageFile, CopiesThroughTheKernelOrThroughMemory) {
    ScratchFolder scratch;
    std::string data(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(11);
    for (char& byte : data) {
        byte = static_cast<char>(random());
    }
    write_file(scratch / "block.bin", data);
    auto copy = [&](const fs::path& source, std::uint64_t most) {
        ImageFile file(scratch / "image.bin");
        file.write_zeros(100);
        std::uint64_t copied = file.copy_from(source, "the attached data", most);
        file.close();
        return copied;
    };
    auto copied_bytes = [&] {
        Bytes image = read_file(scratch / "image.bin");
        return std::string(image.begin() + 100, image.end());
    };

    EXPECT_EQ(copy(scratch / "block.bin", data.size()), data.size());
    EXPECT_TRUE(copied_bytes() == data);
    EXPECT_EQ(copy(scratch / "block.bin", 1000), 1001u) << "no more than one byte past the most";
    EXPECT_EQ(copied_bytes().size(), 1001u);

    // The kernel does not copy out of a pipe: the copy goes through memory.
    ASSERT_EQ(mkfifo((scratch / "pipe").c_str(), 0600), 0);
    std::thread writer([&] { write_file(scratch / "pipe", data); });
    std::uint64_t from_pipe = copy(scratch / "pipe", data.size());
    writer.join();
    EXPECT_EQ(from_pipe, data.size());
    EXPECT_TRUE(copied_bytes() == data);

    EXPECT_NE(error_of([&] { copy(scratch / "missing.bin", 10); }).find("cannot read the attached data"),
              std::string::npos);
}
