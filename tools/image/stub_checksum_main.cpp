// Build step: checks the launcher stub as talvik will and records its size and checksum in
// a header that talvik is compiled with.
//
//   talvik-stub-checksum STUB.exe OUT.hpp
#include "tools/image/stub_check.hpp"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: talvik-stub-checksum STUB.exe OUT.hpp\n");
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            throw std::runtime_error("cannot read it");
        }
        std::vector<unsigned char> stub((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        check_stub(stub);
        char line[128];
        std::snprintf(line, sizeof line, "constexpr std::uint32_t embedded_stub_crc32 = 0x%08xu;\n",
                      static_cast<unsigned>(stub_checksum(stub)));
        std::ofstream out(argv[2], std::ios::binary);
        out << "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\n"
            << "// Written by talvik-stub-checksum from the stub that tools/embedded_stub.S includes.\n"
            << "constexpr std::size_t embedded_stub_size = " << stub.size() << ";\n"
            << line;
        if (!out.flush()) {
            throw std::runtime_error(std::string("cannot write ") + argv[2]);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "talvik-stub-checksum: %s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
