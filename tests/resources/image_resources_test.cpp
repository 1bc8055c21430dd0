// The resources an image gets, in order: icons, icon group, version block and manifest.

#include "resources/byte_writer.hpp"
#include "resources/icon_group.hpp"
#include "resources/image_resources.hpp"
#include "resources/manifest.hpp"
#include "resources/version_block.hpp"
#include "tests/resources/reference_texts.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

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
