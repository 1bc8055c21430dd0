#pragma once

#include <windows.h>

// The test programs' definition of console_event_grace_ms (child/grace_period.hpp) gives this
// value, child_grace_period_ms until a test shortens it.
extern DWORD grace_period_in_tests_ms;
