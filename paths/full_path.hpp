#pragma once

// Makes target_directory a full path in place; a failure or a result of 4096 units or more
// is a limit stop.
void normalize_target_directory();
