#include "tools/image/embedded_stub.hpp"

#include "tools/host/tool_error.hpp"
#include "tools/image/embedded_stub_checksum.hpp"

extern "C" {
extern const unsigned char talvik_embedded_stub[];
extern const unsigned char talvik_embedded_stub_end[];
}

std::span<const unsigned char> embedded_stub_bytes() {
    return {talvik_embedded_stub, talvik_embedded_stub_end};
}

CheckedStub checked_embedded_stub() {
    std::span<const unsigned char> bytes = embedded_stub_bytes();
    auto damaged = [](const std::string& fault) {
        return ToolError("talvik's built-in launcher stub is damaged (" + fault +
                         "); reinstall talvik, it cannot make sound images");
    };
    if (bytes.size() != embedded_stub_size || stub_checksum(bytes) != embedded_stub_crc32) {
        throw damaged("its bytes do not match the checksum recorded when talvik was built");
    }
    try {
        return check_stub(bytes);
    } catch (const ToolError& error) {
        throw damaged(error.what());
    }
}
