#pragma once

#include <string>
#include <string_view>

// talvik's manual page (roff, man macros), made from the same texts as `talvik --help` and
// `talvik pack --help`, so that the two cannot drift apart:
// - the first line of the talvik help ("talvik: SUMMARY") gives NAME;
// - a paragraph that starts with "usage:" stays as it is (no filling), the first one as
//   SYNOPSIS;
// - a paragraph of lines that start with "  -" and their deeper-indented continuations is
//   an option list, one tagged item per option, its continuation lines kept as lines;
// - any other paragraph of indented lines stays as it is, and the rest is filled text.
std::string manual_page(std::string_view version);

// The same for any two help texts (the talvik one, then the pack one).
std::string manual_page_from(std::string_view talvik_help, std::string_view pack_help,
                             std::string_view version);
