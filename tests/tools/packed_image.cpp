#include "tests/tools/packed_image.hpp"

namespace fs = std::filesystem;

void PackedImage::SetUp() {
    if (!fs::exists(stub_image)) {
        GTEST_SKIP() << "no Windows build in " << win_build_dir;
    }
    write_file(app / "Orrin Deck.exe", read_file(stub_image));
    write_file(app / "data/empty.bin", "");
    write_file(app / "data/numbers.txt", std::string(5000, '7'));
    write_file(app / "ünïcode/名前.txt", "name");
    write_file(app / "Z.txt", "z");
}

ToolResult PackedImage::pack(const fs::path& output, std::vector<std::string> extra) {
    std::vector<std::string> args = {"pack",      app.path().string(), "-o",        output.string(),
                                     "--company", "Fernwick Studio",   "--product", "Orrin Deck",
                                     "--version", "1.20.0.0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_talvik_binary(args, {"TMPDIR=" + temp.path().string()});
}
