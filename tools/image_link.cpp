#include "tools/image_link.hpp"

#include "resources/res_object.hpp"
#include "tools/file_bytes.hpp"
#include "tools/pe_file.hpp"
#include "tools/process_runner.hpp"
#include "tools/report.hpp"
#include "tools/temp_files.hpp"

#include <cstdlib>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

#ifndef TALVIK_WIN_BUILD_DIR
#define TALVIK_WIN_BUILD_DIR ""
#endif

namespace {

std::string tool_from_environment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

void write_file(const fs::path& path, const char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(data, static_cast<std::streamsize>(size));
    if (!out.flush())
        throw ToolError("cannot write " + path.string());
}

// ld always fills in the PE header checksum; images carry 0 there (they are not signed,
// and nothing checks it), which also keeps their bytes independent of the linker.
void zero_pe_checksum(const fs::path& image) {
    constexpr std::streamoff e_lfanew_offset = 0x3C;
    constexpr std::streamoff checksum_after_signature = 88;
    std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
    unsigned char offset[4] = {};
    file.seekg(e_lfanew_offset);
    file.read(reinterpret_cast<char*>(offset), sizeof offset);
    std::streamoff pe_offset =
        offset[0] | offset[1] << 8 | offset[2] << 16 | static_cast<std::streamoff>(offset[3]) << 24;
    file.seekp(pe_offset + checksum_after_signature);
    file.write("\0\0\0\0", 4);
    if (!file.flush())
        throw ToolError("cannot clear the header checksum of " + image.string());
}

void run_step(const std::vector<std::string>& argv, const fs::path& work_dir, const std::string& what) {
    ProgramRun run = run_program(argv, work_dir, work_dir / work_file::tool_output);
    if (run.exit_status != 0) {
        std::string status =
            run.exit_status < 0 ? "killed by a signal" : "exit status " + std::to_string(run.exit_status);
        std::string output = run.output;
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        throw ToolError(argv[0] + " failed to " + what + " (" + status + ")" +
                        (output.empty() ? "" : ":\n" + output));
    }
}

// Wine maps an image section straight from the file only when the section starts on a page
// boundary of the file; otherwise it copies the section into private memory, and the
// attached data (the bulk of .rdata) would count twice towards the launcher's memory.
constexpr std::uint32_t page_size = 4096;
constexpr const char* attached_data_section = ".rdata";
constexpr const char* padding_symbol = "talvik_page_padding";

// Bytes to add before the attached data's section so that it starts on a page of the file.
std::uint32_t padding_to_page(const fs::path& image) {
    PeImage parsed = parse_pe_image(read_file_bytes(image, "the linked image"));
    for (const PeSection& section : parsed.sections)
        if (section.name == attached_data_section)
            return (page_size - section.raw_pointer % page_size) % page_size;
    return 0;
}

} // namespace

MingwTools find_mingw_tools() {
    MingwTools tools{tool_from_environment("TALVIK_MINGW_GCC", "x86_64-w64-mingw32-gcc"),
                     tool_from_environment("TALVIK_MINGW_GXX", "x86_64-w64-mingw32-g++")};
    for (const std::string* tool : {&tools.gcc, &tools.gxx})
        if (!program_exists(*tool))
            throw ToolError(
                "cannot find " + *tool +
                " (install the mingw-w64 toolchain, or name it with TALVIK_MINGW_GCC or TALVIK_MINGW_GXX)");
    return tools;
}

fs::path find_lib_dir(const std::optional<fs::path>& option) {
    fs::path lib_dir;
    const char* variable = std::getenv("TALVIK_LIB_DIR");
    if (option)
        lib_dir = *option;
    else if (variable && *variable)
        lib_dir = variable;
    else
        lib_dir = TALVIK_WIN_BUILD_DIR;
    std::error_code error;
    if (lib_dir.empty() || !fs::is_regular_file(lib_dir / image_link_rsp_name, error))
        throw ToolError("no " + std::string(image_link_rsp_name) + " in the launcher build folder \"" +
                        lib_dir.string() + "\": build the Windows tree, or give --lib-dir or TALVIK_LIB_DIR");
    return fs::absolute(lib_dir);
}

void link_image(const MingwTools& tools, const fs::path& lib_dir, const std::string& constants_assembly,
                const Bytes& resources, const fs::path& work_dir, const fs::path& output) {
    write_file(work_dir / work_file::constants_source, constants_assembly.data(), constants_assembly.size());
    write_file(work_dir / work_file::resources_res, reinterpret_cast<const char*>(resources.data()),
               resources.size());
    run_step({tools.gcc, "-c", work_file::constants_source, "-o", work_file::constants_object}, work_dir,
             "assemble the build constants");
    Bytes object = write_resource_object(read_res_file(resources));
    write_file(work_dir / work_file::resources_object, reinterpret_cast<const char*>(object.data()),
               object.size());
    std::string response_file = "@";
    response_file += (lib_dir / image_link_rsp_name).string();
    std::vector<std::string> link{
        tools.gxx, work_file::constants_object,  work_file::resources_object, response_file,
        "-o",      fs::absolute(output).string()};
    run_step(link, work_dir, "link the image");

    // Sections before .rdata only grow by whole multiples of the 512-byte file alignment, so
    // padding .data by the missing bytes moves .rdata onto a page; the layout is otherwise the
    // same, and so the second link is the last.
    std::uint32_t padding = padding_to_page(output);
    if (padding != 0) {
        std::string padding_assembly = std::string(".section .data\n.globl ") + padding_symbol + "\n" +
                                       padding_symbol + ":\n.zero " + std::to_string(padding) + "\n";
        write_file(work_dir / work_file::padding_source, padding_assembly.data(), padding_assembly.size());
        run_step({tools.gcc, "-c", work_file::padding_source, "-o", work_file::padding_object}, work_dir,
                 "assemble the page padding");
        link.insert(link.begin() + 3, work_file::padding_object);
        link.insert(link.begin() + 1, std::string("-Wl,--undefined=") + padding_symbol);
        run_step(link, work_dir, "link the image");
        if (padding_to_page(output) != 0)
            throw ToolError("the attached data could not be placed on a page of the image file");
    }
    zero_pe_checksum(output);
}
