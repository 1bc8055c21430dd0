#pragma once

#include <string>
#include <string_view>

// Windows' rules for the names of files and folders, as the file system of the target
// directory applies them.

// The upper case that NTFS compares names in: each UTF-16 unit by its own, through
// Unicode's simple upper-case mapping (tools/upcase_table.cpp), so "é" matches "É" but
// "ß" stays "ß", and surrogates stay as they are.
char16_t windows_upcase(char16_t unit);
std::u16string windows_upcase(std::u16string_view name);

// CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (also with the superscript digits 1, 2 and 3),
// CONIN$ and CONOUT$ in any case, alone or with any extension, blanks before the first dot
// ignored: Windows opens the device for "nul.txt" and "Com1 .log" as well.
bool is_reserved_device_name(std::u16string_view component);

// What keeps one component (between separators) from being a Windows name of its own:
// a character no Windows name may hold (<>:"/\|?* and controls), a device name, or a
// trailing dot or blank (which Windows drops). Empty when the component is fine.
std::string component_problem(std::u16string_view component);
