// The version block, read back node by node and field by field.

#include "resources/byte_writer.hpp"
#include "resources/version_block.hpp"
#include "tests/resources/reference_texts.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
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
