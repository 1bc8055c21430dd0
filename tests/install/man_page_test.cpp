// talvik's manual page, made from its help texts and read back through groff: every word of
// the help survives, nothing in it reads as a roff request, and groff has nothing to warn about.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/cli/man_page.hpp"
#include "tools/cli/usage.hpp"
#include "tools/cli/version.hpp"

namespace {

namespace fs = std::filesystem;

struct Rendered {
    std::string text;
    std::string warnings;
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The page as plain text, one line as wide as any paragraph (so nothing is broken or
// hyphenated), with every warning groff has.
Rendered render(const std::string& page) {
    std::string pattern = (fs::temp_directory_path() / "talvik-man-XXXXXX").string();
    fs::path dir = mkdtemp(pattern.data());
    std::ofstream(dir / "talvik.1", std::ios::binary) << page;
    std::string command = "groff -man -Tascii -ww -P-cbou -rLL=5000n '" + (dir / "talvik.1").string() +
                          "' >'" + (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    Rendered rendered{read_text(dir / "out"), read_text(dir / "err")};
    fs::remove_all(dir);
    return rendered;
}

std::vector<std::string> words_of(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

// The words of a help text that the page must show in the same order: all but the
// "talvik:" of the name line and a "usage:" that heads the synopsis on its own line.
std::vector<std::string> help_words(const std::string& help) {
    std::istringstream lines(help);
    std::vector<std::string> words;
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "usage:") {
            continue;
        }
        for (const std::string& word : words_of(line)) {
            words.push_back(word);
        }
    }
    if (!words.empty() && words.front() == "talvik:") {
        words.erase(words.begin());
    }
    return words;
}

// The first word of `wanted` that `text` does not show in order, or "" when all are there.
std::string first_missing_word(const std::vector<std::string>& wanted, const std::vector<std::string>& text) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        while (at < text.size() && text[at] != wanted[i]) {
            ++at;
        }
        if (at == text.size()) {
            std::string context;
            for (std::size_t j = i >= 3 ? i - 3 : 0; j <= i; ++j) {
                context += wanted[j] + " ";
            }
            return "\"" + wanted[i] + "\" (after: " + context + ")";
        }
        ++at;
    }
    return "";
}

TEST(ManualPage, ShowsEveryWordOfBothHelpTextsInOrder) {
    Rendered rendered = render(manual_page(talvik_version));
    std::vector<std::string> wanted = help_words(talvik_usage);
    std::vector<std::string> pack = help_words(pack_usage);
    wanted.insert(wanted.end(), pack.begin(), pack.end());
    EXPECT_EQ(first_missing_word(wanted, words_of(rendered.text)), "") << rendered.text;
}

TEST(ManualPage, RendersWithoutWarnings) {
    EXPECT_EQ(render(manual_page(talvik_version)).warnings, "");
}

TEST(ManualPage, NamesTheToolAndItsVersion) {
    Rendered rendered = render(manual_page(talvik_version));
    EXPECT_NE(rendered.text.find("talvik - makes one-file launchers"), std::string::npos) << rendered.text;
    EXPECT_NE(rendered.text.find(std::string("talvik ") + talvik_version), std::string::npos)
        << rendered.text;
    EXPECT_NE(rendered.text.find("SYNOPSIS"), std::string::npos);
}

// One tagged item per option line of the help, its continuation lines kept as lines.
TEST(ManualPage, EachOptionIsOneItem) {
    std::string page = manual_page_from("talvik: t\n",
                                        "usage: talvik pack\n\n"
                                        "  -a, --all X   first line\n"
                                        "                second line\n"
                                        "  --bare\n"
                                        "  -b B          third\n",
                                        "9.9");
    Rendered rendered = render(page);
    EXPECT_EQ(rendered.warnings, "");
    std::size_t items = 0;
    for (std::size_t at = page.find(".TP\n"); at != std::string::npos; at = page.find(".TP\n", at + 1)) {
        ++items;
    }
    EXPECT_EQ(items, 3u) << page;
    EXPECT_NE(rendered.text.find("first line\n"), std::string::npos) << rendered.text;
    EXPECT_NE(rendered.text.find("second line\n"), std::string::npos) << rendered.text;
    EXPECT_NE(rendered.text.find("-a, --all X"), std::string::npos) << rendered.text;
}

// Help lines that begin with "." or "'", or hold backslashes, print as they stand.
TEST(ManualPage, TextThatLooksLikeRoffStaysText) {
    Rendered rendered = render(manual_page_from("talvik: t\n\n.sp 20\n'br\nC:\\dir\\fB\\e \\- \\\\\n",
                                                "usage: x\n\n  .verbatim\n  \\fIx\n", "9.9"));
    EXPECT_EQ(rendered.warnings, "");
    for (const char* shown : {".sp 20", "'br", "C:\\dir\\fB\\e \\- \\\\", ".verbatim", "\\fIx"}) {
        EXPECT_NE(rendered.text.find(shown), std::string::npos) << shown << "\n" << rendered.text;
    }
}

} // namespace
