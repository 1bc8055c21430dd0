#include "tools/image_writer.hpp"

#include "resources/resource_section.hpp"
#include "tools/image_file.hpp"
#include "tools/report.hpp"

namespace fs = std::filesystem;

namespace {

std::string too_large(std::uint64_t limit) {
    return "the attached data is too large for a launcher image: at most " + std::to_string(limit) +
           " bytes fit, since a PE image stays below 2 GiB";
}

// Writes the image around the attached data that write_attached puts at the file's current
// position, returning its length.
ImageLayout write_image_around(const ImagePlan& plan, const fs::path& output,
                               const std::function<std::uint64_t(ImageFile&)>& write_attached) {
    const CheckedStub& stub = *plan.stub;
    ImageFile file(output);
    file.seek(attached_data_file_offset(stub.pe));
    std::uint64_t attached_length = write_attached(file);

    ImageLayout layout =
        lay_out_image(stub.pe, attached_length, plan.constants.bytes.size(), plan.resources_size);
    std::uint64_t constants_offset = layout.constants_rva - layout.data.virtual_address;
    file.write_zeros(constants_offset - attached_length);
    file.write(plan.constants.bytes);
    file.write_zeros(layout.data.raw_size - constants_offset - plan.constants.bytes.size());

    Bytes resources = write_resource_section(plan.resources, layout.resources.virtual_address);
    if (resources.size() != plan.resources_size)
        throw ToolError("internal: the resource section changed its size with its address");
    file.write(resources);
    file.write_zeros(layout.resources.raw_size - resources.size());

    Bytes start(stub.bytes.begin(), stub.bytes.end());
    rewrite_headers(start, stub.pe, layout);
    set_subsystem(start, stub.pe, plan.subsystem);
    write_descriptor(start, stub.descriptor_offset,
                     descriptor_fields(plan.constants, layout.constants_rva, layout.data.virtual_address,
                                       attached_length));
    file.seek(0);
    file.write(start);
    file.write_zeros(layout.data.raw_pointer - start.size());
    file.close();
    return layout;
}

} // namespace

ImagePlan plan_image(const CheckedStub& stub, const BuildTexts& texts, std::vector<ResourceEntry> resources) {
    ImagePlan plan;
    plan.stub = &stub;
    plan.constants = write_constants_block(texts);
    plan.resources = std::move(resources);
    // The section's size does not depend on where it goes, only the addresses inside it.
    plan.resources_size = write_resource_section(plan.resources, 0).size();
    plan.max_attached_data_length =
        max_attached_data_length(stub.pe, plan.constants.bytes.size(), plan.resources_size);
    return plan;
}

void check_attached_data_fits(const ImagePlan& plan, std::uint64_t length) {
    if (length > plan.max_attached_data_length)
        throw ToolError(too_large(plan.max_attached_data_length) + " (it has " + std::to_string(length) +
                        ")");
}

ImageLayout write_image(const ImagePlan& plan, const fs::path& output,
                        const AttachedDataWriter& write_attached) {
    return write_image_around(plan, output, [&](ImageFile& file) {
        std::uint64_t length = 0;
        write_attached([&](const unsigned char* data, std::size_t size) {
            if (size > plan.max_attached_data_length - length)
                throw ToolError(too_large(plan.max_attached_data_length));
            file.write(data, size);
            length += size;
        });
        return length;
    });
}

ImageLayout write_image(const ImagePlan& plan, const fs::path& output, const fs::path& attached_data_file) {
    return write_image_around(plan, output, [&](ImageFile& file) {
        std::uint64_t length =
            file.copy_from(attached_data_file, "the attached data", plan.max_attached_data_length);
        // The file grew after its size was checked.
        if (length > plan.max_attached_data_length)
            throw ToolError(too_large(plan.max_attached_data_length));
        return length;
    });
}
