#pragma once

#include <string>
#include <string_view>

// Linux names and option texts are UTF-8; everything the launcher sees is UTF-16.
// Invalid UTF-8 (overlong forms, surrogates, values above U+10FFFF, cut sequences)
// throws ToolError "<what> is not valid UTF-8".
std::u16string utf8_to_utf16(std::string_view text, std::string_view what);

// Unpaired surrogates become U+FFFD; for display only.
std::string utf16_to_utf8(std::u16string_view text);
