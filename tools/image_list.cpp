#include "tools/image_list.hpp"

#include "tools/attached_data_identity.hpp"
#include "tools/file_bytes.hpp"

#include "payload/format.hpp"
#include "resources/byte_writer.hpp"
#include "tools/image_descriptor.hpp"
#include "tools/pe_file.hpp"
#include "tools/report.hpp"
#include "tools/text.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <zlib.h>
#include <zstd.h>

namespace {

// A text of the image at an RVA: UTF-16 up to its NUL, inside one section's file bytes.
std::u16string read_text(std::span<const unsigned char> image, const PeImage& pe, std::uint32_t rva,
                         const char* what) {
    std::span<const unsigned char> bytes = pe_bytes_from(image, pe, rva);
    std::u16string text;
    for (std::size_t at = 0;; at += 2) {
        if (rva % 2 != 0 || at + 2 > bytes.size())
            throw ToolError(std::string("the image's ") + what + " lies outside its sections");
        char16_t unit = get_u16(bytes.data() + at);
        if (unit == 0)
            return text;
        text += unit;
    }
}

// Any size works; the launcher's decode window has this one.
constexpr std::size_t decode_buffer_size = 131072;

// Pulls the decoded entry stream from the frame in pieces of any size. The context keeps
// zstd's default window limit of 2^27, as the launcher does, so list refuses what the
// launcher would refuse.
struct FrameStream {
    ZSTD_DCtx* context;
    ZSTD_inBuffer input;
    std::vector<unsigned char> window;
    std::size_t window_start = 0;
    std::size_t window_end = 0;
    bool frame_done = false;

    FrameStream(const unsigned char* frame, std::size_t size)
        : context(ZSTD_createDCtx()), window(decode_buffer_size) {
        if (!context)
            throw ToolError("out of memory");
        input = {frame, size, 0};
    }
    ~FrameStream() { ZSTD_freeDCtx(context); }
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    bool refill() {
        while (!frame_done) {
            ZSTD_outBuffer output = {window.data(), window.size(), 0};
            std::size_t result = ZSTD_decompressStream(context, &output, &input);
            if (ZSTD_isError(result))
                throw ToolError(std::string("the attached data's frame does not decode: ") +
                                ZSTD_getErrorName(result));
            frame_done = result == 0;
            if (!frame_done && output.pos == 0 && input.pos == input.size)
                throw ToolError("the attached data's frame is cut short");
            if (output.pos > 0) {
                window_start = 0;
                window_end = output.pos;
                return true;
            }
        }
        return false;
    }

    // Exactly size bytes, or ToolError; each piece goes to take.
    template <typename Take> void read(std::uint64_t size, Take take) {
        while (size > 0) {
            if (window_start == window_end && !refill())
                throw ToolError("the entry stream ends before its end marker");
            std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, window_end - window_start));
            take(window.data() + window_start, piece);
            window_start += piece;
            size -= piece;
        }
    }

    void read_into(unsigned char* destination, std::size_t size) {
        read(size, [&](const unsigned char* data, std::size_t piece) {
            std::memcpy(destination, data, piece);
            destination += piece;
        });
    }

    bool at_end() { return window_start == window_end && !refill(); }
};

void check_trailer(const std::vector<unsigned char>& block, std::size_t frame_size) {
    std::size_t count_offset = block.size() - 8;
    if (get_u64(block.data() + count_offset) != count_offset)
        throw ToolError("the attached data's trailer count does not equal its offset");
    if (count_offset % attached_data_alignment != 0 ||
        count_offset < attached_data_header_size + frame_size ||
        count_offset - attached_data_header_size - frame_size >= attached_data_alignment)
        throw ToolError("the attached data's padding after the frame is wrong");
    for (std::size_t i = attached_data_header_size + frame_size; i < count_offset; ++i)
        if (block[i] != 0)
            throw ToolError("the attached data's padding after the frame is not zero");
}

// What a launcher image's Subsystem field makes it; talvik writes only the first two.
std::string reuse_check_name(std::uint32_t reuse_check) {
    if (reuse_check == reuse_check_crc)
        return "crc";
    if (reuse_check == reuse_check_metadata)
        return "metadata";
    return "other (" + std::to_string(reuse_check) + ", taken as crc)";
}

std::string subsystem_name(std::uint16_t subsystem) {
    if (subsystem == subsystem_windows_console)
        return "console";
    if (subsystem == subsystem_windows_gui)
        return "windowed";
    return "other (" + std::to_string(subsystem) + ")";
}

} // namespace

