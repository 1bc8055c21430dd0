// The producer's attached data: layout, entry stream encoding, frame settings, reproducibility.
#include <gtest/gtest.h>

// For the frame header fields.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "payload/format.hpp"
#include "payload/producer.hpp"
#include "tests/payload/crc_forcing.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

std::string pattern(std::size_t length, std::uint32_t seed) {
    std::string text(length, '\0');
    std::uint32_t state = seed | 1;
    for (char& c : text) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        // Few distinct values, so the data compresses but not to nothing.
        c = static_cast<char>('a' + state % 7);
    }
    return text;
}

CompressionSettings fast(int threads = 1) {
    CompressionSettings settings;
    settings.level = 3;
    settings.threads = threads;
    return settings;
}

std::uint64_t read_u64(const Bytes& bytes, std::size_t at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

struct Layout {
    std::size_t frame_size;
    std::size_t padding;
    std::uint64_t count;
};

Layout layout_of(const Bytes& block) {
    std::size_t frame_size = ZSTD_findFrameCompressedSize(block.data() + 3, block.size() - 3);
    EXPECT_FALSE(ZSTD_isError(frame_size));
    EXPECT_GE(block.size(), 3 + frame_size + 8);
    std::size_t padding = block.size() - 3 - frame_size - 8;
    return {frame_size, padding, read_u64(block, block.size() - 8)};
}

Bytes decode_frame(const Bytes& block, const Layout& layout, std::size_t capacity) {
    Bytes out(capacity + 1);
    std::size_t got = ZSTD_decompress(out.data(), out.size(), block.data() + 3, layout.frame_size);
    EXPECT_FALSE(ZSTD_isError(got)) << ZSTD_getErrorName(got);
    out.resize(ZSTD_isError(got) ? 0 : got);
    return out;
}

std::vector<PayloadSource> sample_sources() {
    return {
        {u"app.exe", {}, pattern(70000, 1)},
        {u"empty.dat", {}, ""},
        {u"lib\\\u6570\u636e\\\xD83D\xDE00.bin", {}, pattern(5, 2)},
        {u"lib\\big.pak", {}, pattern(300000, 3)},
    };
}

class TempDirectory {
  public:
    TempDirectory() {
        path_ = std::filesystem::temp_directory_path() /
                ("talvik-producer-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory() { std::filesystem::remove_all(path_); }
    std::filesystem::path file(const std::string& name, const std::string& contents) const {
        std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << contents;
        return file;
    }

  private:
    std::filesystem::path path_;
};

TEST(ProducerStream, EncodesNameSizeChecksumBodyAndEndMarker) {
    // CRC-32 of "123456789" is the standard check value 0xCBF43926.
    Bytes stream = build_entry_stream({{u"a\\\u00e9", {}, "123456789"}});
    const Bytes expected = {'a',  0,    '\\', 0,    0xE9, 0,   0,   0,               // name, terminator
                            9,    0,    0,    0,    0,    0,   0,   0,               // size
                            0x26, 0x39, 0xF4, 0xCB,                                  // checksum
                            '1',  '2',  '3',  '4',  '5',  '6', '7', '8', '9', 0, 0}; // end marker
    EXPECT_EQ(stream, expected);
    EXPECT_EQ(entry_stream_size({{u"a\\\u00e9", {}, "123456789"}}), expected.size());
}

TEST(ProducerStream, NoEntriesIsTheEndMarkerAlone) {
    EXPECT_EQ(build_entry_stream({}), (Bytes{0, 0}));
    EXPECT_EQ(entry_stream_size({}), 2u);
}

TEST(ProducerStream, ChecksumZeroIsStoredAsOne) {
    std::string zero_crc = "payload" + crc_forcing_suffix("payload", 0);
    ASSERT_EQ(crc_of(zero_crc), 0u);
    struct Case {
        const char* what;
        std::string body;
        std::uint32_t stored;
    };
    const Case cases[] = {
        {"empty body", "", 1},
        {"body whose CRC-32 is 0", zero_crc, 1},
        {"body whose CRC-32 is 1", "x" + crc_forcing_suffix("x", 1), 1},
        {"ordinary body", "123456789", 0xCBF43926},
    };
    for (const Case& c : cases) {
        Bytes stream = build_entry_stream({{u"n", {}, c.body}});
        std::uint32_t stored = 0;
        std::memcpy(&stored, stream.data() + 4 + 8, 4);
        EXPECT_EQ(stored, c.stored) << c.what;
    }
}

TEST(ProducerStream, FileBodiesMatchInMemoryBodies) {
    TempDirectory directory;
    // One body small enough to be read in one go, one that is read in pieces.
    const std::string small = pattern(1000, 4);
    const std::string large = pattern((std::size_t{16} << 20) + 3, 5);
    std::vector<PayloadSource> from_files = {{u"s", directory.file("s", small), {}},
                                             {u"l", directory.file("l", large), {}}};
    std::vector<PayloadSource> from_memory = {{u"s", {}, small}, {u"l", {}, large}};
    EXPECT_EQ(entry_stream_size(from_files), entry_stream_size(from_memory));
    EXPECT_TRUE(build_entry_stream(from_files) == build_entry_stream(from_memory));

    std::vector<std::pair<std::size_t, std::uint64_t>> progress;
    Bytes block = build_attached_data(from_files, fast(), [&](std::size_t entries, std::uint64_t bytes) {
        progress.emplace_back(entries, bytes);
    });
    EXPECT_EQ(block, build_attached_data(from_memory, fast()));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<std::size_t, std::uint64_t>{2, small.size() + large.size()}));
}

TEST(ProducerStream, RejectsWhatCannotBePacked) {
    EXPECT_THROW(build_attached_data({{u"gone", "/nonexistent/talvik/file", {}}}, fast()),
                 std::runtime_error);
    EXPECT_THROW(build_entry_stream({{u"", {}, "body"}}), std::runtime_error);
    CompressionSettings too_wide = fast();
    too_wide.window_log = 28;
    EXPECT_THROW(build_attached_data(sample_sources(), too_wide), std::runtime_error);
}

TEST(ProducerBlock, HeaderFramePaddingAndCount) {
    const std::vector<PayloadSource> sources = sample_sources();
    for (int threads : {1, 2}) {
        Bytes block = build_attached_data(sources, fast(threads));
        ASSERT_GE(block.size(), 11u);
        EXPECT_EQ(block[0], 'K');
        EXPECT_EQ(block[1], 'A');
        EXPECT_EQ(block[2], 'Y');
        Layout layout = layout_of(block);
        EXPECT_LT(layout.padding, attached_data_alignment);
        EXPECT_EQ((3 + layout.frame_size + layout.padding) % attached_data_alignment, 0u);
        for (std::size_t at = 3 + layout.frame_size; at < block.size() - 8; ++at) {
            EXPECT_EQ(block[at], 0) << "padding byte " << at;
        }
        EXPECT_EQ(layout.count, block.size() - 8) << "the count is its own offset";

        Bytes stream = build_entry_stream(sources);
        EXPECT_TRUE(decode_frame(block, layout, stream.size()) == stream);
        EXPECT_EQ(ZSTD_getFrameContentSize(block.data() + 3, layout.frame_size), stream.size());
    }
}

TEST(ProducerBlock, WrapPadsEveryFrameLengthToTheAlignment) {
    for (std::size_t frame_size = 0; frame_size < 20; ++frame_size) {
        Bytes frame(frame_size, 0xAB);
        Bytes block = wrap_attached_data(frame);
        std::size_t padded = 3 + frame_size;
        while (padded % 8 != 0) {
            ++padded;
        }
        ASSERT_EQ(block.size(), padded + 8) << frame_size;
        EXPECT_EQ(read_u64(block, padded), padded);
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), block.begin() + 3));
    }
}

