#include "resources/res_file.hpp"

#include <stdexcept>

namespace {

constexpr std::uint16_t ordinal_marker = 0xFFFF;
constexpr std::uint16_t neutral_language = 0;

void put_entry(Bytes& out, std::uint16_t type, std::uint16_t id, std::uint16_t memory_flags,
               const Bytes& data) {
    if (data.size() > UINT32_MAX)
        throw std::runtime_error("resource too large");
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    put_u32(out, res_header_size);
    put_u16(out, ordinal_marker);
    put_u16(out, type);
    put_u16(out, ordinal_marker);
    put_u16(out, id);
    put_u32(out, 0); // DataVersion
    put_u16(out, memory_flags);
    put_u16(out, neutral_language);
    put_u32(out, 0); // Version
    put_u32(out, 0); // Characteristics
    put_bytes(out, data);
    pad_to(out, 4);
}

} // namespace

Bytes write_res_file(const std::vector<ResourceEntry>& entries) {
    Bytes out;
    put_entry(out, 0, 0, 0, {});
    for (const ResourceEntry& entry : entries)
        put_entry(out, entry.type, entry.id, entry.memory_flags, entry.data);
    return out;
}
