#pragma once

#include "tools/pack/pack_options.hpp"

// `talvik pack`: checks talvik's own stub, the options and the app folder, then writes the
// image from a copy of the stub, the constants, the attached data and the resources. Throws
// ToolError on any failure, before which no output file has appeared.
void run_pack(const PackOptions& options);
