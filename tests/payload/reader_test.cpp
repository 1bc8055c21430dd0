// The stream reader: exact bytes for any pattern of request sizes, and the decode message for
// every way a frame can fail.
#include <windows.h>

#include <gtest/gtest.h>

// For the frame header fields and the streaming compressor's parameters.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/format.hpp"
#include "payload/reader.hpp"
#include "payload_test_support.hpp"

namespace {

void open_block(const Bytes& block) {
    ASSERT_TRUE(attached_data_has_header(block.data(), block.size()));
    open_payload_reader(block.data() + attached_data_header_size, block.size() - attached_data_header_size);
}

// Reads the whole stream with requests cycling through sizes, the last one cut to what is left.
Bytes read_in_requests(const Bytes& block, std::size_t total, const std::vector<std::size_t>& sizes) {
    Bytes got(total);
    open_block(block);
    std::size_t at = 0;
    for (std::size_t request = 0; at < total; ++request) {
        std::size_t count = std::min(sizes[request % sizes.size()], total - at);
        read_payload_bytes(got.data() + at, count);
        at += count;
    }
    close_payload_reader();
    return got;
}

std::vector<PayloadSource> mixed_sources() {
    return {
        {u"app.exe", {}, pattern(200000, 1)},        {u"empty", {}, ""},
        {u"data\\a.bin", {}, pattern(131072, 2)},    {u"data\\b.bin", {}, pattern(300001, 3)},
        {u"notes.txt", {}, std::string(90000, 'n')},
    };
}

// One frame from the streaming compressor without a stated content size, so that its header
// carries a window descriptor for window_log.
Bytes frame_without_content_size(const std::string& content, int window_log) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window_log);
    Bytes frame(ZSTD_compressBound(content.size()) + 1024);
    ZSTD_outBuffer out{frame.data(), frame.size(), 0};
    ZSTD_inBuffer in{content.data(), content.size(), 0};
    // Content given with "continue" first: ending in the same call would state its size.
    while (in.pos < in.size) {
        EXPECT_FALSE(ZSTD_isError(ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue)));
    }
    ZSTD_inBuffer none{nullptr, 0, 0};
    while (ZSTD_compressStream2(context, &out, &none, ZSTD_e_end) != 0) {
    }
    ZSTD_freeCCtx(context);
    frame.resize(out.pos);
    return frame;
}

Bytes with_header(const Bytes& frame) {
    Bytes block(3 + frame.size());
    block[0] = 'K';
    block[1] = 'A';
    block[2] = 'Y';
    std::copy(frame.begin(), frame.end(), block.begin() + 3);
    return block;
}

TEST(PayloadReaderHeader, FirstThreeBytesMustBeKay) {
    struct Case {
        std::string block;
        bool expected;
    };
    const Case cases[] = {
        {"KAY", true},  {std::string("KAY\x28\xB5\x2F\xFD", 7), true},
        {"KAX", false}, {"kay", false},
        {"YAK", false}, {"KA", false},
        {"", false},    {" KAY", false},
    };
    for (const Case& c : cases) {
        Bytes block(c.block.begin(), c.block.end());
        block.push_back(0);
        EXPECT_EQ(attached_data_has_header(block.data(), c.block.size()), c.expected) << c.block;
    }
}

TEST(PayloadReader, ZeroByteRequestsNeitherCopyNorDecode) {
    Bytes block = attached_data_for(mixed_sources());
    Bytes stream = build_entry_stream(mixed_sources());
    open_block(block);
    unsigned char untouched = 0xA5;
    read_payload_bytes(&untouched, 0);
    EXPECT_EQ(untouched, 0xA5);
    EXPECT_EQ(payload_reader.input.pos, 0u) << "no input consumed";
    EXPECT_EQ(payload_reader.window.size, 0u) << "nothing decoded";

    // At the very end of a window, a request of 0 still asks the decoder for nothing.
    Bytes first(decode_window_size);
    read_payload_bytes(first.data(), first.size());
    ASSERT_EQ(payload_reader.window.pos, payload_reader.window.size);
    const std::size_t consumed = payload_reader.input.pos;
    read_payload_bytes(&untouched, 0);
    EXPECT_EQ(payload_reader.input.pos, consumed);
    EXPECT_EQ(payload_reader.window.pos, payload_reader.window.size);

    // The next byte comes from a new decoder call, in order.
    read_payload_bytes(&untouched, 1);
    EXPECT_EQ(untouched, stream[decode_window_size]);
    close_payload_reader();
}

TEST(PayloadReader, EveryRequestPatternGivesTheExactStream) {
    const Bytes stream = build_entry_stream(mixed_sources());
    const Bytes block = attached_data_for(mixed_sources());
    const std::vector<std::vector<std::size_t>> patterns = {
        {1},      {2},      {2, 8, 4, 3},           {32768},  {131071},
        {131072}, {131073}, {7, 131072, 5, 262150}, {300000}, {stream.size()},
    };
    for (const auto& sizes : patterns) {
        Bytes got = read_in_requests(block, stream.size(), sizes);
        EXPECT_TRUE(got == stream) << "first request size " << sizes[0];
    }
}

// Two blocks of 100,000 bytes: the first decoder call fills the window from both while
// 68,928 decoded bytes of the last block still wait inside the decoder. (zstd 1.5.7 keeps
// back the frame's last input byte until they are out; older decoders took it all.)
Bytes frame_of_two_blocks(const std::string& content) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 1);
    Bytes frame(ZSTD_compressBound(content.size()) + 1024);
    ZSTD_outBuffer out{frame.data(), frame.size(), 0};
    const std::size_t half = content.size() / 2;
    ZSTD_inBuffer first{content.data(), half, 0};
    while (ZSTD_compressStream2(context, &out, &first, ZSTD_e_flush) != 0) {
    }
    ZSTD_inBuffer second{content.data() + half, content.size() - half, 0};
    while (ZSTD_compressStream2(context, &out, &second, ZSTD_e_end) != 0) {
    }
    ZSTD_freeCCtx(context);
    frame.resize(out.pos);
    return frame;
}

