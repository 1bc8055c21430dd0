#pragma once

// Exit statuses of the launcher other than the child's own exit code.
constexpr unsigned child_exit_code_unreadable = 1;
constexpr unsigned reported_failure_status = 2;
// The abnormal stop: non-zero and never 2, so a caller can tell it from a reported failure.
// 3 is also what the C runtime's abort gives.
constexpr unsigned abnormal_stop_status = 3;
