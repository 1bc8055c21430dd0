#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Inside talvik every name and option text is UTF-8: Linux hands them over so, and the
// Windows platform layer converts its UTF-16 arguments and names. Everything the launcher
// sees is UTF-16.
// Invalid UTF-8 (overlong forms, surrogates, values above U+10FFFF, cut sequences)
// throws ToolError "<what> is not valid UTF-8".
std::u16string utf8_to_utf16(std::string_view text, std::string_view what);

// The same, with U+FFFD for each byte that is not part of valid UTF-8; for matching
// names that are checked later.
std::u16string utf8_to_utf16_replacing(std::string_view text);

// Unpaired surrogates become U+FFFD; for listings.
std::string utf16_to_utf8(std::u16string_view text);

// Texts as messages show them, always on one line: control characters become \n, \r,
// \t or \xNN, C1 controls, U+2028, U+2029 and unpaired surrogates \uNNNN, and bytes that
// are not UTF-8 \xNN. A backslash stays as it is (it separates entry names).
std::string shown_text(std::string_view text);
std::string shown_name(std::u16string_view name);
std::string shown_path(const std::filesystem::path& path);
