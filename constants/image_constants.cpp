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

// Whether the image's writer filled in the field at offset: fields are only added at the
// end, so an older writer leaves the later ones out.
bool filled_in(size_t offset, size_t size) {
    return descriptor().descriptor_size >= offset + size;
}

// A two-valued setting: absent, or any value but the other, means absent_value.
uint32_t setting(size_t offset, uint32_t value, uint32_t absent_value, uint32_t other_value) {
    return filled_in(offset, sizeof(uint32_t)) && value == other_value ? other_value : absent_value;
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
    return filled_in(offsetof(ImageDescriptor, attached_data_identity), sizeof(uint64_t))
               ? descriptor().attached_data_identity
               : 0;
}

// A value this launcher does not know means what an image without the field means.
uint32_t talvik_reuse_check() {
    return setting(offsetof(ImageDescriptor, reuse_check), descriptor().reuse_check, reuse_check_crc,
                   reuse_check_metadata);
}

uint32_t talvik_old_trees() {
    return setting(offsetof(ImageDescriptor, old_trees), descriptor().old_trees, old_trees_keep,
                   old_trees_remove);
}

uint32_t talvik_child_lifetime() {
    return setting(offsetof(ImageDescriptor, child_lifetime), descriptor().child_lifetime,
                   child_ends_with_launcher, child_outlives_launcher);
}

uint32_t talvik_progress_window() {
    return setting(offsetof(ImageDescriptor, progress_window), descriptor().progress_window,
                   progress_window_when_slow, progress_window_off);
}

uint64_t talvik_entry_stream_length() {
    return filled_in(offsetof(ImageDescriptor, entry_stream_length), sizeof(uint64_t))
               ? descriptor().entry_stream_length
               : 0;
}
