// The resource section: its directory read back to the data, the same bytes every time.

#include "resources/byte_writer.hpp"
#include "resources/resource_section.hpp"
#include "tests/resources/resource_reader.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

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
