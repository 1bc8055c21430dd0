#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>
#include <vector>

// The project's own icon, drawn in code so that no binary image needs to be kept: a
// white "T" on a rounded teal square. Returns size * size RGBA pixels (straight alpha).
Bytes draw_default_icon(std::uint32_t size);

// The icon drawn and encoded as PNG at each of the seven sizes of the icon group, in slot
// order. The build runs it once (talvik-default-icons) and talvik carries the result as
// its default_icon_images(), so that no pack spends the time to draw it again.
std::vector<Bytes> draw_default_icon_images();
