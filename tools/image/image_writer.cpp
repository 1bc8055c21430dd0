#include "tools/image/image_writer.hpp"

#include "resources/resource_section.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/image_file.hpp"

#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string too_large(std::uint64_t limit) {
    return "the attached data is too large for a launcher image: at most " + std::to_string(limit) +
           " bytes fit, since a PE image stays below 2 GiB";
}

struct WrittenData {
    std::uint64_t length = 0;
    std::uint64_t identity = 0;
};

// Writes the image around the attached data that write_attached puts at the file's current
// position, returning its length and identity.
ImageLayout write_image_around(const ImagePlan& plan, const fs::path& output,
                               const std::function<WrittenData(ImageFile&)>& write_attached) {
    const CheckedStub& stub = *plan.stub;
    ImageFile file(output);
    file.seek(attached_data_file_offset(stub.pe));
    WrittenData attached = write_attached(file);
    std::uint64_t attached_length = attached.length;

    ConstantsBlock constants = write_constants_block(plan.texts(attached.identity));
    if (constants.bytes.size() != plan.constants.bytes.size()) {
        throw ToolError("internal: the constants changed their size with the attached data's identity");
    }
    ImageLayout layout = lay_out_image(stub.pe, attached_length, constants.bytes.size(), plan.resources_size);
    std::uint64_t constants_offset = layout.constants_rva - layout.data.virtual_address;
    file.write_zeros(constants_offset - attached_length);
    file.write(constants.bytes);
    file.write_zeros(layout.data.raw_size - constants_offset - constants.bytes.size());

    Bytes resources = write_resource_section(plan.resources, layout.resources.virtual_address);
    if (resources.size() != plan.resources_size) {
        throw ToolError("internal: the resource section changed its size with its address");
    }
    file.write(resources);
    file.write_zeros(layout.resources.raw_size - resources.size());

    Bytes start(stub.bytes.begin(), stub.bytes.end());
    rewrite_headers(start, stub.pe, layout);
    set_subsystem(start, stub.pe, plan.subsystem);
    write_descriptor(start, stub.descriptor_offset,
                     descriptor_fields(constants, layout.constants_rva, layout.data.virtual_address,
                                       attached_length, attached.identity, plan.settings));
    file.seek(0);
    file.write(start);
    file.write_zeros(layout.data.raw_pointer - start.size());
    file.close();
    layout.attached_data_identity = attached.identity;
    return layout;
}

} // namespace

ImagePlan plan_image(const CheckedStub& stub, ConstantTexts texts, std::vector<ResourceEntry> resources) {
    ImagePlan plan;
    plan.stub = &stub;
    plan.texts = std::move(texts);
    plan.constants = write_constants_block(plan.texts(0));
    plan.resources = std::move(resources);
    // The section's size does not depend on where it goes, only the addresses inside it.
    plan.resources_size = write_resource_section(plan.resources, 0).size();
    plan.max_attached_data_length =
        max_attached_data_length(stub.pe, plan.constants.bytes.size(), plan.resources_size);
    return plan;
}

ImagePlan plan_image(const CheckedStub& stub, const BuildTexts& texts, std::vector<ResourceEntry> resources) {
    return plan_image(
        stub, [texts](std::uint64_t) { return texts; }, std::move(resources));
}

void check_attached_data_fits(const ImagePlan& plan, std::uint64_t length) {
    if (length > plan.max_attached_data_length) {
        throw ToolError(too_large(plan.max_attached_data_length) + " (it has " + std::to_string(length) +
                        ")");
    }
}

ImageLayout write_image(const ImagePlan& plan, const fs::path& output,
                        const AttachedDataWriter& write_attached) {
    return write_image_around(plan, output, [&](ImageFile& file) {
        std::uint64_t length = 0;
        AttachedDataIdentity identity;
        write_attached([&](const unsigned char* data, std::size_t size) {
            if (size > plan.max_attached_data_length - length) {
                throw ToolError(too_large(plan.max_attached_data_length));
            }
            file.write(data, size);
            identity.add(data, size);
            length += size;
        });
        return WrittenData{length, identity.value()};
    });
}
