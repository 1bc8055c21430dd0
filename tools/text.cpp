#include "tools/text.hpp"

#include "tools/report.hpp"

namespace {

constexpr char32_t replacement_character = 0xFFFD;

[[noreturn]] void throw_invalid(std::string_view what) {
    throw ToolError(std::string(what) + " is not valid UTF-8");
}

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
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

} // namespace

std::u16string utf8_to_utf16(std::string_view text, std::string_view what) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t c;
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
            throw_invalid(what);
        }
        if (i + length > text.size())
            throw_invalid(what);
        for (std::size_t k = 1; k < length; ++k) {
            unsigned char byte = static_cast<unsigned char>(text[i + k]);
            if (!is_continuation(byte))
                throw_invalid(what);
            c = c << 6 | (byte & 0x3F);
        }
        if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            throw_invalid(what);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 | c >> 10);
            out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = replacement_character;
        }
        append_utf8(out, c);
    }
    return out;
}
