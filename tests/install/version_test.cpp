// `talvik --version`: the project's one version number, in the form scripts can read.
#include <gtest/gtest.h>

#include <string>

#include "tests/install/shell_run.hpp"
#include "tools/cli/usage.hpp"

namespace {

ShellRun run_tool(const std::string& arguments) {
    return run_shell(quoted(TALVIK_TOOL_PATH) + " " + arguments);
}

TEST(TalvikVersion, PrintsTheProjectVersion) {
    ShellRun run = run_tool("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "talvik " TALVIK_PROJECT_VERSION "\n");
}

TEST(TalvikVersion, TakesNoArguments) {
    ShellRun run = run_tool("--version extra");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "talvik: error: usage: talvik --version\n");
}

TEST(TalvikVersion, HelpNamesTheOption) {
    ShellRun run = run_tool("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, talvik_usage);
    EXPECT_NE(run.output.find("talvik --version"), std::string::npos);
}

} // namespace
