#pragma once

#include <stddef.h>

// Whether an entry name, joined to the target directory with one backslash, names a file
// inside that directory. Names come from attached data that anyone may have made, and the
// join checks nothing, so a name is refused when it:
// - holds a ':' (a drive, "C:x", or a stream, "a:b") or a '/' (Windows takes it as a separator,
//   but directories are made at backslashes only);
// - has an empty component: a leading backslash (absolute, "\x", or a UNC or device path), a
//   trailing one, or two in a row ("a\\b");
// - has a component that ends in a dot or a blank: "." and "..", and names that Windows trims
//   to one of them (".. ") or to another name.
// talvik pack never writes such names, so no valid image changes. The unit type is wchar_t
// in the launcher, char16_t on the host; both sides apply this one rule.
template <typename Unit> constexpr bool entry_name_stays_in_tree(const Unit* name, size_t length) {
    if (length == 0) {
        return false;
    }
    size_t component_start = 0;
    for (size_t at = 0; at <= length; ++at) {
        if (at < length && name[at] != Unit('\\')) {
            if (name[at] == Unit(':') || name[at] == Unit('/')) {
                return false;
            }
            continue;
        }
        if (at == component_start) {
            return false;
        }
        Unit last = name[at - 1];
        if (last == Unit('.') || last == Unit(' ')) {
            return false;
        }
        component_start = at + 1;
    }
    return true;
}
