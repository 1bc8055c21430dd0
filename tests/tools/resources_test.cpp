// The image's three resources, read back field by field, and the resource section they go into.

#include "resources/default_icon.hpp"
#include "resources/icon_group.hpp"
#include "resources/image_resources.hpp"
#include "resources/manifest.hpp"
#include "resources/png.hpp"
#include "resources/resource_section.hpp"
#include "resources/version_block.hpp"
#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <string>
#include <vector>

namespace {

// One node of a version block: wLength, wValueLength, wType, key, value, children.
struct VersionNode {
    std::uint16_t length, value_length, type;
    std::u16string key;
    Bytes value;
    std::vector<VersionNode> children;
};

std::size_t align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

VersionNode parse_version_node(const Bytes& data, std::size_t start) {
    EXPECT_EQ(start % 4, 0u);
    VersionNode node{
        get_u16(&data.at(start)), get_u16(&data.at(start + 2)), get_u16(&data.at(start + 4)), {}, {}, {}};
    std::size_t end = start + node.length;
    EXPECT_LE(end, data.size());
    std::size_t at = start + 6;
    while (get_u16(&data.at(at)) != 0) {
        node.key += static_cast<char16_t>(get_u16(&data.at(at)));
        at += 2;
    }
    at = align4(at + 2);
    // Text values count bytes here (the NUL included); binary ones always did.
    std::size_t value_bytes = node.value_length;
    node.value.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + value_bytes));
    at += value_bytes;
    while (align4(at) < end) {
        VersionNode child = parse_version_node(data, align4(at));
        at = align4(at) + child.length;
        node.children.push_back(std::move(child));
    }
    EXPECT_EQ(at, end) << "children fill their parent exactly";
    return node;
}

std::u16string text_value(const VersionNode& node) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < node.value.size(); i += 2) {
        text += static_cast<char16_t>(get_u16(&node.value[i]));
    }
    EXPECT_EQ(text.back(), u'\0');
    text.pop_back();
    return text;
}

VersionTexts orrin_deck_texts() {
    VersionTexts texts;
    texts.version = {1, 20, 0, 0};
    texts.company_name = u"Fernwick Studio";
    texts.product_name = u"Orrin Deck";
    texts.file_description = u"Orrin Deck";
    texts.legal_copyright = u"Copyright (C) Fernwick Studio";
    texts.product_version = u"1.20.0.0";
    texts.file_version = u"1.20.0.0";
    texts.original_filename = u"Orrin-Deck.exe";
    texts.internal_name = u"Orrin-Deck";
    return texts;
}

} // namespace

TEST(VersionBlock, FieldsOfTheReferenceBuild) {
    Bytes block = write_version_block(orrin_deck_texts());
    VersionNode root = parse_version_node(block, 0);
    EXPECT_EQ(root.length, block.size());
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    EXPECT_EQ(root.type, 0);
    ASSERT_EQ(root.value_length, 52);
    const unsigned char* fixed = root.value.data();
    EXPECT_EQ(get_u32(fixed), 0xFEEF04BDu);
    EXPECT_EQ(get_u32(fixed + 4), 0x00010000u);
    EXPECT_EQ(get_u32(fixed + 8), 0x00010014u);  // file version 1.20
    EXPECT_EQ(get_u32(fixed + 12), 0u);          // .0.0
    EXPECT_EQ(get_u32(fixed + 16), 0x00010014u); // product version
    EXPECT_EQ(get_u32(fixed + 20), 0u);
    EXPECT_EQ(get_u32(fixed + 24), 0x3Fu); // flags mask
    EXPECT_EQ(get_u32(fixed + 28), 0u);    // flags
    EXPECT_EQ(get_u32(fixed + 32), 4u);    // VOS__WINDOWS32
    EXPECT_EQ(get_u32(fixed + 36), 1u);    // VFT_APP
    EXPECT_EQ(get_u32(fixed + 40), 0u);    // subtype
    EXPECT_EQ(get_u32(fixed + 44), 0u);    // date
    EXPECT_EQ(get_u32(fixed + 48), 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& string_file_info = root.children[0];
    EXPECT_EQ(string_file_info.key, u"StringFileInfo");
    EXPECT_EQ(string_file_info.type, 1);
    EXPECT_EQ(string_file_info.value_length, 0);
    ASSERT_EQ(string_file_info.children.size(), 1u);
    const VersionNode& table = string_file_info.children[0];
    EXPECT_EQ(table.key, u"000004b0");

    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"CompanyName", u"Fernwick Studio"},     {u"ProductName", u"Orrin Deck"},
        {u"FileDescription", u"Orrin Deck"},      {u"LegalCopyright", u"Copyright (C) Fernwick Studio"},
        {u"ProductVersion", u"1.20.0.0"},         {u"FileVersion", u"1.20.0.0"},
        {u"OriginalFilename", u"Orrin-Deck.exe"}, {u"InternalName", u"Orrin-Deck"},
    };
    ASSERT_EQ(table.children.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const VersionNode& string = table.children[i];
        EXPECT_EQ(string.key, expected[i].first);
        EXPECT_EQ(string.type, 1);
        EXPECT_EQ(string.value_length, (expected[i].second.size() + 1) * 2) << "bytes, NUL included";
        EXPECT_EQ(text_value(string), expected[i].second);
    }
    EXPECT_EQ(table.children[0].value_length, 32) << "\"Fernwick Studio\" and its NUL";

    const VersionNode& var_file_info = root.children[1];
    EXPECT_EQ(var_file_info.key, u"VarFileInfo");
    ASSERT_EQ(var_file_info.children.size(), 1u);
    const VersionNode& translation = var_file_info.children[0];
    EXPECT_EQ(translation.key, u"Translation");
    EXPECT_EQ(translation.type, 0);
    ASSERT_EQ(translation.value_length, 4);
    EXPECT_EQ(get_u16(&translation.value[0]), 0x0000);
    EXPECT_EQ(get_u16(&translation.value[2]), 0x04B0);
}

