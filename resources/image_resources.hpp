#pragma once

#include "resources/byte_writer.hpp"
#include "resources/resource_entry.hpp"
#include "resources/version_block.hpp"

#include <vector>

// Everything the image's resource section holds, all with id 1 (icons 1 to 7) and the
// neutral language: the icon images in slot order (see icon_group.hpp), the group icon
// directory, the version block and the manifest.
std::vector<ResourceEntry> image_resource_entries(const std::vector<Bytes>& icon_images,
                                                  const VersionTexts& version);
