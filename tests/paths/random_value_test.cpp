// The {RANDOM} value: xorshift32 bytes in base64url.
#include <string>

#include <gtest/gtest.h>

#include "paths/random_value.hpp"

namespace {

std::wstring encoded(uint32_t seed) {
    wchar_t value[random_value_capacity];
    encode_random_value(seed, value);
    return value;
}

TEST(RandomValue, CheckValues) {
    struct Case {
        uint32_t seed;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0x12345678, L"paPEmIhNHSk"}, // bytes a5 a3 c4 98 88 4d 1d 29
        {1, L"IQHFT9HQGrI"},          // bytes 21 01 c5 4f d1 d0 1a b2
        {0, L"IQHFT9HQGrI"},          // a zero seed counts as 1
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encoded(c.seed), c.text) << std::hex << c.seed;
    }
}

bool is_base64url(wchar_t unit) {
    return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z') ||
           (unit >= L'0' && unit <= L'9') || unit == L'-' || unit == L'_';
}

TEST(RandomValue, ElevenBase64urlCharactersWithZeroTailBits) {
    // The last character carries 4 bits and two zero bits: its alphabet index is a multiple of 4.
    const std::wstring alphabet = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    for (uint32_t seed : {0xFFFFFFFFu, 0x80000000u, 0xDEADBEEFu, 2u, 0x00010000u}) {
        std::wstring text = encoded(seed);
        ASSERT_EQ(text.size(), random_value_capacity - 1) << seed;
        for (wchar_t unit : text) {
            EXPECT_TRUE(is_base64url(unit)) << seed;
        }
        EXPECT_EQ(alphabet.find(text.back()) % 4, 0u) << seed;
    }
    wchar_t generated[random_value_capacity];
    generate_random_value(generated);
    EXPECT_EQ(wcslen(generated), random_value_capacity - 1);
}

} // namespace
