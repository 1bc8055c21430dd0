#pragma once

#include <stdint.h>

// The whole life of the launcher: prepare, unpack, hand over, run the child, return its
// exit code. Only the image's entry point calls it; every failure ends the process.
uint32_t run_launcher(int argument_count, wchar_t** arguments, wchar_t* environment);
