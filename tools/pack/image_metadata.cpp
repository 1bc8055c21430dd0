#include "tools/pack/image_metadata.hpp"

#include "tools/app_folder/windows_names.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"

#include <charconv>

namespace {

constexpr std::size_t version_fields = 4;
constexpr std::size_t template_version_fields = 2;

bool is_blank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

// Characters that no Windows file name may hold, and the template's token braces.
bool unusable_in_directory_name(char16_t unit) {
    return unit < 0x20 || std::u16string_view(u"<>:\"/\\|?*{}").find(unit) != std::u16string_view::npos;
}

void check_directory_name(std::u16string_view name, std::u16string_view source, const char* what) {
    std::string shown = shown_name(source);
    if (name.empty()) {
        throw ToolError(std::string("the ") + what + " \"" + shown +
                        "\" gives an empty directory name for the default template; give --template");
    }
    for (char16_t unit : name) {
        if (unusable_in_directory_name(unit)) {
            throw ToolError(std::string("the ") + what + " \"" + shown +
                            "\" has characters that cannot stand in the default template's directory names; "
                            "give --template");
        }
    }
    if (is_reserved_device_name(name)) {
        throw ToolError(std::string("the ") + what + " \"" + shown + "\" gives the directory name \"" +
                        shown_name(name) + "\", a device name on Windows; give --template");
    }
}

} // namespace

std::array<std::uint16_t, 4> parse_version(std::string_view text) {
    std::array<std::uint16_t, 4> numbers{};
    std::size_t field = 0;
    std::size_t start = 0;
    auto fail = [&]() {
        return ToolError("version \"" + shown_text(text) +
                         "\" is not 1 to 4 numbers 0..65535 with dots between, like 1.20 or 1.20.0.0");
    };
    while (true) {
        std::size_t end = text.find('.', start);
        std::string_view part =
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (field == version_fields || part.empty()) {
            throw fail();
        }
        unsigned value = 0;
        auto [stop, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (error != std::errc() || stop != part.data() + part.size() || value > UINT16_MAX) {
            throw fail();
        }
        numbers[field++] = static_cast<std::uint16_t>(value);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return numbers;
}

std::string version_text(const std::array<std::uint16_t, 4>& numbers) {
    std::string text = std::to_string(numbers[0]);
    for (std::size_t field = 1; field < numbers.size(); ++field) {
        text += '.';
        text += std::to_string(numbers[field]);
    }
    return text;
}

std::u16string product_file_stem(std::u16string_view product) {
    std::u16string stem;
    for (char16_t unit : product) {
        stem += is_blank(unit) ? u'-' : unit;
    }
    return stem;
}

std::u16string identity_folder(std::uint64_t identity) {
    std::string digits = identity_text(identity).substr(0, identity_folder_length);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string image_path_template(const ImageMetadata& metadata, std::uint64_t identity) {
    if (!metadata.template_names_identity) {
        return metadata.path_template;
    }
    std::u16string_view kept(metadata.path_template);
    kept.remove_suffix(identity_placeholder.size());
    return std::u16string(kept) + identity_folder(identity);
}

std::u16string default_path_template_with_folder(std::u16string_view company, std::u16string_view product,
                                                 std::u16string_view last_folder) {
    std::u16string company_dir;
    for (char16_t unit : company) {
        if (!is_blank(unit)) {
            company_dir += unit;
        }
    }
    std::u16string product_dir = product_file_stem(product);
    check_directory_name(company_dir, company, "company name");
    check_directory_name(product_dir, product, "product name");
    return u"{CACHE_DIR}\\" + company_dir + u"\\" + product_dir + u"\\" + std::u16string(last_folder);
}

std::u16string default_path_template(std::u16string_view company, std::u16string_view product,
                                     std::string_view version) {
    std::size_t cut = 0;
    for (std::size_t dots = 0; cut < version.size(); ++cut) {
        if (version[cut] == '.' && ++dots == template_version_fields) {
            break;
        }
    }
    std::string version_dir(version.substr(0, cut));
    return default_path_template_with_folder(company, product,
                                             std::u16string(version_dir.begin(), version_dir.end()));
}

ImageMetadata resolve_image_metadata(const PackOptions& options, const std::string& fallback_product) {
    std::array<std::uint16_t, 4> numbers =
        parse_version(options.version.value_or(std::string(default_version)));
    std::string version = version_text(numbers);

    ImageMetadata metadata;
    metadata.product = utf8_to_utf16(options.product.value_or(fallback_product), "the product name");
    if (metadata.product.empty()) {
        throw ToolError("the product name is empty");
    }
    metadata.company =
        options.company ? utf8_to_utf16(*options.company, "the company name") : metadata.product;
    metadata.version = std::u16string(version.begin(), version.end());
    if (options.path_template) {
        metadata.path_template = utf8_to_utf16(*options.path_template, "the template");
    } else if (options.version) {
        metadata.path_template = default_path_template(metadata.company, metadata.product, version);
    } else {
        metadata.path_template =
            default_path_template_with_folder(metadata.company, metadata.product, identity_placeholder);
        metadata.template_names_identity = true;
    }

    std::u16string stem = product_file_stem(metadata.product);
    VersionTexts& texts = metadata.version_texts;
    texts.version = numbers;
    texts.company_name = metadata.company;
    texts.product_name = metadata.product;
    texts.file_description = metadata.product;
    texts.legal_copyright = options.copyright ? utf8_to_utf16(*options.copyright, "the copyright text")
                                              : u"Copyright (C) " + metadata.company;
    texts.product_version = metadata.version;
    texts.file_version = metadata.version;
    texts.original_filename = stem + u".exe";
    texts.internal_name = stem;
    return metadata;
}
