// The counters that a windowed image's progress window reads while the main thread unpacks:
// what they say after real extractions into the Wine prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/format.hpp"
#include "payload/progress_counters.hpp"
#include "payload/reader.hpp"
#include "payload_test_support.hpp"

namespace {

std::vector<PayloadSource> sample_sources() {
    return {
        {u"app.exe", {}, pattern(70000, 11)},
        {u"data\\level.bin", {}, pattern(300000, 12)},
        {u"data\\empty.txt", {}, ""},
        {u"notes.txt", {}, "notes"},
    };
}

// What one extraction added to the counters.
struct Counted {
    uint64_t bytes;
    uint64_t files;
};

Counted extract_counting(const Bytes& block, const std::wstring& target) {
    uint64_t bytes_before = decoded_bytes_so_far();
    uint64_t files_before = files_written_so_far();
    extract_here(block, target);
    return {decoded_bytes_so_far() - bytes_before, files_written_so_far() - files_before};
}

TEST(PayloadProgress, EveryStartCountsTheWholeStreamAndOnlyTheFilesItWrites) {
    const std::wstring target = fresh_directory();
    std::vector<PayloadSource> sources = sample_sources();
    Bytes block = attached_data_for(sources);
    // The bar's total, as talvik pack states it in the descriptor.
    uint64_t stream_length = entry_stream_size(sources);

    Counted cold = extract_counting(block, target);
    EXPECT_EQ(cold.bytes, stream_length) << "a full bar at the end, never more";
    EXPECT_EQ(cold.files, sources.size()) << "every file written, the empty one too";

    Counted warm = extract_counting(block, target);
    EXPECT_EQ(warm.bytes, stream_length) << "checking decodes the whole stream as well";
    EXPECT_EQ(warm.files, 0u) << "a tree found intact is only checked";

    write_file(target + L"\\notes.txt", "changed");
    Counted repair = extract_counting(block, target);
    EXPECT_EQ(repair.bytes, stream_length);
    EXPECT_EQ(repair.files, 1u);
}

// A stream of many decoder windows read piece by piece: the count keeps up with what the
// reader hands out, at most one window ahead, so that a bar read meanwhile moves with it.
TEST(PayloadProgress, CountKeepsUpWithTheBytesHandedOut) {
    std::vector<PayloadSource> sources{{u"big.bin", {}, pattern(1000000, 21)}};
    Bytes block = attached_data_for(sources);
    uint64_t stream_length = entry_stream_size(sources);
    uint64_t start = decoded_bytes_so_far();
    open_payload_reader(block.data() + attached_data_header_size, block.size() - attached_data_header_size);
    EXPECT_EQ(decoded_bytes_so_far(), start) << "nothing is decoded before it is asked for";

    std::vector<unsigned char> piece(50000);
    uint64_t handed_out = 0;
    while (handed_out < stream_length) {
        uint64_t count = std::min<uint64_t>(piece.size(), stream_length - handed_out);
        read_payload_bytes(piece.data(), count);
        handed_out += count;
        uint64_t counted = decoded_bytes_so_far() - start;
        ASSERT_GE(counted, handed_out);
        ASSERT_LE(counted - handed_out, decode_window_size) << "at " << handed_out;
    }
    close_payload_reader();
    EXPECT_EQ(decoded_bytes_so_far() - start, stream_length);
}

} // namespace
