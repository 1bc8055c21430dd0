#pragma once

// Makes CRC-32 collisions for tests: any content followed by four chosen bytes can take any
// CRC-32, since the CRC of appended bytes is affine over GF(2) in those bytes.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>

inline std::uint32_t crc_of(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// The four bytes that, appended to prefix, give a CRC-32 of target.
inline std::string crc_forcing_suffix(const std::string& prefix, std::uint32_t target) {
    const uLong start = crc_of(prefix);
    auto crc_with = [start](std::uint32_t suffix) {
        unsigned char bytes[4] = {static_cast<unsigned char>(suffix), static_cast<unsigned char>(suffix >> 8),
                                  static_cast<unsigned char>(suffix >> 16),
                                  static_cast<unsigned char>(suffix >> 24)};
        return static_cast<std::uint32_t>(crc32(start, bytes, 4));
    };
    // Row i of the system: the effect of suffix bit i on the CRC, joined with that bit.
    const std::uint32_t base = crc_with(0);
    std::uint32_t effect[32];
    std::uint32_t bits[32];
    for (int i = 0; i < 32; ++i) {
        effect[i] = crc_with(std::uint32_t{1} << i) ^ base;
        bits[i] = std::uint32_t{1} << i;
    }
    // Gaussian elimination: make row r the only one with CRC bit r set.
    for (int r = 0; r < 32; ++r) {
        int pivot = r;
        while (pivot < 32 && !((effect[pivot] >> r) & 1)) {
            ++pivot;
        }
        if (pivot == 32) {
            return {};
        }
        std::swap(effect[r], effect[pivot]);
        std::swap(bits[r], bits[pivot]);
        for (int other = 0; other < 32; ++other) {
            if (other != r && ((effect[other] >> r) & 1)) {
                effect[other] ^= effect[r];
                bits[other] ^= bits[r];
            }
        }
    }
    std::uint32_t wanted = target ^ base;
    std::uint32_t suffix = 0;
    for (int r = 0; r < 32; ++r) {
        if ((wanted >> r) & 1) {
            suffix ^= bits[r];
        }
    }
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(suffix >> (8 * i));
    }
    return bytes;
}
