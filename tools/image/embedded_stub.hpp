#pragma once

#include "tools/image/stub_check.hpp"

#include <span>

// The launcher stub compiled into talvik.
std::span<const unsigned char> embedded_stub_bytes();

// The embedded stub, checked against the checksum the build recorded and by check_stub:
// a damaged talvik binary is caught before anything is written. Throws ToolError.
CheckedStub checked_embedded_stub();
