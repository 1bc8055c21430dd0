#include "tests/tools/hostile_blocks.hpp"

#include "payload/producer.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <zstd.h>

namespace {

constexpr std::size_t max_block_size = 128 << 10;

void put_le(BlockBytes& bytes, std::uint64_t value, int size) {
    for (int at = 0; at < size; ++at) {
        bytes.push_back(static_cast<unsigned char>(value >> (8 * at)));
    }
}

// A zstd block header: last-block flag, type (0 raw, 1 RLE), size.
void put_block_header(BlockBytes& frame, bool last, int type, std::size_t size) {
    put_le(frame, (std::uint64_t{size} << 3) | (std::uint64_t(type) << 1) | (last ? 1 : 0), 3);
}

// Compresses a stream that is `repeat` copies of unit, then tail, into attached data.
BlockBytes compressed_block(const std::string& unit, std::uint64_t repeat, const std::string& tail,
                            int window_log) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window_log);
    std::string chunk;
    while (chunk.size() < (std::size_t{1} << 20)) {
        chunk += unit;
    }
    std::uint64_t per_chunk = chunk.size() / unit.size();
    BlockBytes frame;
    std::vector<unsigned char> out(ZSTD_CStreamOutSize());
    auto feed = [&](const std::string& data, ZSTD_EndDirective mode) {
        ZSTD_inBuffer input = {data.data(), data.size(), 0};
        for (;;) {
            ZSTD_outBuffer output = {out.data(), out.size(), 0};
            std::size_t left = ZSTD_compressStream2(context, &output, &input, mode);
            if (ZSTD_isError(left)) {
                throw std::runtime_error(ZSTD_getErrorName(left));
            }
            frame.insert(frame.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(output.pos));
            if (mode == ZSTD_e_end ? left == 0 : input.pos == input.size) {
                return;
            }
        }
    };
    for (std::uint64_t done = 0; done < repeat;) {
        std::uint64_t take = std::min(per_chunk, repeat - done);
        feed(take == per_chunk ? chunk : chunk.substr(0, take * unit.size()), ZSTD_e_continue);
        done += take;
    }
    feed(tail, ZSTD_e_end);
    ZSTD_freeCCtx(context);
    return wrap_attached_data(frame);
}

std::string entry_of_name(const std::u16string& name) {
    std::string entry;
    for (char16_t unit : name) {
        entry += static_cast<char>(unit & 0xFF);
        entry += static_cast<char>(unit >> 8);
    }
    entry += std::string(2 + 8, '\0');     // terminator, size 0
    entry += std::string("\x01\0\0\0", 4); // the checksum of an empty body
    return entry;
}

const std::string end_marker(2, '\0');

} // namespace

BlockBytes endless_body_block(std::uint64_t body_size, std::size_t rle_blocks) {
    BlockBytes frame;
    put_le(frame, 0xFD2FB528, 4);
    frame.push_back(0x00); // no content size, no checksum, a window descriptor follows
    frame.push_back(0x50); // a window of 2^20
    BlockBytes entry = {'a', 0, 0, 0};
    put_le(entry, body_size, 8);
    put_le(entry, 1, 4);
    put_block_header(frame, rle_blocks == 0, 0, entry.size());
    frame.insert(frame.end(), entry.begin(), entry.end());
    for (std::size_t block = 0; block < rle_blocks; ++block) {
        put_block_header(frame, block + 1 == rle_blocks, 1, max_block_size);
        frame.push_back(0);
    }
    return wrap_attached_data(frame);
}

BlockBytes many_empty_entries_block(std::uint64_t entries, int window_log) {
    return compressed_block(entry_of_name(u"a"), entries, end_marker, window_log);
}

BlockBytes long_names_block(std::size_t name_units, std::size_t entries, int window_log) {
    return compressed_block(entry_of_name(std::u16string(name_units, u'n')), entries, end_marker, window_log);
}
