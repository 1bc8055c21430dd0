#include "launcher/progress_content.hpp"

#include <string.h>
#include <wchar.h>

namespace {

constexpr wchar_t preparing_before[] = L"Preparing ";
constexpr wchar_t preparing_after[] = L" for its first start\u2026";
constexpr wchar_t checking_before[] = L"Checking ";
constexpr wchar_t checking_after[] = L"\u2026";
constexpr wchar_t unnamed_product[] = L"the application";

// Appends text at *length when it fits with the terminator; false, writing nothing, otherwise.
bool append(wchar_t* line, size_t capacity, size_t* length, const wchar_t* text) {
    size_t count = wcslen(text);
    if (*length + count + 1 > capacity) {
        return false;
    }
    memcpy(line + *length, text, count * sizeof(wchar_t));
    *length += count;
    line[*length] = 0;
    return true;
}

} // namespace

bool compose_progress_line(wchar_t* line, size_t capacity, const wchar_t* product, bool writing) {
    if (capacity == 0) {
        return false;
    }
    line[0] = 0;
    size_t length = 0;
    bool fits = append(line, capacity, &length, writing ? preparing_before : checking_before) &&
                append(line, capacity, &length, product[0] != 0 ? product : unnamed_product) &&
                append(line, capacity, &length, writing ? preparing_after : checking_after);
    if (!fits) {
        line[0] = 0;
    }
    return fits;
}

uint32_t progress_fill(uint64_t handled, uint64_t total, uint32_t width) {
    if (total == 0) {
        return 0;
    }
    if (handled >= total) {
        return width;
    }
    // Both scaled below 2^32 so that handled * width cannot overflow 64 bits; scaling can
    // round handled up to total, and a bar is full only when the stream is done.
    while (total > UINT32_MAX) {
        total >>= 1;
        handled >>= 1;
    }
    uint32_t fill = static_cast<uint32_t>(handled * width / total);
    return fill < width || width == 0 ? fill : width - 1;
}

int32_t moving_block_left(uint64_t time_ms, uint32_t width, uint32_t block) {
    uint64_t travel = static_cast<uint64_t>(width) + block;
    uint64_t into_sweep = time_ms % moving_block_period_ms;
    return static_cast<int32_t>(into_sweep * travel / moving_block_period_ms) - static_cast<int32_t>(block);
}
