// The build constants of a launcher image, found through its descriptor. Linked only into
// the stub image.
#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"

extern "C" {
extern const ImageDescriptor talvik_image_descriptor;
// The linker's symbol at the image's first byte: where the image was loaded.
extern const unsigned char __ImageBase[];
}

namespace {

// The descriptor is filled in after the link, so its values must be read from memory at
// run time: the empty asm hides where the pointer comes from, so that no optimiser (with
// link-time optimisation either) can fold the bare stub's zeros into the code.
const ImageDescriptor& descriptor() {
    const ImageDescriptor* filled_in = &talvik_image_descriptor;
    __asm__("" : "+r"(filled_in));
    return *filled_in;
}

// A field of 0 marks the bare stub, which has no constants. Its template "." keeps the run
// going to the header test, which then reports the missing attached data.
const wchar_t* text_at(uint32_t rva, const wchar_t* absent) {
    if (rva == 0) {
        return absent;
    }
    return reinterpret_cast<const wchar_t*>(__ImageBase + rva);
}

} // namespace

const wchar_t* talvik_path_template() {
    return text_at(descriptor().path_template, L".");
}

const wchar_t* talvik_company_name() {
    return text_at(descriptor().company_name, L"");
}

const wchar_t* talvik_product_name() {
    return text_at(descriptor().product_name, L"");
}

const wchar_t* talvik_version_string() {
    return text_at(descriptor().version_string, L"");
}

const unsigned char* talvik_attached_data() {
    return __ImageBase + descriptor().attached_data;
}

uint64_t talvik_attached_data_length() {
    return descriptor().attached_data_length;
}

uint64_t talvik_attached_data_identity() {
    const ImageDescriptor& filled_in = descriptor();
    if (filled_in.descriptor_size < offsetof(ImageDescriptor, attached_data_identity) + sizeof(uint64_t)) {
        return 0;
    }
    return filled_in.attached_data_identity;
}

// An image written before the field, or by a writer that left it out, checks by CRC-32; so
// does a value this launcher does not know.
uint32_t talvik_reuse_check() {
    const ImageDescriptor& filled_in = descriptor();
    if (filled_in.descriptor_size < offsetof(ImageDescriptor, reuse_check) + sizeof(uint32_t) ||
        filled_in.reuse_check != reuse_check_metadata) {
        return reuse_check_crc;
    }
    return reuse_check_metadata;
}
