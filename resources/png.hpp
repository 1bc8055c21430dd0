#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>
#include <optional>

// Icons are stored as PNG images of 8-bit RGBA pixels (colour type 6).
constexpr std::uint8_t png_bit_depth_8 = 8;
constexpr std::uint8_t png_colour_type_rgba = 6;

// A PNG of 8-bit RGBA pixels; rgba holds width * height * 4 bytes, rows top to bottom.
// The encoding is deterministic: the same pixels give the same bytes.
Bytes encode_png_rgba(std::uint32_t width, std::uint32_t height, const Bytes& rgba);

struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t bit_depth = 0;
    std::uint8_t colour_type = 0;
};

// The image header of a PNG file, or nothing if the bytes do not start with the PNG
// signature and a well-formed IHDR chunk (its CRC included).
std::optional<PngHeader> read_png_header(const Bytes& png);
