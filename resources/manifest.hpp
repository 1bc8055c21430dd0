#pragma once

#include <string>

// The application manifest of every image, as one line of UTF-8 without an XML
// declaration: identity win32 "Mini" 1.0.0.0, the five supported-OS GUIDs (Vista to 10),
// longPathAware, Common Controls 6, and asInvoker without UI access. Nothing else.
std::string launcher_manifest();