TEST(VersionBlock, OddAndEmptyTextsStayAligned) {
    VersionTexts texts = orrin_deck_texts();
    texts.version = {65535, 1, 2, 3};
    texts.company_name = u"Zürich 😀";
    texts.legal_copyright = u"";
    texts.internal_name = u"X";
    Bytes block = write_version_block(texts);
    VersionNode root = parse_version_node(block, 0);
    EXPECT_EQ(get_u32(root.value.data() + 8), 0xFFFF0001u);
    EXPECT_EQ(get_u32(root.value.data() + 12), 0x00020003u);
    const std::vector<VersionNode>& strings = root.children[0].children[0].children;
    EXPECT_EQ(text_value(strings[0]), u"Zürich 😀");
    EXPECT_EQ(strings[0].value_length, 20); // 9 units and the NUL
    EXPECT_EQ(strings[3].value_length, 2);
    EXPECT_EQ(text_value(strings[7]), u"X");
}

TEST(VersionBlock, TooLongTextsAreRefused) {
    VersionTexts texts = orrin_deck_texts();
    texts.legal_copyright = std::u16string(33000, u'c');
    EXPECT_THROW(write_version_block(texts), std::runtime_error);
}

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

namespace {

// Every element name in order, after checking that tags nest properly.
std::vector<std::string> element_names(const std::string& xml) {
    std::vector<std::string> names, open;
    std::size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        std::size_t end = xml.find('>', at);
        std::string tag = xml.substr(at + 1, end - at - 1);
        at = end;
        bool closing = tag[0] == '/';
        bool empty = tag.back() == '/';
        std::string name =
            tag.substr(closing ? 1 : 0, tag.find_first_of(" /", closing ? 1 : 0) - (closing ? 1 : 0));
        if (closing) {
            EXPECT_FALSE(open.empty());
            if (!open.empty()) {
                EXPECT_EQ(open.back(), name);
                open.pop_back();
            }
            continue;
        }
        names.push_back(name);
        if (!empty) {
            open.push_back(name);
        }
    }
    EXPECT_TRUE(open.empty());
    return names;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace

TEST(Manifest, HoldsExactlyTheSettings) {
    std::string manifest = launcher_manifest();
    EXPECT_EQ(manifest.find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(manifest.find("<?xml"), std::string::npos) << "no declaration";
    EXPECT_EQ(element_names(manifest),
              (std::vector<std::string>{
                  "asmv1:assembly", "asmv1:assemblyIdentity", "compat:compatibility", "compat:application",
                  "compat:supportedOS", "compat:supportedOS", "compat:supportedOS", "compat:supportedOS",
                  "compat:supportedOS", "asmv3:application", "asmv3:windowsSettings", "ws2016:longPathAware",
                  "asmv1:dependency", "asmv1:dependentAssembly", "asmv1:assemblyIdentity", "asmv3:trustInfo",
                  "asmv3:security", "asmv3:requestedPrivileges", "asmv3:requestedExecutionLevel"}));
    for (const char* part : {
             R"(xmlns:asmv1="urn:schemas-microsoft-com:asm.v1")",
             R"(xmlns:asmv3="urn:schemas-microsoft-com:asm.v3")",
             R"(xmlns:compat="urn:schemas-microsoft-com:compatibility.v1")",
             R"(xmlns:ws2016="http://schemas.microsoft.com/SMI/2016/WindowsSettings")",
             R"(<asmv1:assemblyIdentity type="win32" name="Mini" version="1.0.0.0"/>)",
             R"(Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}")",
             R"(Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}")",
             R"(Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}")",
             R"(Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}")",
             R"(Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")",
             R"(<ws2016:longPathAware>true</ws2016:longPathAware>)",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" )"
             R"(publicKeyToken="6595b64144ccf1df" language="*")",
             R"(<asmv3:requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
         }) {
        EXPECT_EQ(count(manifest, part), 1u) << part;
    }
}

