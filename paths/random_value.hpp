#pragma once

#include <stddef.h>
#include <stdint.h>

// The {RANDOM} value: 11 base64url characters and a terminator.
constexpr size_t random_value_capacity = 12;
void generate_random_value(wchar_t* output);
// The value for a given seed (xorshift32 13/17/5, eight bytes), for generate_random_value and tests.
void encode_random_value(uint32_t seed, wchar_t* output);
