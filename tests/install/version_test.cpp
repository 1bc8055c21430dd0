// `talvik --version`: the project's one version number, in the form scripts can read.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tools/usage.hpp"

namespace {

struct ToolRun {
    int status = -1;
    std::string output;
};

ToolRun run_tool(const std::string& arguments) {
    ToolRun run;
    std::string command = std::string("'") + TALVIK_TOOL_PATH + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char chunk[4096];
    std::size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        run.output.append(chunk, got);
    }
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(TalvikVersion, PrintsTheProjectVersion) {
    ToolRun run = run_tool("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "talvik " TALVIK_PROJECT_VERSION "\n");
}

TEST(TalvikVersion, TakesNoArguments) {
    ToolRun run = run_tool("--version extra");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "talvik: error: usage: talvik --version\n");
}

TEST(TalvikVersion, HelpNamesTheOption) {
    ToolRun run = run_tool("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, talvik_usage);
    EXPECT_NE(run.output.find("talvik --version"), std::string::npos);
}

} // namespace
