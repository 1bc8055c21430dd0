#include "tools/image_writer.hpp"

#include "resources/resource_section.hpp"
#include "tools/report.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string too_large(std::uint64_t limit) {
    return "the attached data is too large for a launcher image: at most " + std::to_string(limit) +
           " bytes fit, since a PE image stays below 2 GiB";
}

// Output with every failure reported at once, naming the file and the system's reason.
class ImageFile {
  public:
    explicit ImageFile(const fs::path& path) : path_(path), out_(path, std::ios::binary | std::ios::trunc) {
        check();
    }

    void seek(std::uint64_t offset) {
        out_.seekp(static_cast<std::streamoff>(offset));
        check();
    }

    void write(const unsigned char* data, std::size_t length) {
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
        check();
    }

    void write(const Bytes& bytes) { write(bytes.data(), bytes.size()); }

    void write_zeros(std::uint64_t count) {
        static const unsigned char zeros[4096] = {};
        while (count > 0) {
            std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros));
            write(zeros, piece);
            count -= piece;
        }
    }

    void close() {
        out_.close();
        check();
    }

  private:
    void check() {
        if (!out_) {
            int error = errno;
            throw ToolError("cannot write " + path_.string() +
                            (error != 0 ? ": " + std::string(std::strerror(error)) : ""));
        }
    }

    fs::path path_;
    std::ofstream out_;
};

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
    const CheckedStub& stub = *plan.stub;
    ImageFile file(output);

    std::uint64_t attached_length = 0;
    file.seek(attached_data_file_offset(stub.pe));
    write_attached([&](const unsigned char* data, std::size_t length) {
        if (length > plan.max_attached_data_length - attached_length)
            throw ToolError(too_large(plan.max_attached_data_length));
        file.write(data, length);
        attached_length += length;
    });

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
    write_descriptor(start, stub.descriptor_offset,
                     descriptor_fields(plan.constants, layout.constants_rva, layout.data.virtual_address,
                                       attached_length));
    file.seek(0);
    file.write(start);
    file.write_zeros(layout.data.raw_pointer - start.size());
    file.close();
    return layout;
}
