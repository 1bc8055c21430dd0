#include "tools/pack/template_check.hpp"

#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <array>

namespace {

// Likely expansions for the length estimate. A profile folder is taken as
// "C:\Users\" and a 20-character user name; the launcher's own path as 100 units.
constexpr std::size_t estimated_home_length = 9 + 20;                          // C:\Users\<20>
constexpr std::size_t estimated_cache_dir_length = estimated_home_length + 14; // \AppData\Local
constexpr std::size_t estimated_temp_length = estimated_cache_dir_length + 5;  // \Temp
constexpr std::size_t estimated_program_length = 100;
constexpr std::size_t process_id_digits = 10;
constexpr std::size_t random_value_length = 11;
constexpr std::size_t time_us_digits = 6;
constexpr std::size_t filetime_digits = 18;

enum class Token {
    temp,
    program,
    program_base,
    program_dir,
    pid,
    home,
    cache_dir,
    company,
    product,
    version,
    file_version,
    product_version,
    random,
    time_us,
    time
};

struct TokenName {
    std::u16string_view name;
    Token token;
};

constexpr std::array<TokenName, 15> token_names = {{
    {u"TEMP", Token::temp},
    {u"PROGRAM", Token::program},
    {u"PROGRAM_BASE", Token::program_base},
    {u"PROGRAM_DIR", Token::program_dir},
    {u"PID", Token::pid},
    {u"HOME", Token::home},
    {u"CACHE_DIR", Token::cache_dir},
    {u"COMPANY", Token::company},
    {u"PRODUCT", Token::product},
    {u"VERSION", Token::version},
    {u"FILE_VERSION", Token::file_version},
    {u"PRODUCT_VERSION", Token::product_version},
    {u"RANDOM", Token::random},
    {u"TIME_US", Token::time_us},
    {u"TIME", Token::time},
}};

char16_t ascii_upper(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? unit - (u'a' - u'A') : unit;
}

const TokenName* find_token(std::u16string_view name) {
    for (const TokenName& entry : token_names) {
        if (entry.name.size() != name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            same = ascii_upper(name[i]) == entry.name[i];
        }
        if (same) {
            return &entry;
        }
    }
    return nullptr;
}

std::size_t estimated_length(Token token, const TemplateValues& values) {
    switch (token) {
    case Token::temp:
        return estimated_temp_length;
    case Token::program:
    case Token::program_base:
    case Token::program_dir:
        return estimated_program_length;
    case Token::pid:
        return process_id_digits;
    case Token::home:
        return estimated_home_length;
    case Token::cache_dir:
        return estimated_cache_dir_length;
    case Token::company:
        return values.company.size();
    case Token::product:
        return values.product.size();
    case Token::version:
    case Token::file_version:
    case Token::product_version:
        return values.version.size();
    case Token::random:
        return random_value_length;
    case Token::time_us:
        return time_us_digits;
    case Token::time:
        return filetime_digits;
    }
    return 0;
}

bool is_drive_start(std::u16string_view text) {
    return text.size() >= 2 && text[1] == u':' && ascii_upper(text[0]) >= u'A' &&
           ascii_upper(text[0]) <= u'Z';
}

} // namespace

bool is_template_token(std::u16string_view name) {
    return find_token(name) != nullptr;
}

TemplateCheck check_path_template(std::u16string_view path_template, const TemplateValues& values) {
    if (path_template.empty()) {
        throw ToolError("the template is empty");
    }
    TemplateCheck check;
    std::string shown = shown_name(path_template);
    bool in_token = false;
    bool stray_brace_warned = false;
    std::size_t token_start = 0;
    for (std::size_t i = 0; i < path_template.size(); ++i) {
        char16_t unit = path_template[i];
        if (unit == u'{') {
            if (in_token) {
                check.warnings.push_back(
                    "template \"" + shown + "\": the text \"" +
                    shown_name(path_template.substr(token_start - 1, i - token_start + 1)) +
                    "\" before a second \"{\" is dropped by the launcher");
            }
            in_token = true;
            token_start = i + 1;
        } else if (unit == u'}' && !in_token) {
            if (!stray_brace_warned) {
                check.warnings.push_back("template \"" + shown +
                                         "\": a \"}\" outside a token stays in the folder name as it is");
            }
            stray_brace_warned = true;
            ++check.estimated_length;
        } else if (unit == u'}') {
            std::u16string_view name = path_template.substr(token_start, i - token_start);
            const TokenName* token = find_token(name);
            if (!token) {
                throw ToolError("template \"" + shown + "\": unknown token {" + shown_name(name) + "}");
            }
            check.estimated_length += estimated_length(token->token, values);
            in_token = false;
        } else if (!in_token) {
            ++check.estimated_length;
        }
    }
    if (in_token) {
        check.warnings.push_back("template \"" + shown + "\": the token \"" +
                                 shown_name(path_template.substr(token_start - 1)) +
                                 "\" never closes; the launcher drops it");
    }
    if (path_template[0] != u'{' && path_template[0] != u'\\' && !is_drive_start(path_template)) {
        check.warnings.push_back(
            "template \"" + shown +
            "\" starts with neither a token nor a drive: the folder will be relative to the "
            "current directory of each start");
    }
    if (path_template.back() == u'\\') {
        check.warnings.push_back("template \"" + shown + "\" ends with a backslash");
    }
    return check;
}
