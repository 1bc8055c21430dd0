#include "tools/list/list_command.hpp"

#include "payload/entry_listing.hpp"
#include "tools/host/file_bytes.hpp"
#include "tools/host/json_text.hpp"
#include "tools/host/platform.hpp"
#include "tools/host/progress_line.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/image_json.hpp"
#include "tools/image/pe_file.hpp"
#include "tools/image/pe_layout.hpp"

#include <cinttypes>
#include <cstdio>

namespace {

// What a launcher image's Subsystem field makes it; talvik writes only the first two.
std::string reuse_check_name(std::uint32_t reuse_check) {
    if (reuse_check == reuse_check_crc) {
        return "crc";
    }
    if (reuse_check == reuse_check_metadata) {
        return "metadata";
    }
    return "other (" + std::to_string(reuse_check) + ", taken as crc)";
}

std::string old_trees_name(std::uint32_t old_trees) {
    return old_trees == old_trees_remove ? "remove"
           : old_trees == old_trees_keep ? "keep"
                                         : "keep (other value)";
}

std::string child_lifetime_name(std::uint32_t child_lifetime) {
    return child_lifetime == child_outlives_launcher ? "outlives the launcher" : "ends with the launcher";
}

std::string progress_window_name(std::uint32_t progress_window, std::uint16_t subsystem) {
    if (subsystem != subsystem_windows_gui) {
        return "none (console image)";
    }
    return progress_window == progress_window_off ? "off" : "window when a start is slow";
}

std::string subsystem_name(std::uint16_t subsystem) {
    if (subsystem == subsystem_windows_console) {
        return "console";
    }
    if (subsystem == subsystem_windows_gui) {
        return "windowed";
    }
    return "other (" + std::to_string(subsystem) + ")";
}

// An image read for listing: its constants and what its headers and file say.
struct ListedImage {
    ImageConstants constants;
    std::uint16_t subsystem = 0;
    std::uint64_t file_size = 0;
};

ListedImage read_listed_image(const std::filesystem::path& image_file) {
    Bytes image = read_file_bytes(image_file, "the image", max_image_file_size);
    ListedImage listed;
    listed.subsystem = parse_pe_image(image).subsystem;
    listed.file_size = image.size();
    // Only the attached data is kept while it decodes, cut out of the image's own bytes.
    listed.constants = read_image_constants(std::move(image));
    return listed;
}

// The human listing: aligned lines, names escaped onto one line.
class TextListing {
  public:
    static constexpr const char* mismatch_mark = "marked !";
    explicit TextListing(std::ostream& out) : out_(out) {}

    void head(const ListedImage& image) {
        const ImageConstants& constants = image.constants;
        out_ << "template  " << shown_name(constants.path_template) << "\n"
             << "company   " << shown_name(constants.company_name) << "\n"
             << "product   " << shown_name(constants.product_name) << "\n"
             << "version   " << shown_name(constants.version_string) << "\n"
             << "subsystem " << subsystem_name(image.subsystem) << "\n"
             << "attached  " << constants.attached_data.size() << " bytes, identity "
             << (constants.attached_data_identity == 0 ? std::string("none")
                                                       : identity_text(constants.attached_data_identity))
             << "\n"
             << "reuse     " << reuse_check_name(constants.reuse_check) << "\n"
             << "old trees " << old_trees_name(constants.old_trees) << "\n"
             << "child     " << child_lifetime_name(constants.child_lifetime) << "\n"
             << "progress  " << progress_window_name(constants.progress_window, image.subsystem) << "\n";
    }

    void entry(const ListedEntry& entry) {
        char line[64];
        std::snprintf(line, sizeof line, "%14" PRIu64 "  %08" PRIx32 "%s  ", entry.size, entry.checksum,
                      entry.checksum_matches ? "" : "!");
        out_ << line << shown_name(entry.name) << "\n";
    }

    void tail(const ListedStream& listed) {
        out_ << listed.entries << (listed.entries == 1 ? " entry, " : " entries, ") << listed.body_bytes
             << " bytes\n";
    }

  private:
    std::ostream& out_;
};

// The document of --json (docs/json.md), written as the entries decode: one entry a line.
class JsonListing {
  public:
    static constexpr const char* mismatch_mark = "\"checksum_matches\": false";
    explicit JsonListing(std::ostream& out) : out_(out) {}

    void head(const ListedImage& image) {
        const ImageConstants& constants = image.constants;
        ImageFacts facts;
        facts.image_size = image.file_size;
        facts.attached_data_size = constants.attached_data.size();
        facts.identity = constants.attached_data_identity;
        facts.path_template = constants.path_template;
        facts.company = constants.company_name;
        facts.product = constants.product_name;
        facts.version = constants.version_string;
        facts.subsystem = image.subsystem;
        facts.settings = constants;
        out_ << "{\n" << image_json_fields(facts) << "  \"entries\": [";
    }

    void entry(const ListedEntry& entry) {
        char fields[96];
        std::snprintf(fields, sizeof fields,
                      ", \"size\": %" PRIu64 ", \"checksum\": \"%08" PRIx32 "\", \"checksum_matches\": %s}",
                      entry.size, entry.checksum, entry.checksum_matches ? "true" : "false");
        out_ << (first_ ? "\n" : ",\n") << "    {\"name\": " << json_string(entry.name) << fields;
        first_ = false;
    }

    void tail(const ListedStream& listed) {
        out_ << (first_ ? "]" : "\n  ]") << ",\n  \"entry_count\": " << listed.entries
             << ",\n  \"uncompressed_bytes\": " << listed.body_bytes << "\n}\n";
    }

  private:
    std::ostream& out_;
    bool first_ = true;
};

template <typename Listing> void list_with(Listing& listing, const ListedImage& image, std::ostream& out) {
    listing.head(image);
    // The progress line shares a terminal with the entries, so it is cleared before each
    // one; it matters for long bodies, and for a block made to decode for ever it is the
    // sign that the listing works (Ctrl+C stops it).
    ProgressLine progress(stderr_is_console());
    ListedStream listed = list_attached_data(
        image.constants.attached_data,
        [&](const ListedEntry& entry) {
            progress.finish();
            listing.entry(entry);
            if (!out) {
                throw ToolError("cannot write the listing");
            }
        },
        [&](std::uint64_t entries, std::uint64_t bytes) { progress.decoding(entries, bytes); });
    progress.finish();
    listing.tail(listed);
    out.flush();
    if (listed.mismatches > 0) {
        throw ToolError(std::to_string(listed.mismatches) + " entries (" + Listing::mismatch_mark +
                        ") do not match their checksum");
    }
}

} // namespace

void list_image(const std::filesystem::path& image_file, std::ostream& out, ListFormat format) {
    ListedImage image = read_listed_image(image_file);
    if (format == ListFormat::json) {
        JsonListing listing(out);
        list_with(listing, image, out);
    } else {
        TextListing listing(out);
        list_with(listing, image, out);
    }
}
