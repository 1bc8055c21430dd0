#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The values the launcher puts in for {COMPANY}, {PRODUCT} and the version tokens.
struct TemplateValues {
    std::u16string company;
    std::u16string product;
    std::u16string version;
};

struct TemplateCheck {
    // A likely length of the expanded template, in UTF-16 units (see template_check.cpp
    // for the value assumed for each token).
    std::size_t estimated_length = 0;
    std::vector<std::string> warnings;
};

// The tokens the launcher expands, matched ignoring ASCII case.
bool is_template_token(std::u16string_view name);

// Checks a path template as the launcher will scan it. Throws ToolError for what would
// stop the launcher: an empty template, an unknown token (also {}). Warns where the
// launcher goes on but likely not as meant: a "}" outside a token (kept as literal
// text), a token that never closes (the launcher drops it), a "{" inside a token (the
// text before it is dropped), a template that gives a relative directory, a trailing
// backslash.
TemplateCheck check_path_template(std::u16string_view path_template, const TemplateValues& values);
