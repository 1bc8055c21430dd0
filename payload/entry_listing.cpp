#include "payload/entry_listing.hpp"

#include "payload/entry_name_check.hpp"
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

// A name for a message, as UTF-8 (the caller escapes what a line cannot show); a unit of
// half a surrogate pair shows as U+FFFD.
std::string utf8_of(const std::u16string& name) {
    std::string text;
    for (std::size_t at = 0; at < name.size(); ++at) {
        char32_t code = name[at];
        if (code >= 0xD800 && code < 0xDC00 && at + 1 < name.size() && name[at + 1] >= 0xDC00 &&
            name[at + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (name[++at] - 0xDC00);
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

// Pulls the decoded entry stream from the frame in pieces of any size.
class FrameStream {
  public:
    FrameStream(const unsigned char* frame, std::size_t size, const DecodeProgress& progress)
        : context_(ZSTD_createDCtx()), window_(decode_buffer_size), progress_(progress) {
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
            consumed_ += piece;
        }
    }

    void read_into(unsigned char* destination, std::size_t size) {
        read(size, [&](const unsigned char* data, std::size_t piece) {
            std::memcpy(destination, data, piece);
            destination += piece;
        });
    }

    bool at_end() { return window_start_ == window_end_ && !refill(); }

    // Bytes handed out so far.
    std::uint64_t consumed() const { return consumed_; }
    // Shown with the next progress report.
    std::uint64_t entries_done = 0;

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
                decoded_ += output.pos;
                if (progress_) {
                    progress_(entries_done, decoded_);
                }
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
    std::uint64_t consumed_ = 0;
    std::uint64_t decoded_ = 0;
    const DecodeProgress& progress_;
};

// Reads a name unit by unit; refuses it at the first unit past the launcher's limit, so that
// a name never grows beyond that.
std::u16string read_name(FrameStream& stream, std::uint64_t index) {
    std::u16string name;
    for (;;) {
        unsigned char unit[2];
        stream.read_into(unit, sizeof unit);
        char16_t value = little_endian_at<char16_t>(unit);
        if (value == 0) {
            return name;
        }
        if (name.size() == max_entry_name_units) {
            throw std::runtime_error("entry " + std::to_string(index) + "'s name is longer than the " +
                                     std::to_string(max_entry_name_units) +
                                     " units a launcher takes: " + utf8_of(name.substr(0, 40)) + "...");
        }
        name += value;
    }
}

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

ListedStream list_attached_data(std::span<const unsigned char> block, const ListedEntryHandler& on_entry,
                                const DecodeProgress& progress) {
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

    FrameStream stream(frame, frame_size, progress);
    ListedStream listed;
    for (;;) {
        ListedEntry entry;
        entry.name = read_name(stream, listed.entries + 1);
        if (entry.name.empty()) {
            break;
        }
        if (!entry_name_stays_in_tree(entry.name.data(), entry.name.size())) {
            throw std::runtime_error("entry " + std::to_string(listed.entries + 1) + "'s name \"" +
                                     utf8_of(entry.name) +
                                     "\" is one a launcher refuses: it holds a ':' or '/', or a component "
                                     "that is empty or ends in a dot or blank");
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
        ++listed.entries;
        stream.entries_done = listed.entries;
        listed.body_bytes += entry.size;
        listed.mismatches += entry.checksum_matches ? 0 : 1;
        on_entry(entry);
    }
    listed.stream_length = stream.consumed();
    if (!stream.at_end()) {
        throw std::runtime_error("the entry stream goes on after its end marker");
    }
    return listed;
}
