#include "tools/pack/pending_output.hpp"

#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <string>

namespace fs = std::filesystem;

namespace {

std::string file_kind(OutputKind kind) {
    switch (kind) {
    case OutputKind::folder:
        return "a folder";
    case OutputKind::pipe:
        return "a named pipe (FIFO)";
    case OutputKind::socket:
        return "a socket";
    case OutputKind::device:
        return "a device";
    default:
        return "no regular file";
    }
}

// Renaming the image over a device, FIFO or socket would replace it (as root, a device
// node too), and over a folder it fails late; both are refused before anything is
// written. A symbolic link is followed, so the image replaces what it leads to and the
// link stays.
fs::path resolve_output(const fs::path& output) {
    std::string shown = shown_path(output);
    if (output.filename().empty()) {
        throw ToolError("the output " + shown + " names a folder, not a file");
    }
    std::error_code error;
    OutputKind kind = output_kind(output, error);
    if (error) {
        throw ToolError("cannot look at the output " + shown + ": " + error.message());
    }
    if (kind == OutputKind::missing) {
        fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
        fs::path real_folder = real_path(folder, error);
        if (error || !fs::is_directory(real_folder, error)) {
            throw ToolError("the output folder " + shown_path(folder) + " does not exist");
        }
        return real_folder / output.filename();
    }
    if (kind == OutputKind::link) {
        fs::path target = real_path(output, error);
        if (error) {
            throw ToolError("the output " + shown + " is a symbolic link that leads nowhere");
        }
        kind = output_kind(target, error);
        if (error) {
            throw ToolError("cannot look at the output " + shown + ": " + error.message());
        }
        if (kind != OutputKind::regular_file) {
            throw ToolError("the output " + shown + " is a symbolic link to " + file_kind(kind) +
                            ", not a regular file");
        }
        return target;
    }
    if (kind != OutputKind::regular_file) {
        throw ToolError("the output " + shown + " is " + file_kind(kind) + ", not a regular file");
    }
    fs::path real_output = real_path(output, error);
    if (error) {
        throw ToolError("cannot look at the output " + shown + ": " + error.message());
    }
    return real_output;
}

} // namespace

PendingOutput::PendingOutput(const fs::path& output) : output_(resolve_output(output)) {
    fs::path folder = output_.parent_path();
    std::error_code error;
    std::string stem = path_to_utf8(output_.filename());
    stem.insert(stem.begin(), '.');
    stem += ".talvik-";
    temporary_ = create_unique_file(folder, stem, error);
    if (error) {
        throw ToolError("cannot write in " + shown_path(folder) + ": " + error.message());
    }
    remove_on_interrupt(temporary_);
}

PendingOutput::~PendingOutput() {
    keep_on_interrupt();
    if (!committed_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

void PendingOutput::commit() {
    // Something else may have taken the name while the image was made.
    std::error_code error;
    OutputKind kind = output_kind(output_, error);
    if (!error && kind != OutputKind::missing && kind != OutputKind::regular_file &&
        kind != OutputKind::link) {
        throw ToolError("the output " + shown_path(output_) + " became " + file_kind(kind) +
                        " while the image was made; nothing written");
    }
    replace_file(temporary_, output_, error);
    if (error) {
        throw ToolError("cannot write " + shown_path(output_) + ": " + error.message());
    }
    keep_on_interrupt();
    committed_ = true;
}
