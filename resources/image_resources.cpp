#include "resources/image_resources.hpp"

#include "resources/icon_group.hpp"
#include "resources/manifest.hpp"
#include "resources/res_file.hpp"

namespace {
constexpr std::uint16_t resource_id = 1;
}

Bytes write_image_resources(const std::vector<Bytes>& icon_images, const VersionTexts& version) {
    std::vector<ResourceEntry> entries;
    for (std::size_t i = 0; i < icon_images.size(); ++i)
        entries.push_back(
            {rt_icon, static_cast<std::uint16_t>(i + 1), res_flags_moveable_discardable, icon_images[i]});
    entries.push_back({rt_group_icon, resource_id, res_flags_moveable_pure_discardable,
                       write_group_icon_directory(icon_images)});
    entries.push_back({rt_version, resource_id, res_flags_moveable_pure, write_version_block(version)});
    std::string manifest = launcher_manifest();
    entries.push_back(
        {rt_manifest, resource_id, res_flags_moveable_pure, Bytes(manifest.begin(), manifest.end())});
    return write_res_file(entries);
}
