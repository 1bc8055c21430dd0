#pragma once

#include <string>
#include <vector>

// talvik's command line (without the program name): help, version, pack or list. Returns the
// exit status: 0, or 1 after printing "talvik: error: ..." on stderr.
int run_talvik(const std::vector<std::string>& args);
