// Host side of the benchmarks: finds the attached data inside a packed launcher image and
// writes it, and its decoded entry stream, to files for the floor programs and for the zstd
// command-line comparison.
//
//   bench-frame IMAGE.exe ATTACHED_DATA_OUT ENTRY_STREAM_OUT
//
// Prints one JSON object: image and attached data sizes, the frame's window and content
// size, and the entry stream's size and entry count.
// The frame header reader is part of the experimental interface.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// 'K', 'A', 'Y' and the zstd frame magic 0xFD2FB528, little-endian.
constexpr unsigned char block_start[] = {'K', 'A', 'Y', 0x28, 0xB5, 0x2F, 0xFD};
constexpr size_t header_size = 3;
constexpr size_t trailer_alignment = 8;

std::vector<unsigned char> read_file(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        throw std::runtime_error(std::string("cannot read ") + path);
    }
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write_file(const char* path, const unsigned char* data, size_t length) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
    if (!stream) {
        throw std::runtime_error(std::string("cannot write ") + path);
    }
}

uint64_t little_endian(const unsigned char* at) {
    uint64_t value = 0;
    for (int index = 7; index >= 0; --index) {
        value = value << 8 | at[index];
    }
    return value;
}

struct Block {
    size_t offset;
    size_t frame_size;
    size_t length;
};

// The first place where the header, a whole frame and a count naming its own offset follow
// each other: the layout of the attached data.
Block find_block(const std::vector<unsigned char>& image) {
    for (size_t at = 0; at + sizeof block_start <= image.size(); ++at) {
        if (std::memcmp(image.data() + at, block_start, sizeof block_start) != 0) {
            continue;
        }
        size_t frame_size =
            ZSTD_findFrameCompressedSize(image.data() + at + header_size, image.size() - at - header_size);
        if (ZSTD_isError(frame_size)) {
            continue;
        }
        size_t count_offset =
            (header_size + frame_size + trailer_alignment - 1) / trailer_alignment * trailer_alignment;
        if (at + count_offset + 8 > image.size() ||
            little_endian(image.data() + at + count_offset) != count_offset) {
            continue;
        }
        return {at, frame_size, count_offset + 8};
    }
    throw std::runtime_error("no attached data found");
}

std::vector<unsigned char> decode(const unsigned char* frame, size_t frame_size) {
    std::vector<unsigned char> stream;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    ZSTD_inBuffer input{frame, frame_size, 0};
    std::vector<unsigned char> piece(ZSTD_DStreamOutSize());
    for (;;) {
        ZSTD_outBuffer output{piece.data(), piece.size(), 0};
        size_t result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) {
            throw std::runtime_error(std::string("frame does not decode: ") + ZSTD_getErrorName(result));
        }
        stream.insert(stream.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(output.pos));
        if (result == 0) {
            break;
        }
    }
    ZSTD_freeDCtx(context);
    return stream;
}

size_t count_entries(const std::vector<unsigned char>& stream) {
    size_t entries = 0;
    size_t at = 0;
    for (;;) {
        size_t units = 0;
        while (at + 2 <= stream.size() && (stream[at] | stream[at + 1]) != 0) {
            at += 2;
            ++units;
        }
        at += 2;
        if (units == 0 || at + 12 > stream.size()) {
            return entries;
        }
        at += 12 + little_endian(stream.data() + at);
        ++entries;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-frame IMAGE.exe ATTACHED_DATA_OUT ENTRY_STREAM_OUT\n");
        return 2;
    }
    try {
        std::vector<unsigned char> image = read_file(argv[1]);
        Block block = find_block(image);
        const unsigned char* frame = image.data() + block.offset + header_size;
        ZSTD_frameHeader header;
        if (ZSTD_getFrameHeader(&header, frame, block.frame_size) != 0) {
            throw std::runtime_error("unreadable frame header");
        }
        std::vector<unsigned char> stream = decode(frame, block.frame_size);
        write_file(argv[2], image.data() + block.offset, block.length);
        write_file(argv[3], stream.data(), stream.size());
        int window_log = 0;
        while ((uint64_t{1} << window_log) < header.windowSize) {
            ++window_log;
        }
        std::printf("{\"image_size\": %zu, \"attached_data_offset\": %zu, \"attached_data_length\": %zu, "
                    "\"frame_size\": %zu, \"window_log\": %d, \"content_size_declared\": %s, "
                    "\"stream_size\": %zu, \"entries\": %zu}\n",
                    image.size(), block.offset, block.length, block.frame_size, window_log,
                    header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN ? "false" : "true", stream.size(),
                    count_entries(stream));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-frame: %s\n", error.what());
        return 1;
    }
    return 0;
}
