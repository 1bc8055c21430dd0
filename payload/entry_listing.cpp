#include "payload/entry_listing.hpp"

#include "payload/format.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace {

// Any size works; the launcher's decode window has this one.
constexpr std::size_t decode_buffer_size = 131072;

template <typename Integer> Integer little_endian_at(const unsigned char* bytes) {
    Integer value = 0;
    for (std::size_t at = sizeof(Integer); at > 0; --at) {
        value = static_cast<Integer>(value << 8 | bytes[at - 1]);
    }
    return value;
}

// Pulls the decoded entry stream from the frame in pieces of any size.
class FrameStream {
  public:
    FrameStream(const unsigned char* frame, std::size_t size)
        : context_(ZSTD_createDCtx()), window_(decode_buffer_size) {
        if (context_ == nullptr) {
            throw std::runtime_error("out of memory");
        }
        input_ = {frame, size, 0};
    }
    ~FrameStream() { ZSTD_freeDCtx(context_); }
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    // Exactly size bytes, or std::runtime_error; each piece goes to take.
    template <typename Take> void read(std::uint64_t size, Take take) {
        while (size > 0) {
            if (window_start_ == window_end_ && !refill()) {
                throw std::runtime_error("the entry stream ends before its end marker");
            }
            std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, window_end_ - window_start_));
            take(window_.data() + window_start_, piece);
            window_start_ += piece;
            size -= piece;
        }
    }

    void read_into(unsigned char* destination, std::size_t size) {
        read(size, [&](const unsigned char* data, std::size_t piece) {
            std::memcpy(destination, data, piece);
            destination += piece;
        });
    }

    bool at_end() { return window_start_ == window_end_ && !refill(); }

  private:
    bool refill() {
        while (!frame_done_) {
            ZSTD_outBuffer output = {window_.data(), window_.size(), 0};
            std::size_t result = ZSTD_decompressStream(context_, &output, &input_);
            if (ZSTD_isError(result)) {
                throw std::runtime_error(std::string("the attached data's frame does not decode: ") +
                                         ZSTD_getErrorName(result));
            }
            frame_done_ = result == 0;
            if (!frame_done_ && output.pos == 0 && input_.pos == input_.size) {
                throw std::runtime_error("the attached data's frame is cut short");
            }
            if (output.pos > 0) {
                window_start_ = 0;
                window_end_ = output.pos;
                return true;
            }
        }
        return false;
    }

    ZSTD_DCtx* context_;
    ZSTD_inBuffer input_;
    std::vector<unsigned char> window_;
    std::size_t window_start_ = 0;
    std::size_t window_end_ = 0;
    bool frame_done_ = false;
};

void check_trailer(std::span<const unsigned char> block, std::size_t frame_size) {
    std::size_t count_offset = block.size() - attached_data_trailer_size;
    if (little_endian_at<std::uint64_t>(block.data() + count_offset) != count_offset) {
        throw std::runtime_error("the attached data's trailer count does not equal its offset");
    }
    if (count_offset % attached_data_alignment != 0 ||
        count_offset < attached_data_header_size + frame_size ||
        count_offset - attached_data_header_size - frame_size >= attached_data_alignment) {
        throw std::runtime_error("the attached data's padding after the frame is wrong");
    }
    for (std::size_t at = attached_data_header_size + frame_size; at < count_offset; ++at) {
        if (block[at] != 0) {
            throw std::runtime_error("the attached data's padding after the frame is not zero");
        }
    }
}

} // namespace

void list_attached_data(std::span<const unsigned char> block, const ListedEntryHandler& on_entry) {
    if (block.size() < attached_data_header_size + attached_data_trailer_size ||
        std::memcmp(block.data(), attached_data_header, attached_data_header_size) != 0) {
        throw std::runtime_error("the attached data does not start with \"KAY\"");
    }
    const unsigned char* frame = block.data() + attached_data_header_size;
    std::size_t available = block.size() - attached_data_header_size;
    std::size_t frame_size = ZSTD_findFrameCompressedSize(frame, available);
    if (ZSTD_isError(frame_size)) {
        throw std::runtime_error(std::string("the attached data holds no whole zstd frame: ") +
                                 ZSTD_getErrorName(frame_size));
    }
    check_trailer(block, frame_size);

    FrameStream stream(frame, frame_size);
    for (;;) {
        ListedEntry entry;
        for (;;) {
            unsigned char unit[2];
            stream.read_into(unit, sizeof unit);
            char16_t value = little_endian_at<char16_t>(unit);
            if (value == 0) {
                break;
            }
            entry.name += value;
        }
        if (entry.name.empty()) {
            break;
        }
        unsigned char fields[12];
        stream.read_into(fields, sizeof fields);
        entry.size = little_endian_at<std::uint64_t>(fields);
        entry.checksum = little_endian_at<std::uint32_t>(fields + 8);
        uLong crc = crc32(0, nullptr, 0);
        stream.read(entry.size, [&](const unsigned char* data, std::size_t size) {
            crc = crc32(crc, data, static_cast<uInt>(size));
        });
        entry.checksum_matches = checksum_from_crc(static_cast<std::uint32_t>(crc)) == entry.checksum;
        on_entry(entry);
    }
    if (!stream.at_end()) {
        throw std::runtime_error("the entry stream goes on after its end marker");
    }
}
