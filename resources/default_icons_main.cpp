// Build step: draws the default icon at every size and writes the C++ source that gives
// talvik the PNGs as default_icon_images().
//
//   talvik-default-icons OUT.cpp
#include "resources/default_icon.hpp"
#include "resources/icon_group.hpp"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: talvik-default-icons OUT.cpp\n");
        return 2;
    }
    std::vector<Bytes> images = draw_default_icon_images();
    std::ofstream out(argv[1], std::ios::binary);
    out << "// Written by talvik-default-icons: the default icon (resources/default_icon.cpp) as PNG\n"
        << "// at each size of the icon group.\n"
        << "#include \"resources/icon_group.hpp\"\n\n#include <iterator>\n\nnamespace {\n";
    for (std::size_t slot = 0; slot < images.size(); ++slot) {
        out << "\nconst unsigned char png_" << icon_sizes[slot] << "[] = {";
        for (std::size_t at = 0; at < images[slot].size(); ++at) {
            out << (at % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(images[slot][at]) << ",";
        }
        out << "\n};\n";
    }
    out << "\n} // namespace\n\nstd::vector<Bytes> default_icon_images() {\n    return {";
    for (std::size_t slot = 0; slot < images.size(); ++slot) {
        out << (slot == 0 ? "" : ",") << "\n        Bytes(std::begin(png_" << icon_sizes[slot]
            << "), std::end(png_" << icon_sizes[slot] << "))";
    }
    out << "};\n}\n";
    if (!out.flush()) {
        std::fprintf(stderr, "talvik-default-icons: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
