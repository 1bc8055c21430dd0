#include "resources/image_resources.hpp"

#include "resources/icon_group.hpp"
#include "resources/manifest.hpp"

namespace {
constexpr std::uint16_t resource_id = 1;
}

std::vector<ResourceEntry> image_resource_entries(const std::vector<Bytes>& icon_images,
                                                  const VersionTexts& version) {
    std::vector<ResourceEntry> entries;
    for (std::size_t i = 0; i < icon_images.size(); ++i) {
        entries.push_back({rt_icon, static_cast<std::uint16_t>(i + 1), icon_images[i]});
    }
    entries.push_back({rt_group_icon, resource_id, write_group_icon_directory(icon_images)});
    entries.push_back({rt_version, resource_id, write_version_block(version)});
    std::string manifest = launcher_manifest();
    entries.push_back({rt_manifest, resource_id, Bytes(manifest.begin(), manifest.end())});
    return entries;
}
