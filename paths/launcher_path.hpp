#pragma once

// The launcher's own full path (long form, as the system reports it), looked up once and
// kept in a process-wide 4097-unit buffer; the caller must not change it.
const wchar_t* get_launcher_path();
