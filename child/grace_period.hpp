#pragma once

#include <windows.h>

// How long a console event lets the child take to end before it is terminated.
constexpr DWORD child_grace_period_ms = 5000;

// The grace period in force. The launcher image links child/grace_period.cpp, which gives
// child_grace_period_ms; test programs link tests/support/grace_period_seam.cpp, whose value
// the console-event and launch tests shorten, so that a child that outlives the period is
// ended in a fraction of a second rather than five.
DWORD console_event_grace_ms();
