#pragma once

#include "resources/byte_writer.hpp"
#include "resources/version_block.hpp"

#include <vector>

// Everything the image's resource section holds, all with id 1 (icons 1 to 7) and the
// neutral language: the icon images in slot order (see icon_group.hpp), the version
// block and the manifest. Returns the .res file that windres turns into an object.
Bytes write_image_resources(const std::vector<Bytes>& icon_images, const VersionTexts& version);
