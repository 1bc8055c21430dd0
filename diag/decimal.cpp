#include "diag/decimal.hpp"

size_t format_decimal(char* output, size_t capacity, long long value, int min_digits) {
    // 20 digits hold any 64-bit magnitude.
    char digits[24];
    int count = 0;
    // Work on the magnitude as unsigned so that the most negative value has one.
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count < min_digits && count < static_cast<int>(sizeof digits)) {
        digits[count++] = '0';
    }
    size_t length = static_cast<size_t>(count) + (value < 0 ? 1 : 0);
    if (length + 1 > capacity) {
        return 0;
    }
    size_t at = 0;
    if (value < 0) {
        output[at++] = '-';
    }
    while (count > 0) {
        output[at++] = digits[--count];
    }
    output[at] = 0;
    return length;
}
