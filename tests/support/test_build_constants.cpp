// Build constants for test programs: the values of the Orrin Deck build, and attached
// data holding an entry stream with only its end marker (one raw-block zstd frame). The
// child's lifetime comes from tests/support/child_lifetime_seam.cpp.
#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"

namespace {

const unsigned char attached_data[] = {'K',  'A',  'Y',  0x28, 0xB5, 0x2F, 0xFD, 0x20,
                                       0x02, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

} // namespace

const wchar_t* talvik_path_template() {
    return L"{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20";
}

const wchar_t* talvik_company_name() {
    return L"Fernwick Studio";
}

const wchar_t* talvik_product_name() {
    return L"Orrin Deck";
}

const wchar_t* talvik_version_string() {
    return L"1.20.0.0";
}

const unsigned char* talvik_attached_data() {
    return attached_data;
}

uint64_t talvik_attached_data_length() {
    return sizeof attached_data;
}

uint64_t talvik_attached_data_identity() {
    return 0;
}

uint32_t talvik_reuse_check() {
    return reuse_check_crc;
}

uint32_t talvik_old_trees() {
    return old_trees_keep;
}

uint32_t talvik_progress_window() {
    return progress_window_off;
}

uint64_t talvik_entry_stream_length() {
    return 0;
}
