#include "tools/image/attached_data_identity.hpp"

void AttachedDataIdentity::add(const unsigned char* data, std::size_t size) {
    constexpr std::uint64_t prime = 0x100000001b3u;
    std::uint64_t state = state_;
    for (std::size_t i = 0; i < size; ++i) {
        state = (state ^ data[i]) * prime;
    }
    state_ = state;
}

std::string identity_text(std::uint64_t identity) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, identity >>= 4) {
        text[static_cast<std::size_t>(i)] = digits[identity & 0xf];
    }
    return text;
}
