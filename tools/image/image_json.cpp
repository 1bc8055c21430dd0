#include "tools/image/image_json.hpp"

#include "constants/image_descriptor.hpp"
#include "tools/host/json_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/pe_file.hpp"

namespace {

const char* subsystem_keyword(std::uint16_t subsystem) {
    return subsystem == subsystem_windows_console ? "console"
           : subsystem == subsystem_windows_gui   ? "windowed"
                                                  : "other";
}

const char* reuse_check_keyword(std::uint32_t reuse_check) {
    return reuse_check == reuse_check_crc        ? "crc"
           : reuse_check == reuse_check_metadata ? "metadata"
                                                 : "other";
}

const char* old_trees_keyword(std::uint32_t old_trees) {
    return old_trees == old_trees_remove ? "remove" : old_trees == old_trees_keep ? "keep" : "other";
}

const char* child_lifetime_keyword(std::uint32_t child_lifetime) {
    return child_lifetime == child_ends_with_launcher  ? "ends_with_launcher"
           : child_lifetime == child_outlives_launcher ? "outlives_launcher"
                                                       : "other";
}

const char* progress_window_keyword(std::uint32_t progress_window) {
    return progress_window == progress_window_when_slow ? "when_slow"
           : progress_window == progress_window_off     ? "off"
                                                        : "other";
}

std::string field(const char* name, const std::string& value) {
    return std::string("  \"") + name + "\": " + value + ",\n";
}

std::string word(const char* keyword) {
    return std::string("\"") + keyword + "\"";
}

} // namespace

std::string image_json_fields(const ImageFacts& facts) {
    return field("image_size", std::to_string(facts.image_size)) +
           field("attached_data_size", std::to_string(facts.attached_data_size)) +
           field("identity", facts.identity == 0 ? "null" : word(identity_text(facts.identity).c_str())) +
           field("template", json_string(facts.path_template)) +
           field("company", json_string(facts.company)) + field("product", json_string(facts.product)) +
           field("version", json_string(facts.version)) +
           field("subsystem", word(subsystem_keyword(facts.subsystem))) +
           field("reuse_check", word(reuse_check_keyword(facts.settings.reuse_check))) +
           field("old_trees", word(old_trees_keyword(facts.settings.old_trees))) +
           field("child_lifetime", word(child_lifetime_keyword(facts.settings.child_lifetime))) +
           field("progress_window", word(progress_window_keyword(facts.settings.progress_window)));
}