TEST(ImageResources, EntriesOfTheImage) {
    std::vector<Bytes> icons = default_icon_images();
    VersionTexts texts = orrin_deck_texts();
    std::vector<ResourceEntry> entries = image_resource_entries(icons, texts);
    std::string manifest = launcher_manifest();
    std::vector<std::tuple<std::uint16_t, std::uint16_t, Bytes>> expected;
    for (std::uint16_t i = 0; i < 7; ++i) {
        expected.emplace_back(3, i + 1, icons[i]);
    }
    expected.emplace_back(14, 1, write_group_icon_directory(icons));
    expected.emplace_back(16, 1, write_version_block(texts));
    expected.emplace_back(24, 1, Bytes(manifest.begin(), manifest.end()));
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].type, std::get<0>(expected[i])) << i;
        EXPECT_EQ(entries[i].id, std::get<1>(expected[i])) << i;
        EXPECT_EQ(entries[i].data, std::get<2>(expected[i])) << i;
    }
}

TEST(ResourceSection, ReadsBackWhatItWrites) {
    // Given out of order, with data sizes that need padding between them.
    std::vector<ResourceEntry> entries = {
        {24, 1, {9}}, {3, 2, {4, 5, 6, 7, 8}}, {3, 1, {1, 2, 3}}, {16, 1, {}}};
    for (std::uint32_t section_rva : {0u, 0x8c000u, 0x7FFF0000u}) {
        SCOPED_TRACE(section_rva);
        Bytes section = write_resource_section(entries, section_rva);
        EXPECT_EQ(section.size() % 8, 0u);
        EXPECT_EQ(section, write_resource_section(entries, section_rva)) << "the same bytes every time";
        EXPECT_EQ(section.size(), write_resource_section(entries, 0).size()) << "the size does not move";
        std::vector<ResourceLeaf> leaves = read_resource_section(section, section_rva);
        ASSERT_EQ(leaves.size(), 4u);
        // Each level sorted by id: types 3, 16, 24; names 1, 2 under 3.
        const std::vector<std::pair<std::uint32_t, std::uint32_t>> order = {{3, 1}, {3, 2}, {16, 1}, {24, 1}};
        const std::vector<Bytes> data = {{1, 2, 3}, {4, 5, 6, 7, 8}, {}, {9}};
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            EXPECT_EQ(std::make_pair(leaves[i].type, leaves[i].id), order[i]) << i;
            EXPECT_EQ(leaves[i].language, 0u) << "neutral";
            EXPECT_EQ(leaves[i].data, data[i]) << i;
        }
        // Timestamps and versions of every directory table are zero.
        EXPECT_EQ(get_u32(&section[4]), 0u);
        EXPECT_EQ(get_u32(&section[8]), 0u);
    }
    EXPECT_THROW(write_resource_section({{3, 1, {1}}, {3, 1, {2}}}, 0), std::runtime_error);
    EXPECT_THROW(write_resource_section(entries, 0xFFFFFF00u), std::runtime_error) << "past 4 GiB";
}
