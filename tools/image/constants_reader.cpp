#include "tools/image/constants_reader.hpp"

#include "tools/host/tool_error.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/pe_file.hpp"

namespace {

// A text of the image at an RVA: UTF-16 up to its NUL, inside one section's file bytes.
std::u16string read_text(std::span<const unsigned char> image, const PeImage& pe, std::uint32_t rva,
                         const char* what) {
    std::span<const unsigned char> bytes = pe_bytes_from(image, pe, rva);
    std::u16string text;
    for (std::size_t at = 0;; at += 2) {
        if (rva % 2 != 0 || at + 2 > bytes.size()) {
            throw ToolError(std::string("the image's ") + what + " lies outside its sections");
        }
        char16_t unit = get_u16(bytes.data() + at);
        if (unit == 0) {
            return text;
        }
        text += unit;
    }
}

// Everything but the attached data, and where that lies in the image.
ImageConstants read_constants(std::span<const unsigned char> image,
                              std::span<const unsigned char>& attached) {
    PeImage pe = parse_pe_image(image);
    std::vector<std::size_t> descriptors = find_image_descriptors(image, pe);
    if (descriptors.empty()) {
        throw ToolError("no talvik build constants in this image (is it made by talvik pack?)");
    }
    DescriptorFields fields = read_descriptor(image, descriptors.front());
    if (fields.descriptor_size == 0) {
        throw ToolError("this is a bare launcher stub: it holds no build constants");
    }
    if (fields.descriptor_size < image_descriptor_first_size) {
        throw ToolError("the image's descriptor is too short (" + std::to_string(fields.descriptor_size) +
                        " bytes)");
    }
    ImageConstants constants;
    constants.path_template = read_text(image, pe, fields.path_template, "path template");
    constants.company_name = read_text(image, pe, fields.company_name, "company name");
    constants.product_name = read_text(image, pe, fields.product_name, "product name");
    constants.version_string = read_text(image, pe, fields.version_string, "version string");
    std::span<const unsigned char> bytes = pe_bytes_from(image, pe, fields.attached_data);
    if (fields.attached_data_length > bytes.size()) {
        throw ToolError("the image's attached data lies outside its sections");
    }
    attached = bytes.first(static_cast<std::size_t>(fields.attached_data_length));
    constants.attached_data_identity = fields.attached_data_identity;
    static_cast<LauncherSettings&>(constants) = fields;
    return constants;
}

} // namespace

ImageConstants read_image_constants(std::span<const unsigned char> image) {
    std::span<const unsigned char> attached;
    ImageConstants constants = read_constants(image, attached);
    constants.attached_data.assign(attached.begin(), attached.end());
    return constants;
}

ImageConstants read_image_constants(Bytes&& image) {
    std::span<const unsigned char> attached;
    ImageConstants constants = read_constants(image, attached);
    auto start = image.begin() + (attached.data() - image.data());
    image.erase(start + static_cast<std::ptrdiff_t>(attached.size()), image.end());
    image.erase(image.begin(), start);
    constants.attached_data = std::move(image);
    return constants;
}
