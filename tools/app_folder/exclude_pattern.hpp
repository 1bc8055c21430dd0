#pragma once

#include <string>
#include <string_view>
#include <vector>

// One --exclude PATTERN: a glob over a path relative to APP_DIR, with "/" (or "\")
// between components. "*" matches any run of characters within a component, "?" one
// character, and a component "**" any number of components, none included. A trailing
// "/" limits the pattern to folders. A pattern with no other "/" matches a name at any
// depth ("*.pdb" is "**/*.pdb"); one with a "/" inside, or starting with "/", is taken from
// APP_DIR. Names match ignoring case as Windows compares them (windows_names.hpp).
struct ExcludePattern {
    std::string text;                       // as given
    std::vector<std::u16string> components; // upper case; "**" kept as it is
    bool folders_only = false;
};

// Throws ToolError for an empty pattern, one that is not UTF-8, or one with an empty, "."
// or ".." component.
ExcludePattern parse_exclude_pattern(std::string_view text);

// components: the path's components below APP_DIR, in upper case (windows_upcase).
bool exclude_pattern_matches(const ExcludePattern& pattern, const std::vector<std::u16string>& components,
                             bool is_folder);
