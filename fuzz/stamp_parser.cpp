// The parser of a tree's stamp (payload/stamp_check.cpp), which a metadata launcher reads
// from a folder that any program of the user may write. The input is the stamp without its
// closing CRC-32, which is added here so that inputs get past it to the records.

#include <cstdint>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "payload/stamp_check.hpp"
#include "payload/tree_stamp.hpp"

// Reached only after the records parse, on the way to the disk, which this target never takes.
void make_tree_stamp_path(wchar_t*, size_t, const wchar_t*) {
    __builtin_trap();
}

// The identity the seeds carry in their header.
constexpr uint64_t fuzzed_image_identity = 0x0123456789ABCDEFull;

uint64_t talvik_attached_data_identity() {
    return fuzzed_image_identity;
}

// The company and product the seeds carry in their header.
const wchar_t* talvik_company_name() {
    return L"Fernwick Studio";
}

const wchar_t* talvik_product_name() {
    return L"Orrin Deck";
}

uint32_t talvik_reuse_check() {
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> stamp(data, data + size);
    uint32_t crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
    stamp.resize(size + sizeof crc);
    std::memcpy(stamp.data() + size, &crc, sizeof crc);
    tree_stamp_parses(stamp.data(), stamp.size());
    return 0;
}
