#pragma once

#include <stdint.h>

// Values fixed when an image is built. talvik pack generates them for each image (the
// attached data through an assembler include); test programs define their own.
extern "C" {
extern const wchar_t talvik_path_template[];
extern const wchar_t talvik_company_name[];
extern const wchar_t talvik_product_name[];
extern const wchar_t talvik_version_string[];
extern const unsigned char talvik_attached_data[];
extern const uint64_t talvik_attached_data_length;
}
