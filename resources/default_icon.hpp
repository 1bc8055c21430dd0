#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>

// The project's own icon, drawn in code so that no binary image needs to be kept: a
// white "T" on a rounded teal square. Returns size * size RGBA pixels (straight alpha).
Bytes draw_default_icon(std::uint32_t size);
