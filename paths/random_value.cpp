#include "paths/random_value.hpp"

#include <windows.h>

namespace {

constexpr char base64url_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr int random_byte_count = 8;

} // namespace

void encode_random_value(uint32_t seed, wchar_t* output) {
    // xorshift32 never leaves 0, so 0 would give eight zero bytes.
    uint32_t x = seed == 0 ? 1 : seed;
    unsigned char bytes[random_byte_count];
    for (int k = 0; k < random_byte_count; ++k) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[k] = static_cast<unsigned char>(x);
    }
    // Base64url without padding: 8 bytes are two groups of three (4 characters each) and a
    // last pair (3 characters, the final one carrying 4 bits and two zero bits).
    size_t at = 0;
    for (int k = 0; k < random_byte_count; k += 3) {
        int left = random_byte_count - k < 3 ? random_byte_count - k : 3;
        uint32_t group = static_cast<uint32_t>(bytes[k]) << 16;
        if (left > 1) {
            group |= static_cast<uint32_t>(bytes[k + 1]) << 8;
        }
        if (left > 2) {
            group |= bytes[k + 2];
        }
        for (int c = 0; c <= left; ++c) {
            output[at++] = static_cast<wchar_t>(base64url_alphabet[(group >> (18 - 6 * c)) & 0x3F]);
        }
    }
    output[at] = 0;
}

void generate_random_value(wchar_t* output) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t c = static_cast<uint64_t>(counter.QuadPart);
    // The address of c differs between runs under address-space randomisation.
    uint64_t a = reinterpret_cast<uintptr_t>(&c);
    uint32_t seed = static_cast<uint32_t>(c) ^ static_cast<uint32_t>(c >> 32) ^ GetCurrentProcessId() ^
                    static_cast<uint32_t>(a) ^ static_cast<uint32_t>(a >> 32);
    encode_random_value(seed, output);
}
