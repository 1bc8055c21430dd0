// The bare stub's descriptor: the marker and nothing else. It lives in a translation unit of
// its own, linked only into the stub image, so the code that reads it never sees these zeros
// (which a compiler would otherwise fold, dropping everything after the header test).
#include "constants/image_descriptor.hpp"

namespace {

constexpr ImageDescriptor bare_descriptor() {
    ImageDescriptor descriptor{};
    for (size_t at = 0; at < sizeof descriptor.marker; ++at) {
        descriptor.marker[at] = image_descriptor_marker[at];
    }
    return descriptor;
}

} // namespace

extern "C" {
extern const ImageDescriptor talvik_image_descriptor;
const ImageDescriptor talvik_image_descriptor = bare_descriptor();
}
