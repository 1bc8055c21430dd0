#include "tests/support/child_lifetime_seam.hpp"

#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"

uint32_t child_lifetime_in_tests = child_ends_with_launcher;

uint32_t talvik_child_lifetime() {
    return child_lifetime_in_tests;
}
