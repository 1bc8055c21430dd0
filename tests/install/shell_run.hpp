#pragma once

#include <string>

// A shell command's exit status (-1 when it did not exit normally) and its standard output
// and error together.
struct ShellRun {
    int status = -1;
    std::string output;
};
ShellRun run_shell(const std::string& command);

// The shell's single quotes around one word.
std::string quoted(const std::string& word);
