#include "tools/host/file_bytes.hpp"

#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <fstream>
#include <iterator>
#include <string>

Bytes read_file_bytes(const std::filesystem::path& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ToolError(std::string("cannot read ") + what + " " + shown_path(path));
    }
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
