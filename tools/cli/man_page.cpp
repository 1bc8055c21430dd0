#include "tools/cli/man_page.hpp"

#include "tools/cli/usage.hpp"

#include <vector>

namespace {

using Paragraph = std::vector<std::string_view>;

std::vector<Paragraph> paragraphs_of(std::string_view text) {
    std::vector<Paragraph> paragraphs;
    Paragraph current;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.find_first_not_of(' ') == std::string_view::npos) {
            if (!current.empty()) {
                paragraphs.push_back(current);
            }
            current.clear();
        } else {
            current.push_back(line);
        }
    }
    if (!current.empty()) {
        paragraphs.push_back(current);
    }
    return paragraphs;
}

std::size_t indent_of(std::string_view line) {
    return line.find_first_not_of(' ');
}

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Text as roff prints it: backslashes and minus signs escaped (a bare "-" may print as a
// hyphen, which breaks copied options), and a leading "." or "'" kept from reading as a request.
std::string escaped(std::string_view text) {
    std::string result;
    if (!text.empty() && (text.front() == '.' || text.front() == '\'')) {
        result += "\\&";
    }
    for (char c : text) {
        if (c == '\\') {
            result += "\\e";
        } else if (c == '-') {
            result += "\\-";
        } else {
            result += c;
        }
    }
    return result;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

constexpr std::size_t option_indent = 2;

bool is_option_line(std::string_view line) {
    return indent_of(line) == option_indent && line[option_indent] == '-';
}

bool is_option_list(const Paragraph& paragraph) {
    if (!is_option_line(paragraph.front())) {
        return false;
    }
    for (std::string_view line : paragraph) {
        if (indent_of(line) < option_indent) {
            return false;
        }
    }
    return true;
}

bool is_verbatim(const Paragraph& paragraph) {
    if (starts_with(paragraph.front(), "usage:")) {
        return true;
    }
    for (std::string_view line : paragraph) {
        if (indent_of(line) == 0) {
            return false;
        }
    }
    return true;
}

// "-o, --output OUT.exe": options in bold, their arguments in italics.
std::string option_tag(std::string_view tag) {
    std::string result;
    while (!tag.empty()) {
        std::size_t end = tag.find(' ');
        std::string_view word = tag.substr(0, end);
        tag = end == std::string_view::npos ? std::string_view{} : trimmed(tag.substr(end));
        std::string_view comma = word.ends_with(',') ? "," : "";
        word.remove_suffix(comma.size());
        if (!result.empty()) {
            result += ' ';
        }
        result += word.starts_with('-') ? "\\fB" : "\\fI";
        result += escaped(word);
        result += "\\fR";
        result += comma;
    }
    return result;
}

// An option line holds the tag, two or more blanks, then the start of its description.
void write_option_list(std::string& page, const Paragraph& paragraph) {
    for (std::string_view line : paragraph) {
        if (is_option_line(line)) {
            std::string_view rest = line.substr(option_indent);
            std::size_t gap = rest.find("  ");
            page += ".TP\n" + option_tag(trimmed(rest.substr(0, gap))) + "\n";
            rest = gap == std::string_view::npos ? std::string_view{} : trimmed(rest.substr(gap));
            if (!rest.empty()) {
                page += escaped(rest) + "\n";
            }
        } else {
            // The help breaks an option's text where it means to (a default on a line of
            // its own), so the page breaks there too.
            page += ".br\n" + escaped(trimmed(line)) + "\n";
        }
    }
}

void write_verbatim(std::string& page, const Paragraph& paragraph) {
    page += ".PP\n.nf\n";
    for (std::string_view line : paragraph) {
        page += escaped(line) + "\n";
    }
    page += ".fi\n";
}

void write_filled(std::string& page, const Paragraph& paragraph) {
    page += ".PP\n";
    for (std::string_view line : paragraph) {
        page += escaped(trimmed(line)) + "\n";
    }
}

void write_paragraphs(std::string& page, const std::vector<Paragraph>& paragraphs, std::size_t first) {
    for (std::size_t i = first; i < paragraphs.size(); ++i) {
        if (is_option_list(paragraphs[i])) {
            write_option_list(page, paragraphs[i]);
        } else if (is_verbatim(paragraphs[i])) {
            write_verbatim(page, paragraphs[i]);
        } else {
            write_filled(page, paragraphs[i]);
        }
    }
}

} // namespace

std::string manual_page_from(std::string_view talvik_help, std::string_view pack_help,
                             std::string_view version) {
    std::vector<Paragraph> general = paragraphs_of(talvik_help);
    std::string page = ".TH TALVIK 1 \"\" \"talvik " + escaped(version) + "\" \"User Commands\"\n";
    // Ragged right and no hyphenation: option names and tokens must not be split.
    page += ".ad l\n.nh\n";

    // "talvik: makes ..." is the name line; without that form, the whole line is the summary.
    std::size_t next = 0;
    std::string_view summary;
    if (!general.empty() && general[0].size() == 1) {
        summary = general[0][0];
        if (starts_with(summary, "talvik: ")) {
            summary.remove_prefix(8);
        }
        next = 1;
    }
    page += ".SH NAME\ntalvik \\- " + escaped(summary) + "\n";

    if (next < general.size() && starts_with(general[next].front(), "usage:")) {
        Paragraph synopsis = general[next];
        if (trimmed(synopsis.front()) == "usage:") {
            synopsis.erase(synopsis.begin());
        }
        page += ".SH SYNOPSIS\n";
        write_verbatim(page, synopsis);
        ++next;
    }
    page += ".SH DESCRIPTION\n";
    write_paragraphs(page, general, next);

    page += ".SH \"TALVIK PACK\"\n";
    write_paragraphs(page, paragraphs_of(pack_help), 0);
    return page;
}

std::string manual_page(std::string_view version) {
    return manual_page_from(talvik_usage, pack_usage, version);
}