ImageConstants read_image_constants(std::span<const unsigned char> image) {
    PeImage pe = parse_pe_image(image);
    std::vector<std::size_t> descriptors = find_image_descriptors(image, pe);
    if (descriptors.empty())
        throw ToolError("no talvik build constants in this image (is it made by talvik pack?)");
    DescriptorFields fields = read_descriptor(image, descriptors.front());
    if (fields.descriptor_size == 0)
        throw ToolError("this is a bare launcher stub: it holds no build constants");
    if (fields.descriptor_size < image_descriptor_first_size)
        throw ToolError("the image's descriptor is too short (" + std::to_string(fields.descriptor_size) +
                        " bytes)");
    ImageConstants constants;
    constants.path_template = read_text(image, pe, fields.path_template, "path template");
    constants.company_name = read_text(image, pe, fields.company_name, "company name");
    constants.product_name = read_text(image, pe, fields.product_name, "product name");
    constants.version_string = read_text(image, pe, fields.version_string, "version string");
    std::span<const unsigned char> bytes = pe_bytes_from(image, pe, fields.attached_data);
    if (fields.attached_data_length > bytes.size())
        throw ToolError("the image's attached data lies outside its sections");
    bytes = bytes.first(static_cast<std::size_t>(fields.attached_data_length));
    constants.attached_data.assign(bytes.begin(), bytes.end());
    constants.attached_data_identity = fields.attached_data_identity;
    constants.reuse_check = fields.reuse_check;
    return constants;
}

std::vector<ListedEntry> list_attached_data(const std::vector<unsigned char>& block) {
    constexpr std::size_t trailer_size = 8;
    if (block.size() < attached_data_header_size + trailer_size ||
        std::memcmp(block.data(), attached_data_header, attached_data_header_size) != 0)
        throw ToolError("the attached data does not start with \"KAY\"");
    const unsigned char* frame = block.data() + attached_data_header_size;
    std::size_t available = block.size() - attached_data_header_size;
    std::size_t frame_size = ZSTD_findFrameCompressedSize(frame, available);
    if (ZSTD_isError(frame_size))
        throw ToolError(std::string("the attached data holds no whole zstd frame: ") +
                        ZSTD_getErrorName(frame_size));
    check_trailer(block, frame_size);

    FrameStream stream(frame, frame_size);
    std::vector<ListedEntry> entries;
    while (true) {
        ListedEntry entry;
        while (true) {
            unsigned char unit[2];
            stream.read_into(unit, sizeof unit);
            char16_t value = get_u16(unit);
            if (value == 0)
                break;
            entry.name += value;
        }
        if (entry.name.empty())
            break;
        unsigned char fields[12];
        stream.read_into(fields, sizeof fields);
        entry.size = get_u64(fields);
        entry.checksum = get_u32(fields + 8);
        uLong crc = crc32(0, nullptr, 0);
        stream.read(entry.size, [&](const unsigned char* data, std::size_t size) {
            crc = crc32(crc, data, static_cast<uInt>(size));
        });
        entry.checksum_matches = checksum_from_crc(static_cast<std::uint32_t>(crc)) == entry.checksum;
        entries.push_back(std::move(entry));
    }
    if (!stream.at_end())
        throw ToolError("the entry stream goes on after its end marker");
    return entries;
}

void list_image(const std::filesystem::path& image_file, std::ostream& out) {
    Bytes image = read_file_bytes(image_file, "the image");
    ImageConstants constants = read_image_constants(image);
    std::vector<ListedEntry> entries = list_attached_data(constants.attached_data);

    out << "template  " << shown_name(constants.path_template) << "\n"
        << "company   " << shown_name(constants.company_name) << "\n"
        << "product   " << shown_name(constants.product_name) << "\n"
        << "version   " << shown_name(constants.version_string) << "\n"
        << "subsystem " << subsystem_name(parse_pe_image(image).subsystem) << "\n"
        << "attached  " << constants.attached_data.size() << " bytes, identity "
        << (constants.attached_data_identity == 0 ? std::string("none")
                                                  : identity_text(constants.attached_data_identity))
        << "\n"
        << "reuse     " << reuse_check_name(constants.reuse_check) << "\n";
    std::uint64_t total = 0;
    std::size_t mismatches = 0;
    char line[64];
    for (const ListedEntry& entry : entries) {
        std::snprintf(line, sizeof line, "%14" PRIu64 "  %08" PRIx32 "%s  ", entry.size, entry.checksum,
                      entry.checksum_matches ? "" : "!");
        out << line << shown_name(entry.name) << "\n";
        total += entry.size;
        mismatches += entry.checksum_matches ? 0 : 1;
    }
    out << entries.size() << (entries.size() == 1 ? " entry, " : " entries, ") << total << " bytes\n";
    out.flush();
    if (mismatches > 0)
        throw ToolError(std::to_string(mismatches) + " entries (marked !) do not match their checksum");
}
