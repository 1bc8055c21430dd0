#pragma once

#include "tools/pack_options.hpp"

// `talvik pack`: checks the options and the app folder, builds the attached data and
// the resources, and links the image. Throws ToolError on any failure, before which no
// output file has appeared.
void run_pack(const PackOptions& options);
