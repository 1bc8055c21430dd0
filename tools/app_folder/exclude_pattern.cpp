#include "tools/app_folder/exclude_pattern.hpp"

#include "tools/app_folder/windows_names.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

namespace {

constexpr std::u16string_view any_components = u"**";

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// Units of the character at text[at]: a surrogate pair is one character.
std::size_t character_units(std::u16string_view text, std::size_t at) {
    return is_high_surrogate(text[at]) && at + 1 < text.size() ? 2 : 1;
}

// "*" and "?" within one component, by backtracking to the last "*": linear in practice,
// quadratic at worst, for names of at most 1023 units.
bool component_matches(std::u16string_view pattern, std::u16string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t star = std::u16string_view::npos, star_name = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            star_name = n;
        } else if (p < pattern.size() && pattern[p] == u'?') {
            ++p;
            n += character_units(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            star_name += character_units(name, star_name);
            n = star_name;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace

ExcludePattern parse_exclude_pattern(std::string_view text) {
    ExcludePattern pattern;
    pattern.text = text;
    std::string shown = "--exclude \"" + shown_text(text) + "\"";
    std::u16string units = utf8_to_utf16(text, shown);
    for (char16_t& unit : units) {
        if (unit == u'\\') {
            unit = u'/';
        }
    }
    if (units.empty() || units == u"/") {
        throw ToolError(shown + " is empty");
    }
    if (units.back() == u'/') {
        pattern.folders_only = true;
        units.pop_back();
    }
    bool anchored = units.front() == u'/' || units.find(u'/') != std::u16string::npos;
    if (units.front() == u'/') {
        units.erase(0, 1);
    }
    if (!anchored) {
        pattern.components.emplace_back(any_components);
    }
    for (std::size_t start = 0;;) {
        std::size_t end = units.find(u'/', start);
        std::u16string component =
            units.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (component.empty() || component == u"." || component == u"..") {
            throw ToolError(shown + " has an empty, \".\" or \"..\" part");
        }
        pattern.components.push_back(windows_upcase(component));
        if (end == std::u16string::npos) {
            break;
        }
        start = end + 1;
    }
    return pattern;
}

bool exclude_pattern_matches(const ExcludePattern& pattern, const std::vector<std::u16string>& components,
                             bool is_folder) {
    if (pattern.folders_only && !is_folder) {
        return false;
    }
    const std::vector<std::u16string>& globs = pattern.components;
    // reachable[c]: the globs so far can match the first c components.
    std::vector<char> reachable(components.size() + 1, 0);
    reachable[0] = 1;
    for (const std::u16string& glob : globs) {
        std::vector<char> next(components.size() + 1, 0);
        for (std::size_t c = 0; c <= components.size(); ++c) {
            if (!reachable[c]) {
                continue;
            }
            if (glob == any_components) {
                for (std::size_t rest = c; rest <= components.size(); ++rest) {
                    next[rest] = 1;
                }
                break;
            }
            if (c < components.size() && component_matches(glob, components[c])) {
                next[c + 1] = 1;
            }
        }
        reachable.swap(next);
    }
    return reachable[components.size()] != 0;
}
