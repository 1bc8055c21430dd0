// Images whose attached data holds names that would lead out of the tree: made with the
// image writer directly, since talvik pack refuses such blocks, and run under Wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "payload/producer.hpp"
#include "tests/e2e/e2e_support.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_writer.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

void write_image_around(const std::vector<unsigned char>& block, const std::u16string& path_template,
                        const fs::path& output) {
    CheckedStub stub = checked_embedded_stub();
    ImagePlan plan = plan_image(stub, BuildTexts{path_template, u"Hostile", u"Hostile", u"1.0.0.0"}, {});
    write_image(plan, output, [&](const AttachedDataSink& sink) { sink(block.data(), block.size()); });
}

} // namespace

TEST(HostileNames, LauncherPrintsTheDecodeMessageWritesNothingOutsideAndStartsNoChild) {
    if (!fs::exists(probe_exe()) || local_appdata().empty()) {
        GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
    }
    const fs::path work = fresh_dir("HostileNames");
    const fs::path target = local_appdata() / "TalvikE2E" / "HostileNames" / "tree";
    // Where each name would have written, seen from the launcher's folder on Z: and the
    // target directory.
    const fs::path escapes[] = {local_appdata() / "TalvikE2E" / "x.txt", wine_prefix() / "drive_c" / "x",
                                fs::path("/x"), work / "x"};
    for (const fs::path& escape : escapes) {
        ASSERT_FALSE(fs::exists(escape)) << escape;
    }
    CompressionSettings settings;
    settings.level = 1;
    settings.threads = 1;
    for (const std::u16string& name :
         {std::u16string(u"..\\..\\x.txt"), std::u16string(u"C:x"), std::u16string(u"\\x"),
          std::u16string(u"a:b"), std::u16string(u"a\\\\b")}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        fs::remove_all(target);
        std::vector<unsigned char> block = build_attached_data(
            {{u"probe.exe", probe_exe(), {}}, {u"data\\one.txt", {}, "one"}, {name, {}, "escaped"}},
            settings);
        write_image_around(block, u"{CACHE_DIR}\\TalvikE2E\\HostileNames\\tree", work / "Launcher.exe");
        Outcome outcome = run_windows(work, "Launcher.exe");
        EXPECT_EQ(outcome.exit_code, 2u);
        EXPECT_EQ(outcome.out, "Error, couldn't decode attached data.\r\n") << "and nothing from a child";
        EXPECT_EQ(outcome.err, "");
        auto files = snapshot_tree(target);
        // The unpack lock, made for the entries written before, is the launcher's own file.
        std::erase_if(files, [](const auto& file) { return file.first == ".talvik-lock"; });
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0].first, "data/one.txt");
        EXPECT_EQ(files[1].first, "probe.exe");
        for (const fs::path& escape : escapes) {
            EXPECT_FALSE(fs::exists(escape)) << escape;
        }
    }
}
