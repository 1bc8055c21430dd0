#include "tools/host/unicode_text.hpp"

#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"

#include <cstdio>

namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

bool is_surrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// The character that starts at text[at] and its length in bytes; a length of 0 when the
// bytes there are not valid UTF-8 (overlong forms, surrogates, values above U+10FFFF,
// cut sequences).
std::size_t decode_utf8(std::string_view text, std::size_t at, char32_t& c) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    char32_t smallest;
    if (lead < 0x80) {
        length = 1, c = lead, smallest = 0;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        unsigned char byte = static_cast<unsigned char>(text[at + k]);
        if (!is_continuation(byte)) {
            return 0;
        }
        c = c << 6 | (byte & 0x3F);
    }
    if (c < smallest || c > 0x10FFFF || is_surrogate(c)) {
        return 0;
    }
    return length;
}

// Calls take(c) for each character of text and bad(byte) for each byte that is not part
// of valid UTF-8.
template <typename Take, typename Bad> void walk_utf8(std::string_view text, Take take, Bad bad) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        std::size_t length = decode_utf8(text, i, c);
        if (length == 0) {
            bad(static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            take(c);
            i += length;
        }
    }
}

// The character at text[at], moving at onto the second unit of a surrogate pair; an
// unpaired surrogate comes back as it is.
char32_t decode_utf16(std::u16string_view text, std::size_t& at) {
    char32_t c = text[at];
    if (c >= 0xD800 && c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
        text[at + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[at + 1] - 0xDC00);
        ++at;
    }
    return c;
}

void append_utf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | c >> 10);
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void append_escape(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

// Control characters, and the two Unicode line breaks that some terminals honour, would
// split a message line or hide part of it.
void append_shown(std::string& out, char32_t c) {
    if (c == '\n') {
        out += "\\n";
    } else if (c == '\r') {
        out += "\\r";
    } else if (c == '\t') {
        out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
        append_escape(out, "\\x%02x", static_cast<unsigned>(c));
    } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || is_surrogate(c)) {
        append_escape(out, "\\u%04X", static_cast<unsigned>(c));
    } else {
        append_utf8(out, c);
    }
}

} // namespace

std::u16string utf8_to_utf16(std::string_view text, std::string_view what) {
    std::u16string out;
    walk_utf8(
        text, [&](char32_t c) { append_utf16(out, c); },
        [&](unsigned char) { throw ToolError(std::string(what) + " is not valid UTF-8"); });
    return out;
}

std::u16string utf8_to_utf16_replacing(std::string_view text) {
    std::u16string out;
    walk_utf8(
        text, [&](char32_t c) { append_utf16(out, c); },
        [&](unsigned char) { append_utf16(out, replacement_character); });
    return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = decode_utf16(text, i);
        append_utf8(out, is_surrogate(c) ? replacement_character : c);
    }
    return out;
}

std::string shown_text(std::string_view text) {
    std::string out;
    walk_utf8(
        text, [&](char32_t c) { append_shown(out, c); },
        [&](unsigned char byte) { append_escape(out, "\\x%02x", byte); });
    return out;
}

std::string shown_name(std::u16string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        append_shown(out, decode_utf16(name, i));
    }
    return out;
}

std::string shown_path(const std::filesystem::path& path) {
    return shown_text(path_to_utf8(path));
}
