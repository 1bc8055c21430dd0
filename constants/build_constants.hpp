#pragma once

#include <stdint.h>

// Values fixed when an image is built. A launcher image reads them through its image
// descriptor (launcher/image_constants.cpp), which talvik pack fills in; test programs
// supply their own (tests/support/test_build_constants.cpp).
const wchar_t* talvik_path_template();
const wchar_t* talvik_company_name();
const wchar_t* talvik_product_name();
const wchar_t* talvik_version_string();
const unsigned char* talvik_attached_data();
uint64_t talvik_attached_data_length();
// A hash of the attached data, 0 when the image carries none.
uint64_t talvik_attached_data_identity();
// reuse_check_crc or reuse_check_metadata (launcher/image_descriptor.hpp).
uint32_t talvik_reuse_check();
