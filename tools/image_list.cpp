#include "tools/image_list.hpp"

#include "tools/file_bytes.hpp"

#include "payload/format.hpp"
#include "resources/byte_writer.hpp"
#include "tools/constants_layout.hpp"
#include "tools/pe_file.hpp"
#include "tools/report.hpp"
#include "tools/text.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <zlib.h>
#include <zstd.h>

namespace {

std::uint64_t get_u64(const unsigned char* p) {
    return static_cast<std::uint64_t>(get_u32(p)) | static_cast<std::uint64_t>(get_u32(p + 4)) << 32;
}

struct SectionBytes {
    const unsigned char* data;
    std::size_t size;
};

std::u16string read_text(SectionBytes section, std::uint64_t offset, const char* what) {
    std::u16string text;
    for (std::uint64_t at = offset;; at += 2) {
        if (offset % 2 != 0 || at + 2 > section.size)
            throw ToolError(std::string("the image's ") + what + " runs past its section");
        char16_t unit = get_u16(section.data + at);
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

} // namespace

std::optional<ImageConstants> find_constants_in_section(const unsigned char* data, std::size_t size) {
    SectionBytes bytes{data, size};
    for (std::size_t at = 0; at + constants_index_size <= bytes.size; at += constants_index_alignment) {
        if (std::memcmp(bytes.data + at, constants_index_tag.data(), constants_index_tag.size()) != 0)
            continue;
        std::array<std::uint64_t, constants_index_slots> offsets;
        for (std::size_t slot = 0; slot < constants_index_slots; ++slot) {
            offsets[slot] = at + get_u64(bytes.data + at + constants_index_tag.size() + slot * 8);
            if (offsets[slot] >= bytes.size)
                throw ToolError("the image's constants index points past its section");
        }
        ImageConstants constants;
        constants.path_template = read_text(bytes, offsets[index_path_template], "path template");
        constants.company_name = read_text(bytes, offsets[index_company_name], "company name");
        constants.product_name = read_text(bytes, offsets[index_product_name], "product name");
        constants.version_string = read_text(bytes, offsets[index_version_string], "version string");
        if (offsets[index_attached_data_length] + 8 > bytes.size)
            throw ToolError("the image's attached data length runs past its section");
        std::uint64_t length = get_u64(bytes.data + offsets[index_attached_data_length]);
        std::uint64_t start = offsets[index_attached_data];
        if (length > bytes.size - start)
            throw ToolError("the image's attached data runs past its section");
        constants.attached_data.assign(bytes.data + start, bytes.data + start + length);
        return constants;
    }
    return std::nullopt;
}

ImageConstants read_image_constants(const std::vector<unsigned char>& image) {
    PeImage pe = parse_pe_image(image);
    for (const PeSection& section : pe.sections) {
        if (section.name != ".rdata")
            continue;
        if (std::optional<ImageConstants> constants =
                find_constants_in_section(image.data() + section.raw_pointer, section.raw_size))
            return std::move(*constants);
    }
    throw ToolError("no talvik build constants in this image (is it made by talvik pack?)");
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
        << "attached  " << constants.attached_data.size() << " bytes\n";
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
