#pragma once

#include <stdint.h>

// The test programs' definition of talvik_child_lifetime (constants/build_constants.hpp) gives
// this value: child_ends_with_launcher, as an image packed without --child-outlives-launcher,
// until a test chooses the other.
extern uint32_t child_lifetime_in_tests;
