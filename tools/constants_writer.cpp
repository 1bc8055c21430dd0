#include "tools/constants_writer.hpp"

#include "tools/constants_layout.hpp"
#include "tools/report.hpp"

#include <array>
#include <cstdio>

namespace {

constexpr std::size_t shorts_per_line = 16;

// Comments show texts in printable ASCII without "*" or "\", so that no text can close
// the comment or continue a line for the preprocessor.
std::string comment_text(std::u16string_view text) {
    std::string shown;
    for (char16_t unit : text)
        shown += unit >= 0x20 && unit < 0x7F && unit != u'*' && unit != u'\\' ? static_cast<char>(unit)
                 : unit == u'\\'                                              ? '/'
                                                                              : '?';
    return shown;
}

void put_text(std::string& out, const char* symbol, std::u16string_view text) {
    out += "\n    /* ";
    out += comment_text(text);
    out += " */\n    .globl ";
    out += symbol;
    out += "\n    .p2align 1\n";
    out += symbol;
    out += ":";
    std::size_t count = 0;
    auto put_unit = [&](unsigned unit) {
        out += count % shorts_per_line == 0 ? "\n    .short " : ", ";
        out += std::to_string(unit);
        ++count;
    };
    for (char16_t unit : text)
        put_unit(unit);
    put_unit(0);
    out += "\n";
}

} // namespace

std::string assembler_string_literal(std::string_view bytes) {
    std::string literal = "\"";
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            literal += '\\';
            literal += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            literal += c;
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\%03o", byte);
            literal += escape;
        }
    }
    return literal + "\"";
}

std::string write_constants_assembly(const BuildConstants& constants) {
    if (!constants.attached_data_file.is_absolute())
        throw ToolError("internal: the attached data file must be given by an absolute path");
    static constexpr std::array<const char*, constants_index_slots> slot_symbols = {
        "talvik_path_template",  "talvik_company_name",  "talvik_product_name",
        "talvik_version_string", "talvik_attached_data", "talvik_attached_data_length"};

    std::string out = "/* Build constants of one launcher image, written by talvik pack. */\n"
                      "    .section .rdata,\"dr\"\n"
                      "    .p2align 4\n"
                      "talvik_constants_index:\n"
                      "    .ascii ";
    out += assembler_string_literal(constants_index_tag);
    out += "\n";
    for (const char* symbol : slot_symbols) {
        out += "    .quad ";
        out += symbol;
        out += " - talvik_constants_index\n";
    }
    put_text(out, "talvik_path_template", constants.path_template);
    put_text(out, "talvik_company_name", constants.company_name);
    put_text(out, "talvik_product_name", constants.product_name);
    put_text(out, "talvik_version_string", constants.version_string);
    out += "\n    .globl talvik_attached_data\n"
           "    .p2align 4\n"
           "talvik_attached_data:\n"
           "    .incbin ";
    out += assembler_string_literal(constants.attached_data_file.string());
    out += "\ntalvik_attached_data_end:\n"
           "\n    .globl talvik_attached_data_length\n"
           "    .p2align 3\n"
           "talvik_attached_data_length:\n"
           "    .quad talvik_attached_data_end - talvik_attached_data\n";
    return out;
}
