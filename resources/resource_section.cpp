#include "resources/resource_section.hpp"

#include <map>
#include <stdexcept>

namespace {

constexpr std::uint32_t subdirectory_flag = 0x80000000;
constexpr std::size_t directory_header_size = 16;
constexpr std::size_t directory_entry_size = 8;
constexpr std::size_t data_entry_size = 16;
constexpr std::size_t data_alignment = 8;
constexpr std::uint16_t neutral_language = 0;

using Languages = std::map<std::uint16_t, const Bytes*>;
using Names = std::map<std::uint16_t, Languages>;
using Types = std::map<std::uint16_t, Names>;

void put_directory_header(Bytes& out, std::size_t id_entries) {
    put_u32(out, 0); // characteristics
    put_u32(out, 0); // time stamp
    put_u16(out, 0); // major version
    put_u16(out, 0); // minor version
    put_u16(out, 0); // named entries
    put_u16(out, static_cast<std::uint16_t>(id_entries));
}

std::size_t directory_size(std::size_t entries) {
    return directory_header_size + entries * directory_entry_size;
}

std::size_t aligned(std::size_t offset) {
    return (offset + data_alignment - 1) / data_alignment * data_alignment;
}

} // namespace

Bytes write_resource_section(const std::vector<ResourceEntry>& entries, std::uint32_t section_rva) {
    Types types;
    for (const ResourceEntry& entry : entries) {
        if (!types[entry.type][entry.id].emplace(neutral_language, &entry.data).second) {
            throw std::runtime_error("two resources with the same type and id");
        }
    }

    // Layout: root, the name-level tables, the language-level tables, data entries, data.
    std::size_t offset = directory_size(types.size());
    std::map<std::uint16_t, std::size_t> name_tables;
    for (const auto& [type, names] : types) {
        name_tables[type] = offset;
        offset += directory_size(names.size());
    }
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::size_t> language_tables;
    for (const auto& [type, names] : types) {
        for (const auto& [id, languages] : names) {
            language_tables[{type, id}] = offset;
            offset += directory_size(languages.size());
        }
    }
    std::size_t data_entries_start = offset;
    std::size_t data_offset = data_entries_start + entries.size() * data_entry_size;

    Bytes section;
    put_directory_header(section, types.size());
    for (const auto& [type, names] : types) {
        put_u32(section, type);
        put_u32(section, subdirectory_flag | static_cast<std::uint32_t>(name_tables[type]));
    }
    for (const auto& [type, names] : types) {
        put_directory_header(section, names.size());
        for (const auto& [id, languages] : names) {
            put_u32(section, id);
            put_u32(section, subdirectory_flag | static_cast<std::uint32_t>(language_tables[{type, id}]));
        }
    }
    std::size_t leaf = 0;
    for (const auto& [type, names] : types) {
        for (const auto& [id, languages] : names) {
            put_directory_header(section, languages.size());
            for (const auto& [language, data] : languages) {
                put_u32(section, language);
                put_u32(section, static_cast<std::uint32_t>(data_entries_start + leaf++ * data_entry_size));
            }
        }
    }

    std::vector<const Bytes*> blobs;
    for (const auto& [type, names] : types) {
        for (const auto& [id, languages] : names) {
            for (const auto& [language, data] : languages) {
                data_offset = aligned(data_offset);
                if (std::uint64_t{section_rva} + data_offset + data->size() > UINT32_MAX) {
                    throw std::runtime_error("the resources reach past the 32-bit address space of an image");
                }
                put_u32(section, static_cast<std::uint32_t>(section_rva + data_offset));
                put_u32(section, static_cast<std::uint32_t>(data->size()));
                put_u32(section, 0); // code page
                put_u32(section, 0); // reserved
                blobs.push_back(data);
                data_offset += data->size();
            }
        }
    }
    for (const Bytes* blob : blobs) {
        pad_to(section, data_alignment);
        put_bytes(section, *blob);
    }
    pad_to(section, data_alignment);
    return section;
}
