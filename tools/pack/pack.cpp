#include "tools/pack/pack.hpp"

#include "tools/host/file_bytes.hpp"

#include "payload/entry_listing.hpp"
#include "payload/format.hpp"
#include "payload/producer.hpp"
#include "resources/icon_group.hpp"
#include "resources/image_resources.hpp"
#include "tools/app_folder/folder_scan.hpp"
#include "tools/host/json_text.hpp"
#include "tools/host/platform.hpp"
#include "tools/host/progress_line.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/tool_messages.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_json.hpp"
#include "tools/image/image_writer.hpp"
#include "tools/image/pe_file.hpp"
#include "tools/pack/image_metadata.hpp"
#include "tools/pack/pending_output.hpp"
#include "tools/pack/template_check.hpp"

#include <chrono>
#include <cstdio>
#include <zstd.h>

namespace fs = std::filesystem;

namespace {

std::vector<Bytes> icon_images(const std::vector<fs::path>& icons) {
    if (icons.empty()) {
        return default_icon_images();
    }
    std::vector<IconFile> files;
    for (const fs::path& icon : icons) {
        files.push_back({shown_path(icon), read_file_bytes(icon, "the icon", max_image_size)});
    }
    return arrange_icon_images(files);
}

std::string default_product(const PackOptions& options) {
    std::string name;
    if (options.app_dir) {
        std::error_code error;
        fs::path folder = fs::weakly_canonical(fs::absolute(*options.app_dir), error);
        name = path_to_utf8((error ? *options.app_dir : folder).filename());
    } else {
        name = path_to_utf8(options.output.stem());
    }
    return name.empty() ? "app" : name;
}

// After the summary, and only when not quiet: a product name taken from a folder is often
// a poor one (every npm package unpacks to
// "package"), and it names the default template's folders and the version block.
void warn_about_default_product(const PackOptions& options, const std::string& product) {
    if (options.product) {
        return;
    }
    print_warning("no --product given: the product name is \"" + product + "\", from the " +
                  (options.app_dir ? "app folder's name" : "output's name") +
                  "; give --product to choose it");
}

void warn_about_long_paths(const std::vector<AppFile>& files, std::size_t template_length) {
    std::size_t too_long = 0;
    const AppFile* longest = nullptr;
    for (const AppFile& file : files) {
        if (template_length + 1 + file.name.size() <= max_entry_path_units) {
            continue;
        }
        ++too_long;
        if (!longest || file.name.size() > longest->name.size()) {
            longest = &file;
        }
    }
    if (too_long > 0) {
        print_warning(std::to_string(too_long) + " name(s) may exceed the launcher's path limit of " +
                      std::to_string(max_entry_path_units) +
                      " units with the template's likely expansion of about " +
                      std::to_string(template_length) + " units; the longest: " + shown_name(longest->name));
    }
}

bool is_talvik_image(const fs::path& file) {
    try {
        read_image_constants(read_file_bytes(file, "the output", max_image_file_size));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The pending output is never packed, and neither is an image that an earlier run wrote
// at the output's name; any other file there is the application's, and must not be
// overwritten.
std::vector<AppFile> app_folder_entries(const PackOptions& options, std::size_t template_length,
                                        const PendingOutput& output, ProgressLine& progress) {
    ScanSettings settings;
    settings.exe = options.exe;
    settings.excludes = options.excludes;
    settings.skipped_files.push_back(output.temporary_path());
    std::error_code error;
    fs::path app_dir = real_path(*options.app_dir, error);
    if (!error && is_inside_folder(output.path(), app_dir) && fs::is_regular_file(output.path(), error) &&
        is_talvik_image(output.path())) {
        settings.skipped_files.push_back(output.path());
    }
    settings.progress = [&](std::size_t files, std::uint64_t bytes) { progress.scanning(files, bytes); };
    settings.output = output.path();
    std::vector<AppFile> files = scan_app_folder(*options.app_dir, settings);
    if (!has_pe_signature(files.front().file)) {
        throw ToolError("the first entry " + shown_name(files.front().name) +
                        " is not a Windows executable (no MZ and PE signature)");
    }
    warn_about_long_paths(files, template_length);
    return files;
}

void refuse_overwriting(const fs::path& input, const char* what, const PendingOutput& output,
                        const fs::path& shown_output) {
    std::error_code error;
    if (real_path(input, error) == output.path() && !error) {
        throw ToolError("the output " + shown_path(shown_output) + " would overwrite an input file, " + what +
                        " " + shown_path(input));
    }
}

// The compressed size is known only at the end; when even zstd's worst case fits, the
// image surely does, and otherwise the user learns now that the pack may stop part-way.
void warn_when_it_may_not_fit(const std::vector<PayloadSource>& sources, const ImagePlan& plan) {
    std::uint64_t stream_size = entry_stream_size(sources);
    std::uint64_t worst_case = ZSTD_COMPRESSBOUND(stream_size) + 64;
    if (worst_case > plan.max_attached_data_length) {
        print_warning("the app folder's " + size_text(stream_size) + " must compress to at most " +
                      std::to_string(plan.max_attached_data_length) +
                      " bytes to fit in a launcher image; packing stops if they do not");
    }
}

struct PackedData {
    std::uint64_t size = 0;
    std::size_t files = 0;
    std::uint64_t input_bytes = 0;
};

std::uint64_t given_attached_data_size(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        throw ToolError("the attached data " + shown_path(file) + " is no readable file");
    }
    std::uint64_t size = fs::file_size(file, error);
    if (error) {
        throw ToolError("cannot read the attached data " + shown_path(file) + ": " + error.message());
    }
    if (size < attached_data_header_size) {
        throw ToolError("the attached data " + shown_path(file) + " is shorter than its 3-byte header");
    }
    return size;
}

// The block as a launcher will read it: the header, one frame that decodes to a valid entry
// stream (names a launcher takes, bodies that match their checksums, at least one entry to
// start), the trailer; the same reader as talvik list's. Read whole, so that the image gets
// the very bytes that were checked.
struct CheckedAttachedData {
    Bytes block;
    ListedStream stream;
};

CheckedAttachedData checked_attached_data(const fs::path& file, const ImagePlan& plan,
                                          ProgressLine& progress) {
    CheckedAttachedData checked;
    checked.block = read_file_bytes(file, "the attached data", plan.max_attached_data_length);
    std::string refused = "the attached data " + shown_path(file) + " is refused: ";
    try {
        checked.stream = list_attached_data(
            checked.block, [](const ListedEntry&) {},
            [&](std::uint64_t entries, std::uint64_t bytes) { progress.decoding(entries, bytes); });
    } catch (const std::runtime_error& error) {
        throw ToolError(refused + shown_text(error.what()));
    }
    if (checked.stream.mismatches > 0) {
        throw ToolError(refused + std::to_string(checked.stream.mismatches) +
                        " entries do not match their checksum (talvik list marks them)");
    }
    if (checked.stream.entries == 0) {
        throw ToolError(refused + "it holds no entry, so a launcher would have nothing to start");
    }
    return checked;
}

void print_summary_line(const PackOptions& options, const ImageMetadata& metadata, const ImageLayout& layout,
                        const PackedData& packed, double seconds) {
    std::string image = shown_path(options.output) + ", " + size_text(layout.file_size) + " (" +
                        std::to_string(layout.file_size) + " bytes), template " +
                        shown_name(image_path_template(metadata, layout.attached_data_identity));
    if (options.attached_data) {
        std::fprintf(stderr, "talvik: built an image around %llu bytes of attached data in %.1f s: %s\n",
                     static_cast<unsigned long long>(packed.size), seconds, image.c_str());
    } else {
        double ratio = packed.input_bytes == 0 ? 0.0
                                               : 100.0 * static_cast<double>(packed.size) /
                                                     static_cast<double>(packed.input_bytes);
        std::fprintf(stderr,
                     "talvik: packed %zu files, %s, into %s of attached data (%.1f%%) in %.1f s: %s\n",
                     packed.files, size_text(packed.input_bytes).c_str(), size_text(packed.size).c_str(),
                     ratio, seconds, image.c_str());
    }
}

// The summary for scripts (docs/json.md): one object on stdout.
void print_pack_document(const fs::path& output, const ImageFacts& facts, const PackedData& packed,
                         double seconds) {
    std::printf("{\n  \"output\": %s,\n%s  \"entry_count\": %llu,\n  \"uncompressed_bytes\": %llu,\n"
                "  \"seconds\": %.3f\n}\n",
                json_string_from_utf8(path_to_utf8(output)).c_str(), image_json_fields(facts).c_str(),
                static_cast<unsigned long long>(packed.files),
                static_cast<unsigned long long>(packed.input_bytes), seconds);
}

} // namespace

void run_pack(const PackOptions& options) {
    auto started = std::chrono::steady_clock::now();
    CheckedStub stub = checked_embedded_stub();
    std::string product = default_product(options);
    ImageMetadata metadata = resolve_image_metadata(options, product);
    TemplateCheck check =
        check_path_template(metadata.path_template, {metadata.company, metadata.product, metadata.version});
    for (const std::string& warning : check.warnings) {
        print_warning(warning);
    }

    install_interrupt_cleanup();
    PendingOutput output(options.output);
    for (const fs::path& icon : options.icons) {
        refuse_overwriting(icon, "the icon", output, options.output);
    }
    ImagePlan plan = plan_image(
        stub,
        [&](std::uint64_t identity) {
            return BuildTexts{image_path_template(metadata, identity), metadata.company, metadata.product,
                              metadata.version};
        },
        image_resource_entries(icon_images(options.icons), metadata.version_texts));
    plan.subsystem = options.windowed ? subsystem_windows_gui : subsystem_windows_console;
    plan.settings.reuse_check = options.reuse_check;
    plan.settings.old_trees = options.old_trees;
    plan.settings.child_lifetime = options.child_lifetime;
    plan.settings.progress_window = options.progress_window;
    ProgressLine progress(!options.quiet && stderr_is_console());
    // Everything the user can mend is checked before the long work starts.
    PackedData packed;
    ImageLayout layout;
    if (options.attached_data) {
        refuse_overwriting(*options.attached_data, "the attached data", output, options.output);
        check_attached_data_fits(plan, given_attached_data_size(*options.attached_data));
        CheckedAttachedData attached = checked_attached_data(*options.attached_data, plan, progress);
        plan.settings.entry_stream_length = attached.stream.stream_length;
        packed.files = attached.stream.entries;
        packed.input_bytes = attached.stream.body_bytes;
        progress.step("writing the image");
        layout = write_image(plan, output.temporary_path(), [&](const AttachedDataSink& sink) {
            sink(attached.block.data(), attached.block.size());
        });
    } else {
        std::vector<PayloadSource> sources;
        std::vector<AppFile> files = app_folder_entries(options, check.estimated_length, output, progress);
        for (const AppFile& file : files) {
            sources.push_back({file.name, file.file, {}});
            packed.input_bytes += file.size;
        }
        packed.files = files.size();
        warn_when_it_may_not_fit(sources, plan);
        plan.settings.entry_stream_length = entry_stream_size(sources);
        // The attached data goes into the image as it is compressed.
        layout = write_image(plan, output.temporary_path(), [&](const AttachedDataSink& sink) {
            CompressionSettings settings;
            settings.level = options.level.value_or(default_compression_level);
            settings.window_log = options.window_log.value_or(0);
            settings.threads = options.threads.value_or(0);
            write_attached_data(sources, settings, sink, [&](std::size_t done, std::uint64_t bytes) {
                progress.compressing(done, packed.files, bytes, packed.input_bytes);
            });
            progress.step("writing the image");
        });
    }
    packed.size = layout.attached_data_length;
    std::uint64_t image_size = layout.file_size;
    output.commit();
    progress.finish();

    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (options.json) {
        ImageFacts facts;
        facts.image_size = image_size;
        facts.attached_data_size = packed.size;
        facts.identity = layout.attached_data_identity;
        facts.path_template = image_path_template(metadata, layout.attached_data_identity);
        facts.company = metadata.company;
        facts.product = metadata.product;
        facts.version = metadata.version;
        facts.subsystem = plan.subsystem;
        facts.settings = plan.settings;
        print_pack_document(options.output, facts, packed, seconds);
    }
    if (options.quiet) {
        return;
    }
    if (!options.json) {
        print_summary_line(options, metadata, layout, packed, seconds);
    }
    warn_about_default_product(options, product);
}
