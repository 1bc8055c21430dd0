#pragma once

// The limit stop: a value does not fit its fixed buffer (or a lookup the launcher cannot
// do without failed). Ends the process at once with the abnormal status, prints nothing,
// runs no exit handlers.
[[noreturn]] void stop_at_limit();

// Ends the process with the abnormal status (the limit stop, and after the expansion message).
[[noreturn]] void stop_abnormally();
