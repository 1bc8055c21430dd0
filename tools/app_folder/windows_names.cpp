#include "tools/app_folder/windows_names.hpp"

#include "tools/app_folder/upcase_table.hpp"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::u16string_view, 6> device_names = {u"CON", u"PRN",    u"AUX",
                                                             u"NUL", u"CONIN$", u"CONOUT$"};
constexpr std::u16string_view numbered_devices[] = {u"COM", u"LPT"};
constexpr std::u16string_view device_number_units = u"0123456789\u00B9\u00B2\u00B3";

bool refused_in_name(char16_t unit) {
    return unit < 0x20 || std::u16string_view(u"<>:\"/\\|?*").find(unit) != std::u16string_view::npos;
}

} // namespace

char16_t windows_upcase(char16_t unit) {
    const UpcaseRun* end = upcase_runs + upcase_run_count;
    const UpcaseRun* run =
        std::upper_bound(upcase_runs, end, unit, [](char16_t u, const UpcaseRun& r) { return u < r.first; });
    if (run == upcase_runs) {
        return unit;
    }
    --run;
    if (unit > run->last || (unit - run->first) % run->stride != 0) {
        return unit;
    }
    return static_cast<char16_t>(unit + run->delta);
}

std::u16string windows_upcase(std::u16string_view name) {
    std::u16string upper(name);
    for (char16_t& unit : upper) {
        unit = windows_upcase(unit);
    }
    return upper;
}

bool is_reserved_device_name(std::u16string_view component) {
    std::u16string base = windows_upcase(component.substr(0, component.find(u'.')));
    while (!base.empty() && base.back() == u' ') {
        base.pop_back();
    }
    if (std::find(device_names.begin(), device_names.end(), base) != device_names.end()) {
        return true;
    }
    for (std::u16string_view prefix : numbered_devices) {
        if (base.size() == prefix.size() + 1 && base.starts_with(prefix) &&
            device_number_units.find(base.back()) != std::u16string_view::npos) {
            return true;
        }
    }
    return false;
}

std::string component_problem(std::u16string_view component) {
    if (std::any_of(component.begin(), component.end(), refused_in_name)) {
        return "has a character that Windows file names cannot hold";
    }
    if (is_reserved_device_name(component)) {
        return "is a device name on Windows";
    }
    // Windows drops a trailing dot or blank, so the file would land under another name.
    if (!component.empty() && (component.back() == u'.' || component.back() == u' ')) {
        return "ends with a dot or a blank, which Windows drops";
    }
    return {};
}
