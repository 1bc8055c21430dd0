#pragma once

#include <filesystem>
#include <string>
#include <string_view>

struct BuildConstants {
    std::u16string path_template;
    std::u16string company_name;
    std::u16string product_name;
    std::u16string version_string;
    // Included as it stands with .incbin: an absolute path, so the assembler's
    // working directory does not matter.
    std::filesystem::path attached_data_file;
};

// The assembler source (for x86_64-w64-mingw32-gcc -c, so it goes through the C
// preprocessor) that defines the launcher's build constants in .rdata: the four texts
// as UTF-16 .short arrays with their NUL, the attached data by .incbin, and its length
// computed from labels around it, all behind the index of constants_layout.hpp.
std::string write_constants_assembly(const BuildConstants& constants);

// The text as a GNU assembler string literal: quotes, backslashes and every byte
// outside printable ASCII written as escapes, which the C preprocessor also leaves alone.
std::string assembler_string_literal(std::string_view bytes);