TEST(ProducerWindow, SmallestCoveringWindowFromTenToTwentySeven) {
    struct Case {
        std::uint64_t stream_size;
        int window_log;
    };
    const Case cases[] = {
        {0, 10},
        {2, 10},
        {1024, 10},
        {1025, 11},
        {std::uint64_t{1} << 20, 20},
        {(std::uint64_t{1} << 20) + 1, 21},
        {std::uint64_t{1} << 27, 27},
        {(std::uint64_t{1} << 27) + 1, 27},
        {std::uint64_t{1} << 40, 27},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(choose_window_log(c.stream_size), c.window_log) << c.stream_size;
    }
}

ZSTD_frameHeader frame_header(const Bytes& block) {
    ZSTD_frameHeader header{};
    EXPECT_EQ(ZSTD_getFrameHeader(&header, block.data() + 3, block.size() - 3), 0u);
    return header;
}

TEST(ProducerWindow, FrameDeclaresTheChosenWindow) {
    // An explicit window smaller than the stream is declared as it is.
    CompressionSettings narrow = fast();
    narrow.window_log = 12;
    ZSTD_frameHeader header = frame_header(build_attached_data({{u"a", {}, pattern(100000, 6)}}, narrow));
    EXPECT_EQ(header.windowSize, 4096u);

    // A stream above 2^27 bytes gets the largest window the launcher accepts.
    std::vector<PayloadSource> huge(1);
    huge[0].name = u"huge";
    huge[0].contents.assign((std::size_t{1} << 27) + 100, 'z');
    header = frame_header(build_attached_data(huge, fast(2)));
    EXPECT_EQ(header.windowSize, std::uint64_t{1} << 27);
    EXPECT_EQ(header.frameContentSize, entry_stream_size(huge));

    // A small stream never needs more window than its own size.
    header = frame_header(build_attached_data(sample_sources(), fast()));
    EXPECT_LE(header.windowSize, entry_stream_size(sample_sources()));
}

TEST(ProducerBlock, SameInputGivesTheSameBytes) {
    const std::vector<PayloadSource> sources = sample_sources();
    for (int threads : {1, 2, 0}) {
        Bytes first = build_attached_data(sources, fast(threads));
        Bytes second = build_attached_data(sources, fast(threads));
        EXPECT_TRUE(first == second) << "threads " << threads;
    }
    // Worker output does not depend on how many workers there are.
    EXPECT_TRUE(build_attached_data(sources, fast(2)) == build_attached_data(sources, fast(3)));
}

} // namespace
