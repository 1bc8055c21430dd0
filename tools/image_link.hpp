#pragma once

#include "resources/byte_writer.hpp"

#include <filesystem>
#include <optional>
#include <string>

// The mingw programs that make an image: named by these environment variables, or
// found on PATH under their usual names. The resources need no resource compiler: they
// become an object in-process (resources/res_object.hpp).
struct MingwTools {
    std::string gcc; // TALVIK_MINGW_GCC, x86_64-w64-mingw32-gcc: assembles the constants
    std::string gxx; // TALVIK_MINGW_GXX, x86_64-w64-mingw32-g++: links
};

// Throws ToolError naming the first one that cannot be found.
MingwTools find_mingw_tools();

// The Windows build folder whose image-link.rsp holds the launcher's link line:
// --lib-dir, else TALVIK_LIB_DIR, else the folder talvik was built with. Throws
// ToolError when it has no image-link.rsp.
std::filesystem::path find_lib_dir(const std::optional<std::filesystem::path>& option);

constexpr const char* image_link_rsp_name = "image-link.rsp";

// Assembles the constants, turns the .res file into an object and links both with the
// launcher's libraries into output, all intermediate files in work_dir. Every program runs in
// work_dir with relative file names, so no temporary path can reach the image.
void link_image(const MingwTools& tools, const std::filesystem::path& lib_dir,
                const std::string& constants_assembly, const Bytes& resources,
                const std::filesystem::path& work_dir, const std::filesystem::path& output);
