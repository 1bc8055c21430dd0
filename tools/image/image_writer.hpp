#pragma once

#include "payload/producer.hpp"
#include "resources/resource_entry.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/pe_layout.hpp"
#include "tools/image/stub_check.hpp"

#include <filesystem>
#include <functional>
#include <vector>

// The texts of the constants for the identity of the attached data, which is known only once
// that is written (a template may name it). Their size must not depend on the identity: the
// block is planned with identity 0 and written with the real one.
using ConstantTexts = std::function<BuildTexts(std::uint64_t attached_data_identity)>;

// Everything of an image but its attached data, laid out as far as it can be before the
// attached data's length is known.
struct ImagePlan {
    const CheckedStub* stub = nullptr;
    ConstantTexts texts;
    ConstantsBlock constants; // as planned, with identity 0
    std::vector<ResourceEntry> resources;
    std::size_t resources_size = 0;
    std::uint64_t max_attached_data_length = 0;
    std::uint16_t subsystem = subsystem_windows_console; // or subsystem_windows_gui
    LauncherSettings settings;
};

ImagePlan plan_image(const CheckedStub& stub, ConstantTexts texts, std::vector<ResourceEntry> resources);
// Texts that do not depend on the identity.
ImagePlan plan_image(const CheckedStub& stub, const BuildTexts& texts, std::vector<ResourceEntry> resources);

// Throws ToolError when attached data of this length cannot fit in the image.
void check_attached_data_fits(const ImagePlan& plan, std::uint64_t length);

// Hands the attached data, in order, to the sink it is given.
using AttachedDataWriter = std::function<void(const AttachedDataSink& sink)>;

// Writes the image into output (emptied or made): the attached data
// straight to its place in the file as write_attached produces it, refused with ToolError the
// moment it passes the image's limit; then the constants for its identity after it, the resource section,
// and last the stub's bytes with their headers and descriptor filled in. Returns the layout.
ImageLayout write_image(const ImagePlan& plan, const std::filesystem::path& output,
                        const AttachedDataWriter& write_attached);
