#include "tests/support/lock_patience_seam.hpp"

#include "payload/lock_patience.hpp"

DWORD lock_patience_in_tests_ms = extraction_lock_patience_ms;

DWORD extraction_lock_patience() {
    return lock_patience_in_tests_ms;
}
