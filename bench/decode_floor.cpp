// Decode floor: the attached data's frame through ZSTD_decompressStream into a 131,072-byte
// window, output dropped. Linked against the launcher's decoder library, or against a
// variant of it to compare decoder builds.
//
//   decode-floor.exe ATTACHED_DATA_FILE [REPEAT]
//
// Prints load_us (reading the file into memory), first_us (the first decode, as a launcher
// does it once), decode_us (the best of REPEAT decodes, each with a new decoder context) and
// decoded (bytes per decode).
#include <zstd.h>

#include <cstdlib>
#include <cwchar>

#include "bench/floor_support.hpp"

namespace {

// The launcher's decode window (payload/reader.hpp).
constexpr size_t decode_window_size = 131072;
// 'K', 'A', 'Y' before the frame.
constexpr size_t header_size = 3;

uint64_t decode_once(const std::vector<unsigned char>& block, unsigned char* window) {
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (context == nullptr) {
        fail("cannot create a decoder");
    }
    ZSTD_inBuffer input{block.data() + header_size, block.size() - header_size, 0};
    uint64_t decoded = 0;
    for (;;) {
        ZSTD_outBuffer output{window, decode_window_size, 0};
        size_t result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) {
            fail("the frame does not decode");
        }
        decoded += output.pos;
        if (result == 0) {
            break;
        }
        if (output.pos == 0 && input.pos == input.size) {
            fail("the frame is cut short");
        }
    }
    ZSTD_freeDCtx(context);
    return decoded;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fail("usage: decode-floor.exe ATTACHED_DATA_FILE [REPEAT]");
    }
    int repeat = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 1;
    int64_t start = clock_now();
    std::vector<unsigned char> block = load_file(argv[1]);
    int64_t loaded = clock_now();
    if (block.size() < header_size) {
        fail("attached data too short");
    }
    auto* window = static_cast<unsigned char*>(std::malloc(decode_window_size));
    int64_t best = -1;
    int64_t first = -1;
    uint64_t decoded = 0;
    for (int round = 0; round < (repeat > 0 ? repeat : 1); ++round) {
        int64_t before = clock_now();
        decoded = decode_once(block, window);
        int64_t spent = elapsed_us(before, clock_now());
        if (first < 0) {
            first = spent;
        }
        if (best < 0 || spent < best) {
            best = spent;
        }
    }
    std::free(window);
    put_result("load_us", elapsed_us(start, loaded));
    put_result("first_us", first);
    put_result("decode_us", best);
    put_result("decoded", static_cast<int64_t>(decoded));
    return 0;
}
