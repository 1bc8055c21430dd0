#pragma once

#include <windows.h>

// The patience of the extraction lock in test programs, extraction_lock_patience_ms until a
// test changes it.
extern DWORD lock_patience_in_tests_ms;
