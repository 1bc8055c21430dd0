// What the progress window of a slow start shows: its line, and how much of its bar is filled
// or where the moving block of a bar without a known total is.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/progress_content.hpp"

namespace {

std::wstring line_for(const wchar_t* product, bool writing) {
    wchar_t line[256];
    EXPECT_TRUE(compose_progress_line(line, 256, product, writing));
    return line;
}

TEST(ProgressLine, SaysWhetherTheStartWritesOrChecks) {
    EXPECT_EQ(line_for(L"Orrin Deck", true), L"Preparing Orrin Deck for its first start\u2026");
    EXPECT_EQ(line_for(L"Orrin Deck", false), L"Checking Orrin Deck\u2026");
    EXPECT_EQ(line_for(L"", true), L"Preparing the application for its first start\u2026");
    EXPECT_EQ(line_for(L"\u6570\u636e \xD83D\xDE00", false), L"Checking \u6570\u636e \xD83D\xDE00\u2026");
}

TEST(ProgressLine, FillsItsBufferExactlyOrNotAtAll) {
    const std::wstring expected = L"Checking Orrin Deck\u2026";
    // A guard unit after the buffer shows any write past it.
    std::vector<wchar_t> buffer(expected.size() + 2, L'#');
    EXPECT_TRUE(compose_progress_line(buffer.data(), expected.size() + 1, L"Orrin Deck", false));
    EXPECT_EQ(std::wstring(buffer.data()), expected);
    EXPECT_EQ(buffer.back(), L'#');

    std::fill(buffer.begin(), buffer.end(), L'#');
    EXPECT_FALSE(compose_progress_line(buffer.data(), expected.size(), L"Orrin Deck", false));
    EXPECT_EQ(buffer[0], 0) << "an empty line, never a cut one";
    EXPECT_EQ(buffer[expected.size()], L'#');
    EXPECT_FALSE(compose_progress_line(buffer.data(), 0, L"Orrin Deck", false));
    EXPECT_EQ(buffer[0], 0);
}

TEST(ProgressFill, MeasuresHandledBytesAgainstTheTotal) {
    EXPECT_EQ(progress_fill(0, 1000, 400), 0u);
    EXPECT_EQ(progress_fill(500, 1000, 400), 200u);
    EXPECT_EQ(progress_fill(999, 1000, 400), 399u) << "rounded down: full only when done";
    EXPECT_EQ(progress_fill(1000, 1000, 400), 400u);
    EXPECT_EQ(progress_fill(5000, 1000, 400), 400u) << "never past the end";
    EXPECT_EQ(progress_fill(123, 0, 400), 0u) << "no total, no fraction";
    EXPECT_EQ(progress_fill(1, 1, 0), 0u);
}

TEST(ProgressFill, HugeStreamsNeitherOverflowNorStall) {
    constexpr uint64_t gib = uint64_t{1} << 30;
    EXPECT_EQ(progress_fill(3 * gib, 6 * gib, 400), 200u);
    EXPECT_EQ(progress_fill(UINT64_MAX / 2, UINT64_MAX, 1000), 499u);
    EXPECT_EQ(progress_fill(UINT64_MAX - 1, UINT64_MAX, 1000), 999u);
    uint32_t last = 0;
    for (uint64_t handled = 0; handled <= 40 * gib; handled += gib) {
        uint32_t fill = progress_fill(handled, 40 * gib, 400);
        EXPECT_GE(fill, last) << handled;
        last = fill;
    }
    EXPECT_EQ(last, 400u);
}

TEST(MovingBlock, SweepsFromOutOfSightOnTheLeftToTheRightAgainAndAgain) {
    constexpr uint32_t width = 400;
    constexpr uint32_t block = 100;
    EXPECT_EQ(moving_block_left(0, width, block), -100);
    EXPECT_EQ(moving_block_left(moving_block_period_ms / 2, width, block), 150);
    EXPECT_EQ(moving_block_left(moving_block_period_ms, width, block), -100) << "the next sweep";
    int32_t last = moving_block_left(0, width, block);
    for (uint64_t time = 1; time < moving_block_period_ms; ++time) {
        int32_t left = moving_block_left(time, width, block);
        EXPECT_GE(left, last) << time;
        EXPECT_LT(left, static_cast<int32_t>(width)) << time;
        last = left;
    }
    EXPECT_EQ(moving_block_left(uint64_t{1} << 40, width, block),
              moving_block_left((uint64_t{1} << 40) % moving_block_period_ms, width, block));
}

} // namespace
