#include "tests/support/grace_period_seam.hpp"

#include "child/grace_period.hpp"

DWORD grace_period_in_tests_ms = child_grace_period_ms;

DWORD console_event_grace_ms() {
    return grace_period_in_tests_ms;
}
