#include "resources/png.hpp"

#include <stdexcept>
#include <string_view>
#include <zlib.h>

namespace {

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t ihdr_data_size = 13;
constexpr unsigned char png_filter_none = 0;

void put_u32_be(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

std::uint32_t get_u32_be(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void put_chunk(Bytes& out, std::string_view type, const Bytes& data) {
    put_u32_be(out, static_cast<std::uint32_t>(data.size()));
    std::size_t type_start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    // The chunk CRC covers the type and the data, not the length.
    uLong crc = crc32(0, out.data() + type_start, static_cast<uInt>(out.size() - type_start));
    put_u32_be(out, static_cast<std::uint32_t>(crc));
}

} // namespace

Bytes encode_png_rgba(std::uint32_t width, std::uint32_t height, const Bytes& rgba) {
    std::size_t row_size = std::size_t{width} * 4;
    if (width == 0 || height == 0 || rgba.size() != row_size * height) {
        throw std::invalid_argument("encode_png_rgba: pixel count does not match the size");
    }

    Bytes filtered;
    filtered.reserve((row_size + 1) * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        filtered.push_back(png_filter_none);
        filtered.insert(filtered.end(), rgba.begin() + static_cast<std::ptrdiff_t>(y * row_size),
                        rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * row_size));
    }
    uLongf compressed_size = compressBound(static_cast<uLong>(filtered.size()));
    Bytes compressed(compressed_size);
    if (compress2(compressed.data(), &compressed_size, filtered.data(), static_cast<uLong>(filtered.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("zlib could not compress the icon pixels");
    }
    compressed.resize(compressed_size);

    Bytes header;
    put_u32_be(header, width);
    put_u32_be(header, height);
    header.push_back(png_bit_depth_8);
    header.push_back(png_colour_type_rgba);
    header.push_back(0); // compression: deflate
    header.push_back(0); // filter method: adaptive
    header.push_back(0); // no interlace

    Bytes png(std::begin(png_signature), std::end(png_signature));
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", compressed);
    put_chunk(png, "IEND", {});
    return png;
}

std::optional<PngHeader> read_png_header(const Bytes& png) {
    constexpr std::size_t ihdr_chunk_end = sizeof png_signature + 8 + ihdr_data_size + 4;
    if (png.size() < ihdr_chunk_end) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < sizeof png_signature; ++i) {
        if (png[i] != png_signature[i]) {
            return std::nullopt;
        }
    }
    const unsigned char* chunk = png.data() + sizeof png_signature;
    if (get_u32_be(chunk) != ihdr_data_size ||
        std::string_view(reinterpret_cast<const char*>(chunk + 4), 4) != "IHDR") {
        return std::nullopt;
    }
    uLong crc = crc32(0, chunk + 4, static_cast<uInt>(4 + ihdr_data_size));
    if (get_u32_be(chunk + 8 + ihdr_data_size) != static_cast<std::uint32_t>(crc)) {
        return std::nullopt;
    }
    const unsigned char* data = chunk + 8;
    PngHeader header;
    header.width = get_u32_be(data);
    header.height = get_u32_be(data + 4);
    header.bit_depth = data[8];
    header.colour_type = data[9];
    return header;
}
