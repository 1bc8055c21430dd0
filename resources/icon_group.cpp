#include "resources/icon_group.hpp"

#include "resources/png.hpp"

#include <optional>
#include <stdexcept>

namespace {

constexpr std::uint16_t icon_directory_type = 1;
constexpr std::uint16_t icon_bit_count = 32;
// A directory byte cannot hold 256; 0 stands for it.
constexpr std::uint32_t largest_byte_size = 255;

std::string sizes_text() {
    std::string text;
    for (std::uint32_t size : icon_sizes) {
        text += (text.empty() ? "" : ", ") + std::to_string(size);
    }
    return text;
}

} // namespace

std::vector<Bytes> arrange_icon_images(const std::vector<IconFile>& files) {
    if (files.size() != icon_sizes.size()) {
        throw std::runtime_error("--icon needs exactly " + std::to_string(icon_sizes.size()) +
                                 " PNG files, one for each size " + sizes_text() + " (got " +
                                 std::to_string(files.size()) + ")");
    }
    std::vector<std::optional<Bytes>> slots(icon_sizes.size());
    for (const IconFile& file : files) {
        std::optional<PngHeader> header = read_png_header(file.png);
        if (!header) {
            throw std::runtime_error("icon " + file.name + " is not a PNG file");
        }
        if (header->bit_depth != png_bit_depth_8 || header->colour_type != png_colour_type_rgba) {
            throw std::runtime_error("icon " + file.name + " is not 8-bit RGBA (PNG colour type 6)");
        }
        std::size_t slot = 0;
        while (slot < icon_sizes.size() &&
               !(header->width == icon_sizes[slot] && header->height == icon_sizes[slot])) {
            ++slot;
        }
        if (slot == icon_sizes.size()) {
            throw std::runtime_error("icon " + file.name + " is " + std::to_string(header->width) + "x" +
                                     std::to_string(header->height) +
                                     " pixels; icons must be square, sized " + sizes_text());
        }
        if (slots[slot]) {
            throw std::runtime_error("icon " + file.name + ": a second icon of " +
                                     std::to_string(icon_sizes[slot]) + " pixels");
        }
        slots[slot] = file.png;
    }
    std::vector<Bytes> images;
    for (std::optional<Bytes>& slot : slots) {
        images.push_back(std::move(*slot));
    }
    return images;
}

Bytes write_group_icon_directory(const std::vector<Bytes>& images) {
    if (images.size() != icon_sizes.size()) {
        throw std::invalid_argument("write_group_icon_directory: one image per icon size");
    }
    Bytes out;
    put_u16(out, 0); // reserved
    put_u16(out, icon_directory_type);
    put_u16(out, static_cast<std::uint16_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::uint32_t size = icon_sizes[i];
        std::uint8_t size_byte = size > largest_byte_size ? 0 : static_cast<std::uint8_t>(size);
        put_u8(out, size_byte); // width
        put_u8(out, size_byte); // height
        put_u8(out, 0);         // colour count
        put_u8(out, 0);         // reserved
        put_u16(out, 0);        // planes
        put_u16(out, icon_bit_count);
        put_u32(out, static_cast<std::uint32_t>(images[i].size()));
        put_u16(out, static_cast<std::uint16_t>(i + 1));
    }
    return out;
}
