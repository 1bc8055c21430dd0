#pragma once

#include <stdint.h>

// Values fixed when an image is built. A launcher image reads them through its image
// descriptor (constants/image_constants.cpp), which talvik pack fills in; test programs
// supply their own (tests/support/test_build_constants.cpp).
const wchar_t* talvik_path_template();
const wchar_t* talvik_company_name();
const wchar_t* talvik_product_name();
const wchar_t* talvik_version_string();
const unsigned char* talvik_attached_data();
uint64_t talvik_attached_data_length();
// A hash of the attached data, 0 when the image carries none.
uint64_t talvik_attached_data_identity();
// The launcher's settings, each one of its values in constants/image_descriptor.hpp (an image
// without the field gives the value that says so there).
uint32_t talvik_reuse_check();
uint32_t talvik_old_trees();
uint32_t talvik_child_lifetime();
uint32_t talvik_progress_window();
// The decoded length of the entry stream; 0 when not known.
uint64_t talvik_entry_stream_length();
