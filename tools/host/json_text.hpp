#pragma once

#include <string>
#include <string_view>

// JSON string literals (RFC 8259) for the documents of --json, quotes included: '"' and '\'
// escaped, control characters as \n, \r, \t, \b, \f or \u00XX, everything else as UTF-8.
//
// From UTF-16 (names and the image's texts): an unpaired surrogate, which Windows allows in
// a name but UTF-8 cannot carry, is written as its own \uDXXX escape, so that no name is
// changed; strict parsers may refuse such a document.
std::string json_string(std::u16string_view text);

// From UTF-8 (paths given on the command line): bytes that are not UTF-8 become U+FFFD.
std::string json_string_from_utf8(std::string_view text);
