// bench/chart.py drawn from saved results: a whole run's figures all reach the chart, a
// partial run's missing rows are left out instead of failing, and nothing to draw is an error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "tests/install/shell_run.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path samples = TALVIK_CHART_SAMPLES;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class BenchChart : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "talvik-chart-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // matplotlib keeps its font cache in the temporary folder, not in the user's home.
    ShellRun chart(std::initializer_list<fs::path> results, const fs::path& output) {
        std::string command = "cd ";
        command.append(quoted(folder.string()));
        command.append(" && env MPLCONFIGDIR=").append(quoted((folder / "matplotlib").string()));
        command.append(" PYTHONDONTWRITEBYTECODE=1 " TALVIK_DEBIAN_PYTHON " ")
            .append(quoted(TALVIK_CHART_SCRIPT));
        for (const fs::path& file : results) {
            command.append(" ").append(quoted(file.string()));
        }
        command.append(" -o ").append(quoted(output.string()));
        return run_shell(command);
    }

    fs::path folder;
};

TEST_F(BenchChart, AWholeRunShowsEveryStartAndPackFigure) {
    ShellRun run =
        chart({samples / "sample_results.json", samples / "sample_reuse_check.json"}, folder / "figures.svg");
    ASSERT_EQ(run.status, 0) << run.output;
    std::string svg = read_text(folder / "figures.svg");
    for (const char* figure :
         {"Cold start (big corpus, empty folder)", "Warm start (big corpus, intact tree)",
          "Launch overhead (small corpus, warm)", "Simultaneous starts (big corpus)", "Pack (big corpus)",
          "Image writing (big corpus's attached data)", "Metadata warm start, big (793 files)",
          "Metadata cold start, big (793 files)", "Metadata warm start, many (6001 files)",
          "Metadata cold start, many (6001 files)"}) {
        EXPECT_NE(svg.find(figure), std::string::npos) << figure;
    }
    // The floors' bars, and beside the warm start its median with the range over the rounds
    // and its ratios as the table judges them (medians of the rounds' ratios).
    for (const char* text :
         {"floor with SHELL32", "zstd tool, one job", "cp of the image", "1,400 ms (252\u20131,678)",
          "3.230 \u00d7 floor; 1.943 \u00d7 floor with SHELL32 (target \u2264 1.10: MISSED)"}) {
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(run.output.find("left out"), std::string::npos) << run.output;

    // The same numbers draw the same bytes, so a committed chart changes only with its run.
    ASSERT_EQ(
        chart({samples / "sample_results.json", samples / "sample_reuse_check.json"}, folder / "again.svg")
            .status,
        0);
    EXPECT_EQ(read_text(folder / "again.svg"), svg);
}

TEST_F(BenchChart, APartialRunLeavesOutWhatItDidNotMeasure) {
    // What `run.sh --pack-only` writes, without the reuse check's file.
    ShellRun run = chart({samples / "sample_pack_results.json"}, folder / "figures.png");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(read_text(folder / "figures.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_NE(run.output.find("left out: Cold start"), std::string::npos) << run.output;

    run = chart({samples / "sample_pack_results.json"}, folder / "figures.svg");
    ASSERT_EQ(run.status, 0) << run.output;
    std::string svg = read_text(folder / "figures.svg");
    EXPECT_NE(svg.find("Pack (big corpus)"), std::string::npos);
    for (const char* absent : {"Cold start", "Warm start", "Image writing", "Metadata", "talvik.exe pack"}) {
        EXPECT_EQ(svg.find(absent), std::string::npos) << absent;
    }
}

TEST_F(BenchChart, NothingToDrawIsAnErrorAndWritesNothing) {
    std::ofstream(folder / "decoder-options.json") << R"({"rows": [{"figure": 4, "name": "full: stub bytes",
        "unit": "bytes", "runs": [178688], "median": 178688, "min": 178688, "max": 178688}]})";
    ShellRun run = chart({folder / "decoder-options.json"}, folder / "figures.svg");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("no start or pack figures"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(folder / "figures.svg"));

    run = chart({folder / "missing.json"}, folder / "figures.svg");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("cannot read"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(folder / "figures.svg"));
}

} // namespace
