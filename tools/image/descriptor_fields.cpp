#include "tools/image/descriptor_fields.hpp"

#include "tools/host/tool_error.hpp"

#include <cstddef>
#include <cstring>

namespace {

std::uint32_t put_text(Bytes& out, std::u16string_view text) {
    std::uint32_t start = static_cast<std::uint32_t>(out.size());
    put_utf16z(out, text);
    return start;
}

} // namespace

ConstantsBlock write_constants_block(const BuildTexts& texts) {
    ConstantsBlock block;
    block.path_template = put_text(block.bytes, texts.path_template);
    block.company_name = put_text(block.bytes, texts.company_name);
    block.product_name = put_text(block.bytes, texts.product_name);
    block.version_string = put_text(block.bytes, texts.version_string);
    return block;
}

DescriptorFields descriptor_fields(const ConstantsBlock& constants, std::uint32_t constants_rva,
                                   std::uint32_t attached_data_rva, std::uint64_t attached_data_length,
                                   std::uint64_t attached_data_identity, const LauncherSettings& settings) {
    DescriptorFields fields;
    static_cast<LauncherSettings&>(fields) = settings;
    fields.descriptor_size = image_descriptor_filled_size;
    fields.path_template = constants_rva + constants.path_template;
    fields.company_name = constants_rva + constants.company_name;
    fields.product_name = constants_rva + constants.product_name;
    fields.version_string = constants_rva + constants.version_string;
    fields.attached_data = attached_data_rva;
    fields.attached_data_length = attached_data_length;
    fields.attached_data_identity = attached_data_identity;
    return fields;
}

std::vector<std::size_t> find_image_descriptors(std::span<const unsigned char> image, const PeImage& pe) {
    std::vector<std::size_t> found;
    for (const PeSection& section : pe.sections) {
        if (section.name != ".rdata") {
            continue;
        }
        // Raw data starts on a file-alignment boundary, so the descriptor's alignment in
        // memory holds in the file too.
        for (std::size_t offset = 0; offset + sizeof(ImageDescriptor) <= section.raw_size;
             offset += image_descriptor_alignment) {
            const unsigned char* candidate = image.data() + section.raw_pointer + offset;
            if (std::memcmp(candidate, image_descriptor_marker, sizeof image_descriptor_marker) == 0) {
                found.push_back(section.raw_pointer + offset);
            }
        }
    }
    return found;
}

DescriptorFields read_descriptor(std::span<const unsigned char> image, std::size_t offset) {
    if (offset + sizeof(ImageDescriptor) > image.size()) {
        throw ToolError("the image descriptor runs past the end of the file");
    }
    const unsigned char* base = image.data() + offset;
    DescriptorFields fields;
    fields.descriptor_size = get_u32(base + offsetof(ImageDescriptor, descriptor_size));
    fields.path_template = get_u32(base + offsetof(ImageDescriptor, path_template));
    fields.company_name = get_u32(base + offsetof(ImageDescriptor, company_name));
    fields.product_name = get_u32(base + offsetof(ImageDescriptor, product_name));
    fields.version_string = get_u32(base + offsetof(ImageDescriptor, version_string));
    fields.attached_data = get_u32(base + offsetof(ImageDescriptor, attached_data));
    fields.attached_data_length = get_u64(base + offsetof(ImageDescriptor, attached_data_length));
    if (fields.descriptor_size >= offsetof(ImageDescriptor, attached_data_identity) + sizeof(std::uint64_t)) {
        fields.attached_data_identity = get_u64(base + offsetof(ImageDescriptor, attached_data_identity));
    }
    // Fields are only added at the end: an older writer's image keeps the defaults for the rest.
    auto filled_in = [&](std::size_t offset, std::size_t size) {
        return fields.descriptor_size >= offset + size;
    };
    if (filled_in(offsetof(ImageDescriptor, reuse_check), sizeof(std::uint32_t))) {
        fields.reuse_check = get_u32(base + offsetof(ImageDescriptor, reuse_check));
    }
    if (filled_in(offsetof(ImageDescriptor, old_trees), sizeof(std::uint32_t))) {
        fields.old_trees = get_u32(base + offsetof(ImageDescriptor, old_trees));
    }
    if (filled_in(offsetof(ImageDescriptor, entry_stream_length), sizeof(std::uint64_t))) {
        fields.entry_stream_length = get_u64(base + offsetof(ImageDescriptor, entry_stream_length));
    }
    if (filled_in(offsetof(ImageDescriptor, child_lifetime), sizeof(std::uint32_t))) {
        fields.child_lifetime = get_u32(base + offsetof(ImageDescriptor, child_lifetime));
    }
    if (filled_in(offsetof(ImageDescriptor, progress_window), sizeof(std::uint32_t))) {
        fields.progress_window = get_u32(base + offsetof(ImageDescriptor, progress_window));
    }
    return fields;
}

void write_descriptor(std::span<unsigned char> image, std::size_t offset, const DescriptorFields& fields) {
    patch_u32(image, offset + offsetof(ImageDescriptor, descriptor_size), fields.descriptor_size);
    patch_u32(image, offset + offsetof(ImageDescriptor, path_template), fields.path_template);
    patch_u32(image, offset + offsetof(ImageDescriptor, company_name), fields.company_name);
    patch_u32(image, offset + offsetof(ImageDescriptor, product_name), fields.product_name);
    patch_u32(image, offset + offsetof(ImageDescriptor, version_string), fields.version_string);
    patch_u32(image, offset + offsetof(ImageDescriptor, attached_data), fields.attached_data);
    patch_u64(image, offset + offsetof(ImageDescriptor, attached_data_length), fields.attached_data_length);
    patch_u64(image, offset + offsetof(ImageDescriptor, attached_data_identity),
              fields.attached_data_identity);
    patch_u32(image, offset + offsetof(ImageDescriptor, reuse_check), fields.reuse_check);
    patch_u32(image, offset + offsetof(ImageDescriptor, old_trees), fields.old_trees);
    patch_u64(image, offset + offsetof(ImageDescriptor, entry_stream_length), fields.entry_stream_length);
    patch_u32(image, offset + offsetof(ImageDescriptor, child_lifetime), fields.child_lifetime);
    patch_u32(image, offset + offsetof(ImageDescriptor, progress_window), fields.progress_window);
}
