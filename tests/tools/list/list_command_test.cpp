// What talvik list prints of an image: its texts, subsystem, reuse check and entries, and
// the damage it finds.

#include "constants/image_descriptor.hpp"
#include "resources/byte_writer.hpp"
#include "tests/tools/packed_image.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/image/constants_reader.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstddef>
#include <cstdio>

namespace {

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
