#include "resources/res_object.hpp"

#include <map>
#include <stdexcept>

namespace {

constexpr std::uint16_t ordinal_marker = 0xFFFF;
constexpr std::uint16_t machine_amd64 = 0x8664;
constexpr std::uint16_t file_line_numbers_stripped = 0x0004;
constexpr std::size_t coff_header_size = 20;
constexpr std::size_t section_header_size = 40;
constexpr std::size_t relocation_size = 10;
// Initialised data, 4-byte aligned, readable and writable: as resource compilers mark .rsrc.
constexpr std::uint32_t rsrc_section_flags = 0xC0300040;
constexpr std::uint16_t rel_amd64_addr32nb = 3;
constexpr std::uint8_t sym_class_static = 3;
constexpr std::uint32_t subdirectory_flag = 0x80000000;
constexpr std::size_t directory_header_size = 16;
constexpr std::size_t directory_entry_size = 8;
constexpr std::size_t data_entry_size = 16;
constexpr std::size_t data_alignment = 8;

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

} // namespace

std::vector<ResourceEntry> read_res_file(const Bytes& res) {
    std::vector<ResourceEntry> entries;
    std::size_t at = 0;
    bool first = true;
    while (at < res.size()) {
        if (res.size() - at < res_header_size)
            throw std::runtime_error("cut .res entry header");
        const unsigned char* header = res.data() + at;
        std::uint32_t data_size = get_u32(header);
        std::uint32_t header_size = get_u32(header + 4);
        if (header_size != res_header_size || get_u16(header + 8) != ordinal_marker ||
            get_u16(header + 12) != ordinal_marker || get_u16(header + 22) != 0)
            throw std::runtime_error(".res entry without ordinal type and name in the neutral language");
        if (res.size() - at - header_size < data_size)
            throw std::runtime_error("cut .res entry data");
        ResourceEntry entry;
        entry.type = get_u16(header + 10);
        entry.id = get_u16(header + 14);
        entry.memory_flags = get_u16(header + 20);
        entry.data.assign(header + header_size, header + header_size + data_size);
        at += header_size + data_size;
        at += (4 - at % 4) % 4;
        // The first, empty entry only marks the file as 32-bit.
        if (!first || entry.type != 0 || !entry.data.empty())
            entries.push_back(std::move(entry));
        first = false;
    }
    return entries;
}

Bytes write_resource_object(const std::vector<ResourceEntry>& entries) {
    Types types;
    for (const ResourceEntry& entry : entries)
        if (!types[entry.type][entry.id].emplace(0, &entry.data).second)
            throw std::runtime_error("two resources with the same type and id");

    // Layout: root, the name-level tables, the language-level tables, data entries, data.
    std::size_t offset = directory_size(types.size());
    std::map<std::uint16_t, std::size_t> name_tables;
    for (const auto& [type, names] : types) {
        name_tables[type] = offset;
        offset += directory_size(names.size());
    }
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::size_t> language_tables;
    for (const auto& [type, names] : types)
        for (const auto& [id, languages] : names) {
            language_tables[{type, id}] = offset;
            offset += directory_size(languages.size());
        }
    std::size_t data_entries_start = offset;
    std::size_t leaf_count = entries.size();
    std::size_t data_offset = data_entries_start + leaf_count * data_entry_size;

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
    for (const auto& [type, names] : types)
        for (const auto& [id, languages] : names) {
            put_directory_header(section, languages.size());
            for (const auto& [language, data] : languages) {
                put_u32(section, language);
                put_u32(section, static_cast<std::uint32_t>(data_entries_start + leaf++ * data_entry_size));
            }
        }

    // Each data entry holds its data's offset in the section; the ADDR32NB relocation
    // against the section turns it into an address relative to the image base.
    std::vector<std::size_t> relocated_fields;
    std::vector<const Bytes*> blobs;
    for (const auto& [type, names] : types)
        for (const auto& [id, languages] : names)
            for (const auto& [language, data] : languages) {
                data_offset = (data_offset + data_alignment - 1) / data_alignment * data_alignment;
                relocated_fields.push_back(section.size());
                put_u32(section, static_cast<std::uint32_t>(data_offset));
                put_u32(section, static_cast<std::uint32_t>(data->size()));
                put_u32(section, 0); // code page
                put_u32(section, 0); // reserved
                blobs.push_back(data);
                data_offset += data->size();
            }
    for (const Bytes* blob : blobs) {
        pad_to(section, data_alignment);
        put_bytes(section, *blob);
    }
    pad_to(section, data_alignment);

    std::size_t raw_pointer = coff_header_size + section_header_size;
    std::size_t relocations_pointer = raw_pointer + section.size();
    std::size_t symbols_pointer = relocations_pointer + relocated_fields.size() * relocation_size;
    if (relocated_fields.size() > UINT16_MAX || symbols_pointer > UINT32_MAX)
        throw std::runtime_error("too many or too large resources for one object");

    Bytes object;
    put_u16(object, machine_amd64);
    put_u16(object, 1); // sections
    put_u32(object, 0); // time stamp
    put_u32(object, static_cast<std::uint32_t>(symbols_pointer));
    put_u32(object, 1); // symbols
    put_u16(object, 0); // optional header size
    put_u16(object, file_line_numbers_stripped);

    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    object.insert(object.end(), name, name + 8);
    put_u32(object, 0); // virtual size
    put_u32(object, 0); // virtual address
    put_u32(object, static_cast<std::uint32_t>(section.size()));
    put_u32(object, static_cast<std::uint32_t>(raw_pointer));
    put_u32(object, static_cast<std::uint32_t>(relocations_pointer));
    put_u32(object, 0); // line numbers
    put_u16(object, static_cast<std::uint16_t>(relocated_fields.size()));
    put_u16(object, 0); // line number count
    put_u32(object, rsrc_section_flags);

    put_bytes(object, section);
    for (std::size_t field : relocated_fields) {
        put_u32(object, static_cast<std::uint32_t>(field));
        put_u32(object, 0); // symbol 0: the section
        put_u16(object, rel_amd64_addr32nb);
    }
    object.insert(object.end(), name, name + 8);
    put_u32(object, 0); // value
    put_u16(object, 1); // section number
    put_u16(object, 0); // type
    put_u8(object, sym_class_static);
    put_u8(object, 0);  // auxiliary records
    put_u32(object, 4); // string table: just its own size
    return object;
}
