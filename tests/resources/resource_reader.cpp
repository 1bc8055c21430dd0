#include "tests/resources/resource_reader.hpp"

#include "resources/byte_writer.hpp"

#include <stdexcept>
#include <utility>

std::vector<ResourceLeaf> read_resource_section(std::span<const unsigned char> section,
                                                std::uint32_t section_rva) {
    auto at = [&](std::size_t offset, std::size_t size) {
        if (offset + size > section.size()) {
            throw std::runtime_error("the resource directory points past its section");
        }
        return section.data() + offset;
    };
    auto entries = [&](std::size_t table) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> list;
        std::size_t count = get_u16(at(table + 12, 2)) + get_u16(at(table + 14, 2));
        for (std::size_t i = 0; i < count; ++i) {
            list.emplace_back(get_u32(at(table + 16 + i * 8, 4)), get_u32(at(table + 20 + i * 8, 4)));
        }
        return list;
    };
    constexpr std::uint32_t subdirectory = 0x80000000;
    std::vector<ResourceLeaf> leaves;
    for (auto [type, names] : entries(0)) {
        for (auto [id, languages] : entries(names & ~subdirectory)) {
            for (auto [language, leaf] : entries(languages & ~subdirectory)) {
                const unsigned char* data_entry = at(leaf, 16);
                std::uint32_t rva = get_u32(data_entry), size = get_u32(data_entry + 4);
                if (rva < section_rva) {
                    throw std::runtime_error("resource data before its section");
                }
                const unsigned char* data = at(rva - section_rva, size);
                leaves.push_back({type, id, language, std::vector<unsigned char>(data, data + size)});
            }
        }
    }
    return leaves;
}
