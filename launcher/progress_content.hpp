#pragma once

#include <stddef.h>
#include <stdint.h>

// What the progress window of a slow start shows, worked out from the counters that the
// unpacking keeps: its one line of text and how much of its bar is filled.

// The line: "Preparing PRODUCT for its first start…" once the start has had to write a
// file, "Checking PRODUCT…" while every file so far was found intact. An empty product
// reads "the application". False, leaving line empty, when the text does not fit capacity.
bool compose_progress_line(wchar_t* line, size_t capacity, const wchar_t* product, bool writing);

// How many of a bar's width units stand for handled bytes of total: rounded down, never
// more than width. A total of 0 (an image that does not state it) has no fraction; see
// moving_block_left.
uint32_t progress_fill(uint64_t handled, uint64_t total, uint32_t width);

// A bar with no known total shows a block of block units that sweeps across width units
// again and again, one sweep per period: its left edge at time_ms, from -block (just out
// of sight on the left) up to width (just gone on the right).
constexpr uint32_t moving_block_period_ms = 1600;
int32_t moving_block_left(uint64_t time_ms, uint32_t width, uint32_t block);
