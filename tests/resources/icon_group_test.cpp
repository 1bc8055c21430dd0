// The icon group: the default icon's images, the group directory, and given icons in their
// slots or refused.

#include "resources/byte_writer.hpp"
#include "resources/default_icon.hpp"
#include "resources/icon_group.hpp"
#include "resources/png.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

TEST(IconGroup, DefaultImagesArePngOfEachSize) {
    std::vector<Bytes> images = default_icon_images();
    ASSERT_EQ(images.size(), 7u);
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::uint32_t size = icon_sizes[i];
        std::optional<PngHeader> header = read_png_header(images[i]);
        ASSERT_TRUE(header) << size;
        EXPECT_EQ(header->width, size);
        EXPECT_EQ(header->height, size);
        EXPECT_EQ(header->bit_depth, 8);
        EXPECT_EQ(header->colour_type, 6);
        // The IDAT chunk inflates to one filter byte and size RGBA pixels per row.
        const Bytes& png = images[i];
        std::size_t idat_length = (png[33] << 24) | (png[34] << 16) | (png[35] << 8) | png[36];
        ASSERT_EQ(std::string(png.begin() + 37, png.begin() + 41), "IDAT");
        Bytes raw((std::size_t{size} * 4 + 1) * size + 1);
        uLongf raw_size = raw.size();
        ASSERT_EQ(uncompress(raw.data(), &raw_size, png.data() + 41, idat_length), Z_OK);
        EXPECT_EQ(raw_size, (std::size_t{size} * 4 + 1) * size);
        // A corner is transparent, the middle opaque.
        EXPECT_EQ(raw[1 + 3], 0) << size;
        std::size_t middle_row = size / 2 * (size * 4 + 1);
        EXPECT_EQ(raw[middle_row + 1 + size / 2 * 4 + 3], 255) << size;
    }
    EXPECT_EQ(draw_default_icon_images(), images) << "what talvik carries is the icon drawn now";
    EXPECT_EQ(draw_default_icon_images(), draw_default_icon_images()) << "drawn the same every time";
}

TEST(IconGroup, DirectoryEntries) {
    std::vector<Bytes> images = default_icon_images();
    Bytes directory = write_group_icon_directory(images);
    ASSERT_EQ(directory.size(), 6u + 7 * 14);
    EXPECT_EQ(get_u16(&directory[0]), 0);
    EXPECT_EQ(get_u16(&directory[2]), 1);
    EXPECT_EQ(get_u16(&directory[4]), 7);
    const unsigned expected_size_bytes[7] = {16, 24, 32, 48, 64, 128, 0};
    for (std::size_t i = 0; i < 7; ++i) {
        const unsigned char* entry = &directory[6 + i * 14];
        EXPECT_EQ(entry[0], expected_size_bytes[i]) << "width of " << i;
        EXPECT_EQ(entry[1], expected_size_bytes[i]) << "height of " << i;
        EXPECT_EQ(entry[2], 0) << "colour count";
        EXPECT_EQ(entry[3], 0) << "reserved";
        EXPECT_EQ(get_u16(entry + 4), 0) << "planes";
        EXPECT_EQ(get_u16(entry + 6), 32) << "bit count";
        EXPECT_EQ(get_u32(entry + 8), images[i].size());
        EXPECT_EQ(get_u16(entry + 12), i + 1) << "RT_ICON id";
    }
}

namespace {

// A PNG with only its header chunk: enough for the checks on given icons.
Bytes png_header_only(std::uint32_t width, std::uint32_t height, std::uint8_t depth,
                      std::uint8_t colour_type) {
    Bytes png = encode_png_rgba(1, 1, Bytes(4, 0));
    png[16] = width >> 24, png[17] = width >> 16, png[18] = width >> 8, png[19] = width;
    png[20] = height >> 24, png[21] = height >> 16, png[22] = height >> 8, png[23] = height;
    png[24] = depth, png[25] = colour_type;
    uLong crc = crc32(0, png.data() + 12, 17);
    png[29] = crc >> 24, png[30] = crc >> 16, png[31] = crc >> 8, png[32] = crc;
    return png;
}

std::vector<IconFile> seven_icons() {
    std::vector<IconFile> files;
    // Given out of order on purpose: slots follow the pixel size.
    for (std::uint32_t size : {256, 16, 64, 24, 128, 48, 32}) {
        files.push_back({std::to_string(size) + ".png", png_header_only(size, size, 8, 6)});
    }
    return files;
}

} // namespace

TEST(IconGroup, GivenIconsGoToTheirSlots) {
    std::vector<Bytes> images = arrange_icon_images(seven_icons());
    ASSERT_EQ(images.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(read_png_header(images[i])->width, icon_sizes[i]);
    }
}

TEST(IconGroup, GivenIconsThatBreakTheRule) {
    struct Case {
        const char* what;
        std::vector<IconFile> files;
        const char* message;
    };
    std::vector<Case> cases;
    {
        std::vector<IconFile> files = seven_icons();
        files.pop_back();
        cases.push_back({"six icons", files, "exactly 7"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[2].png = Bytes{'G', 'I', 'F', '8', '9', 'a'};
        cases.push_back({"not a PNG", files, "64.png is not a PNG"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[1].png = png_header_only(16, 16, 8, 2);
        cases.push_back({"RGB without alpha", files, "16.png is not 8-bit RGBA"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[1].png = png_header_only(16, 16, 16, 6);
        cases.push_back({"16-bit RGBA", files, "not 8-bit RGBA"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[0].png = png_header_only(255, 255, 8, 6);
        cases.push_back({"size not among the seven", files, "is 255x255 pixels"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[0].png = png_header_only(256, 128, 8, 6);
        cases.push_back({"not square", files, "is 256x128 pixels"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[0].png = png_header_only(16, 16, 8, 6);
        cases.push_back({"two of one size", files, "a second icon of 16 pixels"});
    }
    {
        std::vector<IconFile> files = seven_icons();
        files[3].png[30] ^= 1;
        cases.push_back({"header CRC wrong", files, "24.png is not a PNG"});
    }
    for (const Case& c : cases) {
        try {
            arrange_icon_images(c.files);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << c.what << ": " << error.what();
        }
    }
}