TEST(PayloadReader, BytesLeftInTheDecoderAfterTheLastInputAreHandedOut) {
    const std::string content = pattern(200000, 8);
    // No bytes after the frame, so the input is used up by the first decoder call.
    const Bytes block = with_header(frame_of_two_blocks(content));
    for (const std::vector<std::size_t>& sizes :
         std::vector<std::vector<std::size_t>>{{200000}, {131072}, {3}}) {
        Bytes got = read_in_requests(block, content.size(), sizes);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin())) << sizes[0];
    }
}

TEST(PayloadReader, WindowOfExactlyTheLimitDecodes) {
    // Descriptor 0x88: a window of exactly 2^27 bytes and no content size, like the shipped frame.
    const std::string content = pattern(500000, 9);
    Bytes frame = frame_without_content_size(content, 27);
    ASSERT_EQ(frame[4] & 0x20, 0) << "not a single-segment frame";
    ASSERT_EQ(frame[5], 0x88);
    Bytes got = read_in_requests(with_header(frame), content.size(), {65536});
    EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin()));
}

// Runs a reader call in a death-test child with both standard streams sent to files, and
// checks the decode message, the empty error stream and status 2.
std::wstring capture_path(const char* tag) {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    std::string name = std::string("talvik-payload-reader-") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + tag + ".txt";
    return std::wstring(temp, length) + std::wstring(name.begin(), name.end());
}

void redirect_to_file(DWORD which, const std::wstring& path) {
    SetStdHandle(which, CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct FailureCase {
    const char* what;
    Bytes block;
    // Read in turn; only the last one must fail.
    std::vector<std::uint64_t> requests;
};

std::size_t first_block_header(const Bytes& block) {
    std::size_t header_size = ZSTD_frameHeaderSize(block.data() + 3, block.size() - 3);
    EXPECT_FALSE(ZSTD_isError(header_size));
    return 3 + header_size;
}

TEST(PayloadReader, UndecodableDataEndsWithTheDecodeMessage) {
    const std::vector<PayloadSource> sources = mixed_sources();
    const Bytes good = attached_data_for(sources);
    const std::uint64_t stream_size = build_entry_stream(sources).size();
    const std::size_t frame_size = ZSTD_findFrameCompressedSize(good.data() + 3, good.size() - 3);
    const Bytes bare_frame(good.begin() + 3, good.begin() + 3 + static_cast<std::ptrdiff_t>(frame_size));

    std::vector<FailureCase> cases;
    Bytes bad_magic = good;
    bad_magic[3] ^= 0xFF;
    cases.push_back({"bad magic number", bad_magic, {2}});

    Bytes reserved_block = good;
    reserved_block[first_block_header(good)] |= 0x06;
    cases.push_back({"reserved block type", reserved_block, {stream_size}});

    Bytes oversized_block = good;
    std::size_t at = first_block_header(good);
    oversized_block[at] = static_cast<unsigned char>((oversized_block[at] & 0x07) | 0xF8);
    oversized_block[at + 1] = 0xFF;
    oversized_block[at + 2] = 0xFF;
    cases.push_back({"block larger than the format allows", oversized_block, {stream_size}});

    Bytes wide_window = with_header(frame_without_content_size(pattern(4096, 5), 28));
    EXPECT_EQ(wide_window[3 + 5], 0x90) << "window of 2^28";
    cases.push_back({"window of 2^28", wide_window, {1}});
    Bytes wider_window = wide_window;
    wider_window[3 + 5] = 0xA0;
    cases.push_back({"window of 2^30", wider_window, {1}});

    Bytes dictionary = with_header(frame_without_content_size(pattern(4096, 5), 20));
    ASSERT_EQ(dictionary[3 + 4] & 0x03, 0);
    // A one-byte dictionary id after the window descriptor.
    dictionary[3 + 4] |= 0x01;
    dictionary.insert(dictionary.begin() + 3 + 6, 0x2A);
    cases.push_back({"dictionary required", dictionary, {1}});

    cases.push_back({"request past the end of the frame", good, {stream_size, 1}});
    cases.push_back({"input used up while bytes are owed", with_header(bare_frame), {stream_size, 1}});
    Bytes truncated = with_header(Bytes(bare_frame.begin(), bare_frame.end() - 40));
    cases.push_back({"frame cut short", truncated, {stream_size}});

    const std::wstring output_path = capture_path("out");
    const std::wstring error_path = capture_path("err");
    for (const FailureCase& c : cases) {
        DeleteFileW(output_path.c_str());
        DeleteFileW(error_path.c_str());
        EXPECT_EXIT(
            {
                redirect_to_file(STD_OUTPUT_HANDLE, output_path);
                redirect_to_file(STD_ERROR_HANDLE, error_path);
                open_block(c.block);
                for (std::uint64_t count : c.requests) {
                    Bytes sink(count);
                    read_payload_bytes(sink.data(), count);
                }
            },
            ::testing::ExitedWithCode(reported_status), "")
            << c.what;
        EXPECT_EQ(read_file(output_path), "Error, couldn't decode attached data.\r\n") << c.what;
        EXPECT_EQ(read_file(error_path), "") << c.what;
    }

    // The same requests that stop at the end of the stream succeed on the intact block.
    Bytes got = read_in_requests(good, stream_size, {static_cast<std::size_t>(stream_size)});
    EXPECT_TRUE(got == build_entry_stream(sources));
}

} // namespace
