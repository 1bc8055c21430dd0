#pragma once

#include "resources/byte_writer.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The icon group holds one PNG per size, as RT_ICON ids 1 to 7 in this order.
constexpr std::array<std::uint32_t, 7> icon_sizes = {16, 24, 32, 48, 64, 128, 256};

struct IconFile {
    std::string name; // for messages
    Bytes png;
};

// The default icon at the seven sizes, in slot order: the PNGs that
// draw_default_icon_images (default_icon.hpp) made when talvik was built.
std::vector<Bytes> default_icon_images();

// Puts the given PNGs into the seven slots by their pixel size. There must be exactly
// one 8-bit RGBA square PNG for each of the seven sizes; scaling is left to the artist,
// so anything else throws std::runtime_error naming the file and the rule.
std::vector<Bytes> arrange_icon_images(const std::vector<IconFile>& files);

// The RT_GROUP_ICON data for images in slot order: the directory header and one entry
// per image naming its RT_ICON id (slot index + 1).
Bytes write_group_icon_directory(const std::vector<Bytes>& images);
