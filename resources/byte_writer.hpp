#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// Little-endian output and input for the Windows formats (resources, PE headers), which are
// all little-endian.
using Bytes = std::vector<unsigned char>;

inline void put_u8(Bytes& out, std::uint8_t value) {
    out.push_back(value);
}

inline void put_u16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

inline void put_u32(Bytes& out, std::uint32_t value) {
    put_u16(out, static_cast<std::uint16_t>(value));
    put_u16(out, static_cast<std::uint16_t>(value >> 16));
}

inline void put_bytes(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// UTF-16LE units followed by a 0x0000 terminator.
inline void put_utf16z(Bytes& out, std::u16string_view text) {
    for (char16_t unit : text) {
        put_u16(out, unit);
    }
    put_u16(out, 0);
}

inline void pad_to(Bytes& out, std::size_t alignment) {
    while (out.size() % alignment != 0) {
        out.push_back(0);
    }
}

inline void patch_u16(std::span<unsigned char> out, std::size_t offset, std::uint16_t value) {
    out[offset] = static_cast<unsigned char>(value);
    out[offset + 1] = static_cast<unsigned char>(value >> 8);
}

inline void patch_u32(std::span<unsigned char> out, std::size_t offset, std::uint32_t value) {
    patch_u16(out, offset, static_cast<std::uint16_t>(value));
    patch_u16(out, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void patch_u64(std::span<unsigned char> out, std::size_t offset, std::uint64_t value) {
    patch_u32(out, offset, static_cast<std::uint32_t>(value));
    patch_u32(out, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint16_t get_u16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t get_u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(get_u16(p)) | static_cast<std::uint32_t>(get_u16(p + 2)) << 16;
}

inline std::uint64_t get_u64(const unsigned char* p) {
    return static_cast<std::uint64_t>(get_u32(p)) | static_cast<std::uint64_t>(get_u32(p + 4)) << 32;
}
